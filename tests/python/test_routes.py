"""One trade mistake, one message, whatever the route: swap dict, JSON file, CSV, Parquet,
DataFrame, `Book`, `load_trades` and the command line."""

import json

import pytest

import tessarin
from conftest import EXAMPLES, error_text
from tessarin import cli

pd = pytest.importorskip("pandas")
pytest.importorskip("pyarrow")

MARKET = str(EXAMPLES / "market.json")
ROW = {"id": "T", "curve": "USD SOFR", "generator": "USD SOFR SW",
       "effective date": "2026-12-10", "termination date": "2031-12-10", "fixed rate": 0.0325,
       "notional": 1e7, "direction": "payer", "margin": 0.0}
GOOD = {**ROW, "id": "G"}

# (the row's edit, the JSON entry's edit, the message every route gives)
MISTAKES = {
    "rate in percent": ({"fixed rate": 3.25}, {"leg1": {"rate": 3.25, "notional": 1e7}},
                        "3.25 is not a decimal rate; rates are decimals: 0.033 for 3.3%"),
    "curve of another currency": ({"curve": "EUR ESTR"}, {"curve": "EUR ESTR"},
                                  "the leg is in USD, but the curve 'EUR ESTR' is in EUR"),
    "unknown generator": ({"generator": "USD SOFR XX"}, {"generator": "USD SOFR XX"},
                          "unknown generator 'USD SOFR XX' (known: "),
}


def entry_of(row):
    return {"id": row["id"], "curve": row["curve"], "generator": row["generator"],
            "effective date": row["effective date"],
            "termination date": row["termination date"],
            "leg1": {"rate": row["fixed rate"], "notional": row["notional"]},
            "leg2": {"margin": row["margin"], "notional": row["notional"]}}


def without_coverage(text):
    return "\n".join(line for line in text.splitlines() if "lists holidays only" not in line)


@pytest.mark.parametrize("name", MISTAKES)
def test_a_mistake_is_told_alike_through_every_route(tmp_path, capsys, name):
    row_edit, entry_edit, message = MISTAKES[name]
    row = {**ROW, **row_edit}
    entry = {**entry_of(ROW), **entry_edit}
    frame = pd.DataFrame([GOOD, row])
    csv, parquet, document = (tmp_path / n for n in ("t.csv", "t.parquet", "t.json"))
    frame.to_csv(csv, index=False)
    frame.to_parquet(parquet)
    document.write_text(json.dumps({"trades": [entry_of(GOOD), entry]}))
    curves = [tessarin.YieldCurve(c) for c in tessarin.load_market(MARKET)]

    def swap_route():
        swap = tessarin.IRS(entry)
        swap.price(next(c for c in curves if c.id == swap.curve))

    assert message in error_text(tessarin.InputError, swap_route)
    # A book refuses the row only, naming the file and the row as the file shows it.
    for trades, where in ((csv, f"{csv}: line 3, column "), (parquet, f"{parquet}: row 2, column "),
                          (frame, "row 1, column "), ([entry_of(GOOD), entry], "row 1"),
                          (document, f"{document}: trades[1].")):
        errors = tessarin.Book(trades, curves).price()["Error"].tolist()
        assert errors[0] == "" and errors[1].startswith(where) and message in errors[1], errors
    if name != "curve of another currency":  # a file knows no market: the pairing is a book's
        for path, where in ((csv, "line 3, column "), (document, "trades[1].")):
            text = error_text(tessarin.InputError, tessarin.load_trades, path)
            assert text.startswith(f"{path}: {where}") and message in text, text
    # The command line: a bad table row fails its trade (status 1), a bad JSON file stops (2).
    assert cli.main(["price", MARKET, str(csv), "--format", "json"]) == 1
    failures = json.loads(capsys.readouterr().out)["failures"]
    assert [f["id"] for f in failures] == ["T"] and message in failures[0]["error"]
    assert failures[0]["where"].startswith(f"{csv}: line 3, column ")
    assert cli.main(["price", MARKET, str(document)]) == 2
    err = without_coverage(capsys.readouterr().err)
    assert err.startswith(f"tessarin: error: {document}: trades[1].") and message in err


def test_not_strict_warns_and_prices_the_row_in_every_route(tmp_path, capsys):
    csv = tmp_path / "t.csv"
    pd.DataFrame([GOOD, {**ROW, "fixed rate": 3.25}]).to_csv(csv, index=False)
    with pytest.warns(tessarin.InputWarning, match=r"line 3, column 'fixed rate': 3\.25 is not"):
        prices = tessarin.Book(csv, MARKET, strict=False).price()
    assert prices["Error"].tolist() == ["", ""]
    assert cli.main(["price", MARKET, str(csv), "--no-strict", "--format", "json"]) == 0
    assert "line 3, column 'fixed rate': 3.25 is not a decimal rate" in capsys.readouterr().err
    # Scenarios: strict, the row fails and no currency of its own appears; else it revalues.
    for flags, failed in (([], ["T"]), (["--no-strict"], [])):
        cli.main(["scenarios", MARKET, str(csv), "--parallel", "1", "--format", "json", *flags])
        tables = json.loads(capsys.readouterr().out)
        assert [f["Trade"] for f in tables["failures"]] == failed
        assert [row["Currency"] for row in tables["var"]] == ["USD"]


def test_load_trades_reads_tables_as_json_trades(tmp_path):
    frame = pd.DataFrame([GOOD, {**GOOD, "id": "R", "direction": "receiver", "margin": 0.001}])
    frame.to_csv(tmp_path / "t.csv", index=False)
    frame.to_parquet(tmp_path / "t.parquet")
    (tmp_path / "t.json").write_text(json.dumps({"trades": [entry_of(GOOD), {
        **entry_of({**GOOD, "id": "R", "margin": 0.001}),
        "leg1": {"rate": 0.0325, "notional": 1e7, "is paid": False},
        "leg2": {"margin": 0.001, "notional": 1e7, "is paid": True}}]}))
    expected = [(t.curve, t.swap) for t in tessarin.load_trades(tmp_path / "t.json")]
    for name, places in (("t.csv", ["line 2", "line 3"]), ("t.parquet", ["row 1", "row 2"])):
        trades = tessarin.load_trades(tmp_path / name)
        assert [t.where for t in trades] == places
        assert [(t.curve, t.swap) for t in trades] == expected


def test_missing_fixings_are_told_alike_by_the_swap_the_book_and_the_command_line(capsys):
    curves = {c["id"]: tessarin.YieldCurve(c) for c in tessarin.load_market(MARKET)}
    trades = tessarin.load_trades(EXAMPLES / "trades.json")
    seasoned = next(t for t in trades if t.swap["id"] == "USD seasoned 3Y payer")
    message = error_text(tessarin.InputError, tessarin.IRS(seasoned.swap).price,
                         curves["USD SOFR"])
    assert message.startswith("fixings: no SOFR fixing on 2026-06-10, the first of ")
    assert "required_fixings" in message
    book = tessarin.Book(trades, curves)
    assert book.price()["Error"][seasoned.swap["id"]] == f"row 4: {message}"
    failures = book.revalue(scenarios=tessarin.scenarios.parallel(1), threads=1).failures
    assert {f.error for f in failures if f.trade == seasoned.swap["id"]} == {f"row 4: {message}"}
    assert cli.main(["price", MARKET, str(EXAMPLES / "trades.json"), "--format", "json"]) == 1
    failures = json.loads(capsys.readouterr().out)["failures"]
    assert failures[0]["error"] == message


@pytest.mark.parametrize(("leg", "key", "value", "message"), [
    ("leg2", "index", "FOO", "leg2.index: unknown index 'FOO' (known: ESTR, "),
    ("leg1", "frequency", "1MM", "leg1.frequency: invalid tenor '1MM' (expected a whole number"),
    ("leg1", "pay calendar", "US,ZZ", 'leg1["pay calendar"]: unknown calendar \'ZZ\' (known: '),
    ("leg1", "day count convention", "ACT/999",
     "leg1[\"day count convention\"]: unknown day count 'ACT/999'"),
])
def test_messages_carry_no_library_text(leg, key, value, message):
    entry = entry_of(ROW)
    entry[leg] = {**entry[leg], key: value}
    text = error_text(tessarin.InputError, tessarin.IRS, entry)
    assert text.startswith(message), text
    for internal in ("No object registered", "Error,", "Calendar not found", "unknown value"):
        assert internal not in text


@pytest.mark.parametrize("name", ["t.json", "t.csv", "t.parquet"])
def test_a_loaded_trade_is_a_swap_on_its_curve(tmp_path, name):
    frame = pd.DataFrame([GOOD])
    frame.to_csv(tmp_path / "t.csv", index=False)
    frame.to_parquet(tmp_path / "t.parquet")
    (tmp_path / "t.json").write_text(json.dumps({"trades": [entry_of(GOOD)]}))
    trade = tessarin.load_trades(tmp_path / name)[0]
    swap = tessarin.IRS(trade)
    assert swap.curve == trade.curve == "USD SOFR"
    assert swap.to_dict() == tessarin.IRS(entry_of(GOOD)).to_dict()
    with pytest.raises(TypeError, match="give no generator"):
        tessarin.IRS(trade, generator="USD SOFR SW")


def test_a_table_refuses_every_row_whose_legs_do_not_match_its_curve():
    # Each (conventions, curve) pair is checked once: repeated, interleaved, next to rows
    # refused for another cause and rows on an unknown curve.
    eur = {"generator": "EUR ESTR SW"}
    rows = [GOOD, {**ROW, **eur}, {**ROW, **eur, "curve": "EUR ESTR"},
            {**ROW, **eur, "fixed rate": "x"}, {**ROW, **eur}, {**ROW, **eur, "curve": "NOPE"},
            {**ROW, "curve": "EUR ESTR"}]
    frame = pd.DataFrame([{**row, "id": f"T{i}"} for i, row in enumerate(rows)])
    curves = [tessarin.YieldCurve(c) for c in tessarin.load_market(MARKET)]
    errors = tessarin.Book(frame, curves).price()["Error"].tolist()
    mismatched = [i for i, e in enumerate(errors) if "the curve" in e and "is in" in e]
    assert mismatched == [1, 4, 6], errors
    assert errors[0] == errors[2] == "" and "fixed rate" in errors[3] and "NOPE" in errors[5]
    with pytest.warns(tessarin.InputWarning) as caught:
        book = tessarin.Book(frame, curves, strict=False)
    told = {str(w.message).split(",")[0] for w in caught if "is in" in str(w.message)}
    assert told == {"row 1", "row 6"}
    assert book.price()["Error"].tolist()[1] == ""
