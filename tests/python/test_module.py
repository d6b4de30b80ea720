"""Module import, its types and the built-in conventions it registers."""


import _tessarin
from conftest import assert_clean_exit, run_isolated


def test_module_offers_exactly_the_two_types():
    public = sorted(name for name in vars(_tessarin) if not name.startswith("__"))
    assert public == ["IRS", "YieldCurve"]
    assert _tessarin.__doc__ is None
    assert _tessarin.YieldCurve.__module__ == "_tessarin"
    assert _tessarin.IRS.__name__ == "IRS"


def test_import_from_any_directory_registers_the_conventions(tmp_path):
    result = run_isolated(f"""
        import os
        os.chdir({str(tmp_path)!r})
        import _tessarin
        curve = _tessarin.YieldCurve({{"value date": "2026-03-16", "id": "c", "currency": "USD",
            "instruments": {{"generator": ["USD SOFR SW", "GBP SONIA SW", "JPY TONA SW"],
                            "tenor": ["1Y", "1Y", "1Y"], "quote": [4.0, 4.0, 0.5],
                            "in use": [True, False, False]}}}})
        print(len(curve.dates()))
    """)
    assert_clean_exit(result, "1")


def test_reimport_reuses_the_initialised_module():
    result = run_isolated("""
        import sys
        import _tessarin
        first = _tessarin.YieldCurve
        del sys.modules["_tessarin"]
        import _tessarin
        print(_tessarin.YieldCurve is first)
    """)
    assert_clean_exit(result, "True")


def test_objects_alive_at_exit_are_released_cleanly():
    result = run_isolated("""
        import _tessarin
        curve = _tessarin.YieldCurve({"value date": "2026-03-16", "id": "c", "currency": "USD",
            "instruments": {"generator": ["USD SOFR SW"], "tenor": ["1Y"], "quote": [4.0],
                            "in use": [True]}})
        keep = [curve, _tessarin.IRS.__new__(_tessarin.IRS)]
        print("done")
    """)
    assert_clean_exit(result, "done")
