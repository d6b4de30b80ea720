"""The ``tessarin`` command line: price trade files, list the conventions."""

from __future__ import annotations

import argparse
import csv
import datetime as dt
import io
import json
import sys
import warnings
from collections.abc import Sequence
from dataclasses import asdict, dataclass, field
from importlib import resources
from pathlib import Path
from typing import IO, Any

from . import __version__
from ._fixings import Fixings
from ._inputs import (
    CalendarCoverageWarning,
    InputError,
    InputWarning,
    check_pairing,
    jsonable,
    relocate,
)
from ._objects import IRS, YieldCurve
from ._types import CashFlows, PriceResult, RiskResult
from .conventions import CALENDARS, GENERATORS, INDICES
from .files import Trade, load_fixings, load_market, load_trades

EXIT_OK, EXIT_FAILURES, EXIT_BAD_INPUT = 0, 1, 2
PROGRESS_MIN_TRADES = 10
RISK_UNIT = "PV change per 1.00 move of each quote (quotes in percent; /100 for 1bp)"

DESCRIPTION = """\
Bootstrap OIS curves and price interest rate swaps on them.

  tessarin price MARKET.json TRADES.json [--fixings FIXINGS.json] [--risk] [--cashflows]
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
  FIXINGS.json  {"SOFR": {"dates": [...], "values": [...]}, ...}, decimals;
                needed by trades whose floating period runs over the value date

exit status:
  0  every curve built and every trade priced
  1  some curves or trades failed: the others are printed, the failures listed
  2  bad command line or input file (one line names the file and key path)

examples:
  tessarin price examples/market.json examples/trades.json --fixings examples/fixings.json
  tessarin price --demo --risk --format json > results.json
  tessarin price --demo --plot curves.png
"""


@dataclass
class Priced:
    """One trade's results."""

    trade: Trade
    swap: IRS
    price: PriceResult
    risk: RiskResult | None = None
    cashflows: CashFlows | None = None


@dataclass
class Failure:
    """A curve or trade that could not be built or priced."""

    kind: str
    id: str
    where: str
    error: str


@dataclass
class Run:
    """What `tessarin price` produced."""

    curves: list[YieldCurve] = field(default_factory=list)
    failed_curves: set[str] = field(default_factory=set)
    results: list[Priced] = field(default_factory=list)
    failures: list[Failure] = field(default_factory=list)


class Progress:
    """A one-line progress bar on a terminal; silent elsewhere."""

    def __init__(self, total: int, stream: IO[str], label: str = "pricing") -> None:
        self.total, self.stream, self.label, self.done = total, stream, label, 0
        self.active = total >= PROGRESS_MIN_TRADES and stream.isatty()

    def step(self) -> None:
        self.done += 1
        if self.active:
            filled = 30 * self.done // self.total
            self.stream.write(f"\r{self.label} [{'#' * filled}{'.' * (30 - filled)}] "
                              f"{self.done}/{self.total}")
            self.stream.flush()

    def close(self) -> None:
        if self.active:
            self.stream.write("\r" + " " * (len(self.label) + 45) + "\r")
            self.stream.flush()


def _demo_file(name: str) -> Path:
    packaged = resources.files("tessarin") / "examples" / name
    if packaged.is_file():
        return Path(str(packaged))
    # Running from a source checkout: the repository's examples folder.
    return Path(__file__).resolve().parents[2] / "examples" / name


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of ``tessarin`` and its subcommands."""
    parser = argparse.ArgumentParser(
        prog="tessarin", description=DESCRIPTION,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="Run 'tessarin COMMAND --help' for the options of a command.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    price = commands.add_parser(
        "price", help="build the market's curves and price the trades on them",
        description="Build every curve of MARKET.json, then price every trade of TRADES.json "
                    "on the curve it names: leg PVs and NPV, and optionally key-rate risk and "
                    "cash flows.",
        epilog=PRICE_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    price.add_argument("market", nargs="?", metavar="MARKET.json",
                       help="curves to build (not needed with --demo)")
    price.add_argument("trades", nargs="?", metavar="TRADES.json",
                       help="swaps to price (not needed with --demo)")
    price.add_argument("--fixings", metavar="FIXINGS.json", help="past index fixings")
    price.add_argument("--risk", action="store_true",
                       help="add each trade's key-rate risk: " + RISK_UNIT)
    price.add_argument("--cashflows", action="store_true",
                       help="add each trade's priced cash flows, leg by leg")
    price.add_argument("--format", choices=("table", "json", "csv"), default="table",
                       help="aligned tables for people (default), JSON or CSV for programs")
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
    price.set_defaults(run=_price_command, subparser=price)

    conventions = commands.add_parser(
        "conventions", help="list the built-in generators, indices and calendars",
        description="List the swap generators, overnight indices and holiday calendars that "
                    "curve and trade files can name.")
    conventions.add_argument("--format", choices=("table", "json"), default="table",
                             help="aligned tables (default) or JSON")
    conventions.set_defaults(run=_conventions_command, subparser=conventions)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    with warnings.catch_warnings():
        for category in (InputWarning, CalendarCoverageWarning):
            warnings.simplefilter("always", category)
        warnings.showwarning = _warning_printer(warnings.showwarning)
        try:
            return int(args.run(parser, args))
        except InputError as error:
            print(f"tessarin: error: {error}", file=sys.stderr)
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
            "indices": [asdict(i) for i in INDICES.values()],
            "calendars": [{**asdict(c), "weekend": list(c.weekend)} for c in CALENDARS.values()],
        }
        print(json.dumps(document, indent=2))
        return EXIT_OK
    out = [_table("Swap generators (leg1 fixed, leg2 floating; curve instruments name these)",
                  ["Generator", "Currency", "Index", "Spot lag", "Calendar", "Frequency",
                   "Day count", "Accrual adj.", "Pay adj.", "Pay lag"],
                  [[g.name, g.currency, g.index, f"{g.start_delay}BD", g.calendar, g.frequency,
                    g.day_count, g.accrual_adjustment, g.pay_adjustment, f"{g.pay_lag}BD"]
                   for g in GENERATORS.values()], numeric=()),
           _table("Overnight indices", ["Index", "Currency", "Fixing calendar", "Day count"],
                  [[i.name, i.currency, i.calendar, i.day_count] for i in INDICES.values()],
                  numeric=()),
           _table("Holiday calendars (join names with commas for a union, e.g. \"US,EN\")",
                  ["Calendar", "Holidays listed for", "Weekend", "Description"],
                  [[c.name, c.years, ", ".join(c.weekend), c.description]
                   for c in CALENDARS.values()], numeric=())]
    print("\n\n".join(out))
    return EXIT_OK


# tessarin price

def _price_command(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    if args.demo:
        args.market = args.market or _demo_file("market.json")
        args.trades = args.trades or _demo_file("trades.json")
        args.fixings = args.fixings or _demo_file("fixings.json")
    elif args.market is None or args.trades is None:
        args.subparser.error("MARKET.json and TRADES.json are required (or use --demo)")
    if args.plot is not None:
        try:
            from . import plot  # noqa: F401
        except ImportError as error:
            raise InputError("--plot", str(error)) from None

    curves = load_market(args.market, strict=args.strict)
    trades = load_trades(args.trades, strict=args.strict)
    fixings = load_fixings(args.fixings, strict=args.strict) if args.fixings else None
    known = {curve["id"]: curve for curve in curves}
    for trade in trades:
        subject = f"trade {trade.swap['id']!r}"
        if trade.curve not in known:
            raise InputError(f"{trade.where}.curve",
                             f"unknown curve {trade.curve!r} (the market has: {', '.join(known)})",
                             str(args.trades), subject)
        try:
            check_pairing(trade.swap, known[trade.curve], trade.where, args.strict)
        except InputError as error:
            raise relocate(error, str(args.trades), subject) from None

    run = price_all(curves, trades, fixings, risk=args.risk, cashflows=args.cashflows,
                    market_source=str(args.market), trades_source=str(args.trades),
                    strict=args.strict)
    if args.plot is not None and run.curves:
        from .plot import plot_curve

        try:
            plot_curve(run.curves, args.plot)
        except OSError as error:
            raise InputError("--plot", f"cannot write {args.plot} ({error.strerror or error})"
                             ) from None

    writer = {"table": write_tables, "json": write_json, "csv": write_csv}[args.format]
    writer(run, sys.stdout, risk=args.risk, cashflows=args.cashflows)
    if args.format == "csv":
        for failure in run.failures:
            print(_failure_line(failure), file=sys.stderr)
    return EXIT_FAILURES if run.failures else EXIT_OK


def price_all(curves: list[dict[str, Any]], trades: list[Trade],
              fixings: Fixings | dict[str, Any] | None, *, risk: bool = False,
              cashflows: bool = False, market_source: str = "", trades_source: str = "",
              stream: IO[str] | None = None, strict: bool = True) -> Run:
    """Build the curves, then price each trade on its curve, collecting failures.

    The inputs come checked from the files, whose checks already reported their warnings
    with the file and key path: the objects' own checks here stay quiet."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", InputWarning)
        return _price_all(curves, trades, fixings, risk=risk, cashflows=cashflows,
                          market_source=market_source, trades_source=trades_source,
                          stream=stream, strict=strict)


def _price_all(curves: list[dict[str, Any]], trades: list[Trade],
               fixings: Fixings | dict[str, Any] | None, *, risk: bool, cashflows: bool,
               market_source: str, trades_source: str, stream: IO[str] | None,
               strict: bool) -> Run:
    run = Run()
    # Checked once for the whole run, not once per trade and call.
    fixings = Fixings.of(fixings)
    built: dict[str, YieldCurve] = {}
    for i, curve in enumerate(curves):
        try:
            built[curve["id"]] = YieldCurve(curve, strict=strict)
            run.curves.append(built[curve["id"]])
        except RuntimeError as error:
            run.failed_curves.add(curve["id"])
            run.failures.append(Failure("curve", curve["id"], f"{market_source}: curves[{i}]",
                                        str(error)))
    progress = Progress(len(trades), stream or sys.stderr)
    try:
        for trade in trades:
            where = f"{trades_source}: {trade.where}"
            swap_id = str(trade.swap.get("id", ""))
            if trade.curve not in built:
                run.failures.append(Failure("trade", swap_id, where,
                                            f"curve {trade.curve!r} did not build"))
            else:
                on = built[trade.curve]
                try:
                    run.results.append(_price_one(trade, on, fixings, risk, cashflows, strict))
                except RuntimeError as error:
                    run.failures.append(Failure("trade", swap_id, where,
                                                str(error) + _fixings_hint(trade, on, strict)))
            progress.step()
    finally:
        progress.close()
    return run


def _fixings_hint(trade: Trade, curve: YieldCurve, strict: bool) -> str:
    """For a missing fixing, the dates the trade needs on the curve's value date."""
    try:
        needed = IRS(trade.swap, strict=strict).required_fixings(curve.value_date) or {}
    except RuntimeError:
        return ""
    hints = [f"{index} on {len(dates)} dates from {dates[0].isoformat()} to "
             f"{dates[-1].isoformat()}" for index, dates in needed.items() if dates]
    return f" (the trade needs fixings of {'; '.join(hints)}: see --fixings)" if hints else ""


def _price_one(trade: Trade, curve: YieldCurve, fixings: Fixings | None, risk: bool,
               cashflows: bool, strict: bool) -> Priced:
    swap = IRS(trade.swap, strict=strict)
    result = Priced(trade, swap, swap.price(curve, fixings))
    if risk:
        result.risk = swap.risk(curve, fixings)
    if cashflows:
        result.cashflows = swap.cashflows(curve, fixings)
    return result


# Output

def _cell(value: Any, column: str = "") -> str:
    if isinstance(value, dt.date):
        return value.isoformat()
    if isinstance(value, float):
        value = 0.0 if abs(value) < 5e-9 else value
        if column in ("Discount Factor",):
            return f"{value:.8f}"
        if column in ("Day Count Fraction", "Rate", "Estimated Rate", "Spread", "Zero Rate %"):
            return f"{value:.6f}"
        return f"{value:,.2f}".replace("-0.00", "0.00")
    return str(value)


def _table(title: str, headers: list[str], rows: list[list[Any]],
           numeric: Sequence[int] | None = None) -> str:
    """A titled table: text left-aligned, numbers right-aligned."""
    cells = [[_cell(value, headers[j]) for j, value in enumerate(row)] for row in rows]
    if numeric is None:
        numeric = [j for j in range(len(headers))
                   if rows and all(isinstance(row[j], (int, float)) for row in rows)]
    widths = [max([len(h)] + [len(row[j]) for row in cells]) for j, h in enumerate(headers)]

    def line(values: list[str]) -> str:
        return "  ".join(v.rjust(w) if j in numeric else v.ljust(w)
                         for j, (v, w) in enumerate(zip(values, widths, strict=True))).rstrip()

    return "\n".join([title, line(headers), "  ".join("-" * w for w in widths)]
                     + [line(row) for row in cells])


def _failure_line(failure: Failure) -> str:
    name = f" {failure.id!r}" if failure.id else ""
    return f"failed {failure.kind}{name} ({failure.where}): {failure.error}"


def _columns(tables: Sequence[dict[str, list[Any]]]) -> list[str]:
    names: list[str] = []
    for table in tables:
        names += [name for name in table if name not in names]
    return names


def write_tables(run: Run, out: IO[str], *, risk: bool = False, cashflows: bool = False) -> None:
    """The run as aligned text tables."""
    sections = []
    if run.curves:
        sections.append(_table(
            "Curves", ["Curve", "Currency", "Value date", "Interpolation", "Pillars",
                       "First pillar", "Last pillar"],
            [[c.id, c.currency, c.value_date, c.to_dict().get("interpolation", "LinearLogDf"),
              len(c.dates()), min(c.dates()), max(c.dates())] for c in run.curves],
            numeric=(4,)))
    if run.results:
        sections.append(_table(
            "Prices (received legs positive, paid legs negative)",
            ["Trade", "Curve", "Currency", "Leg1 PV", "Leg2 PV", "NPV"],
            [[r.swap.id, r.trade.curve, r.swap.currency, r.price["Leg1 PV"],
              r.price["Leg2 PV"], r.price["NPV"]] for r in run.results]))
    for r in run.results:
        if risk and r.risk is not None:
            sections.append(_table(
                f"Key-rate risk of {r.swap.id} on {r.trade.curve}: {RISK_UNIT}",
                ["Tenor", "Leg1", "Leg2", "Net"],
                [list(row) for row in zip(r.risk["Tenor"], r.risk["Leg1"], r.risk["Leg2"],
                                          r.risk["Net"], strict=True)]))
        if cashflows and r.cashflows is not None:
            for leg, table in r.cashflows.items():
                names = list(table)
                sections.append(_table(f"Cash flows of {r.swap.id}, {leg}", names,
                                       [list(row) for row in zip(*table.values(), strict=True)]))
    if run.failures:
        sections.append("Failures\n" + "\n".join(_failure_line(f) for f in run.failures))
    out.write("\n\n".join(sections) + "\n")


def write_json(run: Run, out: IO[str], *, risk: bool = False, cashflows: bool = False) -> None:
    """The run as one JSON document: curves, trades and failures."""
    document = {
        "curves": [{"id": c.id, "currency": c.currency, "value date": c.value_date,
                    "dates": c.dates(), "rates": c.rates()} for c in run.curves],
        "trades": [],
        "failures": [vars(f) for f in run.failures],
    }
    for r in run.results:
        entry: dict[str, Any] = {"id": r.swap.id, "curve": r.trade.curve, "price": r.price}
        if risk:
            entry["risk"] = r.risk
        if cashflows:
            entry["cashflows"] = r.cashflows
        document["trades"].append(entry)
    json.dump(jsonable(document), out, indent=2)
    out.write("\n")


def write_csv(run: Run, out: IO[str], *, risk: bool = False, cashflows: bool = False) -> None:
    """The run as CSV: prices, then (blank line, header) risk and cash flows."""
    blocks: list[tuple[list[str], list[list[Any]]]] = [(
        ["trade", "curve", "Leg1 PV", "Leg2 PV", "NPV"],
        [[r.swap.id, r.trade.curve, r.price["Leg1 PV"], r.price["Leg2 PV"], r.price["NPV"]]
         for r in run.results])]
    if risk:
        blocks.append((["trade", "curve", "Tenor", "Leg1", "Leg2", "Net"], [
            [r.swap.id, r.trade.curve, *row]
            for r in run.results if r.risk is not None
            for row in zip(r.risk["Tenor"], r.risk["Leg1"], r.risk["Leg2"], r.risk["Net"],
                           strict=True)]))
    if cashflows:
        tables = [t for r in run.results if r.cashflows for t in r.cashflows.values()]
        names = _columns(tables)
        blocks.append((["trade", "curve", "leg", *names], [
            [r.swap.id, r.trade.curve, leg, *(table.get(n, [""] * len(rows))[i] for n in names)]
            for r in run.results if r.cashflows is not None
            for leg, table in r.cashflows.items()
            for rows in [next(iter(table.values()))]
            for i in range(len(rows))]))
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    for k, (header, rows) in enumerate(blocks):
        if k:
            buffer.write("\n")
        writer.writerow(header)
        writer.writerows([[_csv_cell(v) for v in row] for row in rows])
    out.write(buffer.getvalue())


def _csv_cell(value: Any) -> Any:
    return value.isoformat() if isinstance(value, dt.date) else value

