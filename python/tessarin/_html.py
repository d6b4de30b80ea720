"""Notebook display (`_repr_html_`) of curves and swaps: small HTML tables,
text escaped, long pillar lists cut to their first and last rows."""

from __future__ import annotations

import html
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from ._objects import IRS, YieldCurve
    from ._types import PriceResult

MAX_ROWS = 20
"""Pillar rows shown at most: the first and last half of that, with a row
saying how many are left out in between."""


def _cell(value: Any, tag: str = "td") -> str:
    return f"<{tag}>{html.escape(str(value))}</{tag}>"


def _row(values: list[Any], tag: str = "td") -> str:
    return "<tr>" + "".join(_cell(v, tag) for v in values) + "</tr>"


def _table(caption: str, header: list[str], rows: list[str]) -> str:
    return (f"<table><caption>{html.escape(caption)}</caption>"
            f"<thead>{_row(header, 'th')}</thead><tbody>{''.join(rows)}</tbody></table>")


def curve_html(curve: YieldCurve) -> str:
    """The pillar table: tenor, date, zero rate (percent) and discount factor."""
    dates = curve.dates()
    rates = curve.rates()
    instruments = curve.to_dict().get("instruments", {})
    used = [i for i, flag in enumerate(instruments.get("in use", [])) if flag]
    tenors = ([instruments["tenor"][i] for i in used] if len(used) == len(dates)
              else [""] * len(dates))
    count = len(dates)
    shown = list(range(count))
    if count > MAX_ROWS:
        shown = [*range(MAX_ROWS // 2), *range(count - MAX_ROWS // 2, count)]
    factors = curve.dfs([dates[i] for i in shown])
    rows = []
    for k, (i, factor) in enumerate(zip(shown, factors, strict=True)):
        if k == MAX_ROWS // 2 and count > MAX_ROWS:
            rows.append(f'<tr><td colspan="4">... {count - MAX_ROWS} more pillars ...</td></tr>')
        rows.append(_row([tenors[i], dates[i].isoformat(), f"{100 * rates[i]:.6f}",
                          f"{factor:.10f}"]))
    caption = (f"{curve.id} {curve.currency}, value date {curve.value_date.isoformat()}, "
               f"{count} pillars")
    if count > MAX_ROWS:
        caption += f" (showing the first and last {MAX_ROWS // 2})"
    return _table(caption, ["Tenor", "Date", "Zero rate %", "Discount factor"], rows)


def _leg_terms(leg: dict[str, Any]) -> list[Any]:
    fixed = bool(leg.get("is fixed"))
    rate = (f"{100 * float(leg.get('rate', 0.0)):.6f}% fixed" if fixed
            else f"{leg.get('index', '')} + {1e4 * float(leg.get('margin', 0.0)):.2f}bp")
    return ["pays" if leg.get("is paid") else "receives", rate,
            f"{float(leg.get('notional', 0.0)):,.2f}", leg.get("currency", ""),
            leg.get("frequency", ""), leg.get("day count convention", "")]


def swap_html(swap: IRS, last_price: tuple[str, PriceResult] | None) -> str:
    """The terms of both legs and, once priced, the leg values of the last price."""
    data = swap.to_dict()
    caption = (f"{swap.id}: {swap.effective_date.isoformat()} to "
               f"{swap.termination_date.isoformat()}")
    rows = [_row([name, *_leg_terms(data.get(name.lower(), {}))]) for name in ("Leg1", "Leg2")]
    text = _table(caption, ["Leg", "Side", "Rate", "Notional", "Currency", "Frequency",
                            "Day count"], rows)
    if last_price is not None:
        curve_id, price = last_price
        on = f" on {curve_id}" if curve_id else ""
        values = [f"{price[key]:,.2f}" for key in ("Leg1 PV", "Leg2 PV", "NPV")]
        text += _table(f"Last price{on} ({swap.currency})", ["Leg1 PV", "Leg2 PV", "NPV"],
                       [_row(values)])
    return text
