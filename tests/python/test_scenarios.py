"""Scenario sets resolved against the example market."""

import math

import pytest

import tessarin
from conftest import EXAMPLES
from tessarin import scenarios as sc

MARKET = tessarin.load_market(EXAMPLES / "market.json")
BASE = {c["id"]: c["instruments"] for c in MARKET}
CHANGES = [("2026-12-02", "USD SOFR", "1Y", 1.5), ("2026-12-01", "USD SOFR", "2Y", -2.0),
           ("2026-12-01", "EUR ESTR", "10Y", 3.25)]  # fmt: skip


def moved(scenario):
    """{(curve, tenor): new quote} of the quotes a scenario changes."""
    return {(name, BASE[name]["tenor"][i]): q for name, quotes in scenario.quotes.items()
            for i, q in enumerate(quotes) if q != BASE[name]["quote"][i]}


def test_parallel_moves_every_quote_in_use_of_the_named_curves():
    first, second = sc.parallel([-25, 10], curves="USD SOFR").resolve(MARKET)
    assert (first.name, second.name) == ("parallel -25bp on USD SOFR", "parallel +10bp on USD SOFR")
    usd = BASE["USD SOFR"]
    assert list(second.quotes) == ["USD SOFR"]
    assert second.quotes["USD SOFR"] == tuple(
        q + 10 / 100.0 if used else q for q, used in zip(usd["quote"], usd["in use"], strict=True))
    everywhere = sc.parallel(1).resolve([tessarin.YieldCurve(c) for c in MARKET])[0]
    assert set(everywhere.quotes) == set(BASE)


def test_key_rate_moves_one_tenor_at_a_time():
    scenarios = (sc.key_rate([1, -1], ["GBP SONIA"]) + sc.parallel(2)).resolve(MARKET)
    used = sum(BASE["GBP SONIA"]["in use"])
    assert len(scenarios) == 2 * used + 1
    for scenario in scenarios[:-1]:
        ((curve, tenor), quote), = moved(scenario).items()
        assert scenario.name.startswith(f"{curve} {tenor} ")


@pytest.mark.parametrize("form", ["frame", "csv", "parquet"])
def test_historical_gives_one_scenario_per_date_in_date_order(form, tmp_path):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(CHANGES, columns=["date", "curve", "tenor", "change"])
    table = frame
    if form == "csv":
        table = tmp_path / "changes.csv"
        frame.to_csv(table, index=False)
    elif form == "parquet":
        pytest.importorskip("pyarrow")
        table = tmp_path / "changes.parquet"
        frame.to_parquet(table)
    first, second = sc.historical(table).resolve(MARKET)
    assert (first.name, second.name) == ("2026-12-01", "2026-12-02")
    i = BASE["USD SOFR"]["tenor"].index("2Y")
    j = BASE["EUR ESTR"]["tenor"].index("10Y")
    assert moved(first) == {("USD SOFR", "2Y"): BASE["USD SOFR"]["quote"][i] - 2.0 / 100.0,
                            ("EUR ESTR", "10Y"): BASE["EUR ESTR"]["quote"][j] + 3.25 / 100.0}


def test_absolute_quotes_replace_only_the_named_tenors():
    (scenario,) = sc.absolute({"stress": {"USD SOFR": {"5Y": 5.0}}}).resolve(MARKET)
    assert moved(scenario) == {("USD SOFR", "5Y"): 5.0}


@pytest.mark.parametrize(("rows", "message"), [
    ([("2026-12-01", "USD SOFR", "7W", 1.0)], r"row 0: unknown tenor '7W' on USD SOFR"),
    ([("2026-12-01", "XXX", "1Y", 1.0)], r"row 0: unknown curve 'XXX' \(the market has"),
    ([("2026-12-01", "USD SOFR", "1Y", math.nan)], r"row 0\.change: expected a finite number"),
    ([("2026-12-01", "USD SOFR", "1Y", 1.0)] * 2, r"row 1: USD SOFR 1Y on 2026-12-01 is given twice"),
    ([], r"the table of changes has no rows"),
])  # fmt: skip
def test_bad_historical_rows_are_named(rows, message):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(rows, columns=["date", "curve", "tenor", "change"])
    with pytest.raises(tessarin.InputError, match=message):
        sc.historical(frame).resolve(MARKET)


@pytest.mark.parametrize(("make", "message"), [
    (lambda: sc.parallel([]), "expected at least one shift"),
    (lambda: sc.parallel(math.inf), "expected a finite number"),
    (lambda: sc.key_rate(1, "XXX").resolve(MARKET), "unknown curve 'XXX'"),
    (lambda: sc.absolute({"s": {"USD SOFR": {"1Y": "high"}}}), "expected a quote in percent"),
])  # fmt: skip
def test_bad_scenario_arguments_are_input_errors(make, message):
    with pytest.raises(tessarin.InputError, match=message):
        make()
