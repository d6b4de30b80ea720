"""Python object <-> tree conversion: layout, scalar rules, path-tagged
messages, recursion limits and reference counts."""

import datetime as dt
import sys

import pytest

import _tessarin
from conftest import assert_clean_exit, run_isolated, usd_curve_input

BOOL, INT, LONG, DOUBLE, STRING, DATE = 0, 6, 7, 10, 17, 18


def leaf(index, value):
    return (index, value)


class Unrepresentable:
    def __repr__(self):
        raise ValueError("no repr")


# --- Python -> tree ---------------------------------------------------------


def test_dict_members_become_children_in_dict_order(testing):
    data, children = testing.to_tree({"b": 1, "a": 2.5, "c": "x"})
    assert data is None
    assert children == [
        ("b", leaf(LONG, 1), []),
        ("a", leaf(DOUBLE, 2.5), []),
        ("c", leaf(STRING, "x"), []),
    ]


@pytest.mark.parametrize(
    ("value", "stored"),
    [
        (None, leaf(STRING, "")),
        (True, leaf(BOOL, True)),
        (False, leaf(BOOL, False)),
        (0, leaf(LONG, 0)),
        (-(2**63), leaf(LONG, -(2**63))),
        (2**63 - 1, leaf(LONG, 2**63 - 1)),
        (1.25, leaf(DOUBLE, 1.25)),
        ("h\u00e9llo", leaf(STRING, "h\u00e9llo")),
        ("a\0b", leaf(STRING, "a\0b")),
        (dt.date(2026, 2, 28), leaf(DATE, dt.date(2026, 2, 28))),
        (dt.datetime(2026, 2, 28, 23, 59, 59), leaf(DATE, dt.date(2026, 2, 28))),
        (dt.date(1400, 1, 1), leaf(DATE, dt.date(1400, 1, 1))),
        (dt.date(9999, 12, 31), leaf(DATE, dt.date(9999, 12, 31))),
    ],
    ids=repr,
)
def test_scalars_are_stored_by_type(testing, value, stored):
    assert testing.to_tree({"x": value})[1] == [("x", stored, [])]


def test_subclasses_of_scalars_dicts_and_lists_are_accepted(testing):
    class Int(int):
        pass

    class Float(float):
        pass

    class Text(str):
        pass

    class Date(dt.date):
        pass

    class Dict(dict):
        pass

    class List(list):
        pass

    tree = testing.to_tree(
        Dict(i=Int(3), f=Float(0.5), s=Text("t"), d=Date(2027, 1, 4), l=List([1]))
    )
    assert tree[1] == [
        ("i", leaf(LONG, 3), []),
        ("f", leaf(DOUBLE, 0.5), []),
        ("s", leaf(STRING, "t"), []),
        ("d", leaf(DATE, dt.date(2027, 1, 4)), []),
        ("l", None, [("0", leaf(LONG, 1), [])]),
    ]


def test_lists_become_nodes_with_numbered_keys(testing):
    tree = testing.to_tree({"l": [10, [20, {"k": 30}], []]})
    assert tree[1] == [
        (
            "l",
            None,
            [
                ("0", leaf(LONG, 10), []),
                ("1", None, [("0", leaf(LONG, 20), []), ("1", None, [("k", leaf(LONG, 30), [])])]),
                ("2", None, []),
            ],
        )
    ]


def test_dotted_keys_nest_and_join_the_first_node_of_that_name(testing):
    after = testing.to_tree({"leg1": {"rate": 1.0}, "leg1.margin": 2.0})[1]
    assert after == [
        ("leg1", None, [("rate", leaf(DOUBLE, 1.0), []), ("margin", leaf(DOUBLE, 2.0), [])])
    ]
    before = testing.to_tree({"leg1.margin": 2.0, "leg1": {"rate": 1.0}})[1]
    assert before == [
        ("leg1", None, [("margin", leaf(DOUBLE, 2.0), [])]),
        ("leg1", None, [("rate", leaf(DOUBLE, 1.0), [])]),
    ]


@pytest.mark.parametrize(
    ("key", "layout"),
    [
        ("", [("", leaf(LONG, 1), [])]),
        ("a.", [("a", None, [("", leaf(LONG, 1), [])])]),
        (".a", [("", None, [("a", leaf(LONG, 1), [])])]),
        ("a..b", [("a", None, [("", None, [("b", leaf(LONG, 1), [])])])]),
        (".", [("", None, [("", leaf(LONG, 1), [])])]),
    ],
)
def test_empty_path_fragments_become_empty_keys(testing, key, layout):
    assert testing.to_tree({key: 1})[1] == layout


@pytest.mark.parametrize(
    ("obj", "path", "message"),
    [
        ([1], "root", "[root] expected a Python dict"),
        ((), "root", "[root] expected a Python dict"),
        ({1: "x"}, "root", "[root] dict keys must be strings"),
        ({"a": {"b": {2.0: 1}}}, "root", "[root.a.b] dict keys must be strings"),
        ({"x": (1, 2)}, "root", "[root.x] unsupported Python type: (1, 2)"),
        ({"x": {1, 2}}, "in", "[in.x] unsupported Python type: {1, 2}"),
        ({"a": [1, [2, b"z"]]}, "root", "[root.a[1][1]] unsupported Python type: b'z'"),
        ({"x": Unrepresentable()}, "root", "[root.x] unsupported Python type: <unknown>"),
        ({"x": 2**70}, "root", "Python int too large for long"),
        ({"x": -(2**63) - 1}, "root", "Python int too large for long"),
        ({"x": "\ud800"}, "root", "Failed to convert Python str to UTF-8"),
        ({"a": {"\ud800": 1}}, "root", "[root.a] failed to decode dict key as UTF-8"),
        ({"x": dt.date(1399, 12, 31)}, "root", "Year is out of valid range: 1400..9999"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_conversion_errors_name_the_offending_item(testing, obj, path, message):
    with pytest.raises(RuntimeError) as error:
        testing.to_tree(obj, path)
    assert str(error.value) == message
    assert error.value.__context__ is None  # no stale Python error behind it


def test_curve_input_errors_reach_python_with_their_path():
    bad = usd_curve_input()
    bad["instruments"]["tenor"][2] = ("3M",)
    with pytest.raises(RuntimeError) as error:
        _tessarin.YieldCurve(bad)
    assert str(error.value) == "[root.instruments.tenor[2]] unsupported Python type: ('3M',)"

    with pytest.raises(RuntimeError) as error:
        _tessarin.YieldCurve({**usd_curve_input(), 7: "x"})
    assert str(error.value) == "[root] dict keys must be strings"


def test_none_is_an_empty_string_for_readers():
    with pytest.raises(RuntimeError, match='^BoxedValue: cannot convert string "" to double$'):
        _tessarin.YieldCurve(usd_curve_input(tenors=["1Y"], quotes=[None]))


@pytest.mark.parametrize("build", ["dict", "list", "self"])
def test_deep_nesting_raises_recursion_error_not_a_crash(build):
    result = run_isolated(f"""
        import _tessarin
        build = {build!r}
        if build == "self":
            deep = {{}}
            deep["x"] = deep
        else:
            deep = 0
            for _ in range(200_000):
                deep = {{"x": deep}} if build == "dict" else [deep]
        data = {{"value date": "2026-03-16", "id": "c", "currency": "USD", "deep": deep}}
        try:
            _tessarin.YieldCurve(data)
        except RecursionError:
            print("RecursionError")
        # the interpreter carries on normally afterwards
        print(len(_tessarin.IRS.__name__))
    """)
    assert_clean_exit(result, "RecursionError\n3")


def test_reference_counts_are_unchanged_by_conversion(testing):
    key = "".join(["k", "e", "y"])
    text = "".join(["va", "lue"])
    number = 10**12 + 7
    inner = [text, number, 1.5]
    outer = {key: inner, "n": {"t": text}}
    before = [sys.getrefcount(o) for o in (key, text, number, inner, outer)]
    for _ in range(3):
        testing.to_tree(outer)
        with pytest.raises(RuntimeError):
            testing.to_tree({**outer, "bad": (1,)})
    assert [sys.getrefcount(o) for o in (key, text, number, inner, outer)] == before


# --- tree -> Python ---------------------------------------------------------


def node(key, data=None, children=()):
    return (key, data, list(children))


@pytest.mark.parametrize(
    ("data", "expected"),
    [
        ((0, True), True),
        ((1, 65), "ERROR"),
        ((2, 65), "ERROR"),
        ((3, 0xFFFF), 0xFFFF),
        ((4, 0xFFFFFFFF), -1),
        ((5, 7), "ERROR"),
        ((6, -7), -7),
        ((7, 7), "ERROR"),
        ((8, 7), "ERROR"),
        ((9, 0.5), "ERROR"),
        ((10, 0.5), 0.5),
        ((11, 0.5), "ERROR"),
        ((12, 255), 255),
        ((13, 7), "ERROR"),
        ((14, 7), "ERROR"),
        ((15, 7), "ERROR"),
        ((16, 7), "ERROR"),
        ((17, "t\u00e9xt"), "t\u00e9xt"),
        ((17, b"cut\0here"), "cut"),
        ((18, dt.date(2030, 12, 31)), dt.date(2030, 12, 31)),
        ("object", "ERROR"),
    ],
    ids=lambda v: repr(v),
)
def test_leaf_values_convert_by_alternative(testing, data, expected):
    result = testing.to_python((None, [node("v", data)]))
    assert result == {"v": expected}
    assert type(result["v"]) is type(expected)


def test_keyed_children_make_a_dict_and_the_last_duplicate_wins(testing):
    tree = (None, [node("a", (6, 1)), node("b", (6, 2)), node("a", (6, 3)), node("", (6, 4))])
    assert testing.to_python(tree) == {"a": 3, "b": 2, "": 4}


def test_unkeyed_children_make_a_list_and_empty_nodes_none(testing):
    tree = (
        None,
        [
            node(
                "arr",
                None,
                [node("", (10, 1.0)), node("", None), node("", None, [node("", (6, 5))])],
            ),
            node("empty", None),
        ],
    )
    assert testing.to_python(tree) == {"arr": [1.0, None, [5]], "empty": None}


def test_node_data_is_ignored_when_it_has_children(testing):
    assert testing.to_python(((17, "ignored"), [node("k", (6, 1))])) == {"k": 1}
    assert testing.to_python(((17, "kept"), [])) == "kept"
    assert testing.to_python((None, [])) is None


def test_lists_from_python_come_back_as_numbered_dicts(testing):
    spec = testing.to_tree({"l": [1.5, "x"]})
    assert testing.to_python(spec) == {"l": {"0": 1.5, "1": "x"}}


def test_undecodable_text_keeps_the_python_error(testing):
    with pytest.raises(UnicodeDecodeError):
        testing.to_python((None, [node("v", (17, b"\xff"))]))


# --- JSON text ---------------------------------------------------------------


def test_json_text_converts_like_the_equivalent_dict(testing):
    _, children = testing.json_to_tree('{"a": {"b": [1, 2.5]}, "c.d": true, "e": null}')
    assert children == [
        ("a", None, [("b", None, [("0", leaf(LONG, 1), []), ("1", leaf(DOUBLE, 2.5), [])])]),
        ("c", None, [("d", leaf(BOOL, True), [])]),
        ("e", leaf(STRING, ""), []),
    ]


def test_json_text_must_denote_an_object(testing):
    with pytest.raises(RuntimeError) as error:
        testing.json_to_tree("[1, 2]")
    assert str(error.value) == "[root] expected a Python dict"


def test_invalid_json_prints_the_parser_error_and_fails(testing, capfd):
    with pytest.raises(RuntimeError) as error:
        testing.json_to_tree('{"a": ', "cfg")
    assert str(error.value) == "[cfg] json.loads failed"
    assert error.value.__context__ is None
    assert "JSONDecodeError" in capfd.readouterr().err


def test_json_loads_missing(testing, monkeypatch):
    import json

    monkeypatch.delattr(json, "loads")
    with pytest.raises(RuntimeError) as error:
        testing.json_to_tree("{}")
    assert str(error.value) == "[root] json.loads not found"
    assert error.value.__context__ is None


def test_json_module_missing(testing):
    result = run_isolated("""
        import sys
        sys.modules["json"] = None
        import _tessarin_testing
        try:
            _tessarin_testing.json_to_tree("{}", "top")
        except RuntimeError as error:
            print(error, error.__context__)
    """)
    assert_clean_exit(result, "[top] failed to import Python json module None")


# --- the shared exception handler ----------------------------------------------


@pytest.mark.parametrize(
    ("kind", "error", "message"),
    [
        ("domain_error", RuntimeError, "domain"),
        ("int", RuntimeError, "Unknown error."),
        ("bad_alloc", MemoryError, ""),
        ("pending", KeyError, "'already set'"),
    ],
)
def test_guard_turns_every_exception_into_a_python_error(testing, kind, error, message):
    with pytest.raises(error) as raised:
        testing.raise_in_guard(kind)
    assert str(raised.value) == message
    assert testing.raise_in_guard("none") is None


# --- the datetime C API --------------------------------------------------------


def test_without_datetime_dates_are_reported_not_left_pending(testing):
    result = run_isolated("""
        import sys
        sys.modules["datetime"] = None
        import _tessarin, _tessarin_testing
        # input: no dates to recognise, text dates still read by the library
        print(_tessarin_testing.to_tree({"x": 1})[1])
        # output: every value is replaced by the notice, no error stays set
        print(_tessarin_testing.to_python((None, [("v", (6, 1), [])])))
        curve = _tessarin.YieldCurve({"value date": "2026-03-16", "id": "c", "currency": "USD",
            "instruments": {"generator": ["USD SOFR SW"], "tenor": ["1Y"], "quote": [4.0],
                            "in use": [True]}})
        print(len(curve.rates()))
        try:
            curve.dates()
        except ImportError:
            print("ImportError")
    """)
    assert_clean_exit(
        result,
        "[('x', (7, 1), [])]\n{'v': 'Error, working with dates is not supported.'}\n1\nImportError",
    )
