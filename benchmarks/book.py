"""Times a book of swaps through tessarin.Book against a per-trade loop over tessarin.IRS.

The book is reproducible (fixed seed): swaps in the six built-in currencies, 1Y to 30Y,
spot, forward-starting and seasoned (USD and GBP, priced with the example fixings), payers
and receivers, on the example market. Build, price, risk and ladder are timed with threads=1
and threads=2, taken turn about (wall clock, medians of --repeat pairs of calls, of
--bump-repeat for bump risk and of --build-repeat for the build), on one book built first in
a fresh process; the build is timed last. The per-trade loop runs on a sample and
is scaled to the book, as is the peer's loop (QuantLib, when installed: each swap built on
the USD curve of compare.py, then its NPV). Bump risk costs about half a millisecond per
trade, so it is timed on --risk-sample trades and scaled too; analytic risk and the ladder
(analytic) cover the whole book. Resident memory is read from /proc.

    python benchmarks/book.py --module-dir build/py/python [--trades 100000]
"""

from __future__ import annotations

import argparse
import collections
import datetime as dt
import gc
import os
import statistics
import subprocess
import sys
import time
import warnings
from pathlib import Path

# numpy's BLAS threads spin between calls and would take cores from the engine being timed.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
MARKETS = [("USD SOFR SW", "USD SOFR"), ("EUR ESTR SW", "EUR ESTR"), ("GBP SONIA SW", "GBP SONIA"),
           ("CHF SARON SW", "CHF SARON"), ("JPY TONA SW", "JPY TONA"), ("SGD SORA SW", "SGD SORA")]
# Seasoned trades start on dates the example fixings cover from.
SEASONED = {"USD SOFR SW": dt.date(2026, 6, 10), "GBP SONIA SW": dt.date(2026, 3, 16)}


def resident_mb() -> float:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024.0
    return float("nan")


def book_table(count: int, seed: int = 20261208):
    import numpy as np
    import pandas as pd

    random = np.random.default_rng(seed)
    market = random.integers(0, len(MARKETS), count)
    years = random.integers(1, 31, count)
    kind = random.integers(0, 3, count)  # spot, forward, seasoned
    forward_days = random.integers(30, 3 * 365, count)
    rows = {"id": [f"B{i:06d}" for i in range(count)], "curve": [], "generator": [],
            "effective date": [], "termination date": [],
            "fixed rate": np.round(random.uniform(0.0, 0.05, count), 5),
            "notional": random.integers(1, 100, count) * 1e6,
            "direction": np.where(random.integers(0, 2, count) == 1, "payer", "receiver"),
            "margin": np.where(random.integers(0, 4, count) == 0, 0.0005, 0.0)}
    spot = dt.date(2026, 12, 10)
    for i in range(count):
        generator, curve = MARKETS[market[i]]
        start = spot
        if kind[i] == 1:
            start = spot + dt.timedelta(days=int(forward_days[i]))
            if (start.month, start.day) == (2, 29):
                start -= dt.timedelta(days=1)
        elif kind[i] == 2 and generator in SEASONED:
            start = SEASONED[generator]
        rows["curve"].append(curve)
        rows["generator"].append(generator)
        rows["effective date"].append(start.isoformat())
        rows["termination date"].append(start.replace(year=start.year + int(years[i])).isoformat())
    return pd.DataFrame(rows)


CORES: dict[int, list[float]] = {1: [], 2: []}
# What the machine gives a second core, measured between the turns of the calls named here.
MACHINE: dict[str, float] = {}
# Seconds to drop what each named call returned.
RELEASES: collections.defaultdict[str, list[float]] = collections.defaultdict(list)

_HASHER = """
import hashlib, sys
block = bytes(range(256)) * (1 << 14)
for line in sys.stdin:
    digest = hashlib.sha512()
    for _ in range(int(line)):
        digest.update(block)
    print(flush=True)
"""


class Yardstick:
    """Two processes that hash 32 MiB on request: work that shares nothing, not even a
    process. Twice the time of one alone over the time of both at once is the speed-up this
    machine gives a second core at that moment; on a VM it moves from minute to minute."""

    def __init__(self) -> None:
        self.hashers = [subprocess.Popen([sys.executable, "-c", _HASHER], stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, text=True) for _ in range(2)]
        self.seconds(2)

    def seconds(self, processes: int) -> float:
        started = time.perf_counter()
        for hasher in self.hashers[:processes]:
            hasher.stdin.write("8\n")
            hasher.stdin.flush()
        for hasher in self.hashers[:processes]:
            hasher.stdout.readline()
        return time.perf_counter() - started

    def close(self) -> None:
        for hasher in self.hashers:
            hasher.stdin.close()
            hasher.wait()


def interleaved(call, repeat: int, yardstick: Yardstick | None = None,
                name: str = "") -> dict[int, float]:
    """Median wall time of call(threads) for threads=1 and threads=2, run turn about so that
    both see the same state of the machine (whose speed drifts between runs); records the
    cores each kept busy and, with a yardstick, the machine's speed-up between the turns."""
    times: dict[int, list[float]] = {1: [], 2: []}
    yard: dict[int, list[float]] = {1: [], 2: []}
    for _ in range(repeat):
        for threads in (1, 2):
            gc.collect()
            started, cpu = time.perf_counter(), time.process_time()
            result = call(threads)
            times[threads].append(time.perf_counter() - started)
            CORES[threads].append((time.process_time() - cpu) / max(times[threads][-1], 1e-9))
            # Dropping what the call made is timed apart: a book's release is paid when its
            # owner lets it go, not by the build.
            started = time.perf_counter()
            del result
            RELEASES[name].append(time.perf_counter() - started)
        for processes in (1, 2) if yardstick else ():
            yard[processes].append(yardstick.seconds(processes))
    if yardstick:
        MACHINE[name] = 2 * statistics.median(yard[1]) / statistics.median(yard[2])
    return {threads: statistics.median(values) for threads, values in times.items()}


def timed(call, repeat: int) -> float:
    """Median wall time of `call`."""
    times = []
    for _ in range(repeat):
        gc.collect()
        started = time.perf_counter()
        call()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def memory_line(args: argparse.Namespace) -> str:
    """Resident growth of one book of ten-year annual USD swaps, built in a fresh process
    so that no earlier book's freed memory hides it."""
    code = f"""
import sys
sys.path[:0] = [{str(Path(args.module_dir or ".").resolve())!r}, {str(ROOT / "python")!r},
                {str(Path(__file__).resolve().parent)!r}]
import book as bench, tessarin
market = tessarin.load_market({str(EXAMPLES / "market.json")!r})
curves = {{c["id"]: tessarin.YieldCurve(c) for c in market}}
ten = bench.book_table({args.trades})
ten["generator"], ten["curve"] = "USD SOFR SW", "USD SOFR"
ten["effective date"], ten["termination date"] = "2026-12-10", "2036-12-10"
rows = tessarin.tables.normalise_table(ten)
natives = {{k: c.native for k, c in curves.items()}}
before = bench.resident_mb()
book = tessarin.Book(ten, curves, threads=2)
native = __import__("_tessarin").Book(rows.conventions, rows.columns, natives, None, 2)
after = bench.resident_mb()
del book
print(after, after - before)
"""
    import subprocess

    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    after, grown = (float(v) for v in out.stdout.split())
    # Two books were built: the Python one and a bare native one of the same trades.
    per_swap = grown / 2 * 1024 * 1024 / args.trades
    return (f"resident memory {after:.0f} MB with two books of {args.trades} ten-year annual "
            f"swaps; each book holds about {per_swap:.0f} bytes per swap")


def peer_loop(sample) -> tuple[float, float] | None:
    """Seconds per trade of the peer's loop: build each swap, then its NPV, on the peer's
    configuration of the USD curve in compare.py; None without the peer installed."""
    try:
        import QuantLib as ql
    except ImportError:
        print("QuantLib is not installed (pip install QuantLib): no peer row")
        return None
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import compare

    peer = compare.Peer(ql, compare.us_holidays(), compare.QUOTES)
    dates = [(dt.date.fromisoformat(r["effective date"]), dt.date.fromisoformat(
        r["termination date"])) for _, r in sample.iterrows()]
    started = time.perf_counter()
    swaps = [peer.swap(start, end) for start, end in dates]
    built = time.perf_counter()
    for swap in swaps:
        swap.NPV()
    priced = time.perf_counter()
    return (built - started) / len(swaps), (priced - built) / len(swaps)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module-dir", help="directory of a built _tessarin to import first")
    parser.add_argument("--trades", type=int, default=100_000)
    parser.add_argument("--loop-sample", type=int, default=300)
    parser.add_argument("--risk-sample", type=int, default=2_000)
    parser.add_argument("--repeat", type=int, default=15,
                        help="timed pairs of calls (threads=1, then 2) for price, risk, ladder")
    parser.add_argument("--build-repeat", type=int, default=7, help="timed pairs of builds")
    parser.add_argument("--bump-repeat", type=int, default=3,
                        help="timed pairs of bump risk on the sample")
    parser.add_argument("--memory-only", action="store_true", help="only the memory figure")
    args = parser.parse_args()
    # The example calendars end before the book's last dates: one warning per call is noise.
    warnings.simplefilter("ignore")
    if args.module_dir:
        sys.path.insert(0, str(Path(args.module_dir).resolve()))
    sys.path.insert(1, str(ROOT / "python"))
    import tessarin
    from tessarin._inputs import swap_input

    if args.memory_only:
        print(memory_line(args))
        return 0

    market = tessarin.load_market(EXAMPLES / "market.json")
    curves = {c["id"]: tessarin.YieldCurve(c) for c in market}
    fixings = tessarin.load_fixings(EXAMPLES / "fixings.json")
    table = book_table(args.trades)
    sample = table.iloc[: args.risk_sample]
    print(f"{args.trades} swaps, {len(curves)} curves; risk timed on {len(sample)} trades, "
          f"the per-trade loop on {args.loop_sample}; wall clock, median of {args.repeat} "
          f"(builds: {args.build_repeat}, bump risk: {args.bump_repeat})")

    book = tessarin.Book(table, curves, fixings)
    small = tessarin.Book(sample, curves, fixings)
    errors = int((book.price()["Error"] != "").sum())
    yardstick = Yardstick()
    price = interleaved(lambda t: book.price(threads=t), args.repeat, yardstick, "price")
    risk = interleaved(lambda t: book.risk("analytic", threads=t), args.repeat, yardstick,
                       "analytic risk")
    yardstick.close()
    ladder = interleaved(lambda t: book.ladder("analytic", threads=t), args.repeat)
    bump = {t: seconds * len(table) / len(sample) for t, seconds in
            interleaved(lambda t: small.risk("bump", threads=t), args.bump_repeat).items()}
    # The build last: the books it makes and drops scatter the heap that the calls above
    # read, as they would in a process that had built and dropped many books.
    build = interleaved(lambda t: tessarin.Book(table, curves, fixings, threads=t),
                        args.build_repeat, name="build")
    rows = [(f"Book, threads={t}", build[t], price[t], risk[t], bump[t], ladder[t], errors)
            for t in (1, 2)]
    for threads in (1, 2):
        print(f"threads={threads}: process CPU time over wall time during the calls "
              f"{statistics.median(CORES[threads]):.2f} (2.00 = both cores busy)")

    # The per-trade loop: swap dict, IRS, price, bump risk.
    swaps = []
    for _, r in table.iloc[: args.loop_sample].iterrows():
        payer = r["direction"] == "payer"
        swaps.append((r["curve"], {"id": r["id"], "effective date": r["effective date"],
                                   "termination date": r["termination date"],
                                   "leg1": {"is paid": payer, "rate": float(r["fixed rate"]),
                                            "notional": float(r["notional"])},
                                   "leg2": {"is paid": not payer, "margin": float(r["margin"]),
                                            "notional": float(r["notional"])}}, r["generator"]))
    scale = len(table)
    build = timed(lambda: [tessarin.IRS(swap_input(s, g)) for _, s, g in swaps], 1) / len(swaps)
    irs = [(c, tessarin.IRS(swap_input(s, g))) for c, s, g in swaps]
    price = timed(lambda: [x.price(curves[c], fixings) for c, x in irs], 1) / len(swaps)
    bump = timed(lambda: [x.risk(curves[c], fixings) for c, x in irs], 1) / len(swaps)
    rows.append(("per-trade IRS loop", build * scale, price * scale, float("nan"),
                 bump * scale, float("nan"), 0))
    peer = peer_loop(table.iloc[: args.loop_sample])
    if peer is not None:
        rows.append(("peer per-trade loop", peer[0] * scale, peer[1] * scale, float("nan"),
                     float("nan"), float("nan"), 0))

    print(f"\n{'':22} {'build s':>9} {'price s':>9} {'analytic s':>11} {'bump risk s':>12} "
          f"{'ladder s':>9} {'errors':>7}")
    for name, *values, errors in rows:
        print(f"{name:22} " + " ".join(f"{v:>{w}.3f}" for v, w in zip(values, (9, 9, 11, 12, 9)))
              + f" {errors:>7}")
    one, two, loop = rows[:3]
    print(f"\nreleasing a built book (timed apart from the build): "
          f"{statistics.median(RELEASES['build']):.3f} s")
    print(f"threads=2 over threads=1: build {one[1] / two[1]:.2f}x, "
          f"price {one[2] / two[2]:.2f}x, analytic risk {one[3] / two[3]:.2f}x, "
          f"bump risk {one[4] / two[4]:.2f}x")
    print("the machine's own speed-up, two processes hashing between the same turns: "
          + ", ".join(f"{name} {ratio:.2f}x" for name, ratio in MACHINE.items()))
    print(f"book (threads=2) over the loop: build and price "
          f"{(loop[1] + loop[2]) / (two[1] + two[2]):.1f}x, analytic risk over the loop's bump "
          f"risk {loop[4] / two[3]:.0f}x, bump risk {loop[4] / two[4]:.1f}x")

    print(f"\n{memory_line(args)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
