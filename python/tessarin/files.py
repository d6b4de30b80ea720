"""Market, trades and fixings files, checked with key paths in every message.

- market: ``{"curves": [curve dict, ...]}``, curve ids unique, and
  optionally "calendars": ``{"extend through": 2100}`` and/or user calendars
  ``{"name", "holidays", "weekend", "extend"}`` (a list of these), applied
  to the whole process when the file is loaded;
- trades: ``{"trades": [trade, ...]}``, a trade being a swap dict plus
  "curve" (the id of a market curve) and optionally "generator", whose
  conventions fill the leg keys the trade leaves out;
- fixings: ``{"SOFR": {"dates": [...], "values": [...]}, ...}``.

Dates are YYYY-MM-DD text. Problems raise `tessarin.InputError`, whose text
names the file and the key path, e.g.
``market.json: curves[1].instruments.generator[3]: unknown generator 'X'``.
"""

from __future__ import annotations

import warnings
from pathlib import Path
from typing import TYPE_CHECKING, Any, NamedTuple

import _tessarin

from ._fixings import Fixings
from ._inputs import (
    Checker,
    InputError,
    InputWarning,
    check_curve,
    check_fixings,
    key_path,
    read_json,
    relocate,
    settled,
    user_stacklevel,
)
from ._types import PathLike, quoted

if TYPE_CHECKING:
    from .tables import TradeRows

# The top-level key of each kind of file, to recognise a file given in the wrong place.
_KINDS = {"curves": "market", "trades": "trades"}


class Trade(NamedTuple):
    """One entry of a trades file."""

    curve: str
    """Id of the market curve that prices the trade."""
    swap: dict[str, Any]
    """The swap dict for `tessarin.IRS`, generator conventions filled in."""
    where: str
    """Key path of the entry in its file, e.g. ``trades[3]``."""


def _top_list(document: Any, key: str, source: str, strict: bool,
              optional: tuple[str, ...] = ()) -> list[Any]:
    if not isinstance(document, dict):
        raise InputError("", f'expected a JSON object with "{key}"', source)
    if key not in document:
        other = next((k for k in _KINDS if k != key and k in document), None)
        if other is not None:
            raise InputError(key, f"missing key; this is a {_KINDS[other]} file, not a "
                                  f"{_KINDS[key]} file: give MARKET.json first, then "
                                  f"TRADES.json", source)
        if document and all(isinstance(v, dict) and "dates" in v for v in document.values()):
            raise InputError(key, f"missing key; this is a fixings file, not a {_KINDS[key]} "
                                  "file: give MARKET.json first, then TRADES.json, and the "
                                  "fixings with --fixings", source)
        raise InputError(key, "missing key", source)
    _in_file(source, "", Checker(strict).keys, document, "", (key, *optional))
    entries = document[key]
    if not isinstance(entries, list) or not entries:
        raise InputError(key, "expected a non-empty list", source)
    return entries


def _subject(kind: str, entry: Any) -> str:
    label = entry.get("id") if isinstance(entry, dict) else None
    return f"{kind} {quoted(label)}" if isinstance(label, str) else ""


def _in_file(source: str, subject: str, check: Any, *args: Any) -> Any:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = check(*args)
        except InputError as error:
            raise relocate(error, source, subject) from None
    for warning in caught:
        message = warning.message
        if isinstance(message, InputWarning):
            message = InputWarning(message.path, message.message, source,
                                   subject or message.subject)
        warnings.warn(message, stacklevel=user_stacklevel())
    return result


def load_market(path: PathLike, *, strict: bool = True) -> list[dict[str, Any]]:
    """The checked curve dicts of a market file, ready for `tessarin.YieldCurve`."""
    source = str(path)
    curves = []
    seen: dict[str, str] = {}
    document = read_json(path)
    entries = _top_list(document, "curves", source, strict, ("calendars",))
    if "calendars" in document:
        # Before the curves, whose checks read the calendars' coverage.
        from . import calendars

        try:
            calendars.apply(document["calendars"])
        except InputError as error:
            raise relocate(error, source) from None
    for i, entry in enumerate(entries):
        where = key_path("curves", i)
        curve = _in_file(source, _subject("curve", entry), check_curve, entry, where, strict)
        if curve["id"] in seen:
            raise InputError(key_path(where, "id"),
                             f"curve id {quoted(curve['id'])} is used twice (first in "
                             f"{seen[curve['id']]})",
                             source)
        seen[curve["id"]] = where
        curves.append(curve)
    return curves


def load_trades(path: PathLike, *, strict: bool = True) -> list[Trade]:
    """The checked trades of a trades file: JSON, or a CSV or Parquet table (by the file's
    extension; see `tessarin.tables` for its columns), through the same checks. The first
    trade that cannot be used raises InputError naming the file and where the trade is:
    its key path in JSON, its line in CSV (the header is line 1), its row in Parquet."""
    from .tables import TABLE_PLACES

    source = str(path)
    place = TABLE_PLACES.get(Path(path).suffix.lower())
    if place is not None:
        return _table_trades(path, place, strict)
    trades = []
    entries = list(_top_list(read_json(path), "trades", source, strict))
    for i, (entry, read) in enumerate(zip(entries, _tessarin.trades_from_dicts(entries, strict),
                                          strict=True)):
        # Clean trades need neither the warnings' capture nor a subject.
        checked = read if len(read) == 2 else _in_file(source, _subject("trade", entry),
                                                       settled, read, strict)
        trades.append(Trade(*checked, f"trades[{i}]"))
    return trades


def json_trade_rows(path: PathLike, *, strict: bool = True) -> TradeRows:
    """The trades of a JSON trades file as the native book's columns, read and checked in one
    call, with the warnings and the first error of `load_trades`."""
    from .tables import TradeRows

    source = str(path)
    entries = list(_top_list(read_json(path), "trades", source, strict))
    columns, conventions, issues = _tessarin.trades_from_dicts(entries, strict, True)
    # Only the entries that are not clean have doubts to tell or a problem to raise.
    for i, read in issues:
        _in_file(source, _subject("trade", entries[i]), settled, read, strict)
    return TradeRows(columns, conventions, source, ("trades[{}]", 0))


def _table_trades(path: PathLike, place: tuple[str, int], strict: bool) -> list[Trade]:
    from .tables import normalise_table, read_table, swap_of_row

    source = str(path)
    try:
        rows = normalise_table(read_table(path), strict=strict, source=source, place=place)
    except InputError as error:
        raise relocate(error, source) from None
    columns = rows.columns
    for i, (column, message) in enumerate(zip(columns["error column"], columns["error"],
                                              strict=True)):
        if message is not None:
            raise InputError(f"{rows.location(i)}, column {quoted(column)}", message, source,
                             f"trade {quoted(rows.ids[i])}")
    return [Trade(curve, swap_of_row(rows, i), rows.location(i))
            for i, curve in enumerate(columns["curve"])]


def load_fixings(path: PathLike, *, strict: bool = True) -> Fixings:
    """The checked fixings of a fixings file, dates as `datetime.date`."""
    document = read_json(path)
    if isinstance(document, dict):
        for key in _KINDS:
            if key in document:
                raise InputError(key, f"this is a {_KINDS[key]} file, not a fixings file",
                                 str(path))
    return Fixings.checked(_in_file(str(path), "", check_fixings, document, "", strict))
