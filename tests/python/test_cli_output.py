"""Output of the command line for programs and people: one CSV table on standard output,
one file per table, totals per currency, ladders in curve order, the warning for trades past
a curve's end, --quiet and progress."""

import io
import json

import pytest

import tessarin
from conftest import EXAMPLES, example
from tessarin import cli, cli_output

pd = pytest.importorskip("pandas")

MARKET, TRADES, FIXINGS = (str(EXAMPLES / n) for n in ("market.json", "trades.json",
                                                       "fixings.json"))
PRICE = ["price", MARKET, TRADES, "--fixings", FIXINGS]
SCENARIOS = ["scenarios", MARKET, TRADES, "--fixings", FIXINGS, "--parallel", "-25,25"]
TRADE_COUNT = len(example("trades.json")["trades"])


def call(capsys, *args):
    status = cli.main(list(args))
    out, err = capsys.readouterr()
    return status, out, err


# (command, --table, options, columns, rows)
TABLES = [
    (PRICE, "prices", ["--risk"],
     ["Trade", "Curve", "Currency", "Leg1 PV", "Leg2 PV", "NPV", "DV01"], TRADE_COUNT),
    (PRICE, "totals", ["--risk"], ["Currency", "Trades", "NPV", "DV01"], 6),
    (PRICE, "ladders", [], ["Curve", "Currency", "Tenor", "Leg1", "Leg2", "Net"],
     sum(len(c["instruments"]["tenor"]) for c in example("market.json")["curves"])),
    (PRICE, "cashflows", [], None, None),
    (PRICE, "failures", [], ["Kind", "Id", "Where", "Error"], 0),
    (SCENARIOS, "var", [], ["Currency", "Level", "VaR", "ES"], 6),
    (SCENARIOS, "pnl", [], ["Scenario", "Trade", "PnL"], 2 * TRADE_COUNT),
    (SCENARIOS, "currency_pnl", [], ["Scenario", "Currency", "PnL"], 12),
]


@pytest.mark.parametrize(("command", "table", "options", "columns", "rows"), TABLES)
def test_csv_writes_one_table_that_the_files_hold_too(tmp_path, capsys, command, table,
                                                      options, columns, rows):
    status, out, err = call(capsys, *command, *options, "--format", "csv", "--table", table)
    assert status == 0 and "wrote the " + table + " table" in err
    frame = pd.read_csv(io.StringIO(out), keep_default_na=False)
    if columns is not None:
        assert list(frame.columns) == columns and len(frame) == rows
    for file_format, read in (("csv", pd.read_csv), ("parquet", pd.read_parquet),
                              ("json", pd.read_json)):
        folder = tmp_path / file_format
        flags = ["--risk", "--cashflows"] if command is PRICE else []
        status, listing, _ = call(capsys, *command, *flags, "--out", str(folder),
                                  "--format", file_format)
        assert status == 0 and f"{table}.{file_format}" in listing
        written = read(folder / f"{table}.{file_format}")
        assert len(written) == len(frame)
        if len(frame) or file_format != "json":  # an empty list of records has no columns
            assert list(written.columns) == list(frame.columns)
        for name in frame.columns:
            if pd.api.types.is_float_dtype(frame[name]) and len(frame):
                # CSV amounts are in cents.
                assert (written[name] - frame[name]).abs().max() <= 0.005 + 1e-9


def test_totals_are_the_sums_of_the_prices_and_agree_with_the_book(capsys):
    _, out, _ = call(capsys, *PRICE, "--risk", "--format", "json")
    document = json.loads(out)
    book = tessarin.Book(TRADES, MARKET, FIXINGS)
    prices, risk = book.price(), book.risk()
    currencies = pd.Series(book.currencies, index=prices.index)
    dv01 = risk.groupby("Trade", observed=True)["Net"].sum()
    for total in document["totals"]:
        mine = currencies == total["Currency"]
        assert total["Trades"] == mine.sum()
        assert total["NPV"] == pytest.approx(prices["NPV"][mine].sum(), abs=1e-6)
        assert total["DV01"] == pytest.approx(dv01[mine[mine].index].sum(), abs=1e-6)
    status, out, _ = call(capsys, *PRICE)
    assert status == 0 and "\n\nTotals per currency" in out


def test_ladders_come_in_market_and_instrument_order(tmp_path, capsys):
    trades = example("trades.json")
    trades["trades"].reverse()  # the first trade is on the last curve
    path = tmp_path / "trades.json"
    path.write_text(json.dumps(trades))
    _, out, _ = call(capsys, "price", MARKET, str(path), "--fixings", FIXINGS, "--risk",
                     "--format", "json")
    market = example("market.json")["curves"]
    ladders = json.loads(out)["ladders"]
    assert [ladder["curve"] for ladder in ladders] == [c["id"] for c in market]
    assert [ladder["Tenor"] for ladder in ladders] == [c["instruments"]["tenor"] for c in market]
    book = tessarin.Book(str(path), MARKET, FIXINGS)
    assert list(book.ladder()["Curve"].unique()) == [c["id"] for c in market]


@pytest.mark.parametrize(("ends", "warning"), [
    (["2036-12-10"], None),
    (["2047-01-10"], "1 trade runs past the last pillar of curve 'SGD SORA' (2046-12-12), "
                     "the furthest, 'T0', by 29 days (to 2047-01-10)"),
    (["2052-12-10", "2048-12-10"], "2 trades run past the last pillar of curve 'SGD SORA' "
                                   "(2046-12-12), the furthest, 'T0', by 6 years"),
])  # fmt: skip
def test_trades_past_the_last_pillar_get_one_warning_per_curve(tmp_path, capsys, ends, warning):
    base = next(t for t in example("trades.json")["trades"] if t["curve"] == "SGD SORA")
    trades = [{**base, "id": f"T{i}", "termination date": end} for i, end in enumerate(ends)]
    path = tmp_path / "trades.json"
    path.write_text(json.dumps({"trades": trades}))
    status, _, err = call(capsys, "price", MARKET, str(path))
    lines = [line for line in err.splitlines() if "last pillar" in line]
    assert status == 0
    assert lines == ([] if warning is None else [lines[0]])
    if warning is not None:
        assert warning in lines[0] and lines[0].startswith(f"tessarin: warning: {path}: ")
    _, _, err = call(capsys, "price", MARKET, str(path), "--quiet")
    assert err == ""


def test_quiet_silences_warnings_but_not_errors(capsys):
    status, _, err = call(capsys, *PRICE, "--format", "csv", "--quiet")
    assert (status, err) == (0, "")
    status, out, err = call(capsys, "price", MARKET, "missing.json", "--quiet")
    assert status == 2 and out == "" and err.startswith("tessarin: error: ")


@pytest.mark.parametrize(("args", "message"), [
    (["--format", "parquet"], "--format parquet writes files"),
    (["--table", "ladders"], "--table picks the table of --format csv"),
])
def test_options_that_do_not_go_together(capsys, args, message):
    with pytest.raises(SystemExit) as exit_:
        cli.main([*PRICE, *args])
    assert exit_.value.code == 2 and message in capsys.readouterr().err


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize(("stream", "drawn"), [(Terminal(), True), (io.StringIO(), False)])
def test_progress_shows_on_a_terminal_after_a_delay(monkeypatch, stream, drawn):
    monkeypatch.setattr(cli_output, "PROGRESS_AFTER", 0.0)
    with cli_output.Ticker(stream) as ticker:
        ticker.set("pricing 10 trades")
        ticker.count(4, 10)
        for _ in range(100):
            if stream.getvalue():
                break
            __import__("time").sleep(0.02)
    text = stream.getvalue()
    assert ("tessarin: pricing 10 trades 4/10 (" in text) == drawn
    assert text.endswith("\r\033[K") == drawn
