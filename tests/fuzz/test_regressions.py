"""Inputs the robustness suite found, each named in its test, with the answer
the library now gives."""

import datetime as dt
import math

import pytest
from fuzzing import (
    VALUE_DATE,
    Pool,
    ReprMutates,
    ReprRaises,
    fixings_input,
    nested_list,
    small_curve_input,
    swap_input,
)

import _tessarin

POOL = Pool()


@pytest.fixture(scope="module")
def curve():
    return _tessarin.YieldCurve(small_curve_input())


def _refused(build, data, message):
    with POOL.steady():
        before = POOL.size()
        with pytest.raises(RuntimeError) as refused:
            build(data)
        after = POOL.size()
    assert str(refused.value) == message
    assert after == before


@pytest.mark.parametrize(
    ("quote", "shown"),
    [
        (math.nan, "nan"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        ("nan", "nan"),  # text that parses to NaN
        ("-Infinity", "-inf"),
    ],
)
def test_quote_nan_or_infinite_in_row_1_names_the_row(quote, shown):
    data = small_curve_input()
    data["instruments"]["quote"][1] = quote
    _refused(
        _tessarin.YieldCurve,
        data,
        f"Error, the quote of instrument 1 (USD SOFR SW 2Y) is not finite: {shown}",
    )


def test_quote_nan_in_a_row_out_of_use_is_left_alone():
    data = small_curve_input()
    data["instruments"]["quote"][2] = math.nan
    data["instruments"]["in use"][2] = False
    curve = _tessarin.YieldCurve(data)
    assert len(curve.dates()) == 2


def test_quote_of_500_percent_still_fails_the_root_search():
    data = small_curve_input(quotes=(4.0, 500.0, 4.0))
    with pytest.raises(RuntimeError, match="do not bracket the root"):
        _tessarin.YieldCurve(data)


@pytest.mark.parametrize("key", ["notional", "rate"])
@pytest.mark.parametrize(
    ("value", "shown"), [(math.nan, "nan"), (math.inf, "inf"), ("-inf", "-inf")]
)
def test_fixed_leg_number_nan_or_infinite_is_refused(key, value, shown):
    data = swap_input()
    data["leg1"][key] = value
    _refused(_tessarin.IRS, data, f"Error, the {key} of leg1 of swap USD 3Y is not finite: {shown}")


@pytest.mark.parametrize("key", ["notional", "margin"])
def test_floating_leg_number_nan_is_refused(key):
    data = swap_input()
    data["leg2"][key] = math.nan
    _refused(_tessarin.IRS, data, f"Error, the {key} of leg2 of swap USD 3Y is not finite: nan")


def test_huge_finite_notional_1e308_still_prices():
    # Finite inputs are taken as they come; the sums may overflow to infinity.
    swap = _tessarin.IRS(swap_input(notional=1e308))
    assert set(swap.price(_tessarin.YieldCurve(small_curve_input()), fixings_input())) == {
        "Leg1 PV",
        "Leg2 PV",
        "NPV",
    }


def test_effective_date_2031_after_termination_2026_is_refused():
    data = swap_input(start=dt.date(2031, 3, 18), end=dt.date(2026, 3, 18))
    _refused(
        _tessarin.IRS,
        data,
        "Error, the start date 2031-03-18 of swap USD 3Y is after its end date 2026-03-18.",
    )


def test_effective_date_equal_to_termination_prices_nothing(curve):
    swap = _tessarin.IRS(swap_input(start=dt.date(2026, 3, 18), end=dt.date(2026, 3, 18)))
    assert swap.price(curve) == {"Leg1 PV": -0.0, "Leg2 PV": 0.0, "NPV": 0.0}
    with pytest.raises(RuntimeError, match="has no periods"):
        swap.risk(curve)


@pytest.mark.parametrize(("value", "shown"), [(math.nan, "nan"), (-math.inf, "-inf")])
def test_fixing_nan_or_infinite_on_2026_03_02_is_refused(curve, value, shown):
    fixings = fixings_input()
    at = fixings["SOFR"]["dates"].index(dt.date(2026, 3, 2))
    fixings["SOFR"]["values"][at] = value
    swap = _tessarin.IRS(swap_input(start=dt.date(2026, 2, 2)))
    for method in (swap.price, swap.risk, swap.cashflows):
        with pytest.raises(RuntimeError) as refused:
            method(curve, fixings)
        assert str(refused.value) == (
            f"Error, the fixing of index SOFR on 2026-03-02 is not finite: {shown}"
        )


@pytest.mark.parametrize(
    "value",
    [ReprRaises(), (nested_list(100_000),)],
    ids=["repr raises", "tuple around 100000 nested lists"],
)
def test_unsupported_value_whose_repr_fails_is_reported_as_unknown(value):
    data = small_curve_input()
    data["id"] = value
    _refused(_tessarin.YieldCurve, data, "[root.id] unsupported Python type: <unknown>")


def test_repr_that_empties_the_dict_being_converted():
    data = small_curve_input()
    data["zz"] = ReprMutates(data)
    with pytest.raises(RuntimeError, match=r"^\[root\.zz\] unsupported Python type: ReprMutates"):
        _tessarin.YieldCurve(data)


def test_100000_nested_lists_as_fixings_end_in_recursion_error(curve):
    swap = _tessarin.IRS(swap_input())
    with pytest.raises(RecursionError):
        swap.price(curve, {"SOFR": {"dates": nested_list(100_000), "values": []}})


@pytest.mark.parametrize("year", [1, 1399])
def test_dates_before_1400_are_refused_by_every_date_argument(curve, year):
    day = dt.date(year, 12, 31)
    swap = _tessarin.IRS(swap_input())
    for call in (curve.df, swap.required_fixings):
        with pytest.raises(RuntimeError, match=r"^Year is out of valid range: 1400\.\.9999$"):
            call(day)
    with pytest.raises(RuntimeError, match=r"^Year is out of valid range: 1400\.\.9999$"):
        _tessarin.YieldCurve(small_curve_input(value_date=day))


def test_df_on_9999_12_31_is_a_tiny_positive_number(curve):
    assert 0.0 <= curve.df(dt.date(9999, 12, 31)) < 1e-100
    assert curve.df(VALUE_DATE) == 1.0


class ReprDropsObjects:
    """repr() re-initialises the curve and the swap that the running call
    resolved, which drops both from the registry while the call holds them."""

    def __init__(self, *objects):
        self.objects = objects

    def __repr__(self):
        for obj in self.objects:
            with pytest.raises(RuntimeError):
                obj.__init__({})
        return "ReprDropsObjects()"


@pytest.mark.parametrize("method", ["price", "risk", "cashflows"])
def test_fixings_value_whose_repr_drops_the_curve_and_swap_mid_call(method):
    curve = _tessarin.YieldCurve(small_curve_input())
    swap = _tessarin.IRS(swap_input())
    fixings = {"SOFR": {"dates": [VALUE_DATE], "values": [ReprDropsObjects(curve, swap)]}}
    with POOL.steady():
        before = POOL.size()
        with pytest.raises(RuntimeError, match=r"^\[root\.SOFR\.values\[0\]\] unsupported"):
            getattr(swap, method)(curve, fixings)
        assert POOL.size() == before - 2
    assert curve.dates() is None
    with pytest.raises(RuntimeError, match="not initialised"):
        swap.price(_tessarin.YieldCurve(small_curve_input()))
