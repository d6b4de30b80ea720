"""Shared fixtures: a USD SOFR curve, USD swaps on it, and helpers that run
code in a fresh interpreter or call the module's flat entry functions."""

import ctypes
import datetime as dt
import json
import os
import subprocess
import sys
import textwrap
import typing
from pathlib import Path

import pytest

import _tessarin
import tessarin

VALUE_DATE = dt.date(2026, 3, 16)  # a Monday
SPOT_DATE = dt.date(2026, 3, 18)  # two US business days later

USD_TENORS = ["1M", "2M", "3M", "6M", "9M", "1Y", "18M", "2Y", "3Y", "4Y", "5Y", "7Y", "10Y",
              "12Y", "15Y", "20Y", "25Y", "30Y"]  # fmt: skip
USD_QUOTES = [4.31, 4.30, 4.28, 4.21, 4.12, 4.02, 3.87, 3.76, 3.64, 3.59, 3.58, 3.61, 3.69,
              3.74, 3.80, 3.85, 3.83, 3.79]  # fmt: skip

NOT_INITIALISED = "Error, the {} is not initialised."
PARSING = "parsing error. expecting date argument"
YEAR_RANGE = "Year is out of valid range: 1400..9999"
MISSING = "Missing mandatory input: "
BRACKETING = ("Error in function boost::math::tools::toms748_solve<double>: "
              "Parameters a and b do not bracket the root: a=-1")  # fmt: skip
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def example(name):
    """A bundled example file, parsed."""
    return json.loads((EXAMPLES / name).read_text())


def example_curves():
    """The example market's curve inputs by id, as the package loads them."""
    return {c["id"]: c for c in tessarin.load_market(EXAMPLES / "market.json")}


def example_trades():
    """The example trades by swap id, as the package loads them."""
    return {t.swap["id"]: t for t in tessarin.load_trades(EXAMPLES / "trades.json")}


DELETE = object()


def edit(document, *path, value=DELETE):
    """The document with the item at path set to value, or deleted; edits in place."""
    target = document
    for key in path[:-1]:
        target = target[key]
    if value is DELETE:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return document


def error_text(error_type, call, *args, **kwargs):
    """The message of the error that call(*args, **kwargs) must raise."""
    with pytest.raises(error_type) as error:
        call(*args, **kwargs)
    text = str(error.value)
    del error  # the traceback's frames would keep the arguments alive in a cycle
    return text


USD_LEG = {"currency": "USD", "calendar": "US", "frequency": "1Y",
           "day count convention": "ACT/360", "accrual adjustment": "Modified Following",
           "accrual calendar": "US", "pay adjustment": "Following", "pay calendar": "US",
           "pay lag": 2}  # fmt: skip


def usd_curve_input(quotes=None, in_use=None, tenors=None, value_date=VALUE_DATE, **extra):
    """A USD SOFR OIS curve dict, quotes in percent."""
    tenors = list(USD_TENORS if tenors is None else tenors)
    quotes = list(USD_QUOTES[: len(tenors)] if quotes is None else quotes)
    in_use = [True] * len(tenors) if in_use is None else list(in_use)
    return {"value date": value_date, "id": "USD SOFR", "currency": "USD",
            "instruments": {"generator": ["USD SOFR SW"] * len(tenors), "tenor": tenors,
                            "quote": quotes, "in use": in_use}, **extra}  # fmt: skip


def usd_swap_input(start=SPOT_DATE, end=dt.date(2031, 3, 18), rate=0.0358, notional=1e6,
                   margin=0.0, fixed_paid=True, swap_id="USD 5Y"):  # fmt: skip
    """A USD SOFR swap dict: leg1 fixed, leg2 floating, conventions of "USD SOFR SW"."""
    return {"id": swap_id, "effective date": start, "termination date": end,
            "schedule roll": "backward",
            "leg1": {**USD_LEG, "is fixed": True, "is paid": fixed_paid, "notional": notional,
                     "rate": rate},
            "leg2": {**USD_LEG, "is fixed": False, "is paid": not fixed_paid,
                     "notional": notional, "index": "SOFR", "margin": margin}}  # fmt: skip


@pytest.fixture(scope="session")
def testing():
    """The conversion test helper, built with the module in development builds only."""
    return pytest.importorskip("_tessarin_testing", reason="needs a development build")


@pytest.fixture(scope="session")
def usd_curve():
    return _tessarin.YieldCurve(usd_curve_input())


@pytest.fixture
def usd_swap():
    return _tessarin.IRS(usd_swap_input())


def run_isolated(code, timeout=120):
    """Runs code in a fresh interpreter that sees the same module."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=env,
        check=False,
    )


def run_cli(*args, cwd=None):
    """`python -m tessarin` in a fresh interpreter that sees the same modules."""
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p),
           "MPLBACKEND": "Agg"}  # fmt: skip
    return subprocess.run([sys.executable, "-m", "tessarin", *args], capture_output=True,
                          text=True, env=env, cwd=cwd, timeout=300, check=False)  # fmt: skip


def assert_clean_exit(result, expected_stdout=None):
    """The child ended normally: no signal, no sanitizer abort, no traceback."""
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout}\n{result.stderr}"
    if expected_stdout is not None:
        assert result.stdout.strip() == expected_stdout


class EntryFunctions:
    """The exported flat entry functions, called through ctypes with the
    interpreter lock held, as the Python types call them."""

    _SIGNATURES: typing.ClassVar[dict] = {
        "buildYieldCurve": ("_Z15buildYieldCurveP7_objectPi", ctypes.c_void_p,
                            [ctypes.py_object, ctypes.POINTER(ctypes.c_int)]),
        "yieldCurveDf": ("_Z12yieldCurveDfPviiiPi", ctypes.c_double,
                         [ctypes.c_void_p] + [ctypes.c_int] * 3 + [ctypes.POINTER(ctypes.c_int)]),
        "yieldCurveDates": ("_Z15yieldCurveDatesPv", ctypes.py_object, [ctypes.c_void_p]),
        "yieldCurveRates": ("_Z15yieldCurveRatesPv", ctypes.py_object, [ctypes.c_void_p]),
        "deleteYieldCurve": ("_Z16deleteYieldCurvePv", None, [ctypes.c_void_p]),
        "buildInterestRateSwap": ("_Z21buildInterestRateSwapP7_objectPi", ctypes.c_void_p,
                                  [ctypes.py_object, ctypes.POINTER(ctypes.c_int)]),
        # fixings passed as a raw pointer, so that None is a null dict
        "interestRateSwapPrice": ("_Z21interestRateSwapPricePvS_P7_objectPi", ctypes.py_object,
                                  [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                                   ctypes.POINTER(ctypes.c_int)]),
        "deleteInterestRateSwap": ("_Z22deleteInterestRateSwapPv", None, [ctypes.c_void_p]),
    }  # fmt: skip

    def __init__(self):
        library = ctypes.PyDLL(_tessarin.__file__)
        for name, (symbol, restype, argtypes) in self._SIGNATURES.items():
            function = getattr(library, symbol)
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)

    @staticmethod
    def handle(obj):
        """The handle stored after the object header of a YieldCurve or IRS."""
        return ctypes.c_void_p.from_address(id(obj) + object.__basicsize__).value


@pytest.fixture(scope="session")
def entry():
    return EntryFunctions()
