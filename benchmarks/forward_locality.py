"""How far a quote's move reaches along the forwards, per interpolation.

On each curve of examples/market.json (or the one named by --curve), each quote in turn is
bumped by 1bp and the daily overnight forwards to 30Y are compared with the unbumped
curve's. "Far" is every day before the quote's second lower neighbouring pillar or from its
second upper neighbouring pillar on; the table gives, per interpolation, the largest far
change over all quotes, the quote it comes from, and its ratio to the same figure on
"LinearLogDf".

    python benchmarks/forward_locality.py [--curve "USD SOFR"]
"""

from __future__ import annotations

import argparse
import warnings
from pathlib import Path

import numpy

import tessarin

REPO = Path(__file__).resolve().parent.parent
SHAPES = ["LinearLogDf", "LogCubic", "MonotoneConvex"]
BUMP = 0.01  # percent: 1bp


def forwards(data, years=30):
    curve = tessarin.YieldCurve(data)
    end = curve.value_date.replace(year=curve.value_date.year + years)
    frame = curve.forwards(curve.value_date, end)
    return frame["Date"].dt.date.to_numpy(), frame["Forward"].to_numpy(), curve


def far_changes(data):
    """The largest change of a daily forward past the second neighbouring pillars, per quote."""
    days, before, curve = forwards(data)
    pillars = curve.dates()
    quotes = list(data["instruments"]["quote"])
    used = [j for j, u in enumerate(data["instruments"].get("in use", [True] * len(quotes))) if u]
    out = []
    for p, j in enumerate(used):
        moved = quotes[:j] + [quotes[j] + BUMP] + quotes[j + 1:]
        _, after, _ = forwards(dict(data, instruments=dict(data["instruments"], quote=moved)))
        low = pillars[p - 2] if p >= 2 else curve.value_date
        far = days < low
        if p + 2 < len(pillars):  # past the last pillar the forwards are extrapolated
            far |= days >= pillars[p + 2]
        out.append(numpy.abs(after - before)[far].max(initial=0.0))
    return numpy.array(out)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--curve", default=None, help="one curve id (default: all)")
    name = parser.parse_args().curve
    warnings.simplefilter("ignore")
    print("| curve | interpolation | largest far change, 1bp | from quote | ratio to LinearLogDf |")
    print("|---|---|---:|---|---:|")
    for base in tessarin.load_market(REPO / "examples" / "market.json"):
        if name is not None and base["id"] != name:
            continue
        reference = far_changes(dict(base, interpolation="LinearLogDf"))
        instruments = base["instruments"]
        tenors = [t for t, u in zip(instruments["tenor"],
                                    instruments.get("in use", [True] * len(instruments["tenor"])),
                                    strict=True) if u]
        for shape in SHAPES:
            changes = far_changes(dict(base, interpolation=shape))
            tenor = tenors[int(changes.argmax())]
            print(f"| {base['id']} | {shape} | {changes.max():.1e} | {tenor} | "
                  f"{changes.max() / reference.max():.2f} |")


if __name__ == "__main__":
    main()
