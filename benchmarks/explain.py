"""Times book gamma and the P&L explain on the 100,000-swap book of book.py, and checks them.

The book is book.py's (fixed seed, six currencies, spot, forward and seasoned swaps, the
example fixings) on the example market of 8 December 2026. Timed with threads=1 and
threads=2, turn about, wall clock, medians of --repeat pairs, against the book's analytic
risk in the same run (the ratio is the cost in analytic risks):

- `Book.gamma()`: the cross-gamma of every curve summed over the book;
- `Book.explain(market, moved)`: random moves of up to 5bp on every quote, the end market
  one business day later (9 December), with the example fixings (the one of 8 December is
  not given, so it is estimated from the forwards).

Then, on the same book: the largest |Unexplained| / notional for random moves of up to 5bp
with the value date unchanged; the median ratio of Unexplained for 25bp moves over 12.5bp
moves (third order: about 8); the explain of an unchanged market one business day later
(Delta, Gamma and Unexplained must be exactly zero); and, on --check trades, the worst
relative error of gamma against full-revaluation central second differences (1bp steps,
and their Richardson extrapolation) on the entries above 1% of each trade's largest.

    python benchmarks/explain.py --module-dir build/py/python [--trades 100000]
"""

from __future__ import annotations

import argparse
import copy
import datetime as dt
import os
import sys
import warnings
from pathlib import Path

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
NEXT_DAY = dt.date(2026, 12, 9)


def moved(market, bp: float, seed: int, value_date: dt.date | None = None):
    """The market with every quote moved by a uniform draw in [-bp, bp] basis points."""
    import numpy as np

    random = np.random.default_rng(seed)
    out = []
    for curve in market:
        data = copy.deepcopy(dict(curve))
        quotes = data["instruments"]["quote"]
        draws = random.uniform(-1.0, 1.0, len(quotes))
        data["instruments"]["quote"] = [q + bp * u / 100.0
                                        for q, u in zip(quotes, draws, strict=True)]
        if value_date is not None:
            data["value date"] = value_date
        out.append(data)
    return out


def gamma_check(tessarin, table, curves, fixings, count: int) -> tuple[float, float]:
    """Worst relative errors of the book's per-trade gamma against full revaluation (each
    trade repriced on curves rebuilt from moved quotes) over the entries above 1% of each
    trade's largest: against central second differences with 1bp steps, and against their
    Richardson extrapolation with 2bp steps."""
    import numpy as np

    rows = table.iloc[:count]
    gammas = tessarin.Book(rows, curves, fixings, threads=1).gamma(per_trade=True)
    plain = richardson = 0.0
    for trade_id, curve_id in zip(rows["id"], rows["curve"], strict=True):
        if trade_id not in gammas:
            continue
        one = tessarin.Book(rows[rows["id"] == trade_id], curves, fixings, threads=1)
        data = curves[curve_id].to_dict()
        quotes = np.asarray(data["instruments"]["quote"])

        def value(shift, one=one, data=data, quotes=quotes, curve_id=curve_id):
            moved_curve = tessarin.YieldCurve({**data, "instruments": {
                **data["instruments"], "quote": (quotes + shift).tolist()}})
            npv = one._impl.rebound({curve_id: moved_curve.native}, one._fixings).price()["npv"]
            return np.frombuffer(npv, dtype=np.float64)[0]

        def second(i, j, h, quotes=quotes, value=value):
            ei, ej = np.eye(len(quotes))[i] * h, np.eye(len(quotes))[j] * h
            if i == j:
                return (value(ei) - 2 * value(0 * ei) + value(-ei)) / h ** 2 / 1e4
            return (value(ei + ej) - value(ei - ej) - value(ej - ei) + value(-ei - ej)) / (
                4 * h * h) / 1e4

        gamma = gammas[trade_id].to_numpy()
        for i, j in np.argwhere(np.abs(gamma) > 0.01 * np.abs(gamma).max()):
            if j < i:
                continue
            fine, coarse = second(i, j, 0.01), second(i, j, 0.02)
            plain = max(plain, abs(gamma[i, j] - fine) / abs(gamma[i, j]))
            extrapolated = (4 * fine - coarse) / 3
            richardson = max(richardson, abs(gamma[i, j] - extrapolated) / abs(gamma[i, j]))
    return plain, richardson


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--module-dir", help="directory of a built _tessarin to import first")
    parser.add_argument("--trades", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--check", type=int, default=20,
                        help="trades whose gamma is checked against full revaluation")
    args = parser.parse_args()
    if args.module_dir:
        sys.path.insert(0, str(Path(args.module_dir).resolve()))
    sys.path.insert(1, str(ROOT / "python"))
    sys.path.insert(2, str(Path(__file__).resolve().parent))
    from book import book_table, interleaved

    import tessarin

    warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
    market = tessarin.load_market(EXAMPLES / "market.json")
    curves = {c["id"]: tessarin.YieldCurve(c) for c in market}
    fixings = tessarin.load_fixings(EXAMPLES / "fixings.json")
    table = book_table(args.trades)
    book = tessarin.Book(table, curves, fixings)
    notional = table.set_index("id")["notional"]
    to_market = moved(market, 5.0, 1, NEXT_DAY)
    print(f"{args.trades} swaps, {len(curves)} curves; wall clock, median of {args.repeat} "
          "pairs of calls")

    risk = interleaved(lambda t: book.risk("analytic", threads=t), args.repeat)
    gamma = interleaved(lambda t: book.gamma(threads=t), args.repeat)
    explain = interleaved(lambda t: book.explain(market, to_market, threads=t), args.repeat)
    print("| 100,000 swaps, seconds (wall) | analytic risk | book gamma | explain |")
    print("|---|---:|---:|---:|")
    for t in (1, 2):
        print(f"| threads={t} | {risk[t]:.3f} | {gamma[t]:.3f} ({gamma[t] / risk[t]:.1f}x) | "
              f"{explain[t]:.3f} ({explain[t] / risk[t]:.1f}x) |")

    same_day = book.explain(market, moved(market, 5.0, 2), threads=2)
    ok = same_day["Error"] == ""
    worst = float((same_day["Unexplained"][ok].abs() / notional[ok.index[ok]]).max())
    print(f"5bp random moves, same value date: max |Unexplained| / notional = {worst:.2e} "
          f"(target 1e-6), {int((~ok).sum())} trade(s) not explained")
    big = book.explain(market, moved(market, 25.0, 3), threads=2)["Unexplained"]
    half = book.explain(market, moved(market, 12.5, 3), threads=2)["Unexplained"]
    large = half.abs() > 1e-6 * notional
    ratio = (big / half)[large]
    print(f"25bp over 12.5bp moves: median Unexplained ratio {ratio.median():.3f} "
          f"(quartiles {ratio.quantile(0.25):.3f} to {ratio.quantile(0.75):.3f}) over "
          f"{int(large.sum())} trades with |Unexplained| above 1e-6 x notional at 12.5bp")
    still = book.explain(market, moved(market, 0.0, 4, NEXT_DAY), threads=2)
    zeros = all(bool((still[c].fillna(0.0) == 0.0).all()) for c in ("Delta", "Gamma",
                                                                     "Unexplained"))
    print(f"unchanged quotes, next business day: Delta, Gamma and Unexplained all exactly "
          f"zero: {zeros}; Theta = Total: {bool((still['Theta'] == still['Total']).all())}")
    if args.check:
        plain, richardson = gamma_check(tessarin, table, curves, fixings, args.check)
        print(f"gamma against full revaluation on {args.check} trades, worst relative error "
              f"on the entries above 1% of the largest: {richardson:.2e} against Richardson-"
              f"extrapolated central second differences (target 1e-6); {plain:.2e} against "
              "plain 1bp central differences, whose own truncation error that is")
    return 0


if __name__ == "__main__":
    sys.exit(main())
