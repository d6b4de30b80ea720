"""_tessarin.IRS: input assembly, messages, price, risk, cash flows, fixings."""

import contextlib
import ctypes
import datetime as dt
import random
import sys

import pytest

import _tessarin
from conftest import (
    BRACKETING,
    MISSING,
    NOT_INITIALISED,
    PARSING,
    SPOT_DATE,
    USD_QUOTES,
    USD_TENORS,
    VALUE_DATE,
    YEAR_RANGE,
    edit,
    error_text,
    usd_curve_input,
    usd_swap_input,
)

LEG_KEYS = ["currency", "calendar", "frequency", "day count convention", "accrual adjustment",
            "accrual calendar", "pay adjustment", "pay calendar", "is fixed", "is paid", "pay lag",
            "notional"]  # fmt: skip
FIXED_COLUMNS = ["Accrual Start Date", "Accrual End Date", "Payment Date", "Day Count Fraction",
                 "Notional", "Discount Factor", "Rate", "Cash Flow", "Cash Flow PV"]  # fmt: skip
FLOAT_COLUMNS = [*FIXED_COLUMNS[:6], "Estimated Rate", "Spread", *FIXED_COLUMNS[7:]]


def build_error(data):
    return error_text(RuntimeError, _tessarin.IRS, data)


def add_tenor(start, tenor):
    months = int(tenor[:-1]) * (12 if tenor[-1] == "Y" else 1)
    year, month = divmod(start.month - 1 + months, 12)
    return start.replace(year=start.year + year, month=month + 1)


# --- input assembly ----------------------------------------------------------


def _without(*paths):
    """The USD swap without the items at the given paths."""
    data = usd_swap_input()
    for path in paths:
        edit(data, *path)
    return data


def _missing(leg, *keys):
    return MISSING + ",".join(f"<{leg}: {k}>" for k in keys)


@pytest.mark.parametrize(("data", "message"), [
    ({}, MISSING + "<id>, <effective date>, <termination date>, <schedule roll>,<'leg1',<'leg2'"),
    (_without(("id",), ("schedule roll",)), MISSING + "<id>, <schedule roll>"),
    (_without(("id",)), MISSING + "<id>,"),  # only the trailing blank is dropped
    (_without(("leg2",)), MISSING + "<'leg2'"),
    # without "is fixed" neither the rate nor the index and margin are checked
    (edit(usd_swap_input(), "leg2", value={}), _missing("leg2", *LEG_KEYS)),
    (_without(("leg1", "rate")), _missing("leg1", "rate")),
    (_without(("leg1", "frequency"), ("leg1", "rate")), _missing("leg1", "frequency", "rate")),
    (_without(("leg2", "index")), _missing("leg2", "index")),
    (_without(("leg2", "margin"), ("leg2", "index")), _missing("leg2", "index", "margin")),
    (_without(("leg2", "notional"), ("leg2", "margin")), _missing("leg2", "notional", "margin")),
    (_without(("leg1", "is fixed"), ("leg1", "rate")), _missing("leg1", "is fixed")),
    # a fixed leg ignores index and margin
    (edit(edit(_without(("leg1", "rate")), "leg1", "index", value="SOFR"), "leg1", "margin",
          value=0.001), _missing("leg1", "rate")),
], ids=lambda v: v if isinstance(v, str) else None)  # fmt: skip
def test_missing_inputs_are_listed_in_checking_order(data, message):
    assert build_error(data) == message


def test_text_flags_numbers_dates_and_dotted_keys_price_like_the_plain_input(usd_curve):
    data = _without(("leg1", "rate"))
    data["leg1"].update({"is paid": "true", "pay lag": "2"})
    data["leg2"].update({"is fixed": "FALSE", "notional": "1000000"})
    data.update({"effective date": SPOT_DATE.isoformat(), "leg1.rate": 0.0358})
    assert _tessarin.IRS(data).price(usd_curve) == _tessarin.IRS(usd_swap_input()).price(usd_curve)
    # a dotted key placed first makes a leg1 node of its own that the lookup finds
    first = {"leg1.rate": 0.0358, **_without(("leg1", "rate"))}
    assert build_error(first).startswith(MISSING + "<leg1: currency>,<leg1: calendar>")


@pytest.mark.parametrize(("path", "value", "message"), [
    (("leg1", "is fixed"), 1, "BoxedValue: cannot convert to bool"),
    (("leg1", "is fixed"), {"a": True}, "std::bad_cast"),
    (("leg2", "is paid"), [], "std::bad_cast"),
    (("leg2", "is paid"), "no", 'BoxedValue: cannot convert string "no" to bool'),
    (("leg1", "pay lag"), 2.0, "BoxedValue: cannot convert to int"),
    (("leg1", "notional"), "lots", 'BoxedValue: cannot convert string "lots" to double'),
    (("leg1", "currency"), 840, "std::bad_cast"),
    (("id",), ["x"], "std::bad_cast"),
    (("effective date",), "2026-02-30", "Day of month is not valid for year"),
    (("termination date",), dt.date(1300, 1, 1), YEAR_RANGE),
    (("leg1", "frequency"), "0M", "Error, non-positive amount for the tenor."),
    (("leg2", "accrual calendar"), "ZZ", "Calendar not found: ZZ"),
    (("leg2", "notional"), 2**80, "Python int too large for long"),
    (("leg2", "margin"), (0.0,), "[root.leg2.margin] unsupported Python type: (0.0,)"),
], ids=lambda v: v if isinstance(v, str) else None)  # fmt: skip
def test_malformed_inputs_end_the_build_with_their_message(path, value, message):
    assert build_error(edit(usd_swap_input(), *path, value=value)) == message


# --- uninitialised objects and argument parsing --------------------------------


CALLS = {
    "price": lambda swap, curve: swap.price(curve),
    "risk": lambda swap, curve: swap.risk(curve),
    "cashflows": lambda swap, curve: swap.cashflows(curve),
    "cashflows without a curve": lambda swap, curve: swap.cashflows(),
    "required_fixings": lambda swap, curve: swap.required_fixings(dt.date(2026, 6, 1)),
}


@pytest.mark.parametrize("how", CALLS)
def test_methods_of_a_swap_that_was_never_built(usd_curve, usd_swap, how):
    swap = _tessarin.IRS.__new__(_tessarin.IRS)
    text = error_text(RuntimeError, CALLS[how], swap, usd_curve)
    assert text == NOT_INITIALISED.format("interest rate swap")
    if how in ("price", "risk", "cashflows"):
        curve = _tessarin.YieldCurve.__new__(_tessarin.YieldCurve)
        text = error_text(RuntimeError, CALLS[how], usd_swap, curve)
        assert text == NOT_INITIALISED.format("yield curve")


def test_cashflows_without_a_curve_miss_the_discount_curve(usd_swap):
    assert error_text(RuntimeError, usd_swap.cashflows) == (
        "No discount curve is provided for currency USD")
    assert error_text(RuntimeError, usd_swap.cashflows, fixings={}) == (
        "No discount curve is provided for currency USD")


@pytest.mark.parametrize("method", ["price", "risk"])
def test_price_and_risk_need_a_curve_and_a_dict_of_fixings(usd_swap, usd_curve, method):
    call = getattr(usd_swap, method)
    for args, kwargs, message in [((), {}, None), ((usd_swap,), {}, "YieldCurve"),
                                  ((usd_curve, []), {}, "must be dict, not list"),
                                  ((usd_curve,), {"fixings": None}, "must be dict, not None"),
                                  ((), {"curve": usd_curve}, None)]:  # fmt: skip
        with pytest.raises(TypeError, match=message):
            call(*args, **kwargs)
    assert call(yield_curve=usd_curve, fixings={}) == call(usd_curve)


@pytest.mark.parametrize(("args", "kwargs", "error", "message"), [
    *[((bad,), {}, TypeError, PARSING) for bad in ["2026-03-16", None, 20260316]],
    ((), {"date": dt.date(2026, 6, 1)}, TypeError, PARSING),
    ((dt.date(1300, 6, 1),), {}, RuntimeError, YEAR_RANGE),
], ids=repr)  # fmt: skip
def test_required_fixings_refuses_anything_but_a_valid_date(usd_swap, args, kwargs, error,
                                                            message):
    assert error_text(error, usd_swap.required_fixings, *args, **kwargs) == message
    day = dt.date(2026, 6, 1)  # other keywords are ignored
    assert usd_swap.required_fixings(day, unused=1) == usd_swap.required_fixings(day)


def test_reinitialising_a_swap_drops_its_old_entry(entry, usd_curve):
    swap = _tessarin.IRS(usd_swap_input(rate=0.03))
    old = entry.handle(swap)
    swap.__init__(usd_swap_input(rate=0.04))
    assert entry.handle(swap) != old
    assert swap.price(usd_curve) == _tessarin.IRS(usd_swap_input(rate=0.04)).price(usd_curve)
    current = entry.handle(swap)
    with pytest.raises(RuntimeError, match="^Missing mandatory input: "):
        swap.__init__({})
    assert entry.handle(swap) is None
    gone = NOT_INITIALISED.format("interest rate swap")
    assert error_text(RuntimeError, swap.price, usd_curve) == gone
    status = ctypes.c_int(0)
    for handle in (old, current):  # neither entry is left in the registry
        price = entry.interestRateSwapPrice
        assert error_text(RuntimeError, price, handle, entry.handle(usd_curve), None,
                          ctypes.byref(status)) == gone  # fmt: skip


def test_reference_counts_of_inputs_are_unchanged(usd_curve):
    data = usd_swap_input()
    fixings = {"SOFR": {"dates": [VALUE_DATE], "values": [0.043]}}
    watched = [data, data["leg1"], data["leg2"], data["id"], fixings, fixings["SOFR"],
               fixings["SOFR"]["dates"], usd_curve]  # fmt: skip
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(3):
        swap = _tessarin.IRS(data)
        swap.price(usd_curve, fixings)
        swap.cashflows(usd_curve, fixings)
        with pytest.raises(RuntimeError):
            swap.price(usd_curve, {"SOFR": {"dates": [1.5], "values": [0.043]}})
        with pytest.raises(RuntimeError):
            _tessarin.IRS({**data, "leg2": {}})
    del swap
    assert [sys.getrefcount(o) for o in watched] == before


# --- price, cash flows, risk -------------------------------------------------------


@pytest.mark.parametrize("tenor", ["1M", "6M", "1Y", "18M", "5Y", "12Y", "30Y"])
def test_a_swap_on_a_curve_instrument_reprices_to_zero(usd_curve, tenor):
    quote = USD_QUOTES[USD_TENORS.index(tenor)]
    swap = _tessarin.IRS(usd_swap_input(end=add_tenor(SPOT_DATE, tenor), rate=quote / 100))
    result = swap.price(usd_curve)
    assert list(result) == ["Leg1 PV", "Leg2 PV", "NPV"]
    assert result["Leg1 PV"] < 0 < result["Leg2 PV"]  # fixed leg paid
    assert abs(result["NPV"]) < 1e-6  # on a notional of one million


@pytest.mark.parametrize("fixed_paid", [True, False])
def test_net_is_the_sum_of_the_signed_legs(usd_curve, fixed_paid):
    swap = _tessarin.IRS(usd_swap_input(rate=0.05, fixed_paid=fixed_paid, margin=0.0015))
    result = swap.price(usd_curve)
    assert result["NPV"] == pytest.approx(result["Leg1 PV"] + result["Leg2 PV"], abs=1e-9)
    assert (result["Leg1 PV"] < 0) == fixed_paid
    assert (result["Leg2 PV"] < 0) == (not fixed_paid)


def _check_cash_flows_against_price(swap, curve, fixings=None):
    extra = {} if fixings is None else {"fixings": fixings}
    table, price = swap.cashflows(curve, **extra), swap.price(curve, **extra)
    assert (list(table), list(table["Leg1"]), list(table["Leg2"])) == (
        ["Leg1", "Leg2"], FIXED_COLUMNS, FLOAT_COLUMNS)
    for n, sign in ((1, -1.0), (2, 1.0)):
        leg = table[f"Leg{n}"]
        assert len({len(column) for column in leg.values()}) == 1
        paid = leg["Payment Date"]
        future = [pv for pv, day in zip(leg["Cash Flow PV"], paid, strict=True) if day > VALUE_DATE]
        assert sign * sum(future) == pytest.approx(price[f"Leg{n} PV"], rel=1e-13, abs=1e-9)
        for row, day in enumerate(paid):
            cash_flow, pv = leg["Cash Flow"][row], leg["Cash Flow PV"][row]
            assert pv == pytest.approx(cash_flow * leg["Discount Factor"][row], rel=1e-15)
            if day <= VALUE_DATE:
                assert leg["Discount Factor"][row] == 1.0 and pv == cash_flow
    return table


def test_cash_flow_pvs_add_up_to_the_leg_values(usd_curve):
    swap = _tessarin.IRS(usd_swap_input(rate=0.037, margin=0.002))
    table = _check_cash_flows_against_price(swap, usd_curve)
    fixed = table["Leg1"]
    assert len(fixed["Payment Date"]) == 5
    for row, fraction in enumerate(fixed["Day Count Fraction"]):
        assert fixed["Cash Flow"][row] == pytest.approx(fraction * 1e6 * 0.037, rel=1e-15)
    assert set(table["Leg2"]["Spread"]) == {0.002}


def test_key_rate_risk_matches_a_finite_difference_of_rebuilt_curves(usd_curve):
    in_use = [tenor not in ("9M", "12Y") for tenor in USD_TENORS]
    curve = _tessarin.YieldCurve(usd_curve_input(in_use=in_use))
    swap = _tessarin.IRS(usd_swap_input(end=dt.date(2033, 9, 19), rate=0.036, margin=0.001))
    risk = swap.risk(curve)
    assert list(risk) == ["Tenor", "Leg1", "Leg2", "Net"]
    assert risk["Tenor"] == USD_TENORS

    def bumped(m, shift):
        quotes = list(USD_QUOTES)
        quotes[m] += shift
        return swap.price(_tessarin.YieldCurve(usd_curve_input(quotes=quotes, in_use=in_use)))

    for m, tenor in enumerate(USD_TENORS):
        up, down = bumped(m, 0.0001), bumped(m, -0.0001)
        for key, column in (("Leg1 PV", "Leg1"), ("Leg2 PV", "Leg2"), ("NPV", "Net")):
            expected = (up[key] - down[key]) / 0.0002
            assert risk[column][m] == pytest.approx(expected, rel=1e-9, abs=1e-7), (tenor, key)
        assert risk["Net"][m] == pytest.approx(risk["Leg1"][m] + risk["Leg2"][m], abs=1e-6)
        if not in_use[m] or tenor in ("12Y", "15Y", "20Y", "25Y", "30Y"):
            assert risk["Leg1"][m] == risk["Leg2"][m] == risk["Net"][m] == 0.0, tenor
    # the swap lies between the 7Y and 10Y pillars and mostly moves with them
    assert abs(risk["Net"][USD_TENORS.index("10Y")]) > 1000


def test_risk_reports_a_bracketing_failure_of_a_bumped_curve():
    def builds(quote):
        with contextlib.suppress(RuntimeError):
            return bool(_tessarin.YieldCurve(usd_curve_input(tenors=["1M"], quotes=[quote])))
        return False

    low, high = 10.0, 500.0
    assert builds(low) and not builds(high)
    while high - low > 0.00004:  # well inside one bump of 0.0001
        middle = (low + high) / 2
        low, high = (middle, high) if builds(middle) else (low, middle)
    curve = _tessarin.YieldCurve(usd_curve_input(tenors=["1M"], quotes=[low]))
    swap = _tessarin.IRS(usd_swap_input(end=add_tenor(SPOT_DATE, "1M"), rate=low / 100))
    assert error_text(RuntimeError, swap.risk, curve) == BRACKETING


@pytest.mark.parametrize("how", ["price", "risk", "cashflows", "required_fixings"])
def test_unknown_index_fails_when_used(usd_curve, how):
    swap = _tessarin.IRS(edit(usd_swap_input(), "leg2", "index", value="XYZ"))
    assert error_text(RuntimeError, CALLS[how], swap, usd_curve) == (
        "No object registered under label: XYZ")


# --- seasoned swaps and fixings ------------------------------------------------------

SEASONED_START = dt.date(2026, 1, 6)
NEXT_BUSINESS_DAY = dt.date(2026, 3, 17)


@pytest.fixture
def seasoned_swap():
    end = dt.date(2028, 1, 6)
    return _tessarin.IRS(usd_swap_input(SEASONED_START, end, rate=0.0375, margin=0.0005))


def _past_fixings(swap, with_value_date):
    dates = swap.required_fixings(VALUE_DATE)["SOFR"]
    assert dates[0] == SEASONED_START and dates[-1] == VALUE_DATE
    if not with_value_date:
        dates = dates[:-1]
    return {day: 0.0430 + 0.0001 * (i % 7) for i, day in enumerate(dates)}


def _compounded_rate(curve, fixings, start, end):
    """Overnight compounding over the running period, Act/360: realised
    fixings up to the value date, then the curve to the period end."""
    history = sorted(day for day in fixings if day < VALUE_DATE)
    growth = 1.0
    for i, day in enumerate(history):
        following = history[i + 1] if i + 1 < len(history) else VALUE_DATE
        growth *= 1.0 + fixings[day] * (following - day).days / 360.0
    tau = (end - start).days / 360.0
    if VALUE_DATE in fixings:
        growth *= 1.0 + fixings[VALUE_DATE] * (NEXT_BUSINESS_DAY - VALUE_DATE).days / 360.0
        return (curve.df(NEXT_BUSINESS_DAY) * growth / curve.df(end) - 1.0) / tau
    return (growth / curve.df(end) - 1.0) / tau


def _as_input(fixings, shuffle):
    """The fixings dict as a caller gives it: dates in any order, some as text."""
    days = list(fixings)
    if shuffle:
        random.Random(4).shuffle(days)
    dates = [day.isoformat() if i % 3 == 0 else day for i, day in enumerate(days)]
    return {"SOFR": {"dates": dates, "values": [fixings[day] for day in days]}}


@pytest.mark.parametrize("with_value_date", [False, True])
@pytest.mark.parametrize("shuffle", [False, True])
def test_running_period_compounds_past_fixings(usd_curve, seasoned_swap, with_value_date, shuffle):
    fixings = _past_fixings(seasoned_swap, with_value_date)
    table = _check_cash_flows_against_price(seasoned_swap, usd_curve, _as_input(fixings, shuffle))
    floating = table["Leg2"]
    start, end = floating["Accrual Start Date"][0], floating["Accrual End Date"][0]
    assert start == SEASONED_START < VALUE_DATE < end
    expected = _compounded_rate(usd_curve, fixings, start, end)
    assert floating["Estimated Rate"][0] == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize("with_value_date", [False, True])
@pytest.mark.parametrize("drop", [None, 20])
def test_fixings_as_dates_and_floats_read_as_the_general_conversion(usd_curve, seasoned_swap,
                                                                    with_value_date, drop):
    # Date objects and floats only take the direct reading; one text date the general one.
    fixings = _past_fixings(seasoned_swap, with_value_date)
    if drop is not None:
        del fixings[sorted(fixings)[drop]]
    shuffled = _as_input(fixings, True)["SOFR"]
    direct = {"SOFR": {"dates": [dt.date.fromisoformat(d) if isinstance(d, str) else d
                                 for d in shuffled["dates"]], "values": shuffled["values"]}}
    for method in ("price", "risk", "cashflows"):
        results = []
        for given in (direct, _as_input(fixings, True)):
            try:
                results.append(getattr(seasoned_swap, method)(usd_curve, given))
            except RuntimeError as error:
                results.append(str(error))
        assert results[0] == results[1], method
    assert (drop is not None) == isinstance(results[0], str)


def test_fixings_outside_the_running_period_are_not_needed(usd_curve, usd_swap):
    stale = {"SOFR": {"dates": [dt.date(2020, 1, 2)], "values": [0.5]},
             "ESTR": {"dates": [], "values": []}}  # fmt: skip
    assert usd_swap.price(usd_curve, stale) == usd_swap.price(usd_curve)


def test_a_missing_past_fixing_is_named(usd_curve, seasoned_swap):
    fixings = _past_fixings(seasoned_swap, False)
    missing = sorted(fixings)[20]
    del fixings[missing]
    text = error_text(RuntimeError, seasoned_swap.price, usd_curve, _as_input(fixings, True))
    assert text == f"Fixing is required for date {missing.isoformat()}"


def _sofr(dates, values):
    return {"SOFR": {"dates": dates, "values": values}}


@pytest.mark.parametrize(("fixings", "message"), [
    (None, "No fixings for index SOFR"),
    ({"SONIA": {"dates": [], "values": []}}, "No fixings for index SOFR"),
    (_sofr([], []), "Fixing is required for date 2026-01-06"),
    (_sofr(["2026-01-06", "2026-01-07", "2026-01-08"], [0.04, 0.04]),
     "Error, fixings for index SOFR have 3 dates and 2 values."),
    (_sofr([SEASONED_START], [0.04, 0.04]),
     "Error, fixings for index SOFR have 1 dates and 2 values."),
    (_sofr(["2026-13-01"], [0.04]), "Month number is out of range 1..12"),
    (_sofr([[SEASONED_START]], [0.04]), "std::bad_cast"),
    (_sofr([SEASONED_START], [{"v": 0.04}]), "std::bad_cast"),
    (_sofr([1.5], [0.04]), "BoxedValue: cannot convert to gregorian::date"),
    (_sofr([SEASONED_START], ["4%"]), 'BoxedValue: cannot convert string "4%" to double'),
    ({"SOFR": {"values": []}}, "No such node (dates)"),
    ({"SOFR": {"dates": []}}, "No such node (values)"),
    ({"SOFR": 0.04}, "No such node (dates)"),
    ({5: {"dates": [], "values": []}}, "[root] dict keys must be strings"),
    (_sofr((SEASONED_START,), []),
     "[root.SOFR.dates] unsupported Python type: (datetime.date(2026, 1, 6),)"),
], ids=lambda v: v if isinstance(v, str) else None)  # fmt: skip
@pytest.mark.parametrize("method", ["price", "risk", "cashflows"])
def test_fixings_errors_are_runtime_errors(usd_curve, seasoned_swap, method, fixings, message):
    call = getattr(seasoned_swap, method)
    args = (usd_curve,) if fixings is None else (usd_curve, fixings)
    assert error_text(RuntimeError, call, *args) == message


def test_required_fixings_run_from_the_period_start_through_the_date(seasoned_swap):
    needed = seasoned_swap.required_fixings(dt.datetime(2026, 1, 20, 9, 0))
    assert list(needed) == ["SOFR"]
    # 2026-01-19 is Martin Luther King Day; weekends are skipped too
    assert needed["SOFR"] == [dt.date(2026, 1, d) for d in (6, 7, 8, 9, 12, 13, 14, 15, 16, 20)]
    # no period has started before these dates: an empty tree converts to None
    assert seasoned_swap.required_fixings(SEASONED_START) is None
    assert seasoned_swap.required_fixings(dt.date(2025, 1, 1)) is None
