"""The `tessarin` package: wrappers, persistence, conventions data, type stub."""

import ast
import copy
import datetime as dt
import json
import pickle
import re
from pathlib import Path

import pytest

import _tessarin
import tessarin
from conftest import EXAMPLES, example_curves, example_trades
from tessarin import conventions

ROOT = Path(__file__).resolve().parents[2]
VALUE_DATE = dt.date(2026, 12, 8)


@pytest.fixture(scope="module")
def usd_input():
    return example_curves()["USD SOFR"]


@pytest.fixture(scope="module")
def usd_curve(usd_input):
    return tessarin.YieldCurve(usd_input)


@pytest.fixture(scope="module")
def fixings():
    return tessarin.load_fixings(EXAMPLES / "fixings.json")


@pytest.fixture(scope="module")
def seasoned():
    return tessarin.IRS(example_trades()["USD seasoned 3Y payer"].swap)


def per_bp(risk):
    """Risk per 1bp: the package's as it is, the extension type's (per 1.00 of quote) / 100."""
    scale = 1.0 if risk.get("Unit") == "per 1bp" else 100.0
    return {"Tenor": risk["Tenor"],
            **{key: [value / scale for value in risk[key]] for key in ("Leg1", "Leg2", "Net")}}


def unsigned(flows):
    """Cash flows as the extension type gives them: amounts unsigned, its own column names."""
    out = {}
    for leg, table in flows.items():
        sign = -1.0 if table.get("Pay/Receive", [""])[0] == "Pay" else 1.0
        dropped = {"Pay/Receive", "Margin", *(("Rate",) if "Spread" in table else ())}
        out[leg] = {name: [sign * v for v in values] if name.startswith("Cash Flow") else values
                    for name, values in table.items() if name not in dropped}
    return out


def results(curve, swap, fixings=None):
    """Everything a curve and a swap answer, for exact comparisons."""
    dates = curve.dates()
    probe = [VALUE_DATE, *dates, dt.date(2029, 2, 28), dates[-1] + dt.timedelta(days=400)]
    return {"df": [curve.df(d) for d in probe], "dates": dates, "rates": curve.rates(),
            "price": swap.price(curve, fixings), "risk": per_bp(swap.risk(curve, fixings)),
            "cashflows": unsigned(swap.cashflows(curve, fixings)),
            "required": swap.required_fixings(VALUE_DATE)}  # fmt: skip


def test_wrappers_answer_exactly_what_the_extension_types_answer(usd_input, usd_curve, seasoned,
                                                                 fixings):
    native = _tessarin.YieldCurve(usd_input), _tessarin.IRS(seasoned.to_dict())
    expected = results(*native, fixings)
    assert results(usd_curve, seasoned, fixings) == expected
    # A native curve is accepted wherever a wrapped one is.
    assert seasoned.price(usd_curve.native, fixings) == expected["price"]


ROUND_TRIPS = {
    "pickle": lambda obj: pickle.loads(pickle.dumps(obj)),
    "pickle protocol 2": lambda obj: pickle.loads(pickle.dumps(obj, protocol=2)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    "json": lambda obj: type(obj).from_json(obj.to_json()),
}


@pytest.mark.parametrize("how", ROUND_TRIPS)
def test_round_trips_rebuild_objects_with_identical_results(how, usd_curve, seasoned, fixings):
    curve, swap = ROUND_TRIPS[how](usd_curve), ROUND_TRIPS[how](seasoned)
    assert type(curve) is tessarin.YieldCurve and type(swap) is tessarin.IRS
    assert curve.native is not usd_curve.native
    assert results(curve, swap, fixings) == results(usd_curve, seasoned, fixings)
    assert curve.to_dict() == usd_curve.to_dict() and swap.to_dict() == seasoned.to_dict()


def test_save_and_load_write_iso_dates(tmp_path, usd_curve, seasoned, fixings):
    usd_curve.save(tmp_path / "curve.json")
    seasoned.save(tmp_path / "swap.json")
    text = json.loads((tmp_path / "curve.json").read_text())
    assert text["value date"] == "2026-12-08"
    assert json.loads((tmp_path / "swap.json").read_text())["effective date"] == "2026-06-10"
    curve = tessarin.YieldCurve.load(tmp_path / "curve.json")
    swap = tessarin.IRS.load(tmp_path / "swap.json")
    assert curve.value_date == VALUE_DATE and curve.rates() == usd_curve.rates()
    assert swap.cashflows(curve, fixings) == seasoned.cashflows(usd_curve, fixings)
    assert swap.required_fixings(VALUE_DATE) == seasoned.required_fixings(VALUE_DATE)


def test_repr_shows_id_currency_dates_and_pillars(usd_curve, seasoned):
    assert repr(usd_curve) == (
        "<tessarin.YieldCurve 'USD SOFR' USD value date 2026-12-08, 20 pillars>")
    assert repr(seasoned) == "<tessarin.IRS 'USD seasoned 3Y payer' USD 2026-06-10 to 2029-06-10>"


def test_input_is_copied_in_and_out(usd_input):
    given = copy.deepcopy(usd_input)
    curve = tessarin.YieldCurve(given)
    given["instruments"]["quote"][0] = 99.0
    kept = curve.to_dict()
    kept["instruments"]["quote"][1] = 99.0
    assert curve.to_dict()["instruments"]["quote"][:2] == usd_input["instruments"]["quote"][:2]
    assert pickle.loads(pickle.dumps(curve)).rates() == curve.rates()


def test_iso_text_tuples_and_datetimes_are_accepted(usd_input, usd_curve, seasoned, fixings):
    curve = tessarin.YieldCurve({**usd_input, "value date": "2026-12-08"})
    assert curve.value_date == VALUE_DATE and curve.rates() == usd_curve.rates()
    columns = usd_input["instruments"]
    tupled = {**usd_input, "instruments": {k: tuple(v) for k, v in columns.items()}}
    assert tessarin.YieldCurve(tupled).rates() == usd_curve.rates()
    assert usd_curve.df("2030-01-02") == usd_curve.df(dt.datetime(2030, 1, 2, 17, 30))
    iso_fixings = {name: {"dates": [d.isoformat() for d in series["dates"]],
                          "values": series["values"]} for name, series in fixings.items()}
    assert seasoned.price(usd_curve, iso_fixings) == seasoned.price(usd_curve, fixings)
    assert seasoned.required_fixings("2026-12-08") == seasoned.required_fixings(VALUE_DATE)


@pytest.mark.parametrize("bad", ["08/12/2026", "2026-13-01", 20261208])
def test_bad_dates_name_the_key(usd_input, bad):
    with pytest.raises(tessarin.InputError, match=r"value date.*YYYY-MM-DD"):
        tessarin.YieldCurve({**usd_input, "value date": bad})


def test_library_errors_come_through_unchanged(usd_curve, seasoned):
    with pytest.raises(RuntimeError, match="^No discount curve is provided for currency USD$"):
        seasoned.cashflows()


def test_generator_shorthand_gives_the_explicit_swap():
    explicit = example_trades()["USD 5Y payer"].swap
    short = {key: explicit[key] for key in ("id", "effective date", "termination date")}
    short["leg1"] = {key: explicit["leg1"][key] for key in ("rate", "notional")}
    short["leg2"] = {key: explicit["leg2"][key] for key in ("margin", "notional")}
    assert tessarin.IRS(short, generator="USD SOFR SW").to_dict() == explicit
    receiver = tessarin.IRS({**short, "leg1": {**short["leg1"], "is paid": False},
                             "leg2": {**short["leg2"], "is paid": True}}, generator="USD SOFR SW")
    curve = tessarin.YieldCurve(example_curves()["USD SOFR"])
    assert receiver.price(curve)["NPV"] == pytest.approx(
        -tessarin.IRS(explicit).price(curve)["NPV"], rel=1e-12)
    with pytest.raises(tessarin.InputError, match="unknown generator 'USD SOFR'"):
        tessarin.IRS(short, generator="USD SOFR")


# The listed conventions against the ones compiled into the module.

def spot(value_date, lag):
    """Weekdays after the value date; the dates below have no holidays."""
    date = value_date
    while lag:
        date += dt.timedelta(days=1)
        lag -= date.weekday() < 5
    return date


@pytest.mark.parametrize("name", conventions.GENERATORS)
def test_each_listed_generator_builds_a_curve_that_reprices_its_par_swap(name):
    # 2027-03-15 is a Monday and the two days after it are business days in every calendar.
    value_date = dt.date(2027, 3, 15)
    tenors, quotes = ["6M", "1Y", "2Y", "5Y"], [2.10, 2.20, 2.35, 2.60]
    g = conventions.GENERATORS[name]
    curve = tessarin.YieldCurve({
        "id": name, "currency": g.currency, "value date": value_date,
        "instruments": {"generator": [name] * 4, "tenor": tenors, "quote": quotes,
                        "in use": [True] * 4}})
    assert len(curve.dates()) == 4
    start = spot(value_date, g.start_delay)
    swap = tessarin.IRS({
        "id": "par", "effective date": start, "termination date": start.replace(year=2029),
        "leg1": {"rate": quotes[2] / 100, "notional": 1e8},
        "leg2": {"margin": 0.0, "notional": 1e8}}, generator=name)
    price = swap.price(curve)
    # The built-in convention the curve used and the listed one agree: the
    # 2Y instrument reprices to zero, while its legs are worth millions.
    assert abs(price["Leg1 PV"]) > 1e6
    assert price["NPV"] == pytest.approx(0.0, abs=1e-6 * abs(price["Leg1 PV"]))
    assert swap.cashflows(curve)["Leg2"]["Accrual Start Date"][0] == start


@pytest.mark.parametrize("name", conventions.INDICES)
def test_each_listed_index_prices_a_floating_leg(name):
    index = conventions.INDICES[name]
    generator = next(g for g in conventions.GENERATORS.values() if g.index == name)
    assert (generator.currency, index.calendar in conventions.CALENDARS) == (index.currency, True)
    swap = tessarin.IRS({"id": name, "effective date": "2027-03-17",
                         "termination date": "2028-03-17",
                         "leg1": {"rate": 0.02, "notional": 1e6},
                         "leg2": {"margin": 0.0, "notional": 1e6}}, generator=generator.name)
    needed = swap.required_fixings(dt.date(2027, 3, 22))
    assert list(needed) == [name]
    assert needed[name][0] == dt.date(2027, 3, 17)


@pytest.mark.parametrize("name", [*conventions.CALENDARS, "US,EN"])
def test_each_listed_calendar_is_known_to_the_module(name):
    leg = {"calendar": name, "accrual calendar": name, "pay calendar": name, "notional": 1e6}
    swap = tessarin.IRS({"id": name, "effective date": "2027-03-17",
                         "termination date": "2029-03-17", "leg1": {**leg, "rate": 0.02},
                         "leg2": {**leg, "margin": 0.0}}, generator="USD SOFR SW")
    assert swap.to_dict()["leg1"]["calendar"] == name
    with pytest.raises(tessarin.InputError,
                       match=r'leg1\["accrual calendar"\]: unknown calendar \'XX\' \(known: '):
        tessarin.IRS({**swap.to_dict(), "leg1": {**swap.to_dict()["leg1"], **dict.fromkeys(
            ("calendar", "accrual calendar", "pay calendar"), "XX")}})


# Typing

def stub_methods():
    tree = ast.parse((ROOT / "python" / "_tessarin-stubs" / "__init__.pyi").read_text())
    return {node.name: {f.name for f in node.body if isinstance(f, ast.FunctionDef)} - {"__init__"}
            for node in tree.body
            if isinstance(node, ast.ClassDef) and not node.name.startswith("_")}


def test_stub_lists_exactly_the_module_types_and_methods():
    runtime = {name: {m for m in dir(getattr(_tessarin, name)) if not m.startswith("_")}
               for name in ("YieldCurve", "IRS", "Book")}
    assert stub_methods() == runtime
    assert (ROOT / "python" / "tessarin" / "py.typed").is_file()


def test_every_public_name_of_the_package_modules_has_a_docstring():
    modules = [tessarin, tessarin.conventions, tessarin.files]
    named = [(f"{m.__name__}.{n}", getattr(m, n)) for m in modules for n in dir(m)
             if not n.startswith("_")
             and getattr(getattr(m, n), "__module__", "").startswith("tessarin")]
    named += [(f"{c.__name__}.{n}", getattr(c, n)) for c in (tessarin.YieldCurve, tessarin.IRS)
              for n in dir(c) if not n.startswith("_")]
    assert len(named) > 30
    assert [name for name, obj in named if not (obj.__doc__ or "").strip()] == []


@pytest.mark.parametrize(("entry", "generator", "curve", "error"), [
    ({"curve": "USD SOFR"}, None, "USD SOFR", None),
    ({"curve": "SGD SORA", "generator": "SGD SORA SW"}, None, "SGD SORA", None),
    ({"generator": "SGD SORA SW"}, None, None, None),
    ({"curve": "SGD SORA"}, "SGD SORA SW", "SGD SORA", None),
    ({"curve": 5}, None, None, "curve: expected a curve id, got 5"),
    ({"curve": "X", "generator": "SGD SORA SW"}, "EUR ESTR SW", None,
     "generator: the trade names 'SGD SORA SW', but generator='EUR ESTR SW' is given"),
])
def test_a_trades_file_entry_builds_a_swap_and_keeps_its_curve(entry, generator, curve, error):
    trades = json.loads((EXAMPLES / "trades.json").read_text())["trades"]
    base = trades[-1] if "generator" in entry or generator else trades[0]
    given = {**{k: v for k, v in base.items() if k not in ("curve", "generator")}, **entry}
    if error is not None:
        with pytest.raises(tessarin.InputError, match=re.escape(error)):
            tessarin.IRS(given, generator=generator)
        return
    swap = tessarin.IRS(given, generator=generator)
    assert swap.curve == curve and pickle.loads(pickle.dumps(swap)).curve == curve
    plain = tessarin.IRS({k: v for k, v in base.items() if k not in ("curve", "generator")},
                         generator=base.get("generator"))
    assert swap.to_dict() == plain.to_dict()


def test_every_public_name_has_a_docstring():
    native = [getattr(_tessarin, name) for name in dir(_tessarin) if not name.startswith("_")]
    native += [getattr(cls, name) for cls in (_tessarin.YieldCurve, _tessarin.IRS, _tessarin.Book)
               for name in dir(cls) if not name.startswith("_")]
    package = [getattr(tessarin, name) for name in tessarin.__all__ if name != "__version__"]
    assert [obj for obj in native + package if not (obj.__doc__ or "").strip()] == []
