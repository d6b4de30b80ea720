"""Bootstrap a USD SOFR curve from OIS quotes and price a 5-year swap on it:
its value, par rate, annuity, DV01 and key-rate risk per 1bp.

Run with `python examples/usd_sofr.py` after `pip install .`.
"""

import datetime as dt
import warnings

import tessarin
from tessarin.conventions import leg_conventions

VALUE_DATE = dt.date(2026, 12, 8)

# The US holiday list ends before the long pillars: say so once, not at every call.
warnings.simplefilter("once", tessarin.CalendarCoverageWarning)

# Par rates of USD SOFR OIS, in percent.
QUOTES = [
    ("1M", 3.70),
    ("2M", 3.68),
    ("3M", 3.65),
    ("6M", 3.55),
    ("1Y", 3.40),
    ("18M", 3.32),
    ("2Y", 3.28),
    ("3Y", 3.25),
    ("4Y", 3.27),
    ("5Y", 3.30),
    ("6Y", 3.34),
    ("7Y", 3.38),
    ("8Y", 3.42),
    ("9Y", 3.46),
    ("10Y", 3.50),
    ("12Y", 3.56),
    ("15Y", 3.62),
    ("20Y", 3.66),
    ("25Y", 3.64),
    ("30Y", 3.60),
]

CURVE = {
    "id": "USD SOFR",
    "value date": VALUE_DATE,
    "currency": "USD",
    "interpolation": "LinearLogDf",
    "instruments": {
        "generator": ["USD SOFR SW"] * len(QUOTES),
        "tenor": [tenor for tenor, _ in QUOTES],
        "quote": [quote for _, quote in QUOTES],
        "in use": [True] * len(QUOTES),
    },
}


def leg(is_fixed, is_paid, **trade):
    """A leg on the built-in USD SOFR swap conventions with the trade's numbers."""
    return {**leg_conventions("USD SOFR SW", fixed=is_fixed), "is paid": is_paid, **trade}


# Pay fixed 3.25% against SOFR on 10 million for five years from spot.
SWAP = {
    "id": "USD 5Y payer",
    "effective date": dt.date(2026, 12, 10),
    "termination date": dt.date(2031, 12, 10),
    "schedule roll": "backward",
    "leg1": leg(True, True, rate=0.0325, notional=10_000_000.0),
    "leg2": leg(False, False, index="SOFR", margin=0.0, notional=10_000_000.0),
}


def table(title, headers, rows):
    """Print rows as a table with right-aligned columns."""
    cells = [[str(h) for h in headers]] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(headers))]
    line = "  ".join("-" * w for w in widths)
    print(f"\n{title}")
    print("  ".join(h.rjust(w) for h, w in zip(cells[0], widths, strict=True)))
    print(line)
    for row in cells[1:]:
        print("  ".join(c.rjust(w) for c, w in zip(row, widths, strict=True)))


def main():
    curve = tessarin.YieldCurve(CURVE)
    dates = curve.dates()
    table(
        f"Curve {curve.id} as of {curve.value_date.isoformat()}",
        ["Tenor", "Quote %", "Pillar", "Zero rate %", "Discount factor"],
        [
            (tenor, f"{quote:.4f}", d.isoformat(), f"{100 * r:.6f}", f"{df:.10f}")
            for (tenor, quote), d, r, df in zip(
                QUOTES, dates, curve.rates(), curve.dfs(dates), strict=True
            )
        ],
    )
    in_two_years = dt.date(2028, 12, 8)
    table(
        "Rates read off the curve",
        ["Zero rate 3Y %", "1Y forward in 2Y % (ACT/360)"],
        [
            (
                f"{100 * curve.zero_rate(dt.date(2029, 12, 10)):.6f}",
                f"{100 * curve.forward_rate(in_two_years, dt.date(2029, 12, 10)):.6f}",
            )
        ],
    )

    swap = tessarin.IRS(SWAP)
    ccy = swap.currency
    pv = swap.price(curve)
    table(
        f"Swap {swap.id} ({ccy})",
        ["Leg1 PV", "Leg2 PV", "NPV", "Par rate %", "Annuity", "DV01 (per 1bp)"],
        [
            [f"{pv[k]:,.2f}" for k in ("Leg1 PV", "Leg2 PV", "NPV")]
            + [
                f"{100 * swap.par_rate(curve):.6f}",
                f"{swap.annuity(curve):,.2f}",
                f"{swap.dv01(curve):,.2f}",
            ]
        ],
    )

    # The package's risk is per 1bp rise of each quote, in the swap's currency.
    risk = swap.risk(curve)
    table(
        f"Key-rate risk ({ccy} per 1bp rise of each quote)",
        ["Tenor", "Leg1", "Leg2", "Net"],
        [
            (t, f"{l1:,.2f}", f"{l2:,.2f}", f"{n:,.2f}")
            for t, l1, l2, n in zip(
                risk["Tenor"], risk["Leg1"], risk["Leg2"], risk["Net"], strict=True
            )
        ],
    )

    flows = swap.cashflows(curve)
    for name in ("Leg1", "Leg2"):
        legs = flows[name]
        table(
            f"Cash flows {name}",
            [
                "Accrual start",
                "Accrual end",
                "Payment",
                "Fraction",
                "Rate %",
                "DF",
                "Cash flow",
                "PV",
            ],
            [
                (
                    s.isoformat(),
                    e.isoformat(),
                    p.isoformat(),
                    f"{a:.6f}",
                    f"{100 * r:.5f}",
                    f"{df:.8f}",
                    f"{c:,.2f}",
                    f"{v:,.2f}",
                )
                for s, e, p, a, r, df, c, v in zip(
                    legs["Accrual Start Date"],
                    legs["Accrual End Date"],
                    legs["Payment Date"],
                    legs["Day Count Fraction"],
                    legs["Rate"],
                    legs["Discount Factor"],
                    legs["Cash Flow"],
                    legs["Cash Flow PV"],
                    strict=True,
                )
            ],
        )


if __name__ == "__main__":
    main()
