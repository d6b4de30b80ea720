"""Curve and swap analytics of the package: zero and forward rates, many
discount factors at once, par rate, annuity, DV01, each against an
independent computation; risk per 1bp; notebook display; the lean required
fixings."""

import datetime as dt
import math
import os

import pytest

import _tessarin
import tessarin
from conftest import EXAMPLES, assert_clean_exit, example_curves, example_trades, run_isolated
from tessarin import conventions

VALUE_DATE = dt.date(2027, 3, 15)  # no holiday in any calendar on the days after it
TENORS = ["1M", "6M", "1Y", "2Y", "3Y", "5Y", "7Y", "10Y"]
QUOTES = [2.05, 2.10, 2.20, 2.35, 2.45, 2.60, 2.70, 2.85]
CURRENCIES = ["USD SOFR SW", "EUR ESTR SW", "GBP SONIA SW", "CHF SARON SW", "JPY TONA SW",
              "SGD SORA SW"]  # fmt: skip
INTERPOLATIONS = ["LinearLogDf", "LinearRates"]
NOTIONAL = 1e7


def curve_input(generator, interpolation, shift=0.0):
    return {"id": generator, "currency": conventions.GENERATORS[generator].currency,
            "value date": VALUE_DATE, "interpolation": interpolation,
            "instruments": {"generator": [generator] * len(TENORS), "tenor": TENORS,
                            "quote": [q + shift for q in QUOTES], "in use": [True] * len(TENORS)}}


def swap_input(rate, start=dt.date(2027, 5, 17), years=6):
    return {"id": "analytics", "effective date": start,
            "termination date": start.replace(year=start.year + years),
            "leg1": {"rate": rate, "notional": NOTIONAL},
            "leg2": {"margin": 0.0, "notional": NOTIONAL}}


@pytest.fixture(scope="module", params=[(g, i) for g in CURRENCIES for i in INTERPOLATIONS],
                ids=lambda p: f"{p[0]}-{p[1]}")
def market(request):
    generator, interpolation = request.param
    return generator, interpolation, tessarin.YieldCurve(curve_input(generator, interpolation))


# Curve analytics

def test_zero_rate_is_minus_log_df_over_time_and_flat_before_the_first_pillar(market):
    _, _, curve = market
    for date, rate in zip(curve.dates(), curve.rates(), strict=True):
        assert curve.zero_rate(date) == pytest.approx(rate, rel=1e-14)
    for date in (dt.date(2028, 2, 29), dt.date(2040, 1, 1)):
        t = (date - VALUE_DATE).days / 365
        assert curve.zero_rate(date) == pytest.approx(-math.log(curve.df(date)) / t, rel=1e-13)
    short = curve.zero_rate(VALUE_DATE + dt.timedelta(days=1))
    assert curve.zero_rate(VALUE_DATE) == pytest.approx(short, rel=1e-14)
    assert curve.zero_rate("2000-01-01") == curve.zero_rate(VALUE_DATE)


def test_forward_rate_is_the_floating_legs_projected_rate(market):
    generator, _, curve = market
    flows = tessarin.IRS(swap_input(0.02), generator=generator).cashflows(curve)["Leg2"]
    day_count = conventions.INDICES[conventions.GENERATORS[generator].index].day_count
    forwards = [curve.forward_rate(s, e, day_count=day_count)
                for s, e in zip(flows["Accrual Start Date"], flows["Accrual End Date"],
                                strict=True)]
    # The model's own formula on the same discount factors: equal to the last bit.
    assert forwards == flows["Estimated Rate"]


@pytest.mark.parametrize(("start", "end", "day_count", "path"), [
    ("2028-01-03", "2029-01-03", "ACT/366", "day_count"),
    ("2028-01-03", "2029-01-03", "", "day_count"),
    ("2029-01-03", "2028-01-03", "ACT/360", "end"),
    ("2029-01-03", "2029-01-03", "ACT/360", "end"),
    ("2029-01-03", "soon", "ACT/360", "end"),
])
def test_wrong_forward_arguments_are_input_errors_naming_them(start, end, day_count, path):
    curve = tessarin.YieldCurve(curve_input("USD SOFR SW", "LinearLogDf"))
    with pytest.raises(tessarin.InputError) as error:
        curve.forward_rate(start, end, day_count=day_count)
    assert error.value.path == path
    if path == "day_count":
        assert repr(day_count) in str(error.value)


def test_dfs_equal_df_bit_for_bit_for_lists_and_arrays():
    np = pytest.importorskip("numpy")
    curve = tessarin.YieldCurve(curve_input("GBP SONIA SW", "LinearRates"))
    dates = [VALUE_DATE + dt.timedelta(days=97 * k - 30) for k in range(206)]
    expected = [curve.df(d) for d in dates]
    assert curve.dfs(dates) == expected
    assert curve.dfs(tuple(d.isoformat() for d in dates)) == expected
    array = np.array(dates, dtype="datetime64[D]").reshape(-1, 2)
    found = curve.dfs(array)
    assert found.dtype == np.float64 and found.shape == array.shape
    assert found.ravel().tolist() == expected
    # Times of day are dropped, as by df.
    assert curve.dfs(array.astype("datetime64[s]") + 3600).ravel().tolist() == expected
    assert curve.dfs([]) == [] and curve.dfs(np.array([], dtype="datetime64[D]")).shape == (0,)


@pytest.mark.parametrize(("dates", "path"), [
    (["2028-01-01", "someday"], "dates[1]"),
    (["2028-01-01", 7], "dates[1]"),
    ("2028-01-01", "dates"),
    ("numpy-nat", "dates"),
    ("numpy-early", "dates"),
])
def test_dates_that_are_no_dates_are_input_errors(dates, path):
    np = pytest.importorskip("numpy")
    if dates == "numpy-nat":
        dates = np.array(["2028-01-01", "NaT"], dtype="datetime64[D]")
    elif dates == "numpy-early":
        dates = np.array(["1300-01-01"], dtype="datetime64[D]")
    curve = tessarin.YieldCurve(curve_input("USD SOFR SW", "LinearLogDf"))
    with pytest.raises(tessarin.InputError) as error:
        curve.dfs(dates)
    assert error.value.path == path


def test_native_dfs_refuse_wrong_items_and_buffers():
    np = pytest.importorskip("numpy")
    curve = _tessarin.YieldCurve(curve_input("USD SOFR SW", "LinearLogDf"))
    with pytest.raises(TypeError, match="item 1 is not a datetime.date"):
        _tessarin.curve_dfs(curve, [VALUE_DATE, "2028-01-01"])
    days = np.zeros(3, dtype=np.int64)
    read_only = np.empty(3)
    read_only.flags.writeable = False
    for wrong_days, out in ((days, np.empty(2)), (days.astype(np.int32), np.empty(3)),
                            (days, np.empty(3, dtype=np.float32)), (days, read_only),
                            (days, b"\0" * 24), (days, np.empty(6)[::2]), (None, np.empty(3))):
        with pytest.raises(TypeError, match="int64 day numbers and a writable float64 buffer"):
            _tessarin.curve_dfs_days(curve, wrong_days, out)


# Swap analytics

def test_par_rate_reprices_to_zero_and_annuity_is_the_fixed_rate_slope(market):
    generator, _, curve = market
    swap = tessarin.IRS(swap_input(0.02), generator=generator)
    par = swap.par_rate(curve)
    assert abs(tessarin.IRS(swap_input(par), generator=generator).price(curve)["NPV"]) < (
        1e-8 * NOTIONAL)
    h = 1e-4
    up, down = (tessarin.IRS(swap_input(0.02 + s), generator=generator).price(curve)["NPV"]
                for s in (h, -h))
    # The fixed leg is paid: a higher rate lowers the NPV by the annuity.
    assert swap.annuity(curve) > 0
    assert (down - up) / (2 * h) == pytest.approx(swap.annuity(curve), rel=1e-9)


def test_dv01_is_the_npv_change_on_curves_rebuilt_with_every_quote_moved_1bp(market):
    generator, interpolation, curve = market
    swap = tessarin.IRS(swap_input(0.025), generator=generator)
    up, down = (swap.price(tessarin.YieldCurve(curve_input(generator, interpolation, s)))["NPV"]
                for s in (0.01, -0.01))
    assert swap.dv01(curve) == pytest.approx((up - down) / 2, rel=1e-12)
    # A payer of fixed gains when rates rise, by about the annuity per bp.
    assert swap.dv01(curve) == pytest.approx(1e-4 * swap.annuity(curve), rel=0.1)


def test_seasoned_swaps_use_their_fixings():
    trade = example_trades()["USD seasoned 3Y payer"]
    curve = tessarin.YieldCurve(example_curves()[trade.curve])
    fixings = tessarin.load_fixings(EXAMPLES / "fixings.json")
    swap = tessarin.IRS(trade.swap)
    par = swap.par_rate(curve, fixings)
    repriced = tessarin.IRS({**trade.swap, "leg1": {**trade.swap["leg1"], "rate": par}})
    assert abs(repriced.price(curve, fixings)["NPV"]) < 1e-8 * abs(trade.swap["leg1"]["notional"])
    with pytest.raises(tessarin.InputError, match="^fixings: no SOFR fixing on 2026-06-10, "):
        swap.par_rate(curve)
    up, down = (swap.price(tessarin.YieldCurve({**example_curves()[trade.curve], "instruments": {
        **example_curves()[trade.curve]["instruments"],
        "quote": [q + s for q in example_curves()[trade.curve]["instruments"]["quote"]]}}),
        fixings)["NPV"] for s in (0.01, -0.01))
    assert swap.dv01(curve, fixings) == pytest.approx((up - down) / 2, rel=1e-12)


def test_two_floating_legs_solve_for_the_margin_of_leg2():
    legs = {name: {**conventions.leg_conventions("USD SOFR SW", fixed=False), "is paid": paid}
            for name, paid in (("leg1", True), ("leg2", False))}
    curve = tessarin.YieldCurve(curve_input("USD SOFR SW", "LinearLogDf"))
    data = swap_input(0.0)
    data = {**data, "schedule roll": "backward",
            "leg1": {**legs["leg1"], "margin": 0.001, "notional": NOTIONAL},
            "leg2": {**legs["leg2"], "margin": 0.0, "notional": NOTIONAL}}
    margin = tessarin.IRS(data).par_rate(curve)
    assert margin == pytest.approx(0.001, rel=1e-9)
    solved = tessarin.IRS({**data, "leg2": {**data["leg2"], "margin": margin}})
    assert abs(solved.price(curve)["NPV"]) < 1e-8 * NOTIONAL


# Risk per 1bp, with the currency

def test_risk_frame_is_per_basis_point_and_names_its_currency():
    pytest.importorskip("pandas")
    curve = tessarin.YieldCurve(curve_input("EUR ESTR SW", "LinearLogDf"))
    swap = tessarin.IRS(swap_input(0.025), generator="EUR ESTR SW")
    risk = swap.risk(curve)
    frame = swap.risk_frame(curve)
    assert frame.columns.name == "EUR per 1bp"
    assert frame.attrs == {"unit": "per 1bp", "currency": "EUR"}
    assert frame["Net"].tolist() == risk["Net"]
    assert (risk["Unit"], risk["Currency"]) == ("per 1bp", "EUR")
    # Key-rate risk per bp adds up to about the parallel DV01.
    assert frame["Net"].sum() == pytest.approx(swap.dv01(curve), rel=0.02)


# Notebook display

def test_html_of_a_long_curve_is_capped_and_escaped():
    tenors = [f"{y}Y" for y in range(1, 41)]
    curve = tessarin.YieldCurve({
        "id": "<USD & co>", "currency": "USD", "value date": VALUE_DATE,
        "instruments": {"generator": ["USD SOFR SW"] * 40, "tenor": tenors,
                        "quote": [3.0] * 40, "in use": [True] * 40}})
    text = curve._repr_html_()
    assert "&lt;USD &amp; co&gt;" in text and "<USD" not in text
    assert text.count("<tr>") == 1 + 20 + 1 and "20 more pillars" in text
    assert "<td>40Y</td>" in text and "<td>11Y</td>" not in text


def test_html_of_a_swap_shows_terms_and_the_last_price():
    curve = tessarin.YieldCurve(curve_input("USD SOFR SW", "LinearLogDf"))
    swap = tessarin.IRS(swap_input(0.025), generator="USD SOFR SW")
    assert "2.500000% fixed" in swap._repr_html_() and "NPV" not in swap._repr_html_()
    npv = swap.price(curve)["NPV"]
    assert f"{npv:,.2f}" in swap._repr_html_() and "USD SOFR SW" in swap._repr_html_()


# Required fixings, lean

@pytest.mark.parametrize("as_of", ["2026-06-09", "2026-06-10", "2026-06-11", "2026-12-08",
                                   "2029-06-12", "2035-01-01"])
def test_required_fixings_list_equals_the_tree_result(as_of):
    swap = tessarin.IRS(example_trades()["USD seasoned 3Y payer"].swap)
    date = dt.date.fromisoformat(as_of)
    assert swap.required_fixings(date) == swap.native.required_fixings(date)


@pytest.mark.skipif(bool(os.environ.get("TESSARIN_SANITIZED")),
                    reason="the sanitizers' own memory would dominate")
def test_required_fixings_for_two_million_days_stay_lean():
    result = run_isolated("""
        import datetime as dt, resource
        import tessarin
        swap = tessarin.IRS({"id": "x", "effective date": "2026-12-10",
                             "termination date": "2031-12-10",
                             "leg1": {"rate": 0.03, "notional": 1e6},
                             "leg2": {"margin": 0.0, "notional": 1e6}}, generator="USD SOFR SW")
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        days = swap.required_fixings(dt.date(9999, 12, 31))["SOFR"]
        print(len(days), days[0], days[-1])
        print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
    """)
    assert_clean_exit(result)
    count, first, last, peak = result.stdout.split()
    assert (int(count), first, last) == (2_079_029, "2030-12-10", "9999-12-31")
    assert int(peak) < 300


def test_stub_lists_exactly_the_module_functions():
    import ast
    from pathlib import Path

    stub = Path(__file__).resolve().parents[2] / "python" / "_tessarin-stubs" / "__init__.pyi"
    listed = {node.name for node in ast.parse(stub.read_text()).body
              if isinstance(node, ast.FunctionDef)}
    assert listed == {name for name in dir(_tessarin)
                      if type(getattr(_tessarin, name)).__name__ == "builtin_function_or_method"}
