"""The conventions registered in `_tessarin`, as data.

Generators, indices and calendars come from the extension module's own
listing (`_tessarin.conventions()`), read again after a calendar is
registered; only the human descriptions of the calendars are kept here. They
serve ``tessarin conventions``, the input checks and `tessarin.IRS`'s
``generator`` shorthand.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator, Mapping
from dataclasses import dataclass
from typing import Any, Generic, TypeVar

import _tessarin

WEEKDAYS = ("Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday")
"""Day names by the library's day numbers, 0 = Sunday."""

DESCRIPTIONS: Mapping[str, str] = {
    "USGS": "US government securities market (SOFR fixing days)",
    "US": "United States banking days (USD swaps)",
    "SG": "Singapore",
    "TG": "TARGET, euro area",
    "EN": "England",
    "JP": "Japan",
    "CH": "Switzerland",
}
"""What the built-in calendars stand for."""


@dataclass(frozen=True)
class Calendar:
    """A registered holiday calendar: weekends plus explicit holiday lists."""

    name: str
    description: str
    first_year: int | None
    last_year: int | None
    """Last year with listed holidays; after it only weekends are closed."""
    weekend: tuple[str, ...]
    coverage: tuple[tuple[int, int, str], ...] = ()
    """Runs of listed years, (first, last, source), in the order they were
    added; the source is "built-in", "rules" (`tessarin.calendars.extend`) or
    "user"."""

    @property
    def sources(self) -> str:
        """Where each run of years comes from, e.g. "2026-2030 built-in, 2031-2100 rules"."""
        runs = [f"{first}-{last} {source}" if first != last else f"{first} {source}"
                for first, last, source in self.coverage]
        return ", ".join(runs) or "none"

    @property
    def years(self) -> str:
        """The years with listed holidays, e.g. "2026-2030"."""
        if self.first_year is None or self.last_year is None:
            return "none"
        if self.first_year == self.last_year:
            return str(self.first_year)
        return f"{self.first_year}-{self.last_year}"


@dataclass(frozen=True)
class Index:
    """A registered overnight index."""

    name: str
    currency: str
    calendar: str
    day_count: str


@dataclass(frozen=True)
class Generator:
    """A registered OIS swap convention: leg1 pays fixed, leg2 receives the index."""

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


@dataclass(frozen=True)
class FuturesGenerator:
    """A registered overnight-index futures convention: curve rows name it with a contract
    month, YYYY-MM, and quote the price, 100 minus the rate in percent."""

    name: str
    currency: str
    index: str
    months: int
    """Length of the reference period: 1 (a calendar month) or 3 (an IMM quarter)."""
    averaging: str
    """"Arithmetic" (every calendar day of the month) or "Compounded"."""


_listing: dict[str, Any] | None = None


def listing() -> dict[str, Any]:
    """The extension module's listing, read once and again after `refresh`."""
    global _listing
    if _listing is None:
        _listing = _tessarin.conventions()
    return _listing


def refresh() -> None:
    """Forget the listing; called after calendars are registered."""
    global _listing
    _listing = None


_T = TypeVar("_T")


class _Table(Mapping[str, _T], Generic[_T]):
    """A read-only view by name of one part of the listing, kept current."""

    def __init__(self, build: Callable[[dict[str, Any]], dict[str, _T]]) -> None:
        self._build = build
        self._seen: dict[str, Any] | None = None
        self._items: dict[str, _T] = {}

    def _current(self) -> dict[str, _T]:
        source = listing()
        if source is not self._seen:
            self._items, self._seen = self._build(source), source
        return self._items

    def __getitem__(self, name: str) -> _T:
        return self._current()[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._current())

    def __len__(self) -> int:
        return len(self._current())

    def __repr__(self) -> str:
        return repr(self._current())


def _weekend(days: list[int]) -> tuple[str, ...]:
    # Monday first, so that a Saturday-and-Sunday weekend reads that way.
    return tuple(WEEKDAYS[d] for d in sorted(days, key=lambda d: (d + 6) % 7))


def _calendars(source: dict[str, Any]) -> dict[str, Calendar]:
    return {c["name"]: Calendar(c["name"], DESCRIPTIONS.get(c["name"], "user calendar"),
                                c["first year"], c["last year"], _weekend(c["weekend"]),
                                tuple((s["first year"], s["last year"], s["source"])
                                      for s in c.get("coverage", ())))
            for c in source["calendars"]}


def _indices(source: dict[str, Any]) -> dict[str, Index]:
    return {i["name"]: Index(i["name"], i.get("currency", ""), i.get("calendar", ""),
                             i.get("day count", ""))
            for i in source["indices"]}


def _generators(source: dict[str, Any]) -> dict[str, Generator]:
    table = {}
    for g in source["generators"]:
        if g.get("type") == "future":
            continue
        fixed, floating = g.get("leg1") or {}, g.get("leg2") or {}
        table[g["name"]] = Generator(
            g["name"], fixed.get("currency", g.get("currency", "")),
            floating.get("index", g.get("index", "")),
            g.get("start delay", 0), g.get("calendar", ""), fixed.get("frequency", ""),
            fixed.get("day count convention", ""), fixed.get("accrual adjustment", ""),
            fixed.get("pay adjustment", ""), fixed.get("pay lag", 0))
    return table


def _futures(source: dict[str, Any]) -> dict[str, FuturesGenerator]:
    return {g["name"]: FuturesGenerator(g["name"], g["currency"], g["index"], g["months"],
                                        g["averaging"])
            for g in source["generators"] if g.get("type") == "future"}


CALENDARS: Mapping[str, Calendar] = _Table(_calendars)
"""Registered calendars by name. A calendar field may also join names with
commas ("US,EN"), which means the union of their holidays."""

INDICES: Mapping[str, Index] = _Table(_indices)
"""Registered overnight indices by name."""

GENERATORS: Mapping[str, Generator] = _Table(_generators)
"""Registered swap generators by name; curve instruments name one of these."""

FUTURES: Mapping[str, FuturesGenerator] = _Table(_futures)
"""Registered overnight-index futures generators by name; curve rows may name these too."""


def interpolations() -> tuple[str, ...]:
    """Curve interpolation names (matched ignoring ASCII case)."""
    return tuple(listing()["interpolations"])


def leg_conventions(generator: str, *, fixed: bool) -> dict[str, Any]:
    """The leg keys of a swap dict that `generator` fixes, for its fixed
    (leg1) or floating (leg2) leg: currency, calendars, frequency, day count,
    adjustments, pay lag, "is fixed" and, for the floating leg, "index".

    Raises KeyError for an unknown generator.
    """
    for g in listing()["generators"]:
        if g["name"] == generator:
            leg = dict(g["leg1" if fixed else "leg2"])
            leg.pop("is paid", None)
            return leg
    raise KeyError(generator)
