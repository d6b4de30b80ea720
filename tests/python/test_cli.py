"""The ``tessarin`` command line: help, conventions, pricing, output formats, bad input."""

import importlib.util
import json
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import _tessarin
import tessarin
from conftest import EXAMPLES, edit, example
from conftest import run_cli as run
from tessarin import cli, conventions

MARKET, TRADES, FIXINGS = (str(EXAMPLES / n) for n in ("market.json", "trades.json",
                                                       "fixings.json"))
EXAMPLE_ARGS = ["price", MARKET, TRADES, "--fixings", FIXINGS]


def without_coverage(err):
    """`err` without the calendar coverage warnings, which long curves always give."""
    return "".join(line for line in err.splitlines(keepends=True)
                   if not line.startswith("tessarin: warning: calendar "))


def call(capsys, *args):
    status = cli.main(list(args))
    out, err = capsys.readouterr()
    return status, out, err


def write(tmp_path, name, document):
    path = tmp_path / name
    path.write_text(document if isinstance(document, str) else json.dumps(document))
    return str(path)


@pytest.mark.parametrize(("args", "words"), [
    (["--help"], ["price", "conventions"]),
    (["price", "--help"], ["MARKET.json", "TRADES.json", "TRADES.csv", "--fixings", "--risk",
                           "--cashflows", "--format", "--plot", "--demo", "--threads",
                           "--risk-method", "--ladder-per-trade", "exit status", "--out",
                           "--table", "--quiet"]),
    (["conventions", "--help"], ["generators", "--format"]),
    (["scenarios", "--help"], ["--format", "--table", "--out", "--quiet"]),
    (["report", "--help"], ["MARKET.json", "--fixings", "--parallel", "--historical", "--var",
                            "--output", "self-contained"]),
])  # fmt: skip
def test_help_describes_each_command(args, words):
    result = run(*args)
    assert result.returncode == 0 and result.stderr == ""
    assert result.stdout.startswith("usage: tessarin")
    assert [word for word in words if word not in result.stdout] == []


def test_version_and_missing_command():
    assert run("--version").stdout.strip() == f"tessarin {tessarin.__version__}"
    result = run()
    assert result.returncode == 2 and "Traceback" not in result.stderr


@pytest.mark.parametrize("args", [
    [*EXAMPLE_ARGS, "--risk", "--cashflows", "--ladder-per-trade"],
    ["price", MARKET, TRADES, "--format", "csv", "--table", "failures"],  # status 1
])  # fmt: skip
def test_the_program_ends_with_all_its_output_and_its_status(capsys, args):
    # The program ends its process at once: nothing it wrote may be lost on the way out.
    status, out, err = call(capsys, *args)
    result = run(*args)
    assert (result.returncode, result.stdout, result.stderr) == (status, out, err)


def test_the_command_line_imports_only_what_a_price_run_needs():
    from conftest import run_isolated

    result = run_isolated("""
        import sys
        import tessarin.cli
        print(sorted(m for m in sys.modules if m.split(".")[0] in
                     ("pandas", "matplotlib", "jinja2", "dask", "holidays")
                     or m == "importlib.metadata"))""")
    assert result.stdout.strip() == "[]", result.stderr


def test_conventions_lists_every_built_in_name(capsys):
    status, out, _ = call(capsys, "conventions")
    assert status == 0
    for name in [*conventions.GENERATORS, *conventions.FUTURES, *conventions.INDICES,
                 *conventions.CALENDARS]:
        assert f"\n{name} " in out
    status, out, _ = call(capsys, "conventions", "--format", "json")
    document = json.loads(out)
    assert [g["name"] for g in document["generators"]] == list(conventions.GENERATORS)
    assert [g["name"] for g in document["futures"]] == list(conventions.FUTURES)
    assert [c["name"] for c in document["calendars"]] == list(conventions.CALENDARS)


def test_price_prints_aligned_tables_for_every_trade(capsys):
    status, out, err = call(capsys, *EXAMPLE_ARGS)
    assert (status, without_coverage(err)) == (0, "")
    curves_table, prices_table = out.split("\n\n")[:2]
    assert len(curves_table.splitlines()) == 3 + len(example("market.json")["curves"])
    rows = prices_table.splitlines()
    assert rows[0].startswith("Prices") and len(rows) == 3 + len(example("trades.json")["trades"])
    # Numbers are right-aligned: every row ends in the same column.
    assert len({len(row) for row in rows[1:]}) == 1
    curve = tessarin.YieldCurve(tessarin.load_market(MARKET)[0])
    swap = tessarin.IRS(tessarin.load_trades(TRADES)[0].swap)
    assert rows[3].split()[-1] == f"{swap.price(curve)['NPV']:,.2f}"


def test_json_output_matches_the_library(capsys):
    status, out, _ = call(capsys, *EXAMPLE_ARGS, "--risk", "--ladder-per-trade", "--cashflows",
                          "--format", "json")
    document = json.loads(out)
    assert status == 0 and document["failures"] == []
    fixings = tessarin.load_fixings(FIXINGS)
    curves = {c["id"]: tessarin.YieldCurve(c) for c in tessarin.load_market(MARKET)}
    trades = tessarin.load_trades(TRADES)
    assert [t["id"] for t in document["trades"]] == [t.swap["id"] for t in trades]
    for entry, trade in zip(document["trades"], trades, strict=True):
        swap = tessarin.IRS(trade.swap)
        assert entry["price"] == swap.price(curves[trade.curve], fixings)
        risk = swap.risk(curves[trade.curve], fixings, method="analytic")
        assert entry["risk"]["Net"] == risk["Net"]
        assert entry["dv01"] == pytest.approx(sum(risk["Net"]), abs=1e-9)
        assert entry["currency"] == swap.currency
        flows = swap.cashflows(curves[trade.curve], fixings)
        leg1 = [k for k, leg in enumerate(entry["cashflows"]["Leg"]) if leg == 1]
        assert [entry["cashflows"]["Payment Date"][k] for k in leg1] == [
            d.isoformat() for d in flows["Leg1"]["Payment Date"]]
        # The API's signed flows, negated nowhere else: paid flows are negative.
        paid = trade.swap["leg1"]["is paid"]
        values = [entry["cashflows"]["Cash Flow PV"][k] for k in leg1]
        assert values == flows["Leg1"]["Cash Flow PV"]
        assert all((v < 0) == paid for v in values if v)
    ladders = {ladder["curve"]: ladder for ladder in document["ladders"]}
    assert ladders["USD SOFR"]["Tenor"] == curves["USD SOFR"].to_dict()["instruments"]["tenor"]
    assert document["curves"][0]["dates"][0] == curves["USD SOFR"].dates()[0].isoformat()


def test_demo_uses_the_bundled_examples(capsys):
    assert call(capsys, "price", "--demo")[1] == call(capsys, *EXAMPLE_ARGS)[1]


def test_cashflow_tables_show_both_legs(capsys):
    _, out, _ = call(capsys, *EXAMPLE_ARGS, "--cashflows")
    table = out.split("Cash flows of USD seasoned 3Y payer in USD (paid flows negative)\n")[1]
    rows = table.split("\n\n")[0].splitlines()[2:]
    assert {row.split()[:2][1] for row in rows} == {"Pay", "Receive"}
    assert all(row.split()[-1].startswith("-") == (row.split()[1] == "Pay") for row in rows)


# Bad input: one line naming the file and key path, status 2, no traceback.

def edited(name, *path, **value):
    return edit(example(f"{name}.json"), *path, **value)


BAD_INPUTS = {
    "malformed json": ("market", '{"curves": [\n  {"id": "USD SOFR",,}\n]}',
                       r"market\.json: line 2 column 21: malformed JSON"),
    "missing key": ("market", edited("market", "curves", 2, "value date"),
                    r'market\.json: curves\[2\]\["value date"\]: missing key'),
    "unknown generator": ("market", edited("market", "curves", 1, "instruments", "generator", 3,
                                           value="EUR EONIA SW"),
                          r"market\.json: curves\[1\]\.instruments\.generator\[3\]: unknown "
                          r"generator 'EUR EONIA SW' \(known: CHF SARON SW, "),
    "ragged columns": ("market", edited("market", "curves", 0, "instruments", "in use", -1),
                       r"curves\[0\]\.instruments: columns must have the same length .*"
                       r"in use 19"),
    "unknown curve": ("trades", edited("trades", "trades", 4, "curve", value="USD LIBOR"),
                      r"trades\.json: trades\[4\]\.curve: unknown curve 'USD LIBOR' "
                      r"\(the market has: USD SOFR, "),
    "wrong type": ("trades", edited("trades", "trades", 0, "leg2", "notional",
                                    value="ten million"),
                   r'trades\.json: trades\[0\]\.leg2\.notional: expected a number, got "ten'),
    "missing rate": ("trades", edited("trades", "trades", 2, "leg1", "rate"),
                     r"trades\.json: trades\[2\]\.leg1\.rate: missing key"),
    "fixings index": ("fixings", {"SOFR ": {"dates": [], "values": []}},
                      r"fixings\.json: \[\"SOFR \"\]: unknown index 'SOFR '"),
    "fixings date": ("fixings", {"SOFR": {"dates": ["2026-06-31"], "values": [0.04]}},
                     r"fixings\.json: SOFR\.dates\[0\]: expected a date as YYYY-MM-DD"),
    "not an object": ("trades", "[1, 2]", r'trades\.json: expected a JSON object with "trades"'),
    "unknown top key": ("market", {**example("market.json"), "curve": []},
                        r"market\.json: curve: unknown key 'curve' \(did you mean 'curves'\?\)"),
}


@pytest.mark.parametrize("case", BAD_INPUTS)
def test_bad_input_gives_one_clear_line_and_status_2(tmp_path, capsys, case):
    which, document, message = BAD_INPUTS[case]
    files = {"market": MARKET, "trades": TRADES, "fixings": FIXINGS}
    files[which] = write(tmp_path, f"{which}.json", document)
    status, out, err = call(capsys, "price", files["market"], files["trades"],
                            "--fixings", files["fixings"])
    assert (status, out) == (2, "")
    assert err.count("\n") == 1 and err.startswith("tessarin: error: ")
    assert re.search(message, err), err


@pytest.mark.parametrize(("moves", "strict", "told"), [
    # (trade, curve) moves; the rows told, in the order the command tells them.
    ({15: "GBP SONIA", 2: "EUR ESTR", 1: "EUR ESTR"}, False, [1, 2, 15]),
    ({15: "GBP SONIA", 2: "EUR ESTR", 1: "EUR ESTR"}, True, [1]),
    ({9: "USD LIBOR", 2: "EUR ESTR", 3: "EUR ESTR"}, False, [2, 3, 9]),
    ({9: "USD LIBOR", 2: "EUR ESTR", 3: "EUR ESTR"}, True, [2]),
])  # fmt: skip
def test_trades_on_the_wrong_curve_are_told_in_file_order(tmp_path, capsys, moves, strict,
                                                          told):
    # Each (conventions, curve) pair is checked once, but every row of a doubtful pair is told.
    document = example("trades.json")
    for i, curve in moves.items():
        document["trades"][i]["curve"] = curve
    status, _, err = call(capsys, "price", MARKET, write(tmp_path, "t.json", document),
                          "--fixings", FIXINGS, *([] if strict else ["--no-strict"]))
    lines = without_coverage(err).splitlines()
    assert [int(re.search(r"trades\[(\d+)\]", line)[1]) for line in lines] == \
        [i for i in told for _ in range(1 if moves[i] == "USD LIBOR" or strict else 3)]
    assert status == (2 if strict or "USD LIBOR" in moves.values() else 0)
    assert lines[-1].startswith("tessarin: error: " if status == 2 else "tessarin: warning: ")


@pytest.mark.parametrize("args", [
    ["price", "missing-market.json", TRADES],
    ["price", MARKET],
    ["price", MARKET, TRADES, "--format", "xml"],
    ["price", MARKET, str(EXAMPLES)],
])
def test_command_line_errors_exit_2_without_traceback(args):
    result = run(*args)
    assert result.returncode == 2 and result.stdout == ""
    assert "Traceback" not in result.stderr and "error:" in result.stderr


def test_a_curve_that_fails_to_build_does_not_stop_the_others(tmp_path, capsys):
    market = example("market.json")
    market["curves"][3]["instruments"]["quote"][5] = 900.0  # CHF 3Y at 900%
    path = write(tmp_path, "market.json", market)
    status, out, err = call(capsys, "price", path, TRADES, "--fixings", FIXINGS)
    assert status == 1 and without_coverage(err) == ""
    prices = out.split("\n\n")[1]
    chf_trades = [t["id"] for t in example("trades.json")["trades"] if t["curve"] == "CHF SARON"]
    assert "EUR 5Y receiver" in prices and not any(t in prices for t in chf_trades)
    failures = out.split("Failures\n")[1].splitlines()
    assert failures[0].startswith(f"failed curve 'CHF SARON' ({path}: curves[3]): ")
    assert failures[1:] == [f"failed trade {t!r} ({TRADES}: trades[{i}]): "
                            "curve 'CHF SARON' did not build"
                            for i, t in enumerate(t["id"] for t in example("trades.json")["trades"])
                            if t in chf_trades]


def test_a_seasoned_swap_without_fixings_is_listed_with_the_dates_it_needs(capsys):
    status, out, _ = call(capsys, "price", MARKET, TRADES, "--format", "json")
    failures = json.loads(out)["failures"]
    assert status == 1
    assert [f["id"] for f in failures] == ["USD seasoned 3Y payer", "GBP seasoned 5Y receiver"]
    assert failures[0]["error"] == (
        "fixings: no SOFR fixing on 2026-06-10, the first of 123 missing of the 124 dates from "
        "2026-06-10 to 2026-12-08 that the swap needs on 2026-12-08 (IRS.required_fixings lists "
        "them; --fixings gives them on the command line)")


def test_a_missing_fixing_is_a_trade_failure(tmp_path, capsys):
    fixings = example("fixings.json")
    del fixings["SOFR"]["dates"][10], fixings["SOFR"]["values"][10]
    path = write(tmp_path, "fixings.json", fixings)
    status, out, _ = call(capsys, "price", MARKET, TRADES, "--fixings", path, "--format", "json")
    failures = json.loads(out)["failures"]
    assert status == 1 and len(failures) == 1
    missing = example("fixings.json")["SOFR"]["dates"][10]
    assert failures[0]["error"].startswith(
        f"fixings: no SOFR fixing on {missing}, the first of 1 missing of the 124 dates ")


def test_thread_count_changes_no_output(capsys):
    outputs = {call(capsys, *EXAMPLE_ARGS, "--risk", "--cashflows", "--format", "json",
                    "--threads", threads)[1] for threads in ("1", "2")}
    assert len(outputs) == 1


def test_a_bad_row_of_a_trade_table_fails_that_trade_only(tmp_path, capsys):
    pd = pytest.importorskip("pandas")
    rows = [{"id": f"T{i}", "curve": "USD SOFR", "generator": "USD SOFR SW",
             "effective date": "2026-12-10", "termination date": f"{2028 + i}-12-10",
             "fixed rate": 0.035, "notional": 1e7, "direction": "payer", "margin": 0.0}
            for i in range(4)]
    rows[2]["fixed rate"] = "n/a"
    path = tmp_path / "trades.csv"
    pd.DataFrame(rows).to_csv(path, index=False)
    status, out, _ = call(capsys, "price", MARKET, str(path), "--format", "json")
    document = json.loads(out)
    assert status == 1 and [t["id"] for t in document["trades"]] == ["T0", "T1", "T3"]
    assert document["failures"] == [{
        "kind": "trade", "id": "T2", "where": f"{path}: line 4, column 'fixed rate'",
        "error": 'expected a decimal rate, got "n/a"'}]


def test_plot_writes_a_png_of_the_curves(tmp_path, capsys):
    pytest.importorskip("matplotlib")
    out_png = tmp_path / "curves.png"
    status, _, err = call(capsys, *EXAMPLE_ARGS, "--plot", str(out_png))
    assert (status, without_coverage(err)) == (0, "")
    assert out_png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    status, _, err = call(capsys, *EXAMPLE_ARGS, "--plot", str(tmp_path / "no" / "x.png"))
    assert status == 2 and without_coverage(err).startswith("tessarin: error: --plot: cannot write ")


def test_console_script_when_installed():
    script = shutil.which("tessarin") or str(Path(sys.executable).with_name("tessarin"))
    if not Path(script).is_file():
        pytest.skip("the tessarin script is not installed (run from a source tree)")
    result = subprocess.run([script, "conventions"], capture_output=True, text=True,
                            timeout=120, check=False)
    assert result.returncode == 0 and "USD SOFR SW" in result.stdout



@pytest.mark.parametrize(("pattern", "zero"), [(",.2f", 0.005), (".8f", 5e-9), (".6f", 5e-9)])
def test_float_cells_are_the_texts_python_gives(pattern, zero):
    # The column formatter rounds, groups and zeroes as format() does, edges included.
    import numpy as np

    rng = np.random.default_rng(3)
    values = np.concatenate([
        [0.0, -0.0, 0.005, -0.005, -0.004999, 0.015, 999.995, -1234567.125, 1e300,
         -1.7976931348623157e308, 5e-324, -4e-9, 5e-9, np.nan, -np.nan, np.inf, -np.inf],
        rng.uniform(-1e7, 1e7, 3000), rng.uniform(-1, 1, 3000),
        rng.choice([-1, 1], 3000) * 10 ** rng.uniform(-12, 20, 3000)])
    column = {",.2f": "NPV", ".8f": "Discount Factor", ".6f": "Rate"}[pattern]
    expected = [format(0.0 if abs(v) < zero else v, pattern) for v in values.tolist()]
    assert cli._float_cells(column, values) == expected
    with pytest.raises(TypeError, match="contiguous float64"):
        _tessarin.format_floats(values.astype(np.float32), 2, True, 0.0)


def plain_table(title, headers, columns, numeric):
    """The text table by str methods alone, as the native one must give it."""
    widths = [max([len(h), *map(len, column)]) for h, column in zip(headers, columns, strict=True)]
    pad = [str.rjust if j in numeric else str.ljust for j in range(len(headers))]
    header = "  ".join(p(h, w) for p, h, w in zip(pad, headers, widths, strict=True))
    rows = ["  ".join(p(c, w) for p, c, w in zip(pad, row, widths, strict=True)).rstrip()
            for row in zip(*columns, strict=True)]
    return "\n".join([title, header.rstrip(), "  ".join("-" * w for w in widths), *rows])


@pytest.mark.parametrize(("headers", "columns", "numeric"), [
    (["Trade", "NPV"], [["a", "bb"], ["1.00", "-22.50"]], (1,)),
    (["Trade", "Note"], [["USD 5Y", "x"], ["", ""]], ()),  # empty last column: rows end early
    (["", "", "X"], [["", ""], ["", ""], [" ", "\u3000"]], (0,)),  # a line of whitespace only
    (["Kurve", "Wert"], [["Zürich €", "東京 スワップ"], ["é", "1"]], [1]),  # widths in code points
    (["Id", "N"], [["\U0001f4b9 a\t", "\udc80b"], ["3", "\xa0"]], range(2)),  # astral, surrogate
    (["A", "B"], [[], []], (0, 1)),
    ([], [], ()),
])  # fmt: skip
def test_text_tables_pad_and_strip_as_str_methods_do(headers, columns, numeric):
    title = "Prices of \u00e9\u00e9 (x)"
    native, plain = (f(title, headers, columns, numeric)
                     for f in (_tessarin.format_table, plain_table))
    # The same characters, in the narrowest form that holds them.
    assert (native, sys.getsizeof(native)) == (plain, sys.getsizeof(plain))
    if columns:
        with pytest.raises(ValueError, match="one length"):
            _tessarin.format_table(title, headers, [*columns[:-1], [*columns[-1], "z"]], ())
        with pytest.raises(TypeError, match="lists of str"):
            _tessarin.format_table(title, headers, [*columns[:-1], [1.0] * len(columns[0])]
                                   if columns[0] else [*columns[:-1], 5], ())


@pytest.mark.parametrize("fixings", [FIXINGS, None])
def test_json_trades_read_as_columns_price_as_the_checked_trades_do(fixings):
    # The same trades, read natively into columns or checked one by one: the same bits, and
    # the failures (seasoned trades without fixings) told at the same places.
    from tessarin.files import json_trade_rows, load_fixings, load_market, load_trades

    curves = load_market(MARKET)
    runs = [cli.price_book(curves, trades, fixings and load_fixings(fixings), risk=True,
                           cashflows=True, trades_source="t.json")
            for trades in (json_trade_rows(TRADES), load_trades(TRADES))]
    for name in ("prices", "risk", "ladder", "cashflows"):
        columns, checked = (getattr(run, name) for run in runs)
        assert columns.equals(checked), name
    assert runs[0].failures == runs[1].failures
    assert bool(runs[0].failures) == (fixings is None)


@pytest.mark.parametrize("at_once", [1, 3, 200_000])
def test_grouped_tables_are_the_tables_of_each_group(monkeypatch, at_once):
    import pandas as pd

    # Groups interleaved, of several sizes; cells made a few rows at a time.
    frame = pd.DataFrame({
        "Trade": ["b", "a", "b", "c", "a", "b"], "Currency": ["X", "Y", "X", "X", "Y", "X"],
        "Curve": ["k"] * 6, "Leg": [1, 2, 1, 2, 1, 2],
        "Date": pd.to_datetime(["2027-01-04", "2031-12-31", "2027-07-05", "2040-02-29",
                                "2028-01-03", "2099-06-30"]),
        "Cash Flow": [1.5, -2.25, 3e6, -1e-9, 1234567.891, -0.004]})
    monkeypatch.setattr(cli, "_CELLS_AT_ONCE", at_once)
    expected = [cli._frame_table(f"{t} in {c}", g.drop(columns=["Trade", "Currency", "Curve"]))
                for (t, c), g in frame.groupby(["Trade", "Currency"], sort=False)]
    assert list(cli._grouped_tables(frame, ["Trade", "Currency"], ["Trade", "Currency", "Curve"],
                                    lambda t, c: f"{t} in {c}")) == expected


def test_records_by_trade_are_the_records_of_each_trades_rows():
    import pandas as pd

    frame = pd.DataFrame({
        "Trade": pd.Categorical(["b", "a", "b", "c", "a"]), "Leg": [1, 2, 1, 2, 1],
        "Date": pd.to_datetime(["2027-01-04", "2031-12-31", "2027-07-05", "2040-02-29",
                                "2028-01-03"]),
        "Tenor": pd.Categorical(["1Y", "2Y", "1Y", "5Y", "2Y"]),
        "Net": [1.5, -2.25, 3e6, 0.0, 7.0]})
    columns = ["Leg", "Date", "Tenor", "Net"]
    expected = {t: cli._records(g[columns]) for t, g in frame.groupby("Trade", observed=True)}
    assert cli._records_by_trade(frame, columns) == expected


@pytest.mark.parametrize(("args", "message"), [
    (["explain", MARKET, str(EXAMPLES / "market_next_day.json"), TRADES, "--threads", "5000"],
     "argument --threads: threads must be a count from 1 to 4096, got 5000."),
    (["explain", MARKET, str(EXAMPLES / "market_next_day.json"), TRADES, "--threads", "0"],
     "argument --threads: threads must be a count from 1 to 4096, got 0."),
    pytest.param(["scenarios", MARKET, TRADES, "--parallel", "1", "--dask", "x"],
                 "tessarin: error: --dask: cannot reach the Dask scheduler at 'x' (",
                 marks=pytest.mark.skipif(importlib.util.find_spec("distributed") is None,
                                          reason="needs dask.distributed")),
])
def test_bad_options_of_every_command_are_one_line_errors(args, message):
    result = run(*args)
    assert result.returncode == 2 and "Traceback" not in result.stderr
    assert message in result.stderr
