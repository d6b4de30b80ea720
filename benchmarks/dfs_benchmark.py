"""Times `YieldCurve.dfs` against a Python loop over `df`, in one process.

On the 20-instrument USD SOFR curve of compare.py, 10,000 dates a day apart from the value
date on: the baseline is `[curve.df(d) for d in dates]` (the package's `df`, and the
extension's own `df` for reference); against it `curve.dfs(dates)` on the list and on a
datetime64[D] NumPy array. Checks first that all give the same numbers to the last bit;
then prints medians of the process's CPU time per date and the ratio to the baseline.

    python benchmarks/dfs_benchmark.py [--module-dir DIR] [--quick]
"""

from __future__ import annotations

import argparse
import datetime as dt
import gc
import statistics
import sys
import time

DATES = 10_000


def median_seconds(fn, samples: int) -> float:
    fn()  # warm up
    times = []
    gc.disable()
    try:
        for _ in range(samples):
            start = time.process_time()
            fn()
            times.append(time.process_time() - start)
    finally:
        gc.enable()
    return statistics.median(times)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--module-dir", help="folder holding the built _tessarin module")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    args = parser.parse_args()
    if args.module_dir:
        sys.path.insert(0, args.module_dir)
    import numpy as np
    from compare import CURVE, VALUE_DATE

    import tessarin

    curve = tessarin.YieldCurve(CURVE)
    native = curve.native
    dates = [VALUE_DATE + dt.timedelta(days=k) for k in range(DATES)]
    array = np.array(dates, dtype="datetime64[D]")
    baseline = [curve.df(d) for d in dates]
    if curve.dfs(dates) != baseline or curve.dfs(array).tolist() != baseline:
        print("dfs and df disagree", file=sys.stderr)
        return 1

    samples = 7 if args.quick else 25
    rows = [
        ("Python loop over tessarin.YieldCurve.df", lambda: [curve.df(d) for d in dates]),
        ("Python loop over _tessarin.YieldCurve.df", lambda: [native.df(d) for d in dates]),
        ("curve.dfs(list of dates)", lambda: curve.dfs(dates)),
        ("curve.dfs(datetime64[D] array)", lambda: curve.dfs(array)),
    ]
    times = [(name, median_seconds(fn, samples) / DATES) for name, fn in rows]
    base = times[0][1]
    print(f"{DATES:,} dates, median process CPU time per date over {samples} samples")
    for name, seconds in times:
        print(f"{name:<42} {seconds * 1e9:8.1f} ns   {base / seconds:6.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
