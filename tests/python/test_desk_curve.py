"""Desk curves: swaps between dates, turns and futures rows, repriced and risked."""

import datetime as dt
import json
import math
import pickle
from pathlib import Path

import pytest

import tessarin
from conftest import usd_curve_input

# Meeting-style dates after the spot date 2026-03-18, then tenor swaps from 1Y.
MEETINGS = [dt.date(2026, 3, 18), dt.date(2026, 4, 29), dt.date(2026, 6, 17),
            dt.date(2026, 7, 29), dt.date(2026, 9, 16)]  # fmt: skip
DATED_QUOTES = [4.30, 4.22, 4.10, 4.02]
TENORS = ["1Y", "18M", "2Y", "3Y", "5Y", "10Y", "30Y"]
TENOR_QUOTES = [3.98, 3.87, 3.76, 3.64, 3.58, 3.69, 3.79]


def desk_input(**extra):
    """Dated swaps between the meeting dates, then tenor swaps."""
    dated = len(DATED_QUOTES)
    data = usd_curve_input(quotes=DATED_QUOTES + TENOR_QUOTES, tenors=[None] * dated + TENORS)
    data["instruments"]["start"] = MEETINGS[:-1] + [None] * len(TENORS)
    data["instruments"]["end"] = [d.isoformat() for d in MEETINGS[1:]] + [""] * len(TENORS)
    data.update(extra)
    return data


def swap_on(start, end, generator="USD SOFR SW", notional=1e6):
    return tessarin.IRS({"id": f"{start}/{end}", "effective date": start,
                         "termination date": end, "leg1": {"rate": 0.04, "notional": notional},
                         "leg2": {"margin": 0.0, "notional": notional}},
                        generator=generator)  # fmt: skip


@pytest.fixture(scope="module")
def desk_curve():
    return tessarin.YieldCurve(desk_input())


def test_empty_date_columns_build_todays_curve_bit_for_bit():
    plain = usd_curve_input()
    n = len(plain["instruments"]["tenor"])
    dated = usd_curve_input()
    dated["instruments"].update({"start": [None] * n, "end": [""] * n})
    assert tessarin.YieldCurve(dated).rates() == tessarin.YieldCurve(plain).rates()


def test_dated_swaps_reprice_and_put_their_pillars_on_the_accrual_ends(desk_curve):
    assert desk_curve.dates()[: len(DATED_QUOTES)] == MEETINGS[1:]
    for start, end, quote in zip(MEETINGS, MEETINGS[1:], DATED_QUOTES, strict=False):
        assert swap_on(start, end).par_rate(desk_curve) * 100 == pytest.approx(quote, abs=1e-12)


def test_risk_labels_dated_rows_by_their_dates_and_both_methods_agree(desk_curve):
    swap = swap_on(MEETINGS[1], dt.date(2028, 3, 20))
    exact, bumped = (swap.risk(desk_curve, method=m) for m in ("analytic", "bump"))
    assert exact["Tenor"][:2] == ["2026-03-18/2026-04-29", "2026-04-29/2026-06-17"]
    assert exact["Tenor"][len(DATED_QUOTES):] == TENORS
    assert max(abs(a - b) for a, b in zip(exact["Net"], bumped["Net"], strict=True)) < 1e-9 * 1e6


def test_dated_curves_survive_json_and_pickle(desk_curve):
    again = tessarin.YieldCurve(json.loads(json.dumps(desk_curve.to_dict(), default=str)))
    assert again.rates() == desk_curve.rates()
    assert pickle.loads(pickle.dumps(desk_curve)).rates() == desk_curve.rates()


def _dates(start, end):
    data = desk_input()
    data["instruments"]["start"][2], data["instruments"]["end"][2] = start, end
    return data


@pytest.mark.parametrize(("data", "error", "message"), [
    (_dates("2026-06-17", None), tessarin.InputError, r"instruments\.end\[2\]: .*both a start"),
    (_dates(None, "2026-07-29"), tessarin.InputError, r"instruments\.start\[2\]: .*both a start"),
    (_dates("2026-06-17", "2026-06-17"), tessarin.InputError,
     r"instruments\.end\[2\]: .*end after"),
    (_dates("2026-04-29", "2026-05-27"), RuntimeError,
     r"strictly increasing: instrument 2 \(USD SOFR SW 2026-04-29/2026-05-27\) ends on 2026-05-27, "
     r"not after instrument 1 \(USD SOFR SW 2026-04-29/2026-06-17\) ending on 2026-06-17"),
    (_dates("2026-06-17", "2027-06-18"), RuntimeError,
     r"instrument 3 \(USD SOFR SW 2026-07-29/2026-09-16\) ends on 2026-09-16, not after "
     r"instrument 2 \(USD SOFR SW 2026-06-17/2027-06-18\) ending on 2027-06-21"),
    (_dates("2026-03-13", "2026-07-29"), RuntimeError, r"starts on 2026-03-13, before the value"),
])  # fmt: skip
def test_bad_dated_rows_name_the_row(data, error, message):
    with pytest.raises(error, match=message):
        tessarin.YieldCurve(data)



TURN = {"start": "2026-12-31", "end": "2027-01-04", "spread": 25.0}


@pytest.fixture(scope="module")
def turn_curve():
    return tessarin.YieldCurve(desk_input(turns=[TURN]))


def _overnight_bp(curve, day):
    following = day + dt.timedelta(days=1)
    return math.log(curve.df(day) / curve.df(following)) * 365e4


def test_a_turn_raises_the_overnight_forward_inside_it_only(turn_curve):
    inside = [dt.date(2026, 12, 31) + dt.timedelta(days=k) for k in range(4)]
    outside = [dt.date(2026, 12, 29), dt.date(2026, 12, 30), dt.date(2027, 1, 4)]
    before = _overnight_bp(turn_curve, outside[1])
    for day in inside:  # the flat forward of the segment, raised by the spread
        assert _overnight_bp(turn_curve, day) == pytest.approx(before + 25.0, abs=1e-9)
    assert _overnight_bp(turn_curve, outside[0]) == pytest.approx(before, abs=1e-9)
    assert _overnight_bp(turn_curve, outside[2]) == pytest.approx(before, abs=1e-9)


def test_with_a_turn_every_instrument_reprices_and_risk_agrees(turn_curve):
    for start, end, quote in zip(MEETINGS, MEETINGS[1:], DATED_QUOTES, strict=False):
        assert swap_on(start, end).par_rate(turn_curve) * 100 == pytest.approx(quote, abs=1e-12)
    swap = swap_on(MEETINGS[0], dt.date(2029, 3, 19))
    exact, bumped = (swap.risk(turn_curve, method=m)["Net"] for m in ("analytic", "bump"))
    assert max(abs(a - b) for a, b in zip(exact, bumped, strict=True)) < 1e-9 * 1e6
    assert pickle.loads(pickle.dumps(turn_curve)).rates() == turn_curve.rates()


def test_the_jacobian_of_a_turn_curve_matches_central_differences(turn_curve):
    jacobian, h = turn_curve.jacobian(), 1e-4
    for j in (1, 4, 8):
        moved = []
        for step in (h, -h):
            data = desk_input(turns=[TURN])
            data["instruments"]["quote"][j] += step
            moved.append(tessarin.YieldCurve(data).rates())
        for i, (up, down) in enumerate(zip(*moved, strict=True)):
            assert (up - down) / (2 * h) == pytest.approx(jacobian[i][j], abs=1e-8)


@pytest.mark.parametrize(("turns", "message"), [
    ([{**TURN, "start": "2026-03-16"}], r"turn 0 \(2026-03-16 to 2027-01-04, 25bp\) must start "
                                        r"after the value date"),
    ([{**TURN, "end": "2026-12-31"}], r"turn 0 .* must end after its start"),
    ([TURN, {"start": "2027-01-03", "end": "2027-01-10", "spread": 5}],
     r"turn 1 \(2027-01-03 to 2027-01-10, 5bp\) overlaps turn 0 \(2026-12-31 to 2027-01-04"),
    ([{**TURN, "spread": "x"}], r"turns\[0\]\.spread"),
])  # fmt: skip
def test_bad_turns_are_refused_naming_the_turn(turns, message):
    with pytest.raises(tessarin.InputError, match=message):
        tessarin.YieldCurve(desk_input(turns=turns))


FUTURES = [("USD SOFR 1M FUT", "2026-03", 95.69, None), ("USD SOFR 1M FUT", "2026-04", 95.72, None),
           ("USD SOFR 3M FUT", "2026-06", 95.85, 0.5), ("USD SOFR 3M FUT", "2026-09", 95.98, 1.0),
           ("USD SOFR 3M FUT", "2026-12", 96.10, 1.5), ("USD SOFR SW", "2Y", 3.76, None),
           ("USD SOFR SW", "5Y", 3.58, None)]  # fmt: skip
# SOFR fixed at 4.31% on every weekday from 2026-02-27 through the value date's eve.
FIXING_DAYS = [dt.date(2026, 2, 27) + dt.timedelta(days=k) for k in range(17)]
SOFR_FIXINGS = {"SOFR": {"dates": [d for d in FIXING_DAYS if d.weekday() < 5],
                         "values": [0.0431] * 11}}


def futures_input(rows=FUTURES):
    generators, tenors, quotes, convexities = (list(column) for column in zip(*rows, strict=True))
    data = usd_curve_input(quotes=quotes, tenors=tenors)
    data["instruments"].update({"generator": generators, "convexity": convexities})
    return data


@pytest.fixture(scope="module")
def futures_curve():
    return tessarin.YieldCurve(futures_input(), fixings=SOFR_FIXINGS)


def _business_days(start, end):
    day = start
    while day < end:
        if tessarin.calendars.is_business_day("USGS", day):
            yield day
        day += dt.timedelta(days=1)


def _monthly_average(curve, start, end):
    """Mean over the calendar days of [start, end) of the rate of the business day on or
    before each: fixings before the value date, the curve's overnight forwards after."""
    fixed = dict(zip(*SOFR_FIXINGS["SOFR"].values(), strict=True))
    total, day = 0.0, start
    while day < end:
        business = day
        while not tessarin.calendars.is_business_day("USGS", business):
            business -= dt.timedelta(days=1)
        following = next(_business_days(business + dt.timedelta(days=1),
                                        business + dt.timedelta(days=10)))
        total += fixed[business] if business < curve.value_date else (
            curve.df(business) / curve.df(following) - 1) * 360 / (following - business).days
        day += dt.timedelta(days=1)
    return 100 * total / (end - start).days


def test_futures_reprice_with_their_convexity_and_put_pillars_on_period_ends(futures_curve):
    ends = [dt.date(2026, 4, 1), dt.date(2026, 5, 1), dt.date(2026, 9, 16), dt.date(2026, 12, 16),
            dt.date(2027, 3, 17)]  # fmt: skip
    assert futures_curve.dates()[:5] == ends
    for start, end, (_, _, price, _) in zip([dt.date(2026, 3, 1), *ends[:1]], ends, FUTURES,
                                            strict=False):  # fmt: skip
        assert _monthly_average(futures_curve, start, end) == pytest.approx(100 - price, abs=1e-12)
    for start, end, (_, _, price, convexity) in zip([dt.date(2026, 6, 17), *ends[2:4]], ends[2:],
                                                    FUTURES[2:], strict=False):  # fmt: skip
        growth = futures_curve.df(start) / futures_curve.df(end)
        compounded = (growth - 1) * 36000 / (end - start).days
        assert compounded + convexity / 100 == pytest.approx(100 - price, abs=1e-12)


def test_futures_rows_risk_per_rate_with_readable_labels(futures_curve):
    swap = swap_on(dt.date(2026, 3, 18), dt.date(2029, 3, 19))
    exact, bumped = (swap.risk(futures_curve, method=m) for m in ("analytic", "bump"))
    assert exact["Tenor"][:3] == ["1M FUT 2026-03", "1M FUT 2026-04", "3M FUT 2026-06"]
    assert max(abs(a - b) for a, b in zip(exact["Net"], bumped["Net"], strict=True)) < 1e-9 * 1e6
    # Per 1bp of rate: a price 1bp lower moves the NPV by the entry.
    moved = futures_input()
    moved["instruments"]["quote"][3] -= 0.01
    change = (swap.price(tessarin.YieldCurve(moved, fixings=SOFR_FIXINGS))["NPV"]
              - swap.price(futures_curve)["NPV"])  # fmt: skip
    assert change == pytest.approx(exact["Net"][3], rel=1e-3)


def test_the_jacobian_of_a_futures_row_is_by_its_rate(futures_curve):
    jacobian, h = futures_curve.jacobian(), 1e-4
    for j in (0, 3, 5):
        moved = []
        for step in (h, -h):  # a rate up by h is a price down by h
            data = futures_input()
            data["instruments"]["quote"][j] -= step if j < 5 else -step
            moved.append(tessarin.YieldCurve(data, fixings=SOFR_FIXINGS).rates())
        for i, (up, down) in enumerate(zip(*moved, strict=True)):
            assert (up - down) / (2 * h) == pytest.approx(jacobian[i][j], abs=1e-8)


@pytest.mark.parametrize("shape", [{"interpolation": "LogCubic"}, {"cubic from": "1Y"},
                                   {"interpolation": "MonotoneConvex"}])
def test_futures_rows_solve_together_on_smooth_curves(shape):
    # Futures rows among pillars solved together: built (this crashed), repriced, differentiated.
    curve = tessarin.YieldCurve(futures_input() | shape, fixings=SOFR_FIXINGS)
    assert max(abs(e) for e in curve.repriced()["Error"]) < 1e-11
    jacobian, h = curve.jacobian(), 1e-5
    moved = []
    for step in (h, -h):
        data = futures_input() | shape
        data["instruments"]["quote"][3] -= step
        moved.append(tessarin.YieldCurve(data, fixings=SOFR_FIXINGS).rates())
    for i, (up, down) in enumerate(zip(*moved, strict=True)):
        assert (up - down) / (2 * h) == pytest.approx(jacobian[i][3], abs=1e-8)


def _futures_row(row, **cells):
    data = futures_input()
    for column, value in cells.items():
        data["instruments"][column][row] = value
    return data


@pytest.mark.parametrize(("data", "fixings", "error", "message"), [
    (_futures_row(2, tenor="2026-13"), SOFR_FIXINGS, tessarin.InputError,
     r"instruments\.tenor\[2\]: .*invalid contract month '2026-13'"),
    (_futures_row(2, tenor="Jun26"), SOFR_FIXINGS, tessarin.InputError, r"instruments\.tenor\[2\]"),
    (_futures_row(2, quote=0.0), SOFR_FIXINGS, tessarin.InputError,
     r"instruments\.quote\[2\]: .*above 0 and at most 200, got 0"),
    (_futures_row(3, quote=200.5), SOFR_FIXINGS, tessarin.InputError, r"instruments\.quote\[3\]"),
    (futures_input(), None, RuntimeError,
     r"instrument 0 \(USD SOFR 1M FUT 2026-03\) needs the SOFR fixing of 2026-02-27"),
    (futures_input(), {"SOFR": {"dates": SOFR_FIXINGS["SOFR"]["dates"][:5], "values": [0.04] * 5}},
     RuntimeError, r"needs the SOFR fixing of 2026-03-06"),
    (_futures_row(3, tenor="2026-05"), SOFR_FIXINGS, RuntimeError,
     r"instrument 3 \(USD SOFR 3M FUT 2026-05\) ends on 2026-08-19, not after instrument 2 "
     r"\(USD SOFR 3M FUT 2026-06\) ending on 2026-09-16"),
])  # fmt: skip
def test_bad_futures_rows_are_refused_naming_the_row(data, fixings, error, message):
    with pytest.raises(error, match=message):
        tessarin.YieldCurve(data, fixings=fixings)


@pytest.mark.parametrize("curve", ["futures", "turn"])
def test_book_risk_and_key_rate_scenarios_agree_on_desk_curves(curve, futures_curve, turn_curve):
    built = futures_curve if curve == "futures" else turn_curve
    trade = {"id": "T", "curve": "USD SOFR", "generator": "USD SOFR SW",
             "effective date": "2026-03-18", "termination date": "2029-03-19",
             "leg1": {"rate": 0.037, "notional": 1e6}, "leg2": {"margin": 0.0, "notional": 1e6}}
    book = tessarin.Book([trade], [built])
    exact, bumped = book.risk("analytic"), book.risk("bump")
    assert (exact["Net"] - bumped["Net"]).abs().max() < 1e-9 * 1e6
    scenarios = book.revalue(scenarios=tessarin.scenarios.key_rate(1)).pnl["T"]
    assert list(scenarios.index) == [f"USD SOFR {label} +1bp" for label in exact["Tenor"]]
    assert scenarios.to_numpy() == pytest.approx(exact["Net"].to_numpy(), rel=1e-3, abs=1e-3)


def test_forwards_step_on_pillars_and_rise_by_the_turn(turn_curve, desk_curve, tmp_path):
    pytest.importorskip("pandas")
    frame = turn_curve.forwards("2026-12-20", "2027-01-10")
    assert list(frame.columns) == ["Date", "Forward"] and len(frame) == 21
    # One segment, 2026-09-16 to 2027-03-22: flat but for the turn's four days.
    forward = frame.set_index("Date")["Forward"]
    inside = (forward.index >= "2026-12-31") & (forward.index < "2027-01-04")
    assert forward[inside].to_numpy() - forward.iloc[0] == pytest.approx([25e-4] * 4, abs=1e-12)
    assert forward[~inside].to_numpy() == pytest.approx([forward.iloc[0]] * 17, abs=1e-12)
    # Flat between meeting dates, stepping on them.
    steps = desk_curve.forwards().set_index("Date")["Forward"].diff().abs() > 1e-9
    assert set(steps[steps].index.date) >= set(MEETINGS[1:4])
    with pytest.raises(tessarin.InputError, match="end"):
        turn_curve.forwards("2027-01-10", "2027-01-10")
    pytest.importorskip("matplotlib")
    turn_curve.plot(tmp_path / "curve.png", forwards=True)
    assert (tmp_path / "curve.png").stat().st_size > 0


def test_the_desk_example_reprices_and_its_dv01_sums_its_ladder():
    examples = Path(__file__).resolve().parents[2] / "examples"
    curve = tessarin.YieldCurve(json.loads((examples / "usd_desk_curve.json").read_text()),
                                fixings=tessarin.load_fixings(examples / "fixings.json"))
    assert curve.repriced()["Error"].abs().max() < 1e-12
    swap = swap_on(dt.date(2026, 12, 10), dt.date(2031, 12, 10))
    # The December contract reads the forward past its pillar: all pillars move together.
    ladder, bumped = (swap.risk(curve, method=m)["Net"] for m in ("analytic", "bump"))
    assert max(abs(a - b) for a, b in zip(ladder, bumped, strict=True)) < 1e-9 * 1e6
    assert swap.dv01(curve) == pytest.approx(sum(ladder), rel=1e-6)


def test_explain_takes_a_futures_price_move_as_a_rate_move(futures_curve):
    moved = futures_input()
    moved["instruments"]["quote"][3] -= 0.05  # the rate up 5bp
    end = tessarin.YieldCurve(moved, fixings=SOFR_FIXINGS)
    trade = {"id": "T", "curve": "USD SOFR", "generator": "USD SOFR SW",
             "effective date": "2026-03-18", "termination date": "2029-03-19",
             "leg1": {"rate": 0.037, "notional": 1e6}, "leg2": {"margin": 0.0, "notional": 1e6}}
    explained = tessarin.Book([trade], [futures_curve], SOFR_FIXINGS).explain([futures_curve],
                                                                               [end])
    total, delta = explained.loc["T", "Total"], explained.loc["T", "Delta"]
    assert delta == pytest.approx(total, rel=1e-3) and abs(total) > 0.1
