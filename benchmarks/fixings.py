"""Two measurements of past fixings, each in one process.

Per call (default): a seasoned swap's price with fixings given as a dict (checked on every
call) and as a `tessarin.Fixings` (checked once), against a price without fixings. Medians
of the process's CPU time; ratios against the price without fixings of the same run.

    PYTHONPATH=build/py/python:python python benchmarks/fixings.py

Command line (--cli N): `tessarin price MARKET TRADES --fixings FIXINGS --risk` on a book of
N trades written from the example market (USD and GBP trades seasoned on the example
fixings, the other currencies spot), under cProfile: the share of the run's time spent
checking, converting and handing over the fixings, against the whole run.

    PYTHONPATH=build/py/python:python python benchmarks/fixings.py --cli 10000
"""

from __future__ import annotations

import argparse
import contextlib
import cProfile
import datetime as dt
import io
import json
import pstats
import random
import re
import statistics
import tempfile
import time
import warnings
from pathlib import Path

import tessarin

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def median_seconds(call, number=200, repeat=15):
    samples = []
    for _ in range(repeat):
        start = time.process_time()
        for _ in range(number):
            call()
        samples.append((time.process_time() - start) / number)
    return statistics.median(samples)


def per_call():
    warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
    curves = {c["id"]: c for c in tessarin.load_market(EXAMPLES / "market.json")}
    trades = {t.swap["id"]: t for t in tessarin.load_trades(EXAMPLES / "trades.json")}
    raw = json.loads((EXAMPLES / "fixings.json").read_text())
    curve = tessarin.YieldCurve(curves["USD SOFR"])
    seasoned = tessarin.IRS(trades["USD seasoned 3Y payer"].swap)
    spot = tessarin.IRS(trades["USD 5Y payer"].swap)
    fixings = tessarin.Fixings(raw)
    rows = [
        ("price, no fixings (baseline)", lambda: spot.price(curve)),
        ("price, fixings as a dict", lambda: seasoned.price(curve, raw)),
        ("price, tessarin.Fixings", lambda: seasoned.price(curve, fixings)),
        ("tessarin.Fixings(dict), once", lambda: tessarin.Fixings(raw)),
    ]
    count = sum(len(series["dates"]) for series in raw.values())
    print(f"{count} fixings; medians of CPU time")
    baseline = None
    for label, call in rows:
        seconds = median_seconds(call)
        baseline = baseline or seconds
        print(f"{label:32s} {seconds * 1e6:10.1f} us  {seconds / baseline:8.1f}x")


GENERATORS = {"USD SOFR": "USD SOFR SW", "EUR ESTR": "EUR ESTR SW", "GBP SONIA": "GBP SONIA SW",
              "CHF SARON": "CHF SARON SW", "JPY TONA": "JPY TONA SW", "SGD SORA": "SGD SORA SW"}
# The curves whose index has fixings in the example file.
SEASONED = {"USD SOFR": "SOFR", "GBP SONIA": "SONIA"}


def trades_document(n, value_date, fixings, seed=5):
    """n trades on the six example curves; a USD or GBP trade is seasoned one time in two,
    starting on a fixing date of its index (its running period's fixings are all there)."""
    rng = random.Random(seed)
    trades = []
    for i in range(n):
        curve = rng.choice(list(GENERATORS))
        if curve in SEASONED and rng.random() < 0.5:
            start = dt.date.fromisoformat(rng.choice(fixings[SEASONED[curve]]["dates"][:-5]))
        else:
            start = value_date + dt.timedelta(days=rng.choice([2, 2, 30, 95, 370]))
        years = rng.randint(1, 30)
        payer = rng.random() < 0.5
        notional = float(rng.choice([5, 10, 25, 50])) * 1e6
        trades.append({
            "id": f"T{i:05d}", "curve": curve, "generator": GENERATORS[curve],
            "effective date": start.isoformat(),
            "termination date": start.replace(year=start.year + years).isoformat(),
            "leg1": {"is paid": payer, "rate": round(rng.uniform(0.005, 0.045), 5),
                     "notional": notional},
            "leg2": {"is paid": not payer, "margin": 0.0, "notional": notional},
        })
    return {"trades": trades}


# Functions that check, convert or hand over fixings, by (file name, function name).
FIXING_FUNCTIONS = {("files.py", "load_fixings"), ("_inputs.py", "check_fixings"),
                    ("_inputs.py", "fixing_coverage"), ("book.py", "_fixings_of"),
                    ("cli.py", "_fixings_hint"), ("_objects.py", "_fixings_args"),
                    ("_objects.py", "_native_fixings")}


def fixing_seconds(stats):
    """Inclusive time of the fixing functions, each counted once: a function called
    from another one already counted is inside that one's time."""
    def counted(func):
        filename, _, name = func
        return (Path(filename).name, name) in FIXING_FUNCTIONS or \
            Path(filename).name == "_fixings.py"

    total, calls = 0.0, {}
    for func, (_, _, _, cumulative, callers) in stats.stats.items():
        if counted(func):
            calls[f"{Path(func[0]).name}:{func[2]}"] = stats.stats[func][1]
            if not any(counted(caller) for caller in callers):
                total += cumulative
    return total, calls


def native_conversion_seconds(market, fixings, number=200):
    """The extension's own conversion of the fixings, made once per book: a book of the
    example's seasoned USD swap built with the fixings against the same book without."""
    import _tessarin
    from tessarin.book import trade_rows

    curves = {c["id"]: tessarin.YieldCurve(c).native for c in market}
    seasoned = [t for t in tessarin.load_trades(EXAMPLES / "trades.json")
                if t.swap["id"] == "USD seasoned 3Y payer"]
    rows = trade_rows(seasoned)
    checked = tessarin.Fixings(fixings)

    def build(given):
        return lambda: _tessarin.Book(rows.conventions, rows.columns, curves, given, 1)

    return median_seconds(build(checked), number) - median_seconds(build(None), number)


def command_line(n, top=0):
    from tessarin import cli

    warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
    market = tessarin.load_market(EXAMPLES / "market.json")
    value_date = market[0]["value date"]
    raw = json.loads((EXAMPLES / "fixings.json").read_text())
    with tempfile.TemporaryDirectory() as folder:
        trades = Path(folder) / "trades.json"
        trades_text = json.dumps(trades_document(n, value_date, raw))
        trades.write_text(trades_text)
        argv = ["price", str(EXAMPLES / "market.json"), str(trades), "--fixings",
                str(EXAMPLES / "fixings.json"), "--risk"]
        profile = cProfile.Profile()
        out, err = io.StringIO(), io.StringIO()
        started = time.perf_counter()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            status = profile.runcall(cli.main, argv)
        wall = time.perf_counter() - started
    if status != 0:
        raise SystemExit(f"tessarin price failed ({status}):\n{err.getvalue()[-2000:]}")
    priced = len(re.findall(r"^T[0-9]{5} ", out.getvalue(), re.MULTILINE))
    seasoned = sum(t["effective date"] < value_date.isoformat()
                   for t in json.loads(trades_text)["trades"])
    stats = pstats.Stats(profile)
    whole = stats.total_tt
    fixing, calls = fixing_seconds(stats)
    native = native_conversion_seconds(market, raw)
    count = sum(len(series["dates"]) for series in raw.values())
    print(f"tessarin price ... --fixings ... --risk: {n:,} trades ({seasoned:,} seasoned, "
          f"{priced:,} priced), "
          f"{count} fixings, under cProfile: {whole:.2f} s ({wall:.2f} s wall)")
    print(f"fixings, Python side: {fixing * 1e3:8.2f} ms  {fixing / whole:7.3%} of the run")
    print(f"fixings, native conversion once: {native * 1e3:8.3f} ms  "
          f"{native / whole:7.3%} of the run")
    if top:
        stats.sort_stats("cumulative").print_stats(top)
    print("calls: " + ", ".join(f"{name} x{number}" for name, number in sorted(calls.items())))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", type=int, metavar="N",
                        help="profile the command line on a book of N trades instead")
    parser.add_argument("--top", type=int, default=0, metavar="K",
                        help="with --cli, also print the K functions of most cumulative time")
    args = parser.parse_args()
    if args.cli:
        command_line(args.cli, args.top)
    else:
        per_call()


if __name__ == "__main__":
    main()
