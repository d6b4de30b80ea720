"""``tessarin scenarios``: revalue a book under market scenarios, VaR and ES per currency."""

from __future__ import annotations

import argparse
import io
import json
import math
import sys
from pathlib import Path
from typing import Any

from . import cli_output
from ._inputs import InputError, need_pyarrow
from ._types import quoted

TABLES = ("var", "worst", "pnl", "currency_pnl", "failures")

EPILOG = """\
scenarios (one of):
  --historical CHANGES   a CSV or Parquet table with the columns date, curve, tenor and
                         change (basis points); each date is one scenario on today's quotes
  --parallel -50,-25,25  parallel shifts of every quote in use, in basis points

VaR and ES are historical, per currency (PnL in different currencies do not add up):
VaR is the loss of the k-th worst scenario and ES the mean loss of the k worst, with
k = ceil(N (1 - level)) of N scenarios.

exit status:
  0  every scenario revalued every trade
  1  some curves or trades failed in some scenarios (listed; never counted as zero)
  2  bad command line or input file (one line names the file and the row)

output for programs:
  --format csv   one CSV table on standard output: VaR and ES per currency and level;
                 --table worst|pnl|currency_pnl|failures picks another
  --format json  one JSON document holding every table but the PnL of each trade
  --out DIR      one file per table: var, worst, pnl (scenario, trade, PnL),
                 currency_pnl (scenario, currency, PnL), failures, as DIR/NAME.parquet
                 (the PnL written block by block, a Parquet dataset), or .csv or .json
                 after --format

examples:
  tessarin scenarios examples/market.json examples/trades.json \\
      --fixings examples/fixings.json --parallel -50,-25,25,50
  tessarin scenarios MARKET.json TRADES.json --historical changes.csv --var 0.99 --dask
  tessarin scenarios MARKET.json TRADES.csv --parallel -25,25 --format csv --table worst
"""


def add_parser(commands: Any, run: Any) -> None:
    """Registers the subcommand on the ``tessarin`` parser."""
    parser = commands.add_parser(
        "scenarios", help="revalue the trades under market scenarios: PnL, VaR and ES",
        description="Build every curve of MARKET.json, price every trade of TRADES.json, then "
                    "rebuild the curves under each scenario and revalue the trades.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("market", metavar="MARKET.json", help="today's curves")
    parser.add_argument("trades", metavar="TRADES", help="the book: TRADES.json, .csv or .parquet")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--historical", metavar="CHANGES", help="table of quote changes by date")
    which.add_argument("--parallel", metavar="BP,BP,...", type=shifts,
                       help="parallel shifts in basis points, comma-separated")
    parser.add_argument("--fixings", metavar="FIXINGS.json", help="past index fixings")
    parser.add_argument("--no-strict", dest="strict", action="store_false",
                        help="only warn about inputs that look wrong but can be used, as "
                             "tessarin price --no-strict does")
    parser.add_argument("--var", metavar="LEVEL", type=level, action="append",
                        help="confidence level of VaR and ES (default 0.99; may repeat)")
    parser.add_argument("--dask", metavar="ADDRESS", nargs="?", const="dask",
                        help="run on Dask: a local cluster on this machine, or the scheduler "
                             "at ADDRESS")
    parser.add_argument("--workers", metavar="N", type=int,
                        help="worker processes of the local Dask cluster (default: one per core)")
    parser.add_argument("--out", metavar="DIR",
                        help="write one file per table into DIR (see below)")
    parser.add_argument("--format", choices=("table", "json", "csv", "parquet"),
                        default="table",
                        help="aligned tables for people (default), JSON or one CSV table for "
                             "programs; with --out, the files' format (default Parquet)")
    parser.add_argument("--table", choices=TABLES, default="var",
                        help="with --format csv, the table to write (default: var)")
    parser.add_argument("--worst", metavar="N", type=int, default=5,
                        help="how many of the worst scenarios to list (default 5)")
    parser.set_defaults(run=run, subparser=parser)


def attach_negative_values(argv: list[str]) -> list[str]:
    """``--parallel -50,25`` as ``--parallel=-50,25``: argparse takes a value that starts with
    a minus sign and is not a plain number for an option."""
    joined: list[str] = []
    for arg in argv:
        if joined and joined[-1] == "--parallel" and arg[:1] == "-" and arg[1:2] in "0123456789.":
            joined[-1] = f"--parallel={arg}"
        else:
            joined.append(arg)
    return joined


def shifts(text: str) -> list[float]:
    try:
        values = [float(piece) for piece in text.split(",") if piece.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected basis points separated by commas, got "
                                         f"{quoted(text)}") from None
    if not values or not all(math.isfinite(v) for v in values):
        raise argparse.ArgumentTypeError(f"expected finite basis points, got {quoted(text)}")
    return values


def level(text: str) -> float:
    try:
        level = float(text)
    except ValueError:
        level = math.nan
    if not 0.0 < level < 1.0:
        raise argparse.ArgumentTypeError(f"expected a level between 0 and 1, got {quoted(text)}")
    return level


def command(args: argparse.Namespace, table: Any) -> int:
    """Runs ``tessarin scenarios``; `table` formats a titled text table."""
    from . import load_fixings, load_market
    from . import scenarios as sc
    from .book import trade_rows
    from .files import json_trade_rows
    from .revaluation import revalue

    curves = load_market(args.market, strict=args.strict)
    tabular = Path(args.trades).suffix.lower() in (".csv", ".parquet")
    # A bad row of a table fails its trade only, as with `tessarin price`.
    rows = (trade_rows(args.trades, strict=args.strict) if tabular
            else json_trade_rows(args.trades, strict=args.strict))
    fixings = load_fixings(args.fixings, strict=args.strict) if args.fixings else None
    # The scenario file is read before any curve is built.
    scenario_set = (sc.historical(args.historical) if args.historical is not None
                    else sc.parallel(args.parallel))
    if not tabular:
        known = {curve["id"] for curve in curves}
        named = rows.columns["curve"]
        unknown = [curve for curve in dict.fromkeys(named) if curve not in known]
        if unknown:
            i = min(named.index(curve) for curve in unknown)
            raise InputError(f"{rows.location(i)}.curve", f"unknown curve {quoted(named[i])}",
                             str(args.trades))
    if args.workers is not None and args.workers < 1:
        raise InputError("--workers", f"expected at least 1, got {args.workers}")
    if args.format == "parquet" and args.out is None:
        args.subparser.error("--format parquet writes files: give the folder with --out DIR")
    if args.table != "var" and (args.format != "csv" or args.out is not None):
        args.subparser.error("--table picks the table of --format csv on standard output")
    executor = args.dask
    file_format = None
    if args.out is not None:
        file_format = args.format if args.format in cli_output.FILE_FORMATS else "parquet"
        if file_format == "parquet":
            need_pyarrow("writing", "--out")
    streamed = str(Path(args.out) / "pnl.parquet") if file_format == "parquet" else None
    try:
        result = revalue(rows, curves, scenario_set, fixings, executor=executor, out=streamed,
                         workers=args.workers, stream=io.StringIO() if args.quiet else None,
                         strict=args.strict)
    except InputError as error:
        if error.path != "executor":
            raise
        raise InputError("--dask", error.message) from None
    tables = result_tables(result, args.var or [0.99], args.worst,
                           with_pnl=streamed is None
                           and (args.out is not None or args.format != "json"))
    if args.out is not None:
        if streamed is not None:
            print(f"{streamed} ({len(result.scenarios) * len(result.trades)} rows)")
        written = cli_output.write_files(tables, args.out, file_format or "parquet")
        for path in written:
            print(f"{path} ({len(tables[path.stem])} rows)")
    elif args.format == "csv":
        cli_output.write_csv_table(tables[args.table], sys.stdout)
        cli_output.note(f"wrote the {args.table} table; the others "
                        f"({', '.join(t for t in TABLES if t != args.table)}) come with "
                        "--table NAME, or all at once with --out DIR", args.quiet)
    elif args.format == "json":
        json.dump({name: cli_output.json_records(frame) for name, frame in tables.items()},
                  sys.stdout, indent=2)
        sys.stdout.write("\n")
    if args.format != "table" or args.out is not None:
        for line in _failure_lines(result):
            print(line, file=sys.stderr)
        return 1 if result.failures else 0

    levels = args.var or [0.99]
    currencies = list(result.by_currency.columns)
    sections, rows = [], []
    for currency in currencies:
        for level in levels:
            try:
                rows.append([currency, f"{level:g}", result.var(level, currency),
                             result.es(level, currency)])
            except ValueError as error:
                rows.append([currency, f"{level:g}", "n/a", str(error).split(";")[0]])
    sections.append(table(f"Historical VaR and ES over {len(result.scenarios)} scenarios "
                          "(losses positive)", ["Currency", "Level", "VaR", "ES"], rows,
                          numeric=(2, 3)))
    worst = result.by_currency.copy()
    for currency in currencies:
        ranked = worst[currency].dropna().sort_values(kind="stable").head(max(args.worst, 0))
        sections.append(table(f"Worst scenarios for {currency} (PnL)", ["Scenario", "PnL"],
                              [[name, value] for name, value in ranked.items()]))
    if result.failures:
        sections.append("Failures\n" + "\n".join(_failure_lines(result)))
    print("\n\n".join(sections))
    return 1 if result.failures else 0


def _failure_lines(result: Any) -> list[str]:
    return [f"failed {'trade ' + repr(f.trade) if f.trade else 'curve ' + repr(f.curve)} in "
            f"{'the base market' if f.scenario is None else 'scenario ' + repr(f.scenario)}: "
            f"{f.error}" for f in result.failures]


def result_tables(result: Any, levels: list[float], worst: int, with_pnl: bool = True
                  ) -> dict[str, Any]:
    """The tables of a revaluation for programs, by name (`TABLES`): VaR and ES per currency
    and level (NaN where a scenario failed), the worst scenarios per currency, the PnL of
    each scenario and trade, of each scenario and currency, and the failures."""
    import pandas as pd

    risk: dict[str, list[Any]] = {"Currency": [], "Level": [], "VaR": [], "ES": []}
    listed: dict[str, list[Any]] = {"Currency": [], "Scenario": [], "PnL": []}
    for currency in result.by_currency.columns:
        for level in levels:
            try:
                var, es = result.var(level, currency), result.es(level, currency)
            except ValueError:
                var = es = math.nan
            for key, value in zip(risk, (currency, level, var, es), strict=True):
                risk[key].append(value)
        ranked = result.by_currency[currency].dropna().sort_values(kind="stable")
        for name, value in ranked.head(max(worst, 0)).items():
            for key, item in zip(listed, (currency, name, value), strict=True):
                listed[key].append(item)
    failures = pd.DataFrame(
        {"Scenario": [f.scenario for f in result.failures],
         "Curve": [f.curve for f in result.failures],
         "Trade": [f.trade for f in result.failures],
         "Error": [f.error for f in result.failures]}, dtype=object)
    tables = {"var": pd.DataFrame(risk), "worst": pd.DataFrame(listed)}
    if with_pnl:
        tables["pnl"] = _tidy(result.pnl, "Trade")
    tables["currency_pnl"] = _tidy(result.by_currency, "Currency")
    tables["failures"] = failures
    return tables


def _tidy(frame: Any, name: str) -> Any:
    """A scenario x name table as rows of (Scenario, name, PnL), scenario by scenario."""
    import numpy as np
    import pandas as pd

    rows, columns = frame.shape
    return pd.DataFrame({"Scenario": np.repeat(frame.index.to_numpy(dtype=object), columns),
                         name: np.tile(frame.columns.to_numpy(dtype=object), rows),
                         "PnL": frame.to_numpy(dtype=float).ravel()})
