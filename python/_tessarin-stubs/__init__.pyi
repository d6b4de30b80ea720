"""Interest-rate analytics for overnight-indexed markets: OIS curves and swaps.

Inputs are plain dicts (see the `tessarin` package for wrappers that keep
them); failures in the library are raised as RuntimeError with its message.
"""

import datetime
from collections.abc import Callable, Sequence
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
        """Return the key rate sensitivities per leg of the interest rate swap.

        Per 1.00 of each quote, that is per one percent (100bp) of quote."""
    def cashflows(
        self, yield_curve: YieldCurve = ..., fixings: _Fixings = ...
    ) -> _CashFlows:
        """Returns the cash flows of both legs."""
    def required_fixings(self, date: datetime.date, /) -> dict[str, list[datetime.date]] | None:
        """Returns dictionary with dates."""

def irs_analytic_risk(
    swap: IRS, yield_curve: YieldCurve, fixings: _Fixings | None = None, per_bp: bool = False
) -> _RiskResult:
    """Key-rate risk of the swap from the curve's Jacobian: the dict of IRS.risk, no bumping;
    per 1.00 of quote, or with `per_bp` divided by 100, per 1bp."""

def yield_curve_jacobian(yield_curve: YieldCurve, /) -> list[list[float]]:
    """d(pillar zero rate)/d(quote in percent): one row per pillar, one entry per curve
    instrument in input order."""

_Buffer = bytes  # native-endian float64 (int64 for offsets and days since 1970-01-01)

@final
class Book:
    """Swaps built once from trade columns, priced and risked on worker threads.

    `conventions` is a list of swap dicts whose leg conventions the trades share;
    `trades` holds equal-length lists "id", "curve", "conventions" (index into
    `conventions`), "effective date" and "termination date" (days since
    1970-01-01), "leg1 rate", "leg1 margin", "leg1 notional", "leg2 rate",
    "leg2 margin", "leg2 notional", "error column" and "error" (None, or the
    reason the row is refused before building). `curves` maps curve ids to
    `YieldCurve`s; each trade is priced on its curve as `IRS` is on one curve.
    """

    def __init__(self, conventions: list[dict[str, Any]], trades: dict[str, list[Any]],
                 curves: dict[str, YieldCurve], fixings: _Fixings | None = ...,
                 threads: int = ...) -> None: ...
    def price(self, threads: int = ...) -> dict[str, Any]:
        """"leg1", "leg2", "npv" float64 buffers, one entry per trade; "failed" rows with
        their "error column" and "error"."""
    def risk(self, method: str, threads: int = ...,
             progress: Callable[[int], object] | None = ..., ladder: bool = ...
             ) -> dict[str, Any]:
        """Key-rate risk per 1bp, one row per priced trade and curve instrument: "rows",
        float64 "leg1", "leg2", "net", and the codes "trade", "curve", "currency", "tenor"
        (integer dtypes in "dtypes") into the names of `labels`; failed rows as in price.
        With `ladder`, the rows summed by "curve", "currency" and "tenor" code instead (lists,
        in order of first appearance, each sum in row order).
        `progress(trades done)` is called every 0.1 s while the workers run; an error it
        raises, or a signal such as Ctrl-C, stops them and is raised."""
    def cashflows(self, threads: int = ...) -> dict[str, Any]:
        """Priced periods of every trade, "offsets" per trade into the columns."""
    def trades(self) -> dict[str, Any]:
        """Per trade: "currency" of leg1, "paid" flags of both legs; build failures as in
        price."""
    def labels(self) -> dict[str, list[str]]:
        """The names behind the codes of risk rows: "trade", "curve", "currency", "tenor"."""
    def rebound(self, curves: dict[str, YieldCurve], fixings: _Fixings | None = ...,
                threads: int = ...) -> Book:
        """The same trades on other curves and fixings, as a new book: nothing is built
        again; a trade whose curve id is missing keeps an error."""
    def explain_terms(self, moves: dict[str, tuple[list[float], list[float]]],
                      threads: int = ...) -> dict[str, Any]:
        """For moves {curve id: (quote changes in percent, one per instrument; the derivative
        of the curve's Jacobian along them, pillars x instruments row-major)}: float64
        "delta" (risk x change) and "gamma" (change x Hessian x changes / 2) per risk row,
        "offsets" (int64) of each trade's rows, "tenor" (int32) codes into labels()["tenor"];
        failed rows as in price."""
    def pillar_hessians(self, per_trade: bool = ..., threads: int = ...) -> dict[str, Any]:
        """The NPV's gradient and Hessian in the pillar rates of each trade's curve: summed by
        curve id in "curves" {id: {"gradient", "hessian"}} (float64 bytes), or per trade with
        "offsets" and "square offsets" (int64) into "gradient" and "hessian"."""
    def cash(self, start: int, end: int, threads: int = ...) -> dict[str, Any]:
        """Per trade, float64 "cash": the flows paid after start and on or before end (days
        since 1970-01-01), received positive, floating ones compounded from the fixings."""
    def forward_fixings(self, start: int, end: int) -> dict[str, tuple[bytes, bytes]]:
        """{index: (int64 days since 1970-01-01, float64 values)}: the fixings of the business
        days in [start, end) that the book's fixings lack, from its curves' overnight
        forwards."""

# Module functions: curve and swap analytics.

def curve_repriced(curve: YieldCurve, /) -> list[float]:
    """The quote of each pillar's instrument on the curve, in pillar order: a swap's par rate
    in percent, a futures row's price."""
def curve_zero_rate(curve: YieldCurve, date: datetime.date, /) -> float:
    """Continuously compounded zero rate of the date on ACT/365F curve time, -ln(df)/t; on
    and before the value date the rate up to the first pillar."""
def curve_forward_rate(
    curve: YieldCurve, start: datetime.date, end: datetime.date, day_count: str, /
) -> float:
    """Simply compounded forward rate (df(start)/df(end) - 1)/tau, tau under the named day
    count. ValueError for an unknown day count or an end not after the start."""
def curve_dfs(curve: YieldCurve, dates: Sequence[datetime.date], /) -> list[float]:
    """Discount factors of a sequence of datetime.date, as a list of float equal to df date
    by date."""
def fixings_from_dict(
    data: dict[str, Any], path: str, strict: bool, /
) -> tuple[
    dict[str, Any] | None,
    list[tuple[str, str, Any, tuple[str, ...] | None]],
    tuple[str, str] | None,
]:
    """Reads a fixings dict {index: {"dates": [...], "values": [...]}} as a curve's "fixings"
    are read, at path: a checked copy, dates as datetime.date and values as float, or None;
    doubts and problem as curve_from_dict gives them."""

def format_floats(values: Any, decimals: int, grouped: bool, zero: float, /) -> list[str]:
    """The texts of a contiguous float64 buffer as format(value, ",.Nf") (grouped) or ".Nf"
    gives them, N the decimals; values within zero of zero are shown as zero."""
def format_table(
    title: str, headers: list[str], columns: list[list[str]], numeric: Sequence[int], /
) -> str:
    """A titled text table of columns of str: each column padded to its widest cell, the
    columns in numeric right-aligned and the others left-aligned, two spaces apart, a rule of
    dashes under the header, and each line's trailing whitespace dropped."""
def curve_dfs_days(curve: YieldCurve, days: Any, out: Any, /) -> None:
    """Discount factors of int64 day numbers from 1970-01-01 (datetime64[D] viewed as int64),
    written into the writable float64 buffer out of the same length."""
def irs_par_rate(swap: IRS, curve: YieldCurve, fixings: _Fixings | None = None, /) -> float:
    """The fixed rate (decimal) at which the swap's NPV is zero; with two floating legs, the
    par margin of leg 2."""
def irs_annuity(swap: IRS, curve: YieldCurve, fixings: _Fixings | None = None, /) -> float:
    """PV of the fixed leg per unit of rate: the sum over unsettled periods of fraction x
    notional x discount factor."""
def irs_dv01(swap: IRS, curve: YieldCurve, fixings: _Fixings | None = None, /) -> float:
    """NPV change for a one basis point rise of every curve quote: the central difference on
    curves rebuilt from quotes moved by +-0.01 (percent)."""
def irs_required_fixings(
    swap: IRS, date: datetime.date, /
) -> dict[str, list[datetime.date] | None] | None:
    """The result of IRS.required_fixings, built without an intermediate tree."""

def scenario_engine(
    swaps: list[IRS] | Book,
    trade_curves: list[int],
    curves: list[YieldCurve],
    fixings: _Fixings | None = None,
    rows: Sequence[int] | None = None,
    threads: int = 1,
) -> tuple[object, list[float], list[str | None]]:
    """Prices swaps on their base curves for scenario revaluation: the IRS objects, or the
    built trades `rows` (default: all) of a Book; `trade_curves` indexes each swap's curve in
    `curves`. Returns (engine, base NPVs, per-swap error or None); a swap that cannot be
    priced is NaN."""

def revalue_scenarios(
    engine: object,
    scenarios: list[list[list[float] | None]],
    first: int = 0,
    last: int = -1,
    threads: int = 1,
) -> tuple[bytes, list[tuple[int, int, str]]]:
    """PnL of swaps [first, last) under scenarios of moved quotes: (float64 bytes, scenarios x
    swaps, NaN where not priced; the curves that did not build). threads: 1 to 4096."""


def conventions() -> dict[str, list[Any]]:
    """The registered generators (with both legs' conventions), indices, calendars (with the
    first and last year of their holiday lists and their weekend days, 0 = Sunday) and curve
    interpolations."""

def check_input(kind: str, value: Any, /) -> Any:
    """The value as the library reads an input of this kind (pay lag, threads, tenor);
    RuntimeError with the library's message otherwise ("threads": 1 to 4096, TypeError
    for what is not a whole number; "pay lag": at most 30 business days)."""

def curve_from_dict(
    data: dict[str, Any], path: str, strict: bool, build: bool = True, /
) -> tuple[
    YieldCurve | None,
    list[tuple[str, str, Any, tuple[str, ...] | None]],
    tuple[str, str] | None,
    str | None,
]:
    """Reads a curve dict once, checks it and writes its values back as the library reads
    them; with build, bootstraps the curve. doubts lists (kind, path, value, known) for unknown
    keys ("key"), unknown fixing indices ("index") and doubtful values ("doubt", value the
    message); a strict read stops at the first. problem is the (path, message) of an unusable
    input, failure the library's message when the bootstrap fails; curve is None unless it was
    built."""

def swap_from_dict(
    data: Any, path: str, strict: bool, generator: str | None = None, trade: bool = False,
    build: bool = False, /
) -> tuple[Any, ...]:
    """Reads a swap dict (a trade dict with trade, its "curve" returned first) into a checked
    private copy, values as the library reads them; a generator fills the leg keys the dict
    leaves out. doubts lists (kind, path, value, known) for unknown keys ("key") and doubtful
    values ("doubt", value the message); a strict read stops at the first. problem is the
    (path, message) of an unusable input; the swap is None then. With build, a fifth item: the
    IRS of the checked swap, built from its typed terms, or None when there is no swap or the
    build fails (IRS(swap) then says why)."""

def trades_from_dicts(entries: list[Any], strict: bool, columns: bool = False, /) -> Any:
    """swap_from_dict of each trade dict of a list, at the path trades[i]: (curve, swap) for a
    clean entry, (curve, swap, doubts, problem) otherwise. Conventions and dates met before are
    read once. With columns, (columns, conventions, issues): the book's columns of the trades,
    the first swap of each set of leg conventions, and (i, (curve, swap, doubts, problem)) for
    each entry that is not clean."""

def register_calendar(
    name: str, holidays: list[datetime.date], weekend: list[int] | None = ..., extend: bool = ...
) -> None:
    """Registers a holiday calendar for the process, in place of any calendar of that name;
    with extend, the holidays are added to the registered calendar's list."""

def calendar_holidays(name: str, start: datetime.date, end: datetime.date) -> list[datetime.date]:
    """The listed holidays of a calendar (or a union such as "US,EN") from start to end
    inclusive; weekends are not listed."""

def is_business_day(name: str, date: datetime.date) -> bool:
    """Whether the calendar (or union) opens on date."""

def extend_calendar(
    name: str, holidays: list[datetime.date], first_year: int, last_year: int, source: str
) -> None:
    """Adds holidays to a registered calendar's list, recording that they cover first_year to
    last_year and come from source ("rules" or "user")."""

CalendarState = tuple[str, list[int], list[int], list[int], list[tuple[int, int, str]]]

def calendar_state() -> list[CalendarState]:
    """The calendars that differ from the built-in ones (name, weekend days, holidays and
    business days as day numbers, coverage), for restore_calendars in another process."""

def restore_calendars(state: list[CalendarState]) -> None:
    """Registers the calendars of a calendar_state()."""
