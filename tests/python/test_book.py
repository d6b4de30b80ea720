"""tessarin.Book against the single-trade path, trade by trade and bit for bit."""

import datetime as dt
import struct
import threading
import time

import numpy as np
import pandas as pd
import pytest

import tessarin
from conftest import EXAMPLES, example_curves, run_isolated
from tessarin._inputs import swap_input
from tessarin.book import ladder_of

MARKET = EXAMPLES / "market.json"
FIXINGS = tessarin.load_fixings(EXAMPLES / "fixings.json")
CURRENCIES = {"USD": ("USD SOFR SW", "USD SOFR"), "EUR": ("EUR ESTR SW", "EUR ESTR"),
              "GBP": ("GBP SONIA SW", "GBP SONIA"), "CHF": ("CHF SARON SW", "CHF SARON"),
              "JPY": ("JPY TONA SW", "JPY TONA"), "SGD": ("SGD SORA SW", "SGD SORA")}


def bits(value):
    return struct.pack("<d", value)


@pytest.fixture(scope="module")
def curves():
    return {name: tessarin.YieldCurve(c) for name, c in example_curves().items()}


@pytest.fixture(scope="module")
def example_book(curves):
    return tessarin.Book(EXAMPLES / "trades.json", curves, FIXINGS, threads=2)


def single(swap, curve, method="bump"):
    """Price and per-bp risk of one swap through tessarin.IRS."""
    irs = tessarin.IRS(swap)
    risk = irs.risk(curve, FIXINGS, method=method)
    assert risk["Unit"] == "per 1bp"
    return irs.price(curve, FIXINGS), risk


def assert_as_single(book, swaps, curves, method="bump"):
    """Every trade of the book equals tessarin.IRS on its curve, bit for bit."""
    prices = book.price()
    risk = book.risk(method=method)
    for trade_id, (curve_id, swap) in swaps.items():
        price, ladder = single(swap, curves[curve_id], method)
        row = prices.loc[trade_id]
        assert row["Error"] == ""
        for column, key in (("Leg1 PV", "Leg1 PV"), ("Leg2 PV", "Leg2 PV"), ("NPV", "NPV")):
            assert bits(row[column]) == bits(price[key]), (trade_id, column)
        rows = risk[risk["Trade"] == trade_id]
        assert list(rows["Tenor"]) == curves[curve_id].to_dict()["instruments"]["tenor"]
        for column in ("Leg1", "Leg2", "Net"):
            assert [bits(v) for v in rows[column]] == [bits(v) for v in ladder[column]], \
                (trade_id, column)


@pytest.mark.parametrize("table", ["risk", "ladder", "price", "cashflows"])
def test_risk_tables_name_their_unit_and_currencies(example_book, curves, table):
    frame = getattr(example_book, table)()
    assert frame.attrs.get("unit") == ("per 1bp" if table in ("risk", "ladder") else None)
    currencies = frame["Currency"] if "Currency" in frame else example_book.currencies
    assert frame.attrs["currency"].split(", ") == list(dict.fromkeys(currencies))
    usd = [t for t in tessarin.load_trades(EXAMPLES / "trades.json") if t.curve == "USD SOFR"]
    assert getattr(tessarin.Book(usd, curves, FIXINGS), table)().attrs["currency"] == "USD"


def test_example_book_equals_the_single_swaps(example_book, curves):
    swaps = {t.swap["id"]: (t.curve, t.swap)
             for t in tessarin.load_trades(EXAMPLES / "trades.json")}
    for method in ("bump", "analytic"):
        assert_as_single(example_book, swaps, curves, method)
    flows = example_book.cashflows()
    for trade_id, (curve_id, swap) in swaps.items():
        expected = tessarin.IRS(swap).cashflows(curves[curve_id], FIXINGS)
        found = flows[flows["Trade"] == trade_id]
        for leg, table in expected.items():
            rows = found[found["Leg"] == int(leg[-1])]
            # The same columns, names and signs (paid negative) as the book's rows.
            shared = [name for name in table if name not in ("Estimated Rate", "Spread")]
            assert shared == [name for name in flows.columns if name in table]
            assert rows["Pay/Receive"].tolist() == table["Pay/Receive"]
            for name in ("Cash Flow", "Cash Flow PV", "Rate", "Margin", "Discount Factor"):
                assert [bits(v) for v in rows[name]] == [bits(v) for v in table[name]], name
            assert list(rows["Payment Date"].dt.date) == table["Payment Date"]


@pytest.mark.parametrize("method", ["analytic", "bump"])  # bump runs watched
def test_trades_failing_in_a_call_lose_their_rows_and_only_theirs(curves, method):
    """Seasoned trades without fixings build but cannot be priced: the risk table closes the
    gaps they leave, and a repeated id labels the rows of both its trades."""
    table = trade_table(24)
    for row, start in {6: "2026-06-10", 14: "2026-03-16"}.items():  # USD and GBP
        table.loc[row, "effective date"] = start
        table.loc[row, "termination date"] = "2031" + start[4:]
    table.loc[9, "id"] = "T3"  # both CHF
    book = tessarin.Book(table, curves, threads=2)
    prices = book.price()
    for row, (index, start) in {6: ("SOFR", "2026-06-10"), 14: ("SONIA", "2026-03-16")}.items():
        assert prices["Error"].iloc[row].startswith(
            f"row {row}: fixings: no {index} fixing on {start}, the first of ")
    risk = book.risk(method)
    assert not {"T6", "T14"} & set(risk["Trade"])
    chf = curves["CHF SARON"].to_dict()["instruments"]["tenor"]
    assert list(risk.loc[risk["Trade"] == "T3", "Tenor"]) == chf * 2
    good = {r["id"]: (r["curve"], swap_of(r)) for _, r in table.iterrows()
            if r["id"] not in {"T3", "T6", "T14"}}
    assert_as_single(book, good, curves, method)
    # The ladder, summed natively, skips the failed trades as the table does.
    pd.testing.assert_frame_equal(book.ladder(method), ladder_of(risk, curves.values()),
                                  check_exact=True)


def test_a_holiday_added_after_building_moves_the_running_period_as_for_the_single_swap():
    result = run_isolated(f"""
        import warnings
        import tessarin
        from conftest import example_curves
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        fixings = tessarin.load_fixings({str(EXAMPLES / "fixings.json")!r})
        curve = tessarin.YieldCurve(example_curves()["USD SOFR"])
        swap = {{"id": "S", "effective date": "2026-06-10", "termination date": "2031-06-10",
                 "leg1": {{"is paid": True, "rate": 0.03, "notional": 1e8}},
                 "leg2": {{"is paid": False, "margin": 0.0, "notional": 1e8}}}}
        irs = tessarin.IRS(tessarin._inputs.swap_input(swap, "USD SOFR SW"))
        book = tessarin.Book([dict(swap, curve="USD SOFR", generator="USD SOFR SW")],
                             [curve], fixings)
        before = book.price()["NPV"].iloc[0]
        tessarin.calendars.register("USGS", ["2026-11-16"], extend=True)
        after = book.price()["NPV"].iloc[0]
        print(before != after, after == irs.price(curve, fixings)["NPV"])
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True", "True"]


def test_changing_a_result_changes_no_later_result(example_book):
    prices, risk = example_book.price(), example_book.risk("analytic")
    expected = prices.copy(deep=True), risk.copy(deep=True)
    prices.iloc[0] = ["changed", 1.0, 1.0, 1.0, "changed"]
    risk.loc[0, "Net"] = 1.0
    pd.testing.assert_frame_equal(example_book.price(), expected[0], check_exact=True)
    pd.testing.assert_frame_equal(example_book.risk("analytic"), expected[1], check_exact=True)


def test_thread_count_changes_no_number(example_book):
    for call in (lambda b, n: b.price(threads=n), lambda b, n: b.risk("bump", threads=n),
                 lambda b, n: b.cashflows(threads=n), lambda b, n: b.ladder("bump", threads=n)):
        serial, threaded = call(example_book, 1), call(example_book, 2)
        pd.testing.assert_frame_equal(serial, threaded, check_exact=True)


def trade_table(count, seed=3):
    """A reproducible table of spot and forward trades in every currency, both directions."""
    random = np.random.default_rng(seed)
    rows = []
    for i in range(count):
        currency = list(CURRENCIES)[i % 6]
        generator, curve = CURRENCIES[currency]
        start = dt.date(2026, 12, 10) + dt.timedelta(days=int(random.integers(0, 400)))
        end = start.replace(year=start.year + int(random.integers(1, 31)))
        rows.append({"id": f"T{i}", "curve": curve, "generator": generator,
                     "effective date": start.isoformat(),
                     "termination date": end.isoformat(),
                     "fixed rate": float(random.uniform(0.0, 0.05)),
                     "notional": float(random.integers(1, 100)) * 1e6,
                     "direction": "payer" if i % 2 else "receiver",
                     "margin": float(random.uniform(-0.001, 0.001))})
    return pd.DataFrame(rows)


def swap_of(row):
    """The swap dict tessarin.IRS takes for a table row."""
    payer = row["direction"] == "payer"
    swap = {"id": row["id"], "effective date": row["effective date"],
            "termination date": row["termination date"],
            "leg1": {"is paid": payer, "rate": row["fixed rate"], "notional": row["notional"]},
            "leg2": {"is paid": not payer, "margin": row["margin"], "notional": row["notional"]}}
    for leg in ("leg1", "leg2"):
        for key in ("frequency", "pay lag"):
            if f"{leg} {key}" in row and not pd.isna(row[f"{leg} {key}"]):
                swap[leg][key] = row[f"{leg} {key}"]
    return swap_input(swap, row["generator"])


BAD_ROWS = [
    ("effective date", "2026-13-01", "expected a date as YYYY-MM-DD"),
    ("termination date", "2026-01-01", "is not after the effective date"),
    ("fixed rate", "abc", 'expected a decimal rate, got "abc"'),
    ("notional", float("inf"), "expected a finite number"),
    ("generator", "XXX SW", "unknown generator 'XXX SW'"),
    ("direction", "long", "expected payer or receiver"),
    ("curve", "NOK NOWA", "no curve 'NOK NOWA' is given"),
    ("leg1 frequency", "7Q", "7Q"),
    ("leg1 accrual calendar", "US,XX", "unknown calendar 'XX'"),
    ("leg2 index", "XYZ", "unknown index 'XYZ'"),
    # Worded as a trade dict's own check words it.
    ("effective date", "2026-02-30", 'expected a date as YYYY-MM-DD, got "2026-02-30"'),
    ("termination date", None, "expected a date as YYYY-MM-DD, got an empty cell"),
]


def test_table_with_bad_rows_keeps_the_good_ones(curves):
    table = trade_table(36).astype(object)
    table["leg1 frequency"] = None
    table["leg2 pay lag"] = None
    table.loc[1, "leg1 frequency"] = "6M"
    table.loc[2, "leg2 pay lag"] = 1
    for row, (column, value, _) in enumerate(BAD_ROWS, start=10):
        table.loc[row, column] = value
    book = tessarin.Book(table, curves, FIXINGS, threads=2)
    prices = book.price()
    for row, (column, _, message) in enumerate(BAD_ROWS, start=10):
        error = prices["Error"].iloc[row]
        assert error.startswith(f"row {row}, column {column!r}: ") and message in error, error
        assert np.isnan(prices["NPV"].iloc[row])
    bad = {f"T{row}" for row in range(10, 10 + len(BAD_ROWS))}
    assert set(book.errors().index) == bad
    assert not set(book.risk("bump")["Trade"]) & bad
    good = {r["id"]: (r["curve"], swap_of(r)) for _, r in table.iterrows() if r["id"] not in bad}
    assert_as_single(book, good, curves, "analytic")


def test_files_and_lists_give_the_same_book(curves, tmp_path):
    table = trade_table(12)
    expected = tessarin.Book(table, curves, FIXINGS).price()
    aliased = table.rename(columns={"direction": "payer or receiver"})
    aliased["payer or receiver"] = aliased["payer or receiver"].map(
        {"payer": "PAY", "receiver": "Receive"})
    pd.testing.assert_frame_equal(tessarin.Book(aliased, curves, FIXINGS).price(), expected,
                                  check_exact=True)
    table.to_csv(tmp_path / "trades.csv", index=False)
    table.to_parquet(tmp_path / "trades.parquet")
    for source in (tmp_path / "trades.csv", tmp_path / "trades.parquet"):
        pd.testing.assert_frame_equal(tessarin.Book(source, curves, FIXINGS).price(), expected,
                                      check_exact=True)
    entries = [{"curve": r["curve"], **swap_of(r)} for _, r in table.iterrows()]
    entries[3] = {**entries[3], "leg1": {**entries[3]["leg1"], "rate": "high"}}
    prices = tessarin.Book(entries, list(curves.values()), FIXINGS).price()
    assert prices["Error"].iloc[3].startswith("row 3, column 'trades[3].leg1.rate': ")
    pd.testing.assert_frame_equal(prices.drop(index="T3"), expected.drop(index="T3"),
                                  check_exact=True)


def test_unknown_risk_method_is_refused(example_book):
    with pytest.raises(ValueError, match="unknown risk method 'delta'"):
        example_book.risk(method="delta")


def test_a_swap_refuses_an_unknown_risk_method_as_a_book_does(example_book, curves):
    swap = tessarin.IRS(tessarin.load_trades(EXAMPLES / "trades.json")[0].swap)
    for call in (lambda: swap.risk(curves["USD SOFR"], method="delta"),
                 lambda: example_book.ladder(method="delta")):
        with pytest.raises(ValueError, match="^unknown risk method 'delta' "
                                             r"\(known: analytic, bump\)$"):
            call()


@pytest.mark.parametrize(("start", "end"), [(20000, 2_932_897), (-208_189, 20000), (21000, 20000)])
def test_cash_refuses_a_period_the_dates_cannot_hold(example_book, start, end):
    # Day 2,932,897 after 1970-01-01 is in the year 10000, day -208,189 in 1399.
    with pytest.raises(RuntimeError, match="a period runs between two dates, the end last"):
        example_book._impl.cash(start, end)


def test_other_threads_run_during_a_book_call(curves):
    book = tessarin.Book(trade_table(3000), curves, FIXINGS, threads=1)
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    started = time.perf_counter()
    book.risk(method="bump")
    finished = time.perf_counter()
    done.set()
    counter.join()
    during = [t for t in ticks if started < t < finished]
    # With the lock held through the call the counter could not tick at all.
    assert len(during) >= 10, (len(during), finished - started)


def test_a_watched_call_reports_progress_and_an_error_in_it_stops_the_call(curves):
    book = tessarin.Book(trade_table(30000), curves, FIXINGS, threads=1)
    seen = []
    started = time.perf_counter()
    risk = book.risk("bump", threads=1, progress=lambda done, total: seen.append((done, total)))
    whole = time.perf_counter() - started
    assert seen and {total for _, total in seen} == {30000}
    assert [done for done, _ in seen] == sorted(done for done, _ in seen)

    def stop(done, total):
        raise KeyboardInterrupt

    started = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        book.risk("bump", threads=1, progress=stop)
    # Stopped at the first report, a tenth of a second in, not after every trade.
    assert time.perf_counter() - started < whole / 2, whole
    assert book.risk("bump", threads=1).equals(risk)
    assert book.risk("analytic", progress=lambda done, total: None).equals(book.risk())


def native_columns(**changes):
    """Columns of one good trade for _tessarin.Book, with some replaced."""
    columns = {"id": ["A"], "curve": ["USD SOFR"], "conventions": [0],
               "effective date": [20797], "termination date": [22623],
               "leg1 rate": [0.03], "leg1 margin": [0.0], "leg1 notional": [1e6],
               "leg2 rate": [0.0], "leg2 margin": [0.0], "leg2 notional": [1e6],
               "error column": [None], "error": [None]}
    columns.update(changes)
    return columns


@pytest.mark.parametrize(("changes", "given", "threads", "error", "message"), [
    ({"leg1 rate": []}, None, 1, RuntimeError, "column 'leg1 rate' must be a list"),
    ({"effective date": ["2026-12-10"]}, None, 1, TypeError, "integer"),
    ({"termination date": [10**7]}, None, 1, RuntimeError, "outside the years 1400 to 9999"),
    ({}, {"USD SOFR": "curve"}, 1, RuntimeError, "is not a _tessarin.YieldCurve"),
    ({}, None, 0, RuntimeError, "threads must be a count from 1"),
])
def test_native_book_refuses_unusable_columns_cleanly(curves, changes, given, threads, error,
                                                      message):
    import _tessarin

    conventions = [swap_input({"id": "c", "effective date": "2026-12-10",
                               "termination date": "2031-12-10",
                               "leg1": {"is paid": True, "rate": 0.0, "notional": 0.0},
                               "leg2": {"is paid": False, "margin": 0.0, "notional": 0.0}},
                              "USD SOFR SW")]
    natives = {"USD SOFR": curves["USD SOFR"].native}
    with pytest.raises(error, match=message):
        _tessarin.Book(conventions, native_columns(**changes), given or natives, None, threads)
    book = _tessarin.Book(conventions, native_columns(conventions=[5]), natives, None, 1)
    assert book.price()["error"] == ["unknown convention set"]
