"""Times tessarin against QuantLib on the same USD SOFR curve and swap, in one process.

Builds a 20-instrument USD SOFR OIS curve (1M to 30Y) with both libraries, configured alike,
checks that they agree (pillar zero rates within 1e-12, the 10-year swap's values within 1e-9
of its notional), then times with medians over many repetitions: the curve build, `df` on
1,000 dates, the swap's price and its key-rate risk over all quotes. Prints a table of times
and ratios (tessarin / QuantLib) with the machine and the versions.

QuantLib is an optional, benchmark-only dependency: `pip install QuantLib`. Without it the
script still times tessarin and says so.

    python benchmarks/compare.py [--module-dir DIR] [--quick] [--wall]

`--module-dir` is the folder holding the built `_tessarin` extension (for example
build/python); by default the installed module is used. Times are the process's CPU time,
which other programs on a shared machine disturb far less than the wall clock; `--wall`
measures wall-clock time instead.
"""

from __future__ import annotations

import argparse
import datetime as dt
import gc
import os
import platform
import re
import statistics
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent

VALUE_DATE = dt.date(2026, 3, 16)  # a Monday; spot is 18 March, inside the holiday lists
# USD SOFR OIS par rates in percent, 1M to 30Y.
# fmt: off
TENORS = ["1M", "2M", "3M", "4M", "6M", "9M", "1Y", "18M", "2Y", "3Y",
          "4Y", "5Y", "6Y", "7Y", "8Y", "10Y", "12Y", "15Y", "20Y", "30Y"]
QUOTES = [4.33, 4.31, 4.27, 4.22, 4.12, 3.98, 3.85, 3.70, 3.61, 3.52,
          3.50, 3.51, 3.54, 3.58, 3.62, 3.69, 3.76, 3.84, 3.90, 3.86]
# fmt: on
SWAP_RATE = 0.036
NOTIONAL = 10_000_000.0
BUMP = 0.0001  # in quote units (percent), as tessarin's risk

CURVE = {
    "id": "USD SOFR",
    "value date": VALUE_DATE,
    "currency": "USD",
    "interpolation": "LinearLogDf",
    "instruments": {
        "generator": ["USD SOFR SW"] * len(TENORS),
        "tenor": list(TENORS),
        "quote": list(QUOTES),
        "in use": [True] * len(TENORS),
    },
}


def us_holidays() -> list[dt.date]:
    """The "US" holiday list, read from the library's own data file."""
    source = (REPO / "dates" / "holiday_calendars.cpp").read_text()
    block = re.search(r"usHolidays\[\]\s*=\s*\{(.*?)\};", source, re.S)
    if block is None:
        raise RuntimeError("usHolidays not found in dates/holiday_calendars.cpp")
    return [
        dt.date.fromisoformat(text) for text in re.findall(r'"(\d{4}-\d{2}-\d{2})"', block.group(1))
    ]


def add_business_days(day: dt.date, count: int, holidays: set[dt.date]) -> dt.date:
    while count > 0:
        day += dt.timedelta(days=1)
        if day.weekday() < 5 and day not in holidays:
            count -= 1
    return day


def add_years(day: dt.date, years: int) -> dt.date:
    try:
        return day.replace(year=day.year + years)
    except ValueError:  # 29 February
        return day.replace(year=day.year + years, day=28)


def leg(is_fixed: bool, is_paid: bool, **trade) -> dict:
    return {
        "currency": "USD",
        "calendar": "US",
        "frequency": "1Y",
        "day count convention": "ACT/360",
        "accrual adjustment": "Modified Following",
        "accrual calendar": "US",
        "pay adjustment": "Following",
        "pay calendar": "US",
        "is fixed": is_fixed,
        "is paid": is_paid,
        "pay lag": 2,
        **trade,
    }


def swap_dict(start: dt.date, end: dt.date) -> dict:
    """Pays SWAP_RATE fixed against SOFR, annual ACT/360 on both legs."""
    return {
        "id": "USD 10Y payer",
        "effective date": start,
        "termination date": end,
        "schedule roll": "backward",
        "leg1": leg(True, True, rate=SWAP_RATE, notional=NOTIONAL),
        "leg2": leg(False, False, index="SOFR", margin=0.0, notional=NOTIONAL),
    }


# ---- timing ------------------------------------------------------------------------------

clock = time.process_time


def _batch_size(fn, target: float) -> int:
    fn()  # warm up
    start = time.perf_counter()
    fn()
    once = time.perf_counter() - start
    return max(1, int(target / max(once, 1e-9)))


def paired_medians(ours, peer, samples: int, target: float = 0.02) -> tuple[float, float | None]:
    """Median seconds per call of each function, sampled in alternation so that both see
    the same machine load."""
    ours_batch = _batch_size(ours, target)
    peer_batch = _batch_size(peer, target) if peer else 0
    ours_times, peer_times = [], []
    gc.disable()
    try:
        for _ in range(samples):
            start = clock()
            for _ in range(ours_batch):
                ours()
            ours_times.append((clock() - start) / ours_batch)
            if peer:
                start = clock()
                for _ in range(peer_batch):
                    peer()
                peer_times.append((clock() - start) / peer_batch)
    finally:
        gc.enable()
    return statistics.median(ours_times), statistics.median(peer_times) if peer else None


def show(seconds: float | None) -> str:
    if seconds is None:
        return "-"
    if seconds < 1e-3:
        return f"{seconds * 1e6:,.1f} us"
    return f"{seconds * 1e3:,.2f} ms"


# ---- the peer ----------------------------------------------------------------------------


class Peer:
    """The same curve and swap in QuantLib, configured as tessarin's conventions: curve time
    Actual/365 Fixed from the value date, log-linear discount factors (flat forward after the
    last pillar), pillar at each instrument's last payment date, backward schedules without
    end-of-month rule, Modified Following accruals and 2-day Following payment lag on a
    calendar with exactly the "US" holidays, annual ACT/360 legs, telescopic floating leg."""

    def __init__(self, ql, holidays: list[dt.date], quotes: list[float],
                 curve_kind: str = "PiecewiseLogLinearDiscount"):
        self.ql = ql
        self.curve_kind = curve_kind
        self.calendar = ql.BespokeCalendar("tessarin US")
        self.calendar.addWeekend(ql.Saturday)
        self.calendar.addWeekend(ql.Sunday)
        for day in holidays:
            self.calendar.addHoliday(self.date(day))
        self.value_date = self.date(VALUE_DATE)
        ql.Settings.instance().evaluationDate = self.value_date
        self.quotes = [ql.SimpleQuote(q / 100.0) for q in quotes]
        self.curve = self.build_curve(self.quotes)
        self.handle = ql.RelinkableYieldTermStructureHandle(self.curve)
        self.index = ql.OvernightIndex(
            "SOFR", 0, ql.USDCurrency(), self.calendar, ql.Actual360(), self.handle
        )
        self.engine = ql.DiscountingSwapEngine(self.handle)

    def date(self, day: dt.date):
        return self.ql.Date(day.day, day.month, day.year)

    def build_curve(self, quotes):
        ql = self.ql
        index = ql.OvernightIndex("SOFR", 0, ql.USDCurrency(), self.calendar, ql.Actual360())
        helpers = [
            ql.OISRateHelper(
                2,
                ql.Period(tenor),
                ql.QuoteHandle(quote),
                index,
                telescopicValueDates=True,
                paymentLag=2,
                paymentConvention=ql.Following,
                paymentFrequency=ql.Annual,
                paymentCalendar=self.calendar,
                pillar=ql.Pillar.LastRelevantDate,
                endOfMonth=False,
                fixedPaymentFrequency=ql.Annual,
                fixedCalendar=self.calendar,
                rule=ql.DateGeneration.Backward,
                overnightCalendar=self.calendar,
                convention=ql.ModifiedFollowing,
                fixedDayCount=ql.Actual360(),
            )
            for tenor, quote in zip(TENORS, quotes, strict=True)
        ]
        curve = getattr(ql, self.curve_kind)(
            self.value_date, helpers, ql.Actual365Fixed(), ql.IterativeBootstrap(1e-15)
        )
        curve.enableExtrapolation()
        curve.helpers = helpers  # keep them alive with the curve
        return curve

    def build_from_quotes(self, quotes: list[float]):
        curve = self.build_curve([self.ql.SimpleQuote(q / 100.0) for q in quotes])
        curve.discount(self.value_date + 1)  # bootstraps
        return curve

    def swap(self, start: dt.date, end: dt.date):
        ql = self.ql
        schedule = ql.Schedule(
            self.date(start),
            self.date(end),
            ql.Period(1, ql.Years),
            self.calendar,
            ql.ModifiedFollowing,
            ql.ModifiedFollowing,
            ql.DateGeneration.Backward,
            False,
        )
        swap = ql.OvernightIndexedSwap(
            ql.OvernightIndexedSwap.Payer,
            NOTIONAL,
            schedule,
            SWAP_RATE,
            ql.Actual360(),
            self.index,
            0.0,
            2,
            ql.Following,
            self.calendar,
            True,
        )
        swap.setPricingEngine(self.engine)
        return swap

    def zero_rates(self, dates: list[dt.date]) -> list[float]:
        ql = self.ql
        return [
            self.curve.zeroRate(self.date(d), ql.Actual365Fixed(), ql.Continuous).rate()
            for d in dates
        ]

    def pillars(self) -> list[dt.date]:
        return [dt.date(d.year(), d.month(), d.dayOfMonth()) for d in self.curve.dates()[1:]]

    def risk(self, swap) -> list[tuple[float, float, float]]:
        """Central differences of (fixed leg, floating leg, net) per quote, per unit of quote."""
        result = []
        for quote in self.quotes:
            q = quote.value()
            quote.setValue(q + BUMP / 100.0)
            up = (swap.legNPV(0), swap.legNPV(1), swap.NPV())
            quote.setValue(q - BUMP / 100.0)
            down = (swap.legNPV(0), swap.legNPV(1), swap.NPV())
            quote.setValue(q)
            result.append(tuple((u - d) / (2.0 * BUMP) for u, d in zip(up, down, strict=True)))
        return result


# ---- the report --------------------------------------------------------------------------


def machine() -> str:
    cpu = platform.processor() or "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg())
    return (
        f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
        f"load average {load}"
    )


def tessarin_version(module) -> str:
    try:
        from importlib.metadata import version

        return f"{version('tessarin')} (installed)"
    except Exception:
        return f"build tree ({Path(module.__file__).parent})"


def check(condition: bool, message: str) -> None:
    print(("  ok    " if condition else "  FAIL  ") + message)
    if not condition:
        check.failures += 1


check.failures = 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--module-dir", help="folder holding the built _tessarin module")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    parser.add_argument("--wall", action="store_true", help="wall-clock instead of CPU time")
    args = parser.parse_args()
    global clock
    if args.wall:
        clock = time.perf_counter
    if args.module_dir:
        # The package of the same source tree goes with the built module.
        sys.path.insert(0, str(REPO / "python"))
        sys.path.insert(0, str(Path(args.module_dir).resolve()))
    import _tessarin

    try:
        import QuantLib as ql
    except ImportError:
        ql = None
        print("QuantLib is not installed (pip install QuantLib): timing tessarin alone.\n")

    samples = 7 if args.quick else 25
    holidays = us_holidays()
    spot = add_business_days(VALUE_DATE, 2, set(holidays))
    maturity = add_years(spot, 10)
    swap_input = swap_dict(spot, maturity)

    curve = _tessarin.YieldCurve(CURVE)
    swap = _tessarin.IRS(swap_input)
    pv = swap.price(curve)
    probe_dates = [VALUE_DATE + dt.timedelta(days=1 + 11 * k) for k in range(1000)]

    peer = peer_swap = None
    if ql is not None:
        peer = Peer(ql, holidays, QUOTES)
        peer_swap = peer.swap(spot, maturity)
        print("Agreement")
        ours_pillars, peer_pillars = curve.dates(), peer.pillars()
        check(ours_pillars == peer_pillars, f"pillar dates ({len(ours_pillars)} pillars)")
        gap = max(
            abs(a - b) for a, b in zip(curve.rates(), peer.zero_rates(ours_pillars), strict=True)
        )
        check(gap <= 1e-12, f"pillar zero rates, largest difference {gap:.2e} (limit 1e-12)")
        for ours_key, peer_value in (
            ("Leg1 PV", peer_swap.legNPV(0)),
            ("Leg2 PV", peer_swap.legNPV(1)),
            ("NPV", peer_swap.NPV()),
        ):
            gap = abs(pv[ours_key] - peer_value)
            check(
                gap <= 1e-9 * NOTIONAL,
                f"10Y swap {ours_key} {pv[ours_key]:,.6f}, difference {gap:.2e} "
                f"(limit {1e-9 * NOTIONAL:.0e})",
            )
        dfs = max(abs(curve.df(d) - peer.curve.discount(peer.date(d))) for d in probe_dates)
        check(dfs <= 1e-12, f"df on 1,000 dates, largest difference {dfs:.2e} (limit 1e-12)")
        ours_risk = swap.risk(curve)
        peer_risk = peer.risk(peer_swap)
        scale = max(abs(x) for x in ours_risk["Net"])
        gap = max(abs(a - b[2]) for a, b in zip(ours_risk["Net"], peer_risk, strict=True))
        check(
            gap <= 1e-6 * scale,
            f"key-rate risk (net), largest difference {gap:.2e} "
            f"(limit 1e-6 of the largest, {scale:,.0f})",
        )
        # ln DF a natural cubic spline through (0, 0) and the pillars, both solved globally.
        cubic = _tessarin.YieldCurve({**CURVE, "interpolation": "LogCubic"})
        natural = Peer(ql, holidays, QUOTES, "PiecewiseNaturalLogCubicDiscount").curve
        days = [VALUE_DATE + dt.timedelta(days=k)
                for k in range((ours_pillars[-1] - VALUE_DATE).days + 1)]
        gap = max(abs(cubic.df(d) - natural.discount(peer.date(d))) for d in days)
        check(gap <= 1e-10, f"\"LogCubic\" against the natural log-cubic curve, every day to "
              f"the last pillar, largest df difference {gap:.2e} (limit 1e-10)")
        print()
        if check.failures:
            print("The two libraries disagree: no timings.")
            return 1

    peer_dates = [peer.date(d) for d in probe_dates] if peer else []

    def toggle_quote():
        quote = peer.quotes[len(peer.quotes) // 2]
        quote.setValue(quote.value() + 1e-9)
        peer.curve.discount(peer.value_date + 1)

    # Curves built on the same value date reuse their instruments' schedules. With a new
    # value date each call (more dates than the reuse keeps) nothing is reused.
    shifted = [{**CURVE, "value date": VALUE_DATE + dt.timedelta(days=k)} for k in range(1, 101)]
    shift = iter(range(10**9))

    def next_day_curve():
        return _tessarin.YieldCurve(shifted[next(shift) % len(shifted)])

    def peer_price():
        peer_swap.recalculate()
        return peer_swap.NPV()

    def peer_build_and_price():
        return peer.swap(spot, maturity).NPV()

    rows = [
        (
            "curve build, 20 quotes (from the dict / from quotes)",
            lambda: _tessarin.YieldCurve(CURVE),
            (lambda: peer.build_from_quotes(QUOTES)) if peer else None,
            samples,
        ),
        (
            "  tessarin: a new value date each call",
            next_day_curve,
            None,
            samples,
        ),
        ("  peer: re-solve after one quote moves", None, toggle_quote if peer else None, samples),
        (
            "df on 1,000 dates",
            lambda: [curve.df(d) for d in probe_dates],
            (lambda: [peer.curve.discount(d) for d in peer_dates]) if peer else None,
            samples,
        ),
        (
            "price, 10Y swap (result dict included)",
            lambda: swap.price(curve),
            peer_price if peer else None,
            samples,
        ),
        (
            "swap from its dict, then price",
            lambda: _tessarin.IRS(swap_input).price(curve),
            peer_build_and_price if peer else None,
            samples,
        ),
        (
            "risk, 10Y swap over all 20 quotes",
            lambda: swap.risk(curve),
            (lambda: peer.risk(peer_swap)) if peer else None,
            max(5, samples // 3),
        ),
    ]
    results = []
    for name, ours, theirs, count in rows:
        if theirs is None and ours is not None:
            ours_time, _ = paired_medians(ours, None, count)
            # Against the peer's build from quotes.
            results.append((name, ours_time, None, results[0][2] if results else None))
            continue
        if ours is None:
            if theirs is not None:
                peer_time, _ = paired_medians(theirs, None, count)
                results.append((name, None, peer_time, None))
            continue
        ours_time, peer_time = paired_medians(ours, theirs, count)
        results.append((name, ours_time, peer_time, peer_time))

    print("Machine:  " + machine())
    print(f"Python:   {platform.python_version()} ({platform.python_implementation()})")
    print(f"tessarin: {tessarin_version(_tessarin)}")
    print(f"QuantLib: {ql.__version__ if ql else 'not installed'}")
    print(
        f"Clock:    {'wall' if args.wall else 'process CPU time'}; medians of {samples} "
        "samples (risk: fewer), each the mean of a batch of calls, the two libraries "
        "sampled in alternation.\n"
    )
    width = max(len(r[0]) for r in results)
    print(f"{'operation':<{width}}  {'tessarin':>11}  {'QuantLib':>11}  {'ratio':>8}")
    print(f"{'-' * width}  {'-' * 11}  {'-' * 11}  {'-' * 8}")
    for name, ours, theirs, reference in results:
        ratio = f"{ours / reference:.4f}" if ours and reference else "-"
        print(f"{name:<{width}}  {show(ours):>11}  {show(theirs):>11}  {ratio:>8}")
    print(
        "\nratio = tessarin / QuantLib, below 1 when tessarin is faster; the new-value-date "
        "row is\ncompared with QuantLib's build from quotes."
    )
    return exact_risk(_tessarin, swap_input, samples)


def exact_risk(native, swap_input: dict, samples: int) -> int:
    """Analytic key-rate risk (the curve's Jacobian already made) against bumping, both
    through `IRS.risk` of the package when it can be imported, else the native module."""
    try:
        import tessarin

        curve, swap, route = tessarin.YieldCurve(CURVE), tessarin.IRS(swap_input), "tessarin.IRS"
    except ImportError:
        curve, swap, route = native.YieldCurve(CURVE), native.IRS(swap_input), "_tessarin"

    def analytic():
        if route == "tessarin.IRS":
            return swap.risk(curve, method="analytic")
        return native.irs_analytic_risk(swap, curve)

    def bumped():
        return swap.risk(curve)

    exact, noisy = analytic(), bumped()
    gap = max(abs(a - b) for a, b in zip(exact["Net"], noisy["Net"], strict=True))
    print(f"\nExact key-rate risk ({route}.risk): largest |analytic - bump| of Net {gap:.2e}")
    check(gap <= 1e-9 * NOTIONAL, f"agreement within 1e-9 of the notional ({gap:.2e})")
    if check.failures:
        return 1
    analytic_time, bump_time = paired_medians(analytic, bumped, max(5, samples // 3))
    ratio = analytic_time / bump_time
    print(f"  analytic, Jacobian ready  {show(analytic_time):>11}  (target under 50 us)")
    print(f"  bump and rebuild          {show(bump_time):>11}")
    print(f"  analytic / bump           {ratio:>11.4f}  (target <= 0.1)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
