"""Input dicts: date handling, JSON text and the checks that name a key path."""

from __future__ import annotations

import datetime as dt
import json
import math
import re
from collections.abc import Mapping
from pathlib import Path
from typing import Any

from ._types import PathLike
from .conventions import CALENDARS, GENERATORS, INDICES, INTERPOLATIONS, leg_conventions

CURVE_DATE_KEYS = ("value date",)
SWAP_DATE_KEYS = ("effective date", "termination date")
LEG_TEXT_KEYS = ("currency", "calendar", "frequency", "day count convention",
                 "accrual adjustment", "accrual calendar", "pay adjustment", "pay calendar")
_TENOR = re.compile(r"[0-9]+(BD|[DWMY])", re.IGNORECASE)
_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")


class InputError(ValueError):
    """A curve, swap, fixings or file input that cannot be used.

    `source` names the file (empty for in-memory input), `path` the offending
    key, written as in Python: ``curves[1].instruments["in use"][3]``.
    """

    def __init__(self, path: str, message: str, source: str = "") -> None:
        super().__init__(path, message, source)
        self.path = path
        self.message = message
        self.source = source

    def __str__(self) -> str:
        return ": ".join(part for part in (self.source, self.path, self.message) if part)


def key_path(parent: str, key: str | int) -> str:
    """The path of `key` inside `parent`: ``a.b``, ``a["in use"]`` or ``a[3]``."""
    if isinstance(key, int):
        return f"{parent}[{key}]"
    if _NAME.fullmatch(key):
        return f"{parent}.{key}" if parent else key
    return f"{parent}[{json.dumps(key)}]"


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
    raise InputError(path, f"expected a date as YYYY-MM-DD, got {value!r}")


def plain(value: Any) -> Any:
    """A deep copy made of dicts and lists (mappings and tuples are converted)."""
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


def _with_dates(value: Mapping[str, Any], keys: tuple[str, ...], what: str) -> dict[str, Any]:
    if not isinstance(value, Mapping):
        raise TypeError(f"a {what} is described by a dict, got {type(value).__name__}")
    data: dict[str, Any] = plain(value)
    for key in keys:
        if key in data:
            data[key] = as_date(data[key], key_path("", key))
    return data


def curve_input(curve: Mapping[str, Any]) -> dict[str, Any]:
    """A private copy of a curve dict with its value date as a `datetime.date`."""
    return _with_dates(curve, CURVE_DATE_KEYS, "curve")


def swap_input(swap: Mapping[str, Any], generator: str | None = None) -> dict[str, Any]:
    """A private copy of a swap dict with its dates as `datetime.date`.

    With a `generator`, its leg conventions fill every leg key that the dict
    leaves out, and "schedule roll" defaults to "backward".
    """
    data = _with_dates(swap, SWAP_DATE_KEYS, "swap")
    if generator is None:
        return data
    if generator not in GENERATORS:
        raise InputError("generator", f"unknown generator {generator!r}")
    data.setdefault("schedule roll", "backward")
    for leg, fixed in (("leg1", True), ("leg2", False)):
        given = data.get(leg, {})
        if isinstance(given, dict):
            conventions = leg_conventions(generator, fixed=fixed)
            conventions["is paid"] = fixed
            data[leg] = {**conventions, **given}
    return data


def fixings_input(fixings: Mapping[str, Any] | None) -> dict[str, Any] | None:
    """A plain fixings dict, index name -> {"dates": [...], "values": [...]},
    with ISO date texts turned into `datetime.date`."""
    if fixings is None:
        return None
    if not isinstance(fixings, Mapping):
        raise TypeError(f"fixings are a dict by index name, got {type(fixings).__name__}")
    data: dict[str, Any] = plain(fixings)
    for name, series in data.items():
        if isinstance(series, dict) and isinstance(series.get("dates"), list):
            series["dates"] = [as_date(d, key_path(key_path(name, "dates"), i))
                               for i, d in enumerate(series["dates"])]
    return data


# Strict checks for files: every problem is reported with its key path.

def _get(data: Mapping[str, Any], key: str, path: str, kind: type | tuple[type, ...],
         what: str) -> Any:
    if key not in data:
        raise InputError(key_path(path, key), "missing key")
    return _expect(data[key], key_path(path, key), kind, what)


def _expect(value: Any, path: str, kind: type | tuple[type, ...], what: str) -> Any:
    # bool is an int in Python, but never a number or a count here.
    if isinstance(value, bool) and bool not in (kind if isinstance(kind, tuple) else (kind,)):
        raise InputError(path, f"expected {what}, got {json.dumps(value)}")
    if not isinstance(value, kind):
        shown = json.dumps(value) if isinstance(value, (str, int, float)) else type(value).__name__
        if isinstance(value, (dict, Mapping)):
            shown = "an object"
        elif isinstance(value, list):
            shown = "a list"
        elif value is None:
            shown = "null"
        raise InputError(path, f"expected {what}, got {shown}")
    if isinstance(value, float) and not math.isfinite(value):
        raise InputError(path, f"expected a finite number, got {value}")
    return value


def _date(data: Mapping[str, Any], key: str, path: str) -> dt.date:
    value = _get(data, key, path, (str, dt.date), "a date as YYYY-MM-DD")
    return as_date(value, key_path(path, key))


def _name(value: str, path: str, known: Mapping[str, Any], what: str) -> None:
    if value not in known:
        raise InputError(path, f"unknown {what} {value!r} (known: {', '.join(known)})")


def _calendar(value: str, path: str) -> None:
    pieces = [piece.strip(" \t") for piece in value.split(",")]
    pieces = [piece for piece in pieces if piece]
    if not pieces:
        raise InputError(path, "empty calendar name")
    for piece in pieces:
        _name(piece, path, CALENDARS, "calendar")


def _tenor(value: str, path: str) -> None:
    if not _TENOR.fullmatch(value):
        raise InputError(path, f"invalid tenor {value!r} (a count and D, BD, W, M or Y)")


def check_curve(curve: Any, path: str) -> dict[str, Any]:
    """A checked copy of a curve dict, dates converted; raises InputError."""
    _expect(curve, path, Mapping, "a curve object")
    data: dict[str, Any] = plain(curve)
    _get(data, "id", path, str, "a text")
    data["value date"] = _date(data, "value date", path)
    _get(data, "currency", path, str, "a text")
    if "interpolation" in data:
        name = _get(data, "interpolation", path, str, "a text")
        if name.casefold() not in {known.casefold() for known in INTERPOLATIONS}:
            raise InputError(key_path(path, "interpolation"),
                             f"unknown interpolation {name!r} (known: {', '.join(INTERPOLATIONS)})")
    where = key_path(path, "instruments")
    instruments = _get(data, "instruments", path, Mapping, "an object with the instrument columns")
    columns = {}
    for column, kind, what in (("generator", str, "a generator name"), ("tenor", str, "a tenor"),
                               ("quote", (int, float), "a quote in percent"),
                               ("in use", bool, "true or false")):
        values = _get(instruments, column, where, list, "a list")
        column_path = key_path(where, column)
        for i, value in enumerate(values):
            _expect(value, key_path(column_path, i), kind, what)
            if column == "generator":
                _name(value, key_path(column_path, i), GENERATORS, "generator")
            elif column == "tenor":
                _tenor(value, key_path(column_path, i))
        columns[column] = len(values)
    if len(set(columns.values())) != 1:
        sizes = ", ".join(f"{name} {size}" for name, size in columns.items())
        raise InputError(where, f"columns must have the same length (got {sizes})")
    return data


def check_swap(swap: Any, path: str) -> dict[str, Any]:
    """A checked copy of a swap dict, dates converted; raises InputError."""
    _expect(swap, path, Mapping, "a swap object")
    data: dict[str, Any] = plain(swap)
    _get(data, "id", path, str, "a text")
    start = data["effective date"] = _date(data, "effective date", path)
    end = data["termination date"] = _date(data, "termination date", path)
    if end <= start:
        raise InputError(key_path(path, "termination date"),
                         f"{end.isoformat()} is not after the effective date {start.isoformat()}")
    _get(data, "schedule roll", path, str, "a text")
    for leg in ("leg1", "leg2"):
        leg_path = key_path(path, leg)
        legs = _get(data, leg, path, Mapping, "a leg object")
        for key in LEG_TEXT_KEYS:
            value = _get(legs, key, leg_path, str, "a text")
            if "calendar" in key:
                _calendar(value, key_path(leg_path, key))
        _tenor(legs["frequency"], key_path(leg_path, "frequency"))
        fixed = _get(legs, "is fixed", leg_path, bool, "true or false")
        _get(legs, "is paid", leg_path, bool, "true or false")
        _get(legs, "pay lag", leg_path, int, "a whole number of days")
        _get(legs, "notional", leg_path, (int, float), "a number")
        if fixed:
            _get(legs, "rate", leg_path, (int, float), "a decimal rate")
        else:
            index = _get(legs, "index", leg_path, str, "an index name")
            _name(index, key_path(leg_path, "index"), INDICES, "index")
            _get(legs, "margin", leg_path, (int, float), "a decimal margin")
    return data


def check_trade(trade: Any, path: str) -> tuple[str, dict[str, Any]]:
    """(curve id, checked swap dict) of one entry of a trades file.

    A trade is a swap dict plus "curve", and optionally "generator", whose
    conventions fill the leg keys the trade leaves out.
    """
    _expect(trade, path, Mapping, "a trade object")
    curve = _get(trade, "curve", path, str, "a curve id")
    swap = {key: value for key, value in trade.items() if key not in ("curve", "generator")}
    if "generator" in trade:
        generator = _get(trade, "generator", path, str, "a generator name")
        _name(generator, key_path(path, "generator"), GENERATORS, "generator")
        for leg in ("leg1", "leg2"):
            if leg in swap:
                _expect(swap[leg], key_path(path, leg), Mapping, "a leg object")
        if "effective date" in swap:
            swap["effective date"] = _date(swap, "effective date", path)
        if "termination date" in swap:
            swap["termination date"] = _date(swap, "termination date", path)
        swap = swap_input(swap, generator)
    return curve, check_swap(swap, path)


def check_fixings(fixings: Any, path: str) -> dict[str, Any]:
    """A checked copy of a fixings dict, dates converted; raises InputError."""
    _expect(fixings, path, Mapping, "an object keyed by index name")
    data = {}
    for name, series in fixings.items():
        where = key_path(path, name)
        _name(name, where, INDICES, "index")
        _expect(series, where, Mapping, 'an object with "dates" and "values"')
        dates = _get(series, "dates", where, list, "a list")
        values = _get(series, "values", where, list, "a list")
        dates = [as_date(_expect(d, key_path(key_path(where, "dates"), i), (str, dt.date),
                                 "a date as YYYY-MM-DD"), key_path(key_path(where, "dates"), i))
                 for i, d in enumerate(dates)]
        for i, value in enumerate(values):
            _expect(value, key_path(key_path(where, "values"), i), (int, float), "a decimal rate")
        if len(dates) != len(values):
            raise InputError(where, f'"dates" has {len(dates)} entries, "values" {len(values)}')
        data[name] = {"dates": dates, "values": list(values)}
    return data


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
        raise InputError(f"line {error.lineno} column {error.colno}",
                         f"malformed JSON ({error.msg})", source) from None
