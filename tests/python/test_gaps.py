"""interpolate_by: gaps filled against exact Fractions across value kinds,
position kinds, containers and gap patterns (leading, trailing, runs shorter
and longer than max_gap), the ends by left and right; what stays missing in
each container; refusals naming their argument or keyword."""

import datetime

import numpy as np
import pytest

import exact_interp
from helpers import Outside, ref_forward_float, ref_forward_int

hypothesis = pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import examples  # noqa: E402

CONTAINERS = ["numpy", "pandas", "arrow", "polars", "polars expression"]
VALUE_KINDS = ["int64", "float64", "float32", "datetime64[ns]"]
POSITION_KINDS = ["uint64", "int64", "datetime64[us]"]
BASE = {"uint64": 2**63 + 12345, "int64": -(2**62), "datetime64[us]": 1_700_000_000_000_000}


def container_of(values, missing, container, kind):
    """The values with these elements missing, in the container (NumPy: NaN, NaT or a mask)."""
    if container == "numpy":
        if kind == "int64":
            return np.ma.MaskedArray(values, mask=missing)
        out = values.copy()
        out[missing] = np.nan if kind.startswith("float") else np.datetime64("NaT", "ns")
        return out
    if container == "pandas":
        pd = pytest.importorskip("pandas", reason="pandas containers need pandas")
        dtype = {"int64": "Int64", "float64": "float64", "float32": "float32", "datetime64[ns]": "datetime64[ns]"}[kind]
        return pd.Series(pd.array(values, dtype=dtype)).mask(missing)
    if container == "arrow":
        pa = pytest.importorskip("pyarrow", reason="Arrow containers need pyarrow")
        return pa.array(values, mask=missing)
    pl = pytest.importorskip("polars", reason="Polars containers need polars")
    return pl.Series("v", values).scatter(np.flatnonzero(missing), None)


def filled(data, by, container, **keywords):
    """interpolate_by on the container, or as a Polars expression over a frame of the values and positions."""
    if container != "polars expression":
        return exact_interp.interpolate_by(data, by, **keywords)
    pl = pytest.importorskip("polars", reason="Polars containers need polars")
    frame = pl.DataFrame({"v": data, "b": pl.Series(by)})
    expression = exact_interp.interpolate_by(pl.col("v"), pl.col("b"), **keywords)
    assert frame.lazy().select(expression).collect_schema()["v"] == data.dtype  # declared before the query runs
    return frame.select(expression).to_series()


def as_list(result, container, kind):
    """A result as Python values (counts for times), None where missing."""
    if container == "numpy":
        if isinstance(result, np.ma.MaskedArray):
            return [None if m else int(v) for v, m in zip(result.data, np.ma.getmaskarray(result))]
        if kind.startswith("float"):
            return [None if np.isnan(v) else float(v) for v in result]
        return [None if np.isnat(v) else int(v.astype(np.int64)) for v in result.astype("M8[ns]")]
    if container == "pandas":
        if kind == "datetime64[ns]":
            return [None if m else int(v) for v, m in zip(result.to_numpy().astype("M8[ns]").view(np.int64),
                                                          result.isna())]
        return [None if m else v for v, m in zip(result.to_numpy(dtype=object), result.isna())]
    if container == "arrow":
        items = result.cast("int64").to_pylist() if kind == "datetime64[ns]" else result.to_pylist()
        return items
    items = result.cast(int).to_list() if kind == "datetime64[ns]" else result.to_list()
    return [None if v is None or (isinstance(v, float) and np.isnan(v)) else v for v in items]


@st.composite
def gapped(draw):
    """Positions strictly increasing, values, the missing ones (runs at both ends and inside), the keywords."""
    n = draw(st.integers(0, 14))
    steps = draw(st.lists(st.integers(1, 10**5), min_size=n, max_size=n))
    offsets = list(np.cumsum(steps)) if n else []
    values = draw(st.lists(st.integers(-10**9, 10**9), min_size=n, max_size=n))
    missing = draw(st.lists(st.booleans(), min_size=n, max_size=n))
    lead, trail = draw(st.integers(0, n)), draw(st.integers(0, n))
    missing = [True if k < lead or k >= n - trail else m for k, m in enumerate(missing)]
    # a missing element may share the position before it (a knot's, or another missing one's)
    shared = draw(st.lists(st.booleans(), min_size=n, max_size=n))
    for k in range(1, n):
        if missing[k] and shared[k]:
            offsets[k] = offsets[k - 1]
    max_gap = draw(st.one_of(st.none(), st.integers(0, 3 * 10**5)))
    left, right = (draw(st.sampled_from([None, "clamp", "extrapolate", "fill"])) for _ in range(2))
    return offsets, values, missing, max_gap, left, right


@pytest.mark.parametrize("container", CONTAINERS)
@pytest.mark.parametrize("kind", VALUE_KINDS)
@pytest.mark.parametrize("by_kind", POSITION_KINDS)
@settings(max_examples=examples(60), deadline=None)
@given(case=gapped(), floats=st.lists(st.floats(-1e6, 1e6, allow_nan=False, allow_subnormal=False), max_size=14))
def test_gaps_filled_as_fractions(container, kind, by_kind, case, floats):
    offsets, counts, missing, max_gap, left, right = case
    n = len(offsets)
    positions = [BASE[by_kind] + int(o) for o in offsets]
    by = np.array(positions, dtype=np.uint64 if by_kind == "uint64" else np.int64)
    if by_kind.startswith("datetime64"):
        by = by.view(by_kind)
    if kind.startswith("float"):
        values = np.array((floats + [0.5] * n)[:n], dtype=kind)
    else:
        values = np.array(counts, dtype=np.int64).view(kind) if n else np.zeros(0, kind)
    fills = {"int64": np.int64(-7), "float64": -7.5, "float32": -7.5, "datetime64[ns]": np.datetime64(-7, "ns")}
    rules = {k: fills[kind] if v == "fill" else v for k, v in (("left", left), ("right", right))}
    gap = None if max_gap is None else (np.timedelta64(max_gap, "us") if by_kind.startswith("datetime64")
                                        else max_gap)
    missing_mask = np.array(missing, dtype=bool)
    data = container_of(values, missing_mask, container, kind)
    # the reference: knots at the present elements, each missing one by Fractions
    xp = [p for p, m in zip(positions, missing) if not m]
    fp = [v for v, m in zip(values.tolist() if kind.startswith("float") else counts, missing) if not m]
    want = []
    for k in range(n):
        if not missing[k]:
            want.append(float(values[k]) if kind.startswith("float") else counts[k])
            continue
        x = positions[k]
        if not xp or (x < xp[0] and left is None) or (x > xp[-1] and right is None):
            want.append(None)
            continue
        if xp[0] <= x <= xp[-1] and max_gap is not None and x not in xp:
            i = next(j for j in range(len(xp)) if xp[j] > x)
            if xp[i] - xp[i - 1] > max_gap:
                want.append(None)
                continue
        rule = {"left": rules["left"], "right": rules["right"]}
        fill = {"int64": -7, "float64": -7.5, "float32": -7.5, "datetime64[ns]": -7}[kind]
        rule = {s: fill if r is not None and not isinstance(r, str) else r for s, r in rule.items()}
        try:
            if kind.startswith("float"):
                want.append(ref_forward_float(x, xp, fp, rule["left"], rule["right"]))
            else:
                want.append(ref_forward_int(x, xp, fp, rule["left"], rule["right"]))
        except Outside:  # a single knot cannot be extrapolated
            want.append("error")
    if "error" in want:
        with pytest.raises(ValueError, match="='extrapolate': values\\[[0-9]+\\] lies beyond the only present"):
            filled(data, by, container, max_gap=gap, **rules)
        return
    # float32 values: float32 results where every answer is a float32 number (a Polars expression, whose dtype is
    # declared, refuses the others), else float64
    narrow = kind == "float32" and all(v is None or float(np.float32(v)) == v for v in want)
    if kind == "float32" and not narrow and container == "polars expression":
        with pytest.raises(Exception, match="filled values are not all float32 numbers"):
            filled(data, by, container, max_gap=gap, **rules)
        return
    out = filled(data, by, container, max_gap=gap, **rules)
    if kind.startswith("float"):
        dtype = out.type if container == "arrow" else out.dtype
        assert str(dtype).lower() in (("float32", "float") if narrow else ("float64", "double")), dtype
    got = as_list(out, container, kind)
    assert [None if v is None else (float(v) if kind.startswith("float") else int(v)) for v in got] == want


REFUSALS = [
    (lambda: exact_interp.interpolate_by([1.0, np.nan], [0, 0, 1]), ValueError, "argument 'by': 3 positions for 2"),
    (lambda: exact_interp.interpolate_by([1.0, np.nan]), TypeError, "argument 'by': the positions are required"),
    (lambda: exact_interp.interpolate_by([1.0, 2.0, np.nan], [0, 0, 1]), ValueError,
     "by\\[0\\] and by\\[1\\] are both 0 with different values; duplicates='first' or 'last'"),
    (lambda: exact_interp.interpolate_by([1.0, 2.0, np.nan], [1, 0, 2]), ValueError,
     "must increase where values are present: by\\[0\\] = 1 and by\\[1\\] = 0"),
    (lambda: exact_interp.interpolate_by([1.0, np.nan], [0.0, 1.0]), TypeError, "argument 'by': float positions"),
    (lambda: exact_interp.interpolate_by([np.inf, np.nan, 1.0], [0, 1, 2]), ValueError,
     "values\\[0\\] = inf is not finite"),
    (lambda: exact_interp.interpolate_by([1.0, np.nan, 2.0], [0, 1, 2], max_gap=1.5), TypeError,
     "max_gap: positions of int64 take an integer"),
    (lambda: exact_interp.interpolate_by([1.0, np.nan, 2.0], [0, 1, 2], max_gap=-1), ValueError,
     "max_gap: a gap cannot be negative"),
    (lambda: exact_interp.interpolate_by([1.0, np.nan, 2.0], np.array([0, 1, 2], "M8[s]"), max_gap=5), TypeError,
     "max_gap: positions of datetime64\\[s\\] take a timedelta"),
    (lambda: exact_interp.interpolate_by([np.nan, 1.0, 2.0], [0, 1, 2], left="raise"), ValueError,
     "left='raise': values\\[0\\] is missing before the first present value"),
    (lambda: exact_interp.interpolate_by([1.0, 2.0, np.nan], [0, 1, 2], right="nearest"), ValueError,
     "right must be None, 'null', 'raise', 'clamp', 'extrapolate' or a fill value"),
    (lambda: exact_interp.interpolate_by(np.array([1, 2, 3]), [0, 1, 2], right="extrapolate"), None, [1, 2, 3]),
    (lambda: exact_interp.interpolate_by([1.0, 1.0, np.nan, 4.0], [0, 0, 1, 3]), None, [1.0, 1.0, 2.0, 4.0]),
    (lambda: exact_interp.interpolate_by([1.0, 2.0, np.nan, 4.0], [0, 0, 1, 2], duplicates="last"), None,
     [1.0, 2.0, 3.0, 4.0]),
    (lambda: exact_interp.interpolate_by(np.array([1, 2, 4], np.float32), [0, 1, 2]), None, [1.0, 2.0, 4.0]),
    (lambda: exact_interp.interpolate_by(1.0, [0]), TypeError, "argument 'values': a series of values"),
    (lambda: exact_interp.interpolate_by(pytest.importorskip("polars").col("v"), [0, 1]), TypeError,
     "argument 'by': values given as a Polars expression take their positions as one too"),
]


@pytest.mark.parametrize("call, error, message", REFUSALS)
def test_refusals_name_their_argument(call, error, message):
    if error is None:  # answered: `message` is the answer
        assert call().tolist() == message
        return
    with pytest.raises(error, match=message):
        call()


def test_integers_left_missing_stay_masked_or_null():
    values = np.ma.MaskedArray(np.array([1, 2, 3, 4]), mask=[False, True, False, True])
    kept = exact_interp.interpolate_by(values, [0, 1, 2, 3])
    assert kept.dtype == np.int64 and kept.tolist() == [1, 2, 3, None]
    pd = pytest.importorskip("pandas", reason="pandas containers need pandas")
    series = pd.Series([1, None, 3, None, None, 9], dtype="Int64",
                       index=pd.to_datetime([0, 1, 2, 5, 6, 9], unit="s"))
    out = exact_interp.interpolate_by(series, max_gap=datetime.timedelta(seconds=2))
    assert str(out.dtype) == "Int64" and out.index.equals(series.index)
    assert out.tolist()[:3] == [1, 2, 3] and out.isna().tolist() == [False] * 3 + [True] * 2 + [False]
    # 3 + 6·3/7 and 3 + 6·4/7, rounded once
    assert exact_interp.interpolate_by(series, max_gap=pd.Timedelta(seconds=7)).tolist() == [1, 2, 3, 6, 6, 9]


NAN = np.nan
PANDAS_LINEAR = [NAN, NAN, 3.0, NAN, NAN, NAN, 7.0, NAN, NAN]  # by its positions 0 … 8, pandas' method="linear"
# Cases of the peers' own suites, translated to positions and keywords: (values, by, keywords, expected), or
# (…, None) for a deliberate difference, whose reason is the comment and whose answer here the test still checks.
PEER_CASES = {
    "pandas limit_area='inside'": (PANDAS_LINEAR, None, {}, [NAN, NAN, 3, 4, 5, 6, 7, NAN, NAN]),
    "pandas limit_area='outside' (forward)": (PANDAS_LINEAR, None, {"max_gap": 0, "right": "clamp"},
                                              [NAN, NAN, 3, NAN, NAN, NAN, 7, 7, 7]),
    "pandas limit_area='outside', limit_direction='backward'": (PANDAS_LINEAR, None, {"max_gap": 0, "left": "clamp"},
                                                               [3, 3, 3, NAN, NAN, NAN, 7, NAN, NAN]),
    "pandas limit_direction='both', limit_area=None": (PANDAS_LINEAR, None, {"left": "clamp", "right": "clamp"},
                                                       [3, 3, 3, 4, 5, 6, 7, 7, 7]),
    "pandas all missing": ([NAN, NAN], None, {}, [NAN, NAN]),
    # limit= counts elements from a gap's edge; max_gap measures the distance between its knots, so a long gap
    # stays missing whole rather than filled in part
    "pandas limit=1 (a count: deliberate difference)": (PANDAS_LINEAR, None, {"max_gap": 1}, PANDAS_LINEAR),
    "Polars leading null at the first knot's position": ([NAN, 1.0, NAN, 3.0], [1, 1, 2, 3], {}, [1, 1, 2, 3]),
    "Polars nulls before the first position stay null": ([NAN, 1.0, NAN, 3.0], [0, 1, 2, 3], {}, [NAN, 1, 2, 3]),
    "Polars Float32 kept as Float32": (np.array([1, NAN, 3, NAN, 6], np.float32), [1, 2, 3, 4, 5], {},
                                       np.array([1, 2, 3, 4.5, 6], np.float32)),
    # Polars rounds 4/3 in float32 arithmetic; here it is rounded once, to float64
    "Polars Float32 of answers that are no float32 number (deliberate difference)": (
        np.array([1, NAN, NAN, 2], np.float32), None, {}, np.array([1, 4 / 3, 5 / 3, 2])),
}


@pytest.mark.parametrize("name", sorted(PEER_CASES))
def test_peer_cases(name):
    values, by, keywords, want = PEER_CASES[name]
    got = exact_interp.interpolate_by(np.asarray(values), np.arange(len(values)) if by is None else by, **keywords)
    assert got.dtype == getattr(want, "dtype", np.float64)
    assert got.tolist() == pytest.approx(np.asarray(want).tolist(), nan_ok=True, rel=0, abs=0)


def test_pandas_time_method_on_ordinal_days_is_recovered_exactly():
    pd = pytest.importorskip("pandas", reason="pandas containers need pandas")
    index = pd.date_range("2000-01-03", periods=30, freq="D")
    days = pd.Series([d.toordinal() for d in index], index=index).astype(float)
    gapped = days.copy()
    gapped.iloc[5:10] = np.nan
    assert exact_interp.interpolate_by(gapped).equals(days)
    # pandas' float index (method="index") is refused here: float positions are not exact
    with pytest.raises(TypeError, match="argument 'by': float positions are not exact"):
        exact_interp.interpolate_by(pd.Series([1.0, NAN, 3.0], index=[0.1, 0.5, 0.9]))


@pytest.mark.parametrize("container", ["numpy", "masked", "xarray"])
@pytest.mark.parametrize("axis", [0, 1, -1])
def test_along_an_axis_each_lane_is_its_own_series(container, axis):
    rng = np.random.default_rng(8)
    values = rng.integers(-100, 100, (3, 7)).astype(np.float64)
    missing = rng.random((3, 7)) < 0.4
    values[missing] = np.nan
    values, missing = np.moveaxis(values, 1, axis), np.moveaxis(missing, 1, axis)
    n = values.shape[axis]
    by = np.cumsum(rng.integers(1, 5, n))
    if container == "masked":  # integers, masked where missing
        values = np.ma.MaskedArray(np.where(missing, 0, values).astype(np.int64), mask=missing)
    # the reference: each lane alone, one-dimensional
    lanes = np.moveaxis(values, axis, -1)
    want = [exact_interp.interpolate_by(lane, by, right="clamp") for lane in lanes.reshape(-1, n)]
    want = np.moveaxis((np.ma.stack if container == "masked" else np.stack)(want).reshape(lanes.shape), -1, axis)
    if container == "xarray":
        xr = pytest.importorskip("xarray", reason="xarray containers need xarray")
        dims = ("a", "b")
        out = exact_interp.interpolate_by(xr.DataArray(values, dims=dims, coords={dims[axis]: by}, name="level"),
                                          axis=dims[axis], right="clamp")
        assert out.dims == dims and out.name == "level"
        got = out.values
    else:
        got = exact_interp.interpolate_by(values, by, axis=axis, right="clamp")
    assert type(got) is type(want) and got.shape == values.shape and got.dtype == want.dtype
    if container == "masked":
        assert (np.ma.getmaskarray(got) == np.ma.getmaskarray(want)).all()
        got, want = got.filled(0), want.filled(0)
    assert np.array_equal(got, want, equal_nan=True)
    with pytest.raises(ValueError, match="axis: an axis of the 2-dimensional values"):
        exact_interp.interpolate_by(values, by, axis=2)
