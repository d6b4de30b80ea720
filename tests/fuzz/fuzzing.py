"""Inputs for the robustness suite: valid curve, swap and fixings dicts, hostile
Python values of every kind, and mutations that mix the two.

Whatever a caller passes, an entry point must answer with a result or with a
TypeError, RuntimeError or RecursionError whose text says what is wrong."""

import collections
import contextlib
import ctypes
import datetime as dt
import decimal
import fractions
import gc
import math

from hypothesis import strategies as st

import _tessarin
from tessarin.conventions import leg_conventions

ALLOWED_ERRORS = (TypeError, RuntimeError, RecursionError)

# Examples run per entry point, reported at the end of the session.
CASES = collections.Counter()
# Outcome kinds per entry point: "result", "TypeError", ...
OUTCOMES = collections.defaultdict(collections.Counter)

VALUE_DATE = dt.date(2026, 3, 16)
SPOT_DATE = dt.date(2026, 3, 18)

GENERATORS = [
    "USD SOFR SW",
    "EUR ESTR SW",
    "GBP SONIA SW",
    "CHF SARON SW",
    "SGD SORA SW",
    "JPY TONA SW",
]
INDICES = ["SOFR", "ESTR", "SONIA", "SARON", "SORA", "TONA"]
CALENDARS = ["US", "SG", "TG", "EN", "JP", "CH", "USGS", "US,EN", "US,JP,TG"]
DAY_COUNTS = ["ACT/360", "ACT/365F", "ACT/ACT", "30/360", "30E/360"]
ADJUSTMENTS = ["Following", "Modified Following", "Preceding", "No Adjustment"]
INTERPOLATIONS = ["LinearLogDf", "LinearRates", "linearrates", "LogCubic", "MonotoneConvex"]


def small_curve_input(value_date=VALUE_DATE, quotes=(4.02, 3.76, 3.58)):
    """A USD SOFR curve of three instruments: cheap to bootstrap and to risk."""
    return {
        "value date": value_date,
        "id": "USD SOFR",
        "currency": "USD",
        "interpolation": "LinearLogDf",
        "instruments": {
            "generator": ["USD SOFR SW"] * 3,
            "tenor": ["1Y", "2Y", "5Y"],
            "quote": list(quotes),
            "in use": [True, True, True],
        },
    }


def usd_leg(**extra):
    """A leg of the built-in USD SOFR swap conventions, with `extra` on top."""
    return {**leg_conventions("USD SOFR SW", fixed=extra.get("is fixed", True)), **extra}


def swap_input(start=SPOT_DATE, end=dt.date(2029, 3, 19), notional=1e6):
    """A USD SOFR swap seasoned before the curve's value date: leg1 pays fixed."""
    return {
        "id": "USD 3Y",
        "effective date": start,
        "termination date": end,
        "schedule roll": "backward",
        "leg1": usd_leg(**{"is fixed": True, "is paid": True, "notional": notional, "rate": 0.036}),
        "leg2": usd_leg(
            **{
                "is fixed": False,
                "is paid": False,
                "notional": notional,
                "index": "SOFR",
                "margin": 0.0,
            }
        ),
    }


def fixings_input(start=dt.date(2026, 2, 2), end=VALUE_DATE, value=0.043):
    days = [start + dt.timedelta(days=k) for k in range((end - start).days + 1)]
    return {"SOFR": {"dates": days, "values": [value] * len(days)}}


# ---------------------------------------------------------------------------
# Hostile values


class ReprRaises:
    def __repr__(self):
        raise ValueError("repr refused")


class ReprHuge:
    def __repr__(self):
        return "x" * 1_000_000


class ReprNotStr:
    def __repr__(self):
        return 42  # repr() then raises TypeError


class ReprMutates:
    """repr() empties the dict it sits in while the dict is being converted."""

    def __init__(self, owner=None):
        self.owner = owner

    def __repr__(self):
        if self.owner is not None:
            self.owner.clear()
        return "ReprMutates()"


class DictSub(dict):
    pass


class DictSubLying(dict):
    """A dict subclass whose Python-level views all raise."""

    def __iter__(self):
        raise ValueError("no iteration")

    def items(self):
        raise ValueError("no items")

    def keys(self):
        raise ValueError("no keys")

    def __len__(self):
        raise ValueError("no len")


class ListSub(list):
    def __iter__(self):
        raise ValueError("no iteration")

    def __len__(self):
        raise ValueError("no len")


class StrSub(str):
    def __repr__(self):
        raise ValueError("no repr")

    def __str__(self):
        raise ValueError("no str")


class IntSub(int):
    def __index__(self):
        raise ValueError("no index")


class FloatSub(float):
    def __float__(self):
        raise ValueError("no float")


class DateSub(dt.date):
    pass


class FloatLike:
    def __float__(self):
        return 1.0

    def __index__(self):
        return 1


def nested_list(depth):
    root = current = []
    for _ in range(depth):
        child = []
        current.append(child)
        current = child
    return root


def nested_dict(depth):
    root = current = {}
    for _ in range(depth):
        child = {}
        current["a"] = child
        current = child
    return root


def self_referencing_list():
    items = [1]
    items.append(items)
    return items


def self_referencing_dict():
    d = {"a": 1}
    d["self"] = d
    return d


dates_any = st.dates(min_value=dt.date(1, 1, 1), max_value=dt.date(9999, 12, 31))
datetimes_any = st.datetimes(min_value=dt.datetime(1, 1, 1), max_value=dt.datetime(9999, 12, 31))
floats_any = st.floats(allow_nan=True, allow_infinity=True)
ints_any = st.one_of(
    st.integers(min_value=-(2**70), max_value=2**70),
    st.sampled_from(
        [2**31 - 1, 2**31, -(2**31), 2**32 + 2, 2**63 - 1, 2**63, -(2**63) - 1, 10**400]
    ),
)
# Unicode of every plane, lone surrogates (not encodable as UTF-8) and NUL.
texts_any = st.one_of(
    st.text(st.characters(codec=None), max_size=12),
    st.text(
        st.sampled_from(["\0", "\ud800", "\udfff", "é", "\u202e", "Y", "1", ".", ","]), max_size=8
    ),
)

# Texts that sit near what the library parses: tenors, dates, names, numbers.
texts_near = st.one_of(
    st.sampled_from(
        [
            *GENERATORS,
            *INDICES,
            *CALENDARS,
            *DAY_COUNTS,
            *ADJUSTMENTS,
            *INTERPOLATIONS,
            "",
            " ",
            "0D",
            "1D",
            "1BD",
            "2bd",
            "1W",
            "6M",
            "1Y",
            "-1Y",
            "1 Y",
            "\uff11Y",  # a full-width digit one
            "99999999999D",
            "2147483647Y",
            "2147483647M",
            "7000Y",
            "1Y\0junk",
            "nan",
            "inf",
            "-inf",
            "1e400",
            "true",
            "FALSE",
            "2026-03-16",
            "2026-02-30",
            "1399-12-31",
            "10000-01-01",
            "0000-00-00",
            "2026-Mar-16",
            "not-a-date-time",
            "+infinity",
            "backward",
            "forward",
            "US,",
            ",",
            "US,US,US",
            "ZZ",
            "USD",
            "SOFR",
        ]
    ),
    st.builds(lambda n, u: f"{n}{u}", st.integers(-5, 10**11), st.sampled_from("DWMYB")),
)

scalars_hostile = st.one_of(
    st.none(),
    st.booleans(),
    ints_any,
    floats_any,
    st.sampled_from([math.nan, math.inf, -math.inf, -0.0, 5e-324, 1.7976931348623157e308]),
    dates_any,
    datetimes_any,
    texts_any,
    texts_near,
    st.binary(max_size=8),
    st.builds(bytearray, st.binary(max_size=4)),
    st.complex_numbers(allow_nan=True, allow_infinity=True),
    st.decimals(allow_nan=True, allow_infinity=True),
    st.fractions(),
    st.builds(StrSub, texts_near),
    st.builds(IntSub, st.integers(-(2**40), 2**40)),
    st.builds(FloatSub, floats_any),
    st.builds(DateSub, st.integers(1, 9999), st.integers(1, 12), st.integers(1, 28)),
    st.sampled_from(
        [
            ReprRaises(),
            ReprHuge(),
            ReprNotStr(),
            FloatLike(),
            object(),
            object,
            len,
            Ellipsis,
            NotImplemented,
            range(3),
            memoryview(b"ab"),
            decimal.Decimal("NaN"),
            fractions.Fraction(1, 3),
            dt.timedelta(days=1),
            dt.time(12, 0),
            _tessarin.YieldCurve,
            _tessarin.IRS,
        ]
    ),
)

# Containers of the wrong kind and of awkward shapes. Each is built afresh.
containers_hostile = st.one_of(
    st.tuples(scalars_hostile),
    st.sets(st.integers(0, 5), max_size=3),
    st.frozensets(st.integers(0, 5), max_size=3),
    st.lists(scalars_hostile, max_size=4),
    st.dictionaries(texts_near, scalars_hostile, max_size=3),
    st.dictionaries(
        st.one_of(st.integers(), st.binary(max_size=3), st.tuples(st.integers()), texts_any),
        scalars_hostile,
        max_size=3,
    ),
    st.builds(DictSub, st.dictionaries(texts_near, scalars_hostile, max_size=3)),
    st.builds(DictSubLying, st.dictionaries(texts_near, scalars_hostile, max_size=3)),
    st.builds(ListSub, st.lists(scalars_hostile, max_size=3)),
    st.builds(nested_list, st.sampled_from([1, 50, 5_000, 100_000])),
    st.builds(nested_dict, st.sampled_from([1, 50, 5_000, 100_000])),
    st.builds(lambda d: (nested_list(d),), st.sampled_from([10, 100_000])),
    st.builds(self_referencing_list),
    st.builds(self_referencing_dict),
    st.builds(lambda n, v: [v] * n, st.sampled_from([0, 1, 1_000, 200_000]), scalars_hostile),
    st.builds(lambda n: list(range(n)), st.sampled_from([200_000])),
)

hostile = st.one_of(scalars_hostile, containers_hostile)


# ---------------------------------------------------------------------------
# Mutations of valid inputs


def _paths(node, prefix=(), depth=6):
    """Every path into nested dicts and lists, down to a few levels."""
    yield prefix
    if len(prefix) >= depth:
        return
    # The plain dict and list methods: subclasses here may refuse their own.
    if isinstance(node, dict):
        for key, value in list(dict.items(node)):
            yield from _paths(value, (*prefix, key))
    elif isinstance(node, list):
        # The head of a huge list is as good a target as any of its items.
        for i in range(min(list.__len__(node), 8)):
            yield from _paths(list.__getitem__(node, i), (*prefix, i))


def _parent(root, path):
    node = root
    for step in path[:-1]:
        node = node[step]
    return node


def _mutate_once(data, root, near):
    paths = [p for p in _paths(root) if p]
    path = data.draw(st.sampled_from(paths), label="path")
    parent = _parent(root, path)
    key = path[-1]
    op = data.draw(
        st.sampled_from(
            ["replace", "near", "delete", "add", "grow", "shrink", "tuple", "subclass", "mutator"]
        ),
        label="op",
    )
    if op == "replace":
        parent[key] = data.draw(hostile, label="value")
    elif op == "near":
        parent[key] = data.draw(near, label="value")
    elif op == "delete":
        del parent[key]
    elif op == "add" and isinstance(parent, dict):
        parent[data.draw(st.one_of(texts_near, texts_any), label="key")] = data.draw(
            st.one_of(near, hostile), label="value"
        )
    elif op == "grow" and isinstance(parent, list):
        parent.append(data.draw(near, label="value"))
    elif op == "shrink" and isinstance(parent, list):
        parent.pop()
    # Copied through the plain list and dict methods: a subclass placed here
    # by an earlier mutation may refuse its own.
    elif op == "tuple" and isinstance(parent[key], list):
        parent[key] = tuple(list.__iter__(parent[key]))
    elif op == "subclass" and isinstance(parent[key], dict):
        parent[key] = DictSub(dict.items(parent[key]))
    elif op == "mutator" and isinstance(parent[key], dict):
        owner = parent[key]
        owner["zz"] = ReprMutates(owner)


def mutated(data, valid, near, max_mutations=3):
    """The valid dict with up to max_mutations random changes (none included)."""
    root = valid
    for _ in range(data.draw(st.integers(0, max_mutations), label="mutations")):
        if not any(True for p in _paths(root) if p):
            break
        _mutate_once(data, root, near)
    return root


# Values that keep a curve or a swap nearly valid: what an upstream system
# might really send.
curve_near = st.one_of(
    texts_near,
    floats_any,
    st.floats(-200, 200),
    st.booleans(),
    dates_any,
    st.lists(st.floats(-5, 50), min_size=0, max_size=4),
    st.lists(texts_near, min_size=0, max_size=4),
    st.lists(st.booleans(), min_size=0, max_size=4),
)

swap_near = st.one_of(
    texts_near,
    floats_any,
    st.integers(-(2**33), 2**33),
    st.sampled_from([0, 1, 2, 10, 10_000, 2**31 - 1, -(2**31)]),
    st.booleans(),
    dates_any,
    st.sampled_from([VALUE_DATE, SPOT_DATE, dt.date(1400, 1, 1), dt.date(9999, 12, 31)]),
)

fixings_near = st.one_of(
    dates_any,
    floats_any,
    texts_near,
    st.lists(dates_any, max_size=5),
    st.lists(floats_any, max_size=5),
    st.builds(
        lambda days, shuffle: sorted(days, reverse=shuffle),
        st.lists(st.dates(dt.date(2026, 1, 1), dt.date(2026, 4, 1)), max_size=40),
        st.booleans(),
    ),
)


@st.composite
def curve_inputs(draw):
    """A small valid curve, varied in its dates, quotes, tenors and names, then mutated."""
    data = draw(st.data())
    count = draw(st.integers(0, 4), label="instruments")
    curve = {
        "value date": draw(st.one_of(st.just(VALUE_DATE), dates_any), label="value date"),
        "id": draw(st.one_of(st.just("USD SOFR"), texts_any), label="id"),
        "currency": draw(st.sampled_from(["USD", "EUR", ""]), label="currency"),
        "interpolation": draw(st.sampled_from(INTERPOLATIONS), label="interpolation"),
        "instruments": {
            "generator": draw(
                st.lists(st.sampled_from(GENERATORS), min_size=count, max_size=count),
                label="generators",
            ),
            "tenor": draw(
                st.lists(
                    st.sampled_from(["1D", "1W", "1M", "6M", "1Y", "2Y", "5Y", "30Y", "100Y"]),
                    min_size=count,
                    max_size=count,
                ),
                label="tenors",
            ),
            "quote": draw(
                st.lists(st.one_of(st.floats(-2, 12), floats_any), min_size=count, max_size=count),
                label="quotes",
            ),
            "in use": draw(st.lists(st.booleans(), min_size=count, max_size=count), label="in use"),
        },
    }
    if draw(st.booleans(), label="drop interpolation"):
        del curve["interpolation"]
    return mutated(data, curve, curve_near)


def _shifted(day, days):
    """day moved by days, or day itself where that leaves the years Python holds."""
    try:
        return day + dt.timedelta(days=days)
    except OverflowError:
        return day


@st.composite
def swap_inputs(draw):
    """A valid USD swap with drawn dates, then mutated."""
    data = draw(st.data())
    start = draw(
        st.one_of(st.dates(dt.date(2020, 1, 1), dt.date(2032, 1, 1)), dates_any), label="start"
    )
    end = draw(
        st.one_of(
            st.builds(lambda d: _shifted(start, d), st.integers(-400, 3_000)).filter(
                lambda d: dt.date(1, 1, 1) < d < dt.date(9999, 12, 31)
            ),
            dates_any,
            st.just(start),
        ),
        label="end",
    )
    swap = swap_input(start=start, end=end)
    return mutated(data, swap, swap_near)


@st.composite
def fixings_inputs(draw):
    data = draw(st.data())
    base = fixings_input()
    if draw(st.booleans(), label="shuffle"):
        pairs = list(zip(base["SOFR"]["dates"], base["SOFR"]["values"], strict=True))
        pairs.reverse()
        base["SOFR"]["dates"] = [d for d, _ in pairs]
        base["SOFR"]["values"] = [v for _, v in pairs]
    return mutated(data, base, fixings_near, max_mutations=4)


def mostly(valid, other, percent=80):
    """valid in about percent of the cases, other in the rest. (one_of would
    flatten a hostile one_of of many branches and drown the valid choice.)"""
    return st.integers(0, 99).flatmap(lambda n: valid if n < percent else other)


# Positional and keyword arguments for a method: sometimes right, often not.
def arguments(valid_positional):
    return st.tuples(
        st.one_of(
            st.just(tuple(valid_positional)),
            st.lists(st.one_of(scalars_hostile, containers_hostile), max_size=3).map(tuple),
        ),
        st.one_of(
            st.just({}),
            st.dictionaries(
                st.sampled_from(["yield_curve", "fixings", "date", "d", "x"]),
                st.one_of(scalars_hostile, containers_hostile),
                max_size=2,
            ),
        ),
    )


# ---------------------------------------------------------------------------
# Checks


def outcome(target, call, *args, **kwargs):
    """Runs one case: a result, or an allowed error whose text is a message."""
    CASES[target] += 1
    try:
        result = call(*args, **kwargs)
    except ALLOWED_ERRORS as error:
        caught = error
    else:
        OUTCOMES[target]["result"] += 1
        return result
    text = str(caught)
    assert text.strip(), f"{type(caught).__name__} without a message"
    assert text != "Unknown error.", "an error that does not say what is wrong"
    OUTCOMES[target][type(caught).__name__] += 1
    return caught


class Pool:
    """Reads the size of the module's handle registry, an unordered_map whose
    element count sits after its bucket array, bucket count and list head."""

    def __init__(self):
        library = ctypes.PyDLL(_tessarin.__file__)
        self._address = ctypes.addressof(ctypes.c_char.in_dll(library, "pool"))

    def size(self):
        return ctypes.c_size_t.from_address(
            self._address + 3 * ctypes.sizeof(ctypes.c_void_p)
        ).value

    @contextlib.contextmanager
    def steady(self):
        """No collection while the block runs: a curve or swap of an earlier
        case freed by the cycle collector would change the count under us."""
        gc.collect()
        gc.disable()
        try:
            yield
        finally:
            gc.enable()
