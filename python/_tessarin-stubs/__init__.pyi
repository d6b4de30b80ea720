"""Interest-rate analytics for overnight-indexed markets: OIS curves and swaps.

Inputs are plain dicts (see the `tessarin` package for wrappers that keep
them); failures in the library are raised as RuntimeError with its message.
"""

import datetime
from typing import Any, TypedDict, final

class _FixingSeries(TypedDict):
    dates: list[datetime.date]
    values: list[float]

_Fixings = dict[str, _FixingSeries]

_PriceResult = TypedDict("_PriceResult", {"Leg1 PV": float, "Leg2 PV": float, "NPV": float})
class _RiskResult(TypedDict):
    Tenor: list[str]
    Leg1: list[float]
    Leg2: list[float]
    Net: list[float]
_CashFlowTable = dict[str, list[datetime.date] | list[float]]
_CashFlows = dict[str, _CashFlowTable]

@final
class YieldCurve:
    """A zero curve bootstrapped from quoted overnight-indexed swaps.

    The dict holds "id", "currency", "value date", optionally "interpolation"
    ("LinearLogDf" by default, or "LinearRates") and "instruments" with the
    equal-length lists "generator", "tenor", "quote" (percent) and "in use".
    """

    def __init__(self, curve: dict[str, Any], /) -> None: ...
    def df(self, date: datetime.date, /) -> float:
        """Return the discount factor for the given date"""
    def dates(self) -> list[datetime.date]:
        """Returns the curve's relevant dates."""
    def rates(self) -> list[float]:
        """Returns the curve's zero rates corresponding to the relevant dates."""

@final
class IRS:
    """An interest rate swap built from one flat dict: "id", "effective date",
    "termination date", "schedule roll" and the conventions and trade data of
    "leg1" and "leg2"."""

    def __init__(self, swap: dict[str, Any], /) -> None: ...
    def price(self, yield_curve: YieldCurve, fixings: _Fixings = ...) -> _PriceResult:
        """Return the net present value of the interest rate swap."""
    def risk(self, yield_curve: YieldCurve, fixings: _Fixings = ...) -> _RiskResult:
        """Return the key rate sensitivities per leg of the interest rate swap."""
    def cashflows(
        self, yield_curve: YieldCurve = ..., fixings: _Fixings = ...
    ) -> _CashFlows:
        """Returns the cash flows of both legs."""
    def required_fixings(self, date: datetime.date, /) -> dict[str, list[datetime.date]] | None:
        """Returns dictionary with dates."""

def conventions() -> dict[str, list[Any]]:
    """The registered generators (with both legs' conventions), indices, calendars (with the
    first and last year of their holiday lists and their weekend days, 0 = Sunday) and curve
    interpolations."""

def check_input(kind: str, value: Any, /) -> Any:
    """The value as the library reads an input of this kind (bool, int, number, date, text,
    tenor, calendar, interpolation, business day, day count, generator, index); RuntimeError
    with the library's message otherwise."""

def register_calendar(
    name: str, holidays: list[datetime.date], weekend: list[int] | None = ..., extend: bool = ...
) -> None:
    """Registers a holiday calendar for the process, in place of any calendar of that name;
    with extend, the holidays are added to the registered calendar's list."""
