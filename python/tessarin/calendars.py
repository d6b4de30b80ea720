"""Holiday calendars supplied by the user, for the whole process.

The built-in lists end after a few years; after the last listed year only
weekends are closed (and `tessarin.CalendarCoverageWarning` says so). `load`
reads longer lists from a file, `register` takes them from Python. Curves and
swaps built afterwards use the new lists; objects built before keep theirs.
"""

from __future__ import annotations

import csv
from collections.abc import Iterable, Sequence
from pathlib import Path

import _tessarin

from . import conventions
from ._inputs import InputError, as_date, key_path, read_json
from ._types import DateLike, PathLike, one_line, quoted


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
    ``{"holidays": [...], "weekend": ["Friday", "Saturday"]}``. CSV: rows of
    ``calendar,date`` (a header row ``calendar,date`` is allowed). By default
    the dates extend a registered calendar of that name; ``extend=False``
    replaces its list.
    """
    source = str(path)
    lists: dict[str, list[DateLike]] = {}
    weekends: dict[str, list[int | str] | None] = {}
    if Path(path).suffix.lower() == ".csv":
        try:
            with open(path, newline="", encoding="utf-8") as file:
                rows = list(csv.reader(file))
        except OSError as error:
            raise InputError("", f"cannot read the file ({error.strerror or error})",
                             source) from None
        except UnicodeDecodeError:
            raise InputError("", "cannot read the file: expected UTF-8 text", source) from None
        except csv.Error as error:
            raise InputError("", f"cannot read the CSV file ({one_line(error)})",
                             source) from None
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

