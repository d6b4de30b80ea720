"""Building, querying and dropping curves and swaps many times, with and
without errors on each call, must not grow the process: resident memory, the
interpreter's allocated blocks and its tracked objects settle after a warm-up,
and the handle registry returns to where it was."""

import contextlib
import ctypes
import datetime as dt
import gc
import os
import sys

import pytest

import _tessarin
from conftest import USD_LEG

ROUNDS = 100_000
WARM_UP = 5_000

VALUE_DATE = dt.date(2026, 3, 16)

# Two instruments keep a bootstrap cheap enough for a hundred thousand rounds.
CURVE = {
    "value date": VALUE_DATE,
    "id": "USD SOFR",
    "currency": "USD",
    "instruments": {
        "generator": ["USD SOFR SW", "USD SOFR SW"],
        "tenor": ["1Y", "2Y"],
        "quote": [4.02, 3.76],
        "in use": [True, True],
    },
}
# The second pillar is solved after the first: the root search fails with a
# bootstrapped pillar and two swaps already built.
CURVE_FAILING_LATE = {**CURVE, "instruments": {**CURVE["instruments"], "quote": [4.02, 500.0]}}
CURVE_FAILING_EARLY = {**CURVE, "instruments": {**CURVE["instruments"], "tenor": ["1Y", ("2Y",)]}}

LEG = {**USD_LEG, "notional": 1e6}
SWAP = {
    "id": "USD 1Y",
    "effective date": dt.date(2026, 2, 2),  # running on the value date
    "termination date": dt.date(2027, 2, 2),
    "schedule roll": "backward",
    "leg1": {**LEG, "is fixed": True, "is paid": True, "rate": 0.04},
    "leg2": {**LEG, "is fixed": False, "is paid": False, "index": "SOFR", "margin": 0.0},
}
# The first leg is built before the second fails on its calendar.
SWAP_FAILING_LATE = {**SWAP, "leg2": {**SWAP["leg2"], "pay calendar": "XX"}}
SWAP_MISSING = {"id": "USD 1Y", "leg1": {}}
FIXINGS = {
    "SOFR": {
        "dates": [dt.date(2026, 2, 2) + dt.timedelta(days=k) for k in range(42)],
        "values": [0.043] * 42,
    }
}
FIXINGS_BAD = {"SOFR": {"dates": [VALUE_DATE], "values": ["x"]}}
DAY = dt.date(2026, 9, 1)


class Pool:
    """Size of the module's handle registry (the element count of the
    unordered_map, after its bucket array, bucket count and list head)."""

    def __init__(self):
        library = ctypes.PyDLL(_tessarin.__file__)
        self._address = ctypes.addressof(ctypes.c_char.in_dll(library, "pool"))

    def size(self):
        return ctypes.c_size_t.from_address(
            self._address + 3 * ctypes.sizeof(ctypes.c_void_p)
        ).value


def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _round():
    curve = _tessarin.YieldCurve(CURVE)
    curve.df(DAY)
    curve.dates()
    curve.rates()
    swap = _tessarin.IRS(SWAP)
    swap.price(curve, FIXINGS)
    swap.cashflows(curve, FIXINGS)
    swap.required_fixings(VALUE_DATE)
    failing = (
        (_tessarin.YieldCurve, CURVE_FAILING_LATE),
        (_tessarin.YieldCurve, CURVE_FAILING_EARLY),
        (_tessarin.IRS, SWAP_FAILING_LATE),
        (_tessarin.IRS, SWAP_MISSING),
        (swap.price, curve),  # the running period needs fixings
        (swap.price, curve, FIXINGS_BAD),
        (swap.cashflows,),
        (swap.required_fixings, dt.date(1, 1, 1)),
        (curve.df, dt.date(1, 1, 1)),
        (curve.df, "2026-09-01"),
    )
    for call, *args in failing:
        with contextlib.suppress(RuntimeError, TypeError):
            call(*args)
            raise AssertionError(f"{call} did not fail")
    # A second __init__ that fails drops the old object.
    with contextlib.suppress(RuntimeError):
        swap.__init__(SWAP_MISSING)


def _input_objects():
    """Every dict, list, tuple, float and date the rounds pass in. (Ints and
    texts are left out: the interpreter shares small ints and interned text
    with code that the rounds also run.)"""
    found = {}

    def walk(obj):
        if id(obj) in found:
            return
        if isinstance(obj, (dict, list, tuple, float, dt.date)):
            found[id(obj)] = obj
        if isinstance(obj, dict):
            for key, value in obj.items():
                walk(key)
                walk(value)
        elif isinstance(obj, (list, tuple)):
            for item in obj:
                walk(item)

    for data in (CURVE, CURVE_FAILING_LATE, CURVE_FAILING_EARLY, SWAP, SWAP_FAILING_LATE):
        walk(data)
    for data in (SWAP_MISSING, FIXINGS, FIXINGS_BAD, DAY):
        walk(data)
    return list(found.values())


def _measure():
    gc.collect()
    return _resident_bytes(), sys.getallocatedblocks(), len(gc.get_objects())


@pytest.mark.slow
@pytest.mark.skipif(
    bool(os.environ.get("TESSARIN_SANITIZED")),
    reason="the sanitizer's quarantine holds freed memory, and a hundred thousand rounds take long",
)
def test_build_query_and_drop_many_times_without_growth():
    pool = Pool()
    registered = pool.size()
    for _ in range(WARM_UP):
        _round()
    assert pool.size() == registered
    resident, blocks, objects = _measure()
    inputs = _input_objects()
    references = [sys.getrefcount(obj) for obj in inputs]
    for _ in range(ROUNDS - WARM_UP):
        _round()
    assert pool.size() == registered
    resident_after, blocks_after, objects_after = _measure()
    leaked = [
        (obj, after - before)
        for obj, before, after in zip(
            inputs, references, (sys.getrefcount(obj) for obj in inputs), strict=True
        )
        if after != before
    ]
    assert not leaked, f"references kept on inputs: {leaked[:5]}"
    # A leak of one Python object or one curve per round would show as tens of
    # thousands of blocks and megabytes here.
    assert blocks_after - blocks < 1_000, f"{blocks_after - blocks} more allocated blocks"
    assert objects_after - objects < 100, f"{objects_after - objects} more tracked objects"
    growth = resident_after - resident
    assert growth < 4 * 1024 * 1024, f"resident memory grew by {growth} bytes"
