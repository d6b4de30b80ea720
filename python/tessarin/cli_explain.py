"""``tessarin explain``: the P&L of a book between two markets, split into theta, delta,
gamma and what is left unexplained."""

from __future__ import annotations

import argparse
import csv
import io
import json
import sys
from typing import TYPE_CHECKING, Any

from ._inputs import InputError
from .cli_output import check_threads

if TYPE_CHECKING:
    import pandas

EPILOG = """\
columns (amounts in each trade's currency; totals per currency):
  Start NPV, End NPV  the NPV on MARKET_FROM and on MARKET_TO
  Cash                flows paid after the start date and on or before the end date
  Total               End NPV + Cash - Start NPV
  Theta               NPV rolled to the end date on the start quotes + Cash - Start NPV
  Delta               risk at the rolled curves times the quote changes (by curve, tenor)
  Gamma               1/2 dq' Gamma dq at the rolled curves
  Unexplained         Total - Theta - Delta - Gamma

Fixings that set between the dates and are not in --fixings are estimated from the start
curves' overnight forwards; the notes say which.

exit status:
  0  every trade explained
  1  some trades could not be priced (listed)
  2  bad command line or input file (one line names the file and the key)

examples:
  tessarin explain yesterday.json today.json trades.json --fixings fixings.json
  tessarin explain yesterday.json today.json trades.csv --format csv --top 0 > explain.csv
"""

COLUMNS = ["Start NPV", "End NPV", "Cash", "Total", "Theta", "Delta", "Gamma", "Unexplained"]


def add_parser(commands: Any, run: Any) -> None:
    """Registers the subcommand on the ``tessarin`` parser."""
    parser = commands.add_parser(
        "explain", help="explain the P&L between two markets: theta, delta, gamma, unexplained",
        description="Price TRADES on MARKET_FROM and on MARKET_TO and split the change into "
                    "time (theta), the quote moves seen through the risk (delta, gamma) and "
                    "the rest.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("market_from", metavar="MARKET_FROM", help="the start market (JSON)")
    parser.add_argument("market_to", metavar="MARKET_TO", help="the end market (JSON)")
    parser.add_argument("trades", metavar="TRADES", help="the book: JSON, CSV or Parquet")
    parser.add_argument("--fixings", metavar="FIXINGS.json", help="index fixings")
    parser.add_argument("--top", metavar="N", type=int, default=10,
                        help="how many trades to list, largest |Unexplained| first (default "
                             "10; 0 lists every trade)")
    parser.add_argument("--by-tenor", action="store_true",
                        help="split Delta and Gamma of the listed trades by instrument tenor")
    parser.add_argument("--threads", type=int, metavar="N",
                        help="worker threads (default: every core)")
    parser.add_argument("--format", choices=("table", "json", "csv"), default="table",
                        help="aligned tables for people (default), JSON or one CSV table for "
                             "programs")
    parser.add_argument("--table", choices=("trades", "totals"), default="trades",
                        help="with --format csv, the table to write: the listed trades "
                             "(default) or the totals per currency")
    parser.set_defaults(run=run, subparser=parser)


def command(args: argparse.Namespace, table: Any) -> int:
    """Runs ``tessarin explain``; `table` formats a titled text table."""
    import numpy as np

    from . import Book, YieldCurve, load_fixings, load_market
    from .explain import totals as explain_totals

    check_threads(args)
    if args.top < 0:
        raise InputError("--top", f"expected a count of at least 0, got {args.top}")
    start = load_market(args.market_from)
    end = load_market(args.market_to)
    fixings = load_fixings(args.fixings) if args.fixings else None
    curves = []
    for curve in start:
        try:
            curves.append(YieldCurve(curve))
        except RuntimeError as error:
            raise InputError(f"curve {curve['id']!r}", str(error), str(args.market_from)) \
                from None
    book = Book(args.trades, curves, fixings, threads=args.threads)
    frame = book.explain(start, end, by="tenor" if args.by_tenor else None)
    flat = _flat(frame)
    order = np.argsort(-flat["Unexplained"].abs().fillna(-1.0).to_numpy(), kind="stable")
    listed = flat.iloc[order] if args.top == 0 else flat.iloc[order[:args.top]]
    totals = explain_totals(frame)
    failed = flat[flat["Error"] != ""]
    notes: list[str] = frame.attrs["notes"]
    period = f"{frame.attrs['start'].isoformat()} to {frame.attrs['end'].isoformat()}"
    if args.format == "csv":
        _write_csv(sys.stdout, totals, listed, args.table)
    else:
        writer = {"table": _write_table, "json": _write_json}[args.format]
        writer(sys.stdout, period, totals, listed, failed, notes, table)
    if args.format != "table" and not args.quiet:
        for note in notes:
            print(f"tessarin: note: {note}", file=sys.stderr)
    return 1 if len(failed) else 0


def _flat(frame: pandas.DataFrame) -> pandas.DataFrame:
    """The explain with one level of columns: "Delta 5Y" for a split by tenor."""
    if frame.columns.nlevels == 1:
        return frame
    flat = frame.copy()
    flat.columns = [f"{a} {b}".strip() for a, b in frame.columns]
    flat.insert(flat.columns.get_loc("Unexplained"), "Delta",
                frame["Delta"].sum(axis=1, min_count=1))
    flat.insert(flat.columns.get_loc("Unexplained"), "Gamma",
                frame["Gamma"].sum(axis=1, min_count=1))
    return flat


def _trade_columns(listed: pandas.DataFrame) -> list[str]:
    extra = [c for c in listed.columns if c.startswith(("Delta ", "Gamma "))]
    return ["Curve", "Currency", *COLUMNS, *extra]


def _write_table(out: Any, period: str, totals: pandas.DataFrame, listed: pandas.DataFrame,
                 failed: pandas.DataFrame, notes: list[str], table: Any) -> None:
    sections = [table(f"P&L explain, {period}: totals per currency",
                      ["Currency", "Trades", *COLUMNS],
                      [[currency, int(row["Trades"]), *(float(row[c]) for c in COLUMNS)]
                       for currency, row in totals.iterrows()])]
    columns = _trade_columns(listed)
    sections.append(table(f"The {len(listed)} trade(s) with the largest |Unexplained|",
                          ["Trade", *columns],
                          [[trade, *(_value(row[c]) for c in columns)]
                           for trade, row in listed.iterrows()]))
    if notes:
        sections.append("Notes\n" + "\n".join(notes))
    if len(failed):
        sections.append("Failures\n" + "\n".join(f"failed trade {trade!r}: {error}"
                                                 for trade, error in failed["Error"].items()))
    out.write("\n\n".join(sections) + "\n")


def _value(value: Any) -> Any:
    if isinstance(value, float) or hasattr(value, "item"):
        value = value.item() if hasattr(value, "item") else value
    return "n/a" if isinstance(value, float) and value != value else value


def _write_csv(out: Any, totals: pandas.DataFrame, listed: pandas.DataFrame, which: str
               ) -> None:
    """One CSV table: the totals per currency, or the listed trades."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    if which == "totals":
        writer.writerow(["Currency", "Trades", *COLUMNS])
        for currency, row in totals.iterrows():
            writer.writerow([currency, int(row["Trades"]), *(_number(row[c]) for c in COLUMNS)])
        out.write(buffer.getvalue())
        return
    columns = _trade_columns(listed)
    writer.writerow(["Trade", *columns, "Error"])
    for trade, row in listed.iterrows():
        writer.writerow([trade, *(_number(row[c]) for c in columns), row["Error"]])
    out.write(buffer.getvalue())


def _number(value: Any) -> Any:
    value = value.item() if hasattr(value, "item") else value
    if isinstance(value, float):
        return "" if value != value else repr(value)
    return value


def _write_json(out: Any, period: str, totals: pandas.DataFrame, listed: pandas.DataFrame,
                failed: pandas.DataFrame, notes: list[str], table: Any) -> None:
    start, end = period.split(" to ")
    columns = _trade_columns(listed)

    def numbers(row: Any, names: list[str]) -> dict[str, Any]:
        return {name: _json(row[name]) for name in names}

    document = {
        "start": start, "end": end,
        "totals": [{"currency": currency, "trades": int(row["Trades"]),
                    **numbers(row, COLUMNS)} for currency, row in totals.iterrows()],
        "trades": [{"id": trade, **numbers(row, columns), "error": row["Error"]}
                   for trade, row in listed.iterrows()],
        "notes": notes,
        "failures": [{"trade": trade, "error": error}
                     for trade, error in failed["Error"].items()],
    }
    json.dump(document, out, indent=2)
    out.write("\n")


def _json(value: Any) -> Any:
    value = value.item() if hasattr(value, "item") else value
    return None if isinstance(value, float) and value != value else value
