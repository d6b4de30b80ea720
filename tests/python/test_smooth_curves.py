"""Curves with a natural cubic spline of log discount factors ("LogCubic", and a log-linear
front with "cubic from") and monotone-convex curves: the input rules, the book's risk on
them, and the monotone-convex method's positive and local forwards."""

import datetime as dt
import warnings

import pytest

import tessarin
from conftest import VALUE_DATE, usd_curve_input, usd_swap_input


def test_the_library_lists_the_smooth_interpolations():
    assert {"LogCubic", "MonotoneConvex"} <= set(tessarin.conventions.interpolations())


@pytest.mark.parametrize("extra, path, message", [
    ({"interpolation": "LinearRates", "cubic from": "2Y"}, "cubic from", "LogCubic"),
    ({"interpolation": "LogCubic", "cubic from": "2X"}, "cubic from", "tenor or a date"),
    ({"interpolation": "LogCubic", "cubic from": 5}, "cubic from", "tenor or a date"),
    ({"interpolation": "MonotoneConvex", "cubic from": "2Y"}, "cubic from", "LogCubic"),
])  # fmt: skip
def test_cubic_from_errors_name_the_key(extra, path, message):
    with pytest.raises(tessarin.InputError, match=message) as error:
        tessarin.YieldCurve(usd_curve_input(**extra))
    assert path in str(error.value)


@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
def test_cubic_from_as_tenor_text_or_date_gives_one_curve():
    by_tenor = tessarin.YieldCurve(usd_curve_input(interpolation="LogCubic", **{"cubic from": "2Y"}))
    pillar = min(d for d in by_tenor.dates() if d >= VALUE_DATE.replace(year=VALUE_DATE.year + 2))
    for when in (pillar, pillar.isoformat(), pillar - dt.timedelta(days=20)):
        other = tessarin.YieldCurve(usd_curve_input(interpolation="LogCubic",
                                                    **{"cubic from": when}))
        assert other.rates() == by_tenor.rates()
    again = tessarin.YieldCurve(by_tenor.to_dict())
    assert again.rates() == by_tenor.rates()
    # Without an interpolation, "cubic from" asks for the spline.
    implied = tessarin.YieldCurve(usd_curve_input(**{"cubic from": "2Y"}))
    assert implied.rates() == by_tenor.rates()


def test_book_risk_on_a_spline_is_the_swaps_exact_risk():
    curve = tessarin.YieldCurve(usd_curve_input(interpolation="LogCubic"))
    swaps = [usd_swap_input(swap_id="5Y"),
             usd_swap_input(swap_id="odd", start=dt.date(2027, 6, 16), end=dt.date(2038, 9, 16),
                            rate=0.04, notional=3e6)]
    trades = [{"curve": "USD SOFR", **swap} for swap in swaps]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        book = tessarin.Book(trades, [curve])
        risk = book.risk(method="analytic")
        bumped = book.risk(method="bump")
    assert len(risk) == 2 * len(curve.dates())
    assert risk["Net"].to_numpy() == pytest.approx(bumped["Net"].to_numpy(), rel=0, abs=1e-9 * 3e6)
    for swap_input in swaps:
        exact = tessarin.IRS(swap_input).risk(curve, method="analytic")["Net"]
        rows = risk[risk["Trade"] == swap_input["id"]]["Net"].tolist()
        # Both per 1bp.
        assert rows == pytest.approx(list(exact), rel=1e-12, abs=1e-9)
    # Every quote reaches a swap that is no curve instrument, the later ones too.
    assert sum(1 for r in exact if abs(r) > 1e-6) == len(exact)


@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
def test_scenarios_rebuild_a_mixed_curve_as_it_was_given():
    from tessarin import revaluation as rv
    from tessarin import scenarios as sc

    mixed = usd_curve_input(interpolation="LogCubic", **{"cubic from": "3Y"})
    swap = usd_swap_input(swap_id="odd", start=dt.date(2027, 6, 16), end=dt.date(2038, 9, 16))
    result = rv.revalue([rv.BookTrade("odd", "USD SOFR", swap)], [mixed], sc.parallel([25]))
    moved = dict(mixed, instruments=dict(mixed["instruments"],
                                         quote=[q + 0.25 for q in mixed["instruments"]["quote"]]))
    irs = tessarin.IRS(swap)
    expected = (irs.price(tessarin.YieldCurve(moved))["NPV"]
                - irs.price(tessarin.YieldCurve(mixed))["NPV"])
    assert result.pnl.iloc[0]["odd"] == expected


@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
@pytest.mark.parametrize("interpolation", ["LogCubic", "MonotoneConvex"])
def test_gamma_on_a_smooth_curve_is_the_slope_of_its_exact_risk(interpolation):
    data = usd_curve_input(interpolation=interpolation)
    swap = tessarin.IRS(usd_swap_input(start=dt.date(2027, 6, 16), end=dt.date(2038, 9, 16)))
    gamma = swap.gamma(tessarin.YieldCurve(data)).to_numpy()  # per 1bp squared
    step = 0.01  # percent
    for j in (0, 4, len(data["instruments"]["quote"]) - 1):
        risks = []
        for sign in (1, -1):
            quotes = list(data["instruments"]["quote"])
            quotes[j] += sign * step
            moved = dict(data, instruments=dict(data["instruments"], quote=quotes))
            risks.append(swap.risk(tessarin.YieldCurve(moved), method="analytic")["Net"])
        # Risk per 1bp, its change per percent of quote: per 1bp squared over a hundred.
        slope = [(up - down) / (2 * step) * 1e-2 for up, down in zip(*risks, strict=True)]
        assert list(gamma[:, j]) == pytest.approx(slope, rel=0, abs=2e-6)


def example_usd(interpolation, quotes=None):
    data = dict(tessarin.load_market("examples/market.json")[0], interpolation=interpolation)
    if quotes is not None:
        data["instruments"] = dict(data["instruments"], quote=quotes)
    return data


def overnight_forwards(data, years=30):
    curve = tessarin.YieldCurve(data)
    end = curve.value_date.replace(year=curve.value_date.year + years)
    return curve.forwards(curve.value_date, end)["Forward"].to_numpy()


# Quotes implying positive forwards: the example's, steep, a sawtooth, low and falling.
@pytest.mark.parametrize("shape", [
    lambda i, q: q,
    lambda i, q: 0.2 + 0.3 * i,
    lambda i, q: q + 0.08 * (i % 2),
    lambda i, q: 0.5 - 0.02 * i,
])  # fmt: skip
@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
def test_monotone_convex_forwards_stay_positive(shape):
    quotes = [shape(i, q) for i, q in enumerate(example_usd("LinearLogDf")["instruments"]["quote"])]
    assert overnight_forwards(example_usd("LinearLogDf", quotes)).min() > 0.0
    assert overnight_forwards(example_usd("MonotoneConvex", quotes)).min() > 0.0


def far_and_near_changes(data):
    """Per quote bumped 1bp, the largest change of a daily forward to 30Y past its second
    neighbouring pillars (none past the last pillar), and the largest within them."""
    curve = tessarin.YieldCurve(data)
    days = curve.forwards(curve.value_date, curve.value_date.replace(year=2056))["Date"].dt.date
    pillars, quotes = curve.dates(), data["instruments"]["quote"]
    used = [j for j, u in enumerate(data["instruments"].get("in use", [True] * len(quotes))) if u]
    assert len(pillars) == len(used)
    before = overnight_forwards(data)
    out = []
    for p, j in enumerate(used):
        moved = dict(data, instruments=dict(data["instruments"],
                                            quote=quotes[:j] + [quotes[j] + 0.01] + quotes[j + 1:]))
        change = abs(overnight_forwards(moved) - before)
        far = (days < (pillars[p - 2] if p >= 2 else curve.value_date)).to_numpy()
        if p + 2 < len(pillars):
            far = far | (days >= pillars[p + 2]).to_numpy()
        out.append((change[far].max(initial=0.0), change[~far].max()))
    return out


@pytest.mark.parametrize("index", range(6))
@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
def test_monotone_convex_quote_moves_forwards_near_its_pillar(index):
    base = tessarin.load_market("examples/market.json")[index]
    changes = far_and_near_changes(dict(base, interpolation="MonotoneConvex"))
    reference = far_and_near_changes(dict(base, interpolation="LinearLogDf"))
    # Past the second neighbouring pillars only the re-solved pillars move the forwards, and
    # no further than three times they do on a log-linear curve.
    assert max(far for far, _ in changes) <= 3 * max(far for far, _ in reference)
    for j, (far, near) in enumerate(changes):
        assert far <= 0.05 * near, j

