"""Checks the example desk curve (examples/usd_desk_curve.json) against QuantLib built on the
same instruments: 1M and 3M SOFR futures, meeting-date swaps, tenor swaps and the year-end
turn, log-linear discount factors in ACT/365F time. The turn is a jump in the peer's discount
factors on its first day, so the curves are compared on every day from the value date to the
last pillar outside the turn's window.

    pip install QuantLib; python benchmarks/desk_peer.py [--tolerance 1e-10]

Exits 1 when a discount factor differs by more than the tolerance.
"""

from __future__ import annotations

import argparse
import datetime as dt
import json
import math
import sys
import warnings
from pathlib import Path

import QuantLib as ql
from compare import us_holidays

import tessarin

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"


def qdate(day: dt.date) -> ql.Date:
    return ql.Date(day.day, day.month, day.year)


def third_wednesday(year: int, month: int) -> dt.date:
    first = dt.date(year, month, 1)
    return first + dt.timedelta(days=(2 - first.weekday()) % 7 + 14)


def month_after(year: int, month: int, months: int) -> tuple[int, int]:
    index = year * 12 + month - 1 + months
    return index // 12, index % 12 + 1


def future(row: dict, index: ql.OvernightIndex, pillar: dt.date) -> ql.RateHelper:
    """The contract of the row: 1M averages the calendar month, 3M compounds the IMM quarter."""
    year, month = map(int, row["tenor"].split("-"))
    if " 1M " in row["generator"]:
        start, end = dt.date(year, month, 1), dt.date(*month_after(year, month, 1), 1)
        averaging = ql.RateAveraging.Simple
    else:
        start, end = third_wednesday(year, month), third_wednesday(*month_after(year, month, 3))
        averaging = ql.RateAveraging.Compound
    convexity = ql.QuoteHandle(ql.SimpleQuote((row["convexity"] or 0.0) / 1e4))
    return ql.OvernightIndexFutureRateHelper(
        ql.QuoteHandle(ql.SimpleQuote(row["quote"])), qdate(start), qdate(end), index,
        convexity, averaging, ql.Pillar.CustomDate, qdate(pillar))


def swap(row: dict, index: ql.OvernightIndex, calendar: ql.Calendar, spot: dt.date,
         pillar: dt.date) -> ql.RateHelper:
    """An annual ACT/360 SOFR swap, 2-day payment lag; dated rows start forward of spot."""
    terms = dict(telescopicValueDates=True, paymentLag=2, paymentConvention=ql.Following,
                 paymentFrequency=ql.Annual, paymentCalendar=calendar, endOfMonth=False,
                 fixedPaymentFrequency=ql.Annual, fixedCalendar=calendar,
                 rule=ql.DateGeneration.Backward, overnightCalendar=calendar,
                 convention=ql.ModifiedFollowing, fixedDayCount=ql.Actual360(),
                 pillar=ql.Pillar.CustomDate, customPillarDate=qdate(pillar))
    rate = ql.QuoteHandle(ql.SimpleQuote(row["quote"] / 100.0))
    if row.get("start"):
        start, end = (dt.date.fromisoformat(row[key]) for key in ("start", "end"))
        return ql.OISRateHelper(2, ql.Period((end - start).days, ql.Days), rate, index,
                                forwardStart=ql.Period((start - spot).days, ql.Days), **terms)
    return ql.OISRateHelper(2, ql.Period(row["tenor"]), rate, index, **terms)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tolerance", type=float, default=1e-10)
    args = parser.parse_args()
    warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
    desk = json.loads((EXAMPLES / "usd_desk_curve.json").read_text())
    fixings = json.loads((EXAMPLES / "fixings.json").read_text())
    ours = tessarin.YieldCurve(desk, fixings=fixings)
    value_date = dt.date.fromisoformat(desk["value date"])

    calendar = ql.BespokeCalendar("US holidays of the library")
    calendar.addWeekend(ql.Saturday)
    calendar.addWeekend(ql.Sunday)
    for day in us_holidays():
        calendar.addHoliday(qdate(day))
    ql.Settings.instance().evaluationDate = qdate(value_date)
    index = ql.OvernightIndex("SOFR", 0, ql.USDCurrency(), calendar, ql.Actual360())
    sofr = fixings["SOFR"]
    for day, rate in zip(sofr["dates"], sofr["values"], strict=True):
        if dt.date.fromisoformat(day) < value_date:
            index.addFixing(qdate(dt.date.fromisoformat(day)), rate, True)

    spot = dt.date.fromisoformat(calendar.advance(qdate(value_date), 2, ql.Days).ISO())
    pillars = ours.dates()
    columns = desk["instruments"]
    rows = [dict(zip(columns, cells, strict=True)) for cells in zip(*columns.values(), strict=True)]
    helpers = [future(row, index, pillar) if row["generator"].endswith("FUT")
               else swap(row, index, calendar, spot, pillar)
               for row, pillar in zip(rows, pillars, strict=True)]
    windows = [(dt.date.fromisoformat(t["start"]), dt.date.fromisoformat(t["end"]))
               for t in desk.get("turns", [])]
    jumps = [ql.QuoteHandle(ql.SimpleQuote(math.exp(-t["spread"] / 1e4 * (end - start).days / 365)))
             for t, (start, end) in zip(desk.get("turns", []), windows, strict=True)]
    peer = ql.PiecewiseLogLinearDiscount(qdate(value_date), helpers, ql.Actual365Fixed(), jumps,
                                         [qdate(start) for start, _ in windows], ql.LogLinear(),
                                         ql.IterativeBootstrap(1e-15))

    worst, where, day = 0.0, value_date, value_date
    while day <= pillars[-1]:
        if not any(start < day < end for start, end in windows):
            gap = abs(ours.df(day) - peer.discount(qdate(day)))
            worst, where = max((worst, where), (gap, day))
        day += dt.timedelta(days=1)
    print(f"{len(helpers)} instruments, {(pillars[-1] - value_date).days + 1} days: largest "
          f"discount-factor gap {worst:.2e} on {where} (tolerance {args.tolerance:g})")
    return 0 if worst <= args.tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
