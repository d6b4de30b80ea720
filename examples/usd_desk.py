"""Build a USD SOFR curve the way a rates desk does, from examples/usd_desk_curve.json:
1M SOFR futures for this month and the next two (this one averages fixings already
published), swaps between meeting dates, 3M SOFR futures, swaps from 3Y to 50Y, and a
year-end turn. Print its pillars, reprice every instrument, print the overnight forwards
where they step, and save the chart.

Run with `python examples/usd_desk.py [chart.png]` after `pip install '.[plot]'`.
"""

import json
import sys
import warnings
from pathlib import Path

import tessarin

HERE = Path(__file__).resolve().parent

# The US holiday list ends before the long pillars: say so once, not at every call.
warnings.simplefilter("once", tessarin.CalendarCoverageWarning)

curve_input = json.loads((HERE / "usd_desk_curve.json").read_text())
fixings = tessarin.load_fixings(HERE / "fixings.json")
curve = tessarin.YieldCurve(curve_input, fixings=fixings)
print(curve)

print("\nPillars")
print(curve.to_frame().to_string(index=False))

# Swaps give back their par rate, futures their price (100 - rate + convexity).
repriced = curve.repriced()
print("\nEvery instrument repriced")
print(repriced.to_string(index=False))
print(f"largest difference {repriced['Error'].abs().max():.1e}")

# The overnight forward is flat between pillars: show the days it steps on, with the turn.
forwards = curve.forwards(curve.value_date, "2028-02-01")
steps = forwards[forwards["Forward"].diff().abs() > 1e-9]
print("\nOvernight forwards (percent) from each day they change")
print(steps.assign(Forward=100 * steps["Forward"]).to_string(index=False))

chart = Path(sys.argv[1]) if len(sys.argv) > 1 else Path("usd_desk_curve.png")
curve.plot(chart, forwards=True)
print(f"\nsaved {chart}")
