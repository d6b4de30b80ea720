"""_tessarin.YieldCurve: construction, df/dates/rates, messages, lifetime."""

import contextlib
import datetime as dt
import math
import os
import sys

import pytest

import _tessarin
from conftest import (
    BRACKETING,
    DELETE,
    NOT_INITIALISED,
    PARSING,
    USD_QUOTES,
    USD_TENORS,
    VALUE_DATE,
    YEAR_RANGE,
    edit,
    error_text,
    usd_curve_input,
)

NO_CURVE = NOT_INITIALISED.format("yield curve")


def curve_time(d):
    return (d - VALUE_DATE).days / 365.0


@pytest.mark.parametrize("interpolation", [None, "LinearRates", "linearlogdf"])
def test_df_at_each_pillar_is_exp_of_minus_rate_times_time(interpolation):
    extra = {} if interpolation is None else {"interpolation": interpolation}
    curve = _tessarin.YieldCurve(usd_curve_input(**extra))
    dates, rates = curve.dates(), curve.rates()
    assert len(dates) == len(rates) == len(USD_TENORS)
    assert dates == sorted(dates) and dates[0] > VALUE_DATE
    for pillar, rate in zip(dates, rates, strict=True):
        assert curve.df(pillar) == pytest.approx(
            math.exp(-rate * curve_time(pillar)), rel=0, abs=1e-14
        )


def test_pillars_are_the_last_payment_dates_and_rates_lie_near_the_quotes(usd_curve):
    # 1M from spot 2026-03-18 ends Saturday 2026-04-18, rolled to Monday the 20th,
    # paid two business days later; 1Y ends 2027-03-18 and is paid on the 22nd.
    dates = usd_curve.dates()
    assert dates[0] == dt.date(2026, 4, 22)
    assert dates[USD_TENORS.index("1Y")] == dt.date(2027, 3, 22)
    for rate, quote in zip(usd_curve.rates(), USD_QUOTES, strict=True):
        assert abs(rate - quote / 100) < 0.002  # continuously compounded decimals


def test_linear_rates_interpolate_the_zero_rate_in_time():
    curve = _tessarin.YieldCurve(usd_curve_input(interpolation="LinearRates"))
    dates, rates = curve.dates(), curve.rates()
    for i in range(len(dates) - 1):
        middle = dates[i] + (dates[i + 1] - dates[i]) / 2
        t0, t1, t = curve_time(dates[i]), curve_time(dates[i + 1]), curve_time(middle)
        rate = rates[i] + (rates[i + 1] - rates[i]) * (t - t0) / (t1 - t0)
        assert curve.df(middle) == pytest.approx(math.exp(-rate * t), rel=1e-14)


def test_df_is_one_up_to_the_value_date_and_takes_the_date_of_a_datetime(usd_curve):
    assert usd_curve.df(VALUE_DATE) == usd_curve.df(dt.date(1400, 1, 1)) == 1.0
    assert usd_curve.df(dt.datetime(2029, 7, 4, 18, 30)) == usd_curve.df(dt.date(2029, 7, 4))


@pytest.mark.parametrize(("args", "error", "message"), [
    *[(args, TypeError, PARSING)
      for args in [("2026-06-01",), (), (VALUE_DATE, VALUE_DATE), (None,), (dt.time(12),)]],
    ((dt.date(1399, 12, 31),), RuntimeError, YEAR_RANGE),
], ids=repr)  # fmt: skip
def test_df_refuses_anything_but_one_valid_date(usd_curve, args, error, message):
    assert error_text(error, usd_curve.df, *args) == message


def _without(key):
    return edit(usd_curve_input(), key)


def _with_instrument(column, row, value=DELETE):
    return edit(usd_curve_input(), "instruments", column, row, value=value)


@pytest.mark.parametrize(("data", "message"), [
    *[(_without(key), f"No such node ({key})")
      for key in ("value date", "id", "currency", "instruments")],
    (usd_curve_input(value_date="2026-02-30"), "Day of month is not valid for year"),
    (usd_curve_input(value_date="next monday"),
     'BoxedValue: cannot convert string "next monday" to gregorian::date'),
    (usd_curve_input(interpolation=""), "empty string"),
    (usd_curve_input(interpolation="Linear"), "unknown value"),
    (usd_curve_input(interpolation=1), "std::bad_cast"),
    (usd_curve_input(interpolation={"a": 1}), "std::bad_cast"),
    (_with_instrument("quote", -1), "Instruments input should be of the same size."),
    (_with_instrument("in use", -1), "Instruments input should be of the same size."),
    (_with_instrument("generator", 3, "EUR SOFR SW"),
     "No object registered under label: EUR SOFR SW"),
    (_with_instrument("in use", 3, "maybe"), 'BoxedValue: cannot convert string "maybe" to bool'),
    (_with_instrument("quote", 3, True), "BoxedValue: cannot convert to double"),
    # unused instruments must still resolve
    (edit(_with_instrument("generator", 2, "NO SUCH SW"), "instruments", "in use", 2, value=False),
     "No object registered under label: NO SUCH SW"),
    (usd_curve_input(tenors=["1M"], quotes=[500.0]), BRACKETING),
], ids=lambda v: v if isinstance(v, str) else None)  # fmt: skip
def test_construction_failures_are_runtime_errors_with_the_library_text(data, message):
    assert error_text(RuntimeError, _tessarin.YieldCurve, data) == message


def test_a_curve_without_instruments_in_use_builds_but_cannot_discount():
    curve = _tessarin.YieldCurve(usd_curve_input(in_use=[False] * len(USD_TENORS)))
    assert curve.dates() == [] and curve.rates() == []
    with pytest.raises(RuntimeError, match=r"^Error, the curve has no pillars\.$"):
        curve.df(VALUE_DATE + dt.timedelta(days=1))


def test_an_object_that_was_never_initialised():
    curve = _tessarin.YieldCurve.__new__(_tessarin.YieldCurve)
    assert curve.dates() is None
    assert curve.rates() is None
    assert error_text(RuntimeError, curve.df, VALUE_DATE) == NO_CURVE


def test_reinitialising_replaces_the_curve_and_drops_the_old_one(entry):
    curve = _tessarin.YieldCurve(usd_curve_input(tenors=["1Y"]))
    old = entry.handle(curve)
    assert entry.yieldCurveRates(old) == curve.rates()

    curve.__init__(usd_curve_input(tenors=["1Y", "2Y"]))
    assert len(curve.dates()) == 2
    assert entry.yieldCurveRates(old) is None

    current = entry.handle(curve)
    with pytest.raises(RuntimeError, match="^No such node"):
        curve.__init__(_without("id"))
    assert entry.handle(curve) is None
    assert entry.yieldCurveRates(current) is None
    assert curve.dates() is None
    assert error_text(RuntimeError, curve.df, VALUE_DATE) == NO_CURVE


def test_deallocation_drops_the_registry_entry(entry):
    curve = _tessarin.YieldCurve(usd_curve_input(tenors=["1Y"]))
    handle = entry.handle(curve)
    assert entry.yieldCurveRates(handle) == curve.rates()
    del curve
    assert entry.yieldCurveRates(handle) is None


def test_building_leaves_the_reference_counts_of_its_input_alone():
    data = usd_curve_input()
    instruments = data["instruments"]
    values = [data["value date"], data["id"], instruments, *instruments.values()]
    before = [sys.getrefcount(v) for v in (data, *values)]
    for _ in range(5):
        _tessarin.YieldCurve(data)
    instruments["tenor"].append("40Y")  # columns of unequal length now
    for _ in range(5):
        with pytest.raises(RuntimeError):
            _tessarin.YieldCurve(data)
    instruments["tenor"].pop()
    assert [sys.getrefcount(v) for v in (data, *values)] == before


def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.slow
@pytest.mark.skipif(
    bool(os.environ.get("TESSARIN_SANITIZED")),
    reason="the sanitizer's quarantine holds freed memory",
)
def test_building_and_dropping_many_curves_does_not_grow_memory():
    good = usd_curve_input(tenors=["1Y", "2Y", "5Y"])
    bad = usd_curve_input(tenors=["1Y", "2Y", "5Y"])
    bad["instruments"]["tenor"][1] = ("2Y",)
    day = dt.date(2027, 9, 1)

    def churn(count):
        for _ in range(count):
            curve = _tessarin.YieldCurve(good)
            curve.df(day)
            curve.dates()
            curve.rates()
            curve.__init__(good)
            with contextlib.suppress(RuntimeError):
                _tessarin.YieldCurve(bad)

    churn(1_000)  # let allocator pools settle
    start = _resident_bytes()
    churn(10_000)
    growth = _resident_bytes() - start
    # One leaked curve or input dict per round would be tens of megabytes.
    assert growth < 4 * 1024 * 1024, f"resident memory grew by {growth} bytes"


@pytest.mark.parametrize("interpolation", ["LinearRates", "LinearLogDf"])
def test_curve_from_a_dict_matches_the_curve_built_from_cpp_values(testing, interpolation):
    curve = _tessarin.YieldCurve(usd_curve_input(interpolation=interpolation))
    dates, rates = testing.bootstrap_direct(
        VALUE_DATE, interpolation, "USD SOFR SW", list(USD_TENORS), [float(q) for q in USD_QUOTES]
    )
    assert curve.dates() == dates
    for ours, direct in zip(curve.rates(), rates, strict=True):
        assert ours == pytest.approx(direct, rel=0, abs=1e-14)
