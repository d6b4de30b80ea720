"""`Fixings`: past index fixings, checked and converted once."""

from __future__ import annotations

import copy
import datetime as dt
import re
from collections.abc import Mapping
from typing import Any

import _tessarin

from ._inputs import InputError, check_fixings


class Fixings(dict[str, Any]):
    """Past fixings by index name, {"SOFR": {"dates": [...], "values": [...]}},
    checked once: dates become `datetime.date`, values finite floats, and a
    value beyond ±1 (a rate in percent) raises `tessarin.InputError`, or warns
    with ``strict=False``. Pass one object to many `IRS.price`, `risk` and
    `cashflows` calls: it is not checked or copied again. It is the dict that
    goes to `_tessarin` as it is: treat it as read-only.
    """

    def __init__(self, fixings: Mapping[str, Any], *, strict: bool = True) -> None:
        super().__init__(fixings if isinstance(fixings, Fixings)
                         else check_fixings(fixings, "", strict))

    @classmethod
    def checked(cls, data: dict[str, Any]) -> Fixings:
        """An object around fixings that `check_fixings` has already checked."""
        fixings = cls.__new__(cls)
        dict.update(fixings, data)
        return fixings

    @classmethod
    def of(cls, fixings: Mapping[str, Any] | None) -> Fixings | None:
        """`fixings` as a checked object (itself when it is one already)."""
        if fixings is None or isinstance(fixings, Fixings):
            return fixings
        return cls(fixings)

    def since(self, indices: tuple[str, ...], first: dt.date) -> dict[str, Any]:
        """The fixings of `indices` dated `first` or later, in their order (the first entry
        of a date still counts first); kept for the next call with the same arguments."""
        cache: dict[tuple[tuple[str, ...], dt.date], dict[str, Any]] = self.__dict__.setdefault(
            "_since", {})
        found = cache.get((indices, first))
        if found is None:
            found = {}
            for name in indices:
                if name in self:
                    dates, values = self[name]["dates"], self[name]["values"]
                    kept = [i for i, day in enumerate(dates) if day >= first]
                    found[name] = {"dates": [dates[i] for i in kept],
                                   "values": [values[i] for i in kept]}
            if len(cache) >= 64:
                cache.clear()
            cache[(indices, first)] = found
        return found

    @property
    def native(self) -> dict[str, Any]:
        """The dict handed to `_tessarin`: this object itself."""
        return self

    def to_dict(self) -> dict[str, Any]:
        """A deep copy of the checked fixings, as a plain dict."""
        return copy.deepcopy(dict(self))

    def __repr__(self) -> str:
        counts = ", ".join(f"{name}: {len(s['dates'])}" for name, s in self.items())
        return f"<tessarin.Fixings {counts}>"


# The library's words for a fixing it needs and was not given.
_NO_FIXINGS = re.compile(r"No fixings for index (.+)")
_NO_FIXING = re.compile(r"Fixing is required for date ([0-9-]+)")


def missing_fixings(error: BaseException, swap: _tessarin.IRS, value_date: dt.date | None,
                    fixings: Mapping[str, Any] | None) -> InputError | None:
    """The InputError of a swap priced without a fixing it needs: the index, the first missing
    date and how many of the dates `required_fixings` lists are missing. None when `error`
    is about something else."""
    text = str(error)
    none_given, one_missing = _NO_FIXINGS.fullmatch(text), _NO_FIXING.fullmatch(text)
    if none_given is None and one_missing is None:
        return None
    hint = "IRS.required_fixings lists them; --fixings gives them on the command line"
    needed = {} if value_date is None else (_tessarin.irs_required_fixings(swap, value_date)
                                            or {})
    for index, dates in needed.items():
        series = (fixings or {}).get(index)
        given = set() if series is None else set(series["dates"])
        # A fixing of the value date itself may be left out: the curve estimates it.
        missing = [d for d in dates if d not in given and d < value_date]
        if missing:
            return InputError("fixings", f"no {index} fixing on {missing[0].isoformat()}, the "
                              f"first of {len(missing)} missing of the {len(dates)} dates from "
                              f"{dates[0].isoformat()} to {dates[-1].isoformat()} that the "
                              f"swap needs on {value_date.isoformat()} ({hint})")
    if none_given is not None:
        return InputError("fixings", f"no {none_given[1]} fixings are given, and the swap "
                                     f"needs some ({hint})")
    assert one_missing is not None
    return InputError("fixings", f"no fixing on {one_missing[1]}, which the swap needs ({hint})")
