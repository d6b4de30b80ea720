"""`YieldCurve` and `IRS`: the extension types, plus the input they were built from."""

from __future__ import annotations

import copy
import datetime as dt
import json
import re
from collections.abc import Mapping
from pathlib import Path
from typing import TYPE_CHECKING, Any, TypeVar

import _tessarin

from ._fixings import Fixings, missing_fixings
from ._inputs import (
    InputError,
    _replay,
    as_date,
    check_pairing,
    curve_coverage,
    fixing_coverage,
    jsonable,
    read_curve,
    risk_method,
    swap_coverage,
)
from ._types import (
    RISK_UNIT,
    CashFlows,
    DateLike,
    PathLike,
    PriceResult,
    RiskResult,
    quoted,
    risk_per_bp,
    signed_flows,
    unit_attrs,
)
from .conventions import FUTURES
from .files import Trade

FixingsLike = Fixings | Mapping[str, Any]

if TYPE_CHECKING:
    from collections.abc import Sequence

    import numpy
    import pandas
    from matplotlib.figure import Figure

_Self = TypeVar("_Self", bound="_Persistent")


class _Persistent:
    """Keeps the input dict, and rebuilds from it for pickle, copy and JSON."""

    __slots__ = ("_impl", "_input", "_strict")
    _input: dict[str, Any]

    def to_dict(self) -> dict[str, Any]:
        """A deep copy of the input this object was built from (dates as `datetime.date`)."""
        return copy.deepcopy(self._input)

    def to_json(self, *, indent: int | None = 2) -> str:
        """The input as JSON text, dates written as YYYY-MM-DD."""
        return json.dumps(jsonable(self._input), indent=indent)

    @classmethod
    def from_json(cls: type[_Self], text: str) -> _Self:
        """Rebuild an object from the text of `to_json`."""
        return cls(json.loads(text))

    def save(self, path: PathLike) -> None:
        """Write `to_json` to the file `path`."""
        Path(path).write_text(self.to_json() + "\n", encoding="utf-8")

    @classmethod
    def load(cls: type[_Self], path: PathLike) -> _Self:
        """Rebuild an object from a file written by `save`."""
        return cls.from_json(Path(path).read_text(encoding="utf-8"))

    def __reduce__(self) -> tuple[Any, ...]:
        # The library object cannot be pickled; the input rebuilds it.
        return (_rebuild, (type(self), self._input, self._strict))

    def __init__(self, data: Mapping[str, Any], *, strict: bool = True) -> None: ...


def _rebuild(cls: type[_Self], data: dict[str, Any], strict: bool) -> _Self:
    return cls(data, strict=strict)


class YieldCurve(_Persistent):
    """A zero curve bootstrapped from quoted overnight-indexed swaps.

    `curve` is the dict that `_tessarin.YieldCurve` takes: "id", "currency",
    "value date" (a date or YYYY-MM-DD text), optionally "interpolation"
    ("LinearLogDf", the default, "LinearRates", "LogCubic" or "MonotoneConvex") and "cubic from"
    (a tenor or date: log-linear up to the first pillar on or after it, a
    natural cubic spline of log discount factors from there), and "instruments" with the
    equal-length lists "generator" (e.g. "USD SOFR SW"), "tenor" ("1Y"),
    "quote" (par rate in percent) and "in use" (bool). Optional: "start" and
    "end" columns (a row with both is a swap between those dates), futures rows
    (a generator of `tessarin.conventions.FUTURES`, the contract month YYYY-MM as
    tenor, the price as quote, an optional "convexity" column in bp), "turns"
    ([{"start", "end", "spread"}], spread in bp) and "fixings" for contracts
    already begun, which `fixings=` also gives.

    Input problems raise `tessarin.InputError` naming the key; a generator of
    another currency does too, or only warns with ``strict=False``. Bootstrap
    failures raise RuntimeError with the library's message, led by the
    instrument that fails.
    """

    __slots__ = ()
    _impl: _tessarin.YieldCurve

    def __init__(self, curve: Mapping[str, Any], *, strict: bool = True,
                 fixings: Mapping[str, Any] | None = None) -> None:
        checked = Fixings.of(fixings)
        if checked is not None:
            # Futures whose reference period began before the value date read their index's.
            generators = curve.get("instruments", {}).get("generator", [])
            tenors = curve.get("instruments", {}).get("tenor", [])
            rows = [(g, t) for g, t in zip(generators, tenors, strict=False)
                    if isinstance(g, str) and g in FUTURES and isinstance(t, str)]
            indices = tuple(sorted({FUTURES[g].index for g, _ in rows}))
            # A period starts in its contract month at the earliest, and a day before the
            # month's first business day carries the rate of the business day before it.
            months = [dt.date(int(t[-7:-3]), int(t[-2:]), 1) for _, t in rows
                      if re.fullmatch(r"(.* )?\d{4}-(0[1-9]|1[0-2])", t)]
            first = min(months, default=dt.date.min + _FIXINGS_MARGIN) - _FIXINGS_MARGIN
            curve = {**curve, "fixings": checked.since(indices, first)}
        data, native = read_curve(curve, "", strict, build=True)
        self._impl: _tessarin.YieldCurve = native
        self._input, self._strict = data, strict
        self._check_coverage("the curve")

    def _check_coverage(self, what: str) -> None:
        dates = self._impl.dates()
        if dates:
            curve_coverage(self._input, max(dates), what)

    @property
    def id(self) -> str:
        """The curve's "id"."""
        return str(self._input.get("id", ""))

    @property
    def currency(self) -> str:
        """The curve's "currency"."""
        return str(self._input.get("currency", ""))

    @property
    def value_date(self) -> dt.date:
        """The curve's "value date": time zero, discount factor 1."""
        date: dt.date = self._input["value date"]
        return date

    @property
    def native(self) -> _tessarin.YieldCurve:
        """The underlying `_tessarin.YieldCurve`."""
        return self._impl

    def df(self, date: DateLike) -> float:
        """Return the discount factor for the given date (a date or YYYY-MM-DD text)."""
        return self._impl.df(as_date(date, "date"))

    def dates(self) -> list[dt.date]:
        """Returns the curve's pillar dates, one per instrument in use."""
        return self._impl.dates()

    def rates(self) -> list[float]:
        """Returns the continuously compounded zero rates (decimals) at the pillar dates."""
        return self._impl.rates()

    def jacobian(self) -> list[list[float]]:
        """d(pillar zero rate, decimal) / d(quote, percent): one row per pillar,
        one entry per curve instrument in input order (zeros for instruments
        that make no pillar). Computed once per curve."""
        return _tessarin.yield_curve_jacobian(self._impl)

    def zero_rate(self, date: DateLike) -> float:
        """The continuously compounded zero rate (decimal) of `date` on the curve's
        time, days from the value date over 365: -ln(df) / t. On and before the
        value date it is the rate the curve holds up to its first pillar (its
        short rate), so the result is continuous and never divides by zero."""
        return _tessarin.curve_zero_rate(self._impl, as_date(date, "date"))

    def forward_rate(self, start: DateLike, end: DateLike, *, day_count: str = "ACT/360") -> float:
        """The simply compounded forward rate (decimal) from `start` to `end`:
        (df(start) / df(end) - 1) / tau, tau the year fraction under `day_count`
        (a name the library accepts: "Act/360", "Act/365F", "Act/Act", "30/360",
        "30E/360", any letter case). Raises InputError for an unknown day count
        or an `end` that is not after `start`."""
        first, last = as_date(start, "start"), as_date(end, "end")
        if last <= first:
            raise InputError("end", f"the forward period must end after its start {first}, "
                                    f"got {last}")
        try:
            return _tessarin.curve_forward_rate(self._impl, first, last, day_count)
        except ValueError:
            raise InputError("day_count", f"unknown day count {quoted(day_count)}") from None

    def dfs(self, dates: Sequence[DateLike] | numpy.ndarray) -> list[float] | numpy.ndarray:
        """Discount factors of many dates in one call, each equal to `df` of its date.

        A list or tuple (of dates or YYYY-MM-DD text) gives a list of floats; a
        NumPy array (datetime64, or anything NumPy turns into datetime64[D], such
        as a pandas DatetimeIndex) gives a float64 array of the same shape. The
        time of day of a datetime is dropped, as in `df`.
        """
        if isinstance(dates, (list, tuple)):
            try:
                return _tessarin.curve_dfs(self._impl, dates)
            except TypeError:
                # Text, or something else that as_date names in its error.
                days = [as_date(d, f"dates[{i}]") for i, d in enumerate(dates)]
                return _tessarin.curve_dfs(self._impl, days)
        if isinstance(dates, str):
            raise InputError("dates", f"expected a list or an array of dates, got {quoted(dates)}")
        try:
            import numpy as np
        except ImportError as error:  # pragma: no cover - depends on the environment
            raise ImportError("YieldCurve.dfs of an array needs numpy: "
                              "pip install 'tessarin[numpy]'") from error
        try:
            days = np.ascontiguousarray(np.asarray(dates).astype("datetime64[D]"))
        except (TypeError, ValueError) as error:
            raise InputError("dates", f"expected dates: {error}") from None
        values = np.empty(days.shape, dtype=np.float64)
        try:
            _tessarin.curve_dfs_days(self._impl, days.view(np.int64), values)
        except ValueError as error:
            raise InputError("dates", str(error)) from None
        return values

    def to_frame(self) -> pandas.DataFrame:
        """The pillars as a DataFrame (needs pandas): "Tenor", "Quote",
        "Date" (datetime64), "Zero Rate" and "Discount Factor"."""
        from .frames import curve_frame

        return curve_frame(self)

    def repriced(self) -> pandas.DataFrame:
        """Every instrument in use repriced on the curve, as a DataFrame (needs pandas), one
        row per pillar: "Tenor" (the risk label), "Quote" and "Repriced", the quote the curve
        gives back (a swap's par rate in percent, a future's price), and "Error", their
        difference."""
        from .frames import repriced_frame

        return repriced_frame(self, _tessarin.curve_repriced(self._impl))

    def forwards(self, start: DateLike | None = None,
                 end: DateLike | None = None) -> pandas.DataFrame:
        """The overnight forward of every calendar day from `start` (the value date by
        default) up to but excluding `end` (the last pillar by default), as a DataFrame (needs
        pandas): "Date" (datetime64) and "Forward", ln(df(day) / df(day + 1)) x 365, a
        continuously compounded decimal rate on the curve's time. Under "LinearLogDf" it is
        flat between pillars, steps on each pillar date, and rises by the spread over a
        turn."""
        from .frames import forward_frame

        first = self.value_date if start is None else as_date(start, "start")
        last = max(self.dates(), default=first) if end is None else as_date(end, "end")
        if last <= first:
            raise InputError("end", f"the forwards must end after their start {first}, "
                                    f"got {last}")
        return forward_frame(self, first, last)

    def plot(self, path: PathLike | None = None, *, forwards: bool = False) -> Figure:
        """Zero rates and discount factors against the pillar dates (needs
        matplotlib); with `forwards`, a third panel draws the daily overnight forwards
        (`forwards()`), where meeting-date steps and turns show. Returns the figure and,
        given `path`, saves it as PNG."""
        from .plot import plot_curve

        return plot_curve(self, path, forwards=forwards)

    def _repr_html_(self) -> str:
        from ._html import curve_html

        return curve_html(self)

    def __repr__(self) -> str:
        return (f"<tessarin.YieldCurve {self.id!r} {self.currency} value date "
                f"{self.value_date.isoformat()}, {len(self._impl.dates())} pillars>")


# Accrual dates roll at most a few days before a swap's start.
_FIXINGS_MARGIN = dt.timedelta(days=31)


class IRS(_Persistent):
    """An interest rate swap, priced on one curve that discounts and projects.

    `swap` is the flat dict that `_tessarin.IRS` takes: "id", "effective date",
    "termination date" (dates or YYYY-MM-DD text), "schedule roll", and "leg1"
    and "leg2", each with "currency", "calendar", "frequency", "day count
    convention", "accrual adjustment", "accrual calendar", "pay adjustment",
    "pay calendar", "is fixed", "is paid", "pay lag", "notional", and "rate"
    (fixed leg) or "index" and "margin" (floating leg). Rates are decimals.

    With `generator` (a name from `tessarin.conventions.GENERATORS`), its
    conventions fill the leg keys the dict leaves out: leg1 fixed and paid,
    leg2 floating on the generator's index and received, unless given.

    `swap` may also be an entry of a trades file, with its "curve" (kept as
    `IRS.curve`) and "generator", or a `tessarin.Trade` of `tessarin.load_trades`
    (from JSON, CSV or Parquet).

    Missing or malformed inputs raise `tessarin.InputError` naming the key; so
    does a rate that looks like percent (3.3 for 0.033), unless
    ``strict=False``, which only warns.
    """

    __slots__ = ("_curve", "_last_price", "_paired", "_risk_checked")
    _impl: _tessarin.IRS
    # The curve id and result of the latest `price`, shown in notebooks.
    _last_price: tuple[str, PriceResult] | None

    def __init__(self, swap: Mapping[str, Any] | Trade, *, generator: str | None = None,
                 strict: bool = True) -> None:
        self._curve: str | None = None
        if isinstance(swap, Trade):
            # An entry `tessarin.load_trades` read, checked already: its curve is kept.
            if generator is not None:
                raise TypeError("a trade of tessarin.load_trades has its conventions filled "
                                "in: give no generator")
            swap = {**swap.swap, "curve": swap.curve}
        if isinstance(swap, Mapping) and ("curve" in swap or "generator" in swap):
            # An entry of a trades file: its curve is kept, its generator fills the legs.
            entry = dict(swap)
            if generator is not None and entry.setdefault("generator", generator) != generator:
                raise InputError("generator", f"the trade names {entry['generator']!r}, "
                                                  f"but generator={generator!r} is given")
            named = "curve" in entry
            curve, data, doubts, problem, impl = _tessarin.swap_from_dict(
                {"curve": "", **entry}, "", strict, None, True, True)
            _replay(doubts, problem, strict)
            self._curve = curve if named else None
        else:
            if not isinstance(swap, Mapping):
                raise TypeError(f"a swap is described by a dict, got {type(swap).__name__}")
            _, data, doubts, problem, impl = _tessarin.swap_from_dict(swap, "", strict,
                                                                      generator, False, True)
            _replay(doubts, problem, strict)
        # Built from the checked terms; a build that fails says why through the dict route.
        self._impl = impl if impl is not None else _tessarin.IRS(data)
        self._input, self._strict = data, strict
        self._last_price = None
        # The curves last checked against the swap, and for risk: each check is made once.
        self._paired: YieldCurve | None = None
        self._risk_checked: YieldCurve | None = None
        self._check_coverage("the swap's schedule")

    def __reduce__(self) -> tuple[Any, ...]:
        if self._curve is None:
            return super().__reduce__()
        return (_rebuild, (type(self), {**self._input, "curve": self._curve}, self._strict))

    @property
    def curve(self) -> str | None:
        """The id of the curve a trades-file entry names; None for a plain swap dict."""
        return self._curve

    def _check_coverage(self, what: str) -> None:
        swap_coverage(self._input, what)

    def _native_fixings(self, fixings: FixingsLike | None) -> dict[str, Any] | None:
        """The fixings this swap can read: those of its indices from a month before its
        start on (every period it prices starts after that), converted by the library far
        faster than a long history."""
        checked = Fixings.of(fixings)
        if checked is None:
            return None
        legs = [self._input[leg] for leg in ("leg1", "leg2")]
        indices = tuple(sorted({leg["index"] for leg in legs if not leg["is fixed"]}))
        return checked.since(indices, self._input["effective date"] - _FIXINGS_MARGIN)

    def _fixings_args(self, fixings: FixingsLike | None) -> dict[str, Any]:
        native = self._native_fixings(fixings)
        return {} if native is None else {"fixings": native}

    def _raise_missing(self, yield_curve: Any, fixings: FixingsLike | None,
                       error: RuntimeError) -> None:
        """Raises the InputError naming the index and date of a missing fixing behind
        `error`, if there is one."""
        value_date = yield_curve.value_date if isinstance(yield_curve, YieldCurve) else None
        found = missing_fixings(error, self._impl, value_date, Fixings.of(fixings))
        if found is not None:
            raise found from None

    def _priced(self, yield_curve: Any, fixings: FixingsLike | None, call: Any) -> Any:
        """`call()`, a missing fixing raised as an InputError naming the index and date."""
        try:
            return call()
        except RuntimeError as error:
            self._raise_missing(yield_curve, fixings, error)
            raise

    def _analytic(self, call: Any, yield_curve: Any, fixings: FixingsLike | None,
                  **options: Any) -> Any:
        """`call(swap, curve, fixings)` of the native analytics, as `_priced` runs a call."""
        native = self._on(yield_curve)
        try:
            return call(self._impl, native,
                        None if fixings is None else self._native_fixings(fixings), **options)
        except RuntimeError as error:
            self._raise_missing(yield_curve, fixings, error)
            raise

    def _on(self, yield_curve: YieldCurve | _tessarin.YieldCurve) -> _tessarin.YieldCurve:
        # A wrapped curve knows its currency and index: the swap must match them.
        if isinstance(yield_curve, YieldCurve):
            if yield_curve is not self._paired:
                check_pairing(self._input, yield_curve._input, "", self._strict)
                self._paired = yield_curve
            return yield_curve._impl
        return yield_curve

    @property
    def id(self) -> str:
        """The swap's "id"."""
        return str(self._input.get("id", ""))

    @property
    def currency(self) -> str:
        """The currency of leg1, which names the discount curve."""
        leg = self._input.get("leg1")
        return str(leg.get("currency", "")) if isinstance(leg, dict) else ""

    @property
    def effective_date(self) -> dt.date:
        """Start of the schedule."""
        date: dt.date = self._input["effective date"]
        return date

    @property
    def termination_date(self) -> dt.date:
        """End of the schedule (before adjustment)."""
        date: dt.date = self._input["termination date"]
        return date

    @property
    def native(self) -> _tessarin.IRS:
        """The underlying `_tessarin.IRS`."""
        return self._impl

    def price(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
              fixings: FixingsLike | None = None) -> PriceResult:
        """Return the net present value of the interest rate swap.

        {"Leg1 PV", "Leg2 PV", "NPV"}: received legs count positive, paid legs
        negative. `fixings` ({"SOFR": {"dates": [...], "values": [...]}}) are
        needed when a floating period runs over the curve's value date.
        """
        native = self._on(yield_curve)
        try:
            result = (self._impl.price(native) if fixings is None
                      else self._impl.price(native, **self._fixings_args(fixings)))
        except RuntimeError as error:
            self._raise_missing(yield_curve, fixings, error)
            raise
        self._last_price = (getattr(yield_curve, "id", ""), dict(result))
        return result

    def risk(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
             fixings: FixingsLike | None = None, *, method: str = "bump") -> RiskResult:
        """Return the key rate sensitivities per leg of the interest rate swap.

        {"Tenor", "Leg1", "Leg2", "Net", "Unit", "Currency"}: one entry per curve
        instrument, the PV change for a 1bp rise of its quote in the swap's currency,
        as `Book.risk` gives it ("Unit" is "per 1bp"; `_tessarin.IRS.risk` is per 1.00
        of quote, 100 times larger). `method="bump"` bumps each quote and rebuilds the curve;
        `method="analytic"` differentiates the price exactly and multiplies by the
        curve's Jacobian (no finite-difference noise).
        """
        risk_method(method)
        native = self._on(yield_curve)
        # Every bumped curve rebuilds the instruments' schedules, and reprices the swap's.
        if self._risk_checked is None or yield_curve is not self._risk_checked:
            self._check_coverage("the risk computation")
            if isinstance(yield_curve, YieldCurve):
                yield_curve._check_coverage("the risk computation")
                self._risk_checked = yield_curve
        # A checked swap: leg1 holds its currency.
        currency = self._input["leg1"]["currency"]
        if method == "bump":
            return risk_per_bp(self._priced(yield_curve, fixings, lambda: self._impl.risk(
                native, **self._fixings_args(fixings))), currency)
        result = self._analytic(_tessarin.irs_analytic_risk, yield_curve, fixings, per_bp=True)
        result["Unit"], result["Currency"] = RISK_UNIT, currency
        return result

    def gamma(self, yield_curve: YieldCurve, fixings: FixingsLike | None = None
              ) -> pandas.DataFrame:
        """The cross-gamma d2NPV / dq_i dq_j per 1bp x 1bp over the curve's instruments in
        input order, as a DataFrame with rows and columns labelled by "Tenor" (needs pandas).
        Exact: the price's second derivatives in the pillar rates in one pass, with the
        curve's Jacobian and its derivative (see `tessarin.explain`)."""
        from .explain import swap_gamma

        self._check_coverage("the gamma computation")
        return self._priced(yield_curve, fixings, lambda: swap_gamma(self, yield_curve, fixings))

    def cashflows(self, yield_curve: YieldCurve | _tessarin.YieldCurve | None = None,
                  fixings: FixingsLike | None = None) -> CashFlows:
        """Returns the cash flows of both legs.

        {"Leg1": table, "Leg2": table}, each table a dict of equal-length
        columns, named as in `Book.cashflows`: "Pay/Receive", "Accrual Start Date",
        "Accrual End Date", "Payment Date", "Day Count Fraction", "Notional",
        "Discount Factor", "Rate" (the fixed rate, or the projected index rate without
        margin), "Margin" (0 on a fixed leg), "Cash Flow" and "Cash Flow PV", signed as
        the leg PVs: received positive, paid negative. A floating leg keeps the
        extension type's names of its rate and margin too, "Estimated Rate" and "Spread".
        """
        args = self._fixings_args(fixings)
        if yield_curve is not None:
            args["yield_curve"] = self._on(yield_curve)
        flows = self._priced(yield_curve, fixings, lambda: self._impl.cashflows(**args))
        return {leg: signed_flows(table, self._input[leg.lower()]["is paid"])
                for leg, table in flows.items()}

    def required_fixings(self, date: DateLike) -> dict[str, list[dt.date]] | None:
        """Returns the fixing dates each floating index needs to price on `date`:
        the index business days from the start of the running period through
        `date`, e.g. {"SOFR": [...]}; None when no period is running."""
        on = as_date(date, "date")
        fixing_coverage(self._input, on)
        return _tessarin.irs_required_fixings(self._impl, on)

    def par_rate(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
                 fixings: FixingsLike | None = None) -> float:
        """The fixed rate (decimal) at which the swap is worth zero on the curve,
        from the pricing model's own leg values (a seasoned swap needs its
        `fixings`, as in `price`). With two floating legs, the margin of leg2
        that makes the NPV zero."""
        return self._analytic(_tessarin.irs_par_rate, yield_curve, fixings)

    def annuity(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
                fixings: FixingsLike | None = None) -> float:
        """The PV of the fixed leg per unit of rate, positive for a positive
        notional: the sum over periods paid after the value date of fraction x
        notional x discount factor (with two floating legs, leg2's, per unit of
        margin). A change dr of the fixed rate moves the NPV by annuity x dr."""
        return self._analytic(_tessarin.irs_annuity, yield_curve, fixings)

    def dv01(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
             fixings: FixingsLike | None = None) -> float:
        """The NPV change, in the swap's currency, for a 1bp rise of every quote
        of the curve, with the sign of the change: (NPV(+1bp) - NPV(-1bp)) / 2 on
        curves rebuilt from the moved quotes. The curve must have been built
        from quotes."""
        return self._analytic(_tessarin.irs_dv01, yield_curve, fixings)

    def risk_frame(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
                   fixings: FixingsLike | None = None, *, method: str = "bump") -> pandas.DataFrame:
        """`risk` as a DataFrame indexed by tenor (needs pandas): the PV change for
        a 1bp rise of each quote, in the swap's currency, which the frame's column
        axis names ("USD per 1bp") and ``attrs["unit"]`` and ``attrs["currency"]`` hold."""
        from .frames import risk_frame

        return risk_frame(self.risk(yield_curve, fixings, method=method),
                          currency=self.currency)

    def cashflow_frames(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
                        fixings: FixingsLike | None = None) -> dict[str, pandas.DataFrame]:
        """`cashflows` as one DataFrame per leg, {"Leg1": ..., "Leg2": ...}
        (needs pandas); date columns are datetime64, "Pay/Receive" text, the others
        floats; ``attrs["currency"]`` is the leg's currency."""
        from .frames import cashflow_frames

        frames = cashflow_frames(self.cashflows(yield_curve, fixings))
        return {leg: unit_attrs(frame, None, [self._input[leg.lower()]["currency"]])
                for leg, frame in frames.items()}

    def plot_risk(self, yield_curve: YieldCurve | _tessarin.YieldCurve,
                  fixings: FixingsLike | None = None, path: PathLike | None = None, *,
                  method: str = "bump") -> Figure:
        """The key-rate risk ladder per 1bp, in the swap's currency, as bars
        (needs matplotlib); returns the figure and, given `path`, saves it as PNG."""
        from .plot import plot_risk

        curve_id = yield_curve.id if isinstance(yield_curve, YieldCurve) else ""
        title = f"Key-rate risk of {self.id}" + (f" on {curve_id}" if curve_id else "")
        return plot_risk(self.risk(yield_curve, fixings, method=method), path, title=title,
                         currency=self.currency)

    def _repr_html_(self) -> str:
        from ._html import swap_html

        return swap_html(self, getattr(self, "_last_price", None))

    def __repr__(self) -> str:
        return (f"<tessarin.IRS {self.id!r} {self.currency} {self.effective_date.isoformat()} "
                f"to {self.termination_date.isoformat()}>")
