"""Times each interpolation on the 20-quote USD SOFR curve of examples/market.json.

For "LinearLogDf", "LinearRates", "LogCubic", "LogCubic" with "cubic from" 2Y and
"MonotoneConvex": the curve
build (`_tessarin.YieldCurve` of the checked dict), the curve's Jacobian (a build with the
Jacobian, less a build), and the exact key-rate risk of a 10-year swap from Python
(`IRS.risk(curve, method="analytic")`, the Jacobian already made). Medians of the process's
CPU time; ratios against the log-linear build of the same run. Before timing, it checks
that analytic and bumped risk agree within 1e-9 of the notional on every curve.

    python benchmarks/smooth_curves.py [--samples N]
"""

from __future__ import annotations

import argparse
import datetime as dt
import statistics
import time
import warnings
from pathlib import Path

import _tessarin
import tessarin
from tessarin._inputs import check_curve

REPO = Path(__file__).resolve().parent.parent
NOTIONAL = 10_000_000.0
SHAPES = {
    "LinearLogDf": {"interpolation": "LinearLogDf"},
    "LinearRates": {"interpolation": "LinearRates"},
    "LogCubic": {"interpolation": "LogCubic"},
    "LogCubic, cubic from 2Y": {"interpolation": "LogCubic", "cubic from": "2Y"},
    "MonotoneConvex": {"interpolation": "MonotoneConvex"},
}


def per_call(call, samples: int, number: int) -> float:
    """Median over `samples` of the CPU seconds per call, `number` calls per sample."""
    times = []
    for _ in range(samples):
        start = time.process_time()
        for _ in range(number):
            call()
        times.append((time.process_time() - start) / number)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=15)
    samples = parser.parse_args().samples
    warnings.simplefilter("ignore")
    usd = dict(tessarin.load_market(REPO / "examples" / "market.json")[0])
    value_date = dt.date.fromisoformat(str(usd["value date"]))
    swap = tessarin.IRS({"id": "10Y", "effective date": value_date + dt.timedelta(days=2),
                         "termination date": value_date.replace(year=value_date.year + 10)
                         + dt.timedelta(days=2),
                         "leg1": {"rate": 0.035, "notional": NOTIONAL},
                         "leg2": {"margin": 0.0, "notional": NOTIONAL}},
                        generator="USD SOFR SW")
    rows = []
    for name, shape in SHAPES.items():
        data = check_curve({**usd, **shape})
        curve = tessarin.YieldCurve(data)
        exact, bumped = swap.risk(curve, method="analytic"), swap.risk(curve)
        gap = max(abs(a - b) for a, b in zip(exact["Net"], bumped["Net"], strict=True))
        assert gap < 1e-9 * NOTIONAL, (name, gap)
        build = per_call(lambda data=data: _tessarin.YieldCurve(data), samples, 20)
        with_jacobian = per_call(
            lambda data=data: _tessarin.yield_curve_jacobian(_tessarin.YieldCurve(data)),
            samples, 20)  # fmt: skip
        lists = per_call(lambda c=curve: _tessarin.yield_curve_jacobian(c.native), samples, 20)
        risk = per_call(lambda c=curve: swap.risk(c, method="analytic"), samples, 200)
        # The Jacobian alone: a build with it, less the build and the lists it is returned in.
        rows.append((name, build, with_jacobian - build - lists, risk, gap))
    base = rows[0][1]
    print(f"USD SOFR, {len(usd['instruments']['tenor'])} quotes, value date {value_date}; "
          f"medians of CPU time over {samples} samples")
    print("| interpolation | build | ratio to log-linear build | Jacobian | Jacobian / build "
          "| analytic risk, 10Y swap | analytic - bumped risk |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, build, jacobian, risk, gap in rows:
        print(f"| {name} | {build * 1e6:.1f} µs | {build / base:.2f} | {jacobian * 1e6:.1f} µs "
              f"| {jacobian / build:.2f} | {risk * 1e6:.1f} µs | {gap:.1e} |")


if __name__ == "__main__":
    main()
