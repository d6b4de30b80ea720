"""Result tables of the command line for programs: one table to standard output, or one
file per table in a folder; totals per currency; the warning for trades past a curve's end;
progress on a terminal during long runs."""

from __future__ import annotations

import datetime as dt
import json
import sys
import threading
import time
import warnings
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import IO, TYPE_CHECKING, Any

from ._inputs import InputError, InputWarning, jsonable, need_pyarrow, thread_count
from ._types import quoted

if TYPE_CHECKING:
    import pandas

    from ._objects import YieldCurve
    from .tables import TradeRows

FILE_FORMATS = ("csv", "parquet", "json")
# Amounts a CSV shows in cents: a trade at par shows 0.00, not -2.3e-10.
AMOUNTS = ("Leg1 PV", "Leg2 PV", "NPV", "DV01", "Leg1", "Leg2", "Net", "Notional", "Cash Flow",
           "Cash Flow PV")
PROGRESS_AFTER = 2.0  # seconds of a run before its progress line shows
STARTED = time.monotonic()  # a command's run counts from here: reading its files is part of it


def currency_totals(prices: pandas.DataFrame) -> pandas.DataFrame:
    """NPV (and DV01 when the prices have it) summed per currency, in order of first trade,
    with the number of trades: amounts in different currencies do not add up."""
    import pandas as pd

    amounts = [c for c in ("NPV", "DV01") if c in prices.columns]
    groups = prices.groupby("Currency", sort=False, observed=True)
    totals = groups[amounts].sum() if amounts else pd.DataFrame(index=groups.size().index)
    totals.insert(0, "Trades", groups.size())
    return totals.reset_index()


def extrapolation_warnings(rows: TradeRows, curves: Mapping[str, YieldCurve],
                           source: str = "") -> None:
    """One `InputWarning` per curve that some trades run past: their rates beyond the curve's
    last pillar are extrapolated. Names the furthest trade and how far it runs."""
    import numpy as np

    from .tables import EPOCH_ORDINAL

    columns = rows.columns
    ends = np.asarray(columns["termination date"], dtype=np.int64)
    curve_ids = np.asarray(columns["curve"], dtype=object)
    good = np.asarray(columns["error"], dtype=object) == None  # noqa: E711
    for curve_id, curve in curves.items():
        last = max(curve.dates()).toordinal() - EPOCH_ORDINAL
        past = np.flatnonzero(good & (curve_ids == curve_id) & (ends > last))
        if not len(past):
            continue
        furthest = past[np.argmax(ends[past])]
        end = dt.date.fromordinal(int(ends[furthest]) + EPOCH_ORDINAL)
        count = f"{len(past)} trades run" if len(past) > 1 else "1 trade runs"
        warnings.warn(InputWarning(
            "", f"{count} past the last pillar of curve {quoted(curve_id)} "
                f"({max(curve.dates()).isoformat()}), the furthest, "
                f"{quoted(rows.ids[furthest])}, by {_span(int(ends[furthest]) - last)} "
                f"(to {end.isoformat()}): the curve is extrapolated there", source),
            stacklevel=2)


def _span(days: int) -> str:
    """A length of time as a reader says it: days, or years and months."""
    if days < 60:
        return f"{days} day{'s' if days != 1 else ''}"
    months = round(days / 30.4375)
    years, months = divmod(months, 12)
    parts = [f"{years} year{'s' if years != 1 else ''}"] if years else []
    if months:
        parts.append(f"{months} month{'s' if months != 1 else ''}")
    return " ".join(parts)


def _cells(frame: pandas.DataFrame, cents: bool) -> pandas.DataFrame:
    """The frame with dates as ISO text and, with `cents`, amounts rounded to cents."""
    import pandas as pd

    cells = {}
    for j, name in enumerate(frame.columns):
        series = frame.iloc[:, j]
        if pd.api.types.is_datetime64_any_dtype(series.dtype):
            cells[str(name)] = series.dt.strftime("%Y-%m-%d").to_numpy()
        elif cents and name in AMOUNTS:
            cells[str(name)] = [f"{round(float(v), 2) + 0.0:.2f}" for v in series.tolist()]
        elif isinstance(series.dtype, pd.CategoricalDtype):
            cells[str(name)] = series.astype(object).to_numpy()
        else:
            cells[str(name)] = series.to_numpy()
    return pd.DataFrame(cells, columns=[str(c) for c in frame.columns])


def write_csv_table(frame: pandas.DataFrame, out: IO[str]) -> None:
    """One CSV table: a header row, then a row per entry."""
    _cells(frame, cents=True).to_csv(out, index=False, lineterminator="\n", na_rep="nan")


def json_records(frame: pandas.DataFrame) -> list[dict[str, Any]]:
    """The table as a list of rows, each a dict by column; dates as ISO text, NaN as null."""
    table = _cells(frame, cents=False)
    columns = list(table.columns)
    data = [[None if isinstance(v, float) and v != v else (v.item() if hasattr(v, "item")
                                                           else v)
             for v in table[c].tolist()] for c in columns]
    return [dict(zip(columns, row, strict=True)) for row in zip(*data, strict=True)]


def check_threads(args: Any) -> None:
    """A usage error for a --threads count the library refuses, in the library's words."""
    if args.threads is not None:
        try:
            thread_count(args.threads)
        except ValueError as error:
            args.subparser.error(f"argument --threads: {str(error).removeprefix('Error, ')}")


def write_json_table(frame: pandas.DataFrame, out: IO[str]) -> None:
    json.dump(jsonable(json_records(frame)), out, indent=2)
    out.write("\n")


def write_files(tables: Mapping[str, pandas.DataFrame], folder: str | Path,
                file_format: str) -> list[Path]:
    """Each table into `folder`/NAME.csv, .parquet or .json; returns the paths written."""
    folder = Path(folder)
    if file_format == "parquet":
        need_pyarrow("writing", "--out")
    try:
        folder.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise InputError("--out", f"cannot create the folder {folder} "
                                  f"({error.strerror or error})") from None
    written = []
    for name, frame in tables.items():
        path = folder / f"{name}.{file_format}"
        try:
            if file_format == "parquet":
                _cells(frame, cents=False).to_parquet(path, index=False)
            else:
                with path.open("w", encoding="utf-8", newline="") as out:
                    (write_csv_table if file_format == "csv" else write_json_table)(frame, out)
        except OSError as error:
            raise InputError("--out", f"cannot write {path} ({error.strerror or error})"
                             ) from None
        written.append(path)
    return written


def note(text: str, quiet: bool) -> None:
    """A line for the reader on standard error, which --quiet silences."""
    if not quiet:
        print(f"tessarin: note: {text}", file=sys.stderr)


def failures_frame(failures: Sequence[Any]) -> pandas.DataFrame:
    """Failures (dataclasses) as a table with one column per field, empty but typed when none."""
    import dataclasses

    import pandas as pd

    names = [f.name for f in dataclasses.fields(failures[0])] if failures else []
    if not failures:
        return pd.DataFrame({"Kind": [], "Id": [], "Where": [], "Error": []}, dtype=object)
    return pd.DataFrame({name.capitalize(): [getattr(f, name) for f in failures]
                         for name in names})


class Ticker:
    """A one-line progress report on standard error, drawn only when it is a terminal and
    the run has lasted `PROGRESS_AFTER` seconds since `start` (by default, since the command
    started): the current stage, its count if known, and the time so far. Redrawn by a
    background thread while native work runs."""

    def __init__(self, stream: IO[str] | None = None, enabled: bool = True,
                 start: float | None = None) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.active = enabled and getattr(self.stream, "isatty", lambda: False)()
        self.start = STARTED if start is None else start
        self.stage, self.done, self.total = "", 0, 0
        self.drawn = False
        self._stop = threading.Event()
        self._lock = threading.Lock()
        self._thread: threading.Thread | None = None

    def __enter__(self) -> Ticker:
        if self.active:
            self._thread = threading.Thread(target=self._run, daemon=True)
            self._thread.start()
        return self

    def __exit__(self, *exc: Any) -> None:
        self._stop.set()
        if self._thread is not None:
            self._thread.join()
        with self._lock:
            if self.drawn:
                self.stream.write("\r\033[K")
                self.stream.flush()

    def set(self, stage: str, done: int = 0, total: int = 0) -> None:
        self.stage, self.done, self.total = stage, done, total

    def count(self, done: int, total: int) -> None:
        self.done, self.total = done, total

    def line(self) -> str:
        counted = f" {self.done:,}/{self.total:,}" if self.total else ""
        return f"tessarin: {self.stage}{counted} ({time.monotonic() - self.start:.0f} s)"

    def _run(self) -> None:
        while not self._stop.wait(0.25):
            if time.monotonic() - self.start < PROGRESS_AFTER:
                continue
            with self._lock:
                if self._stop.is_set():
                    return
                self.stream.write("\r\033[K" + self.line())
                self.stream.flush()
                self.drawn = True
