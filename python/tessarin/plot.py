"""Charts of curves and key-rate risk (needs matplotlib).

The figures are built without pyplot, so nothing needs a display: save them
with ``path=`` (PNG) or ``fig.savefig``, or show them in a notebook.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any

from ._extras import install_hint
from ._types import risk_per_bp

try:
    from matplotlib import dates as mdates
    from matplotlib.figure import Figure
    from matplotlib.patches import Patch
    from matplotlib.ticker import FuncFormatter
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(f"tessarin's plots need matplotlib: {install_hint('plot')}") from error

if TYPE_CHECKING:
    from ._objects import YieldCurve
    from ._types import PathLike, RiskResult


def _save(figure: Figure, path: PathLike | None) -> Figure:
    if path is not None:
        figure.savefig(path, format="png", dpi=100)
    return figure


def plot_curve(curves: YieldCurve | Iterable[YieldCurve], path: PathLike | None = None, *,
               title: str | None = None, forwards: bool = False) -> Figure:
    """Zero rates (percent, continuously compounded) and discount factors of
    one or several curves against their pillar dates, in two panels; with
    `forwards`, a third panel of the daily overnight forwards (percent) from
    the value date to the last pillar, as `YieldCurve.forwards` gives them.

    Returns the figure; given `path`, also saves it as PNG.
    """
    group: Sequence[YieldCurve] = list(curves) if isinstance(curves, Iterable) else [curves]
    figure = Figure(figsize=(9, 10 if forwards else 7), layout="constrained")
    panels = figure.subplots(3 if forwards else 2, 1, sharex=True)
    zero_axes, df_axes = panels[0], panels[1]
    if forwards:
        forward_axes = panels[2]
        for curve in group:
            frame = curve.forwards()
            forward_axes.step(frame["Date"], 100 * frame["Forward"], where="post",
                              label=getattr(curve, "id", "") or "curve")
        forward_axes.set_ylabel("Overnight forward (%)")
        forward_axes.set_title("Daily overnight forwards", fontsize="medium")
        forward_axes.grid(True, alpha=0.3)
    for curve in group:
        dates = curve.dates()
        label = getattr(curve, "id", "") or "curve"
        zero_axes.plot(dates, [100 * r for r in curve.rates()], marker="o", markersize=3,
                       label=label)
        df_axes.plot(dates, [curve.df(d) for d in dates], marker="o", markersize=3, label=label)
    if title is None:
        value_dates = {curve.value_date for curve in group if hasattr(curve, "value_date")}
        title = "Zero curve" if len(group) == 1 else "Zero curves"
        if len(value_dates) == 1:
            title += f", value date {value_dates.pop().isoformat()}"
    figure.suptitle(title)
    zero_axes.set_ylabel("Zero rate (%)")
    zero_axes.set_title("Zero rates at the pillar dates", fontsize="medium")
    df_axes.set_ylabel("Discount factor")
    panels[-1].set_xlabel("Date" if forwards else "Pillar date")
    df_axes.set_title("Discount factors at the pillar dates", fontsize="medium")
    locator = mdates.AutoDateLocator()
    panels[-1].xaxis.set_major_locator(locator)
    panels[-1].xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
    zero_axes.legend(fontsize="small", ncols=min(3, max(1, len(group))))
    for axes in (zero_axes, df_axes):
        axes.grid(True, alpha=0.3)
    return _save(figure, path)


def plot_risk(risk: RiskResult | Mapping[str, Any], path: PathLike | None = None, *,
              title: str = "Key-rate risk", currency: str = "") -> Figure:
    """The key-rate risk ladder of `IRS.risk`, per 1bp: the net PV change for
    a 1bp rise of each instrument's quote as bars, one per tenor, with the two
    legs drawn as markers; the currency (the result's own, else `currency`) goes
    into the axis label. A `_tessarin` result, per 1.00 of quote, is divided by 100.

    Returns the figure; given `path`, also saves it as PNG.
    """
    per_bp = risk_per_bp(risk, currency)
    currency = per_bp["Currency"]
    tenors = per_bp["Tenor"]
    positions = range(len(tenors))
    figure = Figure(figsize=(max(6.0, 0.45 * len(tenors) + 2), 4.8), layout="constrained")
    axes = figure.subplots()
    net = per_bp["Net"]
    colours = ["tab:green" if value >= 0 else "tab:red" for value in net]
    axes.bar(positions, net, color=colours)
    leg1 = axes.plot(positions, per_bp["Leg1"], "v", color="tab:blue", label="Leg1")
    leg2 = axes.plot(positions, per_bp["Leg2"], "^", color="tab:orange", label="Leg2")
    axes.axhline(0.0, color="black", linewidth=0.8)
    axes.set_xticks(list(positions), tenors, rotation=45 if len(tenors) > 12 else 0)
    axes.set_xlabel("Curve instrument (tenor)")
    unit = f" ({currency})" if currency else ""
    axes.set_ylabel(f"PV change per 1bp quote rise{unit}")
    axes.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:,.2f}"))
    axes.set_title(title)
    axes.grid(True, axis="y", alpha=0.3)
    axes.legend(handles=[Patch(color="tab:green", label="Net, gain"),
                         Patch(color="tab:red", label="Net, loss"), *leg1, *leg2],
                fontsize="small")
    return _save(figure, path)
