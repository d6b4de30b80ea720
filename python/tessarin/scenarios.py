"""Market scenarios over curve quotes.

A scenario set says what it moves; resolved against a market (the curve dicts of a market
file, or `tessarin.YieldCurve` objects) it gives, per scenario, the shocked quotes of every
curve it changes. Quotes are in percent and changes in basis points, so a change of ``bp``
moves a quote to ``quote + bp / 100``, and a futures price, 100 minus its rate, to
``price - bp / 100``; this is the one place where that sum is made, so every engine revalues
on the very same numbers.

- `parallel(bp, curves=None)`: every quote in use moved by ``bp`` (a list: one scenario each);
- `key_rate(bp, curves=None)`: one curve tenor at a time;
- `historical(table)`: quote changes by date (columns date, curve, tenor, change in bp), one
  scenario per date, applied to today's quotes;
- `absolute(quotes)`: explicit quotes, ``{scenario: {curve: {tenor: quote}}}``.

A curve or tenor that the market does not hold is a `tessarin.InputError` naming the row.
"""

from __future__ import annotations

import contextlib
import csv
import datetime as dt
import math
import warnings
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

from ._inputs import InputError, as_date, check_curve, need_pyarrow, reading_csv
from ._types import one_line, quoted
from .conventions import FUTURES

HISTORICAL_COLUMNS = ("date", "curve", "tenor", "change")


@dataclass(frozen=True)
class Scenario:
    """One market scenario: the shocked quotes (percent) of the curves it changes."""

    name: str
    quotes: Mapping[str, tuple[float, ...]]
    """Curve id -> every quote of the curve, in instrument order, after the shock."""


@dataclass(frozen=True)
class _Move:
    curve: str | None  # None: every curve
    tenor: str | None  # None: every tenor in use
    value: float  # a change in bp, or an absolute quote in percent
    where: str  # the row that asked for it, for errors
    absolute: bool = False


@dataclass(frozen=True)
class _Plan:
    name: str
    moves: tuple[_Move, ...]


@dataclass(frozen=True)
class _KeyRates:
    bps: tuple[float, ...]
    curves: tuple[str, ...] | None


@dataclass
class ScenarioSet:
    """An ordered set of scenarios, resolved against a market by `resolve`.

    Sets add up: ``parallel([-25, 25]) + key_rate(1)`` holds both, in that order.
    """

    _parts: list[_Plan | _KeyRates] = field(default_factory=list)

    def __add__(self, other: ScenarioSet) -> ScenarioSet:
        if not isinstance(other, ScenarioSet):
            return NotImplemented
        return ScenarioSet(self._parts + other._parts)

    def resolve(self, market: Iterable[Any]) -> list[Scenario]:
        """The scenarios on this market, in order. `market` holds curve dicts (as
        `tessarin.load_market` returns them) or `tessarin.YieldCurve` objects."""
        curves = _market_rows(market)
        scenarios: list[Scenario] = []
        for part in self._parts:
            plans = _key_rate_plans(part, curves) if isinstance(part, _KeyRates) else [part]
            scenarios += [_apply(plan, curves) for plan in plans]
        if not scenarios:
            raise InputError("scenarios", "no scenario to run")
        return scenarios


def _bps(bp: float | Iterable[float], what: str) -> tuple[float, ...]:
    values = (bp,) if isinstance(bp, (int, float)) else tuple(bp)
    if not values:
        raise InputError(what, "expected at least one shift in basis points")
    for i, value in enumerate(values):
        _finite(value, f"{what}[{i}]" if len(values) > 1 else what, "a shift in basis points")
    return tuple(float(value) for value in values)


def _finite(value: Any, where: str, what: str) -> float:
    """A finite float from a number, a NumPy scalar or (from CSV) its text."""
    number = None
    if isinstance(value, str):
        with contextlib.suppress(ValueError):
            number = float(value)
    elif not isinstance(value, bool) and hasattr(value, "__float__"):
        number = float(value)
    if number is None:
        raise InputError(where, f"expected {what}, got {quoted(value)}")
    if not math.isfinite(number):
        raise InputError(where, f"expected a finite number, got {value}")
    return number


def _curve_names(curves: str | Iterable[str] | None) -> tuple[str, ...] | None:
    if curves is None:
        return None
    names = (curves,) if isinstance(curves, str) else tuple(curves)
    if not names:
        raise InputError("curves", "expected at least one curve id")
    return names


def _signed(bp: float) -> str:
    return f"{bp:+g}bp"


def parallel(bp: float | Iterable[float], curves: str | Iterable[str] | None = None
             ) -> ScenarioSet:
    """Every quote in use moved by `bp` basis points: one scenario per shift, applied to
    every curve of the market or to the named ones."""
    names = _curve_names(curves)
    plans: list[_Plan | _KeyRates] = []
    for i, shift in enumerate(_bps(bp, "bp")):
        where = f"parallel[{i}]"
        moves = tuple(_Move(name, None, shift, where) for name in names) if names else (
            _Move(None, None, shift, where),)
        on = f" on {', '.join(names)}" if names else ""
        plans.append(_Plan(f"parallel {_signed(shift)}{on}", moves))
    return ScenarioSet(plans)


def key_rate(bp: float | Iterable[float], curves: str | Iterable[str] | None = None
             ) -> ScenarioSet:
    """One scenario per curve tenor in use (and per shift): that quote alone moved by `bp`
    basis points, on every curve of the market or on the named ones."""
    return ScenarioSet([_KeyRates(_bps(bp, "bp"), _curve_names(curves))])


def absolute(quotes: Mapping[str, Mapping[str, Mapping[str, float]]]) -> ScenarioSet:
    """Explicit quotes (percent): ``{scenario name: {curve id: {tenor: quote}}}``; the tenors
    a scenario leaves out keep today's quotes."""
    if not isinstance(quotes, Mapping) or not quotes:
        raise InputError("quotes", "expected a non-empty dict of scenarios")
    plans: list[_Plan | _KeyRates] = []
    for name, by_curve in quotes.items():
        where = f"quotes[{quoted(name)}]"
        if not isinstance(by_curve, Mapping) or not by_curve:
            raise InputError(where, "expected a non-empty dict of curves")
        moves = []
        for curve, by_tenor in by_curve.items():
            at = f"{where}[{quoted(curve)}]"
            if not isinstance(by_tenor, Mapping) or not by_tenor:
                raise InputError(at, "expected a non-empty dict of tenors and quotes")
            for tenor, quote in by_tenor.items():
                row = f"{at}[{quoted(tenor)}]"
                moves.append(_Move(curve, tenor, _finite(quote, row, "a quote in percent"), row,
                                   absolute=True))
        plans.append(_Plan(str(name), tuple(moves)))
    return ScenarioSet(plans)


def historical(table: Any) -> ScenarioSet:
    """One scenario per date of a table of quote changes, in date order: a pandas DataFrame,
    or a CSV or Parquet file, with the columns date, curve, tenor and change (basis points).
    Each date's changes apply to today's quotes; tenors a date leaves out do not move."""
    rows, source = _table_rows(table)
    if not rows:
        raise InputError("", "the table of changes has no rows", source)
    by_date: dict[dt.date, list[_Move]] = {}
    seen: dict[tuple[dt.date, str, str], str] = {}
    for where, row in rows:
        try:
            day = as_date(row["date"], where + ".date")
            curve = _text(row["curve"], where + ".curve", "a curve id")
            tenor = _text(row["tenor"], where + ".tenor", "a tenor")
            change = _finite(row["change"], where + ".change", "a change in basis points")
        except InputError as error:
            raise InputError(error.path, error.message, source) from None
        key = (day, curve, tenor)
        if key in seen:
            raise InputError(where, f"{curve} {tenor} on {day.isoformat()} is given twice "
                                    f"(first in {seen[key]})", source)
        seen[key] = where
        by_date.setdefault(day, []).append(_Move(curve, tenor, change, _located(source, where)))
    return ScenarioSet([_Plan(day.isoformat(), tuple(moves))
                        for day, moves in sorted(by_date.items())])


def _text(value: Any, where: str, what: str) -> str:
    if not isinstance(value, str) or not value.strip():
        raise InputError(where, f"expected {what}, got {quoted(value)}")
    return value.strip()


def _located(source: str, where: str) -> str:
    return f"{source}: {where}" if source else where


def _table_rows(table: Any) -> tuple[list[tuple[str, Mapping[str, Any]]], str]:
    """(row label, row) pairs of a DataFrame, CSV or Parquet file, and the file name."""
    if isinstance(table, (str, Path)):
        path = Path(table)
        source = str(table)
        if path.suffix.lower() in (".parquet", ".pq"):
            need_pyarrow("reading", "", source)
            import pyarrow.parquet as pq
            try:
                records = pq.read_table(path).to_pylist()
            except (OSError, ValueError) as error:
                raise InputError("", f"cannot read the Parquet file ({one_line(error)})",
                                 source) from None
            _require_columns(records[0].keys() if records else HISTORICAL_COLUMNS, source)
            return [(f"row {i + 1}", r) for i, r in enumerate(records)], source
        with reading_csv(source), path.open(newline="", encoding="utf-8") as handle:
            reader = csv.DictReader(handle)
            _require_columns(reader.fieldnames or (), source)
            # Line numbers as an editor shows them: the header is line 1.
            return [(f"line {reader.line_num}", row) for row in reader], source
    if hasattr(table, "to_dict") and hasattr(table, "columns"):
        _require_columns(list(table.columns), "")
        return [(f"row {quoted(label)}", row) for label, row in
                zip(table.index, table.to_dict("records"), strict=True)], ""
    raise TypeError("historical() takes a pandas DataFrame or the path of a CSV or Parquet "
                    f"file, got {type(table).__name__}")


def _require_columns(columns: Iterable[str], source: str) -> None:
    missing = [name for name in HISTORICAL_COLUMNS if name not in set(columns)]
    if missing:
        raise InputError("", f"missing column(s) {', '.join(missing)} (expected "
                             f"{', '.join(HISTORICAL_COLUMNS)})", source)


# Resolution against a market

@dataclass(frozen=True)
class _CurveRows:
    tenors: tuple[str, ...]
    quotes: tuple[float, ...]
    in_use: tuple[bool, ...]
    # Per row, the sign of a quote's move for a rate up: -1 for a futures price.
    directions: tuple[float, ...]


def _market_rows(market: Iterable[Any]) -> dict[str, _CurveRows]:
    if isinstance(market, (str, bytes, Mapping)) or not isinstance(market, Iterable):
        raise TypeError("a market is a list of curve dicts or tessarin.YieldCurve objects, got "
                        f"{type(market).__name__}")
    curves: dict[str, _CurveRows] = {}
    for i, curve in enumerate(market):
        data = curve.to_dict() if hasattr(curve, "to_dict") else curve
        if not isinstance(data, Mapping) or "id" not in data or "instruments" not in data:
            raise TypeError("a market holds curve dicts or tessarin.YieldCurve objects")
        # The same checks as a curve built from the dict: columns present, of one length.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            rows = check_curve(data, f"market[{i}]", strict=False)["instruments"]
        curves[str(data["id"])] = _CurveRows(tuple(rows["tenor"]),
                                             tuple(float(q) for q in rows["quote"]),
                                             tuple(bool(u) for u in rows["in use"]),
                                             tuple(-1.0 if g in FUTURES else 1.0
                                                   for g in rows["generator"]))
    if not curves:
        raise InputError("market", "no curves")
    return curves


def _key_rate_plans(part: _KeyRates, curves: Mapping[str, _CurveRows]) -> list[_Plan]:
    names = part.curves if part.curves is not None else tuple(curves)
    plans = []
    for name in names:
        where = f"key_rate(curves={quoted(name)})"
        rows = _curve(curves, name, where)
        for bp in part.bps:
            for tenor, used in zip(rows.tenors, rows.in_use, strict=True):
                if used:
                    plans.append(_Plan(f"{name} {tenor} {_signed(bp)}",
                                       (_Move(name, tenor, bp, where),)))
    return plans


def _curve(curves: Mapping[str, _CurveRows], name: str, where: str) -> _CurveRows:
    if name not in curves:
        raise InputError(where, f"unknown curve {quoted(name)} "
                                f"(the market has: {', '.join(curves)})")
    return curves[name]


def _apply(plan: _Plan, curves: Mapping[str, _CurveRows]) -> Scenario:
    quotes: dict[str, list[float]] = {}
    for move in plan.moves:
        for name in (move.curve,) if move.curve is not None else tuple(curves):
            rows = _curve(curves, name, move.where)
            shocked = quotes.setdefault(name, list(rows.quotes))
            if move.tenor is None:
                targets = [i for i, used in enumerate(rows.in_use) if used]
            else:
                targets = [i for i, tenor in enumerate(rows.tenors) if tenor == move.tenor]
                if not targets:
                    raise InputError(move.where, f"unknown tenor {quoted(move.tenor)} on {name} "
                                                 f"(it has: {', '.join(rows.tenors)})")
                if len(targets) > 1:
                    raise InputError(move.where, f"tenor {quoted(move.tenor)} names {len(targets)} "
                                                 f"instruments of {name}")
            for i in targets:
                shocked[i] = (move.value if move.absolute
                              else rows.quotes[i] + rows.directions[i] * move.value / 100.0)
    return Scenario(plan.name, {name: tuple(values) for name, values in quotes.items()})
