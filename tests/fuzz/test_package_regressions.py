"""Inputs the robustness suite found on the surfaces built on the module (books,
scenarios, calendars, the command line), each named in its test, with the answer the
package now gives."""

import datetime as dt
import re
import subprocess
import sys
import textwrap

import pytest
from fuzzing import small_curve_input, swap_input

pd = pytest.importorskip("pandas")
tessarin = pytest.importorskip("tessarin")
from tessarin import cli, scenarios  # noqa: E402


@pytest.fixture(scope="module")
def curve():
    return tessarin.YieldCurve(small_curve_input())

def _run(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=120, check=False)


COUNTS = (0, -1, 5000, 2**31, -(2**31), 3 * 2**31, 2**32 - 1, 2**70)


def test_thread_counts_outside_1_to_4096_are_refused_by_every_entry_point():
    """2**31 once divided by zero (SIGFPE) in revalue_scenarios; 0, -1, 5000 and 2**32-1
    were taken silently. A child interpreter, since the failure was a crash."""
    result = _run(f"""
        import warnings, _tessarin, tessarin
        from fuzzing import small_curve_input, swap_input
        from tessarin import scenarios
        warnings.simplefilter("ignore")
        curve = tessarin.YieldCurve(small_curve_input())
        swap = dict(swap_input(), curve="USD SOFR")
        book = tessarin.Book([swap], [curve], threads=1)
        engine = _tessarin.scenario_engine([_tessarin.IRS(swap_input())], [0], [curve.native])[0]
        calls = [lambda n: _tessarin.revalue_scenarios(engine, [[None]], 0, -1, n),
                 lambda n: book._impl.price(threads=n),
                 lambda n: _tessarin.check_input("threads", n),
                 lambda n: tessarin.Book([swap], [curve], threads=n),
                 lambda n: book.price(threads=n),
                 lambda n: book.revalue(None, scenarios.parallel(1), threads=n)]
        for n in {COUNTS!r}:
            for call in calls:
                try:
                    call(n)
                except (ValueError, RuntimeError) as error:
                    print(error)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"Error, threads must be a count from 1 to 4096, "
                                          f"got {n}." for n in COUNTS for _ in range(6)]


def test_a_weekend_of_all_seven_days_is_refused():
    with pytest.raises(tessarin.InputError, match="^Error, calendar XSEVEN has a weekend of "
                       "seven days: a calendar needs a business day in every week.$"):
        tessarin.calendars.register("XSEVEN", [], weekend=list(range(7)))
    assert "XSEVEN" not in tessarin.conventions.CALENDARS


def test_a_calendar_closed_for_a_year_stops_every_walk_naming_the_calendar(curve):
    tessarin.calendars.register("XCLOSED", [dt.date(2026, 3, 1) + dt.timedelta(days=k)
                                            for k in range(800)])
    swap = swap_input()
    swap["leg1"]["pay calendar"] = "XCLOSED"
    message = "Error, calendar XCLOSED has no business day within a year after 2026-03-"
    with pytest.raises(RuntimeError, match=message):
        tessarin.IRS(swap)
    error = tessarin.Book([dict(swap, curve="USD SOFR")], [curve]).price()["Error"].iloc[0]
    assert message in error


@pytest.mark.parametrize("lag", [31, 10**7, 10**9])
def test_pay_lags_beyond_30_business_days_are_refused_by_every_route(curve, lag):
    """A lag of 1e9 took 72 s to build; one of 1e7 priced pay dates past 9999 as -0.0."""
    swap = swap_input()
    swap["leg1"]["pay lag"] = lag
    message = f"pay lag must be at most 30 business days, got {lag}."
    with pytest.raises(tessarin.InputError, match=re.escape(message)):
        tessarin.IRS(swap)
    row = {"id": "T", "curve": "USD SOFR", "generator": "USD SOFR SW",
           "effective date": "2026-03-18", "termination date": "2029-03-19",
           "fixed rate": 0.03, "notional": 1e6, "direction": "payer", "leg1 pay lag": f"{lag}"}
    for trades in ([dict(swap, curve="USD SOFR")], pd.DataFrame([row])):
        assert message in tessarin.Book(trades, [curve]).price()["Error"].iloc[0]


def test_pay_dates_past_9999_are_an_error_by_every_route(curve):
    swap = swap_input(end=dt.date(9999, 12, 30))
    with pytest.raises(RuntimeError, match="Year is out of valid range"):
        tessarin.IRS(swap).price(curve)
    book = tessarin.Book([dict(swap, curve="USD SOFR")], [curve])
    assert "Year is out of valid range" in book.price()["Error"].iloc[0]
    assert book.cashflows().empty


def _write(path, content):
    path.write_bytes(content) if isinstance(content, bytes) else path.write_text(content)
    return path


def _unequal_market():
    market = small_curve_input()
    market["instruments"]["tenor"] = ["1Y", "2Y"]
    return [market]


def _missing_column_market():
    market = small_curve_input()
    del market["instruments"]["quote"]
    return [market]


@pytest.mark.parametrize(("case", "kind", "message"), [
    ("DataFrame with a repeated column", tessarin.InputError, "given more than once"),
    ("market with unequal columns", tessarin.InputError, "columns must have the same length"),
    ("market without a quote column", tessarin.InputError, "quote: missing key"),
    ("scenarios None", TypeError, "scenarios must come from tessarin.scenarios"),
    ("scenarios a list of numbers", TypeError, "scenarios must come from tessarin.scenarios"),
    ("scenarios a string", TypeError, "scenarios must come from tessarin.scenarios"),
    ("out an existing file", tessarin.InputError, "cannot write the PnL there"),
    ("out under a file", tessarin.InputError, "cannot write the PnL there"),
    ("historical CSV with a field of 200,000 characters", tessarin.InputError,
     "cannot read the CSV file"),
    ("holiday CSV in UTF-16", tessarin.InputError, "expected UTF-8 text"),
])
def test_inputs_that_raised_other_exception_kinds(curve, tmp_path, case, kind, message):
    """Each raised AttributeError, IndexError, KeyError, FileExistsError,
    FileNotFoundError or _csv.Error."""
    book = tessarin.Book([dict(swap_input(), curve="USD SOFR")], [curve], threads=1)
    taken = _write(tmp_path / "taken", "x")
    row = {"id": "T", "curve": "USD SOFR", "effective date": "2026-03-18",
           "termination date": "2029-03-19", "fixed rate": 0.03, "notional": 1e6,
           "direction": "payer"}
    calls = {
        "DataFrame with a repeated column":
            lambda: tessarin.Book(pd.DataFrame([row])[["id", "id", *list(row)[1:]]], [curve]),
        "market with unequal columns":
            lambda: scenarios.parallel(1).resolve(_unequal_market()),
        "market without a quote column":
            lambda: book.revalue(_missing_column_market(), scenarios.parallel(1)),
        "scenarios None": lambda: tessarin.revaluation.revalue(book._rows, [curve], None),
        "scenarios a list of numbers": lambda: book.revalue([curve], [1, 2]),
        "scenarios a string": lambda: book.revalue([curve], "parallel"),
        "out an existing file": lambda: book.revalue([curve], scenarios.parallel(1), out=taken),
        "out under a file":
            lambda: book.revalue([curve], scenarios.parallel(1), out=taken / "pnl"),
        "historical CSV with a field of 200,000 characters": lambda: scenarios.historical(
            _write(tmp_path / "long.csv", "date,curve,tenor,change\n" + "x" * 200_000 + "\n")),
        "holiday CSV in UTF-16": lambda: tessarin.calendars.load(
            _write(tmp_path / "holidays.csv", "XUTF,2031-01-01\n".encode("utf-16"))),
    }
    with pytest.raises(kind, match=re.escape(message)):
        calls[case]()


def test_a_million_character_date_is_quoted_in_80_characters(curve):
    """38 such rows once took Book.price to 2.2 GB and 3 s."""
    row = {"id": "T", "curve": "USD SOFR", "effective date": "2" * 1_000_000,
           "termination date": "2029-03-19", "fixed rate": 0.03, "notional": 1e6,
           "direction": "payer"}
    errors = tessarin.Book(pd.DataFrame([row] * 38), [curve]).price()["Error"]
    assert all(len(error) < 200 and "..." in error for error in errors)
    swap = swap_input()
    swap["effective date"] = "2" * 1_000_000
    with pytest.raises(tessarin.InputError) as refused:
        tessarin.IRS(swap)
    assert len(str(refused.value)) < 200


@pytest.mark.parametrize(("name", "content", "where"), [
    ("binary.csv", bytes(range(256)) * 8, "historical"),
    ("utf16.csv", "date,curve,tenor,change\n".encode("utf-16"), "historical"),
    ("long.csv", b"date,curve,tenor,change\n" + b"1" * 300_000 + b"\n", "historical"),
    ("long.csv", b"id,curve\n" + b"1" * 300_000 + b"\n", "trades"),
    ("folder.parquet", None, "trades"),
    ("bad.parquet", b"PAR1 this is not\nParquet\n", "trades"),
    ("nested.json", b'{"trades": [' + b"[" * 100_000, "trades"),
    ("taken", b"x", "out"),
    ("taken", b"x", "out below"),
])
def test_every_file_problem_ends_the_command_line_with_status_2_and_one_line(
        tmp_path, name, content, where):
    """These ended in tracebacks with status 1 (the nested JSON, found by this suite,
    too), in a message without the file, over several lines, or after six calendar
    warnings."""
    path = tmp_path / name
    if content is None:
        path.mkdir()
    else:
        _write(path, content)
    market, trades = (str(cli._demo_file(f)) for f in ("market.json", "trades.json"))
    argv = {"historical": ["scenarios", market, trades, "--historical", str(path)],
            "trades": ["price", market, str(path)],
            "out": ["scenarios", market, trades, "--parallel", "5", "--out", str(path)],
            "out below": ["scenarios", market, trades, "--parallel", "5", "--out",
                          str(path / "pnl")]}[where]
    result = subprocess.run([sys.executable, "-m", "tessarin", *argv], capture_output=True,
                            text=True, timeout=300, check=False)
    assert result.returncode == 2, result.stderr
    assert len(result.stderr.splitlines()) == 1, result.stderr
    assert result.stderr.startswith("tessarin: error: ") and str(path) in result.stderr
