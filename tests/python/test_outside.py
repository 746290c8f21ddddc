"""The rules outside the table and for missing elements (`left`, `right`, `missing`) on every
kind of table, against the exact Fraction reference: forward and inverse, one thread or
several."""

import numpy as np
import pytest
from helpers import Outside, ref_forward_int, ref_inverse_int

pytestmark = pytest.mark.hypothesis
pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import assume, given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import I64, METHOD, SETTINGS, int_table, near  # noqa: E402

# What the reference's verdicts are raised as.
RAISED = {"increasing": ValueError, "one knot": ValueError, "range of the result": OverflowError,
          "x out of bounds": IndexError, "f out of bounds": KeyError, "f not found": KeyError,
          "NaT has no position": ValueError}
OUTSIDE = st.one_of(st.sampled_from([None, "raise", "clamp", "extrapolate"]), I64)
# results that hold a missing element (times, and Arrow arrays) take the word "null" too
NULLABLE = ("time", "arrow")
OUTSIDE_OR_NULL = st.one_of(OUTSIDE, st.just("null"))
NAT = -(2**63)


def beyond(values, lo, hi):
    """Queries near the knots and beyond both ends, near and far."""
    if not values:
        return st.integers(lo, hi)
    ends = [st.integers(max(lo, values[0] - 2**k), values[0]) for k in (4, 40, 64)]
    ends += [st.integers(values[-1], min(hi, values[-1] + 2**k)) for k in (4, 40, 64)]
    return st.one_of(near(values, st.integers(lo, hi), lo, hi), *ends)


def increasing(axis):
    return bool(axis) and all(a < b for a, b in zip(axis, axis[1:]))


def check(call, expected):
    """call() against the reference's answers, or its first verdict."""
    if isinstance(expected, Outside):
        verdict = str(expected)
        exc = next(e for key, e in RAISED.items() if key in verdict)
        with pytest.raises(exc, match=verdict.split(" of ")[0] if "one knot" not in verdict else "one knot"):
            call()
    else:
        assert call() == expected


def answers(ref, keys, nat=None, missing=None, broken=False):
    """The reference's answers, with the elements at `nat` missing (NaT):
    the fill where there is one, else refused before any evaluation. A
    broken table (empty, or its searched axis not increasing) has no answer
    for any element, missing ones included; one whose searched axis is not
    increasing is refused before the query is looked at."""
    if broken and keys:
        try:
            ref(keys[0])
        except Outside as e:
            if "increasing" in str(e):
                return e
    if nat is not None and missing in (None, "raise"):
        return Outside("NaT has no position")
    out = []
    for i, k in enumerate(keys):
        if i == nat and not broken:
            out.append(missing)
            continue
        try:
            out.append(ref(k))
        except Outside as e:
            return e
    return out


# Each kind of table the rules must hold for: the typed function, signed
# positions through the front end, datetime64 positions with timedelta64
# values (whose lowest count is NaT, never an extrapolated answer), and an
# Interpolator; with one thread or several.
KIND = st.sampled_from(["typed", "signed", "time", "Interpolator", "arrow"])
FORWARD_KIND = st.sampled_from(["typed", "signed", "time", "Interpolator", "columns", "Interpolator columns",
                                "arrow"])


def null_as(v, null):
    """A rule for the reference: the word "null" as the fill that stands for a missing result."""
    return null if isinstance(v, str) and v == "null" else v


def arrow_list(result):
    """An Arrow result as a list, "null" for its nulls (the reference's fill for them)."""
    return ["null" if v is None else v for v in result.to_pylist()]


def fill_of(kind, v, unit="m8[ns]"):
    """A fill in a time kind's terms: its count, NaT for the lowest."""
    if kind != "time" or not isinstance(v, int):
        return v
    return np.array(v).astype(np.int64).view(unit)[()]


@SETTINGS
@given(data=st.data())
def test_forward_outside_the_table_matches_fractions(data):
    import exact_interp

    kind, workers = data.draw(FORWARD_KIND), data.draw(st.sampled_from([1, 4]))
    if kind == "arrow":
        pa = pytest.importorskip("pyarrow", reason="Arrow queries need pyarrow")
    xp, fp = data.draw(int_table())
    words = OUTSIDE_OR_NULL if kind in NULLABLE else OUTSIDE
    left, right = data.draw(words), data.draw(words)
    missing = data.draw(st.one_of(st.sampled_from([None, "raise"] + (["null"] if kind in NULLABLE else [])), I64))
    xs = data.draw(st.lists(beyond(sorted(xp), 0, 2**64 - 1), min_size=1, max_size=8))
    if data.draw(st.booleans()):
        xs.sort()
    assume(kind != "time" or (0 not in xp + xs and NAT not in fp))  # NaT
    lo = NAT + 1 if kind == "time" else NAT
    with_nat = kind == "time" or (kind == "arrow" and missing not in (None, "raise"))
    nat = data.draw(st.integers(0, len(xs) - 1)) if with_nat and data.draw(st.booleans()) else None
    null = NAT if kind == "time" else "null"
    expected = answers(lambda x: ref_forward_int(x, xp, fp, null_as(left, null), null_as(right, null), lo=lo), xs, nat,
                       null_as(missing, null), not increasing(xp))
    if kind.endswith("columns"):  # value columns: fp and fp reversed, each key's row; the first element any fails
        expected = answers(lambda x: [ref_forward_int(x, xp, c, left, right, lo=lo) for c in (fp, fp[::-1])], xs,
                           None, None, not increasing(xp))
    if nat is not None:
        xs[nat] = 0  # the key of NaT
    keys, table = np.array(xs, np.uint64), (np.array(xp, np.uint64), np.array(fp, np.int64))
    rules = {"left": fill_of(kind, left), "right": fill_of(kind, right), "workers": workers}
    rules["missing"] = fill_of(kind, missing)  # a typed query has no missing elements, but takes the keyword
    if kind == "arrow":
        mask = np.arange(len(xs)) == (-1 if nat is None else nat)
        call = lambda: arrow_list(exact_interp.forward(pa.array(keys, mask=mask), *table, **rules))
    elif kind == "typed":
        call = lambda: exact_interp.forward_int(np.tile(keys, 5000), *table, **rules)[: len(xs)].tolist()
    elif kind == "Interpolator":
        call = lambda: exact_interp.Interpolator(*table).forward(keys, **rules).tolist()
    elif kind.endswith("columns"):
        both = np.stack([table[1], table[1][::-1]], axis=1)
        forward = (lambda q, **k: exact_interp.Interpolator(table[0], both).forward(q, **k)) \
            if kind == "Interpolator columns" else (lambda q, **k: exact_interp.forward(q, table[0], both, **k))
        call = lambda: forward(np.tile(keys, 3000), **rules)[: len(xs)].tolist()
    else:
        signed = (keys ^ np.uint64(2**63)).view(np.int64)
        sxp = (table[0] ^ np.uint64(2**63)).view(np.int64)
        if kind == "signed":
            call = lambda: exact_interp.forward(list(map(int, signed)), sxp, table[1], **rules).tolist()
        else:
            call = lambda: exact_interp.forward(signed.view("M8[ns]"), sxp.view("M8[ns]"), table[1].view("m8[ns]"),
                                                **rules).view(np.int64).tolist()
    check(call, expected)


@SETTINGS
@given(data=st.data())
def test_inverse_outside_the_table_and_missing_match_fractions(data):
    import exact_interp

    kind, workers, method = data.draw(KIND), data.draw(st.sampled_from([1, 4])), data.draw(METHOD)
    if kind == "arrow":
        pa = pytest.importorskip("pyarrow", reason="Arrow queries need pyarrow")
    xp, fp = data.draw(int_table(sort_x=False, sort_f=True))
    words = OUTSIDE_OR_NULL if kind in NULLABLE else OUTSIDE
    left, right = data.draw(words), data.draw(words)
    missing = data.draw(st.one_of(st.sampled_from([None, "raise"] + (["null"] if kind in NULLABLE else [])),
                                  st.integers(0, 2**64 - 1)))
    fs = data.draw(st.lists(beyond(sorted(set(fp)), -(2**63), 2**63 - 1), min_size=1, max_size=8))
    assume(kind != "time" or (0 not in xp and NAT not in fp + fs))
    assume(kind != "typed" or not isinstance(missing, int) or missing < 2**64)
    signed = kind in ("signed", "time")
    # Fills of positions: keys (uint64) for the reference, keys - 2^63 in the
    # caller's terms for signed positions.
    keys = [v % 2**64 if isinstance(v, int) else v for v in (left, right, missing)]
    caller = [v - 2**63 if signed and isinstance(v, int) else v for v in keys]
    lo = 1 if kind == "time" else 0
    with_nat = kind == "time" or (kind == "arrow" and missing not in (None, "raise"))
    nat = data.draw(st.integers(0, len(fs) - 1)) if with_nat and data.draw(st.booleans()) else None
    null = 0 if kind == "time" else "null"  # the key 0 stands for NaT
    keys = [null_as(v, null) for v in keys]
    expected = answers(lambda f: ref_inverse_int(f, xp, fp, method, *keys, lo=lo), fs, nat, keys[2], not increasing(fp))
    if nat is not None:
        fs[nat] = NAT
    if signed and not isinstance(expected, Outside):
        expected = [v - 2**63 for v in expected]
    # an Interpolator's positions are checked when it is made
    if kind == "Interpolator" and any(a >= b for a, b in zip(xp, xp[1:])):
        expected = Outside("xp must be strictly increasing")
    rules = {"left": fill_of(kind, caller[0], "M8[ns]"), "right": fill_of(kind, caller[1], "M8[ns]"),
             "missing": fill_of(kind, caller[2], "M8[ns]"), "workers": workers}
    query, table = np.array(fs, np.int64), (np.array(xp, np.uint64), np.array(fp, np.int64))
    if kind == "arrow":
        mask = np.arange(len(fs)) == (-1 if nat is None else nat)
        call = lambda: arrow_list(exact_interp.inverse(pa.array(query, mask=mask), *table, method, **rules))
    elif kind == "typed":
        call = lambda: exact_interp.inverse_int(np.tile(query, 5000), *table, method, **rules)[: len(fs)].tolist()
    elif kind == "Interpolator":
        call = lambda: exact_interp.Interpolator(*table).inverse(query, method, **rules).tolist()
    else:
        sxp = (table[0] ^ np.uint64(2**63)).view(np.int64)
        if kind == "signed":
            call = lambda: exact_interp.inverse(list(fs), sxp, table[1], method, **rules).tolist()
        else:
            call = lambda: exact_interp.inverse(query.view("m8[ns]"), sxp.view("M8[ns]"), table[1].view("m8[ns]"),
                                                method, **rules).view(np.int64).tolist()
    check(call, expected)


def null_cases():
    """(entry, expected as a list with None for missing, or the error and its message) for the word "null"."""
    import exact_interp

    xp, fi, ff = np.array([10, 20], np.uint64), np.array([0, 100]), np.array([0.0, 1.0])
    q = np.array([5, 15, 25], np.uint64)
    pd = pytest.importorskip("pandas", reason="pandas results need pandas")
    pl = pytest.importorskip("polars", reason="Polars results need polars")
    return [
        (lambda: exact_interp.forward(pd.Series(q), xp, fi, left="null", right="null"), [None, 50, None], "Int64"),
        (lambda: exact_interp.forward(pl.Series("q", q), xp, fi, left="null", right=-1), [None, 50, -1], "Int64"),
        (lambda: exact_interp.Interpolator(xp, ff).forward(q, left="null", right="clamp"), [None, 0.5, 1.0],
         "float64"),
        (lambda: exact_interp.inverse(pd.Series([-1, 50, 101]), xp, fi, "nearest", right="null"),
         [10, 15, None], "UInt64"),
        (lambda: exact_interp.forward(q, xp, np.stack([ff, ff * 2], axis=1), left="clamp", right="null")[:, 1],
         [0.0, 1.0, None], "float64"),
        (lambda: exact_interp.forward(q, xp, fi, left="null"), ValueError,
         "left='null': int64 results in a NumPy array or xarray hold no missing element"),
        (lambda: exact_interp.forward(pd.Series(q), xp, np.stack([fi, fi], axis=1), missing="null"), ValueError,
         "missing='null': int64 results in value columns hold no missing element"),
        (lambda: exact_interp.forward_int(q, xp, fi, left="null"), ValueError, "left must be"),
    ]


@pytest.mark.parametrize("case", range(8))
def test_null_gives_a_missing_result_where_the_container_holds_one(case):
    call, want, dtype = null_cases()[case]
    if isinstance(want, type):
        with pytest.raises(want, match=dtype):
            call()
        return
    got = call()
    assert str(got.dtype) == dtype
    if hasattr(got, "isna"):  # pandas
        values = [None if missing else v for v, missing in zip(got.to_numpy(dtype=object), got.isna())]
    elif hasattr(got, "to_list"):  # Polars
        values = got.to_list()
    else:
        values = [None if np.isnan(v) else float(v) for v in got]
    assert values == want
