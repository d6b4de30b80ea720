"""The conventions compiled into `_tessarin`, as data.

The extension module registers its calendars, overnight indices and swap
generators at import but has no way to list them, so the names and their main
terms are kept here, in one place, for ``tessarin conventions``, for input
checks and for `tessarin.IRS`'s ``generator`` shorthand.
"""

from __future__ import annotations

from collections.abc import Mapping
from dataclasses import dataclass
from types import MappingProxyType
from typing import Any


@dataclass(frozen=True)
class Calendar:
    """A built-in holiday calendar: weekends plus explicit holiday lists."""

    name: str
    description: str
    years: str
    """Years with listed holidays; outside them only weekends are closed."""


@dataclass(frozen=True)
class Index:
    """A built-in overnight index."""

    name: str
    currency: str
    calendar: str
    day_count: str


@dataclass(frozen=True)
class Generator:
    """A built-in OIS swap convention: leg1 pays fixed, leg2 receives the index."""

    name: str
    currency: str
    index: str
    start_delay: int
    """Spot lag of curve instruments, in business days of `calendar`."""
    calendar: str
    frequency: str
    day_count: str
    accrual_adjustment: str
    pay_adjustment: str
    pay_lag: int


CALENDARS: Mapping[str, Calendar] = MappingProxyType({
    c.name: c for c in (
        Calendar("USGS", "US government securities market (SOFR fixing days)", "2026-2027"),
        Calendar("US", "United States banking days (USD swaps)", "2026-2030"),
        Calendar("SG", "Singapore", "2026"),
        Calendar("TG", "TARGET, euro area", "2026-2028"),
        Calendar("EN", "England", "2026-2028"),
        Calendar("JP", "Japan", "2026-2027"),
        Calendar("CH", "Switzerland", "2026-2028"),
    )
})
"""Built-in calendars by name. A calendar field may also join names with
commas ("US,EN"), which means the union of their holidays."""

INDICES: Mapping[str, Index] = MappingProxyType({
    i.name: i for i in (
        Index("SOFR", "USD", "USGS", "Act/360"),
        Index("SORA", "SGD", "SG", "Act/365F"),
        Index("SONIA", "GBP", "EN", "Act/365F"),
        Index("ESTR", "EUR", "TG", "Act/360"),
        Index("SARON", "CHF", "CH", "Act/360"),
        Index("TONA", "JPY", "JP", "Act/365F"),
    )
})
"""Built-in overnight indices by name."""

GENERATORS: Mapping[str, Generator] = MappingProxyType({
    g.name: g for g in (
        Generator("USD SOFR SW", "USD", "SOFR", 2, "US", "1Y", "ACT/360",
                  "Modified Following", "Following", 2),
        Generator("SGD SORA SW", "SGD", "SORA", 2, "SG", "6M", "ACT/365F",
                  "Modified Following", "Following", 2),
        Generator("GBP SONIA SW", "GBP", "SONIA", 0, "EN", "1Y", "ACT/365F",
                  "Modified Following", "Following", 0),
        Generator("EUR ESTR SW", "EUR", "ESTR", 2, "TG", "1Y", "ACT/360",
                  "Modified Following", "Following", 2),
        Generator("CHF SARON SW", "CHF", "SARON", 2, "CH", "1Y", "ACT/360",
                  "Modified Following", "Following", 2),
        Generator("JPY TONA SW", "JPY", "TONA", 2, "JP", "1Y", "ACT/365F",
                  "Modified Following", "Following", 2),
    )
})
"""Built-in swap generators by name; curve instruments name one of these."""

INTERPOLATIONS: tuple[str, ...] = ("LinearLogDf", "LinearRates")
"""Curve interpolations (names are matched ignoring case); the first is the default."""


def leg_conventions(generator: str, *, fixed: bool) -> dict[str, Any]:
    """The leg keys of a swap dict that `generator` fixes, for its fixed
    (leg1) or floating (leg2) leg: currency, calendars, frequency, day count,
    adjustments, pay lag, "is fixed" and, for the floating leg, "index".

    Raises KeyError for an unknown generator.
    """
    g = GENERATORS[generator]
    leg: dict[str, Any] = {
        "currency": g.currency,
        "calendar": g.calendar,
        "frequency": g.frequency,
        "day count convention": g.day_count,
        "accrual adjustment": g.accrual_adjustment,
        "accrual calendar": g.calendar,
        "pay adjustment": g.pay_adjustment,
        "pay calendar": g.calendar,
        "pay lag": g.pay_lag,
        "is fixed": fixed,
    }
    if not fixed:
        leg["index"] = g.index
    return leg
