"""How each built-in calendar is generated from the `holidays` package's rules.

Each built-in calendar maps to the package's calendar of the same market,
composed with others where one does not match the built-in lists:

- USGS: SIFMA's US government securities calendar (XSIF), as listed.
- US: the US federal holidays with their observed days, and the Federal
  Reserve's (XFED); a New Year's Day on a Saturday is not observed on the
  Friday before, as USD swaps have it.
- TG: TARGET's closing days (XECB), with the ECB's own holidays in Frankfurt:
  those of Hesse, and Europe Day, All Saints' Day, Christmas Eve and New
  Year's Eve as the package gives them for Luxembourg's banks.
- EN: the London Stock Exchange (XLON).
- CH: SIX Swiss Exchange (XSWX) less Christmas Eve, which the Swiss list keeps
  open.
- JP: Japan Exchange Group (XJPX).
- SG: Singapore Exchange (XSES).

The package is imported only here, when `tessarin.calendars.extend` runs.
"""

from __future__ import annotations

import datetime as dt
from collections.abc import Callable, Iterable
from typing import Any

from ._extras import install_hint


def package() -> Any:
    """The `holidays` module; ImportError naming the pip command without it."""
    try:
        import holidays
    except ImportError:
        raise ImportError("tessarin.calendars.extend needs the holidays package: "
                          f"{install_hint('calendars')}") from None
    return holidays


def _named(calendar: Any, names: Iterable[str]) -> set[dt.date]:
    wanted = tuple(names)
    return {day for day, name in calendar.items() if any(w in name for w in wanted)}


def _usgs(h: Any, years: list[int]) -> set[dt.date]:
    return set(h.financial_holidays("XSIF", years=years))


def _us(h: Any, years: list[int]) -> set[dt.date]:
    federal = {day for day in h.country_holidays("US", years=years)
               if (day.month, day.day) != (12, 31)}
    return federal | set(h.financial_holidays("XFED", years=years))


def _tg(h: Any, years: list[int]) -> set[dt.date]:
    luxembourg = h.country_holidays("LU", years=years, categories=("public", "bank"),
                                    language="en_US")
    return (set(h.financial_holidays("XECB", years=years))
            | set(h.country_holidays("DE", subdiv="HE", years=years))
            | _named(luxembourg, ("Europe Day", "All Saints", "Christmas Eve", "New Year's Eve")))


def _en(h: Any, years: list[int]) -> set[dt.date]:
    return set(h.financial_holidays("XLON", years=years))


def _ch(h: Any, years: list[int]) -> set[dt.date]:
    six = h.financial_holidays("XSWX", years=years, language="en_US")
    return set(six) - _named(six, ("Christmas Eve",))


def _jp(h: Any, years: list[int]) -> set[dt.date]:
    return set(h.financial_holidays("XJPX", years=years))


def _sg(h: Any, years: list[int]) -> set[dt.date]:
    return set(h.financial_holidays("XSES", years=years))


# Built-in calendar -> (its rules, the package calendars whose last year bounds them).
RULES: dict[str, tuple[Callable[[Any, list[int]], set[dt.date]], tuple[str, ...]]] = {
    "USGS": (_usgs, ("XSIF",)),
    "US": (_us, ("XFED", "US")),
    "TG": (_tg, ("XECB", "DE", "LU")),
    "EN": (_en, ("XLON",)),
    "CH": (_ch, ("XSWX",)),
    "JP": (_jp, ("XJPX",)),
    "SG": (_sg, ("XSES",)),
}


def last_year(h: Any, name: str) -> int:
    """The last year the package has rules for, for every calendar `name` is made of."""
    last = []
    for code in RULES[name][1]:
        kind = h.financial_holidays if code.startswith("X") else h.country_holidays
        last.append(int(kind(code).end_year))
    return min(last)


def generate(h: Any, name: str, first: int, last: int) -> list[dt.date]:
    """The holidays of calendar `name` from year `first` to `last`, ascending."""
    years = list(range(first, last + 1))
    return sorted(day for day in RULES[name][0](h, years) if first <= day.year <= last)
