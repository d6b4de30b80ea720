"""Exact key-rate risk: `_tessarin.irs_analytic_risk`, `_tessarin.yield_curve_jacobian` and
`method="analytic"` of the package, against bumping and finite differences."""

import datetime as dt

import pytest

import _tessarin
import tessarin
from conftest import NOT_INITIALISED, USD_QUOTES, VALUE_DATE, usd_curve_input, usd_swap_input


def sofr_fixings(start, end):
    """A SOFR fixing on every weekday from start through end (holidays too: extra dates are
    ignored)."""
    days = [start + dt.timedelta(n) for n in range((end - start).days + 1)]
    days = [d for d in days if d.weekday() < 5]
    return {"SOFR": {"dates": days, "values": [0.043 + 1e-5 * (i % 7) for i in range(len(days))]}}


SEASONED = usd_swap_input(start=dt.date(2025, 11, 10), end=dt.date(2032, 11, 10), rate=0.037,
                          notional=2e6, margin=0.001)  # fmt: skip
CASES = {
    "spot 5Y": (usd_swap_input(), None),
    "forward 2Y into 3Y": (usd_swap_input(start=dt.date(2028, 3, 20), end=dt.date(2031, 3, 18),
                                          fixed_paid=False), None),  # fmt: skip
    "seasoned with fixings": (SEASONED, sofr_fixings(dt.date(2025, 11, 1), VALUE_DATE)),
    "past the last pillar": (usd_swap_input(end=dt.date(2061, 3, 18)), None),
}


# Linear, a spline solved globally, a log-linear front with a spline behind it, and
# monotone-convex forwards.
SHAPES = {"log-linear": {}, "log-cubic": {"interpolation": "LogCubic"},
          "mixed": {"interpolation": "LogCubic", "cubic from": "2Y"},
          "monotone-convex": {"interpolation": "MonotoneConvex"}}


@pytest.fixture(scope="module", params=list(SHAPES))
def shape(request):
    return SHAPES[request.param]


@pytest.fixture(scope="module")
def curve(shape):
    in_use = [i != 4 for i in range(len(USD_QUOTES))]
    return tessarin.YieldCurve(usd_curve_input(in_use=in_use, **shape))


@pytest.mark.parametrize("name", list(CASES))
def test_analytic_risk_has_the_shape_of_bumped_risk_and_agrees(curve, name):
    swap_input, fixings = CASES[name]
    swap = tessarin.IRS(swap_input)
    bumped = swap.risk(curve, fixings)
    exact = swap.risk(curve, fixings, method="analytic")
    assert list(exact) == list(bumped) == ["Tenor", "Leg1", "Leg2", "Net", "Unit", "Currency"]
    assert exact["Tenor"] == bumped["Tenor"]
    assert (exact["Unit"], exact["Currency"]) == (bumped["Unit"], bumped["Currency"]) == (
        "per 1bp", "USD")
    notional = swap_input["leg1"]["notional"]
    for key in ("Leg1", "Leg2", "Net"):
        assert len(exact[key]) == len(bumped[key])
        assert exact[key] == pytest.approx(bumped[key], rel=0, abs=1e-11 * notional)
    assert exact["Net"][4] == 0.0  # the unused row
    # The native function gives the same numbers per 1.00 of quote, 100 times larger.
    native = _tessarin.irs_analytic_risk(swap.native, curve.native, fixings)
    assert native["Tenor"] == exact["Tenor"]
    for key in ("Leg1", "Leg2", "Net"):
        assert [value / 100.0 for value in native[key]] == exact[key]


def test_jacobian_agrees_with_finite_differences_of_rebuilt_curves(curve, shape):
    jacobian = curve.jacobian()
    quotes = list(USD_QUOTES)
    in_use = [i != 4 for i in range(len(quotes))]
    assert len(jacobian) == len(curve.dates())
    assert all(len(row) == len(quotes) for row in jacobian)
    bump = 1e-4
    for m in range(len(quotes)):
        rates = []
        for sign in (1, -1):
            moved = quotes[:m] + [quotes[m] + sign * bump] + quotes[m + 1:]
            rates.append(tessarin.YieldCurve(usd_curve_input(quotes=moved, in_use=in_use, **shape)).rates())
        for k, row in enumerate(jacobian):
            assert row[m] == pytest.approx((rates[0][k] - rates[1][k]) / (2 * bump), abs=1e-8)
    assert all(row[4] == 0.0 for row in jacobian)


def test_an_unknown_method_is_a_value_error(curve):
    swap = tessarin.IRS(usd_swap_input())
    with pytest.raises(ValueError, match="method"):
        swap.risk(curve, method="exact")
    with pytest.raises(ValueError, match="method"):
        swap.risk_frame(curve, method="")


@pytest.mark.parametrize("call", [
    lambda swap, curve: _tessarin.irs_analytic_risk(curve, curve),
    lambda swap, curve: _tessarin.irs_analytic_risk(swap, swap),
    lambda swap, curve: _tessarin.irs_analytic_risk(swap),
    lambda swap, curve: _tessarin.irs_analytic_risk(swap, curve, [1, 2]),
    lambda swap, curve: _tessarin.yield_curve_jacobian(swap),
    lambda swap, curve: _tessarin.yield_curve_jacobian(None),
    lambda swap, curve: tessarin.IRS(usd_swap_input()).risk(3, method="analytic"),
])
def test_wrong_argument_types_are_type_errors(curve, call):
    with pytest.raises(TypeError):
        call(_tessarin.IRS(usd_swap_input()), curve.native)


def test_library_failures_are_runtime_errors(curve):
    swap = _tessarin.IRS(usd_swap_input(start=dt.date(2026, 1, 5)))
    with pytest.raises(RuntimeError, match="No fixings for index SOFR"):
        _tessarin.irs_analytic_risk(swap, curve.native)
    empty = _tessarin.YieldCurve.__new__(_tessarin.YieldCurve)
    with pytest.raises(RuntimeError, match=NOT_INITIALISED.format("yield curve")):
        _tessarin.yield_curve_jacobian(empty)
    with pytest.raises(RuntimeError, match=NOT_INITIALISED.format("yield curve")):
        _tessarin.irs_analytic_risk(swap, empty)


@pytest.mark.parametrize("instruments", [([], [], []), (["1Y"], [4.0], [False])])
def test_curves_without_pillars_give_the_dict_of_bumping(instruments):
    tenors, quotes, in_use = instruments
    curve = _tessarin.YieldCurve(usd_curve_input(tenors=tenors, quotes=quotes, in_use=in_use))
    swap = _tessarin.IRS(usd_swap_input())
    assert _tessarin.irs_analytic_risk(swap, curve) == swap.risk(curve)
    assert _tessarin.yield_curve_jacobian(curve) == []
