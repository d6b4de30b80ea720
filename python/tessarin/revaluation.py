"""Scenario revaluation of a book: PnL per scenario and trade, by curve and currency, and
historical VaR and expected shortfall; in this process or on a Dask cluster.

The work is cut into blocks of scenarios (and, for large books, of trades). Every block is
priced by the same code, whatever runs it, and its PnL goes to a fixed place of the result, so
neither the executor nor the partitioning changes a number. Totals are correctly rounded sums
(`math.fsum`), carried between blocks as exact expansions, so they do not depend on how the
trades were split either.
"""

from __future__ import annotations

import math
import os
import threading
import uuid
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import IO, TYPE_CHECKING, Any

import _tessarin

from . import calendars
from ._fixings import Fixings, missing_fixings
from ._inputs import InputError, read_swap, thread_count
from ._objects import YieldCurve
from ._progress import Progress
from ._types import one_line, quoted
from .scenarios import Scenario, ScenarioSet
from .tables import TradeRows, refuse_mispaired, rows_from_swaps, swap_of_row

if TYPE_CHECKING:
    import numpy as np
    import pandas as pd

DEFAULT_SCENARIO_CHUNK = 16
DEFAULT_TRADE_CHUNK = 50_000


@dataclass(frozen=True)
class BookTrade:
    """What a worker needs of one trade: its id, its curve's id and its swap dict."""

    id: str
    curve: str
    swap: dict[str, Any]


@dataclass(frozen=True)
class Failure:
    """A scenario (or the base market, scenario None) in which trades could not be priced."""

    scenario: str | None
    curve: str
    trade: str | None  # None: every trade on the curve
    error: str


def _pandas() -> Any:
    try:
        import pandas
    except ImportError:
        raise ImportError("scenario revaluation needs pandas: pip install 'tessarin[pandas]'"
                          ) from None
    return pandas


# Exact sums that merge across blocks

def expansion(values: Iterable[float]) -> list[float]:
    """Floats whose exact sum is the exact sum of `values` (NaN if any is NaN): each term is
    the correctly rounded rest of the ones before, so joining the expansions of two blocks and
    taking `math.fsum` gives the correctly rounded total of both, however they were split."""
    items = values if isinstance(values, list) else list(values)
    terms: list[float] = []
    while True:
        rest = math.fsum(items + [-t for t in terms] if terms else items)
        if rest == 0.0 or math.isnan(rest) or math.isinf(rest):
            return terms + ([rest] if rest != 0.0 else [])
        terms.append(rest)


# The pricing engine of one process

class _Engine:
    """Trades [first, last) of the book and the base market, built once per process, and the
    blocks of scenarios it prices on the native engine. A worker builds only the trade chunks
    it is given, so that a book larger than one worker's memory can be revalued."""

    def __init__(self, trades: TradeRows, market: Sequence[Mapping[str, Any]],
                 fixings: Mapping[str, Any] | None, threads: int = 1, first: int = 0,
                 last: int | None = None) -> None:
        import numpy as np

        trades = trades.part(first, last)
        self.ids = trades.ids
        self.threads = threads
        self.market = {str(c["id"]): dict(c) for c in market}
        built = {name: _build(curve) for name, curve in self.market.items()}
        # Curves that built, in market order; trades on the others fail.
        self.curves = [name for name, curve in built.items() if isinstance(curve, YieldCurve)]
        position = {name: i for i, name in enumerate(self.curves)}
        checked = Fixings.of(fixings)
        plain = None if checked is None else checked.native
        # The swaps are built natively from the trade columns, once.
        book = _tessarin.Book(trades.conventions, trades.columns,
                              {name: built[name].native for name in self.curves}, plain, threads)
        built_trades = book.trades()
        refused = dict(zip(built_trades["failed"], built_trades["error"], strict=True))
        # The engine holds the trades on a curve that built and that the book did not refuse.
        curve_ids = trades.columns["curve"]
        _, names, codes = _codes("curve", curve_ids)
        place = np.array([position.get(name, -1) for name in names], dtype=np.int64)
        curve_of = place[codes]
        held = curve_of >= 0
        held[np.fromiter(refused, dtype=np.int64, count=len(refused))] = False
        self.rows: list[int] = np.flatnonzero(held).tolist()
        self.errors: list[str | None] = [None] * len(self.ids)
        for j in np.flatnonzero(~held).tolist():
            curve = built.get(curve_ids[j])
            if curve is None:
                self.errors[j] = f"unknown curve {quoted(curve_ids[j])}"
            elif isinstance(curve, str):
                self.errors[j] = f"curve {quoted(curve_ids[j])} did not build: {curve}"
            else:
                # Told as `tessarin.Book` tells it.
                self.errors[j] = trades.located(j, trades.columns["error column"][j] or "",
                                                refused[j])
        self.engine, _, native_errors = _tessarin.scenario_engine(
            book, curve_of[held].tolist(), [built[name].native for name in self.curves], plain,
            self.rows, threads)
        for j, error in zip(self.rows, native_errors, strict=True):
            if error is not None:
                curve = built[curve_ids[j]]
                assert isinstance(curve, YieldCurve)
                found = missing_fixings(RuntimeError(error), _tessarin.IRS(swap_of_row(trades, j)),
                                        curve.value_date, checked)
                error = error if found is None else trades.located(j, "", str(found))
            self.errors[j] = error
        # Trades by curve and by currency, as codes into the lists of names.
        self.groups = [_codes("curve", curve_ids), _codes("currency", _currencies(trades))]

    def base_failures(self) -> list[Failure]:
        _, curves, codes = self.groups[0]
        return [Failure(None, curves[code], trade, error)
                for trade, code, error in zip(self.ids, codes, self.errors, strict=True)
                if error is not None]

    def block(self, scenarios: Sequence[Scenario]) -> tuple[np.ndarray, list[Failure]]:
        """PnL of the engine's trades under each scenario: a (scenarios, trades) array, NaN
        where a trade could not be priced, and the curves that failed to build."""
        import numpy as np

        moves = [[list(s.quotes[name]) if name in s.quotes else None for name in self.curves]
                 for s in scenarios]
        data, failed = _tessarin.revalue_scenarios(self.engine, moves, 0, len(self.rows),
                                                   self.threads)
        pnl = np.full((len(scenarios), len(self.ids)), math.nan)
        pnl[:, np.asarray(self.rows, dtype=np.int64)] = (
            np.frombuffer(data, dtype=np.float64).reshape(len(scenarios), len(self.rows)))
        failures = [Failure(scenarios[s].name, self.curves[c], None, error)
                    for s, c, error in failed]
        return pnl, failures


def _currencies(trades: TradeRows) -> list[str]:
    """The currency of each trade's first leg, from its conventions; "" for a refused row."""
    import numpy as np

    conventions, columns = trades.conventions, trades.columns
    names = np.array([str(c["leg1"].get("currency", "")) for c in conventions] + [""],
                     dtype=object)
    codes = np.asarray(columns["conventions"], dtype=np.int64)
    refused = ~np.equal(np.asarray(columns["error"], dtype=object), None) | (codes < 0)
    return names[np.where(refused, len(conventions), codes)].tolist()


def trade_rows(trades: Sequence[BookTrade]) -> TradeRows:
    """Book trades as the columns the native engine builds, each checked as `tessarin.IRS`
    checks its swap; a trade refused there is refused here, with the same message."""
    checked: list[Any] = []
    for trade in trades:
        try:
            checked.append((trade.curve, read_swap(trade.swap)))
        except InputError as error:
            checked.append((InputError("", str(error)), trade.id))
    rows = rows_from_swaps(checked)
    rows.columns["id"] = [trade.id for trade in trades]
    rows.columns["curve"] = [trade.curve for trade in trades]
    return rows


def _codes(kind: str, labels: list[str]) -> tuple[str, list[str], Any]:
    """(kind, the distinct labels in order of first appearance, each label's code)."""
    import numpy as np

    codes, names = _pandas().factorize(np.asarray(labels, dtype=object), use_na_sentinel=False)
    return kind, list(names), codes


def _build(curve: Mapping[str, Any]) -> YieldCurve | str:
    try:
        return YieldCurve(curve)
    except (RuntimeError, ValueError) as error:
        return str(error)


_ENGINES: dict[tuple[str, int, int], _Engine] = {}
_ENGINES_LOCK = threading.Lock()
# Trade chunks a process keeps built: tasks come chunk by chunk, so few are needed at once.
_KEPT_ENGINES = 2
# Times the book and market are sent to a cluster that keeps losing them.
_SEND_ATTEMPTS = 3


def _engine(token: str, payload: tuple[Any, Any, Any, int, Any], first: int, last: int) -> _Engine:
    """The engine of trades [first, last) of this run in this process, built on first use."""
    key = (token, first, last)
    with _ENGINES_LOCK:
        engine = _ENGINES.pop(key, None)
        if engine is None:
            for other in [k for k in _ENGINES if k[0] != token]:
                del _ENGINES[other]  # one run at a time keeps its book
            while len(_ENGINES) >= _KEPT_ENGINES:
                del _ENGINES[next(iter(_ENGINES))]  # the least recently used
            trades, market, fixings, threads, calendar_state = payload
            # A worker process has only the built-in calendars until it adopts the caller's.
            calendars.adopt(calendar_state)
            engine = _Engine(trades, market, fixings, threads, first, last)
        _ENGINES[key] = engine
        return engine


def _release(engine: _Engine) -> None:
    """What becomes of the engines of a finished run: here, nothing, so they are freed. The
    `tessarin` program keeps them until its process ends instead, as it keeps its book."""


def _forget(token: str) -> None:
    with _ENGINES_LOCK:
        for key in [k for k in _ENGINES if k[0] == token]:
            _release(_ENGINES.pop(key))


@dataclass(frozen=True)
class _Task:
    scenarios: tuple[Scenario, ...]
    first_scenario: int
    first_trade: int
    last_trade: int


@dataclass
class _BlockResult:
    first_scenario: int
    first_trade: int
    pnl: Any  # the block's array, or None when written to `out`
    failures: list[Failure]
    base: list[Failure]  # the chunk's trades that fail on the base market, in its first block
    # (scenario offset, group kind, group name) -> expansion of the block's PnL sum
    sums: dict[tuple[int, str, str], list[float]]


def _run_block(token: str, payload: tuple[Any, Any, Any, int, Any], task: _Task, out: str | None
               ) -> _BlockResult:
    import numpy as np

    engine = _engine(token, payload, task.first_trade, task.last_trade)
    pnl, failures = engine.block(task.scenarios)
    sums: dict[tuple[int, str, str], list[float]] = {}
    for kind, names, codes in engine.groups:
        for code in np.unique(codes):
            for s, row in enumerate(pnl[:, codes == code].tolist()):
                sums[(s, kind, names[code])] = expansion(row)
    if out is not None:
        _write_partition(out, task, pnl, engine.ids)
        pnl = None
    base = engine.base_failures() if task.first_scenario == 0 else []
    return _BlockResult(task.first_scenario, task.first_trade, pnl, failures, base, sums)


def _write_partition(out: str, task: _Task, pnl: Any, trades: Sequence[str]) -> None:
    """The block's PnL, tidy, as one Parquet file; a rerun of the task writes the same file."""
    pd = _pandas()
    frame = pd.DataFrame({
        "Scenario": [s.name for s in task.scenarios for _ in trades],
        "Trade": [t for _ in task.scenarios for t in trades],
        "PnL": pnl.reshape(-1),
    })
    name = f"part-s{task.first_scenario:07d}-t{task.first_trade:09d}.parquet"
    temporary = Path(out) / f".{name}.{uuid.uuid4().hex}"
    frame.to_parquet(temporary, index=False)
    os.replace(temporary, Path(out) / name)


# Results

@dataclass
class Revaluation:
    """PnL of every trade under every scenario, against the base market.

    `pnl` has one row per scenario (in order) and one column per trade id; a trade that could
    not be priced in a scenario is NaN there, never zero, and `failures` says why. Book totals
    of a scenario with a failed trade are NaN too.
    """

    scenarios: list[str]
    trades: list[str]
    failures: list[Failure]
    by_curve: pd.DataFrame
    by_currency: pd.DataFrame
    book: pd.Series
    _pnl: pd.DataFrame | None = None
    out: str | None = None

    @property
    def pnl(self) -> pd.DataFrame:
        """Scenario x trade PnL (read back from `out` when the run wrote it there)."""
        if self._pnl is None and self.out is not None:
            pd = _pandas()
            tidy = pd.read_parquet(self.out)
            self._pnl = (tidy.pivot(index="Scenario", columns="Trade", values="PnL")
                         .reindex(index=self.scenarios, columns=self.trades))
        assert self._pnl is not None
        return self._pnl

    def _series(self, currency: str | None) -> pd.Series:
        """The PnL whose tail is measured: one currency's, or the book's when it holds one."""
        if currency is None:
            held = list(self.by_currency.columns)
            if len(held) > 1:
                raise ValueError(f"the book holds {', '.join(held)}: PnL in different "
                                 "currencies do not add up; name one with currency=")
            series = self.book
        elif currency in self.by_currency.columns:
            series = self.by_currency[currency]
        else:
            raise ValueError(f"no trades in {quoted(currency)} (the book holds "
                             f"{', '.join(self.by_currency.columns)})")
        missing = [name for name, value in series.items() if math.isnan(value)]
        if missing:
            raise ValueError(f"{len(missing)} scenario(s) have trades that could not be priced "
                             f"({', '.join(missing[:5])}{', ...' if len(missing) > 5 else ''}); "
                             "see .failures")
        return series

    def tail(self, level: float = 0.99, currency: str | None = None) -> pd.Series:
        """The k worst scenarios by PnL (of the book, or of one currency's trades), worst
        first: k = ceil(N (1 - level)) of the N scenarios."""
        if not 0.0 < level < 1.0:
            raise ValueError(f"level must lie between 0 and 1, got {level}")
        series = self._series(currency)
        k = max(1, math.ceil(len(series) * (1.0 - level) - 1e-9))
        return series.sort_values(kind="stable").iloc[:k]

    def var(self, level: float = 0.99, currency: str | None = None) -> float:
        """Historical value at risk: the loss of the k-th worst scenario (see `tail`)."""
        return float(-self.tail(level, currency).iloc[-1])

    def es(self, level: float = 0.99, currency: str | None = None) -> float:
        """Expected shortfall: the mean loss over the k worst scenarios (see `tail`)."""
        worst = self.tail(level, currency)
        return -math.fsum(worst) / len(worst)


def _assemble(scenarios: Sequence[Scenario], trades: TradeRows,
              results: Iterable[_BlockResult], out: str | None) -> Revaluation:
    import numpy as np

    pd = _pandas()
    names = [s.name for s in scenarios]
    ids = list(trades.ids)
    matrix = None if out is not None else np.full((len(scenarios), len(ids)), math.nan)
    terms: dict[tuple[int, str, str], list[float]] = {}
    ordered = sorted(results, key=lambda r: (r.first_scenario, r.first_trade))
    # The base market's failures first, in trade order, then each scenario's.
    failures = [f for result in sorted(ordered, key=lambda r: r.first_trade) for f in result.base]
    for result in ordered:
        if matrix is not None:
            rows, columns = result.pnl.shape
            matrix[result.first_scenario:result.first_scenario + rows,
                   result.first_trade:result.first_trade + columns] = result.pnl
        failures += [f for f in result.failures if f not in failures]
        for (s, kind, name), expanded in result.sums.items():
            terms.setdefault((result.first_scenario + s, kind, name), []).extend(expanded)
    curves = list(dict.fromkeys(trades.columns["curve"]))
    # A refused row has no currency: it has no column of its own.
    currencies = [c for c in dict.fromkeys(_currencies(trades)) if c]

    def table(kind: str, columns: list[str]) -> pd.DataFrame:
        data = {name: [math.fsum(terms.get((s, kind, name), [])) for s in range(len(names))]
                for name in columns}
        return pd.DataFrame(data, index=pd.Index(names, name="Scenario"), columns=columns)

    by_curve = table("curve", curves)
    book = pd.Series([math.fsum(t for c in curves for t in terms.get((s, "curve", c), []))
                      for s in range(len(names))], index=by_curve.index, name="PnL")
    pnl = None if matrix is None else pd.DataFrame(matrix, index=by_curve.index,
                                                   columns=pd.Index(ids, name="Trade"))
    return Revaluation(names, ids, failures, by_curve, table("currency", currencies), book,
                       pnl, out)


# Executors

def _tasks(scenarios: Sequence[Scenario], n_trades: int, scenario_chunk: int,
           trade_chunk: int) -> list[_Task]:
    # Chunk by chunk of trades, so that a process needs few chunks built at a time.
    return [_Task(tuple(scenarios[s:s + scenario_chunk]), s, t, min(t + trade_chunk, n_trades))
            for t in range(0, max(n_trades, 1), trade_chunk)
            for s in range(0, len(scenarios), scenario_chunk)]


def revalue(trades: Sequence[BookTrade] | TradeRows, market: Sequence[Any],
            scenarios: ScenarioSet |
            Sequence[Scenario], fixings: Mapping[str, Any] | None = None, *,
            executor: Any = None, out: str | os.PathLike[str] | None = None,
            scenario_chunk: int = DEFAULT_SCENARIO_CHUNK, trade_chunk: int = DEFAULT_TRADE_CHUNK,
            workers: int | None = None, threads: int | None = None,
            stream: IO[str] | None = None,
            on_block: Callable[[int], None] | None = None, strict: bool = True) -> Revaluation:
    """Revalue `trades` (`BookTrade`s, or the rows of a `tessarin.Book`) under every scenario
    against the base `market` (curve dicts or `tessarin.YieldCurve` objects).

    executor: None runs here, on `threads` threads (default: one per core); "dask" starts a
    local Dask cluster on the loopback address (one worker process per core, or `workers`)
    and closes it afterwards, whatever happens; a `distributed.Client` or a scheduler address
    uses that cluster. `out`: a folder that
    receives the PnL as a Parquet dataset, block by block, instead of memory. A trade whose
    legs do not match its curve fails, as in `tessarin.Book`; with ``strict=False`` that only
    warns.
    """
    if isinstance(market, (str, bytes, Mapping)) or not isinstance(market, Iterable):
        raise TypeError("a market is a list of curve dicts or tessarin.YieldCurve objects, got "
                        f"{type(market).__name__}")
    curves = [c.to_dict() if isinstance(c, YieldCurve) else
              dict(c) if isinstance(c, Mapping) else c for c in market]
    resolved = _scenarios(scenarios, curves)
    if not resolved:
        raise InputError("scenarios", "no scenario to run")
    if scenario_chunk < 1 or trade_chunk < 1:
        raise ValueError("chunk sizes must be at least 1")
    book = trades if isinstance(trades, TradeRows) else trade_rows(list(trades))
    book = refuse_mispaired(book, {str(c["id"]): c for c in curves if isinstance(c, Mapping)},
                            strict)
    seen: set[str] = set()
    for trade_id in book.ids:
        if trade_id in seen:
            raise InputError("trades", f"trade id {quoted(trade_id)} is used twice")
        seen.add(trade_id)
    if out is not None:
        try:
            Path(out).mkdir(parents=True, exist_ok=True)
            for stale in Path(out).glob("part-*.parquet"):
                stale.unlink()
        except OSError as error:
            raise InputError("", "cannot write the PnL there: expected a folder that can be "
                                 f"created ({error.strerror or error})", str(out)) from None
    folder = None if out is None else str(Path(out).resolve())
    payload = (book, curves, None if fixings is None else dict(fixings),
               (os.cpu_count() or 1 if threads is None else thread_count(threads))
               if executor is None else 1, calendars.state())
    token = uuid.uuid4().hex
    tasks = _tasks(resolved, len(book.ids), scenario_chunk, trade_chunk)
    progress = Progress(len(tasks), stream, "revaluing", "blocks")
    try:
        if executor is None:
            results = []
            for i, task in enumerate(tasks):
                results.append(_run_block(token, payload, task, folder))
                progress.step()
                if on_block is not None:
                    on_block(i)
        else:
            results = _on_dask(executor, token, payload, tasks, folder, workers, progress,
                               on_block)
    finally:
        progress.close()
        _forget(token)
    return _assemble(resolved, book, results, folder)


def _scenarios(scenarios: Any, curves: list[Any]) -> list[Scenario]:
    """The scenarios to run: a set resolved on the market, or a list of `Scenario`s."""
    if isinstance(scenarios, ScenarioSet):
        return scenarios.resolve(curves)
    if isinstance(scenarios, Iterable) and not isinstance(scenarios, (str, bytes, Mapping)):
        resolved = list(scenarios)
        if all(isinstance(s, Scenario) for s in resolved):
            return resolved
    raise TypeError("scenarios must come from tessarin.scenarios (parallel, key_rate, "
                    f"historical, absolute) or be a list of Scenario, got "
                    f"{type(scenarios).__name__}")


def _guarded(node: Any, line: int) -> bool | None:
    """Whether `line` of a module's statements runs only under ``if __name__ == "__main__":``;
    None when no statement of `node` holds it."""
    import ast

    for statement in getattr(node, "body", []):
        if not statement.lineno <= line <= (statement.end_lineno or statement.lineno):
            continue
        if isinstance(statement, ast.If):
            test = statement.test
            main_test = (isinstance(test, ast.Compare) and len(test.comparators) == 1
                         and {ast.dump(test.left), ast.dump(test.comparators[0])}
                         == {ast.dump(ast.Name("__name__", ast.Load())),
                             ast.dump(ast.Constant("__main__"))})
            if main_test and any(s.lineno <= line <= (s.end_lineno or s.lineno)
                                 for s in statement.body):
                return True
            inner = _guarded(statement, line)
            if inner is None and statement.orelse:
                inner = _guarded(ast.Module(body=statement.orelse, type_ignores=[]), line)
            return bool(inner)
        if isinstance(statement, (ast.With, ast.Try, ast.For, ast.While)):
            return bool(_guarded(statement, line))
        return False
    return None


def check_main_guard() -> None:
    """Refuses to start local Dask workers from a script's top level run without the
    ``if __name__ == "__main__":`` guard: each worker process imports the script again, which
    would start workers again. One line with the fix, in the script and in each worker."""
    import inspect
    import multiprocessing
    import sys

    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None)
    # A worker being started imports the main script as "__mp_main__": it is here only if the
    # script runs this call when imported.
    bootstrapping = getattr(multiprocessing.current_process(), "_inheriting", False)
    line = None
    if not bootstrapping and main is not None and path:
        frame = inspect.currentframe()
        while frame is not None:
            if frame.f_globals is vars(main) and frame.f_code.co_name == "<module>" \
                    and frame.f_code.co_filename == path:
                line = frame.f_lineno
            frame = frame.f_back
        del frame
        if line is None:
            return
        try:
            import ast

            tree = ast.parse(Path(path).read_text(encoding="utf-8"))
        except (OSError, SyntaxError, UnicodeDecodeError, ValueError):
            return
        if _guarded(tree, line) is not False:
            return
    elif not bootstrapping:
        return
    where = f" ({Path(path).name}, line {line})" if path and line else ""
    raise RuntimeError(
        'executor="dask" starts worker processes that import the main script again: put the '
        f'code that revalues under `if __name__ == "__main__":`{where}')


def _on_dask(executor: Any, token: str, payload: tuple[Any, Any, Any, int, Any],
             tasks: list[_Task],
             out: str | None, workers: int | None, progress: Progress,
             on_block: Callable[[int], None] | None) -> list[_BlockResult]:
    try:
        from concurrent.futures import CancelledError

        from distributed import Client, LocalCluster, as_completed
    except ImportError:
        raise ImportError("the Dask executor needs dask.distributed: pip install "
                          "'tessarin[dask]'") from None
    cluster = client = None
    own_client = False
    try:
        if isinstance(executor, Client):
            client = executor
        elif executor == "dask":
            check_main_guard()
            cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1,
                                   threads_per_worker=1, processes=True, host="127.0.0.1",
                                   dashboard_address=None)
            client, own_client = Client(cluster), True
        elif isinstance(executor, str):
            try:
                client, own_client = Client(executor), True
            except (OSError, ValueError) as error:
                raise InputError("executor", f"cannot reach the Dask scheduler at "
                                             f"{quoted(executor)} ({one_line(error)})") from None
        else:
            raise TypeError("executor is None, 'dask', a distributed.Client or a scheduler "
                            f"address, got {type(executor).__name__}")
        # The book and the market travel once; each worker builds its engine once. A task
        # whose copy of them was lost with a worker is cancelled: they travel again, under a
        # new key, for the blocks not yet done.
        pending = dict(enumerate(tasks))
        results = []
        attempts = 0
        while True:
            attempts += 1
            shared = client.scatter(payload, broadcast=True, hash=False)
            futures = {client.submit(_run_block, token, shared, task, out, pure=False,
                                     retries=2): i for i, task in pending.items()}
            try:
                for future in as_completed(futures):
                    results.append(future.result())
                    del pending[futures[future]]
                    progress.step()
                    if on_block is not None:
                        on_block(futures[future])
                return results
            except CancelledError:
                if attempts == _SEND_ATTEMPTS:
                    raise
                client.cancel(list(futures))
    finally:
        if own_client and client is not None:
            client.close()
        if cluster is not None:
            cluster.close()
