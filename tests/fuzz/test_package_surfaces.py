"""Property-based robustness of the surfaces built on the module: books from every input
form and their methods, revaluation and the scenario builders, the module functions
behind them, calendars re-registered while books are built, and the command line on
malformed files.

Each case must end in a result or in a ValueError (InputError included), TypeError,
RuntimeError, OverflowError or RecursionError whose message is one bounded line."""

import contextlib
import datetime as dt
import io
import json
import os
import tempfile
import threading
import warnings

import pytest
from fuzzing import (
    CALENDARS,
    CASES,
    OUTCOMES,
    curve_inputs,
    hostile,
    mostly,
    scalars_hostile,
    small_curve_input,
    swap_input,
    swap_inputs,
    texts_any,
)
from hypothesis import given, settings
from hypothesis import strategies as st

import _tessarin

pd = pytest.importorskip("pandas")
tessarin = pytest.importorskip("tessarin")
from tessarin import cli, scenarios  # noqa: E402

PACKAGE_ERRORS = (ValueError, TypeError, RuntimeError, OverflowError, RecursionError)
# A message names the bad value in a few dozen characters; lists of known names make
# the longest ones.
LONGEST_MESSAGE = 2_000
# Books cost a build each: a fifth of the examples of the cheap targets.
BOOK_EXAMPLES = max(20, settings().max_examples // 5)

CURVE = tessarin.YieldCurve(small_curve_input())
THREADS = st.one_of(
    st.none(),
    st.sampled_from([0, -1, 1, 2, 4096, 4097, 5000, 2**31, -(2**31), 3 * 2**31, 2**32 - 1,
                     2**63, 2**64, True]),
    st.integers(-(2**70), 2**70),
    scalars_hostile,
)


def package_outcome(target, call, *args, **kwargs):
    """One case of a package surface: a result, or an allowed error with a short message."""
    CASES[target] += 1
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            result = call(*args, **kwargs)
    except PACKAGE_ERRORS as error:
        text = str(error)
        assert text.strip(), f"{type(error).__name__} without a message"  # noqa: PT017
        assert len(text) <= LONGEST_MESSAGE, f"a message of {len(text)} characters"
        OUTCOMES[target][type(error).__name__] += 1
        if os.environ.get("DEBUG_FUZZ") == target:
            print(target, type(error).__name__, text[:100])
        return error
    OUTCOMES[target]["result"] += 1
    return result


def _trade_dict(swap):
    return {**swap, "curve": "USD SOFR"} if isinstance(swap, dict) else swap


table_cells = st.one_of(texts_any, st.floats(), st.integers(-(2**40), 2**40), st.none(),
                        st.sampled_from(["1e9", "1e7", "-3", "2026-02-30", "9999-12-31", "x" * 300,
                                         "US,EN", "payer", "receiver"]))


@st.composite
def trade_tables(draw):
    """A table of a few valid trades with hostile cells, columns and column names."""
    rows = []
    for i in range(draw(st.integers(0, 4), label="rows")):
        start = draw(st.dates(dt.date(2020, 1, 1), dt.date(2040, 1, 1)), label="start")
        rows.append({"id": f"T{i}", "curve": "USD SOFR", "generator": "USD SOFR SW",
                     "effective date": start.isoformat(),
                     "termination date": start.replace(year=start.year + 3).isoformat(),
                     "fixed rate": 0.03, "notional": 1e6, "direction": "payer"})
    frame = pd.DataFrame(rows, columns=["id", "curve", "generator", "effective date",
                                        "termination date", "fixed rate", "notional",
                                        "direction"])
    for _ in range(draw(st.integers(0, 3), label="changes")):
        column = draw(st.sampled_from([*frame.columns, "leg1 pay lag", "leg2 pay calendar",
                                       "margin", "leg1 accrual calendar"]), label="column")
        if len(frame):
            frame[column] = pd.Series(draw(st.lists(table_cells, min_size=len(frame),
                                                    max_size=len(frame)), label="cells"),
                                      dtype=object)
    if draw(st.integers(0, 9), label="duplicate") == 0 and len(frame.columns):
        frame = pd.concat([frame, frame.iloc[:, :1]], axis=1)
    return frame


@st.composite
def book_inputs(draw, folder):
    """Trades in one of the forms a Book takes: dicts, a DataFrame, a JSON, CSV or
    Parquet file."""
    form = draw(st.sampled_from(["dicts", "frame", "json", "csv", "parquet"]), label="form")
    if form in ("dicts", "json"):
        trades = [_trade_dict(draw(mostly(swap_inputs(), hostile, 90), label="trade"))
                  for _ in range(draw(st.integers(0, 3), label="trades"))]
        if form == "dicts":
            return trades
        path = os.path.join(folder, "trades.json")
        try:
            text = json.dumps({"trades": trades}, default=str)
        except (TypeError, ValueError, RecursionError):
            text = '{"trades": [{"id": '  # not JSON: a malformed file is a case too
        with open(path, "w", encoding="utf-8", errors="surrogatepass") as f:
            f.write(text)
        return path
    frame = draw(trade_tables(), label="table")
    if form == "frame":
        return frame
    path = os.path.join(folder, f"trades.{form}")
    try:
        if form == "csv":
            frame.to_csv(path, index=False)
        else:
            frame.astype(str).to_parquet(path)
    except (ValueError, TypeError, ImportError):
        # Not writable as such (duplicate names to Parquet): the file holds raw bytes.
        with open(path, "wb") as f:
            f.write(draw(st.binary(max_size=200), label="bytes"))
    return path


@settings(max_examples=BOOK_EXAMPLES)
@given(data=st.data())
def test_book_from_any_form_and_its_methods(data):
    with tempfile.TemporaryDirectory() as folder:
        trades = data.draw(book_inputs(folder), label="trades")
        curves = data.draw(st.sampled_from([[CURVE], {"USD SOFR": CURVE},
                                            [small_curve_input()], [], None]), label="curves")
        book = package_outcome("Book(...)", tessarin.Book, trades, curves,
                               threads=data.draw(st.sampled_from([None, 1, 2]), label="t"))
    if isinstance(book, BaseException):
        return
    for name, call in [("Book.price", lambda t: book.price(threads=t)),
                       ("Book.risk", lambda t: book.risk("analytic", threads=t)),
                       ("Book.ladder", lambda t: book.ladder("analytic", threads=t)),
                       ("Book.cashflows", lambda t: book.cashflows(threads=t))]:
        package_outcome(name, call, data.draw(mostly(st.none(), THREADS, 70), label=name))


markets = mostly(st.just([small_curve_input()]), st.one_of(
    curve_inputs().map(lambda c: [c]),
    st.sampled_from([None, "market", [None], [{}], {"id": "x"}, 3]),
), percent=60)
shifts = mostly(st.floats(-500, 500) | st.lists(st.floats(-500, 500), min_size=1, max_size=3),
                st.lists(st.floats(), max_size=3) | scalars_hostile)
# Each builder is called in the test, so that its own errors are cases too.
scenario_builders = st.one_of(
    st.builds(lambda bp: lambda: scenarios.parallel(bp), shifts),
    st.builds(lambda bp, c: lambda: scenarios.key_rate(bp, c), shifts,
              mostly(st.sampled_from([None, "USD SOFR"]), texts_any)),
    st.builds(lambda q: lambda: scenarios.absolute(q), hostile),
    st.builds(lambda rows: lambda: scenarios.historical(pd.DataFrame(rows)), st.lists(
        st.fixed_dictionaries({"date": st.one_of(st.just("2026-01-02"), texts_any),
                               "curve": st.just("USD SOFR"),
                               "tenor": st.sampled_from(["1Y", "2Y", "5Y", "7Y"]),
                               "change": st.one_of(st.floats(), texts_any)}), max_size=4)),
)
# Anything else as the scenarios argument, in a few cases (one_of would flatten hostile's
# many branches and drown the builders).
scenario_builders = mostly(scenario_builders, hostile.map(lambda value: lambda: value), 85)


@settings(max_examples=BOOK_EXAMPLES)
@given(market=markets, build=scenario_builders, data=st.data())
def test_revalue_and_scenario_builders(market, build, data):
    # A builder's error goes on as the scenarios argument: one more thing that is not one.
    scenario_set = package_outcome("scenario builders", build)
    book = tessarin.Book([_trade_dict(swap_input())], [CURVE], threads=1)
    with tempfile.TemporaryDirectory() as folder:
        taken = os.path.join(folder, "taken")
        with open(taken, "w") as f:
            f.write("x")
        out = data.draw(st.sampled_from([None, None, None, taken, os.path.join(taken, "pnl"),
                                         os.path.join(folder, "pnl")]), label="out")
        if isinstance(scenario_set, scenarios.ScenarioSet):
            package_outcome("ScenarioSet.resolve", scenario_set.resolve, market)
        package_outcome("Book.revalue", book.revalue, market, scenario_set, out=out,
                        threads=data.draw(mostly(st.just(1), THREADS, 85), label="threads"))


@given(scenario_rows=mostly(st.lists(st.lists(st.none() | st.lists(st.floats(-5, 10), min_size=3,
                                                                   max_size=3)
                                                | st.lists(st.floats(), max_size=4),
                                                min_size=1, max_size=1), max_size=3),
                           hostile | st.lists(st.lists(hostile, max_size=2), max_size=2)),
       first=st.integers(-3, 3) | st.sampled_from([2**31, 2**63 - 1]),
       last=st.integers(-3, 3) | st.sampled_from([2**31, -(2**31)]),
       threads=mostly(st.sampled_from([None, 1, 2]), THREADS, 60))
def test_native_scenario_functions(scenario_rows, first, last, threads):
    irs = _tessarin.IRS(swap_input())
    made = package_outcome("scenario_engine", _tessarin.scenario_engine, [irs], [0],
                           [CURVE.native])
    if isinstance(made, BaseException):
        return
    args = (made[0], scenario_rows, first, last) + (() if threads is None else (threads,))
    package_outcome("revalue_scenarios", _tessarin.revalue_scenarios, *args)


@given(kind=st.sampled_from(["threads", "pay lag", "int", "date", "calendar", "tenor", "x"]),
       value=hostile | st.integers(-(2**70), 2**70))
def test_check_input(kind, value):
    package_outcome("check_input", _tessarin.check_input, kind, value)


@given(weekend=mostly(st.lists(st.integers(0, 6), max_size=7),
                      st.lists(st.integers(-1, 7) | scalars_hostile, max_size=8)),
       holidays=st.lists(st.dates(dt.date(2025, 1, 1), dt.date(2032, 1, 1)), max_size=400)
       | st.builds(lambda first, n: [first + dt.timedelta(days=k) for k in range(n)],
                   st.dates(dt.date(2026, 1, 1), dt.date(2027, 1, 1)), st.integers(300, 900)),
       calendar=st.sampled_from(["FUZZ", "FUZZ,US"]) | st.sampled_from(CALENDARS))
def test_fuzz_calendar_in_every_date_walk(weekend, holidays, calendar):
    """A user calendar of any weekend and holiday list, used by curves and swaps: every
    walk ends, in a date or in an error."""
    registered = package_outcome("register calendar", tessarin.calendars.register, "FUZZ",
                                 holidays, weekend=weekend)
    if isinstance(registered, BaseException):
        return
    swap = swap_input()
    for leg in ("leg1", "leg2"):
        swap[leg]["pay calendar"] = swap[leg]["accrual calendar"] = calendar
    package_outcome("IRS(calendar)", lambda: tessarin.IRS(swap).price(CURVE))
    package_outcome("Book(calendar)",
                    lambda: tessarin.Book([_trade_dict(swap)], [CURVE], threads=1).cashflows())


def test_books_built_while_a_calendar_changes_see_one_version_of_it():
    """Books built on one thread while another re-registers their calendar between two
    lists: each trade prices as under the one list or the other, never a mixture."""
    lists = {"a": [dt.date(2027, 3, 19) + dt.timedelta(days=k) for k in range(0, 700, 3)],
             "b": [dt.date(2027, 3, 20) + dt.timedelta(days=k) for k in range(0, 700, 3)]}
    swap = swap_input()
    swap["leg1"]["pay calendar"] = swap["leg2"]["accrual calendar"] = "FUZZMIX"
    swap["leg1"]["pay lag"] = 2
    trades = [_trade_dict(dict(swap, id=f"T{i}")) for i in range(8)]
    expected = {}
    for name, days in lists.items():
        tessarin.calendars.register("FUZZMIX", days)
        expected[name] = tessarin.Book(trades, [CURVE], threads=1).price()["NPV"].iloc[0]
    assert expected["a"] != expected["b"]
    stop = threading.Event()

    def flip():
        while not stop.is_set():
            for days in lists.values():
                tessarin.calendars.register("FUZZMIX", days)

    flipper = threading.Thread(target=flip)
    flipper.start()
    try:
        for _ in range(max(20, settings().max_examples // 5)):
            CASES["Book(changing calendar)"] += 1
            prices = tessarin.Book(trades, [CURVE], threads=2).price()["NPV"]
            assert all(p in expected.values() for p in prices), list(prices)
            OUTCOMES["Book(changing calendar)"]["result"] += 1
    finally:
        stop.set()
        flipper.join()


MALFORMED = {
    "binary.csv": bytes(range(256)) * 4,
    "utf16.csv": "date,curve,tenor,change\n2026-01-02,USD SOFR,1Y,5\n".encode("utf-16"),
    "long.csv": b"date,curve,tenor,change\n" + b"x" * 300_000 + b"\n",
    "nul.csv": b"date,curve,tenor,change\n2026-01-02,US\x00D,1Y,5\n",
    "empty.csv": b"",
    "trades.parquet": b"PAR1 not really",
    "trades.json": b"{\"trades\": [" + b"[" * 100_000,
}


@settings(max_examples=max(10, settings().max_examples // 10))
@given(name=st.sampled_from([*MALFORMED, "folder.parquet", "missing.csv", "taken-out"]),
       command=st.sampled_from(["price", "scenarios", "historical", "out"]))
def test_command_line_on_malformed_files(name, command):
    """Every file problem ends with exit status 2 and one line that names the file."""
    market, trades = str(cli._demo_file("market.json")), str(cli._demo_file("trades.json"))
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, name)
        if name in MALFORMED:
            with open(path, "wb") as f:
                f.write(MALFORMED[name])
        elif name in ("folder.parquet", "taken-out"):
            os.mkdir(path) if name == "folder.parquet" else open(path, "w").close()
        argv = {"price": ["price", market, path],
                "scenarios": ["scenarios", market, path, "--parallel", "10"],
                "historical": ["scenarios", market, trades, "--historical", path],
                "out": ["scenarios", market, trades, "--parallel", "10", "--out",
                        os.path.join(path, "pnl") if name != "taken-out" else path]}[command]
        CASES["command line"] += 1
        err = io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
            try:
                status = cli.main(argv)
            except SystemExit as exit_:
                status = exit_.code
    OUTCOMES["command line"][f"exit {status}"] += 1
    lines = err.getvalue().splitlines()
    if status == 2:
        assert len(lines) == 1 and lines[0].startswith("tessarin: error: "), lines
        assert name in lines[0] or path in lines[0], lines
    else:
        assert status in (0, 1), (status, lines)
