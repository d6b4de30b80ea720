"""Times a seasoned swap's price with past fixings given as a dict (checked on every call)
and as a `tessarin.Fixings` (checked once), against a price without fixings, in one process.

    PYTHONPATH=build/py/python:python python benchmarks/fixings.py

Medians of the process's CPU time; ratios against the price without fixings of the same run.
"""

from __future__ import annotations

import json
import statistics
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


def main():
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


if __name__ == "__main__":
    main()
