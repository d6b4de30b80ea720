"""Shapes of the inputs and results that travel through `tessarin`."""

from __future__ import annotations

import datetime as dt
import os
from typing import TypedDict

DateLike = dt.date | str
"""A `datetime.date` (or datetime, whose time is dropped) or ISO text YYYY-MM-DD."""

PathLike = str | os.PathLike[str]


class FixingSeries(TypedDict):
    """Past fixings of one index: entry i of "values" (decimal) fixed on "dates"[i]."""

    dates: list[DateLike]
    values: list[float]


FixingsDict = dict[str, FixingSeries]
"""Past fixings by index name, e.g. {"SOFR": {"dates": [...], "values": [...]}}."""

PriceResult = TypedDict("PriceResult", {"Leg1 PV": float, "Leg2 PV": float, "NPV": float})
PriceResult.__doc__ = "Present value of each leg (received positive, paid negative) and their sum."

class RiskResult(TypedDict):
    Tenor: list[str]
    Leg1: list[float]
    Leg2: list[float]
    Net: list[float]
RiskResult.__doc__ = ("Key-rate risk: per curve instrument (Tenor), the change of each leg's PV "
                      "and of the NPV per 1.00 move of its quote (quotes are in percent).")

CashFlowTable = dict[str, list[dt.date] | list[float]]
"""One leg's priced schedule, column name -> values, one per period."""

CashFlows = dict[str, CashFlowTable]
"""The priced schedules of both legs: {"Leg1": table, "Leg2": table}."""


QUOTED_LENGTH = 80
"""The most characters of a bad value that a message repeats."""


def quoted(value: object) -> str:
    """repr() of a value for a message, cut to about QUOTED_LENGTH characters: a message
    names a bad value, it does not copy a megabyte of it."""
    if isinstance(value, (str, bytes)) and len(value) > QUOTED_LENGTH:
        return repr(value[:QUOTED_LENGTH - 5]) + "..."
    try:
        text = repr(value)
    except Exception:  # a value whose repr() fails is still named
        return "<unknown>"
    return text if len(text) <= QUOTED_LENGTH else text[:QUOTED_LENGTH - 3] + "..."


def one_line(error: BaseException) -> str:
    """The text of an error from a reader as one line, cut to a few hundred characters."""
    text = " ".join(str(error).split()) or type(error).__name__
    return text if len(text) <= 4 * QUOTED_LENGTH else text[:4 * QUOTED_LENGTH - 3] + "..."
