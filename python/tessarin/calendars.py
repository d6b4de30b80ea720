"""Holiday calendars for the whole process: asked, extended and supplied.

The built-in lists end after a few years; after the last listed year only
weekends are closed (and `tessarin.CalendarCoverageWarning` says so). `extend`
generates the years after them from the `holidays` package's rules (``pip
install 'tessarin[calendars]'``); `load` reads longer lists from a file,
`register` takes them from Python. Curves and swaps built afterwards use the
new lists; objects built before keep theirs. `holidays` and `is_business_day`
ask the library's calendars, unions such as "US,EN" included.
"""

from __future__ import annotations

import csv
import datetime as dt
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import Any

import _tessarin

from . import _calendar_rules, conventions
from ._inputs import InputError, as_date, calendar_message, key_path, read_json, reading_csv
from ._types import DateLike, PathLike, quoted


def _weekday(day: int | str, path: str) -> int:
    if isinstance(day, int) and not isinstance(day, bool) and 0 <= day <= 6:
        return day
    for number, name in enumerate(conventions.WEEKDAYS):
        if isinstance(day, str) and name.casefold().startswith(day.casefold()[:3]) \
                and len(day) >= 3:
            return number
    raise InputError(path, f"expected a day name such as 'Saturday' or 0 (Sunday) to 6, "
                           f"got {quoted(day)}")


def register(name: str, holidays: Iterable[DateLike], *,
             weekend: Sequence[int | str] | None = None, extend: bool = False) -> None:
    """Register the calendar `name` with these holidays, in place of any
    calendar of that name (``extend=True`` adds them to its list instead).

    `weekend` names the closed days of each week ("Saturday", "Sunday" by
    default, or the registered calendar's when extending).
    """
    dates = [as_date(day, key_path("holidays", i)) for i, day in enumerate(holidays)]
    days = None if weekend is None else [_weekday(d, key_path("weekend", i))
                                         for i, d in enumerate(weekend)]
    try:
        _tessarin.register_calendar(name, dates, days, extend)
    except RuntimeError as error:
        raise InputError("", str(error)) from None
    finally:
        conventions.refresh()


def load(path: PathLike, *, extend: bool = True) -> list[str]:
    """Register the holiday lists of a file, by calendar name; returns the names.

    JSON: ``{"US": ["2031-01-01", ...], ...}``, or per calendar an object
    ``{"holidays": [...], "weekend": ["Friday", "Saturday"]}``, or a market
    file's ``"calendars"`` entry (see `apply`), alone or in a market file. CSV: rows of
    ``calendar,date`` (a header row ``calendar,date`` is allowed). By default
    the dates extend a registered calendar of that name; ``extend=False``
    replaces its list.
    """
    source = str(path)
    lists: dict[str, list[DateLike]] = {}
    weekends: dict[str, list[int | str] | None] = {}
    if Path(path).suffix.lower() == ".csv":
        with reading_csv(source), open(path, newline="", encoding="utf-8") as file:
            rows = list(csv.reader(file))
        for number, row in enumerate(rows, start=1):
            cells = [cell.strip() for cell in row]
            if not any(cells) or (number == 1 and [c.lower() for c in cells] == ["calendar",
                                                                                   "date"]):
                continue
            if len(cells) != 2:
                raise InputError(f"line {number}", "expected two cells: calendar,date", source)
            lists.setdefault(cells[0], []).append(cells[1])
    else:
        document = read_json(path)
        # A market file's "calendars" entry, in a market file or on its own.
        if isinstance(document, dict) and "calendars" in document \
                and set(document) <= {"calendars", "curves"}:
            try:
                apply(document["calendars"], "calendars")
            except InputError as error:
                raise InputError(error.path, error.message, source) from None
            return calendar_names(document["calendars"])
        if not isinstance(document, dict) or not document:
            raise InputError("", "expected a JSON object of holiday lists by calendar name",
                             source)
        for name, entry in document.items():
            weekend = None
            if isinstance(entry, dict):
                weekend = entry.get("weekend")
                entry = entry.get("holidays", [])
            if not isinstance(entry, list):
                raise InputError(key_path("", name), "expected a list of dates", source)
            lists[name], weekends[name] = entry, weekend
    for name, dates in lists.items():
        known = name in conventions.CALENDARS
        try:
            register(name, dates, weekend=weekends.get(name), extend=extend and known)
        except InputError as error:
            raise InputError(key_path("", name), error.message, source) from None
    return list(lists)



# Generated lists: the years after the built-in lists, from the holidays package's rules.

BUILT_IN = tuple(_calendar_rules.RULES)
"""The built-in calendars that `extend` can generate."""


def extend(through: int = 2100, *, calendars: Iterable[str] | None = None) -> dict[str, int]:
    """Generate the holidays of every year after each built-in calendar's
    coverage, up to `through`, from the rules of the `holidays` package
    (``pip install 'tessarin[calendars]'``); returns the years added by calendar.

    `calendars` names some of the built-in calendars (all of them by default).
    The built-in lists stay as they are within their years, and years already
    covered (generated before, or listed by the user) are kept. A calendar is
    generated no further than the package has rules (JP through 2099). Curves
    and swaps built afterwards use the longer lists; a second call with nothing
    left to add costs nothing.
    """
    if isinstance(through, bool) or not isinstance(through, int):
        raise InputError("through", f"expected a year, got {through!r}")
    names = list(BUILT_IN if calendars is None else
                 [calendars] if isinstance(calendars, str) else calendars)
    for i, name in enumerate(names):
        if name not in _calendar_rules.RULES:
            raise InputError(key_path("calendars", i),
                             f"no holiday rules for {name!r} (rules exist for "
                             f"{', '.join(BUILT_IN)})")
    package = _calendar_rules.package()
    added: dict[str, int] = {}
    try:
        for name in names:
            first = (conventions.CALENDARS[name].last_year or 0) + 1
            last = min(through, _last_rule_year(package, name))
            if first > last:
                continue
            days = _calendar_rules.generate(package, name, first, last)
            _tessarin.extend_calendar(name, days, first, last, "rules")
            added[name] = last - first + 1
    finally:
        if added:
            conventions.refresh()
    return added


_rule_years: dict[str, int] = {}


def _last_rule_year(package: Any, name: str) -> int:
    if name not in _rule_years:
        _rule_years[name] = _calendar_rules.last_year(package, name)
    return _rule_years[name]


def holidays(name: str, start: DateLike, end: DateLike) -> list[dt.date]:
    """The listed holidays of calendar `name` (or a union such as "US,EN") from
    `start` to `end` inclusive: built-in, generated and user lists alike.
    Weekends are not listed; a listed holiday that falls on one is."""
    first, last = as_date(start, "start"), as_date(end, "end")
    try:
        return _tessarin.calendar_holidays(name, first, last)
    except RuntimeError as error:
        raise InputError("", calendar_message(name, error)) from None


def is_business_day(name: str, date: DateLike) -> bool:
    """Whether calendar `name` (or a union such as "US,EN") is open on `date`."""
    day = as_date(date, "date")
    try:
        return _tessarin.is_business_day(name, day)
    except RuntimeError as error:
        raise InputError("", calendar_message(name, error)) from None


# The "calendars" of a market file, and of a file given with --calendars.

_SPEC_KEYS = ("extend through", "calendars", "name", "holidays", "weekend", "extend")


def apply(setting: Any, where: str = "calendars") -> None:
    """Apply the "calendars" entry of a market file: ``{"extend through": 2100}``
    (optionally with "calendars": [names]), a user calendar ``{"name",
    "holidays", "weekend", "extend"}``, or a list of these, in order."""
    entries = setting if isinstance(setting, list) else [setting]
    for i, entry in enumerate(entries):
        path = key_path(where, i) if isinstance(setting, list) else where
        if not isinstance(entry, dict):
            raise InputError(path, 'expected an object with "extend through" or "name" and '
                                   '"holidays"')
        unknown = [key for key in entry if key not in _SPEC_KEYS]
        if unknown:
            raise InputError(key_path(path, unknown[0]),
                             f"unknown key {unknown[0]!r} (known: {', '.join(_SPEC_KEYS)})")
        if "extend through" in entry:
            if "name" in entry or "holidays" in entry:
                raise InputError(path, 'give "extend through" and a user calendar ("name", '
                                       '"holidays") as separate entries')
            try:
                extend(entry["extend through"], calendars=entry.get("calendars"))
            except InputError as error:
                key = "extend through" if error.path == "through" else error.path
                raise InputError(f"{path}.{key}" if key else path, error.message) from None
            except ImportError as error:
                raise InputError(key_path(path, "extend through"), str(error)) from None
            continue
        if "calendars" in entry:
            raise InputError(key_path(path, "calendars"), 'only with "extend through"')
        for key in ("name", "holidays"):
            if key not in entry:
                raise InputError(key_path(path, key), "missing key")
        name, dates = entry["name"], entry["holidays"]
        if not isinstance(name, str):
            raise InputError(key_path(path, "name"), f"expected a calendar name, got {name!r}")
        if not isinstance(dates, list):
            raise InputError(key_path(path, "holidays"), "expected a list of dates")
        extend_list = entry.get("extend", False)
        if not isinstance(extend_list, bool):
            raise InputError(key_path(path, "extend"), f"expected true or false, got "
                                                       f"{extend_list!r}")
        try:
            register(name, dates, weekend=entry.get("weekend"), extend=extend_list)
        except InputError as error:
            raise InputError(f"{path}.{error.path}" if error.path else path,
                             error.message) from None


def calendar_names(setting: Any) -> list[str]:
    """The user calendars a "calendars" entry names."""
    entries = setting if isinstance(setting, list) else [setting]
    return [e["name"] for e in entries if isinstance(e, dict) and "name" in e]


# The calendars of this process, carried to another (a Dask worker).

def state() -> list[Any]:
    """Every calendar that differs from the built-in ones, as plain data."""
    return _tessarin.calendar_state()


def adopt(calendars: list[Any]) -> None:
    """Make this process's calendars those of another process's `state()`,
    unless they already are."""
    if calendars != state():
        _tessarin.restore_calendars(calendars)
        conventions.refresh()
