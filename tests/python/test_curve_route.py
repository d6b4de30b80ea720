"""The typed curve route: one native read of a curve dict behind `tessarin.YieldCurve` and the
market files, with the messages of every route alike and nothing kept on its error paths."""

import copy
import datetime as dt
import gc
import json
import sys

import pytest
from test_leaks import Pool

import _tessarin
import tessarin
from conftest import example

DESK = "usd_desk_curve.json"


def usd():
    return example("market.json")["curves"][0]


def desk():
    return example(DESK)


def cell(column, row, value, make=usd):
    def change():
        curve = make()
        curve["instruments"][column][row] = value
        return curve
    return change


def key(name, value, make=usd):
    def change():
        return {**make(), name: value}
    return change


def renamed(old, new):
    def change():
        curve = usd()
        curve[new] = curve.pop(old)
        return curve
    return change


def shorter(column):
    def change():
        curve = usd()
        curve["instruments"][column].pop()
        return curve
    return change


# (the input, its message through the API); the file's message adds the file, the curve's
# place in the market and its id.
BAD_CURVES = {
    "date": (key("value date", "2026-13-01"),
             '["value date"]: expected a date as YYYY-MM-DD, got "2026-13-01"'),
    "generator": (cell("generator", 3, "USD SOFR SWW"),
                  "instruments.generator[3]: unknown generator 'USD SOFR SWW' (known: "),
    "tenor": (cell("tenor", 2, "1X"),
              "instruments.tenor[2]: invalid tenor '1X' (expected a whole number and a unit D, W, "
              "M or Y, e.g. 3M or 10Y)"),
    "lengths": (shorter("tenor"),
                "instruments: columns must have the same length (got generator 20, tenor 19, "
                "quote 20, in use 20)"),
    "quote": (cell("quote", 4, "nan"), "instruments.quote[4]: expected a finite number, got nan"),
    "flag": (cell("in use", 5, 1), 'instruments["in use"][5]: expected true or false, got 1'),
    "dated row": (cell("end", 3, None, desk), "instruments.end[3]: a dated swap needs both a "
                                               "start and an end"),
    "futures month": (cell("tenor", 1, "2026-13", desk), "instruments.tenor[1]: "),
    "interpolation": (key("interpolation", "Cubic"), "interpolation: unknown interpolation "
                                                     "'Cubic' (known: "),
    "turn": (key("turns", [{"start": "2027-01-05", "end": "2026-12-30", "spread": 15}]),
             "turns: Error, turn 0 "),
    "misspelt key": (renamed("instruments", "instrumnts"),
                     "instrumnts: unknown key 'instrumnts' (did you mean 'instruments'?)"),
    "fixing in percent": (key("fixings", {"SOFR": {"dates": ["2026-12-01"], "values": [4.3]}}),
                          "fixings.SOFR.values[0]: 4.3 is not a decimal rate; rates are "
                          "decimals: 0.033 for 3.3%"),
}


@pytest.mark.parametrize("case", BAD_CURVES)
def test_a_bad_curve_gives_one_message_through_the_object_and_the_file(tmp_path, case):
    make, message = BAD_CURVES[case]
    with pytest.raises(tessarin.InputError) as from_api:
        tessarin.YieldCurve(make())
    assert str(from_api.value).startswith(message)
    market = tmp_path / "market.json"
    curve = make()
    market.write_text(json.dumps({"curves": [usd() if curve.get("id") != "USD SOFR" else desk(),
                                             curve]}))
    with pytest.raises(tessarin.InputError) as from_file:
        tessarin.load_market(market)
    separator = "" if str(from_api.value).startswith("[") else "."
    assert str(from_file.value) == (f"{market}: curves[1]{separator}{from_api.value} "
                                    f"(curve {curve.get('id')!r})")


def test_the_entry_builds_the_tree_routes_curve_from_what_it_writes_back():
    data = {**desk(), "fixings": {"SOFR": example("fixings.json")["SOFR"]}}
    data["instruments"]["quote"][4] = 4  # a whole number, read as a float
    curve, doubts, problem, failure = _tessarin.curve_from_dict(data, "", True)
    assert (doubts, problem, failure) == ([], None, None)
    rows = data["instruments"]
    assert type(data["value date"]) is dt.date and type(rows["quote"][4]) is float
    assert rows["tenor"][:2] == ["1M FUT 2026-12", "1M FUT 2027-01"]
    assert rows["tenor"][3] == "2026-12-10/2027-03-17"
    assert type(rows["start"][3]) is dt.date
    tree = _tessarin.YieldCurve(data)
    assert (curve.dates(), curve.rates()) == (tree.dates(), tree.rates())


def test_the_entry_answers_a_non_dict_a_doubt_and_a_failed_bootstrap():
    assert _tessarin.curve_from_dict([], "curves[2]", True) == (
        None, [], ("curves[2]", "expected a curve object, got a list"), None)
    eur = cell("generator", 2, "EUR ESTR SW")()
    strict = _tessarin.curve_from_dict(copy.deepcopy(eur), "", True)
    assert strict[0] is None and strict[2:] == (None, None)
    assert [d[:2] for d in strict[1]] == [("doubt", "instruments.generator[2]")]
    lenient = _tessarin.curve_from_dict({**eur, "idd": 1}, "", False)
    assert [d[:2] for d in lenient[1]] == [("key", ""), ("doubt", "instruments.generator[2]")]
    assert lenient[0] is not None and lenient[2:] == (None, None)
    failed = _tessarin.curve_from_dict(cell("quote", 7, 900.0)(), "", True)
    assert failed[0] is None and failed[3].startswith("Error in function boost::math")


# Inputs that fail late: on the last row, on a doubt, in the bootstrap, on a date the
# library cannot hold.
FAILING = [cell("tenor", 19, "1X")(), cell("generator", 19, "EUR ESTR SW")(),
           cell("quote", 7, 900.0)(), key("value date", dt.date(1300, 1, 1))()]


def fresh(data):
    """A copy to be read in place, sharing the cells of `data`."""
    return {**data, "instruments": {k: list(v) for k, v in data["instruments"].items()}}


def test_failed_reads_keep_no_reference_and_no_curve():
    pool = Pool()

    def rounds(count):
        for _ in range(count):
            for data in FAILING:
                assert _tessarin.curve_from_dict(fresh(data), "", True)[0] is None
    rounds(200)
    gc.collect()
    registered, blocks = pool.size(), sys.getallocatedblocks()
    cells = [v for data in FAILING for column in data["instruments"].values() for v in column
             if isinstance(v, float)] + [data["value date"] for data in FAILING]
    references = [sys.getrefcount(v) for v in cells]
    rounds(2000)
    gc.collect()
    assert pool.size() == registered
    assert [sys.getrefcount(v) for v in cells] == references
    assert sys.getallocatedblocks() - blocks < 500
