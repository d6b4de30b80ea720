"""Holiday lists through 2100 against today's, in one process.

First the example market's curves are built, a 30-year USD swap priced and the example book
priced with the built-in lists; then `tessarin.calendars.extend(through=2100)` is timed (the
first call in the process, which imports the holidays package and generates all seven
calendars, and a second call, which has nothing left to do); then the same three
measurements again. Medians of the wall clock; ratios against the built-in lists.

    PYTHONPATH=build/py/python:python python benchmarks/calendars.py
"""

from __future__ import annotations

import argparse
import statistics
import time
import warnings
from pathlib import Path

import tessarin

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def median_seconds(call, number, repeat):
    samples = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            call()
        samples.append((time.perf_counter() - start) / number)
    return statistics.median(samples)


def measure(repeat):
    curves = tessarin.load_market(EXAMPLES / "market.json")
    usd = next(c for c in curves if c["id"] == "USD SOFR")
    curve = tessarin.YieldCurve(usd)
    swap = tessarin.IRS({"id": "USD 30Y", "effective date": "2026-12-10",
                         "termination date": "2056-12-10",
                         "leg1": {"rate": 0.035, "notional": 1e7},
                         "leg2": {"margin": 0.0, "notional": 1e7}}, generator="USD SOFR SW")
    book = tessarin.Book(EXAMPLES / "trades.json", [tessarin.YieldCurve(c) for c in curves],
                         EXAMPLES / "fixings.json")
    return {
        "build the USD SOFR curve (30Y)": median_seconds(lambda: tessarin.YieldCurve(usd),
                                                         20, repeat),
        "price a 30Y USD swap": median_seconds(lambda: swap.price(curve), 200, repeat),
        "price the example book (22 trades)": median_seconds(book.price, 20, repeat),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=15, help="samples per median")
    args = parser.parse_args()
    warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
    before = measure(args.repeat)
    start = time.perf_counter()
    tessarin.calendars.extend(through=2100)
    first = time.perf_counter() - start
    start = time.perf_counter()
    tessarin.calendars.extend(through=2100)
    second = time.perf_counter() - start
    after = measure(args.repeat)

    print(f"extend(through=2100), first call in the process: {first * 1e3:.0f} ms")
    print(f"extend(through=2100), second call: {second * 1e6:.0f} µs")
    print()
    print("| measurement | built-in lists | lists through 2100 | ratio |")
    print("| --- | --- | --- | --- |")
    for name, seconds in before.items():
        print(f"| {name} | {seconds * 1e6:,.1f} µs | {after[name] * 1e6:,.1f} µs | "
              f"{after[name] / seconds:.2f} |")


if __name__ == "__main__":
    main()
