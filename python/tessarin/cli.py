"""The ``tessarin`` command line: price trade files, list the conventions."""

from __future__ import annotations

import argparse
import atexit
import contextlib
import datetime as dt
import json
import os
import sys
import threading
import warnings
from collections.abc import Callable, Iterator, Sequence
from dataclasses import asdict, dataclass, field
from itertools import chain, pairwise
from pathlib import Path
from typing import IO, TYPE_CHECKING, Any

import _tessarin

from . import calendars, cli_explain, cli_output, cli_scenarios
from ._fixings import Fixings
from ._inputs import (
    CalendarCoverageWarning,
    InputError,
    InputWarning,
    check_pairing,
    jsonable,
    relocate,
)
from ._objects import YieldCurve
from ._types import quoted
from .book import DEFAULT_RISK_METHOD, RISK_METHODS, Book, ladder_of, sums_by, trade_rows
from .conventions import CALENDARS, FUTURES, GENERATORS, INDICES
from .files import json_trade_rows, load_fixings, load_market
from .tables import TradeRows, refuse_mispaired

if TYPE_CHECKING:
    import pandas

EXIT_OK, EXIT_FAILURES, EXIT_BAD_INPUT = 0, 1, 2
RISK_UNIT = "PV change per 1bp move of each quote, in the trade's currency"
# The tables of `tessarin price` for programs, in output order, with the options they need.
PRICE_TABLES = {"prices": (), "totals": (), "ladders": ("risk",),
                "risk": ("risk", "ladder_per_trade"), "cashflows": ("cashflows",),
                "failures": ()}

DESCRIPTION = """\
Bootstrap OIS curves and price interest rate swaps on them.

  tessarin price MARKET.json TRADES [--fixings FIXINGS.json] [--risk] [--cashflows]
  tessarin price --demo
  tessarin conventions
"""

PRICE_EPILOG = """\
files (dates as YYYY-MM-DD text):
  MARKET.json   {"curves": [curve, ...]}; a curve has "id", "currency",
                "value date", optional "interpolation", and "instruments"
                with the lists "generator", "tenor", "quote" (percent), "in use"
  TRADES.json   {"trades": [trade, ...]}; a trade is a swap ("id",
                "effective date", "termination date", "leg1", "leg2") with
                "curve" naming a market curve and, optionally, "generator"
                (e.g. "USD SOFR SW") to fill in the leg conventions
  TRADES.csv    one row per trade: id, curve, generator, effective date,
  TRADES.parquet  termination date, fixed rate, notional, direction (payer or
                receiver), margin, and optional "leg1 <key>"/"leg2 <key>"
                convention columns; Parquet needs pyarrow
  FIXINGS.json  {"SOFR": {"dates": [...], "values": [...]}, ...}, decimals;
                needed by trades whose floating period runs over the value date

exit status:
  0  every curve built and every trade priced
  1  some curves or trades failed: the others are printed, the failures listed
     (a bad row of a CSV or Parquet trades file fails that trade only)
  2  bad command line or input file (one line names the file and key path)

output for programs:
  --format csv   one CSV table on standard output: the prices (with DV01 under --risk);
                 --table totals|ladders|risk|cashflows|failures picks another
  --format json  one JSON document holding every table
  --out DIR      one file per table: prices, totals, ladders, risk, cashflows, failures,
                 as DIR/NAME.csv, .parquet or .json after --format (CSV by default)

examples:
  tessarin price examples/market.json examples/trades.json --fixings examples/fixings.json
  tessarin price --demo --risk --cashflows --out results --format parquet
  tessarin price --demo --format csv --table ladders
  tessarin price --demo --risk --format json > results.json
  tessarin price market.json trades.csv --risk --threads 2 --format csv
  tessarin price --demo --plot curves.png
"""


@dataclass
class Failure:
    """A curve or trade that could not be built or priced."""

    kind: str
    id: str
    where: str
    error: str


@dataclass
class Run:
    """What `tessarin price` produced; amounts per trade in the trade's currency."""

    curves: list[YieldCurve] = field(default_factory=list)
    failed_curves: set[str] = field(default_factory=set)
    prices: pandas.DataFrame | None = None
    risk: pandas.DataFrame | None = None
    ladder: pandas.DataFrame | None = None
    cashflows: pandas.DataFrame | None = None
    failures: list[Failure] = field(default_factory=list)
    rows: TradeRows | None = None


def _demo_file(name: str) -> Path:
    from importlib import resources

    packaged = resources.files("tessarin") / "examples" / name
    if packaged.is_file():
        return Path(str(packaged))
    # Running from a source checkout: the repository's examples folder.
    return Path(__file__).resolve().parents[2] / "examples" / name


class _Version(argparse.Action):
    """--version: the installed version, read only when asked for."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS,
                 **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS,
                         help="show program's version number and exit")

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> None:
        from . import __version__

        print(f"{parser.prog} {__version__}")
        parser.exit()


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of ``tessarin`` and its subcommands."""
    parser = argparse.ArgumentParser(
        prog="tessarin", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Run 'tessarin COMMAND --help' for the options of a command.")
    parser.add_argument("--version", action=_Version)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    price = commands.add_parser(
        "price", help="build the market's curves and price the trades on them",
        description="Build every curve of MARKET.json, then price every trade of TRADES.json "
                    "on the curve it names: leg PVs and NPV, and optionally key-rate risk and "
                    "cash flows.",
        epilog=PRICE_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    price.add_argument("market", nargs="?", metavar="MARKET.json",
                       help="curves to build (not needed with --demo)")
    price.add_argument("trades", nargs="?", metavar="TRADES",
                       help="swaps to price: TRADES.json, .csv or .parquet (not needed with "
                            "--demo)")
    price.add_argument("--fixings", metavar="FIXINGS.json", help="past index fixings")
    price.add_argument("--risk", action="store_true",
                       help="add each trade's DV01 and the key-rate ladder of each curve "
                            "summed over the book: " + RISK_UNIT)
    price.add_argument("--risk-method", choices=RISK_METHODS, default=DEFAULT_RISK_METHOD,
                       help="analytic derivatives or bumped quotes with the curve rebuilt "
                            f"(default: {DEFAULT_RISK_METHOD})")
    price.add_argument("--ladder-per-trade", action="store_true",
                       help="with --risk, also each trade's own key-rate ladder")
    price.add_argument("--threads", type=int, metavar="N",
                       help="worker threads (default: every core; 1 runs serially)")
    price.add_argument("--cashflows", action="store_true",
                       help="add each trade's priced cash flows, paid flows negative")
    price.add_argument("--format", choices=("table", "json", "csv", "parquet"),
                       default="table",
                       help="aligned tables for people (default), JSON or one CSV table for "
                            "programs; with --out, the files' format (parquet needs --out)")
    price.add_argument("--table", choices=tuple(PRICE_TABLES), default="prices",
                       help="with --format csv, the table to write (default: prices; ladders "
                            "implies --risk, risk --ladder-per-trade, cashflows --cashflows)")
    price.add_argument("--out", metavar="DIR",
                       help="write one file per table into DIR instead (see below)")
    price.add_argument("--plot", metavar="OUT.png",
                       help="also draw the zero rates and discount factors of the curves "
                            "into a PNG file (needs matplotlib)")
    price.add_argument("--no-strict", dest="strict", action="store_false",
                       help="only warn about inputs that look wrong but can be used: rates "
                            "in percent, a trade on a curve of another currency or index, "
                            "unknown keys")
    price.add_argument("--demo", action="store_true",
                       help="use the bundled example market, trades and fixings (six "
                            "currencies, two seasoned swaps)")
    _calendar_arguments(price)
    price.set_defaults(run=_price_command, subparser=price)

    conventions = commands.add_parser(
        "conventions", help="list the built-in generators, indices and calendars",
        description="List the swap generators, overnight indices and holiday calendars that "
                    "curve and trade files can name.")
    conventions.add_argument("--format", choices=("table", "json"), default="table",
                             help="aligned tables (default) or JSON")
    _calendar_arguments(conventions)
    conventions.set_defaults(run=_conventions_command, subparser=conventions)
    cli_scenarios.add_parser(commands, _scenarios_command)
    _calendar_arguments(commands.choices["scenarios"])
    cli_explain.add_parser(commands, _explain_command)
    _report_parser(commands)
    for command in commands.choices.values():
        command.add_argument("--quiet", "-q", action="store_true",
                             help="print no warnings, notes or progress (errors still show)")
    return parser


def _report_parser(commands: Any) -> None:
    report = commands.add_parser(
        "report", help="write an HTML report of the book: curves, prices, ladders, VaR",
        description="Build the curves of MARKET.json, price and risk the trades, optionally "
                    "revalue them under scenarios, and write one self-contained HTML file: the "
                    "curves' zero rates and overnight forwards, NPV and DV01 per currency, "
                    "each curve's ladder as a chart, the largest trades by DV01 and, with "
                    "scenarios, the PnL histogram with VaR and ES. Needs jinja2 and "
                    "matplotlib (pip install 'tessarin[report]').",
        epilog="example:\n  tessarin report examples/market.json examples/trades.json "
               "--fixings examples/fixings.json --parallel -50,-25,25,50 -o report.html",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    report.add_argument("market", metavar="MARKET.json", help="curves to build")
    report.add_argument("trades", metavar="TRADES", help="TRADES.json, .csv or .parquet")
    report.add_argument("--fixings", metavar="FIXINGS.json", help="past index fixings")
    which = report.add_mutually_exclusive_group()
    which.add_argument("--historical", metavar="CHANGES",
                       help="scenarios: a table of quote changes by date, as for "
                            "tessarin scenarios")
    which.add_argument("--parallel", metavar="BP,BP,...", type=cli_scenarios.shifts,
                       help="scenarios: parallel shifts in basis points, comma-separated")
    report.add_argument("--var", metavar="LEVEL", type=cli_scenarios.level, action="append",
                        help="confidence level of VaR and ES (default 0.99; may repeat)")
    report.add_argument("--top", metavar="N", type=int, default=10,
                        help="how many of the largest trades by |DV01| to list (default 10)")
    report.add_argument("--risk-method", choices=RISK_METHODS, default=DEFAULT_RISK_METHOD,
                        help=f"key-rate risk method (default: {DEFAULT_RISK_METHOD})")
    report.add_argument("--threads", type=int, metavar="N",
                        help="worker threads (default: every core)")
    report.add_argument("-o", "--output", metavar="REPORT.html", required=True,
                        help="the HTML file to write")
    _calendar_arguments(report)
    report.set_defaults(run=_report_command, subparser=report)


def _report_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    try:
        from . import report
        from . import scenarios as sc

        report._modules()
    except ImportError as error:
        raise InputError("report", str(error)) from None
    cli_output.check_threads(args)
    if args.top < 0:
        raise InputError("--top", f"expected a count of at least 0, got {args.top}")
    scenario_set = (sc.historical(args.historical) if args.historical is not None
                    else sc.parallel(args.parallel) if args.parallel is not None else None)
    with cli_output.Ticker(enabled=not args.quiet) as ticker:
        _, failures = report.build(
            args.market, args.trades, args.fixings, scenarios=scenario_set, path=args.output,
            levels=args.var or report.DEFAULT_LEVELS, top=args.top,
            risk_method=args.risk_method, threads=args.threads, ticker=ticker)
    print(f"{args.output}" + (f" ({failures} failures listed in it)" if failures else ""))
    return EXIT_FAILURES if failures else EXIT_OK


def _calendar_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--calendars", metavar="FILE",
                        help="holiday lists to use: JSON or CSV as tessarin.calendars.load "
                             "reads them, or a market file's \"calendars\" entry")
    parser.add_argument("--calendars-through", metavar="YEAR", type=_year,
                        help="generate the built-in calendars' holidays after their lists, "
                             "through YEAR, from the holidays package's rules (pip install "
                             "'tessarin[calendars]')")


def _year(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a year, got {text!r}") from None


def _calendar_options(args: argparse.Namespace) -> None:
    """--calendars, then --calendars-through: the user's lists first, the rules after them."""
    if getattr(args, "calendars", None) is not None:
        calendars.load(args.calendars)
    through = getattr(args, "calendars_through", None)
    if through is not None:
        try:
            calendars.extend(through)
        except ImportError as error:
            raise InputError("--calendars-through", str(error)) from None
        except InputError as error:
            raise InputError("--calendars-through", error.message) from None


# What the program leaves for the end of the process, unfreed (see `script`).
_LEFT: list[Any] = []
_PROGRAM = False


def script() -> None:
    """The ``tessarin`` program: `main` on the process's arguments, then the process ends at
    once with its output flushed. Tearing the interpreter down would free a large book trade
    by trade and every loaded module, a good share of a short run, for memory the system
    takes back anyway; exit handlers still run. With other threads still alive, it exits the
    usual way, as it does under a profiler or tracer, which report at the interpreter's
    end."""
    global _PROGRAM
    _PROGRAM = True
    status = main()
    for stream in (sys.stdout, sys.stderr):
        # The reader may have gone away, or the stream be closed.
        with contextlib.suppress(OSError, ValueError):
            stream.flush()
    if threading.active_count() > 1 or sys.gettrace() is not None \
            or sys.getprofile() is not None:
        sys.exit(status)
    atexit._run_exitfuncs()
    os._exit(status)


def _leave(value: Any) -> None:
    """Keeps `value` until the program's process ends, when run as the program."""
    if _PROGRAM:
        _LEFT.append(value)


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(
        cli_scenarios.attach_negative_values(list(sys.argv[1:] if argv is None else argv)))
    with warnings.catch_warnings():
        for category in (InputWarning, CalendarCoverageWarning):
            warnings.simplefilter("ignore" if args.quiet else "always", category)
        warnings.showwarning = _warning_printer(warnings.showwarning)
        try:
            _calendar_options(args)
            return int(args.run(parser, args))
        except InputError as error:
            # One line, whatever a reader's message held.
            print(f"tessarin: error: {' '.join(str(error).splitlines())}", file=sys.stderr)
            return EXIT_BAD_INPUT
        except KeyboardInterrupt:
            return 130
        except BrokenPipeError:
            # The reader went away (e.g. `| head`); say nothing more.
            sys.stderr.close()
            return EXIT_OK


def _warning_printer(others: Any) -> Any:
    """Prints each input warning once, on one line; a calendar's coverage once per run.
    Other warnings go to `others`."""
    printed: set[Any] = set()

    def show(message: Warning | str, category: type[Warning], *args: Any, **kwargs: Any) -> None:
        if not isinstance(message, (InputWarning, CalendarCoverageWarning)):
            others(message, category, *args, **kwargs)
            return
        key = (category, message.calendar) if isinstance(message, CalendarCoverageWarning) \
            else str(message)
        if key not in printed:
            printed.add(key)
            print(f"tessarin: warning: {' '.join(str(message).split())}", file=sys.stderr)

    return show


# tessarin conventions

def _conventions_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    if args.format == "json":
        document = {
            "generators": [asdict(g) for g in GENERATORS.values()],
            "futures": [asdict(g) for g in FUTURES.values()],
            "indices": [asdict(i) for i in INDICES.values()],
            "calendars": [{**asdict(c), "weekend": list(c.weekend),
                           "coverage": [{"first year": first, "last year": last, "source": source}
                                        for first, last, source in c.coverage]}
                          for c in CALENDARS.values()],
        }
        print(json.dumps(document, indent=2))
        return EXIT_OK
    out = [_table("Swap generators (leg1 fixed, leg2 floating; curve instruments name these)",
                  ["Generator", "Currency", "Index", "Spot lag", "Calendar", "Frequency",
                   "Day count", "Accrual adj.", "Pay adj.", "Pay lag"],
                  [[g.name, g.currency, g.index, f"{g.start_delay}BD", g.calendar, g.frequency,
                    g.day_count, g.accrual_adjustment, g.pay_adjustment, f"{g.pay_lag}BD"]
                   for g in GENERATORS.values()], numeric=()),
           _table("Futures generators (curve rows name these with a contract month, YYYY-MM, "
                  "and quote the price)",
                  ["Generator", "Currency", "Index", "Reference period", "Averaging"],
                  [[g.name, g.currency, g.index, "1 month" if g.months == 1 else "IMM quarter",
                    g.averaging] for g in FUTURES.values()], numeric=()),
           _table("Overnight indices", ["Index", "Currency", "Fixing calendar", "Day count"],
                  [[i.name, i.currency, i.calendar, i.day_count] for i in INDICES.values()],
                  numeric=()),
           _table("Holiday calendars (join names with commas for a union, e.g. \"US,EN\")",
                  ["Calendar", "Holidays listed for", "Listed by", "Weekend", "Description"],
                  [[c.name, c.years, c.sources, ", ".join(c.weekend), c.description]
                   for c in CALENDARS.values()], numeric=())]
    print("\n\n".join(out))
    return EXIT_OK


def _scenarios_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    from . import revaluation

    revaluation._release = _leave
    return cli_scenarios.command(args, _table)


def _explain_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    return cli_explain.command(args, _table)


# tessarin price

def _price_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    if args.demo:
        args.market = args.market or _demo_file("market.json")
        args.trades = args.trades or _demo_file("trades.json")
        args.fixings = args.fixings or _demo_file("fixings.json")
    elif args.market is None or args.trades is None:
        args.subparser.error("MARKET.json and TRADES are required (or use --demo)")
    if args.format == "parquet" and args.out is None:
        args.subparser.error("--format parquet writes files: give the folder with --out DIR")
    if args.table != "prices" and (args.format != "csv" or args.out is not None):
        args.subparser.error("--table picks the table of --format csv on standard output")
    for option in PRICE_TABLES[args.table]:
        setattr(args, option, True)
    cli_output.check_threads(args)
    if args.plot is not None:
        try:
            from . import plot  # noqa: F401
        except ImportError as error:
            raise InputError("--plot", str(error)) from None

    curves = load_market(args.market, strict=args.strict)
    # A table is read and checked here, before any curve is built: a trades file that cannot
    # be used stops the run with nothing printed ahead of its error.
    tabular = Path(args.trades).suffix.lower() in (".csv", ".parquet")
    trades = (trade_rows(args.trades, strict=args.strict) if tabular
              else json_trade_rows(args.trades, strict=args.strict))
    fixings = load_fixings(args.fixings, strict=args.strict) if args.fixings else None
    if tabular:
        # A row on a curve of another currency or index fails that trade, as a bad cell does.
        trades = refuse_mispaired(trades, {curve["id"]: curve for curve in curves}, args.strict)
    else:
        _check_pairs(trades, curves, str(args.trades), args.strict)
    with cli_output.Ticker(enabled=not args.quiet) as ticker:
        run = price_book(curves, trades, fixings, risk=args.risk, risk_method=args.risk_method,
                         cashflows=args.cashflows, threads=args.threads,
                         market_source=str(args.market), trades_source=str(args.trades),
                         strict=args.strict, ticker=ticker)
    if run.rows is not None:
        cli_output.extrapolation_warnings(run.rows, {c.id: c for c in run.curves},
                                          str(args.trades))
    if args.plot is not None and run.curves:
        from .plot import plot_curve

        try:
            plot_curve(run.curves, args.plot)
        except OSError as error:
            raise InputError("--plot", f"cannot write {args.plot} ({error.strerror or error})"
                             ) from None

    if args.out is not None:
        tables = price_tables(run, per_trade=args.ladder_per_trade)
        file_format = args.format if args.format in cli_output.FILE_FORMATS else "csv"
        for path in cli_output.write_files(tables, args.out, file_format):
            print(f"{path} ({len(tables[path.stem])} rows)")
    elif args.format == "csv":
        write_csv(run, sys.stdout, per_trade=args.ladder_per_trade, table=args.table)
        others = [name for name in price_tables(run, per_trade=args.ladder_per_trade)
                  if name != args.table]
        cli_output.note(f"wrote the {args.table} table; the others ({', '.join(others)}) come "
                        "with --table NAME, or all at once with --out DIR", args.quiet)
    else:
        writer = {"table": write_tables, "json": write_json}[args.format]
        writer(run, sys.stdout, per_trade=args.ladder_per_trade)
    if args.format != "table" or args.out is not None:
        for failure in run.failures:
            print(_failure_line(failure), file=sys.stderr)
    return EXIT_FAILURES if run.failures else EXIT_OK


def _check_pairs(rows: TradeRows, curves: list[dict[str, Any]], source: str,
                 strict: bool) -> None:
    """Refuses a trades file whose trade names an unknown curve or one of another currency
    or index (only warned about when not `strict`), at the first such trade. The pairing
    depends on the convention set and the curve only: each pair is checked at its first row,
    and again at every row only when it is not clean."""
    import numpy as np
    import pandas as pd

    known = {curve["id"]: curve for curve in curves}
    columns = rows.columns
    curve_codes, names = pd.factorize(np.asarray(columns["curve"], dtype=object))
    pairs = np.asarray(columns["conventions"], dtype=np.int64) * len(names) + curve_codes
    keys, firsts = np.unique(pairs, return_index=True)
    unclean = []
    for key, i in zip(keys.tolist(), firsts.tolist(), strict=True):
        curve = columns["curve"][i]
        if curve in known:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", InputWarning)
                with contextlib.suppress(InputError):
                    if check_pairing(rows.conventions[columns["conventions"][i]],
                                     known[curve], "", strict):
                        continue
        unclean.append(key)
    for i in np.flatnonzero(np.isin(pairs, unclean)).tolist():
        curve, where = columns["curve"][i], rows.location(i)
        subject = f"trade {quoted(columns['id'][i])}"
        if curve not in known:
            raise InputError(f"{where}.curve", f"unknown curve {quoted(curve)} (the market "
                             f"has: {', '.join(known)})", source, subject)
        try:
            check_pairing(rows.conventions[columns["conventions"][i]], known[curve], where,
                          strict)
        except InputError as error:
            raise relocate(error, source, subject) from None


def price_book(curves: list[dict[str, Any]], trades: Any,
               fixings: Fixings | dict[str, Any] | None, *, risk: bool = False,
               risk_method: str = DEFAULT_RISK_METHOD, cashflows: bool = False,
               threads: int | None = None, market_source: str = "", trades_source: str = "",
               strict: bool = True, ticker: cli_output.Ticker | None = None) -> Run:
    """Build the curves, then price the trades as one book, collecting failures.

    `trades` is a list of `Trade`, the `TradeRows` of a JSON file or the path of a CSV or
    Parquet file.
    The inputs come checked from the files, whose checks already reported their warnings
    with the file and key path: the objects' own checks here stay quiet.
    """
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", InputWarning)
        return _price_book(curves, trades, fixings, risk=risk, risk_method=risk_method,
                           cashflows=cashflows, threads=threads, market_source=market_source,
                           trades_source=trades_source, strict=strict, ticker=ticker)


def _price_book(curves: list[dict[str, Any]], trades: Any,
                fixings: Fixings | dict[str, Any] | None, *, risk: bool, risk_method: str,
                cashflows: bool, threads: int | None, market_source: str, trades_source: str,
                strict: bool, ticker: cli_output.Ticker | None = None) -> Run:
    import numpy as np
    import pandas as pd

    ticker = ticker or cli_output.Ticker(enabled=False)
    ticker.set("building the curves")
    run = Run()
    # Checked once for the whole run, not once per trade and call.
    fixings = Fixings.of(fixings)
    built: dict[str, YieldCurve] = {}
    for i, curve in enumerate(curves):
        try:
            # Futures whose period has begun read the run's fixings.
            built[curve["id"]] = YieldCurve(curve, strict=strict, fixings=fixings)
            run.curves.append(built[curve["id"]])
        except RuntimeError as error:
            run.failed_curves.add(curve["id"])
            run.failures.append(Failure("curve", curve["id"], f"{market_source}: curves[{i}]",
                                        str(error)))
    ticker.set("reading the trades")
    book = Book(trades, built, fixings, threads=threads, strict=strict)
    _leave(book)
    run.rows = book.rows
    ticker.set(f"pricing {len(book):,} trades")
    prices = book.price()
    listed = trades if isinstance(trades, list) else None
    # An entry of a JSON file is told by its key path alone.
    keyed = listed is not None or book.rows.place[0].endswith("]")
    # Only the failed rows carry a cause: the priced ones are taken as a whole.
    causes: dict[int, tuple[str, str]] = prices.attrs["causes"]
    failed = [row for row in sorted(causes) if causes[row][1]]
    # Columns taken once: each selection of a column copies the frame's attrs.
    curve_ids, trade_ids = prices["Curve"].to_numpy(), prices.index
    for row in failed:
        column, message = causes[row]
        curve_id = curve_ids[row]
        if column == "curve" and curve_id in run.failed_curves:
            message = f"curve {quoted(curve_id)} did not build"
        where = (f"{trades_source}: {listed[row].where}" if listed is not None
                 else f"{trades_source}: {book.location(row)}"
                 + (f", column {quoted(column)}" if column and not keyed else ""))
        run.failures.append(Failure("trade", trade_ids[row], where, message))
    currencies = np.asarray(book.currencies, dtype=object)
    if failed:
        good = np.ones(len(prices), dtype=bool)
        good[failed] = False
        prices, currencies = prices.iloc[good], currencies[good]
    table = prices.reset_index()
    table.insert(2, "Currency", currencies.tolist())
    run.prices = table.drop(columns="Error")
    if risk:
        ticker.set(f"{risk_method} risk of {len(book):,} trades")
        run.risk = book.risk(risk_method, progress=ticker.count)
        trades = run.risk["Trade"].cat
        dv01 = pd.Series(sums_by(trades.codes.to_numpy(), run.risk["Net"].to_numpy(),
                                 len(trades.categories)), index=trades.categories)
        run.prices["DV01"] = run.prices["Trade"].map(dv01).to_numpy()
        run.ladder = ladder_of(run.risk, run.curves)
    if cashflows:
        ticker.set(f"cash flows of {len(book):,} trades")
        # Signed by the book: paid flows negative.
        run.cashflows = book.cashflows()
    return run


# Output

def _float_format(column: str) -> tuple[str, float]:
    """How a float of the column is shown, and below what size it shows as zero: within 5e-9
    of zero, or anything that would show as -0.00 in amounts."""
    if column in ("Discount Factor",):
        return "{:.8f}", 5e-9
    if column in ("Day Count Fraction", "Rate", "Margin", "Zero Rate %"):
        return "{:.6f}", 5e-9
    return "{:,.2f}", 0.005


def _float_text(column: str) -> Any:
    text, zero = _float_format(column)
    return lambda value: text.format(0.0 if abs(value) < zero else value)


def _float_cells(column: str, values: Any) -> list[str]:
    """`_float_text` of a column of floats, formatted natively at once."""
    import numpy as np

    text, zero = _float_format(column)
    pattern = text[2:-1]  # ",.2f" or ".8f"
    return _tessarin.format_floats(np.ascontiguousarray(values, dtype=np.float64),
                                   int(pattern[pattern.index(".") + 1:-1]),
                                   pattern.startswith(","), zero)


def _cell(value: Any, column: str = "") -> str:
    if isinstance(value, dt.date):
        return value.isoformat()
    if isinstance(value, float):
        return str(_float_text(column)(value))
    return str(value)


def _aligned(title: str, headers: list[str], columns: list[list[str]],
             numeric: Sequence[int]) -> str:
    """A titled table of columns of text: numbers right-aligned, text left-aligned."""
    return _tessarin.format_table(title, headers, columns, numeric)


def _table(title: str, headers: list[str], rows: list[list[Any]],
           numeric: Sequence[int] | None = None) -> str:
    """A titled table: text left-aligned, numbers right-aligned."""
    if numeric is None:
        numeric = [j for j in range(len(headers))
                   if rows and all(isinstance(row[j], (int, float)) for row in rows)]
    columns = [[_cell(row[j], header) for row in rows] for j, header in enumerate(headers)]
    return _aligned(title, headers, columns, numeric)


def _frame_table(title: str, frame: pandas.DataFrame) -> str:
    """`_table` of a DataFrame, formatted a column at a time."""
    return _aligned(title, *_frame_cells(frame))


def _frame_cells(frame: pandas.DataFrame) -> tuple[list[str], list[list[str]], list[int]]:
    """The headers, the columns of cell texts and the numeric columns of a DataFrame."""
    import numpy as np
    import pandas as pd

    headers = [str(c) for c in frame.columns]
    columns, numeric = [], []
    for j, name in enumerate(headers):
        series = frame.iloc[:, j]
        dtype = series.dtype
        if isinstance(dtype, np.dtype) and dtype.kind == "M" and series.notna().all():
            # ISO dates, as str() of a date writes them.
            cells = np.datetime_as_string(series.to_numpy().astype("datetime64[D]")).tolist()
        elif pd.api.types.is_datetime64_any_dtype(dtype):
            cells = [str(d) for d in series.dt.date.tolist()]
        elif pd.api.types.is_float_dtype(dtype):
            cells = _float_cells(name, series.to_numpy(dtype=float))
            numeric.append(j)
        elif pd.api.types.is_bool_dtype(dtype) or pd.api.types.is_integer_dtype(dtype):
            cells = list(map(str, series.tolist()))
            numeric.append(j)
        else:
            values = series.to_numpy(dtype=object).tolist()
            if set(map(type, values)) == {str}:
                # Text as it is: no cell needs formatting.
                cells = values
            else:
                values = series.tolist()
                cells = [_cell(v, name) for v in values]
                if values and all(isinstance(v, (int, float)) for v in values):
                    numeric.append(j)
        columns.append(cells)
    if not len(frame):
        numeric = []
    return headers, columns, numeric


def _grouped_tables(frame: pandas.DataFrame, keys: list[str], dropped: list[str],
                    title: Callable[..., str]) -> Iterator[str]:
    """`_frame_table` of each group of rows with the same `keys`, in order of first row,
    without the `dropped` columns and titled `title(*keys)`: the cells of every group are
    formatted at once."""
    import numpy as np

    codes = frame.groupby(keys, sort=False, observed=True).ngroup().to_numpy()
    order = np.argsort(codes, kind="stable")
    order = order[codes[order] >= 0]  # rows without a group
    if len(order) != len(codes) or (order != np.arange(len(codes))).any():
        frame, codes = frame.iloc[order], codes[order]
    starts = np.flatnonzero(np.r_[True, codes[1:] != codes[:-1]]) if len(codes) else []
    labels = list(zip(*(frame[key].iloc[starts].tolist() for key in keys), strict=True))
    body = frame.drop(columns=dropped)
    bounds = [*starts.tolist(), len(codes)]
    # Cells are made for a block of whole groups at a time, which bounds the memory they take.
    first = 0
    while first < len(labels):
        last = int(np.searchsorted(bounds, bounds[first] + _CELLS_AT_ONCE, side="right")) - 1
        last = min(max(last, first + 1), len(labels))
        top = bounds[first]
        headers, columns, numeric = _frame_cells(body.iloc[top:bounds[last]])
        for g in range(first, last):
            yield _aligned(title(*labels[g]), headers,
                           [c[bounds[g] - top:bounds[g + 1] - top] for c in columns], numeric)
        first = last


# Rows whose cells a grouped table makes at once.
_CELLS_AT_ONCE = 200_000


def _failure_line(failure: Failure) -> str:
    name = f" {quoted(failure.id)}" if failure.id else ""
    return f"failed {failure.kind}{name} ({failure.where}): {failure.error}"


def _sections(run: Run, per_trade: bool) -> Iterator[str]:
    """Every result table as text, in output order."""
    if run.prices is not None and len(run.prices):
        yield _frame_table("Prices (received legs positive, paid legs negative; DV01: "
                           + RISK_UNIT + ")" if "DV01" in run.prices
                           else "Prices (received legs positive, paid legs negative)",
                           run.prices)
        yield _frame_table("Totals per currency (amounts in different currencies do not add up)",
                           cli_output.currency_totals(run.prices))
    if run.ladder is not None:
        yield from _grouped_tables(
            run.ladder, ["Curve", "Currency"], ["Curve", "Currency"],
            lambda curve, currency: f"Key-rate ladder of {curve} in {currency}, summed over "
                                    "the book: " + RISK_UNIT)
    if per_trade and run.risk is not None:
        yield from _grouped_tables(
            run.risk, ["Trade", "Curve", "Currency"], ["Trade", "Curve", "Currency"],
            lambda trade, curve, currency: f"Key-rate risk of {trade} on {curve} in "
                                           f"{currency}: " + RISK_UNIT)
    if run.cashflows is not None:
        yield from _grouped_tables(
            run.cashflows, ["Trade", "Currency"], ["Trade", "Curve", "Currency"],
            lambda trade, currency: f"Cash flows of {trade} in {currency} (paid flows negative)")


def write_tables(run: Run, out: IO[str], *, per_trade: bool = False) -> None:
    """The run as aligned text tables, written a table at a time."""
    sections = []
    if run.curves:
        sections.append(_table(
            "Curves", ["Curve", "Currency", "Value date", "Interpolation", "Pillars",
                       "First pillar", "Last pillar"],
            [[c.id, c.currency, c.value_date, c.to_dict().get("interpolation", "LinearLogDf"),
              len(c.dates()), min(c.dates()), max(c.dates())] for c in run.curves],
            numeric=(4,)))
    sections = chain(sections, _sections(run, per_trade))
    if run.failures:
        sections = chain(sections, ["Failures\n" + "\n".join(
            _failure_line(f) for f in run.failures)])
    first = True
    for section in sections:
        out.write(section if first else "\n\n" + section)
        first = False
    out.write("\n")


def _records(frame: pandas.DataFrame) -> dict[str, list[Any]]:
    """The columns of a frame as lists of plain values, dates as ISO text."""
    import numpy as np

    columns = {}
    for name in frame.columns:
        values = frame[name]
        if str(values.dtype).startswith("datetime64"):
            columns[str(name)] = [d.isoformat() for d in values.dt.date]
        elif isinstance(values.dtype, np.dtype) and values.dtype.kind in "biuf":
            columns[str(name)] = values.to_numpy().tolist()
        else:
            columns[str(name)] = [v.item() if hasattr(v, "item") else v for v in values]
    return columns


def _records_by_trade(frame: pandas.DataFrame, columns: list[str]
                      ) -> dict[Any, dict[str, list[Any]]]:
    """`_records` of the `columns` of each trade's rows, by trade id: made for all rows at
    once."""
    import numpy as np
    import pandas as pd

    codes, trades = pd.factorize(frame["Trade"])
    order = np.argsort(codes, kind="stable")
    if (order != np.arange(len(order))).any():
        frame, codes = frame.iloc[order], codes[order]
    bounds = np.flatnonzero(np.r_[True, codes[1:] != codes[:-1], True]).tolist()
    records = _records(frame[columns])
    return {trades[codes[start]]: {name: values[start:end] for name, values in records.items()}
            for start, end in pairwise(bounds)}


def write_json(run: Run, out: IO[str], *, per_trade: bool = False) -> None:
    """The run as one JSON document: curves, trades, ladders and failures."""
    document: dict[str, Any] = {
        "curves": [{"id": c.id, "currency": c.currency, "value date": c.value_date,
                    "dates": c.dates(), "rates": c.rates()} for c in run.curves],
        "trades": [],
    }
    prices = run.prices if run.prices is not None else None
    risk = (_records_by_trade(run.risk, ["Tenor", "Leg1", "Leg2", "Net"])
            if per_trade and run.risk is not None else {})
    flows = ({} if run.cashflows is None else _records_by_trade(run.cashflows, [
        c for c in run.cashflows.columns if c not in ("Trade", "Curve", "Currency")]))
    for row in ([] if prices is None else prices.to_dict("records")):
        entry: dict[str, Any] = {"id": row["Trade"], "curve": row["Curve"],
                                 "currency": row["Currency"],
                                 "price": {k: row[k] for k in ("Leg1 PV", "Leg2 PV", "NPV")}}
        if "DV01" in row:
            entry["dv01"] = row["DV01"]
        if row["Trade"] in risk:
            entry["risk"] = risk[row["Trade"]]
        if row["Trade"] in flows:
            entry["cashflows"] = flows[row["Trade"]]
        document["trades"].append(entry)
    if run.ladder is not None:
        document["risk unit"] = RISK_UNIT
        document["ladders"] = [
            {"curve": curve, "currency": currency,
             **_records(ladder[["Tenor", "Leg1", "Leg2", "Net"]])}
            for (curve, currency), ladder in run.ladder.groupby(["Curve", "Currency"],
                                                                sort=False)]
    if prices is not None:
        document["totals"] = cli_output.json_records(cli_output.currency_totals(prices))
    document["failures"] = [vars(f) for f in run.failures]
    # Encoded whole, then written once: far fewer writes than json.dump makes.
    out.write(json.dumps(jsonable(document), indent=2) + "\n")


def price_tables(run: Run, *, per_trade: bool = False) -> dict[str, pandas.DataFrame]:
    """The run's tables for programs, by name (`PRICE_TABLES`): those the run produced, and
    the failures always. Every row of prices, ladders, risk and cash flows carries its
    currency."""
    import pandas as pd

    prices = run.prices if run.prices is not None else pd.DataFrame(
        {"Trade": [], "Curve": [], "Currency": [], "Leg1 PV": [], "Leg2 PV": [], "NPV": []})
    tables = {"prices": prices, "totals": cli_output.currency_totals(prices)}
    if run.ladder is not None:
        tables["ladders"] = run.ladder
    if per_trade and run.risk is not None:
        tables["risk"] = run.risk
    if run.cashflows is not None:
        tables["cashflows"] = run.cashflows
    tables["failures"] = cli_output.failures_frame(run.failures)
    return tables


def write_csv(run: Run, out: IO[str], *, per_trade: bool = False, table: str = "prices"
              ) -> None:
    """One table of the run as CSV, readable by any CSV reader: the prices by default."""
    cli_output.write_csv_table(price_tables(run, per_trade=per_trade)[table], out)
