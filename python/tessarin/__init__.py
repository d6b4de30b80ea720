"""Tessarin: OIS curves and swaps, with pickling, JSON, DataFrames, plots and a CLI.

`YieldCurve` and `IRS` wrap the extension types of `_tessarin` with the same
methods and results, and keep their input so that they can be pickled,
copied, saved as JSON and loaded again. `tessarin.conventions` lists the
built-in generators, indices and calendars; `tessarin.frames` (pandas) and
`tessarin.plot` (matplotlib) are optional.
"""

from __future__ import annotations

from importlib import metadata

from ._inputs import InputError
from ._objects import IRS, YieldCurve
from .book import Book
from ._types import CashFlows, DateLike, Fixings, FixingSeries, PriceResult, RiskResult
from .files import Trade, load_fixings, load_market, load_trades

__all__ = [
    "IRS",
    "Book",
    "CashFlows",
    "DateLike",
    "FixingSeries",
    "Fixings",
    "InputError",
    "PriceResult",
    "RiskResult",
    "Trade",
    "YieldCurve",
    "__version__",
    "load_fixings",
    "load_market",
    "load_trades",
]

try:
    __version__ = metadata.version("tessarin")
except metadata.PackageNotFoundError:  # run from a source tree
    __version__ = "0+unknown"
