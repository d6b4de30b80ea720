"""The exported flat entry functions and the handle registry, called directly."""

import ctypes

import pytest

import _tessarin
from conftest import NOT_INITIALISED, VALUE_DATE, error_text, usd_curve_input, usd_swap_input


def test_a_failed_build_returns_null_with_status_minus_one(entry):
    status = ctypes.c_int(7)
    with pytest.raises(RuntimeError, match=r"^No such node \(id\)$"):
        entry.buildYieldCurve({"value date": VALUE_DATE}, ctypes.byref(status))
    assert status.value == -1

    status.value = 7
    with pytest.raises(RuntimeError, match="^Missing mandatory input: "):
        entry.buildInterestRateSwap({}, ctypes.byref(status))
    assert status.value == -1


def test_build_query_delete_round_trip(entry):
    status = ctypes.c_int(-1)
    handle = entry.buildYieldCurve(usd_curve_input(tenors=["1Y", "2Y"]), ctypes.byref(status))
    assert status.value == 0 and handle
    dates = entry.yieldCurveDates(handle)
    assert len(dates) == 2 and len(entry.yieldCurveRates(handle)) == 2

    status.value = -1
    df = entry.yieldCurveDf(
        handle, dates[1].year, dates[1].month, dates[1].day, ctypes.byref(status)
    )
    assert status.value == 0 and 0.9 < df < 1.0

    entry.deleteYieldCurve(handle)
    assert entry.yieldCurveDates(handle) is None
    assert entry.yieldCurveRates(handle) is None
    text = error_text(RuntimeError, entry.yieldCurveDf, handle, 2027, 1, 4, ctypes.byref(status))
    assert text == NOT_INITIALISED.format("yield curve")
    assert status.value == -1


def test_handles_of_the_other_class_resolve_to_nothing(entry, usd_curve):
    swap = _tessarin.IRS(usd_swap_input())
    swap_handle = entry.handle(swap)
    assert entry.yieldCurveDates(swap_handle) is None
    assert entry.yieldCurveRates(swap_handle) is None
    status = ctypes.c_int(0)
    text = error_text(RuntimeError, entry.yieldCurveDf, swap_handle, 2027, 1, 4,
                      ctypes.byref(status))
    assert text == NOT_INITIALISED.format("yield curve")
    assert status.value == -1
    curve_handle = entry.handle(usd_curve)
    text = error_text(RuntimeError, entry.interestRateSwapPrice, curve_handle, curve_handle, None,
                      ctypes.byref(status))
    assert text == NOT_INITIALISED.format("interest rate swap")
    assert status.value == -1
    assert entry.yieldCurveDates(None) is None


def test_deleting_unknown_null_or_deleted_handles_does_nothing(entry, usd_curve):
    rates = usd_curve.rates()
    entry.deleteYieldCurve(None)
    entry.deleteInterestRateSwap(None)
    entry.deleteYieldCurve(entry.handle(usd_curve) + 8)

    status = ctypes.c_int(-1)
    handle = entry.buildInterestRateSwap(usd_swap_input(), ctypes.byref(status))
    assert status.value == 0
    entry.deleteInterestRateSwap(handle)
    entry.deleteInterestRateSwap(handle)
    entry.deleteYieldCurve(handle)
    assert usd_curve.rates() == rates


def test_swap_price_with_null_fixings_and_status(entry, usd_curve):
    status = ctypes.c_int(-1)
    swap = _tessarin.IRS(usd_swap_input())
    result = entry.interestRateSwapPrice(
        entry.handle(swap), entry.handle(usd_curve), None, ctypes.byref(status)
    )
    assert status.value == 0
    assert result == swap.price(usd_curve)
