"""Swap and trade dicts read by the library in one call: the same refusal through every route,
and nothing kept from a refused read."""

import copy
import gc
import json
import sys
import warnings

import pytest

import _tessarin
import tessarin
from conftest import EXAMPLES, example, example_curves, usd_swap_input


def _trade(legs=None, **changes):
    trade = copy.deepcopy(example("trades.json")["trades"][-1])
    trade.update(changes)
    for leg, values in (legs or {}).items():
        trade[leg] = {**trade[leg], **values} if isinstance(values, dict) else values
    return trade


BAD = [
    (_trade({"leg1": {"rate": 3.3}}), ("leg1", "rate"), "3.3 is not a decimal rate; "),
    (_trade({"leg2": {"index": "XYZ"}}), ("leg2", "index"), "unknown index 'XYZ' (known: "),
    (_trade({"leg1": {"pay lag": 99}}), ("leg1", "pay lag"), ""),
    (_trade({"leg1": {"accrual calendar": "US,XX"}}), ("leg1", "accrual calendar"),
     "unknown calendar 'XX' (known: "),
    (_trade({"leg2": {"frequency": "3Q"}}), ("leg2", "frequency"), "invalid tenor '3Q' "),
    (_trade({"leg2": 5}), ("leg2",), "expected a leg object, got 5"),
    (_trade(**{"termination date": "2020-01-02"}), ("termination date",),
     "2020-01-02 is not after the effective date "),
    (_trade(generator="USD SOFR XX"), ("generator",), "unknown generator 'USD SOFR XX' (known: "),
    (_trade(notes="x"), ("notes",), "unknown key 'notes' ("),
]


@pytest.mark.parametrize(("trade", "keys", "start"), BAD)
def test_a_bad_trade_is_refused_alike_by_the_swap_the_book_and_the_file(tmp_path, trade, keys,
                                                                        start):
    path = ""
    for key in keys:
        path = tessarin._inputs.key_path(path, key)
    with pytest.raises(tessarin.InputError) as alone:
        tessarin.IRS(trade)
    assert (alone.value.path, alone.value.message[:len(start)]) == (path, start)

    file = tmp_path / "trades.json"
    file.write_text(json.dumps({"trades": [trade]}))
    with pytest.raises(tessarin.InputError) as loaded:
        tessarin.load_trades(file)
    where = "trades[0]" + (path if path.startswith("[") else "." + path)
    assert (loaded.value.path, loaded.value.message) == (where, alone.value.message)

    errors = tessarin.Book([trade], EXAMPLES / "market.json", threads=1).errors()
    assert list(errors) == [f"row 0, column '{where}': {alone.value.message}"]


@pytest.mark.parametrize("entry", [5, None, [1, 2], "swap"])
def test_an_entry_that_is_no_dict_is_named(entry):
    assert _tessarin.swap_from_dict(entry, "x", True)[3][1].startswith("expected a swap object")
    assert _tessarin.trades_from_dicts([entry], True)[0][3][0] == "trades[0]"
    with pytest.raises(TypeError):
        _tessarin.trades_from_dicts((entry,), True)


@pytest.mark.parametrize("trade", [row[0] for row in BAD[:3]] + [_trade()])
def test_reading_keeps_no_reference_to_its_input(trade):
    trade = json.loads(json.dumps(trade))  # values of its own
    values = [trade, *trade.values(), *trade["leg1"].values()]
    read = [_tessarin.swap_from_dict(trade, "", True, None, True),
            _tessarin.trades_from_dicts([trade, 5], False)]
    del read
    gc.collect()
    before = [sys.getrefcount(v) for v in values]
    for _ in range(200):
        _tessarin.swap_from_dict(trade, "", True, None, True)
        _tessarin.trades_from_dicts([trade, 5], False)
    gc.collect()
    assert [sys.getrefcount(v) for v in values] == before


def test_a_generator_fills_only_what_the_swap_leaves_out():
    swap = usd_swap_input()
    del swap["leg2"]["index"], swap["schedule roll"]
    swap["leg1"]["pay lag"] = 1
    _, data, doubts, problem = _tessarin.swap_from_dict(swap, "", True, "EUR ESTR SW")
    assert (problem, doubts) == (None, [])
    assert (data["schedule roll"], data["leg2"]["index"], data["leg1"]["pay lag"],
            data["leg1"]["currency"]) == ("backward", "ESTR", 1, "USD")
    assert "index" not in swap["leg2"]


def _dated(start, end):
    return _trade(**{"effective date": start, "termination date": end})


@pytest.mark.parametrize("strict", [True, False])
def test_book_columns_read_natively_equal_those_of_the_checked_swaps(strict):
    entries = [*example("trades.json")["trades"], _dated("1899-12-29", "1900-03-01"),
               _dated("2000-02-28", "2000-03-01"), _dated("1969-12-31", "2100-03-01"),
               BAD[0][0], BAD[5][0], 7, _trade(id=None), BAD[8][0]]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        native = tessarin.book._checked(entries, strict)
        # A checked trade among them takes the route of one swap dict at a time.
        mixed = tessarin.book._checked([*entries, tessarin.load_trades(
            EXAMPLES / "trades.json")[0]], strict)
    for key, column in native.columns.items():
        assert column == mixed.columns[key][:-1], key
    assert native.conventions == mixed.conventions[:len(native.conventions)]


@pytest.mark.parametrize(("trade", "keys", "start"), [BAD[0], BAD[8]])
def test_a_doubt_is_only_warned_alike_by_every_route_when_not_strict(tmp_path, trade, keys,
                                                                     start):
    file = tmp_path / "trades.json"
    file.write_text(json.dumps({"trades": [trade]}))
    routes = {"IRS": lambda: tessarin.IRS(trade, strict=False),
              "file": lambda: tessarin.load_trades(file, strict=False),
              "Book": lambda: tessarin.Book([trade], EXAMPLES / "market.json", threads=1,
                                            strict=False).errors()}
    said = {}
    for route, call in routes.items():
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = call()
        said[route] = [(w.message.path.removeprefix("trades[0]").lstrip("."), w.message.message)
                       for w in caught if isinstance(w.message, tessarin.InputWarning)]
        assert route != "Book" or result.empty
    assert said["IRS"] == said["file"] == said["Book"]
    assert said["IRS"][0][1].startswith(start)


@pytest.mark.filterwarnings("ignore::tessarin.CalendarCoverageWarning")
@pytest.mark.parametrize("trade", example("trades.json")["trades"], ids=lambda t: t["id"])
def test_a_swap_built_from_its_typed_terms_is_the_dict_routes_swap(trade):
    curve = tessarin.YieldCurve(example_curves()[trade["curve"]])
    fixings = {"fixings": tessarin.load_fixings(EXAMPLES / "fixings.json").to_dict()}
    built = tessarin.IRS(trade)._impl
    _, data, _, _ = _tessarin.swap_from_dict(trade, "", True, None, True)
    tree = _tessarin.IRS(data)
    for call in ("price", "risk", "cashflows"):
        assert getattr(built, call)(curve._impl, **fixings) == getattr(tree, call)(curve._impl,
                                                                                   **fixings)
    assert built.required_fixings(curve.value_date) == tree.required_fixings(curve.value_date)


def test_a_swap_the_typed_build_refuses_gets_the_dict_routes_error():
    trade = _trade(**{"termination date": "9999-12-30"})
    read = _tessarin.swap_from_dict(trade, "", True, None, True, True)
    assert read[4] is None and read[1] is not None
    with pytest.raises(RuntimeError) as native:
        _tessarin.IRS(read[1])
    with pytest.raises(RuntimeError) as package:
        tessarin.IRS(trade)
    assert str(package.value) == str(native.value) == "Year is out of valid range: 1400..9999"
