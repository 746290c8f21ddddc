"""GroupedInterpolator: each element answered as its group's Interpolator answers it alone (the front end's
answers, proven against Fractions elsewhere), over key kinds, query orders and containers; keys without a
table refused naming the key, or filled; an error names the lowest failing element of the whole query."""

import pickle

import numpy as np
import pytest

import exact_interp

pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import event, given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import I64, METHOD, SETTINGS, U64, int_table  # noqa: E402

# How keys are spelled: small integers (a lookup table), far apart (a binary search), strings, uint64.
KEYS = {
    "small": lambda g: list(range(3, 3 + g)),
    "sparse": lambda g: [k * 10**15 - 2**62 for k in range(g)],
    "strings": lambda g: [f"device-{k}" for k in range(g)],
    "uint64": lambda g: [np.uint64(2**63 + k) for k in range(g)],
}
UNKNOWN = {"small": -2, "sparse": 17, "strings": "nobody", "uint64": np.uint64(2**64 - 1)}
CONTAINERS = ["numpy", "list", "pandas", "polars", "arrow", "polars expression"]


def keyed(keys, kind, container):
    """The keys column in the container (numpy for "list")."""
    if kind == "uint64":
        keys = np.array(keys, np.uint64)
    elif kind == "strings":
        keys = np.array(keys, object)
    else:
        keys = np.array(keys, np.int64)
    if container == "pandas":
        return pytest.importorskip("pandas").Series(keys)
    if container.startswith("polars"):
        return pytest.importorskip("polars").Series(keys.tolist() if kind == "strings" else keys)
    if container == "arrow":
        return pytest.importorskip("pyarrow").array(keys.tolist() if kind == "strings" else keys)
    return keys


def query_in(values, dtype, container):
    a = np.array(values, dtype)
    if container == "list":
        return values
    if container == "pandas":
        return pytest.importorskip("pandas").Series(a)
    if container.startswith("polars"):
        return pytest.importorskip("polars").Series(a)
    if container == "arrow":
        return pytest.importorskip("pyarrow").array(a)
    return a


def as_list(result):
    """A result's elements as Python integers, None where missing."""
    if hasattr(result, "to_pylist"):  # Arrow
        return result.to_pylist()
    if type(result).__module__.startswith("polars"):
        return result.to_list()
    return [None if v is None or v is getattr(v, "NA", object()) or str(v) == "<NA>" else int(v)
            for v in (result.tolist() if isinstance(result, np.ndarray) else list(result))]


@st.composite
def grouped_case(draw):
    inverse = draw(st.booleans())
    count = draw(st.integers(1, 4))
    tables = [t if t[0] else ([0], [0]) for t in (draw(int_table(sort_f=inverse)) for _ in range(count))]
    kind = draw(st.sampled_from(sorted(KEYS)))
    n = draw(st.integers(0, 12))
    # each element's group (count: a key without a table), ordered by group or as drawn
    groups = draw(st.lists(st.integers(0, count), min_size=n, max_size=n))
    if draw(st.booleans()):
        groups.sort()
    query = draw(st.lists(I64 if inverse else U64, min_size=n, max_size=n))
    return {"inverse": inverse, "tables": tables, "kind": kind, "groups": groups, "query": query,
            "method": draw(METHOD), "container": draw(st.sampled_from(CONTAINERS)),
            "rules": draw(st.sampled_from([{}, {"left": "clamp", "right": "extrapolate"}])),
            "missing": draw(st.sampled_from([None, "fill", "null"]))}


def one(table, inverse, value, method, rules, missing, container):
    """The element's answer by its table alone, in the same container, or the exception it raises."""
    q = query_in([value], np.int64 if inverse else np.uint64, container)
    try:
        return as_list(table.inverse(q, method, missing=missing, **rules) if inverse else
                       table.forward(q, missing=missing, **rules))[0]
    except (IndexError, KeyError, ValueError, OverflowError) as error:
        return error


@SETTINGS
@given(grouped_case())
def test_each_element_answered_by_its_groups_table(case):
    inverse, kind, container = case["inverse"], case["kind"], case["container"]
    names = KEYS[kind](len(case["tables"]))
    built = []
    for name, (xp, fp) in zip(names, case["tables"]):
        try:
            built.append(exact_interp.Interpolator(np.array(xp, np.uint64), np.array(fp, np.int64)))
        except ValueError as error:  # knots out of order: the grouped table refuses them, naming the key
            with pytest.raises(ValueError) as refused:
                exact_interp.GroupedInterpolator({k: (np.array(x, np.uint64), np.array(f, np.int64))
                                                  for k, (x, f) in zip(names, case["tables"])})
            assert str(refused.value) == str(error) and f"key {name!r}" in refused.value.__notes__[-1]
            return
    grouped = exact_interp.GroupedInterpolator(dict(zip(names, built)))
    keys = [names[g] if g < len(names) else UNKNOWN[kind] for g in case["groups"]]
    missing = {"fill": 5, None: None, "null": "null"}[case["missing"]]
    if missing == "null" and container in ("numpy", "list"):
        missing = 5  # an integer NumPy result holds no missing element
    q = query_in(case["query"], np.int64 if inverse else np.uint64, container)
    by = keyed(keys, kind, container)
    want = []
    for g, value in zip(case["groups"], case["query"]):
        if g == len(names):
            want.append(KeyError if missing is None else (None if missing == "null" else 5))
        else:
            want.append(one(built[g], inverse, value, case["method"], case["rules"], missing, container))
    failing = [k for k, w in enumerate(want) if isinstance(w, BaseException) or w is KeyError]

    def call():
        if container == "polars expression":  # both columns of a frame, in a lazy query
            pl = pytest.importorskip("polars")
            frame = pl.DataFrame({"q": q, "k": by}).lazy()
            query, keys = pl.col("q"), pl.col("k")
        else:
            query, keys = q, by
        if inverse:
            out = grouped.inverse(query, case["method"], by=keys, missing=missing, **case["rules"])
        else:
            out = grouped.forward(query, by=keys, missing=missing, **case["rules"])
        return frame.select(out).collect().to_series() if container == "polars expression" else out

    event("refused" if failing else "answered")
    if failing and container == "polars expression":  # Polars may hand the elements over in several batches
        with pytest.raises((KeyError, IndexError, ValueError, OverflowError)):
            call()
        return
    if failing:
        first = want[failing[0]]
        unknown_key = first is KeyError
        # a key without a table is refused before any call; else the lowest failing element's error
        if any(w is KeyError for w in want):
            first, unknown_key = KeyError, True
        with pytest.raises(KeyError if unknown_key else type(first)) as raised:
            call()
        if unknown_key:
            unknown = UNKNOWN[kind]
            assert repr(unknown.item() if hasattr(unknown, "item") else unknown) in str(raised.value)
        elif getattr(first, "__notes__", None):
            assert raised.value.__notes__[-1] == first.__notes__[-1].replace("x[0]", f"x[{failing[0]}]").replace(
                "f[0]", f"f[{failing[0]}]")
        return
    got = as_list(call())
    assert got == want


@pytest.mark.parametrize("container", CONTAINERS)
def test_keys_that_do_not_compare_and_one_key_for_all(container):
    """Keys of mixed types are matched one by one; a scalar key stands for every element; a pickled table
    answers alike."""
    grouped = exact_interp.GroupedInterpolator({1: ([0, 10], [0, 100]), "b": ([0, 10], [0, 10]),
                                                None: ([0, 1], [5, 6])})
    q = query_in([5, 5, 1], np.int64, container)
    assert as_list(grouped.forward(q, by="b")) == [5, 5, 1]
    if container in ("numpy", "list"):
        assert as_list(grouped.forward(q, by=np.array([1, "b", None], object))) == [50, 5, 6]
    assert as_list(pickle.loads(pickle.dumps(grouped)).forward(q, by=1)) == [50, 50, 10]


REFUSALS = [
    (lambda: exact_interp.GroupedInterpolator([(0, 1)]), TypeError, "mapping of key to table"),
    (lambda: exact_interp.GroupedInterpolator({"a": 3}), TypeError, "table of key 'a' must be an Interpolator"),
    (lambda: exact_interp.GroupedInterpolator({"a": ([0, 1], [0, 1]), "b": ([0, 1], [0.0, 1.0])}), TypeError,
     "key 'b' has int64 positions and float64 values"),
    (lambda: exact_interp.GroupedInterpolator({"a": ([0, 1], [0, 1])}).forward([0, 1], by=["a"]), ValueError,
     "argument 'by': 1 keys for 2 elements"),
    (lambda: exact_interp.GroupedInterpolator({}), ValueError, "argument 'tables' is empty"),
    (lambda: exact_interp.GroupedInterpolator({"a": ([0, 1], [0, 1])}).forward([0], by={"a": 1}), KeyError,
     "no table for the key {'a': 1}"),
    (lambda: exact_interp.GroupedInterpolator({"a": ([0, 1], [[0, 1], [1, 2]])}).inverse([0], by="a"), TypeError,
     "value columns"),
    (lambda: exact_interp.GroupedInterpolator({"a": ([0, 1], [0, 1])}).forward([0], by=[np.nan]), KeyError,
     "no table for the key nan"),
]


@pytest.mark.parametrize("call, error, message", REFUSALS)
def test_refusals_name_the_argument(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_polars_expression_by_an_expression_of_keys():
    pl = pytest.importorskip("polars")
    grouped = exact_interp.GroupedInterpolator({"a": ([0, 100], np.array(["2024-01-01", "2024-01-02"], "M8[ns]")),
                                                "b": ([0, 100], np.array(["2025-01-01", "2025-01-03"], "M8[ns]"))})
    frame = pl.DataFrame({"n": [50, 50, 25], "k": ["a", "b", "zz"]}, schema={"n": pl.UInt64, "k": pl.String})
    lazy = frame.lazy().with_columns(t=grouped.forward(pl.col("n"), by=pl.col("k"), missing="null"))
    assert lazy.collect_schema()["t"] == pl.Datetime("ns")
    series = grouped.forward(frame["n"], by=frame["k"], missing="null")
    assert lazy.collect()["t"].to_list() == series.to_list()
    assert series.to_list()[2] is None
    back = frame.with_columns(t=series).select(grouped.inverse(pl.col("t"), by=pl.col("k"), missing="null"))
    assert back["t"].to_list() == [50, 50, None]
    with pytest.raises(TypeError, match="argument 'by'"):
        grouped.forward(pl.col("n"), by=["a"])
