"""Times the entry paths around the engine, each against its baseline in the same run.

- `_tessarin.IRS.required_fixings(date(9999, 12, 31))`: time, peak growth of resident memory
  and what is still held once the result is dropped (a fresh process);
- `tessarin.YieldCurve` on the example USD curve against `_tessarin.YieldCurve`, and package calls
  of `tessarin.IRS` against the native calls they wrap (medians of CPU time);
- a 100,000-trade JSON trades file, and its trades as a list of dicts, read and checked into
  the rows of a `tessarin.Book` (benchmarks/cli.py writes the file);
- `Book.risk("bump")` on 10,000 trades, and `Book.ladder` against `Book.risk`.

    python benchmarks/entry_paths.py [--trades 10000]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import time
import timeit
import warnings
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from book import EXAMPLES, book_table  # noqa: E402

FIXINGS_PROBE = """
import datetime as dt, gc, json, resource, time, warnings
warnings.simplefilter("ignore")
import tessarin
def rss():
    for line in open("/proc/self/status"):
        if line.startswith("VmRSS"):
            return int(line.split()[1]) / 1024
entry = json.load(open({trades!r}))["trades"][0]
swap = tessarin.IRS({{k: v for k, v in entry.items() if k != "curve"}}).native
before = rss()
start = time.perf_counter()
days = swap.required_fixings(dt.date(9999, 12, 31))
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
del days
gc.collect()
print(seconds, peak - before, rss() - before)
"""


def per_call(call, number: int = 2000) -> float:
    return min(timeit.repeat(call, number=number, repeat=7, timer=time.process_time)) / number


def median_seconds(call, repeat: int = 5) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--trades", type=int, default=10_000)
    parser.add_argument("--json", type=Path, default=Path("build/cli-bench/trades_100000.json"))
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    import _tessarin
    import tessarin
    from tessarin.book import trade_rows

    probe = FIXINGS_PROBE.format(trades=str(EXAMPLES / "trades.json"))
    seconds, peak, held = map(float, subprocess.run(
        [sys.executable, "-c", probe], capture_output=True, text=True, check=True).stdout.split())
    print(f"required_fixings(9999-12-31): {seconds:.2f} s, peak growth {peak:.0f} MB, "
          f"held after {held:.0f} MB")

    market = tessarin.load_market(EXAMPLES / "market.json")
    curve = tessarin.YieldCurve(market[0])
    usd = json.loads((EXAMPLES / "market.json").read_text())["curves"][0]
    entry = json.loads((EXAMPLES / "trades.json").read_text())["trades"][0]
    swap = tessarin.IRS(entry)
    # A trade of the generated files: its generator fills the legs.
    generated = json.loads(args.json.read_text())["trades"] if args.json.exists() else []
    terms = {"id": "5Y", "effective date": "2026-12-10", "termination date": "2031-12-10",
             "leg1": {"rate": 0.035, "notional": 1e7}, "leg2": {"margin": 0.0, "notional": 1e7}}
    generator = "USD SOFR SW"
    filled = tessarin.IRS(terms, generator=generator)
    curve.jacobian()
    print("| call | package (µs) | native (µs) | ratio |\n|---|---:|---:|---:|")
    for name, package, native in (
            ("YieldCurve(dict)", lambda: tessarin.YieldCurve(usd),
             lambda: _tessarin.YieldCurve(usd)),
            ("IRS(dict)", lambda: tessarin.IRS(entry), lambda: _tessarin.IRS(swap._input)),
            ("IRS(dict, generator=...)", lambda: tessarin.IRS(terms, generator=generator),
             lambda: _tessarin.IRS(filled._input)),
            ("price", lambda: swap.price(curve), lambda: swap.native.price(curve.native)),
            ("analytic risk", lambda: swap.risk(curve, method="analytic"),
             lambda: _tessarin.irs_analytic_risk(swap.native, curve.native, None)),
            ("par rate", lambda: swap.par_rate(curve),
             lambda: _tessarin.irs_par_rate(swap.native, curve.native, None)),
            ("annuity", lambda: swap.annuity(curve),
             lambda: _tessarin.irs_annuity(swap.native, curve.native, None)),
            ("DV01", lambda: swap.dv01(curve),
             lambda: _tessarin.irs_dv01(swap.native, curve.native, None))):
        mine, theirs = per_call(package) * 1e6, per_call(native) * 1e6
        print(f"| {name} | {mine:.1f} | {theirs:.1f} | {mine / theirs:.2f}x |")

    if args.json.exists():
        seconds = median_seconds(lambda: trade_rows(args.json), 3)
        print(f"100,000-trade JSON file read and checked into book rows: {seconds:.2f} s")
        seconds = median_seconds(lambda: trade_rows(generated), 3)
        print(f"the same trades as a list of dicts checked into book rows: {seconds:.2f} s")

    curves = {c["id"]: tessarin.YieldCurve(c) for c in market}
    book = tessarin.Book(book_table(args.trades), curves, EXAMPLES / "fixings.json", threads=2)
    for method, repeat in (("analytic", 21), ("bump", 5)):
        risk = median_seconds(lambda m=method: book.risk(m), repeat)
        ladder = median_seconds(lambda m=method: book.ladder(m), repeat)
        print(f"{args.trades:,} trades, {method}: risk {risk:.3f} s, ladder {ladder:.3f} s "
              f"({ladder / risk:.2f}x)")


if __name__ == "__main__":
    main()
