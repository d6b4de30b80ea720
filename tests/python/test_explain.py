"""Gamma, theta and the P&L explain, against full revaluation of the same trades."""

import copy
import datetime as dt
import json
import math
import warnings

import numpy as np
import pytest

import tessarin
from conftest import EXAMPLES, run_cli, usd_curve_input, usd_swap_input

pd = pytest.importorskip("pandas")

START = dt.date(2026, 12, 8)  # the example market's value date, a Tuesday
NEXT_DAY = dt.date(2026, 12, 9)


@pytest.fixture(autouse=True)
def _quiet():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        yield


@pytest.fixture(scope="module")
def market():
    return tessarin.load_market(EXAMPLES / "market.json")


@pytest.fixture(scope="module")
def fixings():
    return tessarin.load_fixings(EXAMPLES / "fixings.json")


@pytest.fixture(scope="module")
def book(market, fixings):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        return tessarin.Book(EXAMPLES / "trades.json", [tessarin.YieldCurve(c) for c in market],
                             fixings)


def moved(market, bp, seed=1, value_date=None, only=None):
    """The market with each quote moved by a uniform draw in [-bp, bp] basis points."""
    random = np.random.default_rng(seed)
    out = []
    for curve in copy.deepcopy(market):
        quotes = curve["instruments"]["quote"]
        draws = random.uniform(-1.0, 1.0, len(quotes))
        if only is None or curve["id"] in only:
            curve["instruments"]["quote"] = [q + bp * u / 100.0
                                             for q, u in zip(quotes, draws, strict=True)]
        if value_date is not None:
            curve["value date"] = value_date
        out.append(curve)
    return out


def revalued(swap, curve_input, fixings, shift):
    """Full revaluation: the NPV on the curve rebuilt with quotes + shift (percent)."""
    quotes = np.asarray(curve_input["instruments"]["quote"]) + shift
    curve = tessarin.YieldCurve({**curve_input, "instruments": {**curve_input["instruments"],
                                                                "quote": quotes.tolist()}})
    return swap.price(curve, fixings)["NPV"]


def second_difference(swap, curve_input, fixings, i, j, h):
    """Central second difference of the NPV in quotes i and j, per 1bp x 1bp."""
    n = len(curve_input["instruments"]["quote"])
    ei, ej = np.eye(n)[i] * h, np.eye(n)[j] * h

    def v(shift):
        return revalued(swap, curve_input, fixings, shift)

    if i == j:
        value = (v(ei) - 2.0 * v(0.0 * ei) + v(-ei)) / h**2
    else:
        value = (v(ei + ej) - v(ei - ej) - v(ej - ei) + v(-ei - ej)) / (4.0 * h * h)
    return value / 1e4


@pytest.mark.parametrize("interpolation", ["LinearLogDf", "MonotoneConvex"])
@pytest.mark.parametrize(("swap_input", "fixed"), [
    (usd_swap_input(), None),
    (usd_swap_input(start=dt.date(2027, 3, 18), end=dt.date(2047, 3, 18), fixed_paid=False,
                    margin=0.001, notional=5e7), None),
    (usd_swap_input(start=dt.date(2025, 9, 18), end=dt.date(2029, 9, 18)), 0.043),
])  # fmt: skip
def test_gamma_equals_second_differences_of_full_revaluation(swap_input, fixed, interpolation):
    curve_input = usd_curve_input(interpolation=interpolation)
    curve = tessarin.YieldCurve(curve_input)
    fixings = None
    if fixed is not None:
        days = [swap_input["effective date"] + dt.timedelta(days=k) for k in range(400)]
        fixings = {"SOFR": {"dates": days, "values": [fixed] * len(days)}}
    swap = tessarin.IRS(swap_input)
    gamma = swap.gamma(curve, fixings)
    assert list(gamma.index) == curve_input["instruments"]["tenor"] == list(gamma.columns)
    assert gamma.attrs == {"unit": "per 1bp²", "currency": "USD"}
    matrix = gamma.to_numpy()
    np.testing.assert_allclose(matrix, matrix.T, rtol=1e-9, atol=1e-9 * np.abs(matrix).max())
    # Richardson on 1bp and 2bp differences: what is left of their truncation is below 1e-9.
    large = np.argwhere(np.abs(matrix) > 0.05 * np.abs(matrix).max())
    for i, j in large[:: max(1, len(large) // 6)]:
        fine = second_difference(swap, curve_input, fixings, i, j, 0.01)
        coarse = second_difference(swap, curve_input, fixings, i, j, 0.02)
        assert matrix[i, j] == pytest.approx((4.0 * fine - coarse) / 3.0, rel=1e-6)


def test_book_gamma_sums_the_trades_gamma(book, market, fixings):
    summed = book.gamma()
    per_trade = book.gamma(per_trade=True)
    assert set(per_trade) == set(book.ids)
    curves = {c["id"]: tessarin.YieldCurve(c) for c in market}
    trades = {t.swap["id"]: t for t in tessarin.load_trades(EXAMPLES / "trades.json")}
    for name, frame in summed.items():
        mine = [t for t in book.ids if trades[t].curve == name]
        total = sum(per_trade[t].to_numpy() for t in mine)
        np.testing.assert_allclose(frame.to_numpy(), total, rtol=1e-9,
                                   atol=1e-9 * np.abs(total).max())
    seasoned = "USD seasoned 3Y payer"
    alone = tessarin.IRS(trades[seasoned].swap).gamma(curves["USD SOFR"], fixings)
    np.testing.assert_allclose(per_trade[seasoned].to_numpy(), alone.to_numpy(), rtol=1e-12,
                               atol=1e-12 * np.abs(alone.to_numpy()).max())


def test_explain_adds_up_and_its_residual_is_third_order(book, market, fixings):
    result = book.explain(market, moved(market, 5.0), fixings)
    assert list(result.columns[2:10]) == ["Start NPV", "End NPV", "Cash", "Total", "Theta",
                                          "Delta", "Gamma", "Unexplained"]
    assert (result["Error"] == "").all()
    prices = book.price()
    np.testing.assert_array_equal(result["Start NPV"], prices["NPV"])
    end_book = tessarin.Book(EXAMPLES / "trades.json",
                             [tessarin.YieldCurve(c) for c in moved(market, 5.0)], fixings)
    np.testing.assert_allclose(result["End NPV"], end_book.price()["NPV"], rtol=0, atol=1e-6)
    np.testing.assert_allclose(result["Total"], result["End NPV"] - result["Start NPV"])
    assert (result["Theta"] == 0.0).all() and (result["Cash"] == 0.0).all()
    # Delta is the analytic ladder (per 1bp) times the quote changes (in bp).
    ladder = book.risk()
    changes = {(c["id"], t): (q1 - q0) * 100.0
               for c, c1 in zip(market, moved(market, 5.0), strict=True)
               for t, q0, q1 in zip(c["instruments"]["tenor"], c["instruments"]["quote"],
                                    c1["instruments"]["quote"], strict=True)}
    ladder["Move"] = [changes[(c, t)]
                      for c, t in zip(ladder["Curve"], ladder["Tenor"], strict=True)]
    delta = (ladder["Net"] * ladder["Move"]).groupby(ladder["Trade"], observed=True).sum()
    np.testing.assert_allclose(result["Delta"], delta.reindex(result.index), rtol=1e-9,
                               atol=1e-6)
    notional = {t.swap["id"]: t.swap["leg1"]["notional"]
                for t in tessarin.load_trades(EXAMPLES / "trades.json")}
    assert all(abs(result.loc[t, "Unexplained"]) <= 1e-6 * notional[t] for t in result.index)
    assert (result["Gamma"].abs() > 10 * result["Unexplained"].abs()).all()
    big = book.explain(market, moved(market, 25.0, seed=7), fixings)["Unexplained"]
    half = book.explain(market, moved(market, 12.5, seed=7), fixings)["Unexplained"]
    assert np.median(big / half) == pytest.approx(8.0, rel=0.03)
    totals = tessarin.explain.totals(result)
    assert totals.loc["USD", "Trades"] == 5
    assert totals.loc["USD", "Delta"] == pytest.approx(result.loc[result["Currency"] == "USD",
                                                                  "Delta"].sum())


def test_five_days_with_fixings_agrees_with_full_revaluation(book, market, fixings):
    """A week later, every index's fixings of the week given, quotes twisted by up to 5bp:
    the End NPV is the book repriced on that market, the Theta is the book's theta, and the
    Delta is the risk of the rolled curves times the changes."""
    end_date = dt.date(2026, 12, 15)
    week = [START + dt.timedelta(days=k) for k in range(7)]
    given = {index: {"dates": week, "values": [0.021 + 0.001 * k for k in range(7)]}
             for index in ("SOFR", "ESTR", "SONIA", "SARON", "TONA", "SORA")}
    past = {name: fixings.get(name, {"dates": [], "values": []}) for name in given}
    every = {name: {"dates": [*past[name]["dates"], *week],
                    "values": [*past[name]["values"], *given[name]["values"]]} for name in given}
    end = moved(market, 5.0, seed=3, value_date=end_date)
    for curve in end:  # a twist on top: short end down, long end up
        quotes = curve["instruments"]["quote"]
        curve["instruments"]["quote"] = [q + 0.02 * (i / len(quotes) - 0.5)
                                         for i, q in enumerate(quotes)]
    result = book.explain(market, end, given)
    assert result.attrs["estimated_fixings"] == {}
    trades = EXAMPLES / "trades.json"
    repriced = tessarin.Book(trades, [tessarin.YieldCurve(c) for c in end], every).price()
    np.testing.assert_allclose(result["End NPV"], repriced["NPV"], rtol=0, atol=1e-6)
    np.testing.assert_array_equal(result["Theta"], book.theta(end_date, given)["Theta"])
    rolled = [{**c, "value date": end_date} for c in market]
    ladder = tessarin.Book(trades, [tessarin.YieldCurve(c) for c in rolled], every).risk()
    changes = {(c["id"], t): (q1 - q0) * 100.0 for c, c1 in zip(market, end, strict=True)
               for t, q0, q1 in zip(c["instruments"]["tenor"], c["instruments"]["quote"],
                                    c1["instruments"]["quote"], strict=True)}
    ladder["Move"] = [changes[(c, t)]
                      for c, t in zip(ladder["Curve"], ladder["Tenor"], strict=True)]
    delta = (ladder["Net"] * ladder["Move"]).groupby(ladder["Trade"], observed=True).sum()
    np.testing.assert_allclose(result["Delta"], delta.reindex(result.index), rtol=1e-9,
                               atol=1e-6)
    notional = {t.swap["id"]: t.swap["leg1"]["notional"] for t in tessarin.load_trades(trades)}
    assert all(abs(result.loc[t, "Unexplained"]) <= 1e-6 * notional[t] for t in result.index)
    assert (result["Theta"] != 0.0).all()


def test_next_business_day_on_unchanged_quotes_is_all_theta(book, market, fixings):
    result = book.explain(market, moved(market, 0.0, value_date=NEXT_DAY), fixings)
    for column in ("Delta", "Gamma", "Unexplained"):
        assert (result[column] == 0.0).all(), column
    assert (result["Theta"] == result["Total"]).all()
    theta = book.theta(NEXT_DAY)
    np.testing.assert_array_equal(theta["Theta"], result["Theta"])
    # The fixings of 8 December are not given: estimated, and said so.
    assert set(theta.attrs["estimated_fixings"]) == {"SOFR", "ESTR", "SONIA", "SARON", "TONA",
                                                     "SORA"}
    assert theta.loc["USD seasoned 3Y payer", "Estimated Fixings"] == "SOFR"
    assert theta.loc["USD 10Y payer", "Estimated Fixings"] == ""  # starts on 10 December
    assert any("SOFR fixings of 2026-12-08" in note for note in result.attrs["notes"])
    # A given fixing replaces the estimate: above the forward, a payer of floating gains.
    given = {"SOFR": {"dates": [START], "values": [0.06]}}
    higher = book.theta(NEXT_DAY, given)
    assert "SOFR" not in higher.attrs["estimated_fixings"]
    gain = higher.loc["USD seasoned 3Y payer", "Theta"] - theta.loc["USD seasoned 3Y payer",
                                                                    "Theta"]
    assert gain > 0.0
    assert (higher["Theta"] - theta["Theta"]).drop("USD seasoned 3Y payer").abs().max() == 0.0


def test_cash_paid_between_the_dates_is_the_realised_coupon():
    """A year's period ends on 10 December and pays on the 14th: its flows leave the NPV and
    come back as Cash, the floating one compounded from the fixings over the whole period."""
    swap = usd_swap_input(start=dt.date(2025, 12, 10), end=dt.date(2028, 12, 10), notional=1e7)
    days = [dt.date(2025, 12, 10) + dt.timedelta(days=k) for k in range(370)]
    fixings = {"SOFR": {"dates": days, "values": [0.04 + 1e-5 * k for k in range(370)]}}
    curve = tessarin.YieldCurve(usd_curve_input(value_date=START))
    book = tessarin.Book([{**swap, "curve": "USD SOFR"}], [curve], fixings)
    theta = book.theta(dt.date(2026, 12, 15))
    # Oracle: on 9 December with that day's fixing known, the model's rate of the period is
    # the realised one, every fixing of the period compounded.
    last_day = tessarin.YieldCurve(usd_curve_input(value_date=NEXT_DAY))
    flows = tessarin.IRS(swap).cashflows(last_day, fixings)
    assert flows["Leg2"]["Payment Date"][0] == dt.date(2026, 12, 14)
    expected = flows["Leg2"]["Cash Flow"][0] + flows["Leg1"]["Cash Flow"][0]  # signed
    assert theta.loc["USD 5Y", "Cash"] == pytest.approx(expected, rel=1e-12)
    assert theta.attrs["estimated_fixings"] == {}
    # Unchanged quotes: what is left of the roll is a week's carry, far below the coupons.
    assert abs(theta.loc["USD 5Y", "Theta"]) < 0.05 * abs(expected)
    assert theta.loc["USD 5Y", "Start NPV"] == pytest.approx(
        tessarin.IRS(swap).price(curve, fixings)["NPV"], abs=1e-6)


def test_one_sided_curves_and_instruments_are_reported(book, market, fixings):
    end = [c for c in moved(market, 3.0) if c["id"] != "CHF SARON"]
    usd = next(c for c in end if c["id"] == "USD SOFR")
    for key in ("generator", "tenor", "quote", "in use"):
        usd["instruments"][key] = usd["instruments"][key][:-1]
    result = book.explain(market, end, fixings)
    notes = " | ".join(result.attrs["notes"])
    assert "curve 'CHF SARON' is only in market_from" in notes
    assert "curve 'USD SOFR': instrument 30Y is only in market_from" in notes
    chf = result[result["Curve"] == "CHF SARON"]
    assert chf["Start NPV"].notna().all() and chf["End NPV"].isna().all()
    assert chf["Error"].str.contains("end: ").all()
    assert tessarin.explain.totals(result).loc["CHF", "Failed"] == 3
    assert len(pd.concat([result, result])) == 2 * len(result)
    assert result.loc[result["Curve"] == "EUR ESTR", "Unexplained"].notna().all()


def test_explain_by_tenor_splits_delta_and_gamma(book, market, fixings):
    end = moved(market, 5.0)
    whole = book.explain(market, end, fixings)
    split = book.explain(market, end, fixings, by="tenor")
    for column in ("Delta", "Gamma"):
        np.testing.assert_allclose(split[column].sum(axis=1), whole[column], rtol=1e-12,
                                   atol=1e-9)
    assert split.loc["USD 5Y payer", ("Delta", "5Y")] != 0.0
    assert math.isnan(split.loc["CHF 2Y payer", ("Delta", "2M")])  # not a CHF instrument
    with pytest.raises(ValueError, match="by is None or 'tenor'"):
        book.explain(market, end, by="curve")


def test_markets_that_cannot_be_explained_raise_input_errors(book, market):
    earlier = moved(market, 0.0, value_date=dt.date(2026, 12, 7))
    with pytest.raises(tessarin.InputError, match="before the start value date"):
        book.explain(market, earlier)
    mixed = moved(market, 0.0)
    mixed[0]["value date"] = NEXT_DAY
    with pytest.raises(tessarin.InputError, match="share one value date"):
        book.explain(market, mixed)


@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
def test_command_line_prints_totals_and_the_largest_unexplained(tmp_path, book, market, fixings,
                                                                fmt):
    end = tmp_path / "end.json"
    end.write_text(json.dumps({"curves": moved(market, 5.0, value_date=NEXT_DAY)}, default=str))
    result = run_cli("explain", str(EXAMPLES / "market.json"), str(end),
                     str(EXAMPLES / "trades.json"), "--fixings", str(EXAMPLES / "fixings.json"),
                     "--top", "3", "--format", fmt)
    assert result.returncode == 0, result.stderr
    expected = book.explain(market, moved(market, 5.0, value_date=NEXT_DAY), fixings)
    worst = expected["Unexplained"].abs().sort_values(ascending=False).index[:3]
    if fmt == "json":
        document = json.loads(result.stdout)
        assert [t["id"] for t in document["trades"]] == list(worst)
        usd = next(t for t in document["totals"] if t["currency"] == "USD")
        assert usd["Theta"] == pytest.approx(tessarin.explain.totals(expected).loc["USD", "Theta"])
        assert len(document["notes"]) == 6
    elif fmt == "csv":
        trades = result.stdout.strip()
        totals = run_cli(*result.args[3:], "--table", "totals").stdout.strip()
        assert totals.splitlines()[0].startswith("Currency,Trades,Start NPV,End NPV,Cash")
        assert "\n\n" not in totals and "\n\n" not in trades
        assert [line.split(",")[0] for line in trades.splitlines()[1:]] == list(worst)
    else:
        assert "totals per currency" in result.stdout and "Notes" in result.stdout
        assert all(name in result.stdout for name in worst)
    missing = run_cli("explain", str(EXAMPLES / "market.json"), str(tmp_path / "nowhere.json"),
                      str(EXAMPLES / "trades.json"))
    assert missing.returncode == 2 and missing.stderr.startswith("tessarin: error:")
