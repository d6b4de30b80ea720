"""Shapes of the inputs and results that travel through `tessarin`."""

from __future__ import annotations

import datetime as dt
import os
from collections.abc import Mapping
from itertools import repeat
from operator import truediv
from typing import Any, TypedDict

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
    Unit: str
    Currency: str
RiskResult.__doc__ = ("Key-rate risk: per curve instrument (Tenor), the change of each leg's PV "
                      "and of the NPV for a 1bp rise of its quote, in the swap's currency; "
                      '"Unit" is "per 1bp" and "Currency" the currency.')

RISK_UNIT = "per 1bp"
"""The unit of every risk number of the package: the PV change for a 1bp rise of a quote."""

BASIS_POINTS_PER_QUOTE_UNIT = 100.0
"""Curve quotes are in percent: `_tessarin`'s risk per 1.00 of quote is per 100bp."""


def risk_per_bp(risk: Mapping[str, Any], currency: str) -> RiskResult:
    """A risk result per 1bp: `risk` as it is when it carries the package's "Unit", else
    `_tessarin`'s per 1.00 of quote divided by 100, as `_tessarin.Book` divides it. The
    result shares the "Tenor" list of `risk`."""
    ours = risk.get("Unit") == RISK_UNIT
    scale = repeat(1.0 if ours else BASIS_POINTS_PER_QUOTE_UNIT)
    # Divided, not multiplied by 0.01: the same bits as the book's table.
    return {"Tenor": risk["Tenor"], "Leg1": list(map(truediv, risk["Leg1"], scale)),
            "Leg2": list(map(truediv, risk["Leg2"], scale)),
            "Net": list(map(truediv, risk["Net"], scale)), "Unit": RISK_UNIT,
            "Currency": str(risk.get("Currency") or currency) if ours else currency}


def unit_attrs(frame: Any, unit: str | None, currencies: Any) -> Any:
    """`frame` with ``attrs["unit"]`` (unless None: amounts) and ``attrs["currency"]``: the
    one currency of its rows, or their currencies joined by ", " in order of first row when
    there are several (each row then names its own in a "Currency" column)."""
    found = list(dict.fromkeys(str(c) for c in currencies if c is not None))
    if unit is not None:
        frame.attrs["unit"] = unit
    frame.attrs["currency"] = ", ".join(found)
    return frame

CashFlowTable = dict[str, list[dt.date] | list[float] | list[str]]
"""One leg's priced schedule, column name -> values, one per period."""

CashFlows = dict[str, CashFlowTable]
"""The priced schedules of both legs: {"Leg1": table, "Leg2": table}."""


# The floating leg's names in `_tessarin`'s cash-flow tables, and the package's.
_FLOW_NAMES = {"Estimated Rate": "Rate", "Spread": "Margin"}


def signed_flows(table: Mapping[str, list[Any]], paid: bool) -> CashFlowTable:
    """One leg of `_tessarin`'s cash flows (amounts unsigned) as the package shows it: a
    "Pay/Receive" column, the columns of `Book.cashflows` in its order, "Cash Flow" and
    "Cash Flow PV" negative when paid; a floating leg keeps its native "Estimated Rate" and
    "Spread" at the end."""
    size = len(next(iter(table.values()), []))
    sign = -1.0 if paid else 1.0
    out: dict[str, Any] = {"Pay/Receive": ["Pay" if paid else "Receive"] * size}
    for name, values in table.items():
        if name in ("Cash Flow", "Cash Flow PV"):
            if "Margin" not in out:
                out["Margin"] = [0.0] * size
            out[name] = [sign * value for value in values]
        else:
            out[_FLOW_NAMES.get(name, name)] = list(values)
    for name in _FLOW_NAMES:
        if name in table:
            out[name] = list(table[name])
    return out


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
