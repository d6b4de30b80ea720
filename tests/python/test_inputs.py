"""One input contract: the same error through the objects and the files, checks that agree
with the library, plausibility checks, calendar coverage and user calendars."""

import copy
import datetime as dt
import json
import re
import sys
import warnings

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _tessarin
import tessarin
from conftest import EXAMPLES, error_text, example, run_isolated
from tessarin import cli

USD_CURVE = "USD SOFR"
USD_TRADE = 0  # "USD 5Y payer" in examples/trades.json
FLOAT_TRADE = 1  # its leg2 floats on SOFR


def trade_document(i, change):
    document = example("trades.json")
    change(document["trades"][i])
    return document


def api_error(call):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        with pytest.raises(tessarin.InputError) as caught:
            call()
    return str(caught.value)


def file_error(tmp_path, capsys, which, document, *extra):
    files = {"market": str(EXAMPLES / "market.json"), "trades": str(EXAMPLES / "trades.json"),
             "fixings": str(EXAMPLES / "fixings.json")}
    files[which] = str(tmp_path / f"{which}.json")
    (tmp_path / f"{which}.json").write_text(json.dumps(document))
    status = cli.main(["price", files["market"], files["trades"], "--fixings", files["fixings"],
                       *extra])
    out, err = capsys.readouterr()
    errors = [line for line in err.splitlines() if line.startswith("tessarin: error: ")]
    assert (status, out, len(errors)) == (2, "", 1), err
    return errors[0], files[which]


def swap_of(document, i):
    swap = copy.deepcopy(document["trades"][i])
    generator = swap.pop("generator", None)
    swap.pop("curve")
    return tessarin.IRS(swap, generator=generator) if generator else tessarin.IRS(swap)


def set_in(*path, value):
    def change(entry):
        for key in path[:-1]:
            entry = entry[key]
        entry[path[-1]] = value
    return change


def rename(*path, new):
    def change(entry):
        for key in path[:-1]:
            entry = entry[key]
        entry[new] = entry.pop(path[-1])
    return change


TRADE_CASES = {
    "rate in percent": (USD_TRADE, set_in("leg1", "rate", value=3.3),
                        "leg1.rate: 3.3 is not a decimal rate; rates are decimals: 0.033 for 3.3%"),
    "margin in percent": (FLOAT_TRADE, set_in("leg2", "margin", value=-1.5),
                          "leg2.margin: -1.5 is not a decimal rate; rates are decimals"),
    "misspelt key": (USD_TRADE, rename("leg1", "notional", new="notinal"),
                     "leg1.notinal: unknown key 'notinal' (did you mean 'notional'?)"),
    "misspelt date": (USD_TRADE, rename("effective date", new="effective_date"),
                      "effective_date: unknown key 'effective_date' (did you mean 'effective "
                      "date'?)"),
    "bad tenor": (FLOAT_TRADE, set_in("leg1", "frequency", value="1X"),
                  "leg1.frequency: invalid tenor '1X' (expected a whole number and a unit D, W, "
                  "M or Y, e.g. 3M or 10Y)"),
    "unknown calendar": (FLOAT_TRADE, set_in("leg2", "pay calendar", value="US,NY"),
                         'leg2["pay calendar"]: unknown calendar \'NY\' (known: '),
    "unknown day count": (FLOAT_TRADE, set_in("leg2", "day count convention", value="ACT/364"),
                          'leg2["day count convention"]: unknown day count \'ACT/364\''),
    "bool as number": (FLOAT_TRADE, set_in("leg2", "is paid", value=1),
                       'leg2["is paid"]: expected true or false, got 1'),
}


@pytest.mark.parametrize("case", TRADE_CASES)
def test_a_wrong_trade_gives_the_same_error_through_the_object_and_the_file(
        tmp_path, capsys, case):
    i, change, message = TRADE_CASES[case]
    document = trade_document(i, change)
    from_api = api_error(lambda: swap_of(document, i))
    line, path = file_error(tmp_path, capsys, "trades", document)
    assert message in from_api
    trade_id = example("trades.json")["trades"][i]["id"]
    assert line == f"tessarin: error: {path}: trades[{i}].{from_api} (trade {trade_id!r})" \
        or line == f"tessarin: error: {path}: trades[{i}]{from_api} (trade {trade_id!r})"


def usd_curve():
    return tessarin.YieldCurve({c["id"]: c for c in example("market.json")["curves"]}[USD_CURVE])


def eur_trade_on_the_usd_curve():
    i = next(k for k, t in enumerate(example("trades.json")["trades"])
             if t["id"] == "EUR 5Y receiver")
    document = trade_document(i, set_in("curve", value=USD_CURVE))
    usd = usd_curve()
    return ("trades", document, lambda: swap_of(document, i).price(usd), f"trades[{i}].",
            " (trade 'EUR 5Y receiver')")


def usd_curve_with_a_eur_generator():
    market = example("market.json")
    market["curves"][0]["instruments"]["generator"][2] = "EUR ESTR SW"
    return ("market", market, lambda: tessarin.YieldCurve(market["curves"][0]), "curves[0].",
            " (curve 'USD SOFR')")


def fixing_in_percent():
    fixings = example("fixings.json")
    fixings["SOFR"]["values"][3] = 4.3
    return "fixings", fixings, lambda: tessarin.Fixings(fixings), "", ""


# (the file to replace, its document, the same input through the API, the key path's
# prefix and the subject in the file's message), the API's message.
BOTH_ROUTES = {
    "EUR swap on a USD curve": (
        eur_trade_on_the_usd_curve,
        "leg1.currency: the leg is in EUR, but the curve 'USD SOFR' is in USD"),
    "curve mixing currencies": (
        usd_curve_with_a_eur_generator,
        "instruments.generator[2]: generator 'EUR ESTR SW' quotes EUR instruments, but the "
        "curve's currency is USD"),
    "fixing in percent": (
        fixing_in_percent,
        "SOFR.values[3]: 4.3 is not a decimal rate; rates are decimals: 0.033 for 3.3%"),
}


@pytest.mark.parametrize("case", BOTH_ROUTES)
def test_a_misleading_input_is_refused_with_the_same_message_by_both_routes(
        tmp_path, capsys, case):
    make, message = BOTH_ROUTES[case]
    which, document, call, where, subject = make()
    assert api_error(call) == message
    line, path = file_error(tmp_path, capsys, which, document)
    assert line == f"tessarin: error: {path}: {where}{message}{subject}"


def test_a_swap_projecting_another_index_than_its_curve_is_refused_or_only_warned():
    usd = usd_curve()
    sofr_swap = swap_of(example("trades.json"), FLOAT_TRADE).to_dict()
    sofr_swap["leg2"]["index"] = "ESTR"
    assert api_error(lambda: tessarin.IRS(sofr_swap).price(usd)) == (
        "leg2.index: the leg projects ESTR, but the curve 'USD SOFR' is built on SOFR")
    # Lenient: priced, with a warning that says the same.
    with pytest.warns(tessarin.InputWarning, match="leg2.index: the leg projects ESTR"):
        tessarin.IRS(sofr_swap, strict=False).price(usd)


def test_no_strict_prices_with_warnings_instead(tmp_path, capsys):
    document = trade_document(USD_TRADE, set_in("leg1", "rate", value=3.3))
    path = tmp_path / "trades.json"
    path.write_text(json.dumps(document))
    status = cli.main(["price", str(EXAMPLES / "market.json"), str(path), "--fixings",
                       str(EXAMPLES / "fixings.json"), "--no-strict"])
    out, err = capsys.readouterr()
    assert status == 0 and "USD 5Y payer" in out
    assert f"tessarin: warning: {path}: trades[0].leg1.rate: 3.3 is not a decimal rate" in err
    swap = swap_of(example("trades.json"), USD_TRADE).to_dict()
    swap["leg1"]["rate"] = 3.3
    with pytest.warns(tessarin.InputWarning, match="leg1.rate: 3.3 is not a decimal rate"):
        tessarin.IRS(swap, strict=False)


def test_quotes_given_as_decimals_are_refused_unless_not_strict(tmp_path):
    market = example("market.json")
    curve = market["curves"][0]
    curve["instruments"]["quote"] = [q / 100 for q in curve["instruments"]["quote"]]
    message = ("instruments.quote: every quote lies within ±0.2: quotes are in percent: 3.3 for "
               "3.3%")
    assert error_text(tessarin.InputError, tessarin.YieldCurve, curve) == message
    path = tmp_path / "market.json"
    path.write_text(json.dumps(market))
    assert error_text(tessarin.InputError, tessarin.load_market, path) == (
        f"{path}: curves[0].{message} (curve 'USD SOFR')")
    with pytest.warns(tessarin.InputWarning, match="quotes are in percent"):
        tessarin.YieldCurve(curve, strict=False)


@pytest.mark.parametrize(("row", "edit", "message"), [
    (5, {"tenor": "1Y"}, r"^instrument 5 \(USD SOFR SW 1Y, quote 3\.32\) repeats the tenor of "
                         r"instrument 4: Error, pillar dates must be strictly increasing"),
    (5, {"tenor": "12M"}, r"^instrument 5 \(USD SOFR SW 12M, quote 3\.32\) repeats the tenor "),
    (7, {"quote": 900.0}, r"^instrument 7 \(USD SOFR SW 3Y, quote 900\): Error in function "
                          r"boost::math::tools::toms748_solve"),
])
def test_a_bootstrap_failure_names_the_instrument_and_keeps_the_library_message(row, edit,
                                                                               message):
    curve = example("market.json")["curves"][0]
    for column, value in edit.items():
        curve["instruments"][column][row] = value
    with pytest.raises(RuntimeError, match=message):
        tessarin.YieldCurve(curve)


# The checks accept exactly what the library accepts.

TEXT = st.text(st.sampled_from("0129 BbDdWwMmYyXx,\t-/ÅSUTGENCHJP"), max_size=6)
VALUES = st.one_of(st.none(), st.booleans(), st.integers(-60, 60),
                   st.sampled_from([2**31, -2**31 - 1, 2**63]),
                   st.floats(-1, 1), TEXT, st.sampled_from(["1e-3", "0x10", " 1", "true", "FALSE",
                                                            "2026-1-5", "2026/01/05"]))


def swap_with(field, value):
    swap = swap_of(example("trades.json"), FLOAT_TRADE).to_dict()
    target = swap if len(field) == 1 else swap[field[0]]
    target[field[-1]] = value
    return swap


def curve_with(column, value):
    curve = example("market.json")["curves"][0]
    if column == "interpolation":
        curve["interpolation"] = value
    else:
        curve["instruments"][column][-1] = value
        curve["instruments"]["in use"][-1] = False  # still read by the library
    return curve


# (where the value goes, the values, the input with the value, the library's constructor,
# the package's, and whether the checks may pass an input the library then refuses)
AGREEMENT = {
    "swap": (st.sampled_from([("leg1", "frequency"), ("leg2", "calendar"),
                              ("leg2", "pay calendar"), ("leg2", "is paid"), ("leg1", "rate"),
                              ("leg2", "pay lag"), ("leg2", "notional"), ("termination date",),
                              ("leg1", "pay adjustment"), ("leg2", "day count convention")]),
             VALUES, swap_with, _tessarin.IRS,
             lambda swap: tessarin.IRS(swap, strict=False), True),
    "curve": (st.sampled_from(["tenor", "generator", "interpolation"]),
              st.one_of(TEXT, st.sampled_from(["2B", "2bd", "0Y", "LINEARRATES", "linearlogdf",
                                               "USD SOFR SW", "LİNEARRATES"])),
              curve_with, _tessarin.YieldCurve, tessarin.YieldCurve, False),
}


@pytest.mark.parametrize("kind", AGREEMENT)
@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(data=st.data())
def test_the_checks_accept_what_the_library_accepts(kind, data):
    places, values, with_value, library, package, lenient = AGREEMENT[kind]
    place, value = data.draw(places, label="place"), data.draw(values, label="value")
    given_input = with_value(place, value)
    try:
        library(given_input)
        accepted = True
    except RuntimeError:
        accepted = False
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            package(given_input)
            checked = True
        except tessarin.InputError:
            checked = False
        except RuntimeError:
            checked = None  # passed the checks, refused by the library
    assert checked in ((accepted, None) if lenient else (accepted,))


# Calendars: coverage of the holiday lists, and lists supplied by the user.

def usd_swap(end):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        swap = swap_of(example("trades.json"), USD_TRADE).to_dict()
    swap["termination date"] = end
    swap["effective date"] = swap["effective date"].isoformat()
    return swap


US_COVERAGE = ("calendar 'US' lists holidays only through 2030; later dates have only "
               "weekends as holidays (supply lists with tessarin.calendars.load, or generate "
               "them with tessarin.calendars.extend or --calendars-through YEAR)")


@pytest.mark.parametrize(("ends", "shown"), [
    (["2028-12-27"], []),
    # Thursday 25 December 2036, then the two-day payment lag.
    (["2036-12-25"], [(US_COVERAGE, dt.date(2036, 12, 29))]),
    # One line of code building many long swaps: the same text, shown once.
    ([f"{year}-12-15" for year in range(2036, 2046)], [(US_COVERAGE, dt.date(2036, 12, 17))]),
])
def test_coverage_warning_past_the_holiday_list_once_per_calendar_and_line(ends, shown):
    swaps = [usd_swap(end) for end in ends]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("default")
        for swap in swaps:
            tessarin.IRS(swap)
    assert [(str(w.message), w.message.date) for w in caught] == shown
    assert all(w.category is tessarin.CalendarCoverageWarning for w in caught)


@pytest.mark.parametrize(("ends", "shown"), [
    (["2028-12-27"], []),
    # A book warns once per calendar, for its latest date.
    (["2036-12-25", "2028-12-27", "2033-06-15"], [(US_COVERAGE, dt.date(2036, 12, 29))]),
])
def test_a_book_warns_for_its_schedules_as_the_swaps_do(ends, shown):
    trades = [{"curve": "USD SOFR", **usd_swap(end), "id": f"T{i}"} for i, end in enumerate(ends)]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("default")
        tessarin.Book(trades, {})
    assert [(str(w.message), w.message.date) for w in caught] == shown


def test_a_book_of_a_market_file_tells_each_calendar_once_at_the_callers_line():
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        tessarin.Book(EXAMPLES / "trades.json", EXAMPLES / "market.json")
    told = [w.message.calendar for w in caught
            if isinstance(w.message, tessarin.CalendarCoverageWarning)]
    assert "US" in told and len(told) == len(set(told))
    assert {w.filename for w in caught} == {__file__}


def test_books_built_on_one_line_tell_each_calendar_once_there():
    # Reading the files enters pandas' catch_warnings, which clears Python's own record.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("default")
        for _ in range(3):
            tessarin.Book(EXAMPLES / "trades.json", EXAMPLES / "market.json")
    told = [w.message.calendar for w in caught]
    assert "US" in told and len(told) == len(set(told))


def test_coverage_warning_is_one_line_once_per_calendar_on_the_command_line(capsys):
    assert cli.main(["price", "--demo"]) == 0
    lines = [line for line in capsys.readouterr().err.splitlines() if "calendar 'US'" in line]
    assert len(lines) == 1 and lines[0].startswith("tessarin: warning: calendar 'US' lists ")


def test_user_holiday_lists_move_schedules_and_curve_pillars(tmp_path):
    (tmp_path / "us.csv").write_text("calendar,date\nUS,2036-12-25\nUS,2056-12-13\n")
    (tmp_path / "new.json").write_text(json.dumps({"XM": {"holidays": ["2031-01-03"],
                                                          "weekend": ["Fri", "Saturday"]}}))
    result = run_isolated(f"""
        import json, warnings
        import tessarin
        from conftest import example
        warnings.simplefilter("ignore", tessarin.CalendarCoverageWarning)
        swap = {usd_swap("2036-12-25")!r}
        curve = example("market.json")["curves"][0]
        before = tessarin.YieldCurve(curve).dates()[-1], tessarin.IRS(swap).cashflows(
            tessarin.YieldCurve(curve))["Leg1"]["Accrual End Date"][-1]
        assert tessarin.calendars.load({str(tmp_path / "us.csv")!r}) == ["US"]
        after = tessarin.YieldCurve(curve).dates()[-1], tessarin.IRS(swap).cashflows(
            tessarin.YieldCurve(curve))["Leg1"]["Accrual End Date"][-1]
        print(before)
        print(after)
        assert tessarin.conventions.CALENDARS["US"].last_year == 2056
        tessarin.calendars.load({str(tmp_path / "new.json")!r})
        xm = tessarin.conventions.CALENDARS["XM"]
        print(xm.weekend, xm.years)
    """)
    assert result.returncode == 0, result.stderr
    before, after, weekend = result.stdout.splitlines()
    # Christmas 2036 is a Thursday: the accrual end rolls to Friday; the 30Y pillar on
    # Monday 2056-12-13 moves to the Tuesday.
    assert before == "(datetime.date(2056, 12, 13), datetime.date(2036, 12, 25))"
    assert after == "(datetime.date(2056, 12, 14), datetime.date(2036, 12, 26))"
    assert weekend == "('Friday', 'Saturday') 2031"


@pytest.mark.parametrize(("content", "message"), [
    ("US,2031-02-30\n", "US: expected a date as YYYY-MM-DD, got '2031-02-30'"),
    ("US\n", "line 1: expected two cells: calendar,date"),
    ("A,B,2031-01-01\n", "line 1: expected two cells"),
])
def test_bad_holiday_files_name_the_line_or_calendar(tmp_path, content, message):
    path = tmp_path / "holidays.csv"
    path.write_text(content)
    with pytest.raises(tessarin.InputError, match=f"^{path}: {message}"):
        tessarin.calendars.load(path)


# Small things.

def test_fixings_are_checked_once_and_reused(tmp_path):
    fixings = tessarin.Fixings(example("fixings.json"))
    assert tessarin.Fixings.of(fixings) is fixings and tessarin.Fixings(fixings) == fixings
    swap = swap_of(example("trades.json"), 4)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        curve = tessarin.YieldCurve(example("market.json")["curves"][0])
    assert swap.price(curve, fixings) == swap.price(curve, example("fixings.json"))


@pytest.mark.parametrize(("order", "message"), [
    (("trades", "market"), 'curves: missing key; this is a trades file, not a market file: '
                           'give MARKET.json first, then TRADES.json'),
    (("market", "market"), 'trades: missing key; this is a market file, not a trades file'),
    (("market", "fixings"), 'trades: missing key; this is a fixings file, not a trades file: '
                            'give MARKET.json first, then TRADES.json, and the fixings with '
                            '--fixings'),
])
def test_swapped_files_get_a_hint_about_the_order(capsys, order, message):
    files = [str(EXAMPLES / f"{name}.json") for name in order]
    assert cli.main(["price", *files]) == 2
    assert message in capsys.readouterr().err


def test_a_truncated_file_is_reported_in_a_sentence(tmp_path):
    path = tmp_path / "market.json"
    path.write_text((EXAMPLES / "market.json").read_text()[:200])
    with pytest.raises(tessarin.InputError) as caught:
        tessarin.load_market(path)
    assert re.fullmatch(f"{re.escape(str(path))}: the JSON document stops before its end "
                        r"\(at line \d+ column \d+\); is the file truncated\?",
                        str(caught.value))


def test_the_namespace_exports_only_the_package():
    assert not {"annotations", "metadata"} & set(dir(tessarin))
    assert issubclass(tessarin.InputError, ValueError)


def _entry(**changes):
    """The last example trade (with a generator), the top-level keys changed; None drops."""
    entry = copy.deepcopy(example("trades.json")["trades"][-1])
    for key, value in changes.items():
        if value is None:
            entry.pop(key, None)
        else:
            entry[key] = value
    return entry


def _leg(leg, **changes):
    legs = copy.deepcopy(example("trades.json")["trades"][-1][leg])
    legs.update(changes)
    return legs


@pytest.mark.parametrize("entry", [
    _entry(),
    copy.deepcopy(example("trades.json")["trades"][0]),  # conventions spelt out, no generator
    _entry(**{"effective date": dt.date(2026, 12, 10), "schedule roll": "forward"}),
    _entry(leg1=_leg("leg1", notional=5000000, rate=0)),
    _entry(leg1=_leg("leg1", **{"pay lag": 1})),
    _entry(leg2=_leg("leg2", index="SORA", rate=[1])),
    _entry(leg1=_leg("leg1", rate=1.5)),
    _entry(leg1=_leg("leg1", notional=float("inf"))),
    _entry(leg1=_leg("leg1", **{"is paid": 1})),
    _entry(leg1=_leg("leg1", frequency=["1Y"])),
    _entry(leg2=_leg("leg2", index="SOFR ")),
    _entry(leg2=_leg("leg2", unknown=1)),
    _entry(**{"termination date": "2026-12-10"}),
    _entry(**{"effective date": "1399-12-10"}),
    _entry(**{"effective date": dt.datetime(2026, 12, 10, 5)}),
    _entry(id=7),
    _entry(generator="USD SOFR SW"),
    _entry(generator="USD SOFR XX"),
    _entry(generator=None),
    _entry(curve=None),
])
def test_trades_of_a_file_read_with_shared_conventions_as_each_alone(entry):
    """A file's trades share checked conventions and take a short path: what each gives,
    its swap (key order and types included) or its error, is what checking it alone gives."""
    def checked(cache):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                curve, swap = tessarin._inputs.check_trade(entry, "trades[1]", True, cache)
            except tessarin.InputError as error:
                return str(error)
            return curve, json.dumps(tessarin._inputs.jsonable(swap)), [
                (key, type(value)) for leg in ("leg1", "leg2") for key, value in swap[leg].items()]

    cache = tessarin._inputs.LegCache()
    for first in example("trades.json")["trades"]:
        tessarin._inputs.check_trade(first, "trades[0]", True, cache)
    assert checked(cache) == checked(None)


@pytest.mark.parametrize(("call", "message"), [
    (lambda p: tessarin.tables.read_table(p / "t.parquet"),
     "t.parquet: reading Parquet needs pyarrow"),
    (lambda p: tessarin.scenarios.historical(p / "s.parquet"),
     "s.parquet: reading Parquet needs pyarrow"),
    (lambda p: tessarin.cli_output.write_files({}, p, "parquet"),
     "--out: writing Parquet needs pyarrow"),
])
def test_parquet_without_pyarrow_names_the_extra(monkeypatch, tmp_path, call, message):
    import tessarin.cli_output
    import tessarin.scenarios
    import tessarin.tables

    monkeypatch.setitem(sys.modules, "pyarrow", None)
    with pytest.raises(tessarin.InputError, match=re.escape(message)) as error:
        call(tmp_path)
    assert str(error.value).endswith("pip install 'tessarin[parquet]'")
