"""Trades as tables: one row per trade, read from CSV, Parquet or a pandas DataFrame.

Columns: "id", "curve", "generator", "effective date", "termination date",
"fixed rate", "notional", "direction" ("payer" or "pay" pays the fixed rate,
"receiver" or "receive" receives it; the column may also be called "payer or
receiver") and "margin" (optional, 0 when absent or empty). Optional columns
"leg1 <key>" and "leg2 <key>", for the leg keys of a swap dict ("currency",
"calendar", "frequency", "day count convention", "accrual adjustment",
"accrual calendar", "pay adjustment", "pay calendar", "pay lag", and "index"
for leg2), override the generator's conventions where a cell is not empty.
Leg1 is the fixed leg, leg2 the floating one, as with `tessarin.IRS`'s
``generator`` shorthand.

`normalise_table` checks every cell at once and turns the table into the
per-trade swap terms that `tessarin.Book` builds natively; a bad cell refuses
its row only, with an error naming the row and the column.
"""

from __future__ import annotations

import warnings
from collections.abc import Mapping
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING, Any

from ._inputs import (
    LEG_KEYS as SWAP_LEG_KEYS,
)
from ._inputs import (
    LEG_TEXT_KEYS,
    InputError,
    InputWarning,
    check_pairing,
    key_path,
    need_pyarrow,
    rate_doubt,
    read_swap,
    shown,
    user_stacklevel,
)
from ._types import one_line, quoted
from .conventions import GENERATORS, leg_conventions

if TYPE_CHECKING:
    import pandas

    from ._types import PathLike

TABLE_COLUMNS = ("id", "curve", "generator", "effective date", "termination date", "fixed rate",
                 "notional", "direction", "margin")
LEG_KEYS = (*LEG_TEXT_KEYS, "pay lag")
OVERRIDE_COLUMNS = (*(f"leg{k} {key}" for k in (1, 2) for key in LEG_KEYS), "leg2 index")
DIRECTIONS = {"payer": True, "receiver": False, "pay": True, "receive": False}
# Other names of the direction column, read as "direction".
DIRECTION_ALIASES = ("payer or receiver", "payer/receiver", "pay/receive", "pay receive")
# How the rows of a table file are told: a CSV file by its lines under the header line 1,
# a Parquet file by its rows from 1.
TABLE_PLACES = {".csv": ("line {}", 2), ".parquet": ("row {}", 1)}
EPOCH_ORDINAL = 719163  # datetime.date(1970, 1, 1).toordinal()


@dataclass
class TradeRows:
    """Trades ready for the native book: columns of typed terms, one entry per trade.

    Conventions are shared: ``conventions[c]`` is a swap dict whose leg conventions are
    those of every trade whose ``columns["conventions"]`` is c. A refused row has its
    column and message in ``columns["error column"]`` and ``columns["error"]``.
    """

    columns: dict[str, list[Any]]
    conventions: list[dict[str, Any]] = field(default_factory=list)
    source: str = ""
    """The file the trades come from, if any."""
    place: tuple[str, int] = ("row {}", 0)
    """How row i is told: ("line {}", 2) is "line {i + 2}", as an editor shows a CSV file;
    ("trades[{}]", 0) the key path of an entry of a JSON trades file."""

    def location(self, i: int) -> str:
        """Where row i is, as its file shows it: "line 5" of a CSV file, else "row 3"."""
        return self.place[0].format(i + self.place[1])

    def located(self, i: int, column: str, message: str) -> str:
        """`message` about `column` of row i, with the file and the row as the file shows it:
        "trades.csv: line 5, column 'fixed rate': ..."."""
        where = self.location(i)
        if where.endswith("]"):
            # An entry of a JSON file: its key path, as the file's own checks tell it.
            where += f".{column.removeprefix(where + '.')}" if column else ""
        elif column:
            where += f", column {quoted(column)}"
        return f"{self.source}: {where}: {message}" if self.source else f"{where}: {message}"

    def part(self, first: int, last: int | None) -> TradeRows:
        """Rows [first, last), each told where it is in the whole."""
        return TradeRows({key: values[first:last] for key, values in self.columns.items()},
                         self.conventions, self.source, (self.place[0], self.place[1] + first))

    @property
    def ids(self) -> list[str]:
        """Trade ids, one per row."""
        ids: list[str] = self.columns["id"]
        return ids


def read_table(path: PathLike) -> pandas.DataFrame:
    """A CSV or Parquet trades file as a DataFrame of text and numbers."""
    source = str(path)
    try:
        import pandas as pd
    except ImportError:
        raise InputError("", "reading a trades table needs pandas: pip install "
                         "'tessarin[pandas]'", source) from None
    suffix = Path(path).suffix.lower()
    if Path(path).is_dir():
        raise InputError("", "expected a file, found a folder", source)
    try:
        if suffix == ".parquet":
            need_pyarrow("reading", "", source)
            return pd.read_parquet(path)
        return pd.read_csv(path, dtype=str, keep_default_na=False, na_values=[""],
                           skipinitialspace=True)
    except InputError:
        raise
    except (OSError, ValueError) as error:
        raise InputError("", f"cannot read the trades table ({one_line(error)})",
                         source) from None


def _given(value: Any) -> bool:
    import pandas as pd

    return value is not None and not pd.isna(value)


def _text(series: pandas.Series, distinct: bool = False) -> pandas.Series:
    """Cells as stripped text (a string Series), empty cells missing. Unless the cells are
    `distinct`, each distinct cell is read once."""
    import pandas as pd

    if distinct:
        text = series.astype("string").str.strip()
        return text.mask(text == "")
    codes, cells = pd.factorize(series)
    text = _text(pd.Series(cells, dtype=object), distinct=True)
    return pd.Series(text.array.take(codes, allow_fill=True), index=series.index)


def _dates(series: pandas.Series) -> pandas.Series:
    """Dates of ISO text, date or datetime cells; anything else is NaT."""
    import numpy as np
    import pandas as pd

    if pd.api.types.is_datetime64_any_dtype(series.dtype):
        return series.dt.normalize()
    # A book repeats few dates: each distinct cell is parsed once.
    codes, cells = pd.factorize(series)
    text = pd.Series(cells).astype("string").str.strip().str.slice(0, 10)
    parsed = pd.to_datetime(text, errors="coerce", format="%Y-%m-%d").to_numpy()
    days = np.where(codes >= 0, parsed[np.maximum(codes, 0)], np.datetime64("NaT"))
    return pd.Series(days.astype(parsed.dtype), index=series.index)


_NUMBERS = {"fixed rate": "a decimal rate", "margin": "a decimal margin", "notional": "a number"}
_RATES = ("fixed rate", "margin")


def _not_a_number(value: Any, what: str) -> str:
    """The message of a number cell that cannot be used, as the swap dict checks word it."""
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return f"expected a finite number, got {float(value)}"
    if value is None or (isinstance(value, str) and not value.strip()) or _missing(value):
        return f"expected {what}, got an empty cell"
    return f"expected {what}, got {shown(value)}"


def _not_a_date(value: Any) -> str:
    """The message of a date cell that cannot be read, as the swap dict checks word it."""
    import numpy as np

    if value is None or (isinstance(value, str) and not value.strip()) or _missing(value):
        return "expected a date as YYYY-MM-DD, got an empty cell"
    if isinstance(value, np.generic):
        value = value.item()  # a cell of a typed Parquet column
    return f"expected a date as YYYY-MM-DD, got {shown(value)}"


def _missing(value: Any) -> bool:
    import pandas as pd

    try:
        return bool(pd.isna(value))
    except (TypeError, ValueError):
        return False


def normalise_table(table: pandas.DataFrame, *, strict: bool = True, source: str = "",
                    place: tuple[str, int] = ("row {}", 0)) -> TradeRows:
    """The checked trades of a trades table; see the module text for the columns.

    `source` names the file and `place` how its rows are told: ("line {}", 2) for a CSV file,
    whose first trade is on line 2 under the header, ("row {}", 0) for a DataFrame. A rate or
    margin beyond ±1 refuses its row, or only warns when not `strict`."""
    import numpy as np
    import pandas as pd

    frame = table.reset_index(drop=True)
    aliases = [c for c in DIRECTION_ALIASES if c in frame.columns]
    if aliases and "direction" not in frame.columns:
        frame = frame.rename(columns={aliases[0]: "direction"})
    repeated = frame.columns[frame.columns.duplicated()]
    if len(repeated):
        raise InputError(str(repeated[0]), "the column is given more than once")
    n = len(frame)
    unknown = [c for c in frame.columns if c not in TABLE_COLUMNS + OVERRIDE_COLUMNS]
    if unknown:
        raise InputError(str(unknown[0]), "unknown column (known: "
                         + ", ".join(TABLE_COLUMNS + OVERRIDE_COLUMNS) + ")")
    for column in ("id", "curve", "effective date", "termination date", "fixed rate",
                   "notional", "direction"):
        if column not in frame.columns:
            raise InputError(column, "missing column")
    error_column: list[Any] = [None] * n
    error: list[Any] = [None] * n

    refused = np.zeros(n, dtype=bool)

    def refuse(mask: Any, column: str, describe: Any) -> None:
        for i in np.flatnonzero(np.asarray(mask)):
            if error[i] is None:
                error_column[i] = column
                error[i] = describe(i)
                refused[i] = True

    ids = _text(frame["id"], distinct=True)
    refuse(ids.isna(), "id", lambda i: "expected a trade id, got an empty cell")
    curves = _text(frame["curve"])
    refuse(curves.isna(), "curve", lambda i: "expected a curve id, got an empty cell")
    generators = (_text(frame["generator"]) if "generator" in frame.columns
                  else pd.Series([None] * n, dtype="string"))
    known = generators.isna() | generators.isin(list(GENERATORS))
    refuse(~known, "generator", lambda i: f"unknown generator {quoted(generators[i])} "
           f"(known: {', '.join(GENERATORS)})")

    days = {}
    for column in ("effective date", "termination date"):
        raw = frame[column]
        parsed = _dates(raw)
        refuse(parsed.isna(), column,
               lambda i, raw=raw: _not_a_date(raw[i]))
        days[column] = parsed
    start, end = days["effective date"], days["termination date"]
    refuse(end <= start, "termination date", lambda i: f"{end[i].date().isoformat()} is not "
           f"after the effective date {start[i].date().isoformat()}")

    numbers = {}
    for column in ("fixed rate", "notional", "margin"):
        if column not in frame.columns:
            numbers[column] = pd.Series(np.zeros(n))
            continue
        raw = frame[column]
        values = pd.to_numeric(raw, errors="coerce").astype(float)
        # A numeric column is empty where it is NaN; only text needs reading as text.
        numeric = pd.api.types.is_numeric_dtype(raw.dtype)
        empty = raw.isna() if numeric else _text(raw).isna()
        if column == "margin":
            values = values.where(~empty, 0.0)
        refuse(~np.isfinite(values.to_numpy()), column,
               lambda i, raw=raw, what=_NUMBERS[column]: _not_a_number(raw[i], what))
        if column in _RATES:
            # Percent for decimals, told as for a swap dict; only a warning when not strict.
            doubted = np.isfinite(values.to_numpy()) & (np.abs(values.to_numpy()) > 1)
            if strict:
                refuse(doubted, column, lambda i, values=values: rate_doubt(values[i]))
            else:
                for i in np.flatnonzero(doubted):
                    if error[i] is None:
                        warnings.warn(InputWarning(
                            f"{place[0].format(i + place[1])}, column {quoted(column)}",
                            rate_doubt(values[i]), source), stacklevel=user_stacklevel())
        numbers[column] = values
    directions = _text(frame["direction"]).str.lower()
    refuse(~directions.isin(list(DIRECTIONS)), "direction",
           lambda i: f"expected payer or receiver, got {quoted(frame['direction'][i])}")

    overrides = {c: _text(frame[c]) for c in OVERRIDE_COLUMNS if c in frame.columns}
    for column in (c for c in overrides if c.endswith("pay lag")):
        lags = pd.to_numeric(overrides[column], errors="coerce")
        bad = overrides[column].notna() & ~(lags.notna() & (lags == lags.round()))
        refuse(bad, column, lambda i, c=column: f"expected a whole number of days, "
               f"got {quoted(frame[c][i])}")

    # Trades that share generator, direction and overrides share one convention set.
    keys = pd.DataFrame({"generator": generators, "direction": directions, **overrides})
    good = ~refused
    codes = np.full(n, -1, dtype=np.int64)
    conventions: list[dict[str, Any]] = []
    if good.any():
        groups = keys[good].fillna("\x00").groupby(list(keys.columns), sort=False).ngroup()
        codes[good] = groups.to_numpy()
        firsts = groups.drop_duplicates()
        for row in firsts.index:
            conventions.append(_conventions_of(
                generators[row] if _given(generators[row]) else None,
                DIRECTIONS[directions[row]],
                {c: overrides[c][row] for c in overrides if _given(overrides[c][row])}))

    # A convention set the trades-file checks refuse refuses its rows, naming the column.
    for code, swap in enumerate(conventions):
        column = _convention_error(swap)
        if column is not None:
            refuse(codes == code, column[0], lambda i, message=column[1]: message)
            good &= codes != code

    def day_numbers(series: pandas.Series) -> list[int]:
        values = series.to_numpy(dtype="datetime64[D]").astype(np.int64)
        return np.where(np.asarray(good, dtype=bool), values, 0).tolist()

    ids_or_rows = ids.fillna("").tolist()
    for i in np.flatnonzero(ids.isna().to_numpy()):
        ids_or_rows[i] = f"row {i}"
    rate = numbers["fixed rate"].fillna(0.0).tolist()
    notional = numbers["notional"].fillna(0.0).tolist()
    margin = numbers["margin"].fillna(0.0).tolist()
    columns = {
        "id": ids_or_rows,
        "curve": curves.fillna("").tolist(),
        "conventions": codes.tolist(),
        "effective date": day_numbers(start),
        "termination date": day_numbers(end),
        "leg1 rate": rate, "leg1 margin": [0.0] * n, "leg1 notional": notional,
        "leg2 rate": [0.0] * n, "leg2 margin": margin, "leg2 notional": notional,
        "error column": error_column, "error": error,
    }
    return TradeRows(columns, conventions, source, place)


def _conventions_of(generator: str | None, payer: bool,
                    overrides: dict[str, str]) -> dict[str, Any]:
    """A swap dict carrying the conventions of one set (numbers are placeholders)."""
    legs: dict[str, dict[str, Any]] = {}
    for k, fixed in ((1, True), (2, False)):
        leg = leg_conventions(generator, fixed=fixed) if generator is not None else {}
        leg["is fixed"] = fixed
        leg["is paid"] = payer if fixed else not payer
        for key in (*LEG_KEYS, "index"):
            value = overrides.get(f"leg{k} {key}")
            if _given(value):
                leg[key] = int(float(value)) if key == "pay lag" else value
        leg["notional"] = 0.0
        leg["rate" if fixed else "margin"] = 0.0
        legs[f"leg{k}"] = leg
    return {"id": "conventions", "effective date": "2000-01-01",
            "termination date": "2000-01-02", "schedule roll": "backward", **legs}


# The column of each leg key a convention set's read may refuse, by the key's path.
_COLUMN_OF_PATH = {key_path(f"leg{k}", key): f"leg{k} {key}"
                   for k in (1, 2) for key in (*LEG_KEYS, "index")}


def _convention_error(swap: dict[str, Any]) -> tuple[str, str] | None:
    """(column, message) of the first leg convention the swap checks refuse, if any."""
    try:
        read_swap(swap)
    except InputError as error:
        if error.path in _COLUMN_OF_PATH:
            return _COLUMN_OF_PATH[error.path], error.message
    return None


_AMOUNTS = frozenset(("notional", "rate", "margin"))
# The keys of a checked leg that are conventions rather than amounts.
_CONVENTION_KEYS = tuple(key for key in SWAP_LEG_KEYS if key not in _AMOUNTS)


def _leg_key(leg: dict[str, Any]) -> tuple[Any, ...]:
    # Checked legs hold values of one type per key: the conventions tell sets apart.
    return tuple(map(leg.get, _CONVENTION_KEYS))


def rows_from_swaps(entries: list[tuple[str, dict[str, Any]] | tuple[InputError, str]]
                    ) -> TradeRows:
    """Trades from (curve id, checked swap dict) pairs; an (InputError, trade id) pair
    refuses its row."""
    n = len(entries)
    columns: dict[str, list[Any]] = {key: [] for key in (
        "id", "curve", "conventions", "effective date", "termination date", "leg1 rate",
        "leg1 margin", "leg1 notional", "leg2 rate", "leg2 margin", "leg2 notional",
        "error column", "error")}
    sets: dict[tuple[Any, ...], int] = {}
    conventions: list[dict[str, Any]] = []
    for i in range(n):
        first, second = entries[i]
        if isinstance(first, InputError):
            for key in columns:
                columns[key].append(0.0 if "leg" in key else 0)
            columns["id"][-1] = second
            columns["curve"][-1] = ""
            columns["error column"][-1] = first.path
            columns["error"][-1] = first.message
            continue
        curve, swap = first, second
        assert isinstance(curve, str)
        key = (_leg_key(swap["leg1"]), _leg_key(swap["leg2"]))
        code = sets.setdefault(key, len(sets))
        if code == len(conventions):
            conventions.append(swap)
        columns["id"].append(swap["id"])
        columns["curve"].append(curve)
        columns["conventions"].append(code)
        columns["effective date"].append(swap["effective date"].toordinal() - EPOCH_ORDINAL)
        columns["termination date"].append(swap["termination date"].toordinal() - EPOCH_ORDINAL)
        for leg in ("leg1", "leg2"):
            terms = swap[leg]
            fixed = terms["is fixed"]
            columns[f"{leg} rate"].append(float(terms["rate"]) if fixed else 0.0)
            columns[f"{leg} margin"].append(0.0 if fixed else float(terms["margin"]))
            columns[f"{leg} notional"].append(float(terms["notional"]))
        columns["error column"].append(None)
        columns["error"].append(None)
    return TradeRows(columns, conventions)


def swap_of_row(rows: TradeRows, i: int) -> dict[str, Any]:
    """The swap dict of row `i` of built trades: its convention set with the row's terms."""
    import datetime as dt

    columns = rows.columns
    base = rows.conventions[columns["conventions"][i]]
    swap = {**base, "id": columns["id"][i]}
    for key in ("effective date", "termination date"):
        swap[key] = dt.date.fromordinal(int(columns[key][i]) + EPOCH_ORDINAL)
    for leg in ("leg1", "leg2"):
        terms = {key: value for key, value in base[leg].items() if key not in _AMOUNTS}
        terms["notional"] = float(columns[f"{leg} notional"][i])
        if terms["is fixed"]:
            terms["rate"] = float(columns[f"{leg} rate"][i])
        else:
            terms["margin"] = float(columns[f"{leg} margin"][i])
        swap[leg] = terms
    return swap


def refuse_mispaired(rows: TradeRows, curves: Mapping[str, Mapping[str, Any]],
                     strict: bool = True) -> TradeRows:
    """`rows` with every trade refused whose legs do not match its curve (another currency,
    or an index the curve is not built on), in column "curve" with the message of
    `tessarin.IRS`; only warned about when not `strict`. Each convention set and curve is
    checked once."""
    import numpy as np
    import pandas as pd

    columns = rows.columns
    # One check per (convention set, curve) pair, at the row where the pair first shows.
    curve_codes, names = pd.factorize(np.asarray(columns["curve"], dtype=object))
    # A row whose curve is missing or unknown is left to the book (index -1: False).
    known = np.array([name in curves for name in names] + [False], dtype=bool)
    built = np.asarray(columns["error"], dtype=object) == None  # noqa: E711
    checked = np.flatnonzero(built & (curve_codes >= 0) & known[curve_codes])
    pairs = (np.asarray(columns["conventions"], dtype=np.int64)[checked] * max(len(names), 1)
             + curve_codes[checked])
    keys, firsts = np.unique(pairs, return_index=True)
    verdicts: dict[int, str] = {}
    for key, first in sorted(zip(keys.tolist(), firsts.tolist(), strict=True),
                             key=lambda pair: pair[1]):
        i = int(checked[first])
        code, curve = columns["conventions"][i], columns["curve"][i]
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                check_pairing(rows.conventions[code], curves[curve], "", strict)
            except InputError as found:
                verdicts[key] = found.message
        for warning in caught:
            message = warning.message
            if isinstance(message, InputWarning):
                warnings.warn(InputWarning(f"{rows.location(i)}, column 'curve'",
                                           message.message, rows.source,
                                           f"trade {quoted(columns['id'][i])}"),
                              stacklevel=user_stacklevel())
    refused: list[tuple[int, str]] = []
    if verdicts:
        bad = np.isin(pairs, list(verdicts))
        refused = [(int(i), verdicts[key]) for i, key in
                   zip(checked[bad].tolist(), pairs[bad].tolist(), strict=True)]
    if not refused:
        return rows
    out = TradeRows(dict(columns), rows.conventions, rows.source, rows.place)
    out.columns["error column"] = list(columns["error column"])
    out.columns["error"] = list(columns["error"])
    for i, message in refused:
        out.columns["error column"][i] = "curve"
        out.columns["error"][i] = message
    return out
