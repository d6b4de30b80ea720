"""Times scenario revaluation: a reproducible book of swaps on the six example curves under
historical scenarios, with the local engine (1 and 2 threads) and a Dask LocalCluster.

    python benchmarks/scenarios.py [--trades 10000] [--scenarios 250] [--module-dir DIR]
                                   [--no-dask] [--repeat 3]

Reports wall time (medians of --repeat runs), trade revaluations per second per core and
curve rebuilds per second, and checks that every executor gives the same PnL to the bit.
"""

from __future__ import annotations

import argparse
import datetime as dt
import os
import random
import statistics
import sys
import time
from pathlib import Path

# numpy's BLAS threads spin between calls and would take cores from the engine being timed.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

REPO = Path(__file__).resolve().parent.parent

GENERATORS = {"USD SOFR": "USD SOFR SW", "EUR ESTR": "EUR ESTR SW", "GBP SONIA": "GBP SONIA SW",
              "CHF SARON": "CHF SARON SW", "JPY TONA": "JPY TONA SW", "SGD SORA": "SGD SORA SW"}


def book(n: int, value_date: dt.date, seed: int = 7):
    """n swaps as a trades table: six currencies, 1Y to 30Y, spot and forward-starting,
    payers and receivers."""
    import pandas as pd

    rng = random.Random(seed)
    rows = []
    for i in range(n):
        curve = rng.choice(list(GENERATORS))
        start = value_date + dt.timedelta(days=rng.choice([2, 2, 2, 30, 95, 370]))
        years = rng.randint(1, 30)
        rows.append((f"T{i:06d}", curve, GENERATORS[curve], start.isoformat(),
                     start.replace(year=start.year + years).isoformat(),
                     round(rng.uniform(0.005, 0.045), 5), 1e7,
                     "payer" if rng.random() < 0.5 else "receiver"))
    return pd.DataFrame(rows, columns=["id", "curve", "generator", "effective date",
                                       "termination date", "fixed rate", "notional",
                                       "direction"])


def changes(market: list, days: int, seed: int = 11):
    """A table of daily quote changes in basis points, every tenor of every curve."""
    import pandas as pd

    rng = random.Random(seed)
    rows = []
    start = dt.date(2025, 12, 1)
    for k in range(days):
        day = start + dt.timedelta(days=k)
        for curve in market:
            level = rng.gauss(0.0, 4.0)
            for tenor in curve["instruments"]["tenor"]:
                rows.append((day, curve["id"], tenor, level + rng.gauss(0.0, 1.0)))
    return pd.DataFrame(rows, columns=["date", "curve", "tenor", "change"])


def median_time(run, repeat: int) -> tuple[float, object]:
    times, result = [], None
    for _ in range(repeat):
        started = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - started)
    return statistics.median(times), result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--trades", type=int, default=10_000)
    parser.add_argument("--scenarios", type=int, default=250)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--module-dir", help="folder of a built _tessarin (default: installed)")
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    if args.module_dir:
        sys.path[:0] = [args.module_dir, str(REPO / "python")]

    import numpy as np

    import tessarin
    from tessarin import scenarios as sc

    market = tessarin.load_market(REPO / "examples" / "market.json")
    value_date = tessarin.YieldCurve(market[0]).value_date
    trades = tessarin.Book(book(args.trades, value_date),
                           [tessarin.YieldCurve(c) for c in market])
    scenario_set = sc.historical(changes(market, args.scenarios))
    resolved = scenario_set.resolve(market)
    revaluations = len(trades) * len(resolved)
    rebuilds = sum(len(s.quotes) for s in resolved)

    rows = []
    results = {}
    for threads in (1, 2):
        seconds, results[f"local {threads}"] = median_time(
            lambda t=threads: trades.revalue(market, resolved, threads=t,
                                             scenario_chunk=len(resolved)), args.repeat)
        rows.append((f"local engine, {threads} thread(s)", seconds, threads))
    if not args.no_dask:
        from distributed import Client, LocalCluster

        with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            client.run(lambda: __import__("tessarin.revaluation"))  # warm the workers
            seconds, results["dask"] = median_time(
                lambda: trades.revalue(market, resolved, executor=client,
                                       scenario_chunk=max(1, len(resolved) // 8)),
                args.repeat)
        rows.append(("Dask LocalCluster, 2 workers", seconds, 2))

    reference = results["local 1"].pnl.to_numpy()
    for name, result in results.items():
        assert np.array_equal(reference, result.pnl.to_numpy(), equal_nan=True), name

    print(f"{len(trades):,} trades x {len(resolved):,} scenarios over {len(market)} curves: "
          f"{revaluations:,} trade revaluations, {rebuilds:,} curve rebuilds "
          f"(cores: {os.cpu_count()}, Python {sys.version.split()[0]})")
    print(f"{'executor':<32} {'wall s':>8} {'revaluations/s/core':>20} {'rebuilds/s':>11}")
    for name, seconds, cores in rows:
        print(f"{name:<32} {seconds:>8.3f} {revaluations / seconds / cores:>20,.0f} "
              f"{rebuilds / seconds:>11,.0f}")
    local2 = next(s for n, s, _ in rows if n.startswith("local engine, 2"))
    for name, seconds, _ in rows:
        if name.startswith("Dask"):
            print(f"Dask / local engine (2 threads): {seconds / local2:.2f}x wall time")
    print("PnL identical to the bit across executors: yes")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
