"""Property checks of the conversions on generated nested inputs."""

import datetime as dt
import json

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

# Keys without '.', which would nest, and without NUL, where the result key is cut.
keys = st.text(st.characters(blacklist_characters=".\0", blacklist_categories=("Cs",)), max_size=6)
scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(min_value=-(2**63), max_value=2**63 - 1),
    st.floats(allow_nan=False),
    st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\0"), max_size=8),
    st.dates(min_value=dt.date(1400, 1, 1)),
)
values = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(keys, inner, max_size=4),
    max_leaves=20,
)
documents = st.dictionaries(keys, values, max_size=5)


def expected_round_trip(value):
    """What a converted input looks like when converted back: None is stored as
    an empty string, ints as long (shown as "ERROR"), lists as numbered keys,
    and a dict or list without members as a node that reads back as None."""
    if value is None:
        return ""
    if isinstance(value, bool | float | str | dt.date):
        return value
    if isinstance(value, int):
        return "ERROR"
    items = value.items() if isinstance(value, dict) else enumerate(value)
    converted = {str(k): expected_round_trip(v) for k, v in items}
    if not converted:
        return None
    if all(key == "" for key in converted):
        return [converted[""]]  # a single member keyed "" reads back as a list
    return converted


@settings(max_examples=150, deadline=None)
@given(documents)
def test_python_to_tree_and_back(testing, document):
    assert testing.to_python(testing.to_tree(document)) == expected_round_trip(document)


@settings(max_examples=100, deadline=None)
@given(documents)
def test_json_text_reads_like_the_dict_it_denotes(testing, document):
    jsonable = json.loads(json.dumps(document, default=str))
    assert testing.json_to_tree(json.dumps(jsonable)) == testing.to_tree(jsonable)
