"""Market, trades and fixings files, checked with key paths in every message.

- market: ``{"curves": [curve dict, ...]}``, curve ids unique;
- trades: ``{"trades": [trade, ...]}``, a trade being a swap dict plus
  "curve" (the id of a market curve) and optionally "generator", whose
  conventions fill the leg keys the trade leaves out;
- fixings: ``{"SOFR": {"dates": [...], "values": [...]}, ...}``.

Dates are YYYY-MM-DD text. Problems raise `tessarin.InputError`, whose text
names the file and the key path, e.g.
``market.json: curves[1].instruments.generator[3]: unknown generator 'X'``.
"""

from __future__ import annotations

from typing import Any, NamedTuple

from ._inputs import InputError, check_curve, check_fixings, check_trade, key_path, read_json
from ._types import PathLike


class Trade(NamedTuple):
    """One entry of a trades file."""

    curve: str
    """Id of the market curve that prices the trade."""
    swap: dict[str, Any]
    """The swap dict for `tessarin.IRS`, generator conventions filled in."""
    where: str
    """Key path of the entry in its file, e.g. ``trades[3]``."""


def _top_list(document: Any, key: str, source: str) -> list[Any]:
    if not isinstance(document, dict):
        raise InputError("", f'expected a JSON object with "{key}"', source)
    if key not in document:
        raise InputError(key, "missing key", source)
    entries = document[key]
    if not isinstance(entries, list) or not entries:
        raise InputError(key, "expected a non-empty list", source)
    return entries


def _in_file(source: str, check: Any, *args: Any) -> Any:
    try:
        return check(*args)
    except InputError as error:
        raise InputError(error.path, error.message, source) from None


def load_market(path: PathLike) -> list[dict[str, Any]]:
    """The checked curve dicts of a market file, ready for `tessarin.YieldCurve`."""
    source = str(path)
    curves = []
    seen: dict[str, str] = {}
    for i, entry in enumerate(_top_list(read_json(path), "curves", source)):
        where = key_path("curves", i)
        curve = _in_file(source, check_curve, entry, where)
        if curve["id"] in seen:
            raise InputError(key_path(where, "id"),
                             f"curve id {curve['id']!r} is used twice (first in "
                             f"{seen[curve['id']]})",
                             source)
        seen[curve["id"]] = where
        curves.append(curve)
    return curves


def load_trades(path: PathLike) -> list[Trade]:
    """The checked trades of a trades file."""
    source = str(path)
    trades = []
    for i, entry in enumerate(_top_list(read_json(path), "trades", source)):
        where = key_path("trades", i)
        curve, swap = _in_file(source, check_trade, entry, where)
        trades.append(Trade(curve, swap, where))
    return trades


def load_fixings(path: PathLike) -> dict[str, Any]:
    """The checked fixings of a fixings file, dates as `datetime.date`."""
    fixings: dict[str, Any] = _in_file(str(path), check_fixings, read_json(path), "")
    return fixings
