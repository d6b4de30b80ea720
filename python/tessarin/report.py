"""An HTML report of a book: curves, prices with totals per currency, ladders, the largest
trades by DV01 and, with scenarios, the PnL distribution with VaR and ES.

One self-contained file: the charts are PNG images inside it and the styles are inline, so
it opens anywhere with no network. Needs jinja2 and matplotlib (``pip install
'tessarin[report]'``).
"""

from __future__ import annotations

import base64
import datetime as dt
import io
import math
import os
from collections.abc import Iterable, Sequence
from importlib import resources
from typing import TYPE_CHECKING, Any

from ._extras import install_hint
from ._inputs import InputError
from .conventions import GENERATORS, INDICES

if TYPE_CHECKING:
    import pandas
    from matplotlib.figure import Figure

    from ._objects import YieldCurve
    from ._types import PathLike
    from .cli import Run
    from .cli_output import Ticker
    from .revaluation import Revaluation

DEFAULT_LEVELS = (0.99,)
TOP_TRADES = 10
MAX_PRICE_ROWS = 1000  # trades listed one by one; the totals cover them all
FORWARD_STEP_DAYS = 7  # overnight forwards drawn once a week along the curve


def _modules() -> tuple[Any, Any]:
    try:
        import jinja2
        from matplotlib.figure import Figure
    except ImportError as error:
        raise ImportError(f"the HTML report needs jinja2 and matplotlib: "
                          f"{install_hint('report')}") from error
    return jinja2, Figure


def _png(figure: Figure) -> str:
    """The figure as a data URI of a PNG image."""
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=90)
    return "data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode("ascii")


def _day_count(curve: YieldCurve) -> str:
    """The day count of the curve's overnight index, from its first instrument's generator."""
    generators = curve.to_dict().get("instruments", {}).get("generator", [])
    generator = GENERATORS.get(generators[0]) if generators else None
    index = INDICES.get(generator.index) if generator is not None else None
    return index.day_count if index is not None else "ACT/360"


def _curve_lines(curve: YieldCurve) -> tuple[list[dt.date], list[float], list[dt.date],
                                                list[float]]:
    """Zero rates at the pillars and one-day forwards along the curve, in percent."""
    dates = curve.dates()
    zeros = [100.0 * curve.zero_rate(d) for d in dates]
    day = dt.timedelta(days=1)
    day_count = _day_count(curve)
    grid = [curve.value_date + dt.timedelta(days=k)
            for k in range(0, (max(dates) - curve.value_date).days, FORWARD_STEP_DAYS)]
    forwards = [100.0 * curve.forward_rate(d, d + day, day_count=day_count) for d in grid]
    return dates, zeros, grid, forwards


def curves_chart(curves: Sequence[YieldCurve], figure_type: Any) -> str:
    """Zero rates and overnight forwards of the curves, in two panels."""
    figure = figure_type(figsize=(10, 6.5))
    figure.subplots_adjust(left=0.07, right=0.98, top=0.95, bottom=0.06, hspace=0.2)
    zero_axes, forward_axes = figure.subplots(2, 1, sharex=True)
    for curve in curves:
        dates, zeros, grid, forwards = _curve_lines(curve)
        line = zero_axes.plot(dates, zeros, marker="o", markersize=3, label=curve.id)[0]
        forward_axes.plot(grid, forwards, color=line.get_color(), linewidth=1, label=curve.id)
    zero_axes.set_title("Zero rates at the pillars (continuously compounded, %)",
                        fontsize="medium")
    forward_axes.set_title("Overnight forward rates (simple, the index's day count, %)",
                           fontsize="medium")
    zero_axes.legend(fontsize="small", ncols=min(3, max(1, len(curves))))
    for axes in (zero_axes, forward_axes):
        axes.grid(True, alpha=0.3)
    return _png(figure)


def ladder_chart(ladder: pandas.DataFrame, curve: str, currency: str, figure_type: Any) -> str:
    """The book's net key-rate risk on one curve, per 1bp, as bars by instrument."""
    tenors = [str(t) for t in ladder["Tenor"]]
    net = ladder["Net"].to_numpy()
    figure = figure_type(figsize=(max(6.0, 0.42 * len(tenors) + 2), 3.6))
    figure.subplots_adjust(left=0.14, right=0.98, top=0.9, bottom=0.17)
    axes = figure.subplots()
    axes.bar(range(len(tenors)), net, color=["tab:green" if v >= 0 else "tab:red" for v in net])
    axes.axhline(0.0, color="black", linewidth=0.8)
    axes.set_xticks(range(len(tenors)), tenors, rotation=45 if len(tenors) > 12 else 0)
    axes.set_ylabel(f"PV change per 1bp ({currency})")
    axes.set_title(f"Key-rate ladder of {curve}, summed over the book", fontsize="medium")
    axes.grid(True, axis="y", alpha=0.3)
    return _png(figure)


def pnl_chart(pnl: pandas.Series, currency: str, marks: Sequence[tuple[float, float, float]],
              figure_type: Any) -> str:
    """The histogram of one currency's scenario PnL, VaR and ES of each level marked as
    losses (at minus their value)."""
    figure = figure_type(figsize=(8, 3.6))
    figure.subplots_adjust(left=0.1, right=0.98, top=0.9, bottom=0.15)
    axes = figure.subplots()
    values = pnl.dropna().to_numpy()
    axes.hist(values, bins=min(50, max(5, len(values) // 3)), color="tab:blue", alpha=0.75)
    for level, var, es in marks:
        if math.isfinite(var):
            axes.axvline(-var, color="tab:orange", linestyle="--",
                         label=f"VaR {level:g}: {var:,.0f}")
            axes.axvline(-es, color="tab:red", linestyle=":", label=f"ES {level:g}: {es:,.0f}")
    axes.set_xlabel(f"Scenario PnL ({currency})")
    axes.set_ylabel("Scenarios")
    axes.set_title(f"PnL of the {currency} trades over {len(values)} scenarios",
                   fontsize="medium")
    if any(math.isfinite(var) for _, var, _ in marks):
        axes.legend(fontsize="small", loc="upper left")
    axes.grid(True, alpha=0.3)
    return _png(figure)


def _text(value: Any, column: str = "") -> str:
    if isinstance(value, float) or hasattr(value, "dtype"):
        value = float(value)
        if math.isnan(value):
            return "n/a"
        if column in ("Level",):
            return f"{value:g}"
        if column.endswith("%"):
            return f"{value:.4f}"
        text = f"{value:,.2f}"
        return "0.00" if text == "-0.00" else text
    if isinstance(value, dt.date):
        return value.isoformat()
    return str(value)


def _table(frame: pandas.DataFrame, table_id: str, caption: str) -> dict[str, Any]:
    """A table for the template: headers, rows of text, which columns are numbers."""
    import pandas as pd

    columns = [str(c) for c in frame.columns]
    numeric = [pd.api.types.is_numeric_dtype(frame[c]) for c in frame.columns]
    data = [frame[c].tolist() for c in frame.columns]
    rows = [[_text(v, name) for v, name in zip(row, columns, strict=True)]
            for row in zip(*data, strict=True)]
    return {"id": table_id, "caption": caption, "columns": columns, "numeric": numeric,
            "rows": rows}


def _slug(text: str) -> str:
    return "".join(c if c.isalnum() else "-" for c in text.lower()).strip("-")


def render(run: Run, *, revaluation: Revaluation | None = None,
           levels: Iterable[float] = DEFAULT_LEVELS, top: int = TOP_TRADES,
           title: str = "Tessarin book report", sources: Sequence[str] = ()) -> str:
    """The report of a `tessarin price` run (with risk), and of a revaluation, as HTML."""
    import pandas as pd

    from .cli_output import currency_totals, failures_frame

    jinja2, figure_type = _modules()
    prices = run.prices if run.prices is not None else pd.DataFrame(
        {"Trade": [], "Curve": [], "Currency": [], "Leg1 PV": [], "Leg2 PV": [], "NPV": [],
         "DV01": []})
    curve_rows = [[c.id, c.currency, c.value_date.isoformat(), len(c.dates()),
                   max(c.dates()).isoformat(), _day_count(c)] for c in run.curves]
    curves = pd.DataFrame(curve_rows, columns=["Curve", "Currency", "Value date", "Pillars",
                                               "Last pillar", "Forward day count"])
    pillars = pd.DataFrame(
        [[c.id, d.isoformat(), 100.0 * r] for c in run.curves
         for d, r in zip(c.dates(), c.rates(), strict=True)],
        columns=["Curve", "Pillar", "Zero rate %"])
    tables = {
        "curves": _table(curves, "curves", "Curves built"),
        "pillars": _table(pillars, "pillars", "Zero rates at the pillars (continuously "
                                              "compounded, percent)"),
        "totals": _table(currency_totals(prices), "totals",
                         "NPV and DV01 per currency (DV01: PV change per 1bp move of every "
                         "quote; amounts in different currencies do not add up)"),
    }
    largest = prices.assign(_size=prices["DV01"].abs()).sort_values(
        "_size", ascending=False, kind="stable").drop(columns="_size").head(top) \
        if "DV01" in prices else prices.head(0)
    tables["largest"] = _table(largest, "largest", f"The {len(largest)} largest trades by "
                                                   "|DV01|")
    listed = (f"the first {MAX_PRICE_ROWS:,} of {len(prices):,} trades (tessarin price --out "
              "DIR writes them all); " if len(prices) > MAX_PRICE_ROWS else "")
    tables["prices"] = _table(prices.head(MAX_PRICE_ROWS), "prices",
                              f"Prices ({listed}received legs positive, paid legs negative; "
                              "DV01 per 1bp)")
    tables["failures"] = _table(failures_frame(run.failures), "failures", "Failures")
    ladders = []
    if run.ladder is not None:
        for (curve, currency), ladder in run.ladder.groupby(["Curve", "Currency"], sort=False,
                                                            observed=True):
            ladders.append({
                "curve": str(curve),
                "image": ladder_chart(ladder, str(curve), str(currency), figure_type),
                "table": _table(ladder.drop(columns=["Curve"]), "ladder-" + _slug(str(curve)),
                                f"Key-rate ladder of {curve} in {currency}, per 1bp")})
    scenarios = None
    if revaluation is not None:
        levels = list(levels)
        charts, rows = [], []
        for currency in revaluation.by_currency.columns:
            marks = []
            for level in levels:
                try:
                    var, es = revaluation.var(level, currency), revaluation.es(level, currency)
                except ValueError:
                    var = es = math.nan
                marks.append((level, var, es))
                rows.append([currency, level, var, es])
            charts.append({"currency": currency,
                           "image": pnl_chart(revaluation.by_currency[currency], currency, marks,
                                              figure_type)})
        var_table = pd.DataFrame(rows, columns=["Currency", "Level", "VaR", "ES"])
        scenarios = {"count": len(revaluation.scenarios), "charts": charts,
                     "table": _table(var_table, "var", "Historical VaR and ES per currency "
                                                       "(losses positive)"),
                     "failures": len(revaluation.failures)}
    template = jinja2.Environment(autoescape=True, undefined=jinja2.StrictUndefined) \
        .from_string(resources.files("tessarin").joinpath("templates/report.html.j2")
                     .read_text(encoding="utf-8"))
    return template.render(
        title=title, sources=list(sources), trades=len(prices), failed=len(run.failures),
        value_dates=sorted({c.value_date.isoformat() for c in run.curves}),
        curves_image=curves_chart(run.curves, figure_type) if run.curves else None,
        tables=tables, ladders=ladders, scenarios=scenarios)


def report(market: Any, trades: Any, fixings: Any = None, *, scenarios: Any = None,
           path: PathLike | None = None, levels: Iterable[float] = DEFAULT_LEVELS,
           top: int = TOP_TRADES, risk_method: str = "analytic", threads: int | None = None
           ) -> str:
    """Price and risk a book, optionally revalue it under `scenarios`
    (`tessarin.scenarios.parallel`, `historical`, ...), and return the HTML report; with
    `path`, also write it there.

    `market`: a market file or curve dicts; `trades`: a trades file (JSON, CSV or Parquet),
    a list of trades-file entries or a DataFrame; `fixings`: a fixings file or dict. The
    numbers are those of `tessarin price --risk` and `tessarin scenarios`: risk per 1bp in
    each trade's currency, totals per currency. Trades that fail are listed in the report.
    """
    return build(market, trades, fixings, scenarios=scenarios, path=path, levels=levels,
                 top=top, risk_method=risk_method, threads=threads)[0]


def build(market: Any, trades: Any, fixings: Any = None, *, scenarios: Any = None,
          path: PathLike | None = None, levels: Iterable[float] = DEFAULT_LEVELS,
          top: int = TOP_TRADES, risk_method: str = "analytic", threads: int | None = None,
          ticker: Ticker | None = None) -> tuple[str, int]:
    """`report`, with the number of failures (curves and trades in the base market, and in
    the scenarios); `ticker` shows progress."""
    from .book import trade_rows
    from .cli import price_book
    from .cli_output import extrapolation_warnings
    from .files import load_fixings, load_market

    _modules()

    def source(item: Any) -> str:
        return str(item) if isinstance(item, (str, os.PathLike)) else ""

    sources = [source(s) for s in (market, trades, fixings) if source(s)]
    curves = load_market(market) if source(market) else list(market)
    rows = trade_rows(trades)
    if source(fixings):
        fixings = load_fixings(fixings)
    run = price_book(curves, rows, fixings, risk=True, risk_method=risk_method,
                     threads=threads, market_source=source(market),
                     trades_source=source(trades), ticker=ticker)
    if run.rows is not None:
        extrapolation_warnings(run.rows, {c.id: c for c in run.curves}, source(trades))
    revaluation = None
    if scenarios is not None:
        from .revaluation import revalue

        if ticker is not None:
            ticker.set("revaluing the scenarios")
        revaluation = revalue(rows, curves, scenarios, fixings, threads=threads,
                              stream=io.StringIO() if ticker is not None else None)
    if ticker is not None:
        ticker.set("drawing the report")
    text = render(run, revaluation=revaluation, levels=levels, top=top, sources=sources)
    if path is not None:
        try:
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
        except OSError as error:
            raise InputError("-o", f"cannot write {path} ({error.strerror or error})") from None
    failures = len(run.failures) + (len(revaluation.failures) if revaluation is not None else 0)
    return text, failures
