"""Second-order risk and the P&L explain of a book: gamma, theta and the explain itself.

Gamma is exact. The NPV's first and second derivatives in a curve's pillar zero rates come
from one pass over the cash flows: every discount factor is exp(-(linear in the pillar
rates)) under either interpolation, so each term's Hessian is its value times the outer
product of its log-gradient. The quotes' Hessian adds the curve's second derivatives:

    d2V/dq dq = J' H J + sum_k g_k d2r_k/dq dq,

where J = dr/dq is the curve's Jacobian and d2r_k/dq dq its derivative in the quotes, found
by central differences of the exact Jacobian on curves rebuilt with quotes moved by +-h and
+-h/2 (h = 1bp), combined by Richardson extrapolation: an error of order h^4.

The explain is sequential: roll (the start quotes rebuilt at the end value date, fixings
set between the dates), then move (the quote changes, seen through the risk at the rolled
curves). Quotes are in percent; gamma is reported per 1bp x 1bp.
"""

from __future__ import annotations

import datetime as dt
import os
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import _tessarin

from ._inputs import InputError
from .conventions import FUTURES
from .tables import EPOCH_ORDINAL

if TYPE_CHECKING:
    import numpy
    import pandas

    from ._objects import YieldCurve
    from .book import Book

from ._types import BASIS_POINTS_PER_QUOTE_UNIT

# The quote move of the Richardson pair, in percent: 1bp and 0.5bp.
RICHARDSON_STEP = 0.01
# The steps whose errors are prefixed with their name.
STEPS = ("rolled", "end", "cash")
EXPLAIN_COLUMNS = ("Start NPV", "End NPV", "Cash", "Total", "Theta", "Delta", "Gamma",
                   "Unexplained")


# Curves and their second derivatives

def curve_dicts(market: Any) -> list[dict[str, Any]]:
    """The checked curve dicts of a market file, curve dicts or `tessarin.YieldCurve` objects."""
    from ._inputs import check_curve
    from .files import load_market

    if isinstance(market, (str, os.PathLike)):
        return [dict(c) for c in load_market(market)]
    curves = []
    for i, curve in enumerate(market):
        if hasattr(curve, "to_dict") and hasattr(curve, "native"):
            curves.append(curve.to_dict())
        elif isinstance(curve, Mapping):
            curves.append(check_curve(curve, f"curves[{i}]", True))
        else:
            raise TypeError("a market is a market file or a list of curve dicts or "
                            "tessarin.YieldCurve objects")
    return curves


def _native_curve(data: Mapping[str, Any], quotes: Sequence[float] | None = None
                  ) -> _tessarin.YieldCurve:
    """The curve of checked dict `data`, with other quotes when given."""
    instruments = dict(data["instruments"])
    if quotes is not None:
        instruments["quote"] = list(quotes)
    native, _, problem, failure = _tessarin.curve_from_dict(
        {**data, "instruments": instruments}, "", True)
    if problem is not None or failure is not None:
        raise RuntimeError(failure or ": ".join(problem))
    return native


def _jacobian(curve: _tessarin.YieldCurve) -> numpy.ndarray:
    import numpy as np

    return np.asarray(_tessarin.yield_curve_jacobian(curve), dtype=np.float64)


def jacobian_slope(data: Mapping[str, Any], direction: numpy.ndarray) -> numpy.ndarray:
    """The derivative of the curve's Jacobian along `direction` (percent per instrument):
    d/de J(q + e direction) at e = 0, pillars x instruments, by Richardson extrapolation of
    central differences of exact Jacobians."""
    import numpy as np

    quotes = np.asarray(data["instruments"]["quote"], dtype=np.float64)
    scale = float(np.max(np.abs(direction)))
    if scale == 0.0:
        base = _jacobian(_native_curve(data))
        return np.zeros_like(base)
    unit = direction / scale

    def central(h: float) -> numpy.ndarray:
        up = _jacobian(_native_curve(data, (quotes + h * unit).tolist()))
        down = _jacobian(_native_curve(data, (quotes - h * unit).tolist()))
        return (up - down) / (2.0 * h)

    coarse, fine = central(RICHARDSON_STEP), central(RICHARDSON_STEP / 2.0)
    return (4.0 * fine - coarse) / 3.0 * scale


def curve_second_derivatives(data: Mapping[str, Any]) -> numpy.ndarray:
    """d2(pillar rate k)/dq_i dq_j as an array [k, i, j] (quotes in percent)."""
    import numpy as np

    base = _jacobian(_native_curve(data))
    pillars, instruments = base.shape
    tensor = np.zeros((pillars, instruments, instruments))
    for j in range(instruments):
        if not base[:, j].any():
            continue  # an instrument that makes no pillar moves nothing
        direction = np.zeros(instruments)
        direction[j] = 1.0
        tensor[:, :, j] = jacobian_slope(data, direction)
    # Symmetric in i and j; the mean removes the last differences of rounding.
    return 0.5 * (tensor + tensor.transpose(0, 2, 1))


def quote_gamma(data: Mapping[str, Any], gradient: numpy.ndarray, hessian: numpy.ndarray,
                second: numpy.ndarray | None = None) -> numpy.ndarray:
    """The Hessian of the NPV in the quotes per 1bp x 1bp, from its pillar gradient(s) and
    Hessian(s) (a trailing axis of pillars, or two); `second` is
    `curve_second_derivatives(data)` when known."""
    import numpy as np

    jacobian = _jacobian(_native_curve(data))
    if second is None:
        second = curve_second_derivatives(data)
    gamma = (np.einsum("ki,...kl,lj->...ij", jacobian, hessian, jacobian)
             + np.einsum("...k,kij->...ij", gradient, second))
    return gamma / BASIS_POINTS_PER_QUOTE_UNIT ** 2


def gamma_frame(matrix: numpy.ndarray, tenors: Sequence[str], currency: str) -> pandas.DataFrame:
    """A gamma matrix labelled like the risk ladder: rows and columns by "Tenor"."""
    import pandas as pd

    index = pd.Index(list(tenors), name="Tenor", dtype=object)
    frame = pd.DataFrame(matrix, index=index, columns=index.copy())
    frame.columns.name = f"{currency} per 1bp²".strip()
    frame.attrs.update(unit="per 1bp²", currency=currency)
    return frame


def book_gamma(book: Book, per_trade: bool = False, threads: int | None = None
               ) -> dict[str, pandas.DataFrame]:
    """See `Book.gamma`."""
    import numpy as np

    workers = book._workers(threads)
    curves = book._curves
    if not per_trade:
        result = book._impl.pillar_hessians(per_trade=False, threads=workers)
        out = {}
        for name, sums in result["curves"].items():
            data = curves[name].to_dict()
            gradient = np.frombuffer(sums["gradient"], dtype=np.float64)
            hessian = np.frombuffer(sums["hessian"], dtype=np.float64).reshape(
                gradient.size, gradient.size)
            out[name] = gamma_frame(quote_gamma(data, gradient, hessian),
                                    data["instruments"]["tenor"], curves[name].currency)
        return out
    result = book._impl.pillar_hessians(per_trade=True, threads=workers)
    offsets = np.frombuffer(result["offsets"], dtype=np.int64)
    squares = np.frombuffer(result["square offsets"], dtype=np.int64)
    gradient = np.frombuffer(result["gradient"], dtype=np.float64)
    hessian = np.frombuffer(result["hessian"], dtype=np.float64)
    failed = set(result["failed"])
    out = {}
    by_curve: dict[str, list[int]] = {}
    for t, name in enumerate(book._curve_ids):
        if t not in failed and offsets[t + 1] > offsets[t]:
            by_curve.setdefault(name, []).append(t)
    for name, trades in by_curve.items():
        data = curves[name].to_dict()
        n = int(offsets[trades[0] + 1] - offsets[trades[0]])
        rows = np.asarray([offsets[t] for t in trades])
        squares_at = np.asarray([squares[t] for t in trades])
        gradients = gradient[rows[:, None] + np.arange(n)]
        hessians = hessian[squares_at[:, None] + np.arange(n * n)].reshape(-1, n, n)
        matrices = quote_gamma(data, gradients, hessians)
        for t, matrix in zip(trades, matrices, strict=True):
            out[book._ids[t]] = gamma_frame(matrix, data["instruments"]["tenor"],
                                            curves[name].currency)
    return out


def swap_gamma(swap: Any, curve: YieldCurve, fixings: Any = None) -> pandas.DataFrame:
    """See `IRS.gamma`."""
    import numpy as np

    from ._fixings import Fixings
    from ._objects import YieldCurve

    if not isinstance(curve, YieldCurve):
        raise TypeError("gamma() rebuilds the curve from its quotes: pass a tessarin.YieldCurve, "
                        f"got {type(curve).__name__}")
    from .book import Book

    checked = Fixings.of(fixings)
    book = Book([{**swap.to_dict(), "curve": curve.id}], {curve.id: curve}, checked, threads=1)
    result = book._impl.pillar_hessians(per_trade=False, threads=1)
    built = book._messages(book._impl.trades())[0]
    if built or result["failed"]:
        raise RuntimeError(built or result["error"][0])
    sums = result["curves"][curve.id]
    data = curve.to_dict()
    gradient = np.frombuffer(sums["gradient"], dtype=np.float64)
    hessian = np.frombuffer(sums["hessian"], dtype=np.float64).reshape(gradient.size, -1)
    return gamma_frame(quote_gamma(data, gradient, hessian), data["instruments"]["tenor"],
                       swap.currency)


# Roll and explain

def _days(day: dt.date) -> int:
    return day.toordinal() - EPOCH_ORDINAL


def _one_date(curves: Iterable[Mapping[str, Any]], which: str) -> dt.date:
    dates = {c["value date"] for c in curves}
    if len(dates) != 1:
        raise InputError(which, "the curves of a market must share one value date, got "
                                + ", ".join(sorted(d.isoformat() for d in dates)))
    return dates.pop()


def _merged(given: Mapping[str, Any] | None, extra: Mapping[str, Any]) -> dict[str, Any] | None:
    """Fixings `given` with the (days, values) pairs of `extra` added."""
    import numpy as np

    merged = {name: {"dates": list(s["dates"]), "values": list(s["values"])}
              for name, s in (given or {}).items()}
    for name, (days, values) in extra.items():
        series = merged.setdefault(name, {"dates": [], "values": []})
        series["dates"] += [dt.date.fromordinal(int(d) + EPOCH_ORDINAL)
                            for d in np.frombuffer(days, dtype=np.int64)]
        series["values"] += np.frombuffer(values, dtype=np.float64).tolist()
    return merged or None


@dataclass
class _Roll:
    """The start and rolled books, the fixings between the dates and the cash paid."""

    start: Any  # _tessarin.Book on the start curves
    rolled: Any  # _tessarin.Book at the end date on the start quotes
    fixings: dict[str, Any] | None  # the given ones and the estimated ones
    estimated: dict[str, list[dt.date]]
    cash: numpy.ndarray
    cash_errors: dict[int, str]
    start_date: dt.date
    end_date: dt.date


def _natives(curves: Sequence[Mapping[str, Any]], which: str, notes: list[str]
             ) -> dict[str, _tessarin.YieldCurve]:
    """The curves that bootstrap; each that does not is noted, and its trades fail."""
    natives = {}
    for curve in curves:
        try:
            natives[curve["id"]] = _native_curve(curve)
        except RuntimeError as error:
            notes.append(f"curve {curve['id']!r} of {which} does not bootstrap: {error}")
    return natives


def _roll(book: Book, start_curves: Sequence[Mapping[str, Any]], end_date: dt.date,
          fixings: Mapping[str, Any] | None, workers: int, notes: list[str]) -> _Roll:
    import numpy as np

    start_date = _one_date(start_curves, "market_from")
    if end_date < start_date:
        raise InputError("market_to", f"the end value date {end_date} is before the start "
                                      f"value date {start_date}")
    start = book._impl.rebound(_natives(start_curves, "market_from", notes), fixings,
                               threads=workers)
    extra = start.forward_fixings(_days(start_date), _days(end_date))
    estimated = {name: [dt.date.fromordinal(int(d) + EPOCH_ORDINAL)
                        for d in np.frombuffer(days, dtype=np.int64)]
                 for name, (days, _) in extra.items()}
    full = _merged(fixings, extra)
    rolled_curves = [{**c, "value date": end_date} for c in start_curves]
    rolled = book._impl.rebound(_natives(rolled_curves, "the rolled market", notes), full,
                                threads=workers)
    paid = rolled.cash(_days(start_date), _days(end_date), threads=workers)
    cash = np.frombuffer(paid["cash"], dtype=np.float64).copy()
    cash_errors = {row: f"cash: {message}"
                   for row, message in zip(paid["failed"], paid["error"], strict=True)}
    return _Roll(start, rolled, full, estimated, cash, cash_errors, start_date, end_date)


def _npv(native: Any, workers: int) -> tuple[numpy.ndarray, dict[str, Any]]:
    """NPVs of a native book, and the price result, whose failures include the unbuilt."""
    import numpy as np

    result = native.price(threads=workers)
    return np.frombuffer(result["npv"], dtype=np.float64).copy(), result


def _failures(result: Mapping[str, Any], prefix: str = "") -> dict[int, str]:
    return {row: prefix + message for row, message in zip(result["failed"], result["error"],
                                                          strict=True)}


def _notes_of_fixings(estimated: Mapping[str, list[dt.date]]) -> list[str]:
    return [f"{name} fixings of {', '.join(d.isoformat() for d in days)} are not given: "
            "estimated from the start curve's overnight forwards"
            for name, days in estimated.items()]


def _errors(book: Book, start: Mapping[str, Any], *sources: dict[int, str]) -> list[str]:
    """Per trade, its error on the start market (with its row, as the book words them) and
    those of the other steps, joined by "; ", or ""."""
    errors = book._messages(start)
    for source in sources:
        for row, message in source.items():
            step, _, core = message.partition(": ")
            if message not in errors[row] and not (step in STEPS and core in errors[row]):
                errors[row] = f"{errors[row]}; {message}" if errors[row] else message
    return errors


def theta(book: Book, to_date: Any, fixings: Any = None, threads: int | None = None
          ) -> pandas.DataFrame:
    """See `Book.theta`."""
    import pandas as pd

    from ._inputs import as_date
    from .book import _fixings_of

    workers = book._workers(threads)
    end_date = as_date(to_date, "to_date")
    start_curves = [c.to_dict() for c in book._curves.values()]
    given = _given_fixings(book, _fixings_of(fixings))
    notes: list[str] = []
    roll = _roll(book, start_curves, end_date, given, workers, notes)
    start, start_errors = _npv(roll.start, workers)
    rolled, rolled_errors = _npv(roll.rolled, workers)
    frame = pd.DataFrame({
        "Curve": pd.Categorical(book._curve_ids),
        "Currency": pd.Categorical(book.currencies),
        "Start NPV": start,
        "Rolled NPV": rolled,
        "Cash": roll.cash,
        "Theta": rolled + roll.cash - start,
        "Estimated Fixings": _estimated_per_trade(book, roll.estimated),
        "Error": _errors(book, start_errors, _failures(rolled_errors, "rolled: "),
                         roll.cash_errors),
    }, index=pd.Index(book._ids, name="Trade"))
    frame.attrs.update(start=roll.start_date, end=roll.end_date,
                       notes=notes + _notes_of_fixings(roll.estimated),
                       estimated_fixings=roll.estimated)
    return frame


def _given_fixings(book: Book, fixings: Mapping[str, Any] | None) -> dict[str, Any] | None:
    """The book's fixings with those given to the call added, the call's on a date both
    have."""
    if fixings is None:
        return book._fixings
    merged = {name: dict(zip(s["dates"], s["values"], strict=True))
              for name, s in (book._fixings or {}).items()}
    for name, series in fixings.items():
        merged.setdefault(name, {}).update(zip(series["dates"], series["values"], strict=True))
    return {name: {"dates": sorted(by_date), "values": [by_date[d] for d in sorted(by_date)]}
            for name, by_date in merged.items()}


def _estimated_per_trade(book: Book, estimated: Mapping[str, list[dt.date]]) -> Any:
    """Per trade, the index whose estimated fixings fall in its life, or ""."""
    import numpy as np
    import pandas as pd

    names = ["", *estimated]
    codes = np.zeros(len(book._ids), dtype=np.int64)
    if estimated:
        rows = book._rows
        index_of = np.asarray([names.index(_index_of(c)) if _index_of(c) in estimated else 0
                               for c in rows.conventions] + [0], dtype=np.int64)
        conventions = np.asarray(rows.columns["conventions"], dtype=np.int64)
        codes = index_of[np.where(conventions >= 0, conventions, -1)]
        start = np.asarray(rows.columns["effective date"], dtype=np.int64)
        end = np.asarray(rows.columns["termination date"], dtype=np.int64)
        for code, name in enumerate(names[1:], start=1):
            days = [_days(d) for d in estimated[name]]
            outside = (codes == code) & ((start > max(days)) | (end <= min(days)))
            codes[outside] = 0
    return pd.Categorical.from_codes(codes, categories=pd.Index(names, dtype=object))


def _index_of(conventions: Mapping[str, Any]) -> str:
    for leg in ("leg1", "leg2"):
        part = conventions.get(leg, {})
        if isinstance(part, Mapping) and not part.get("is fixed", True) and part.get("index"):
            return str(part["index"])
    return ""


def _instrument_changes(start: Mapping[str, Any], end: Mapping[str, Any], notes: list[str]
                        ) -> numpy.ndarray:
    """The change of each start instrument's quote, matched with the end curve's by tenor;
    instruments on one side only are noted and do not move."""
    import numpy as np

    name = start["id"]

    def by_tenor(curve: Mapping[str, Any], which: str) -> dict[str, float]:
        rows = curve["instruments"]
        found: dict[str, float] = {}
        for tenor, quote in zip(rows["tenor"], rows["quote"], strict=True):
            if tenor in found:
                raise InputError(f"{which}: curve {name!r}",
                                 f"tenor {tenor!r} names two instruments: they cannot be matched")
            found[tenor] = float(quote)
        return found

    before, after = by_tenor(start, "market_from"), by_tenor(end, "market_to")
    for tenor in [t for t in before if t not in after]:
        notes.append(f"curve {name!r}: instrument {tenor} is only in market_from; it does not "
                     "move and its change falls in Unexplained")
    for tenor in [t for t in after if t not in before]:
        notes.append(f"curve {name!r}: instrument {tenor} is only in market_to; its effect "
                     "falls in Unexplained")
    # Risk is per rate: a futures row's rate moves against its price.
    rows = start["instruments"]
    return np.asarray([(after[t] - before[t]) * (-1.0 if g in FUTURES else 1.0) if t in after
                       else 0.0 for t, g in zip(rows["tenor"], rows["generator"], strict=True)],
                      dtype=np.float64)


def explain(book: Book, market_from: Any, market_to: Any, fixings: Any = None, *,
            by: str | None = None, threads: int | None = None) -> pandas.DataFrame:
    """See `Book.explain`."""
    import numpy as np
    import pandas as pd

    from .book import _fixings_of

    if by not in (None, "tenor"):
        raise ValueError(f"by is None or 'tenor', got {by!r}")
    workers = book._workers(threads)
    start_curves = curve_dicts(market_from)
    end_curves = curve_dicts(market_to)
    if not start_curves or not end_curves:
        raise InputError("market_from" if not start_curves else "market_to", "no curves")
    end_date = _one_date(end_curves, "market_to")
    given = _given_fixings(book, _fixings_of(fixings))
    notes: list[str] = []
    roll = _roll(book, start_curves, end_date, given, workers, notes)
    starts = {c["id"]: c for c in start_curves}
    ends = {c["id"]: c for c in end_curves}
    for name in [n for n in starts if n not in ends]:
        notes.append(f"curve {name!r} is only in market_from: its trades have no End NPV")
    for name in [n for n in ends if n not in starts]:
        notes.append(f"curve {name!r} is only in market_to")
    used = set(book._curve_ids)
    for name in sorted(used - starts.keys() - ends.keys()):
        notes.append(f"curve {name!r} of the book is in neither market")
    end = book._impl.rebound(_natives(end_curves, "market_to", notes), roll.fixings,
                             threads=workers)

    moves: dict[str, tuple[list[float], list[float]]] = {}
    for name, start in starts.items():
        if name not in ends or name not in used:
            continue
        changes = _instrument_changes(start, ends[name], notes)
        if changes.any():
            try:
                slope = jacobian_slope({**start, "value date": end_date}, changes)
            except RuntimeError:
                continue  # the rolled curve does not bootstrap: noted, its trades fail
            moves[name] = (changes.tolist(), slope.reshape(-1).tolist())
    terms = roll.rolled.explain_terms(moves, threads=workers)
    delta_rows = np.frombuffer(terms["delta"], dtype=np.float64)
    gamma_rows = np.frombuffer(terms["gamma"], dtype=np.float64)
    term_errors = _failures(terms, "rolled: ")

    start_npv, start_errors = _npv(roll.start, workers)
    rolled_npv, rolled_errors = _npv(roll.rolled, workers)
    end_npv, end_errors = _npv(end, workers)
    offsets = np.frombuffer(terms["offsets"], dtype=np.int64)
    delta = _per_trade(delta_rows, offsets)
    gamma = _per_trade(gamma_rows, offsets)
    cash = roll.cash
    errors = _errors(book, start_errors, roll.cash_errors, _failures(rolled_errors, "rolled: "),
                     _failures(end_errors, "end: "), term_errors)
    failed = np.asarray([bool(e) for e in errors])
    columns = {
        "Curve": pd.Categorical(book._curve_ids),
        "Currency": pd.Categorical(book.currencies),
        "Start NPV": start_npv,
        "End NPV": end_npv,
        "Cash": cash,
        "Total": end_npv + cash - start_npv,
        "Theta": rolled_npv + cash - start_npv,
        "Delta": delta,
        "Gamma": gamma,
        # End - rolled, less what the risk explains: no large Start NPV to cancel.
        "Unexplained": (end_npv - rolled_npv) - delta - gamma,
    }
    # A failed step leaves NaN in the columns that need it, and only there.
    frame = pd.DataFrame(columns, index=pd.Index(book._ids, name="Trade"))
    frame["Estimated Fixings"] = _estimated_per_trade(book, roll.estimated)
    frame["Error"] = errors
    notes += _notes_of_fixings(roll.estimated)
    if failed.any():
        notes.append(f"{int(failed.sum())} trade(s) could not be explained: see the Error column")
    # Plain values: pandas compares attrs when frames are concatenated.
    summed = _totals(frame).to_dict(orient="index")
    if by == "tenor":
        frame = _by_tenor(frame, roll.rolled.labels()["tenor"],
                          np.frombuffer(terms["tenor"], dtype=np.int32), delta_rows, gamma_rows,
                          offsets)
    frame.attrs.update(start=roll.start_date, end=roll.end_date, notes=notes,
                       estimated_fixings=roll.estimated, totals=summed)
    return frame


def _per_trade(rows: numpy.ndarray, offsets: numpy.ndarray) -> numpy.ndarray:
    """Sums of each trade's rows; NaN for a trade without rows."""
    import numpy as np

    sums = np.add.reduceat(np.append(rows, 0.0), offsets[:-1]) if rows.size else \
        np.zeros(offsets.size - 1)
    sums = np.where(offsets[1:] > offsets[:-1], sums, np.nan)
    return sums


def _by_tenor(frame: pandas.DataFrame, tenor_names: Sequence[str], tenors: numpy.ndarray,
              delta: numpy.ndarray, gamma: numpy.ndarray, offsets: numpy.ndarray
              ) -> pandas.DataFrame:
    """Delta and Gamma split into one column per instrument tenor (NaN where the trade's curve
    has no such tenor), under a two-level column index; the other columns keep their names
    over an empty second level."""
    import numpy as np
    import pandas as pd

    trades = np.repeat(np.arange(offsets.size - 1), np.diff(offsets))
    split = {}
    for name, rows in (("Delta", delta), ("Gamma", gamma)):
        table = np.full((offsets.size - 1, len(tenor_names)), np.nan)
        table[trades, tenors] = rows
        split[name] = pd.DataFrame(table, index=frame.index, columns=list(tenor_names))
    failed = frame["Delta"].isna().to_numpy()
    parts = []
    for column in frame.columns:
        if column in split:
            part = split[column]
            part.loc[failed] = np.nan
            part.columns = pd.MultiIndex.from_product([[column], part.columns])
            parts.append(part)
        else:
            parts.append(frame[[column]].set_axis(
                pd.MultiIndex.from_tuples([(column, "")]), axis=1))
    return pd.concat(parts, axis=1)


def totals(result: pandas.DataFrame) -> pandas.DataFrame:
    """The totals per currency of a `Book.explain` result, as a DataFrame indexed by
    currency: "Trades" (explained), the explain's columns summed over them, and "Failed"."""
    import pandas as pd

    frame = pd.DataFrame.from_dict(result.attrs["totals"], orient="index")
    frame.index.name = "Currency"
    return frame


def _totals(frame: pandas.DataFrame) -> pandas.DataFrame:
    """The explain's columns summed per currency, over the trades explained; "Trades" counts
    them and "Failed" the others."""
    import pandas as pd

    currencies = pd.Index(frame["Currency"].dropna().unique(), name="Currency", dtype=object)
    explained = frame[frame["Error"] == ""]
    grouped = explained[["Currency", *EXPLAIN_COLUMNS]].groupby("Currency", sort=False,
                                                                 observed=True)
    out = grouped.sum().reindex(currencies)  # NaN for a currency none of whose trades is
    out.insert(0, "Trades", grouped.size().reindex(currencies, fill_value=0))
    failed = frame[frame["Error"] != ""].groupby("Currency", sort=False, observed=True).size()
    out["Failed"] = failed.reindex(currencies, fill_value=0)
    return out
