"""Input dicts: the one set of checks behind the objects and the files.

The library reads a curve dict itself, in one call (`_tessarin.curve_from_dict`), and so
swap and trade dicts (`_tessarin.swap_from_dict`, `_tessarin.trades_from_dicts` for a list)
and fixings (`_tessarin.fixings_from_dict`), so the checks accept what the library accepts.
Problems raise `InputError` naming the key path; doubtful but usable inputs (units,
currencies, unknown keys) raise too, or only warn with ``strict=False``.
"""

from __future__ import annotations

import contextlib
import contextvars
import csv
import datetime as dt
import difflib
import functools
import json
import re
import sys
import warnings
from collections.abc import Iterable, Iterator, Mapping
from pathlib import Path
from typing import Any

import _tessarin

from ._types import QUOTED_LENGTH, PathLike, one_line, quoted
from .conventions import (
    CALENDARS,
    FUTURES,
    GENERATORS,
    INDICES,
    leg_conventions,
    listing,
)

LEG_TEXT_KEYS = ("currency", "calendar", "frequency", "day count convention",
                 "accrual adjustment", "accrual calendar", "pay adjustment", "pay calendar")
LEG_KEYS = (*LEG_TEXT_KEYS, "is fixed", "is paid", "pay lag", "notional", "rate", "index",
            "margin")
RATE_HINT = "rates are decimals: 0.033 for 3.3%"
_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")


class _Located:
    """Where an input problem is: file, subject (a trade or curve id) and key path."""

    path: str
    message: str
    source: str
    subject: str

    def _locate(self, path: str, message: str, source: str, subject: str) -> None:
        self.path, self.message, self.source, self.subject = path, message, source, subject

    def __str__(self) -> str:
        text = ": ".join(part for part in (self.source, self.path, self.message) if part)
        return f"{text} ({self.subject})" if self.subject else text


class InputError(_Located, ValueError):
    """A curve, swap, fixings or file input that cannot be used.

    `source` names the file (empty for in-memory input), `subject` the trade
    or curve of a file, `path` the offending key, written as in Python:
    ``instruments["in use"][3]``.
    """

    def __init__(self, path: str, message: str, source: str = "", subject: str = "") -> None:
        super().__init__(path, message, source, subject)
        self._locate(path, message, source, subject)


class InputWarning(_Located, UserWarning):
    """An input that is used, but looks wrong (issued instead of `InputError`
    with ``strict=False``)."""

    def __init__(self, path: str, message: str, source: str = "", subject: str = "") -> None:
        super().__init__(path, message, source, subject)
        self._locate(path, message, source, subject)


class CalendarCoverageWarning(UserWarning):
    """A date past the last year of a calendar's holiday list: after it only
    weekends are holidays. `tessarin.calendars.extend` (``--calendars-through``
    on the command line) generates the later years; `tessarin.calendars.load`
    supplies longer lists.

    The text names only the calendar and its last year, so that Python's
    warning filters show it once per calendar and line of code, however many
    swaps read past the list; `date` (the latest date read) and `what` (the
    swap's schedule, the curve, ...) are kept as attributes.
    """

    def __init__(self, calendar: str, last_year: int, date: dt.date, what: str) -> None:
        super().__init__(calendar, last_year, date, what)
        self.calendar, self.last_year, self.date, self.what = calendar, last_year, date, what

    def __str__(self) -> str:
        return (f"calendar {quoted(self.calendar)} lists holidays only through {self.last_year}; "
                f"later dates have only weekends as holidays (supply lists with "
                f"tessarin.calendars.load, or generate them with tessarin.calendars.extend "
                f"or --calendars-through YEAR)")


def relocate(error: InputError, source: str, subject: str = "") -> InputError:
    """`error` as found in the file `source`, about `subject`."""
    return InputError(error.path, error.message, source, subject or error.subject)


def key_path(parent: str, key: str | int) -> str:
    """The path of `key` inside `parent`: ``a.b``, ``a["in use"]`` or ``a[3]``."""
    if isinstance(key, int):
        return f"{parent}[{key}]"
    name, quoted = _key_forms(key)
    if name:
        return f"{parent}.{key}" if parent else key
    return f"{parent}[{quoted}]"


@functools.lru_cache(maxsize=512)
def _key_forms(key: str) -> tuple[bool, str]:
    # The same few keys recur in every trade of a file.
    if len(key) > QUOTED_LENGTH:
        return False, json.dumps(key[:QUOTED_LENGTH - 5]) + "..."
    return bool(_NAME.fullmatch(key)), json.dumps(key)


def as_date(value: Any, path: str = "") -> dt.date:
    """A `datetime.date` from a date, a datetime (its date part) or ISO text."""
    if isinstance(value, dt.datetime):
        return value.date()
    if isinstance(value, dt.date):
        return value
    if isinstance(value, str):
        try:
            return dt.date.fromisoformat(value)
        except ValueError:
            pass
    raise InputError(path, f"expected a date as YYYY-MM-DD, got {quoted(value)}")


def plain(value: Any) -> Any:
    """A deep copy made of dicts and lists (mappings and tuples are converted)."""
    kind = type(value)
    if kind is str or kind is float or kind is int or kind is bool:
        return value
    if kind is dict:
        return {key: plain(item) for key, item in value.items()}
    if isinstance(value, Mapping):
        return {key: plain(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(item) for item in value]
    return value


def jsonable(value: Any) -> Any:
    """`value` with every date written as ISO text, ready for `json.dumps`."""
    if isinstance(value, dict):
        return {key: jsonable(item) for key, item in value.items()}
    if isinstance(value, list):
        return [jsonable(item) for item in value]
    if isinstance(value, dt.date):
        return (value.date() if isinstance(value, dt.datetime) else value).isoformat()
    return value


def swap_input(swap: Mapping[str, Any], generator: str | None = None) -> dict[str, Any]:
    """A private copy of a swap dict.

    With a `generator`, its leg conventions fill every leg key that the dict
    leaves out, and "schedule roll" defaults to "backward".
    """
    if not isinstance(swap, Mapping):
        raise TypeError(f"a swap is described by a dict, got {type(swap).__name__}")
    data: dict[str, Any] = plain(swap)
    if generator is None:
        return data
    if generator not in GENERATORS:
        raise InputError("generator", _unknown("generator", generator, GENERATORS))
    data.setdefault("schedule roll", "backward")
    for leg, fixed in (("leg1", True), ("leg2", False)):
        given = data.get(leg, {})
        if isinstance(given, dict):
            data[leg] = {**leg_conventions(generator, fixed=fixed), "is paid": fixed, **given}
    return data


_PACKAGE = str(Path(__file__).parent)


def user_stacklevel() -> int:
    """The `stacklevel` at which `warnings.warn`, called by the caller of this function, names
    the first frame outside this package: the user's line that the warning is about."""
    level, frame = 2, sys._getframe(2)
    while frame is not None and frame.f_code.co_filename.startswith(_PACKAGE):
        level, frame = level + 1, frame.f_back
    return level


class Checker:
    """Raises `InputError` for unusable input; for doubtful input too when
    strict, otherwise warns with `InputWarning`."""

    def __init__(self, strict: bool = True) -> None:
        self.strict = strict

    def doubt(self, path: str, message: str) -> None:
        if self.strict:
            raise InputError(path, message)
        warnings.warn(InputWarning(path, message), stacklevel=user_stacklevel())

    def keys(self, data: Mapping[Any, Any], path: str, known: Iterable[str]) -> None:
        """Unknown keys, with the closest known key as a suggestion."""
        known = tuple(known)
        for key in data:
            if key in known:
                continue
            text = str(key)
            self.doubt(key_path(path, text), f"unknown key {quoted(text)} ({_hint(text, known)})")


def rate_doubt(value: float) -> str:
    """The message of a rate beyond ±1, which is percent for a decimal."""
    return f"{value:g} is not a decimal rate; {RATE_HINT}"


def shown(value: Any) -> str:
    """A bad value as a message shows it: JSON text, cut to about 80 characters."""
    if isinstance(value, Mapping):
        return "an object"
    if isinstance(value, (list, tuple)):
        return "a list"
    if value is None:
        return "null"
    if isinstance(value, str):
        text = json.dumps(value[:QUOTED_LENGTH])
        return text if len(text) <= QUOTED_LENGTH else text[:QUOTED_LENGTH - 3] + "..."
    if isinstance(value, float):
        return json.dumps(value)
    if isinstance(value, int):
        return quoted(value)
    return type(value).__name__


def _unknown(what: str, value: str, known: Iterable[str]) -> str:
    names = ", ".join(known)
    return f"unknown {what} {quoted(value)}" + (f" (known: {names})" if names else "")


def _structure(value: Any, path: str, kind: type, what: str) -> Any:
    if not isinstance(value, kind):
        raise InputError(path, f"expected {what}, got {shown(value)}")
    return value


def check_curve(curve: Any, path: str = "", strict: bool = True) -> dict[str, Any]:
    """A checked copy of a curve dict, values read as the library reads them."""
    return read_curve(curve, path, strict, build=False)[0]


def read_curve(curve: Any, path: str, strict: bool, build: bool
               ) -> tuple[dict[str, Any], _tessarin.YieldCurve | None]:
    """A checked copy of a curve dict and, with `build`, its curve. The library reads the
    copy once, writing its values back as it reads them; its doubts come back to be raised,
    or warned with ``strict=False``, with suggestions for unknown keys."""
    _structure(curve, path, Mapping, "a curve object")
    data: dict[str, Any] = plain(curve)
    native, doubts, problem, failure = _tessarin.curve_from_dict(data, path, strict, build)
    _replay(doubts, problem, strict)
    if failure is not None:
        raise RuntimeError(explain_bootstrap(data, RuntimeError(failure)))
    return data, native


def _hint(text: str, known: Iterable[str]) -> str:
    """The closest known name as a suggestion, or the known names."""
    known = tuple(known)
    close = difflib.get_close_matches(text, known, n=1)
    return f"did you mean {quoted(close[0])}?" if close else f"known: {', '.join(known)}"


class LegCache:
    """Kept for callers that share one between reads: the library now keeps the conventions
    and dates it has read itself."""


def _replay(doubts: list[tuple[str, str, Any, Any]], problem: tuple[str, str] | None,
            strict: bool) -> None:
    """The doubts of one read by the library, raised when strict and warned otherwise, with
    suggestions for unknown keys and indices, then its problem."""
    check = Checker(strict)
    for kind, where, value, known in doubts:
        if kind == "key":
            check.keys({value: None}, where, known)
        elif kind == "index":
            check.doubt(where, f"unknown index {quoted(value)} ({_hint(str(value), INDICES)})")
        else:
            check.doubt(where, value)
    if problem is not None:
        raise InputError(*problem)


def settled(read: tuple[Any, ...], strict: bool) -> tuple[str, dict[str, Any]]:
    """(curve id, checked swap) of an entry of `_tessarin.trades_from_dicts`."""
    if len(read) == 2:
        return read
    curve, data, doubts, problem = read
    _replay(doubts, problem, strict)
    return curve, data


def read_swap(swap: Any, path: str = "", strict: bool = True) -> dict[str, Any]:
    """A checked copy of a swap dict, values read as the library reads them."""
    if not isinstance(swap, Mapping):
        raise TypeError(f"a swap is described by a dict, got {type(swap).__name__}")
    _, data, doubts, problem = _tessarin.swap_from_dict(swap, path, strict)
    _replay(doubts, problem, strict)
    return data


def calendar_message(value: str, error: RuntimeError) -> str:
    """The message of a calendar name the library refuses: the unknown calendar (the library
    names the one of a union that it does not know) and the known ones."""
    found = re.fullmatch(r"Calendar not found: (.*)", str(error))
    if found is None:
        return str(error)
    return (f"unknown calendar {quoted(found[1])} (known: {', '.join(CALENDARS)}; join names "
            f"with commas for a union)")


def check_trade(trade: Any, path: str, strict: bool = True, cache: LegCache | None = None
                ) -> tuple[str, dict[str, Any]]:
    """(curve id, checked swap dict) of one entry of a trades file.

    A trade is a swap dict plus "curve", and optionally "generator", whose
    conventions fill the leg keys the trade leaves out.
    """
    return settled(_tessarin.swap_from_dict(trade, path, strict, None, True), strict)


def check_pairing(swap: Mapping[str, Any], curve: Mapping[str, Any], path: str = "",
                  strict: bool = True) -> bool:
    """A swap priced on a curve of another currency, or projecting another index. True when
    nothing was doubted."""
    currency, label = curve.get("currency"), curve.get("id")
    indices = _indices_of(tuple(curve.get("instruments", {}).get("generator", [])))
    clean = True
    for leg in ("leg1", "leg2"):
        legs = swap.get(leg, {})
        if legs.get("currency") == currency and (
                legs.get("is fixed", True) or not indices or legs.get("index") in indices):
            continue
        clean = False
        check = Checker(strict)
        if legs.get("currency") != currency:
            check.doubt(key_path(key_path(path, leg), "currency"),
                        f"the leg is in {legs.get('currency')}, but the curve {quoted(label)} "
                        f"is in {currency}")
        if not legs.get("is fixed", True) and indices and legs.get("index") not in indices:
            check.doubt(key_path(key_path(path, leg), "index"),
                        f"the leg projects {legs.get('index')}, but the curve {quoted(label)} "
                        f"is built "
                        f"on {', '.join(sorted(indices))}")
    return clean


@functools.lru_cache(maxsize=64)
def _indices_of(generators: tuple[str, ...]) -> frozenset[str]:
    # Generators are registered once, at import: their indices never change.
    table = GENERATORS
    return frozenset(table[g].index for g in set(generators) if g in table)


def check_fixings(fixings: Any, path: str = "", strict: bool = True) -> dict[str, Any]:
    """A checked copy of a fixings dict: dates as `datetime.date`, values as float."""
    _structure(fixings, path, Mapping, "an object keyed by index name")
    # Mappings read as dicts; the library reads the rest.
    data = {name: dict(series) if isinstance(series, Mapping) else series
            for name, series in fixings.items()}
    checked, doubts, problem = _tessarin.fixings_from_dict(data, path, strict)
    _replay(doubts, problem, strict)
    return checked


# The calendars whose coverage was told in the current `coverage_once` block.
_TOLD: contextvars.ContextVar[set[str] | None] = contextvars.ContextVar("told", default=None)


@contextlib.contextmanager
def coverage_once() -> Iterator[None]:
    """Within the block each calendar's coverage is told once: a book built from a market
    file tells it for its curves and its trades together."""
    token = _TOLD.set(set())
    try:
        yield
    finally:
        _TOLD.reset(token)


def coverage(calendars: Iterable[str], last: dt.date, what: str) -> None:
    """Warns once per calendar whose holiday list ends before the year of `last`."""
    seen: set[str] = set()
    told = _TOLD.get()
    for text in calendars:
        for name in str(text).split(","):
            name = name.strip(" \t")
            if not name or name in seen:
                continue
            seen.add(name)
            calendar = CALENDARS.get(name)
            if calendar is not None and calendar.last_year is not None \
                    and last.year > calendar.last_year:
                if told is not None:
                    if name in told:
                        continue
                    told.add(name)
                warning = CalendarCoverageWarning(name, calendar.last_year, last, what)
                level = user_stacklevel()
                if not _told_here(warning, sys._getframe(level - 1)):
                    warnings.warn(warning, stacklevel=level)


# Per list of warning filters (kept alive so that its id stays its own), the (calendar, last
# year, file, line) told under the "default" action. Python's own record of them is dropped
# whenever any code leaves a catch_warnings block, as pandas does on every read, which would
# tell the same calendar again at every book built on one line. A catch_warnings block of the
# caller's own has a list of its own, and so tells them afresh, as Python does.
_TOLD_AT: dict[int, tuple[list[Any], set[tuple[str, int, str, int]]]] = {}


def _told_here(warning: CalendarCoverageWarning, frame: Any) -> bool:
    """Whether the warning was told before at this line under the "default" action."""
    text, module = str(warning), frame.f_globals.get("__name__", "")
    action = next((entry[0] for entry in warnings.filters
                   if (entry[1] is None or entry[1].match(text))
                   and issubclass(CalendarCoverageWarning, entry[2])
                   and (entry[3] is None or entry[3].match(module))
                   and entry[4] in (0, frame.f_lineno)), warnings.defaultaction)
    if action != "default":
        return False
    filters = warnings.filters
    _, told = _TOLD_AT.setdefault(id(filters), (filters, set()))
    key = (warning.calendar, warning.last_year, frame.f_code.co_filename, frame.f_lineno)
    if key in told:
        return True
    told.add(key)
    return False


def _curve_calendars(curve: Mapping[str, Any]) -> list[str]:
    names = set(curve["instruments"]["generator"])
    found = []
    for g in listing()["generators"]:
        if g["name"] in names:
            # The spot lag, then the legs' schedules.
            found.append(g.get("calendar", ""))
            for leg in ("leg1", "leg2"):
                found += [(g.get(leg) or {}).get(key, "") for key in _LEG_CALENDARS]
    return found


# The calendars a leg's schedule rolls its dates on.
_LEG_CALENDARS = ("accrual calendar", "pay calendar")


def _weekdays_after(day: dt.date, count: int) -> dt.date:
    """About the last date a schedule ending on `day` reads: the end rolled
    past a weekend, then the payment lag; holidays aside."""
    count = max(count, 0)
    try:
        day += dt.timedelta(days=(7 - day.weekday()) % 7 if day.weekday() >= 5 else 0)
        day += dt.timedelta(weeks=count // 5)
        for _ in range(count % 5):
            day += dt.timedelta(days=3 if day.weekday() == 4 else 1)
    except OverflowError:
        return dt.date.max
    return day


RISK_METHODS = ("analytic", "bump")


def risk_method(method: Any) -> str:
    """`method` if it names a way to compute key-rate risk; ValueError otherwise."""
    if method not in RISK_METHODS:
        raise ValueError(f"unknown risk method {quoted(method)} "
                         f"(known: {', '.join(RISK_METHODS)})")
    return str(method)


def thread_count(threads: Any) -> int:
    """A count of worker threads as the library takes it (1 to 4096); ValueError otherwise,
    with the library's message."""
    try:
        return _tessarin.check_input("threads", threads)
    except RuntimeError as error:
        raise ValueError(str(error)) from None


def pay_lag(value: Any, path: str) -> int:
    """A pay lag as the library takes it: a whole number of business days that markets use."""
    try:
        return _tessarin.check_input("pay lag", value)
    except RuntimeError as error:
        raise InputError(path, str(error).removeprefix("Error, ")) from None


def curve_coverage(curve: Mapping[str, Any], last: dt.date, what: str) -> None:
    """Coverage of the calendars a checked curve's instruments use, up to `last`."""
    coverage(_curve_calendars(curve), last, what)


def swap_coverage(swap: Mapping[str, Any], what: str) -> None:
    """Coverage of the calendars a checked swap's schedules use."""
    legs = [swap[leg] for leg in ("leg1", "leg2")]
    last = _weekdays_after(swap["termination date"], max(leg["pay lag"] for leg in legs))
    coverage([leg[key] for leg in legs for key in _LEG_CALENDARS], last, what)


def book_coverage(conventions: list[dict[str, Any]], last_dates: dict[int, dt.date],
                  what: str) -> None:
    """Coverage of the calendars of a book's convention sets, each up to the last
    termination date of its trades: one warning per calendar."""
    reach: dict[str, dt.date] = {}
    for code, end in last_dates.items():
        legs = [conventions[code][leg] for leg in ("leg1", "leg2")]
        last = _weekdays_after(end, max(int(leg.get("pay lag", 0)) for leg in legs))
        for leg in legs:
            for key in _LEG_CALENDARS:
                for name in str(leg.get(key, "")).split(","):
                    name = name.strip(" \t")
                    if name and (name not in reach or reach[name] < last):
                        reach[name] = last
    for name, last in reach.items():
        coverage([name], last, what)


def fixing_coverage(swap: Mapping[str, Any], on: dt.date) -> None:
    """Coverage of the fixing calendars of a checked swap's indices, up to `on`."""
    indices = [swap[leg].get("index") for leg in ("leg1", "leg2") if not swap[leg]["is fixed"]]
    coverage([INDICES[i].calendar for i in indices if i in INDICES], on, "the fixing dates")


def need_pyarrow(doing: str, path: str = "", source: str = "") -> None:
    """InputError at `path` when pyarrow, which `doing` ("reading", "writing") Parquet needs, is
    not installed."""
    try:
        import pyarrow  # noqa: F401
    except ImportError:
        raise InputError(path, f"{doing} Parquet needs pyarrow: pip install 'tessarin[parquet]'",
                         source) from None


@contextlib.contextmanager
def reading_csv(source: str) -> Iterator[None]:
    """The errors of reading a CSV file raised as InputError of `source`."""
    try:
        yield
    except OSError as error:
        raise InputError("", f"cannot read the file ({error.strerror or error})", source) from None
    except UnicodeDecodeError:
        raise InputError("", "cannot read the file: expected UTF-8 text", source) from None
    except csv.Error as error:
        raise InputError("", f"cannot read the CSV file ({one_line(error)})", source) from None


def read_json(path: PathLike) -> Any:
    """The JSON document in `path`; unreadable or malformed files raise InputError."""
    source = str(path)
    try:
        text = Path(path).read_text(encoding="utf-8")
    except OSError as error:
        raise InputError("", f"cannot read the file ({error.strerror or error})", source) from None
    except UnicodeDecodeError:
        raise InputError("", "not a UTF-8 text file", source) from None
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        where = f"line {error.lineno} column {error.colno}"
        rest = text[error.pos:]
        if not rest.strip() or (error.msg.startswith("Unterminated string")
                                and rest.count('"') == 1):
            raise InputError("", f"the JSON document stops before its end (at {where}); is "
                                 f"the file truncated?", source) from None
        raise InputError(where, f"malformed JSON ({error.msg})", source) from None
    except RecursionError:
        raise InputError("", "the JSON document nests too deeply to read", source) from None


def _months_or_days(tenor: str) -> tuple[str, int]:
    # 1Y and 12M, 1W and 7D end on the same date: they are the same instrument.
    amount, unit = int(tenor.rstrip("BDWMY")), tenor.lstrip("0123456789")
    return {"Y": ("M", 12 * amount), "W": ("D", 7 * amount)}.get(unit, (unit, amount))


def _dated_input_row(columns: Mapping[str, Any], row: int) -> bool:
    """Whether a checked row is a dated swap, whose tenor cell holds its label, or a futures
    row, whose tenor cell holds its contract month."""
    return (("start" in columns and columns["start"][row] is not None)
            or columns["generator"][row] in FUTURES)


def explain_bootstrap(curve: Mapping[str, Any], error: RuntimeError) -> str:
    """The library's message of a failed curve build, led by the instrument that
    fails: the first whose addition to the instruments before it breaks the build."""
    columns = curve["instruments"]
    used = [i for i, flag in enumerate(columns["in use"]) if flag]

    def builds(count: int) -> bool:
        keep = set(used[:count])
        trial = {**curve, "instruments": {**columns, "in use": [
            i in keep for i in range(len(columns["in use"]))]}}
        try:
            _tessarin.YieldCurve(trial)
        except RuntimeError:
            return False
        return True

    if not used or builds(len(used)):
        return str(error)
    if "cubic from" in curve or str(curve.get("interpolation", "")).lower() == "logcubic":
        # A spline's pillars are solved together, from the log-linear bootstrap: when that
        # builds, the library's message names the instrument furthest from its quote.
        linear = {key: value for key, value in curve.items() if key != "cubic from"}
        try:
            _tessarin.YieldCurve({**linear, "interpolation": "LinearLogDf"})
            return str(error)
        except RuntimeError:
            pass
    # The bootstrap solves pillar after pillar: once a prefix of the rows fails, longer ones do.
    low, high = 0, len(used)
    while high - low > 1:
        middle = (low + high) // 2
        low, high = (middle, high) if builds(middle) else (low, middle)
    row = used[high - 1]
    generator, tenor, quote = (columns[key][row] for key in ("generator", "tenor", "quote"))
    what = f"instrument {row} ({generator} {tenor}, quote {quote:g})"
    if f"instrument {row} (" in str(error):
        return str(error)  # the library names the row itself
    if _dated_input_row(columns, row):
        return f"{what}: {error}"
    same = _months_or_days(_tessarin.check_input("tenor", tenor))
    for earlier in reversed(used[:high - 1]):
        if (not _dated_input_row(columns, earlier) and columns["generator"][earlier] == generator
                and _months_or_days(_tessarin.check_input("tenor", columns["tenor"][earlier]))
                == same):
            what += f" repeats the tenor of instrument {earlier}"
            break
    return f"{what}: {error}"
