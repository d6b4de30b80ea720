"""Module import, its types and the built-in conventions it registers."""

import re

import pytest

import _tessarin
from conftest import assert_clean_exit, run_isolated, usd_curve_input, usd_swap_input

MODULE_TYPES = ["Book", "IRS", "YieldCurve"]
MODULE_FUNCTIONS = [
    "calendar_holidays",
    "calendar_state",
    "check_input",
    "conventions",
    "curve_from_dict",
    "curve_dfs",
    "curve_dfs_days",
    "curve_forward_rate",
    "curve_repriced",
    "curve_zero_rate",
    "extend_calendar",
    "fixings_from_dict",
    "format_floats",
    "format_table",
    "irs_analytic_risk",
    "irs_annuity",
    "irs_dv01",
    "irs_par_rate",
    "irs_required_fixings",
    "is_business_day",
    "register_calendar",
    "restore_calendars",
    "revalue_scenarios",
    "scenario_engine",
    "swap_from_dict",
    "trades_from_dicts",
    "yield_curve_jacobian",
]


def test_module_offers_exactly_its_types_and_functions():
    public = sorted(name for name in vars(_tessarin) if not name.startswith("__"))
    assert public == sorted([*MODULE_TYPES, *MODULE_FUNCTIONS])
    assert all(type(getattr(_tessarin, name)).__name__ == "builtin_function_or_method"
               for name in MODULE_FUNCTIONS)
    assert _tessarin.__doc__ is None
    assert _tessarin.YieldCurve.__module__ == "_tessarin"


def test_import_anywhere_registers_conventions_reimport_reuses_and_exit_is_clean(tmp_path):
    result = run_isolated(f"""
        import os, sys
        os.chdir({str(tmp_path)!r})
        import _tessarin
        curve = _tessarin.YieldCurve({{"value date": "2026-03-16", "id": "c", "currency": "USD",
            "instruments": {{"generator": ["USD SOFR SW", "GBP SONIA SW", "JPY TONA SW"],
                            "tenor": ["1Y", "1Y", "1Y"], "quote": [4.0, 4.0, 0.5],
                            "in use": [True, False, False]}}}})
        print(len(curve.dates()))
        first = _tessarin.YieldCurve
        del sys.modules["_tessarin"]
        import _tessarin
        print(_tessarin.YieldCurve is first)
        # objects still alive at exit, one never initialised, are released cleanly
        keep = [curve, _tessarin.IRS.__new__(_tessarin.IRS)]
    """)
    assert_clean_exit(result, "1\nTrue")


@pytest.mark.parametrize(("cls", "data", "shown"), [
    (_tessarin.YieldCurve, usd_curve_input(tenors=["1Y"]), "YieldCurveObject"),
    (_tessarin.IRS, usd_swap_input(), "InterestRateSwapObject"),
])  # fmt: skip
def test_both_types_take_one_dict_show_their_address_and_cannot_be_subclassed(cls, data, shown):
    for args, message in [((), r"exactly 1 argument \(0 given\)"),
                          (([],), "must be dict, not list"),
                          ((data, 1), r"exactly 1 argument \(2 given\)")]:  # fmt: skip
        with pytest.raises(TypeError, match=message):
            cls(*args)
    with pytest.raises(TypeError, match=r"exactly 1 argument \(0 given\)"):
        cls(data=data)  # keywords are ignored
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    for obj in (cls(data), cls.__new__(cls)):  # built, and never initialised
        address = re.fullmatch(f"<{shown} at 0x([0-9a-f]+)>", repr(obj)).group(1)
        assert int(address, 16) == id(obj)
