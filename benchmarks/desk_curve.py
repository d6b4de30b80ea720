"""Times the build of a desk curve (futures, meeting-date swaps, swaps, a turn) against the
20-quote OIS curve of examples/market.json, in one process, and the exact key-rate risk of a
swap on each: medians of the process's CPU time over 31 samples of 20 builds or 100 risks.
The 60-instrument curve is the example's front end (3 1M futures, 8 meeting-date swaps,
4 3M futures) and swaps from 3Y to 47Y, one a year.

Run: `python benchmarks/desk_curve.py` after `pip install .`.
"""

import json
import statistics
import time
import warnings
from pathlib import Path

import _tessarin
import tessarin

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)


def median_seconds(call, repeat, number=20):
    """Median over `repeat` samples of the CPU seconds per call, `number` calls per sample:
    CPU time, as the machine is shared."""
    times = []
    for _ in range(repeat):
        start = time.process_time()
        for _ in range(number):
            call()
        times.append((time.process_time() - start) / number)
    return statistics.median(times)


def sixty_rows(desk):
    """The example's 15 front rows and 45 yearly swaps from 3Y."""
    rows = desk["instruments"]
    front = [i for i, tenor in enumerate(rows["tenor"]) if tenor is None or "-" in tenor]
    out = {key: [rows[key][i] for i in front] for key in rows}
    for years in range(3, 48):
        for key, value in (("generator", "USD SOFR SW"), ("tenor", f"{years}Y"),
                           ("quote", 3.3 + 0.005 * years), ("in use", True), ("start", None),
                           ("end", None), ("convexity", None)):
            out[key].append(value)
    return {**desk, "instruments": out}


def main():
    fixings = tessarin.load_fixings(EXAMPLES / "fixings.json")
    today = tessarin.YieldCurve(tessarin.load_market(EXAMPLES / "market.json")[0])
    desk_input = json.loads((EXAMPLES / "usd_desk_curve.json").read_text())
    curves = {"today (20 quotes)": today,
              "desk example (27 rows)": tessarin.YieldCurve(desk_input, fixings=fixings),
              "desk (60 rows)": tessarin.YieldCurve(sixty_rows(desk_input), fixings=fixings)}
    swap = tessarin.IRS({"id": "5Y", "effective date": "2026-12-10",
                         "termination date": "2031-12-10",
                         "leg1": {"rate": 0.033, "notional": 1e7},
                         "leg2": {"margin": 0.0, "notional": 1e7}}, generator="USD SOFR SW")
    baseline = None
    print(f"{'curve':24} {'build (us)':>11} {'ratio':>6} {'per row':>8} {'risk (us)':>10}")
    for name, curve in curves.items():
        native = curve.to_dict()  # checked: the native build alone is timed
        rows = len(native["instruments"]["tenor"])
        build = median_seconds(lambda native=native: _tessarin.YieldCurve(native), 31)
        curve.jacobian()
        risk = median_seconds(lambda curve=curve: swap.risk(curve, method="analytic"), 31, 100)
        baseline = baseline or (build, rows)
        print(f"{name:24} {build * 1e6:11.0f} {build / baseline[0]:6.2f} "
              f"{build / rows / (baseline[0] / baseline[1]):8.2f} {risk * 1e6:10.1f}")


if __name__ == "__main__":
    main()
