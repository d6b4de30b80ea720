"""Tessarin: OIS curves and swaps, with pickling, JSON, DataFrames, plots and a CLI.

`YieldCurve` and `IRS` wrap the extension types of `_tessarin` with the same
methods and results, and keep their input so that they can be pickled,
copied, saved as JSON and loaded again. `tessarin.conventions` lists the
registered generators, indices and calendars, `tessarin.calendars` registers
longer holiday lists; `tessarin.frames` (pandas) and
`tessarin.plot` (matplotlib) are optional. `tessarin.Book` prices and risks
whole books natively on every core; `tessarin.scenarios` and
`tessarin.revaluation` revalue them under market scenarios; `tessarin.explain` holds
their gamma, theta and P&L explain.
"""

from typing import Any

from . import calendars
from ._fixings import Fixings
from ._inputs import CalendarCoverageWarning, InputError, InputWarning
from ._objects import IRS, YieldCurve
from ._types import CashFlows, DateLike, FixingSeries, PriceResult, RiskResult
from .book import Book
from .files import Trade, load_fixings, load_market, load_trades

__all__ = [
    "IRS",
    "Book",
    "CalendarCoverageWarning",
    "CashFlows",
    "DateLike",
    "FixingSeries",
    "Fixings",
    "InputError",
    "InputWarning",
    "PriceResult",
    "RiskResult",
    "Trade",
    "YieldCurve",
    "__version__",
    "calendars",
    "explain",
    "load_fixings",
    "load_market",
    "load_trades",
    "revaluation",
    "scenarios",
]



# Imported on first use: pricing a book needs none of them.
_SUBMODULES = ("explain", "revaluation", "scenarios")


def __getattr__(name: str) -> Any:
    if name in _SUBMODULES:
        from importlib import import_module

        return import_module(f"{__name__}.{name}")
    # The version is read from the installed metadata on first use: reading it costs more
    # than the rest of the import, and most runs never ask.
    if name == "__version__":
        from importlib import metadata

        try:
            version = metadata.version("tessarin")
        except metadata.PackageNotFoundError:  # run from a source tree
            version = "0+unknown"
        globals()["__version__"] = version
        return version
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), *_SUBMODULES, "__version__"})
