"""DataFrames of curve pillars, risk ladders and cash flows (needs pandas)."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from ._extras import install_hint
from ._types import (
    BASIS_POINTS_PER_QUOTE_UNIT,  # noqa: F401 - kept for callers
    RISK_UNIT,
    risk_per_bp,
    unit_attrs,
)

try:
    import pandas as pd
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        f"tessarin's DataFrame output needs pandas: {install_hint('pandas')}"
    ) from error

if TYPE_CHECKING:
    from collections.abc import Mapping

    from ._objects import YieldCurve
    from ._types import CashFlows, RiskResult


def _column(name: str, values: list[Any]) -> pd.Series:
    if name.endswith("Date"):
        return pd.Series(pd.to_datetime(values), name=name)
    if name == "Pay/Receive":
        return pd.Series(values, name=name, dtype=object)
    return pd.Series(values, name=name, dtype="float64")


def curve_frame(curve: YieldCurve) -> pd.DataFrame:
    """One row per pillar: "Tenor" and "Quote" (percent) of the instrument in
    use that made it, "Date" (datetime64), "Zero Rate" (continuously
    compounded, decimal) and "Discount Factor"."""
    dates = curve.dates()
    frame = pd.DataFrame({
        "Date": pd.to_datetime(dates),
        "Zero Rate": pd.Series(curve.rates(), dtype="float64"),
        "Discount Factor": pd.Series([curve.df(d) for d in dates], dtype="float64"),
    })
    instruments = curve.to_dict().get("instruments", {})
    used = [i for i, flag in enumerate(instruments.get("in use", [])) if flag]
    if len(used) == len(dates):
        frame.insert(0, "Tenor", pd.Series([instruments["tenor"][i] for i in used], dtype=object))
        frame.insert(1, "Quote", pd.Series([instruments["quote"][i] for i in used],
                                           dtype="float64"))
    return frame


def repriced_frame(curve: YieldCurve, repriced: list[float]) -> pd.DataFrame:
    """"Tenor", "Quote", "Repriced" and "Error", one row per pillar."""
    instruments = curve.to_dict()["instruments"]
    used = [i for i, flag in enumerate(instruments["in use"]) if flag]
    quotes = pd.Series([float(instruments["quote"][i]) for i in used], dtype="float64")
    return pd.DataFrame({"Tenor": pd.Series([instruments["tenor"][i] for i in used],
                                            dtype=object),
                         "Quote": quotes, "Repriced": pd.Series(repriced, dtype="float64"),
                         "Error": pd.Series(repriced, dtype="float64") - quotes})


def forward_frame(curve: YieldCurve, start: Any, end: Any) -> pd.DataFrame:
    """"Date" and "Forward": the overnight forward of each calendar day in [start, end)."""
    import numpy as np

    days = np.arange(np.datetime64(start, "D"), np.datetime64(end, "D") + 1)
    dfs = curve.dfs(days)
    return pd.DataFrame({"Date": pd.to_datetime(days[:-1]),
                         "Forward": np.log(dfs[:-1] / dfs[1:]) * 365.0})


def risk_frame(risk: RiskResult | Mapping[str, list[Any]], *,
               currency: str = "") -> pd.DataFrame:
    """A risk result per 1bp, indexed by "Tenor", columns "Leg1", "Leg2" and "Net"
    as floats, each the PV change for a 1bp rise of that quote. `risk` is the result
    of `IRS.risk` (per 1bp, with its "Unit" and "Currency") or of `_tessarin`
    (per 1.00 of quote, divided by 100 here). The column axis is named
    "<currency> per 1bp" (plain "per 1bp" without a currency) and ``frame.attrs``
    holds {"unit": "per 1bp", "currency": currency}."""
    per_bp = risk_per_bp(risk, currency)
    currency = per_bp["Currency"]
    frame = pd.DataFrame(
        {name: pd.Series(per_bp[name], dtype="float64")  # type: ignore[literal-required]
         for name in ("Leg1", "Leg2", "Net")},
    ).set_axis(pd.Index(per_bp["Tenor"], name="Tenor", dtype=object))
    frame.columns.name = f"{currency} {RISK_UNIT}".strip()
    return unit_attrs(frame, RISK_UNIT, [currency])


def cashflow_frames(cashflows: CashFlows | Mapping[str, Any]) -> dict[str, pd.DataFrame]:
    """The result of `IRS.cashflows` as {"Leg1": frame, "Leg2": frame}, columns
    in its order, "... Date" columns as datetime64, "Pay/Receive" as text, the rest floats."""
    return {
        leg: pd.concat([_column(name, list(values)) for name, values in table.items()], axis=1)
        for leg, table in cashflows.items()
    }
