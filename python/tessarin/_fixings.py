"""`Fixings`: past index fixings, checked and converted once."""

from __future__ import annotations

import copy
import datetime as dt
from collections.abc import Mapping
from typing import Any

from ._inputs import check_fixings


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
