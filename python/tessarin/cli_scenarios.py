"""``tessarin scenarios``: revalue a book under market scenarios, VaR and ES per currency."""

from __future__ import annotations

import argparse
import math
from pathlib import Path
from typing import Any

from ._inputs import InputError
from ._types import quoted

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

examples:
  tessarin scenarios examples/market.json examples/trades.json \\
      --fixings examples/fixings.json --parallel -50,-25,25,50
  tessarin scenarios MARKET.json TRADES.json --historical changes.csv --var 0.99 --dask
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
    which.add_argument("--parallel", metavar="BP,BP,...", type=_shifts,
                       help="parallel shifts in basis points, comma-separated")
    parser.add_argument("--fixings", metavar="FIXINGS.json", help="past index fixings")
    parser.add_argument("--var", metavar="LEVEL", type=_level, action="append",
                        help="confidence level of VaR and ES (default 0.99; may repeat)")
    parser.add_argument("--dask", metavar="ADDRESS", nargs="?", const="dask",
                        help="run on Dask: a local cluster on this machine, or the scheduler "
                             "at ADDRESS")
    parser.add_argument("--workers", metavar="N", type=int,
                        help="worker processes of the local Dask cluster (default: one per core)")
    parser.add_argument("--out", metavar="PNL.parquet",
                        help="write the PnL of every scenario and trade to this Parquet dataset "
                             "(a folder), block by block")
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


def _shifts(text: str) -> list[float]:
    try:
        values = [float(piece) for piece in text.split(",") if piece.strip()]
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected basis points separated by commas, got "
                                         f"{quoted(text)}") from None
    if not values or not all(math.isfinite(v) for v in values):
        raise argparse.ArgumentTypeError(f"expected finite basis points, got {quoted(text)}")
    return values


def _level(text: str) -> float:
    try:
        level = float(text)
    except ValueError:
        level = math.nan
    if not 0.0 < level < 1.0:
        raise argparse.ArgumentTypeError(f"expected a level between 0 and 1, got {quoted(text)}")
    return level


def command(args: argparse.Namespace, table: Any) -> int:
    """Runs ``tessarin scenarios``; `table` formats a titled text table."""
    from . import load_fixings, load_market, load_trades
    from . import scenarios as sc
    from .book import trade_rows
    from .revaluation import revalue
    from .tables import rows_from_swaps

    curves = load_market(args.market)
    trades = None
    if Path(args.trades).suffix.lower() in (".csv", ".parquet"):
        # A bad row of a table fails its trade only, as with `tessarin price`.
        rows = trade_rows(args.trades)
    else:
        trades = load_trades(args.trades)
    fixings = load_fixings(args.fixings) if args.fixings else None
    # The scenario file is read before any curve is built.
    scenario_set = (sc.historical(args.historical) if args.historical is not None
                    else sc.parallel(args.parallel))
    if trades is not None:
        known = {curve["id"] for curve in curves}
        for trade in trades:
            if trade.curve not in known:
                raise InputError(f"{trade.where}.curve", f"unknown curve {quoted(trade.curve)}",
                                 str(args.trades))
        # The file's trades are checked already: straight to the native book's columns.
        rows = rows_from_swaps([(t.curve, t.swap) for t in trades])
        rows.source, rows.place = str(args.trades), ("trades[{}]", 0)
    if args.workers is not None and args.workers < 1:
        raise InputError("--workers", f"expected at least 1, got {args.workers}")
    executor = args.dask
    if args.out is not None:
        try:
            import pyarrow  # noqa: F401
        except ImportError:
            raise InputError("--out", "writing Parquet needs pyarrow: pip install "
                                      "'tessarin[parquet]'") from None
    result = revalue(rows, curves, scenario_set, fixings, executor=executor, out=args.out,
                     workers=args.workers)

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
        sections.append("Failures\n" + "\n".join(
            f"failed {'trade ' + repr(f.trade) if f.trade else 'curve ' + repr(f.curve)} in "
            f"{'the base market' if f.scenario is None else 'scenario ' + repr(f.scenario)}: "
            f"{f.error}" for f in result.failures))
    if args.out is not None:
        sections.append(f"PnL of {len(result.scenarios)} scenarios x {len(result.trades)} trades "
                        f"written to {args.out}")
    print("\n\n".join(sections))
    return 1 if result.failures else 0
