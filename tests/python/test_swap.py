"""_tessarin.IRS: input assembly, messages, price, risk, cash flows, fixings."""

import datetime as dt
import random
import re
import sys

import pytest

import _tessarin
from conftest import SPOT_DATE, USD_QUOTES, USD_TENORS, VALUE_DATE, usd_curve_input, usd_swap_input

MISSING = "Missing mandatory input: "
LEG_KEYS = [
    "currency",
    "calendar",
    "frequency",
    "day count convention",
    "accrual adjustment",
    "accrual calendar",
    "pay adjustment",
    "pay calendar",
    "is fixed",
    "is paid",
    "pay lag",
    "notional",
]
FIXED_COLUMNS = [
    "Accrual Start Date",
    "Accrual End Date",
    "Payment Date",
    "Day Count Fraction",
    "Notional",
    "Discount Factor",
    "Rate",
    "Cash Flow",
    "Cash Flow PV",
]
FLOAT_COLUMNS = [
    "Accrual Start Date",
    "Accrual End Date",
    "Payment Date",
    "Day Count Fraction",
    "Notional",
    "Discount Factor",
    "Estimated Rate",
    "Spread",
    "Cash Flow",
    "Cash Flow PV",
]


def build_error(data):
    with pytest.raises(RuntimeError) as error:
        _tessarin.IRS(data)
    return str(error.value)


def add_tenor(start, tenor):
    months = int(tenor[:-1]) * (12 if tenor[-1] == "Y" else 1)
    year, month = divmod(start.month - 1 + months, 12)
    return start.replace(year=start.year + year, month=month + 1)


# --- input assembly ----------------------------------------------------------


def test_empty_dict_lists_every_top_level_input():
    assert build_error({}) == (
        MISSING + "<id>, <effective date>, <termination date>, <schedule roll>,<'leg1',<'leg2'"
    )


def test_missing_id_and_schedule_roll_only():
    data = usd_swap_input()
    del data["id"], data["schedule roll"]
    assert build_error(data) == MISSING + "<id>, <schedule roll>"


def test_missing_id_alone_drops_only_the_trailing_blank():
    data = usd_swap_input()
    del data["id"]
    assert build_error(data) == MISSING + "<id>,"


def test_missing_second_leg_ends_with_its_quoted_key():
    data = usd_swap_input()
    del data["leg2"]
    assert build_error(data) == MISSING + "<'leg2'"


def test_an_empty_floating_leg_lists_its_keys_in_order_but_no_branch():
    data = usd_swap_input()
    data["leg2"] = {}
    # without "is fixed" neither the rate nor the index and margin are checked
    assert build_error(data) == MISSING + ",".join(f"<leg2: {k}>" for k in LEG_KEYS)


@pytest.mark.parametrize(
    ("leg", "drop", "listed"),
    [
        ("leg1", ["rate"], ["rate"]),
        ("leg1", ["frequency", "rate"], ["frequency", "rate"]),
        ("leg2", ["index"], ["index"]),
        ("leg2", ["margin", "index"], ["index", "margin"]),
        ("leg2", ["notional", "margin"], ["notional", "margin"]),
        ("leg1", ["is fixed", "rate"], ["is fixed"]),
    ],
)
def test_missing_leg_inputs_are_listed_in_checking_order(leg, drop, listed):
    data = usd_swap_input()
    for key in drop:
        del data[leg][key]
    assert build_error(data) == MISSING + ",".join(f"<{leg}: {k}>" for k in listed)


def test_fixed_leg_ignores_index_and_margin():
    data = usd_swap_input()
    del data["leg1"]["rate"]
    data["leg1"].update(index="SOFR", margin=0.001)
    assert build_error(data) == MISSING + "<leg1: rate>"


def test_flags_and_numbers_may_be_given_as_text(usd_curve):
    data = usd_swap_input()
    data["leg2"]["is fixed"] = "FALSE"
    data["leg1"]["is paid"] = "true"
    data["leg1"]["pay lag"] = "2"
    data["leg2"]["notional"] = "1000000"
    data["effective date"] = SPOT_DATE.isoformat()
    assert _tessarin.IRS(data).price(usd_curve) == _tessarin.IRS(usd_swap_input()).price(usd_curve)


def test_dotted_top_level_keys_land_in_the_leg_after_it(usd_curve):
    data = usd_swap_input()
    rate = data["leg1"].pop("rate")
    data["leg1.rate"] = rate
    assert _tessarin.IRS(data).price(usd_curve) == _tessarin.IRS(usd_swap_input()).price(usd_curve)

    # placed first, it makes a leg1 node of its own that the lookup finds
    first = {"leg1.rate": rate, **usd_swap_input()}
    del first["leg1"]["rate"]
    assert build_error(first).startswith(MISSING + "<leg1: currency>,<leg1: calendar>")


def _swap_with(path, value):
    data = usd_swap_input()
    target = data
    for key in path[:-1]:
        target = target[key]
    target[path[-1]] = value
    return data


@pytest.mark.parametrize(
    ("path", "value", "message"),
    [
        (("leg1", "is fixed"), 1, "BoxedValue: cannot convert to bool"),
        (("leg1", "is fixed"), {"a": True}, "std::bad_cast"),
        (("leg2", "is paid"), [], "std::bad_cast"),
        (("leg2", "is paid"), "no", 'BoxedValue: cannot convert string "no" to bool'),
        (("leg1", "pay lag"), 2.0, "BoxedValue: cannot convert to int"),
        (("leg1", "notional"), "lots", 'BoxedValue: cannot convert string "lots" to double'),
        (("leg1", "currency"), 840, "std::bad_cast"),
        (("id",), ["x"], "std::bad_cast"),
        (("effective date",), "2026-02-30", "Day of month is not valid for year"),
        (("termination date",), dt.date(1300, 1, 1), "Year is out of valid range: 1400..9999"),
        (("leg1", "frequency"), "0M", "Error, non-positive amount for the tenor."),
        (("leg2", "accrual calendar"), "ZZ", "Calendar not found: ZZ"),
        (("leg2", "notional"), 2**80, "Python int too large for long"),
        (("leg2", "margin"), (0.0,), "[root.leg2.margin] unsupported Python type: (0.0,)"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_malformed_inputs_end_the_build_with_their_message(path, value, message):
    assert build_error(_swap_with(path, value)) == message


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: _tessarin.IRS(), r"exactly 1 argument \(0 given\)"),
        (lambda: _tessarin.IRS(data=usd_swap_input()), r"exactly 1 argument \(0 given\)"),
        (lambda: _tessarin.IRS([("id", "x")]), "must be dict, not list"),
    ],
)
def test_constructor_takes_exactly_one_dict(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_repr_and_docstrings(usd_swap):
    text = repr(usd_swap)
    assert re.fullmatch(r"<InterestRateSwapObject at 0x[0-9a-f]+>", text)
    assert int(text[len("<InterestRateSwapObject at ") : -1], 16) == id(usd_swap)
    docs = {
        name: getattr(_tessarin.IRS, name).__doc__
        for name in ("price", "risk", "cashflows", "required_fixings")
    }
    assert docs == {
        "price": "Return the net present value of the interest rate swap.",
        "risk": "Return the key rate sensitivities per leg of the interest rate swap.",
        "cashflows": "Returns the cash flows of both legs.",
        "required_fixings": "Returns dictionary with dates.",
    }


# --- uninitialised objects and argument parsing --------------------------------


def test_methods_of_a_swap_that_was_never_built(usd_curve):
    swap = _tessarin.IRS.__new__(_tessarin.IRS)
    for call in (
        lambda: swap.price(usd_curve),
        lambda: swap.risk(usd_curve),
        lambda: swap.cashflows(usd_curve),
        lambda: swap.cashflows(),
        lambda: swap.required_fixings(VALUE_DATE),
    ):
        with pytest.raises(RuntimeError) as error:
            call()
        assert str(error.value) == "Error, the interest rate swap is not initialised."


def test_a_curve_that_was_never_built(usd_swap):
    curve = _tessarin.YieldCurve.__new__(_tessarin.YieldCurve)
    for call in (
        lambda: usd_swap.price(curve),
        lambda: usd_swap.risk(curve),
        lambda: usd_swap.cashflows(curve),
    ):
        with pytest.raises(RuntimeError, match=r"^Error, the yield curve is not initialised\.$"):
            call()


def test_cashflows_without_a_curve_miss_the_discount_curve(usd_swap):
    with pytest.raises(RuntimeError, match="^No discount curve is provided for currency USD$"):
        usd_swap.cashflows()
    with pytest.raises(RuntimeError, match="^No discount curve is provided for currency USD$"):
        usd_swap.cashflows(fixings={})


@pytest.mark.parametrize("method", ["price", "risk"])
def test_price_and_risk_need_a_curve_and_a_dict_of_fixings(usd_swap, usd_curve, method):
    call = getattr(usd_swap, method)
    with pytest.raises(TypeError):
        call()
    with pytest.raises(TypeError, match="YieldCurve"):
        call(usd_swap)
    with pytest.raises(TypeError, match="must be dict, not list"):
        call(usd_curve, [])
    with pytest.raises(TypeError, match="must be dict, not None"):
        call(usd_curve, fixings=None)
    with pytest.raises(TypeError):
        call(curve=usd_curve)
    assert call(yield_curve=usd_curve, fixings={}) == call(usd_curve)


@pytest.mark.parametrize("argument", ["2026-03-16", None, 20260316])
def test_required_fixings_refuses_anything_but_a_date(usd_swap, argument):
    with pytest.raises(TypeError) as error:
        usd_swap.required_fixings(argument)
    assert str(error.value) == "parsing error. expecting date argument"


def test_required_fixings_ignores_keywords(usd_swap):
    day = dt.date(2026, 6, 1)
    assert usd_swap.required_fixings(day, unused=1) == usd_swap.required_fixings(day)
    with pytest.raises(TypeError, match="^parsing error. expecting date argument$"):
        usd_swap.required_fixings(date=day)


def test_required_fixings_before_year_1400(usd_swap):
    with pytest.raises(RuntimeError) as error:
        usd_swap.required_fixings(dt.date(1300, 6, 1))
    assert str(error.value) == "Year is out of valid range: 1400..9999"


def test_reinitialising_a_swap_drops_its_old_entry(entry, usd_curve):
    swap = _tessarin.IRS(usd_swap_input(rate=0.03))
    old = entry.handle(swap)
    swap.__init__(usd_swap_input(rate=0.04))
    assert entry.handle(swap) != old
    assert swap.price(usd_curve) == _tessarin.IRS(usd_swap_input(rate=0.04)).price(usd_curve)
    # the old swap is gone: deleting it again finds nothing to drop
    entry.deleteInterestRateSwap(old)

    current = entry.handle(swap)
    with pytest.raises(RuntimeError, match="^Missing mandatory input: "):
        swap.__init__({})
    assert entry.handle(swap) is None
    with pytest.raises(RuntimeError, match="not initialised"):
        swap.price(usd_curve)
    entry.deleteInterestRateSwap(current)


def test_reference_counts_of_inputs_are_unchanged(usd_curve):
    data = usd_swap_input()
    fixings = {"SOFR": {"dates": [VALUE_DATE], "values": [0.043]}}
    watched = [
        data,
        data["leg1"],
        data["leg2"],
        data["id"],
        fixings,
        fixings["SOFR"],
        fixings["SOFR"]["dates"],
        usd_curve,
    ]
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


def test_cash_flow_tables_have_their_columns_in_order(usd_curve, usd_swap):
    table = usd_swap.cashflows(usd_curve)
    assert list(table) == ["Leg1", "Leg2"]
    assert list(table["Leg1"]) == FIXED_COLUMNS
    assert list(table["Leg2"]) == FLOAT_COLUMNS
    for leg in table.values():
        assert len({len(column) for column in leg.values()}) == 1
    assert len(table["Leg1"]["Payment Date"]) == 5


def _check_cash_flows_against_price(swap, curve, fixings=None):
    extra = {} if fixings is None else {"fixings": fixings}
    table = swap.cashflows(curve, **extra)
    price = swap.price(curve, **extra)
    for n, sign in ((1, -1.0), (2, 1.0)):
        leg = table[f"Leg{n}"]
        future = [
            pv
            for pv, paid in zip(leg["Cash Flow PV"], leg["Payment Date"], strict=True)
            if paid > VALUE_DATE
        ]
        assert sign * sum(future) == pytest.approx(price[f"Leg{n} PV"], rel=1e-13, abs=1e-9)
        for row, paid in enumerate(leg["Payment Date"]):
            cash_flow, pv = leg["Cash Flow"][row], leg["Cash Flow PV"][row]
            assert pv == pytest.approx(cash_flow * leg["Discount Factor"][row], rel=1e-15)
            if paid <= VALUE_DATE:
                assert leg["Discount Factor"][row] == 1.0 and pv == cash_flow
    return table


def test_cash_flow_pvs_add_up_to_the_leg_values(usd_curve):
    swap = _tessarin.IRS(usd_swap_input(rate=0.037, margin=0.002))
    table = _check_cash_flows_against_price(swap, usd_curve)
    fixed = table["Leg1"]
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
        try:
            _tessarin.YieldCurve(usd_curve_input(tenors=["1M"], quotes=[quote]))
        except RuntimeError:
            return False
        return True

    low, high = 10.0, 500.0
    assert builds(low) and not builds(high)
    while high - low > 0.00004:  # well inside one bump of 0.0001
        middle = (low + high) / 2
        low, high = (middle, high) if builds(middle) else (low, middle)
    curve = _tessarin.YieldCurve(usd_curve_input(tenors=["1M"], quotes=[low]))
    swap = _tessarin.IRS(usd_swap_input(end=add_tenor(SPOT_DATE, "1M"), rate=low / 100))
    with pytest.raises(RuntimeError) as error:
        swap.risk(curve)
    assert str(error.value) == (
        "Error in function boost::math::tools::toms748_solve<double>: "
        "Parameters a and b do not bracket the root: a=-1"
    )


def test_unknown_index_fails_when_priced(usd_curve):
    swap = _tessarin.IRS(_swap_with(("leg2", "index"), "XYZ"))
    for call in (
        lambda: swap.price(usd_curve),
        lambda: swap.risk(usd_curve),
        lambda: swap.cashflows(usd_curve),
        lambda: swap.required_fixings(dt.date(2026, 6, 1)),
    ):
        with pytest.raises(RuntimeError, match="^No object registered under label: XYZ$"):
            call()


# --- seasoned swaps and fixings ------------------------------------------------------

SEASONED_START = dt.date(2026, 1, 6)
NEXT_BUSINESS_DAY = dt.date(2026, 3, 17)


@pytest.fixture
def seasoned_swap():
    return _tessarin.IRS(
        usd_swap_input(start=SEASONED_START, end=dt.date(2028, 1, 6), rate=0.0375, margin=0.0005)
    )


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


def test_the_value_date_fixing_changes_the_price(usd_curve, seasoned_swap):
    without = seasoned_swap.price(usd_curve, _as_input(_past_fixings(seasoned_swap, False), False))
    with_it = seasoned_swap.price(usd_curve, _as_input(_past_fixings(seasoned_swap, True), False))
    assert without["Leg1 PV"] == with_it["Leg1 PV"]
    assert without["Leg2 PV"] != with_it["Leg2 PV"]


def test_fixings_outside_the_running_period_are_not_needed(usd_curve, usd_swap):
    stale = {
        "SOFR": {"dates": [dt.date(2020, 1, 2)], "values": [0.5]},
        "ESTR": {"dates": [], "values": []},
    }
    assert usd_swap.price(usd_curve, stale) == usd_swap.price(usd_curve)


def test_a_missing_past_fixing_is_named(usd_curve, seasoned_swap):
    fixings = _past_fixings(seasoned_swap, False)
    missing = sorted(fixings)[20]
    del fixings[missing]
    with pytest.raises(RuntimeError) as error:
        seasoned_swap.price(usd_curve, _as_input(fixings, True))
    assert str(error.value) == f"Fixing is required for date {missing.isoformat()}"


@pytest.mark.parametrize(
    ("fixings", "message"),
    [
        (None, "No fixings for index SOFR"),
        ({"SONIA": {"dates": [], "values": []}}, "No fixings for index SOFR"),
        ({"SOFR": {"dates": [], "values": []}}, "Fixing is required for date 2026-01-06"),
        (
            {"SOFR": {"dates": ["2026-01-06", "2026-01-07", "2026-01-08"], "values": [0.04, 0.04]}},
            "Error, fixings for index SOFR have 3 dates and 2 values.",
        ),
        (
            {"SOFR": {"dates": [SEASONED_START], "values": [0.04, 0.04]}},
            "Error, fixings for index SOFR have 1 dates and 2 values.",
        ),
        (
            {"SOFR": {"dates": ["2026-13-01"], "values": [0.04]}},
            "Month number is out of range 1..12",
        ),
        ({"SOFR": {"dates": [[SEASONED_START]], "values": [0.04]}}, "std::bad_cast"),
        ({"SOFR": {"dates": [SEASONED_START], "values": [{"v": 0.04}]}}, "std::bad_cast"),
        (
            {"SOFR": {"dates": [1.5], "values": [0.04]}},
            "BoxedValue: cannot convert to gregorian::date",
        ),
        (
            {"SOFR": {"dates": [SEASONED_START], "values": ["4%"]}},
            'BoxedValue: cannot convert string "4%" to double',
        ),
        ({"SOFR": {"values": []}}, "No such node (dates)"),
        ({"SOFR": {"dates": []}}, "No such node (values)"),
        ({"SOFR": 0.04}, "No such node (dates)"),
        ({5: {"dates": [], "values": []}}, "[root] dict keys must be strings"),
        (
            {"SOFR": {"dates": (SEASONED_START,), "values": []}},
            "[root.SOFR.dates] unsupported Python type: (datetime.date(2026, 1, 6),)",
        ),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
@pytest.mark.parametrize("method", ["price", "risk", "cashflows"])
def test_fixings_errors_are_runtime_errors(usd_curve, seasoned_swap, method, fixings, message):
    call = getattr(seasoned_swap, method)
    with pytest.raises(RuntimeError) as error:
        call(usd_curve) if fixings is None else call(usd_curve, fixings)
    assert str(error.value) == message


def test_required_fixings_run_from_the_period_start_through_the_date(seasoned_swap):
    needed = seasoned_swap.required_fixings(dt.datetime(2026, 1, 20, 9, 0))
    assert list(needed) == ["SOFR"]
    # 2026-01-19 is Martin Luther King Day; weekends are skipped too
    assert needed["SOFR"] == [dt.date(2026, 1, d) for d in (6, 7, 8, 9, 12, 13, 14, 15, 16, 20)]
    # no period has started before these dates: an empty tree converts to None
    assert seasoned_swap.required_fixings(SEASONED_START) is None
    assert seasoned_swap.required_fixings(dt.date(2025, 1, 1)) is None
