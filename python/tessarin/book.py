"""`Book`: many swaps built once natively, priced and risked on all cores.

Results are pandas DataFrames. Every number equals what `tessarin.IRS` gives
for the same trade on the same curve, whatever the thread count; risk is per
basis point, in each trade's currency, as `IRS.risk`.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable, Mapping
from pathlib import Path
from typing import TYPE_CHECKING, Any

import _tessarin

from ._fixings import Fixings, missing_fixings
from ._inputs import (
    RISK_METHODS as RISK_METHODS,
)
from ._inputs import (
    InputError,
    book_coverage,
    coverage_once,
    read_json,
    risk_method,
    settled,
    thread_count,
)
from ._objects import YieldCurve
from ._progress import Progress
from ._types import RISK_UNIT, quoted, unit_attrs
from .files import Trade, load_fixings, load_market
from .tables import (
    TABLE_PLACES,
    TradeRows,
    normalise_table,
    read_table,
    refuse_mispaired,
    rows_from_swaps,
    swap_of_row,
)

if TYPE_CHECKING:
    import pandas

    from ._types import PathLike
    from .revaluation import Revaluation

DEFAULT_RISK_METHOD = "analytic"


def _entries_of_file(path: PathLike) -> list[Any]:
    source = str(path)
    document = read_json(path)
    if not isinstance(document, dict) or "trades" not in document:
        raise InputError("", 'expected a JSON object with "trades"', source)
    entries = document["trades"]
    if not isinstance(entries, list):
        raise InputError("trades", "expected a list", source)
    return entries


def _checked(entries: Iterable[Any], strict: bool = True) -> TradeRows:
    """Trades-file entries checked by the library: a bad entry refuses its row only."""
    entries = list(entries)
    if any(isinstance(entry, Trade) for entry in entries):
        # The trades of `load_trades` are checked already; the others are read one by one.
        return rows_from_swaps([
            (entry.curve, entry.swap) if isinstance(entry, Trade) else _row(
                entry, i, _tessarin.swap_from_dict(entry, f"trades[{i}]", strict, None, True),
                strict)
            for i, entry in enumerate(entries)])
    columns, conventions, issues = _tessarin.trades_from_dicts(entries, strict, True)
    for i, read in issues:
        error, given = _row(entries[i], i, read, strict)
        if isinstance(error, InputError):
            columns["id"][i], columns["curve"][i] = given, ""
            columns["error column"][i], columns["error"][i] = error.path, error.message
    return TradeRows(columns, conventions)


def _row(entry: Any, i: int, read: tuple[Any, ...], strict: bool
         ) -> tuple[str, dict[str, Any]] | tuple[InputError, str]:
    """(curve id, checked swap) of a read entry, or (error, trade id) when it is refused."""
    try:
        return settled(read, strict)
    except InputError as error:
        given = entry.get("id") if isinstance(entry, Mapping) else None
        return error, given if isinstance(given, str) else f"row {i}"


def trade_rows(trades: Any, *, strict: bool = True) -> TradeRows:
    """The trades of any accepted form, checked, as columns for the native book."""
    if isinstance(trades, TradeRows):
        return trades
    if isinstance(trades, (str, os.PathLike)):
        source = str(trades)
        place = TABLE_PLACES.get(Path(trades).suffix.lower())
        if place is not None:
            try:
                return normalise_table(read_table(trades), strict=strict, source=source,
                                       place=place)
            except InputError as error:
                raise InputError(error.path, error.message, error.source or source) from None
        try:
            rows = _checked(_entries_of_file(trades), strict)
        except InputError as error:
            raise InputError(error.path, error.message, error.source or source) from None
        rows.source, rows.place = source, ("trades[{}]", 0)
        return rows
    if hasattr(trades, "columns") and hasattr(trades, "iloc"):
        return normalise_table(trades, strict=strict)
    if isinstance(trades, Mapping):
        raise TypeError("trades are a list of trade dicts, a DataFrame or a path, got a dict")
    return _checked(list(trades), strict)


def _curves_of(curves: Any, fixings: Any = None) -> dict[str, YieldCurve]:
    if isinstance(curves, (str, os.PathLike)):
        # Futures whose period has begun read the book's fixings.
        market = load_market(curves)
        checked = _fixings_of(fixings)
        return {c["id"]: YieldCurve(c, fixings=checked) for c in market}
    if isinstance(curves, Mapping):
        items = list(curves.items())
    else:
        items = [(getattr(c, "id", None), c) for c in curves]
    result = {}
    for name, curve in items:
        if not isinstance(curve, YieldCurve):
            raise TypeError(f"curve {quoted(name)} is a {type(curve).__name__}, "
                            "expected a tessarin.YieldCurve")
        result[str(name)] = curve
    return result


def _fixings_of(fixings: Any) -> dict[str, Any] | None:
    if fixings is None:
        return None
    if isinstance(fixings, (str, os.PathLike)):
        return load_fixings(fixings)
    # Checked and converted once for the book.
    checked = Fixings.of(fixings)
    return None if checked is None else checked.native


def _threads(threads: int | None) -> int:
    if threads is None:
        # The cores this process may run on, which a container can limit.
        if hasattr(os, "sched_getaffinity"):
            return max(1, len(os.sched_getaffinity(0)))
        return os.cpu_count() or 1
    return thread_count(threads)


def _last_dates(rows: TradeRows) -> dict[int, Any]:
    """The last termination date of the trades of each convention set (refused rows aside)."""
    import datetime as dt

    import numpy as np

    from .tables import EPOCH_ORDINAL

    columns = rows.columns
    codes = np.asarray(columns["conventions"], dtype=np.int64)
    ends = np.asarray(columns["termination date"], dtype=np.int64)
    kept = np.equal(np.asarray(columns["error"], dtype=object), None) & (codes >= 0)
    if not kept.any():
        return {}
    codes, ends = codes[kept], ends[kept]
    last = np.full(int(codes.max()) + 1, np.iinfo(np.int64).min, dtype=np.int64)
    np.maximum.at(last, codes, ends)
    return {int(code): dt.date.fromordinal(int(last[code]) + EPOCH_ORDINAL)
            for code in np.unique(codes)}


def taken_text(names: Any, codes: Any) -> Any:
    """`names[codes]` as a text column of the type pandas gives text. Where pandas keeps text
    in Arrow, the column is taken there: no Python string per row."""
    import numpy as np
    import pandas as pd

    kind = pd.Series(["x"]).dtype
    if getattr(kind, "storage", None) == "pyarrow":
        import pyarrow as pa

        return pd.Series(pa.array(list(names), type=pa.large_string()).take(
            pa.array(codes, type=pa.int64())), dtype=kind).array
    return np.asarray(names, dtype=object)[codes]


def sums_by(codes: Any, values: Any, size: int) -> Any:
    """Sums of `values` by integer code, each added in row order."""
    import numpy as np

    return np.bincount(codes, weights=values, minlength=size)


def ladder_of(risk: pandas.DataFrame, curves: Iterable[YieldCurve] | None = None
              ) -> pandas.DataFrame:
    """A `Book.risk` table summed by curve, currency and tenor: in the order of `curves` and
    of each curve's instruments when given, else in order of first row."""
    import numpy as np
    import pandas as pd

    keys = ("Curve", "Currency", "Tenor")
    dtypes = [risk[key].dtype for key in keys]
    sizes = [len(dtype.categories) for dtype in dtypes]
    codes = [risk[key].cat.codes.to_numpy().astype(np.int64) for key in keys]
    # One code per (curve, currency, tenor), its rows in order of first appearance.
    combined = (codes[0] * sizes[1] + codes[1]) * sizes[2] + codes[2]
    order = pd.unique(combined)
    size = sizes[0] * sizes[1] * sizes[2]
    parts = (order // (sizes[1] * sizes[2]), order // sizes[2] % sizes[1], order % sizes[2])
    frame = {key: pd.Categorical.from_codes(part, dtype=dtype)
             for key, part, dtype in zip(keys, parts, dtypes, strict=True)}
    for column in ("Leg1", "Leg2", "Net"):
        frame[column] = sums_by(combined, risk[column].to_numpy(), size)[order]
    ladder = pd.DataFrame(frame)
    if curves is not None:
        ladder = _in_curve_order(ladder, curves)
    return unit_attrs(ladder, RISK_UNIT, ladder["Currency"].unique())


def _in_curve_order(ladder: pandas.DataFrame, curves: Iterable[YieldCurve]) -> pandas.DataFrame:
    """A ladder's rows in the order of `curves` and of each curve's instruments."""
    order = _curve_order(ladder["Curve"].astype(object), ladder["Tenor"].astype(object), curves)
    return ladder.iloc[order].reset_index(drop=True)


def _curve_order(curve_ids: Iterable[str], tenors: Iterable[str],
                 curves: Iterable[YieldCurve]) -> list[int]:
    """The rows of (curve id, tenor) pairs in the order of `curves` and of each curve's
    instruments; a row of a curve not given keeps its place after them."""
    rank: dict[tuple[str, str], tuple[int, int]] = {}
    listed = list(curves)
    for i, curve in enumerate(listed):
        instruments = curve._input.get("instruments", {})  # read, not copied
        for j, tenor in enumerate(instruments.get("tenor", [])):
            rank.setdefault((curve.id, tenor), (i, j))
    last = (len(listed), 0)
    ranks = [rank.get(key, last) for key in zip(curve_ids, tenors, strict=True)]
    return sorted(range(len(ranks)), key=ranks.__getitem__)


class Book:
    """Swaps priced and risked as one unit of work, natively and on worker threads.

    `trades`: the entries `tessarin.load_trades` returns, a list of trades-file
    dicts (with or without "generator"), a pandas DataFrame of the columns of
    `tessarin.tables`, or the path of a JSON, CSV or Parquet trades file.
    `curves`: a mapping from id to `tessarin.YieldCurve`, a list of curves, or
    a market file. `fixings`: as for `IRS.price`, or a fixings file.
    `threads`: workers for every call, all cores by default; 1 runs serially.

    Every form of trades goes through the checks of `tessarin.IRS`, with its messages: a
    trade that cannot be built, whose curve is missing, or whose legs do not match its curve
    (another currency or index) gets an error naming its file, its row (the line of a CSV
    file, as an editor shows it) and its column; the other trades go on. With
    ``strict=False`` rates in percent and mismatched curves only warn, as for `IRS`.
    """

    def __init__(self, trades: Any, curves: Any, fixings: Fixings | PathLike | None = None, *,
                 threads: int | None = None, strict: bool = True) -> None:
        self.threads = _threads(threads)
        self._strict = strict
        with coverage_once():
            self._curves = _curves_of(curves, fixings)
            rows = refuse_mispaired(trade_rows(trades, strict=strict),
                                    {name: c._input for name, c in self._curves.items()}, strict)
            self._rows = rows
            self._fixings = _fixings_of(fixings)
            self._ids = rows.ids
            self._curve_ids = rows.columns["curve"]
            self._impl = _tessarin.Book(rows.conventions, rows.columns,
                                        {name: c.native for name, c in self._curves.items()},
                                        self._fixings, self.threads)
            book_coverage(rows.conventions, _last_dates(rows), "the book's schedules")
        self._labels: tuple[Any, Any, Any] | None = None
        self._categories: dict[str, Any] | None = None
        self._legs: dict[str, Any] | None = None
        self._fixing_messages: dict[tuple[int, str], str] = {}
        self._currency_list: list[str] | None = None

    @property
    def _currencies(self) -> list[str | None]:
        return self._leg_terms()["currency"]

    @property
    def _paid(self) -> list[Any]:
        return self._leg_terms()["paid"]

    def _leg_terms(self) -> dict[str, Any]:
        """Each trade's first-leg currency and paid flags, asked of the native book once."""
        if self._legs is None:
            self._legs = self._impl.trades()
        return self._legs

    def __len__(self) -> int:
        return len(self._ids)

    def revalue(self, market: Any = None, scenarios: Any = None, *, executor: Any = None,
                out: PathLike | None = None, **options: Any) -> Revaluation:
        """Revalue the book under market scenarios (see `tessarin.scenarios`): for each
        scenario the moved curves are rebuilt from their shocked quotes and every trade
        repriced, against `market` (a market file, curve dicts or `tessarin.YieldCurve`
        objects; by default the book's own curves).

        Returns a `tessarin.revaluation.Revaluation`: the PnL of every scenario and trade,
        totals by curve and currency, `var` and `es`. `executor` None runs on this
        machine's cores; "dask", a `distributed.Client` or a scheduler address runs on Dask.
        Other keywords go to `tessarin.revaluation.revalue`. A trade that was not built is
        NaN in every scenario, with its error in `failures`.
        """
        from .revaluation import Failure, revalue

        if scenarios is None:
            raise TypeError("revalue() needs scenarios, e.g. tessarin.scenarios.parallel(1)")
        if market is None:
            market = list(self._curves.values())
        elif isinstance(market, (str, os.PathLike)):
            market = load_market(market)
        messages = self._messages(self._impl.trades())
        options.setdefault("threads", self.threads)
        options.setdefault("strict", self._strict)
        result = revalue(self._rows, market, scenarios, self._fixings, executor=executor, out=out,
                         **options)
        # A trade the book refused keeps the book's message.
        refused = {self._ids[i]: m for i, m in enumerate(messages) if m}
        result.failures = [Failure(f.scenario, f.curve, f.trade, refused[f.trade])
                           if f.scenario is None and f.trade in refused else f
                           for f in result.failures]
        return result

    @property
    def rows(self) -> TradeRows:
        """The book's trades as checked, in the columns the native book was built from."""
        return self._rows

    @property
    def ids(self) -> list[str]:
        """Trade ids in book order."""
        return list(self._ids)

    def errors(self) -> pandas.Series:
        """The construction error of every trade that was not built, by trade id."""
        import pandas as pd

        legs = self._impl.trades()
        messages = self._messages(legs)
        return pd.Series({i: m for i, m in zip(self._ids, messages, strict=True) if m},
                         dtype=object,
                         name="Error")

    @property
    def currencies(self) -> list[str | None]:
        """The currency of each trade's first leg, which names its discount curve; None for a
        trade that was not built."""
        return list(self._currencies)

    def causes(self, prices: pandas.DataFrame) -> list[tuple[str, str, str]]:
        """(trade id, column or "", message or "") of each row of a `price` result: the
        input column at fault and the library's message, without the row prefix."""
        failed: dict[int, tuple[str, str]] = prices.attrs["causes"]
        return [(trade, *failed.get(row, ("", ""))) for row, trade in enumerate(prices.index)]

    def _messages(self, result: dict[str, Any]) -> list[str]:
        """Per trade of a native result: its error with the row, or ""."""
        out = [""] * len(self._ids)
        for row, column, message in zip(result["failed"], result["error column"],
                                        result["error"], strict=True):
            if not column:
                message = self._missing_fixings(row, message)
            out[row] = self.located(row, column, message)
        return out

    def location(self, row: int) -> str:
        """Where trade `row` is in its input, as the file shows it: "line 5" of a CSV file
        (line 1 is the header), "row 3" of a Parquet file (from 1) or of a list or DataFrame
        (from 0, as Python counts)."""
        return self._rows.location(row)

    def located(self, row: int, column: str, message: str) -> str:
        """`message` about `column` of trade `row`, with the file and the row as the file
        shows it: "trades.csv: line 5, column 'fixed rate': ..."."""
        return self._rows.located(row, column, message)

    def _missing_fixings(self, row: int, message: str) -> str:
        """A missing fixing told as `IRS` tells it, naming the index and the first date."""
        known = self._fixing_messages.get((row, message))
        if known is not None:
            return known
        curve = self._curves.get(self._curve_ids[row])
        found = None
        if curve is not None:
            try:
                swap = _tessarin.IRS(swap_of_row(self._rows, row))
            except RuntimeError:
                swap = None
            if swap is not None:
                found = missing_fixings(RuntimeError(message), swap, curve.value_date,
                                        self._fixings)
        text = message if found is None else str(found)
        self._fixing_messages[(row, message)] = text
        return text

    def _workers(self, threads: int | None) -> int:
        return self.threads if threads is None else _threads(threads)

    def price(self, *, threads: int | None = None) -> pandas.DataFrame:
        """Per trade, indexed by id: "Curve", "Leg1 PV", "Leg2 PV", "NPV" and "Error"
        (empty for a priced trade; the values are NaN otherwise), amounts in each trade's
        currency, which ``attrs["currency"]`` lists."""
        import numpy as np
        import pandas as pd

        result = self._impl.price(threads=self._workers(threads))
        if self._labels is None:
            # The trade index, the curve column and an error column of priced trades are the
            # same at every call; each frame gets its own copy of the columns.
            self._labels = (pd.Index(self._ids, name="Trade"), pd.array(self._curve_ids),
                            pd.array([""] * len(self._ids), dtype="str"))
        index, curves, no_errors = self._labels
        errors = no_errors.copy()
        if result["failed"]:
            messages = self._messages(result)
            errors[result["failed"]] = [messages[row] for row in result["failed"]]
        frame = pd.DataFrame({
            "Curve": curves.copy(),
            "Leg1 PV": np.frombuffer(result["leg1"], dtype=np.float64),
            "Leg2 PV": np.frombuffer(result["leg2"], dtype=np.float64),
            "NPV": np.frombuffer(result["npv"], dtype=np.float64),
            "Error": errors,
        }, index=index, copy=False)
        # Only the failed rows: pandas copies attrs with every operation on the frame.
        frame.attrs["causes"] = {
            row: (column, message if column else self._missing_fixings(row, message))
            for row, column, message in zip(result["failed"], result["error column"],
                                            result["error"], strict=True)}
        if self._currency_list is None:
            # Distinct first, so that only they pass through Python.
            self._currency_list = [c for c in dict.fromkeys(self._currencies) if c]
        unit_attrs(frame, None, self._currency_list)
        return frame

    def _risk_run(self, method: str, threads: int | None,
                  progress: Callable[[int, int], Any] | None, ladder: bool = False
                  ) -> dict[str, Any]:
        """The native risk call behind `risk` and `ladder`."""
        import pandas as pd

        risk_method(method)
        total = len(self._ids)
        bar = Progress(total, None, "risk", "trades") if progress is None and method == "bump" \
            else None
        report = bar.update if bar is not None else (
            None if progress is None else lambda done: progress(done, total))
        try:
            result = self._impl.risk(method, threads=self._workers(threads), progress=report,
                                     ladder=ladder)
        finally:
            if bar is not None:
                bar.close()
        if self._categories is None:
            # The names behind the row codes are the same at every call.
            labels = self._impl.labels()
            self._categories = {key: pd.CategoricalDtype(pd.Index(labels[key]))
                                for key in ("trade", "curve", "currency", "tenor")}
        return result

    def risk(self, method: str = DEFAULT_RISK_METHOD, *, threads: int | None = None,
             progress: Callable[[int, int], Any] | None = None) -> pandas.DataFrame:
        """Key-rate risk per basis point, one row per trade and curve instrument:
        "Trade", "Curve", "Currency", "Tenor", "Leg1", "Leg2", "Net". Trades that
        could not be priced have no rows; `errors` and `price` tell why.

        `method` "analytic" (the default) takes exact derivatives through each curve's
        Jacobian, as `IRS.risk(method="analytic")`; "bump" rebuilds the curve for each
        bumped quote, as `IRS.risk`: the same numbers as those of the single trade.
        ``attrs["unit"]`` is "per 1bp", ``attrs["currency"]`` the currencies of the rows
        (joined by ", " when there are several; each row names its own).

        Bump risk takes about half a millisecond a trade: it draws a progress bar when
        standard error is a terminal, and Ctrl-C stops it. `progress(done, trades)`, if
        given, is called instead every 0.1 s, for either method; an error it raises stops
        the call and is raised.
        """
        import numpy as np
        import pandas as pd

        result = self._risk_run(method, threads, progress)
        rows = result["rows"]

        def codes(key: str) -> pd.Categorical:
            values = np.frombuffer(result[key], dtype=result["dtypes"][key])[:rows]
            return pd.Categorical.from_codes(values, dtype=self._categories[key], validate=False)

        def values(key: str) -> Any:
            return np.frombuffer(result[key], dtype=np.float64)[:rows]

        # The native rows are the table's columns: pandas keeps them without a copy.
        currencies = codes("currency")
        frame = pd.DataFrame({"Trade": codes("trade"), "Curve": codes("curve"),
                              "Currency": currencies, "Tenor": codes("tenor"),
                              "Leg1": values("leg1"), "Leg2": values("leg2"),
                              "Net": values("net")}, copy=False)
        return unit_attrs(frame, RISK_UNIT, currencies.unique())

    def gamma(self, *, per_trade: bool = False, threads: int | None = None
              ) -> dict[str, pandas.DataFrame]:
        """Cross-gamma per 1bp x 1bp, d2NPV / dq_i dq_j over each curve's instruments in input
        order, exact (see `tessarin.explain`): {curve id: DataFrame summed over the book's
        trades on it}, rows and columns labelled by "Tenor" like the risk ladder. With
        `per_trade`, {trade id: DataFrame} of every trade that could be priced instead."""
        from .explain import book_gamma

        return book_gamma(self, per_trade, threads)

    def theta(self, to_date: Any, fixings: Fixings | PathLike | None = None, *,
              threads: int | None = None) -> pandas.DataFrame:
        """Per trade, what time passing to `to_date` makes with the quotes unchanged: the book's
        curves rebuilt from their own quotes at `to_date`. Columns "Curve", "Currency",
        "Start NPV", "Rolled NPV", "Cash" (flows paid after the curves' value date and on or
        before `to_date`, received positive), "Theta" (Rolled NPV + Cash - Start NPV),
        "Estimated Fixings" and "Error".

        Fixings that set between the dates come from `fixings` (added to the book's) and
        those missing from the start curves' overnight forwards: "Estimated Fixings" names
        the indices of a trade for which that happened, and ``attrs["estimated_fixings"]``
        lists the dates."""
        from .explain import theta

        return theta(self, to_date, fixings, threads)

    def explain(self, market_from: Any, market_to: Any,
                fixings: Fixings | PathLike | None = None, *, by: str | None = None,
                threads: int | None = None) -> pandas.DataFrame:
        """The P&L of every trade from `market_from` to `market_to` (each a market file, curve
        dicts or `tessarin.YieldCurve`s, as `revalue` takes them), explained in two steps:
        roll to the end value date on the start quotes, then move the quotes.

        Indexed by trade id: "Curve", "Currency", "Start NPV", "End NPV", "Cash" (flows paid
        after the start date and on or before the end date, received positive), "Total"
        (End NPV + Cash - Start NPV), "Theta" (rolled NPV + Cash - Start NPV), "Delta" (the
        exact risk at the rolled curves times the quote changes, matched by curve and tenor),
        "Gamma" (1/2 dq' Gamma dq at the rolled curves), "Unexplained" (Total - Theta - Delta -
        Gamma), "Estimated Fixings" and "Error" (a trade that could not be explained is NaN).
        `tessarin.explain.totals(result)` sums the columns per currency (kept in
        ``attrs["totals"]``); ``attrs["notes"]`` lists what is on one side only (curves,
        instruments), curves that do not bootstrap and the fixings estimated from the start
        curves' forwards. `by="tenor"` splits Delta and Gamma into one column per instrument
        tenor. The book's own curves play no part, its fixings and `fixings` do; a trade the
        book could not build stays unexplained."""
        from .explain import explain

        return explain(self, market_from, market_to, fixings, by=by, threads=threads)

    def ladder(self, method: str = DEFAULT_RISK_METHOD, *, threads: int | None = None,
               progress: Callable[[int, int], Any] | None = None) -> pandas.DataFrame:
        """The key-rate risk summed over the book by curve and tenor, per basis point:
        "Curve", "Currency", "Tenor", "Leg1", "Leg2", "Net", tenors in curve order.
        `progress` as for `risk`."""
        import numpy as np
        import pandas as pd

        # Summed natively, row by row in table order: ladder_of(risk(), curves) to the bit.
        sums = self._risk_run(method, threads, progress, ladder=True)
        codes = {key: np.asarray(sums[key], dtype=np.intp)
                 for key in ("curve", "currency", "tenor")}
        names = {key: self._categories[key].categories for key in ("curve", "tenor")}
        order = np.asarray(_curve_order(names["curve"][codes["curve"]],
                                        names["tenor"][codes["tenor"]], self._curves.values()),
                           dtype=np.intp)
        frame: dict[str, Any] = {
            name: pd.Categorical.from_codes(codes[key][order], dtype=self._categories[key])
            for name, key in (("Curve", "curve"), ("Currency", "currency"), ("Tenor", "tenor"))}
        for column in ("Leg1", "Leg2", "Net"):
            frame[column] = np.asarray(sums[column.lower()], dtype=np.float64)[order]
        ladder = pd.DataFrame(frame)
        return unit_attrs(ladder, RISK_UNIT, frame["Currency"].unique())

    def cashflows(self, *, threads: int | None = None) -> pandas.DataFrame:
        """Every priced period of every trade: "Trade", "Curve", "Currency", "Leg",
        "Pay/Receive", "Accrual Start Date", "Accrual End Date", "Payment Date" (datetime64),
        "Day Count Fraction", "Notional", "Discount Factor", "Rate" (fixed rate, or the
        projected index rate without margin), "Margin", "Cash Flow", "Cash Flow PV"
        (received positive, paid negative, as the leg PVs and `IRS.cashflows`).
        ``attrs["currency"]`` lists the currencies of the rows."""
        import numpy as np
        import pandas as pd

        result = self._impl.cashflows(threads=self._workers(threads))
        offsets = np.frombuffer(result["offsets"], dtype=np.int64)
        trades = np.repeat(np.arange(len(self._ids)), np.diff(offsets))
        legs = np.frombuffer(result["leg"], dtype=np.uint8).astype(np.int64)
        paid = np.array([p if p is not None else (False, False) for p in self._paid],
                        dtype=bool).reshape(-1, 2)
        pays = paid[trades, legs - 1] if len(trades) else np.zeros(0, dtype=bool)

        def days(key: str) -> Any:
            return np.frombuffer(result[key], dtype=np.int64).astype("datetime64[D]")

        def values(key: str) -> Any:
            return np.frombuffer(result[key], dtype=np.float64)

        sign = np.where(pays, -1.0, 1.0)
        frame = pd.DataFrame({
            "Trade": taken_text(self._ids, trades),
            "Curve": taken_text(self._curve_ids, trades),
            "Currency": taken_text(self._currencies, trades),
            "Leg": legs,
            "Pay/Receive": taken_text(["Receive", "Pay"], pays.astype(np.int64)),
            "Accrual Start Date": days("accrual start"),
            "Accrual End Date": days("accrual end"),
            "Payment Date": days("payment"),
            "Day Count Fraction": values("day count fraction"),
            "Notional": values("notional"),
            "Discount Factor": values("discount factor"),
            "Rate": values("rate"),
            "Margin": values("margin"),
            "Cash Flow": sign * values("cash flow"),
            "Cash Flow PV": sign * values("present value"),
        })
        return unit_attrs(frame, None, pd.unique(np.asarray(self._currencies, dtype=object)[
            np.unique(trades)]))

    def __repr__(self) -> str:
        return f"<tessarin.Book of {len(self._ids)} trades on {len(self._curves)} curves>"
