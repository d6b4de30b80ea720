"""Property-based robustness of every entry point of the module.

Each case mixes valid structure with hostile values and must end in a result
or in a TypeError, RuntimeError or RecursionError with a message; a failed
construction must leave no registry entry behind."""

import array
import datetime as dt
import math

import pytest
from fuzzing import (
    VALUE_DATE,
    Pool,
    containers_hostile,
    curve_inputs,
    dates_any,
    datetimes_any,
    fixings_input,
    fixings_inputs,
    hostile,
    ints_any,
    mostly,
    outcome,
    scalars_hostile,
    small_curve_input,
    swap_input,
    swap_inputs,
    texts_any,
)
from hypothesis import example, given
from hypothesis import strategies as st

import _tessarin

POOL = Pool()
CURVE = _tessarin.YieldCurve(small_curve_input())
SWAP = _tessarin.IRS(swap_input())
UNBUILT_CURVE = _tessarin.YieldCurve.__new__(_tessarin.YieldCurve)
UNBUILT_SWAP = _tessarin.IRS.__new__(_tessarin.IRS)

# Dates the library can hold, and the ones it must refuse.
FIRST = dt.date(1400, 1, 1)


def _is_date(value):
    return isinstance(value, dt.date)


def _day(value):
    """The calendar day of a date or datetime."""
    return dt.date(value.year, value.month, value.day)


def _check_curve(curve):
    """A built curve answers its queries with well-formed results."""
    dates = curve.dates()
    rates = curve.rates()
    assert isinstance(dates, list) and isinstance(rates, list)
    assert len(dates) == len(rates)
    assert all(type(d) is dt.date for d in dates)
    assert all(type(r) is float for r in rates)
    assert dates == sorted(set(dates)), "pillar dates must be strictly increasing"
    if dates:
        df = curve.df(dates[-1])
        assert type(df) is float


def _check_built_or_clean(target, build, argument_tuple, kwargs):
    with POOL.steady():
        before = POOL.size()
        result = outcome(target, build, *argument_tuple, **kwargs)
        after = POOL.size()
    if isinstance(result, BaseException):
        assert after == before, f"a failed {target} left a registry entry behind"
        return None
    assert after == before + 1
    return result


def _reinit_fails_cleanly(obj, bad):
    """__init__ again with a bad input drops the old object and keeps nothing new."""
    with POOL.steady():
        before = POOL.size()
        with pytest.raises(RuntimeError):
            obj.__init__(bad)
        assert POOL.size() == before - 1


@given(
    st.one_of(
        st.tuples(curve_inputs()),
        st.tuples(curve_inputs()),
        st.lists(st.one_of(scalars_hostile, containers_hostile), max_size=2).map(tuple),
    ),
    mostly(st.just({}), st.dictionaries(st.sampled_from(["d", "x"]), hostile, max_size=1), 85),
)
@example((small_curve_input(),), {})
@example(({**small_curve_input(), "value date": dt.date(9999, 1, 1)},), {})
@example(({**small_curve_input(), "value date": dt.date(1400, 1, 1)},), {})
@example((small_curve_input(quotes=(math.nan, 4.0, 4.0)),), {})
@example((small_curve_input(quotes=(4.0, math.inf, 4.0)),), {})
@example((small_curve_input(quotes=("nan", "4.0", "-inf")),), {})
def test_yield_curve(args, kwargs):
    curve = _check_built_or_clean("YieldCurve", _tessarin.YieldCurve, args, kwargs)
    if curve is None:
        return
    _check_curve(curve)
    _reinit_fails_cleanly(curve, {"value date": "junk"})
    assert curve.dates() is None


@given(st.one_of(curve_inputs(), scalars_hostile, containers_hostile), st.booleans(),
       st.booleans())
@example(small_curve_input(), True, True)
@example({**small_curve_input(), "value date": dt.date(1, 1, 1)}, True, True)
def test_curve_from_dict(data, strict, build):
    # The entry reads and writes the dict in place; every answer is a 4-tuple and a curve is
    # registered only while it is held.
    with POOL.steady():
        before = POOL.size()
        result = outcome("curve_from_dict", _tessarin.curve_from_dict, data, "", strict, build)
        if isinstance(result, BaseException):
            assert POOL.size() == before
            return
        curve, doubts, problem, failure = result
        assert isinstance(doubts, list) and (problem is None or len(problem) == 2)
        assert (curve is not None) == (build and problem is None and failure is None
                                       and not (strict and doubts))
        if curve is not None:
            _check_curve(curve)
        del curve, result
        assert POOL.size() == before


@given(st.one_of(swap_inputs(), hostile), st.booleans(),
       st.sampled_from([None, "USD SOFR SW", "XYZ", ""]), st.booleans())
@example(swap_input(), True, None, False)
def test_swap_from_dict(data, strict, generator, trade):
    # A read gives a checked copy, or says why not: its problem, or a doubt that stops a
    # strict read. Built, the copy gives a swap, or None when the dict route must say why.
    result = outcome("swap_from_dict", _tessarin.swap_from_dict, data, "", strict, generator,
                     trade, True)
    if isinstance(result, BaseException):
        return
    _, swap, doubts, problem, built = result
    assert isinstance(doubts, list) and (problem is None or swap is None)
    assert swap is not None or problem is not None or (strict and doubts)
    assert problem is None or all(isinstance(part, str) for part in problem)
    assert built is None or (swap is not None and isinstance(built, _tessarin.IRS))


@given(mostly(fixings_inputs(), hostile, 80), st.booleans())
@example(fixings_input(), True)
def test_fixings_from_dict(data, strict):
    result = outcome("fixings_from_dict", _tessarin.fixings_from_dict, data, "", strict)
    if isinstance(result, BaseException):
        return
    fixings, doubts, problem = result
    assert (fixings is None) == (problem is not None or (strict and bool(doubts)))


@given(st.lists(st.one_of(swap_inputs().map(lambda s: {**s, "curve": "USD SOFR"}), hostile),
                max_size=4), st.booleans(), st.booleans())
def test_trades_from_dicts(entries, strict, columns):
    # One answer per entry, or the book's columns with every refused entry listed.
    result = outcome("trades_from_dicts", _tessarin.trades_from_dicts, entries, strict, columns)
    if isinstance(result, BaseException) or columns:
        return
    assert len(result) == len(entries) and all(len(entry) in (2, 4) for entry in result)


@given(
    mostly(
        st.one_of(st.tuples(dates_any), st.tuples(datetimes_any)),
        st.lists(st.one_of(scalars_hostile, containers_hostile), max_size=3).map(tuple),
        70,
    ),
    st.sampled_from(["built", "built", "unbuilt"]),
)
@example((dt.date(1, 1, 1),), "built")
@example((dt.date(1399, 12, 31),), "built")
@example((dt.date(1400, 1, 1),), "built")
@example((dt.date(9999, 12, 31),), "built")
@example((dt.datetime(9999, 12, 31, 23, 59, 59),), "built")
@example((VALUE_DATE,), "unbuilt")
def test_df(args, which):
    curve = CURVE if which == "built" else UNBUILT_CURVE
    result = outcome("df", curve.df, *args)
    valid_date = len(args) == 1 and _is_date(args[0])
    if not valid_date:
        assert isinstance(result, TypeError)
        assert str(result) == "parsing error. expecting date argument"
    elif which == "unbuilt":
        assert isinstance(result, RuntimeError)
    elif _day(args[0]) < FIRST:
        assert isinstance(result, RuntimeError)
        assert "Year is out of valid range" in str(result)
    else:
        assert type(result) is float
        assert result >= 0.0 and math.isfinite(result)


@given(
    mostly(
        st.just(()),
        st.lists(st.one_of(scalars_hostile, containers_hostile), min_size=1, max_size=2).map(tuple),
        30,
    ),
    st.sampled_from(["built", "unbuilt"]),
    st.sampled_from(["dates", "rates"]),
)
def test_dates_and_rates(args, which, method):
    curve = CURVE if which == "built" else UNBUILT_CURVE
    result = outcome(method, getattr(curve, method), *args)
    if args:
        assert isinstance(result, TypeError)
    elif which == "unbuilt":
        assert result is None
    else:
        assert isinstance(result, list) and len(result) == 3


@given(
    mostly(swap_inputs(), hostile, 85),
    mostly(st.just({}), st.dictionaries(st.sampled_from(["d", "x"]), hostile, max_size=1), 85),
)
@example(swap_input(), {})
@example(swap_input(start=dt.date(2026, 3, 18), end=dt.date(2026, 3, 18)), {})
@example(swap_input(start=dt.date(2031, 3, 18), end=dt.date(2026, 3, 18)), {})
@example(swap_input(notional=math.nan), {})
@example({**swap_input(), "termination date": dt.date(9999, 12, 31)}, {})
def test_irs(data, kwargs):
    swap = _check_built_or_clean("IRS", _tessarin.IRS, (data,), kwargs)
    if swap is None:
        return
    _reinit_fails_cleanly(swap, {})
    with pytest.raises(RuntimeError, match="not initialised"):
        swap.required_fixings(VALUE_DATE)


def _curve_argument():
    return mostly(
        st.just(CURVE), st.one_of(st.just(UNBUILT_CURVE), st.just(SWAP), scalars_hostile), 80
    )


def _fixings_argument():
    return mostly(st.one_of(st.none(), fixings_inputs()), hostile, 80)


def _swap_argument():
    return mostly(st.just(SWAP), st.one_of(st.just(UNBUILT_SWAP), swap_inputs()), 50)


def _call_query(method, swap, curve, fixings, by_keyword, extra):
    if isinstance(swap, dict):
        built = outcome("IRS", _tessarin.IRS, swap)
        if isinstance(built, BaseException):
            return None
        swap = built
    call = getattr(swap, method)
    kwargs = dict(extra)
    if by_keyword:
        kwargs["yield_curve"] = curve
        if fixings is not None:
            kwargs["fixings"] = fixings
        return outcome(method, call, **kwargs)
    args = (curve,) if fixings is None else (curve, fixings)
    return outcome(method, call, *args, **kwargs)


def _check_query(method, result, curve, fixings):
    if isinstance(result, BaseException) or result is None:
        return
    assert isinstance(result, dict)
    if method == "price":
        assert list(result) == ["Leg1 PV", "Leg2 PV", "NPV"]
        assert all(type(v) is float for v in result.values())
    elif method == "risk":
        assert list(result) == ["Tenor", "Leg1", "Leg2", "Net"]
    else:
        assert list(result) == ["Leg1", "Leg2"]


# Mostly no stray keywords, so that most cases reach the library.
query_extra = mostly(
    st.just({}), st.dictionaries(st.sampled_from(["x", "date"]), hostile, max_size=1), 85
)


@given(_swap_argument(), _curve_argument(), _fixings_argument(), st.booleans(), query_extra)
@example(SWAP, CURVE, fixings_input(), False, {})
@example(SWAP, CURVE, fixings_input(value=math.nan), False, {})
@example(SWAP, CURVE, {"SOFR": {"dates": [VALUE_DATE], "values": []}}, False, {})
def test_price(swap, curve, fixings, by_keyword, extra):
    result = _call_query("price", swap, curve, fixings, by_keyword, extra)
    _check_query("price", result, curve, fixings)


@given(_swap_argument(), _curve_argument(), _fixings_argument(), st.booleans(), query_extra)
@example(SWAP, CURVE, fixings_input(), False, {})
def test_risk(swap, curve, fixings, by_keyword, extra):
    result = _call_query("risk", swap, curve, fixings, by_keyword, extra)
    _check_query("risk", result, curve, fixings)


@given(
    _swap_argument(),
    st.one_of(st.none(), _curve_argument()),
    _fixings_argument(),
    st.booleans(),
    query_extra,
)
@example(SWAP, CURVE, fixings_input(), False, {})
@example(SWAP, None, None, False, {})
def test_cashflows(swap, curve, fixings, by_keyword, extra):
    if curve is None and fixings is None and not by_keyword:
        if isinstance(swap, dict):
            return
        outcome("cashflows", swap.cashflows, **extra)
        return
    result = _call_query("cashflows", swap, curve, fixings, by_keyword, extra)
    _check_query("cashflows", result, curve, fixings)


# Dates after the swap cost one list entry per business day up to them, so the
# generated ones stop at 2200; the far end of the range has its own examples.
required_dates = st.one_of(
    st.dates(dt.date(1, 1, 1), dt.date(2200, 12, 31)),
    st.datetimes(dt.datetime(1, 1, 1), dt.datetime(2200, 12, 31)),
)


@given(
    _swap_argument(),
    mostly(
        st.tuples(required_dates),
        st.lists(st.one_of(scalars_hostile, containers_hostile), max_size=2).map(tuple),
        70,
    ),
    mostly(st.just({}), st.dictionaries(st.sampled_from(["date", "x"]), hostile, max_size=1), 85),
)
@example(SWAP, (dt.date(1, 1, 1),), {})
@example(SWAP, (dt.date(1399, 12, 31),), {})
@example(SWAP, (dt.date(1400, 1, 1),), {})
@example(SWAP, (VALUE_DATE,), {})
@example(UNBUILT_SWAP, (VALUE_DATE,), {})
def test_required_fixings(swap, args, kwargs):
    if isinstance(swap, dict):
        swap = outcome("IRS", _tessarin.IRS, swap)
        if isinstance(swap, BaseException):
            return
    result = outcome("required_fixings", swap.required_fixings, *args, **kwargs)
    if not (len(args) == 1 and _is_date(args[0])):
        assert isinstance(result, TypeError)
        assert str(result) == "parsing error. expecting date argument"
    elif _day(args[0]) < FIRST:
        assert isinstance(result, RuntimeError)
    elif not isinstance(result, BaseException) and result is not None:
        # None is the empty answer: no floating period running at that date.
        assert isinstance(result, dict)
        for days in result.values():
            assert isinstance(days, list) and days == sorted(days)


@pytest.mark.parametrize("method", ["price", "risk", "cashflows"])
def test_queries_of_an_unbuilt_swap_say_so(method):
    with pytest.raises(RuntimeError, match="interest rate swap is not initialised"):
        getattr(UNBUILT_SWAP, method)(CURVE)


# Module functions: curve and swap analytics, each from valid arguments with one of them
# replaced, or cut, or one added. A wrong value of a right type (a day count, a date that is no
# date, a forward period that ends before it starts) may also be a ValueError.
ANALYTICS = {
    "curve_zero_rate": (CURVE, VALUE_DATE),
    "curve_forward_rate": (CURVE, VALUE_DATE, dt.date(2030, 1, 2), "ACT/360"),
    "curve_dfs": (CURVE, [VALUE_DATE, dt.date(2031, 5, 6)]),
    "curve_dfs_days": (CURVE, array.array("q", [20_000, 0]), array.array("d", [0.0, 0.0])),
    "irs_par_rate": (SWAP, CURVE, fixings_input()),
    "irs_annuity": (SWAP, CURVE),
    "irs_dv01": (SWAP, CURVE, None),
    "irs_required_fixings": (SWAP, VALUE_DATE),
    "format_table": ("T", ["a", "b"], [["x", "é"], ["1.0", " "]], [1]),
}


@given(st.sampled_from(sorted(ANALYTICS)), st.integers(0, 4),
       mostly(st.sampled_from([CURVE, SWAP, UNBUILT_CURVE, UNBUILT_SWAP]), hostile, 20),
       st.sampled_from(["replace", "replace", "keep", "cut", "add"]))
@example("curve_forward_rate", 3, "XYZ", "replace")
@example("curve_forward_rate", 2, VALUE_DATE, "replace")
@example("curve_dfs", 1, [VALUE_DATE, "x"], "replace")
@example("curve_dfs_days", 1, array.array("q", [-(2**63), 0]), "replace")
@example("curve_dfs_days", 2, bytearray(16), "replace")
@example("irs_dv01", 1, UNBUILT_CURVE, "replace")
@example("irs_required_fixings", 1, dt.date(1399, 12, 31), "replace")
def test_module_functions(name, position, value, how):
    args = list(ANALYTICS[name])
    position = min(position, len(args) - 1)
    if how == "replace":
        args[position] = value
    elif how == "cut":
        del args[position:]
    elif how == "add":
        args.append(value)
    if name == "irs_required_fixings" and any(
        isinstance(a, dt.date) and a.year > 2200 for a in args
    ):
        return  # one list entry per business day up to the date; see required_dates
    try:
        result = outcome(name, getattr(_tessarin, name), *args)
    except ValueError as error:
        assert str(error).strip()
        return
    if how == "keep":
        assert not isinstance(result, BaseException)
    if not isinstance(result, BaseException):
        assert result is None or isinstance(result, float | list | dict | str)


INPUT_KINDS = ["bool", "int", "number", "date", "text", "tenor", "calendar", "interpolation",
               "business day", "day count", "generator", "index", "unknown"]


@given(st.sampled_from(INPUT_KINDS), st.one_of(scalars_hostile, containers_hostile))
def test_check_input(kind, value):
    outcome("check_input", _tessarin.check_input, kind, value)


@given(st.lists(st.one_of(dates_any, scalars_hostile), max_size=3),
       st.one_of(st.none(), st.lists(st.one_of(st.integers(-2, 8), scalars_hostile), max_size=3),
                 scalars_hostile),
       st.booleans())
def test_register_calendar(holidays, weekend, extend):
    # A calendar of its own, so that the others keep their lists.
    result = outcome("register_calendar", _tessarin.register_calendar, "FUZZ", holidays,
                     weekend, extend)
    if result is None:
        names = [c["name"] for c in _tessarin.conventions()["calendars"]]
        assert "FUZZ" in names


calendar_names = st.one_of(st.sampled_from(["US", "US,EN", " TG , JP ", "", ",", "XX", "US,XX"]),
                           texts_any)


@given(calendar_names, st.one_of(dates_any, scalars_hostile),
       st.one_of(dates_any, scalars_hostile))
def test_calendar_holidays_and_business_days(name, start, end):
    listed = outcome("calendar_holidays", _tessarin.calendar_holidays, name, start, end)
    if isinstance(listed, list) and type(start) is dt.date and type(end) is dt.date:
        assert listed == sorted(set(listed)) and all(start <= d <= end for d in listed)
    is_open = outcome("is_business_day", _tessarin.is_business_day, name, start)
    assert isinstance(is_open, (bool, Exception))


@given(st.lists(st.one_of(dates_any, scalars_hostile), max_size=3), ints_any, ints_any,
       st.one_of(st.sampled_from(["rules", "user", "built-in", "made up"]), scalars_hostile))
def test_extend_calendar(holidays, first, last, source):
    _tessarin.register_calendar("FUZZ_EXTENDED", [])
    outcome("extend_calendar", _tessarin.extend_calendar, "FUZZ_EXTENDED", holidays, first,
            last, source)


@given(st.one_of(st.lists(st.tuples(st.just("FUZZ_STATE"), hostile, hostile, hostile, hostile),
                          max_size=2),
                 st.lists(st.tuples(st.just("FUZZ_STATE"), st.lists(st.integers(-1, 7)),
                                    st.lists(ints_any, max_size=3), st.just([]),
                                    st.lists(st.tuples(ints_any, ints_any, texts_any))),
                          max_size=2),
                 hostile))
def test_restore_calendars(state):
    restored = outcome("restore_calendars", _tessarin.restore_calendars, state) is None
    if restored and type(state) is list and len(state) > 0:
        assert "FUZZ_STATE" in [c["name"] for c in _tessarin.conventions()["calendars"]]
