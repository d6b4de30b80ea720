"""Python object <-> tree conversion: layout, scalar rules, path-tagged
messages, recursion limits and reference counts."""

import datetime as dt
import sys

import pytest

import _tessarin
from conftest import YEAR_RANGE, assert_clean_exit, error_text, run_isolated, usd_curve_input

BOOL, INT, LONG, DOUBLE, STRING, DATE = 0, 6, 7, 10, 17, 18


class Unrepresentable:
    def __repr__(self):
        raise ValueError("no repr")


# --- Python -> tree ---------------------------------------------------------


@pytest.mark.parametrize(("value", "stored"), [
    (None, (STRING, "")), (True, (BOOL, True)), (False, (BOOL, False)),
    (0, (LONG, 0)), (-(2**63), (LONG, -(2**63))), (2**63 - 1, (LONG, 2**63 - 1)),
    (1.25, (DOUBLE, 1.25)), ("h\u00e9llo", (STRING, "h\u00e9llo")),
    ("a\0b", (STRING, "a\0b")), (dt.date(2026, 2, 28), (DATE, dt.date(2026, 2, 28))),
    (dt.datetime(2026, 2, 28, 23, 59, 59), (DATE, dt.date(2026, 2, 28))),
    (dt.date(1400, 1, 1), (DATE, dt.date(1400, 1, 1))),
    (dt.date(9999, 12, 31), (DATE, dt.date(9999, 12, 31))),
], ids=repr)  # fmt: skip
def test_scalars_are_stored_by_type(testing, value, stored):
    assert testing.to_tree({"x": value})[1] == [("x", stored, [])]


def test_subclasses_are_accepted_and_members_kept_in_dict_order(testing):
    def sub(base):
        return type("Sub", (base,), {})

    tree = testing.to_tree(sub(dict)(i=sub(int)(3), f=sub(float)(0.5), s=sub(str)("t"),
                                     d=sub(dt.date)(2027, 1, 4), l=sub(list)([1])))
    assert tree[1] == [("i", (LONG, 3), []), ("f", (DOUBLE, 0.5), []),
                       ("s", (STRING, "t"), []), ("d", (DATE, dt.date(2027, 1, 4)), []),
                       ("l", None, [("0", (LONG, 1), [])])]


def test_lists_become_nodes_with_numbered_keys(testing):
    assert testing.to_tree({"l": [10, [20, {"k": 30}], []]})[1] == [("l", None, [
        ("0", (LONG, 10), []),
        ("1", None, [("0", (LONG, 20), []), ("1", None, [("k", (LONG, 30), [])])]),
        ("2", None, []),
    ])]  # fmt: skip


def test_dotted_keys_nest_and_join_the_first_node_of_that_name(testing):
    after = testing.to_tree({"leg1": {"rate": 1.0}, "leg1.margin": 2.0})[1]
    assert after == [
        ("leg1", None, [("rate", (DOUBLE, 1.0), []), ("margin", (DOUBLE, 2.0), [])])
    ]
    before = testing.to_tree({"leg1.margin": 2.0, "leg1": {"rate": 1.0}})[1]
    assert before == [
        ("leg1", None, [("margin", (DOUBLE, 2.0), [])]),
        ("leg1", None, [("rate", (DOUBLE, 1.0), [])]),
    ]


@pytest.mark.parametrize(("key", "layout"), [
    ("", [("", (LONG, 1), [])]), ("a.", [("a", None, [("", (LONG, 1), [])])]),
    (".a", [("", None, [("a", (LONG, 1), [])])]),
    ("a..b", [("a", None, [("", None, [("b", (LONG, 1), [])])])]),
    (".", [("", None, [("", (LONG, 1), [])])]),
])  # fmt: skip
def test_empty_path_fragments_become_empty_keys(testing, key, layout):
    assert testing.to_tree({key: 1})[1] == layout


@pytest.mark.parametrize(("obj", "path", "message"), [
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
    ({"x": dt.date(1399, 12, 31)}, "root", YEAR_RANGE),
], ids=lambda v: v if isinstance(v, str) else None)  # fmt: skip
def test_conversion_errors_name_the_offending_item(testing, obj, path, message):
    with pytest.raises(RuntimeError) as error:
        testing.to_tree(obj, path)
    assert str(error.value) == message
    assert error.value.__context__ is None  # no stale Python error behind it


def _bad_tenor():
    bad = usd_curve_input()
    bad["instruments"]["tenor"][2] = ("3M",)
    return bad


@pytest.mark.parametrize(("data", "message"), [
    (_bad_tenor(), "[root.instruments.tenor[2]] unsupported Python type: ('3M',)"),
    ({**usd_curve_input(), 7: "x"}, "[root] dict keys must be strings"),
    # None is stored as an empty string, which readers then refuse
    (usd_curve_input(tenors=["1Y"], quotes=[None]),
     'BoxedValue: cannot convert string "" to double'),
])  # fmt: skip
def test_curve_input_errors_reach_python_with_their_text(data, message):
    assert error_text(RuntimeError, _tessarin.YieldCurve, data) == message


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


@pytest.mark.parametrize(("data", "expected"), [
    ((0, True), True), ((1, 65), "ERROR"), ((2, 65), "ERROR"), ((3, 0xFFFF), 0xFFFF),
    ((4, 0xFFFFFFFF), -1), ((5, 7), "ERROR"), ((6, -7), -7), ((7, 7), "ERROR"), ((8, 7), "ERROR"),
    ((9, 0.5), "ERROR"), ((10, 0.5), 0.5), ((11, 0.5), "ERROR"), ((12, 255), 255),
    ((13, 7), "ERROR"), ((14, 7), "ERROR"), ((15, 7), "ERROR"), ((16, 7), "ERROR"),
    ((17, "t\u00e9xt"), "t\u00e9xt"), ((17, b"cut\0here"), "cut"),
    ((18, dt.date(2030, 12, 31)), dt.date(2030, 12, 31)), ("object", "ERROR"),
], ids=repr)  # fmt: skip
def test_leaf_values_convert_by_alternative(testing, data, expected):
    result = testing.to_python((None, [node("v", data)]))
    assert result == {"v": expected}
    assert type(result["v"]) is type(expected)


@pytest.mark.parametrize(("tree", "expected"), [
    # keyed children make a dict and the last duplicate wins
    ((None, [node("a", (6, 1)), node("b", (6, 2)), node("a", (6, 3)), node("", (6, 4))]),
     {"a": 3, "b": 2, "": 4}),
    # unkeyed children make a list, and nodes without data or children None
    ((None, [node("arr", None, [node("", (10, 1.0)), node("", None),
                                node("", None, [node("", (6, 5))])]), node("empty", None)]),
     {"arr": [1.0, None, [5]], "empty": None}),
    # node data is ignored when the node has children
    (((17, "ignored"), [node("k", (6, 1))]), {"k": 1}),
    (((17, "kept"), []), "kept"),
    ((None, []), None),
])  # fmt: skip
def test_tree_layout_decides_dicts_lists_and_values(testing, tree, expected):
    assert testing.to_python(tree) == expected


def test_undecodable_text_keeps_the_python_error(testing):
    with pytest.raises(UnicodeDecodeError):
        testing.to_python((None, [node("v", (17, b"\xff"))]))


# --- JSON text ---------------------------------------------------------------


def test_bad_json_or_missing_loads_fail_without_a_pending_error(testing, capfd, monkeypatch):
    assert error_text(RuntimeError, testing.json_to_tree, "[1, 2]") == (
        "[root] expected a Python dict")
    with pytest.raises(RuntimeError) as error:
        testing.json_to_tree('{"a": ', "cfg")
    assert str(error.value) == "[cfg] json.loads failed"
    assert error.value.__context__ is None
    assert "JSONDecodeError" in capfd.readouterr().err

    import json

    monkeypatch.delattr(json, "loads")
    with pytest.raises(RuntimeError) as error:
        testing.json_to_tree("{}")
    assert str(error.value) == "[root] json.loads not found"
    assert error.value.__context__ is None


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


def test_without_json_or_datetime_failures_are_reported_not_left_pending(testing):
    result = run_isolated("""
        import sys
        sys.modules["json"] = sys.modules["datetime"] = None
        import _tessarin, _tessarin_testing
        try:
            _tessarin_testing.json_to_tree("{}", "top")
        except RuntimeError as error:
            print(error, error.__context__)
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
    assert_clean_exit(result, "[top] failed to import Python json module None\n"
                      "[('x', (7, 1), [])]\n{'v': 'Error, working with dates is not supported.'}"
                      "\n1\nImportError")
