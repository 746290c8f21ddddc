"""exact_interp.forward, inverse and Interpolator over the data people hold:
every kind of position and value against exact integer arithmetic (Python
ints and Fractions), in every layout, pandas, Arrow and Polars inputs, and
the refusals with their messages."""

import pickle

import numpy as np
import pytest

pytestmark = [pytest.mark.pandas, pytest.mark.polars, pytest.mark.pyarrow, pytest.mark.xarray, pytest.mark.hypothesis,
              pytest.mark.dask]
pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from helpers import (Outside, bits, optional, ref_forward_float, ref_forward_int, ref_inverse_float,  # noqa: E402
                     ref_inverse_int)

# The containers of other libraries: a test or row that needs one missing skips, naming it.
pd, pl, pa, xr = (optional(name) for name in ("pandas", "polars", "pyarrow", "xarray"))
ed = optional("exact_interp.dask", "dask[array]")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import examples  # noqa: E402

import exact_interp  # noqa: E402

METHODS = [None, "nearest", "ffill", "bfill"]
I64 = (-(2**63), 2**63 - 1)
# kind: (dtype, lowest and highest count it holds); NaT, the lowest int64, is no count
POSITIONS = {
    "uint64": (np.uint64, (0, 2**64 - 1)),
    "int64": (np.int64, I64),
    "int32": (np.int32, (-(2**31), 2**31 - 1)),
    "uint16": (np.uint16, (0, 2**16 - 1)),
    "datetime64[ns]": ("M8[ns]", (I64[0] + 1, I64[1])),
    "datetime64[s]": ("M8[s]", (-(2**40), 2**40)),
    "timedelta64[us]": ("m8[us]", (I64[0] + 1, I64[1])),
}
VALUES = {
    "int64": (np.int64, I64),
    "int8": (np.int8, (-128, 127)),
    "uint32": (np.uint32, (0, 2**32 - 1)),
    "uint64": (np.uint64, (0, 2**63 - 1)),  # values must fit int64
    "datetime64[ns]": ("M8[ns]", (I64[0] + 1, I64[1])),
    "timedelta64[ms]": ("m8[ms]", (-(2**50), 2**50)),
    "float64": (np.float64, None),
    "float32": (np.float32, None),
}


def counts(a):
    """The integers behind an array of any kind, as Python ints."""
    return [int(v) for v in (a.view(np.int64) if a.dtype.kind in "Mm" else a)]


def key(v, dtype):
    """The uint64 key of a position, as the typed functions see it."""
    return v if np.dtype(dtype).kind == "u" else v + 2**63


@st.composite
def tables(draw, sort_f):
    pkind, vkind = draw(st.sampled_from(sorted(POSITIONS))), draw(st.sampled_from(sorted(VALUES)))
    pdtype, (plo, phi) = POSITIONS[pkind]
    vdtype, vrange = VALUES[vkind]
    edges = st.sampled_from([plo, phi, plo + 1, phi - 1, 0 if plo <= 0 <= phi else plo])
    xs = draw(st.lists(st.one_of(st.integers(plo, phi), edges), min_size=1, max_size=8, unique=True))
    xs.sort()
    if vrange is None:
        fs = draw(st.lists(st.floats(-(2.0**100), 2.0**100, width=32 if vkind == "float32" else 64), min_size=len(xs),
                           max_size=len(xs), unique=True))
    else:
        vedges = st.sampled_from([vrange[0], vrange[1], 0 if vrange[0] <= 0 <= vrange[1] else vrange[0]])
        fs = draw(st.lists(st.one_of(st.integers(*vrange), vedges), min_size=len(xs), max_size=len(xs), unique=True))
    if sort_f:
        fs.sort()
    return of_dtype(xs, pdtype), of_dtype(fs, vdtype)


def of_dtype(values, dtype):
    """Python numbers as an array of dtype, exactly (time kinds from their counts)."""
    dtype = np.dtype(dtype)
    return np.array(values, np.int64).view(dtype) if dtype.kind in "Mm" else np.array(values, dtype)


def layout(a, draw):
    """The same elements as a strided, read-only, byte-swapped, list or tuple argument."""
    how = draw(st.sampled_from(["array", "strided", "list", "tuple", "read-only", "byte-swapped"]))
    if how == "byte-swapped":
        return a.astype(a.dtype.newbyteorder())
    if how == "strided":
        b = np.empty(2 * len(a), a.dtype)
        b[::2] = a
        return b[::2]
    if how == "read-only":
        b = a.copy()
        b.flags.writeable = False
        return b
    if how in ("list", "tuple") and a.dtype.kind in "iu":
        return (list if how == "list" else tuple)(int(v) for v in a)
    return a


SETTINGS = settings(max_examples=examples(400), deadline=None, suppress_health_check=[HealthCheck.too_slow])


@SETTINGS
@given(data=st.data())
def test_forward_of_every_kind(data):
    xp, fp = data.draw(tables(sort_f=False))
    lo, hi = counts(xp)[0], counts(xp)[-1]
    qs = data.draw(st.lists(st.one_of(st.sampled_from(counts(xp)), st.integers(lo, hi)), min_size=1, max_size=6))
    x = of_dtype(qs, xp.dtype)
    got = exact_interp.forward(layout(x, data.draw), layout(xp, data.draw), layout(fp, data.draw))
    table = exact_interp.Interpolator(layout(xp, data.draw), fp)
    assert got.tobytes() == table.forward(x).tobytes()
    if data.draw(st.booleans()):  # as one of two value columns, the other reversed, by both ways in
        both, back = np.stack([fp, fp[::-1]], 1), exact_interp.forward(x, xp, fp[::-1])
        for wide in (exact_interp.forward(x, xp, both), exact_interp.Interpolator(xp, both).forward(x)):
            assert wide.dtype == got.dtype and wide[:, 0].tobytes() == got.tobytes()
            assert wide[:, 1].tobytes() == back.tobytes()
    want_dtype = fp.dtype if fp.dtype.kind in "Mm" else (np.float64 if fp.dtype.kind == "f" else np.int64)
    assert got.dtype == want_dtype
    if fp.dtype.kind == "f":  # the exact rational rounded once (a knot's own value, -0.0 too, on a hit)
        assert bits(got) == bits([ref_forward_float(q, counts(xp), fp.tolist()) for q in qs])
    else:
        assert counts(got) == [ref_forward_int(q, counts(xp), counts(fp)) for q in qs]


@SETTINGS
@given(data=st.data())
def test_inverse_of_every_kind(data):
    xp, fp = data.draw(tables(sort_f=True))
    method = data.draw(st.sampled_from(METHODS))
    if fp.dtype.kind == "f":
        f = np.array(data.draw(st.lists(st.floats(-(2.0**100), 2.0**100, width=32 if fp.dtype == np.float32 else 64),
                                        min_size=1, max_size=6)), fp.dtype)
    else:
        vs = counts(fp)
        lo, hi = count_range(fp.dtype)
        lo, hi = max(vs[0] - 2, lo), min(vs[-1] + 2, hi)
        fs = data.draw(st.lists(st.one_of(st.sampled_from(vs), st.integers(lo, hi)), min_size=1, max_size=6))
        f = of_dtype(fs, fp.dtype)
    try:
        got = exact_interp.inverse(layout(f, data.draw), xp, layout(fp, data.draw), method)
    except KeyError as e:
        got = e
    try:
        by_table = exact_interp.Interpolator(xp, fp).inverse(f, method)
    except KeyError as e:
        by_table = e
    if isinstance(got, KeyError):
        assert isinstance(by_table, KeyError) and by_table.args == got.args
    else:
        assert got.tobytes() == by_table.tobytes()
        assert got.dtype == {"u": np.dtype(np.uint64), "i": np.dtype(np.int64)}.get(xp.dtype.kind, xp.dtype)
    expected = []
    for v in f.tolist() if fp.dtype.kind == "f" else counts(f):
        try:
            if fp.dtype.kind == "f":
                expected.append(ref_inverse_float(v, counts(xp), fp.tolist(), method))
            else:
                expected.append(ref_inverse_int(v, counts(xp), counts(fp), method))
        except Outside as e:
            assert isinstance(got, KeyError) and got.args == (str(e),)
            return
    assert counts(got) == expected


def count_range(dtype):
    """The counts a value query of this dtype may hold: its own range, within int64 and short of NaT."""
    if dtype.kind in "Mm":
        return I64[0] + 1, I64[1]
    info = np.iinfo(dtype)
    return max(int(info.min), I64[0]), min(int(info.max), I64[1])


def test_a_clock_table_before_and_after_1970():
    clock = np.array(["1969-12-31T23:59:59.999999999", "1970-01-01T00:00:00.000000001", "2262-04-11"], "M8[ns]")
    samples = np.array([0, 2, 2 + 2**62], np.int64)
    x = np.array(["1970-01-01", "1969-12-31T23:59:59.999999999"], "M8[ns]")
    assert exact_interp.forward(x, clock, samples).tolist() == [1, 0]
    assert exact_interp.forward(np.array(["1970-01-01"], "M8[D]"), clock, samples).tolist() == [1]  # days in ns
    back = exact_interp.inverse(np.array([1, 2**61]), clock, samples, "nearest")
    assert back.dtype == np.dtype("M8[ns]")
    assert counts(back) == [ref_inverse_int(v, counts(clock), counts(samples), "nearest") for v in (1, 2**61)]
    assert counts(back)[0] == 0  # the epoch itself, between the two knots around it
    # a timestamp column as values: a sample counter to instants and back
    at = exact_interp.forward(np.array([0, 1, 2, 4], np.uint64), np.array([0, 4], np.uint64), clock[:2])
    assert at.dtype == clock.dtype and counts(at) == [-1, 0, 0, 1]  # -1/2 to even
    assert exact_interp.inverse(at, np.array([0, 4], np.uint64), clock[:2], "nearest").tolist() == [0, 2, 2, 4]


# A two-knot table in the typed dtypes, for the refusals of keywords.
U, I, F = np.array([0, 2], np.uint64), np.array([0, 1], np.int64), np.array([0.0, 1.0])
# long double values that float64 does not hold: none where long double is double (Windows, some ABIs)
WIDE_LONG_DOUBLE = pytest.mark.skipif(np.finfo(np.longdouble).nmant <= np.finfo(np.float64).nmant,
                                      reason="long double is float64 on this platform")

@pytest.mark.parametrize(
    "make",
    [
        lambda v, dt: pd.Series(v.astype(dt), index=[f"r{i}" for i in range(len(v))], name="when"),
        lambda v, dt: pd.Index(v.astype(dt)),
        lambda v, dt: pa.array(v.astype(dt)),
        lambda v, dt: pa.chunked_array([v[:1].astype(dt), v[1:].astype(dt)]),
        lambda v, dt: pl.Series(v.astype(dt)),
    ],
    ids=["Series", "Index", "Arrow", "Arrow chunked", "Polars"],
)
@pytest.mark.parametrize("dtype", ["M8[ns]", "M8[us]", "int64"])
def test_pandas_arrow_polars(make, dtype):
    base = np.array(["1950-01-01", "2000-01-01", "2100-01-01"], "M8[ns]").astype(dtype) if dtype != "int64" else \
        np.array([-(10**15), 0, 10**17], np.int64)
    xp, fp = make(base, dtype), np.array([0.0, 1.0, 3.0])
    below = base[1:] - (1 if dtype == "int64" else np.timedelta64(1, dtype[3:-1]))  # just below the knots
    x = make(below, dtype)
    got = exact_interp.forward(x, xp, fp)
    want = exact_interp.forward(below, base, fp)
    # the result in the query's container, its index and name kept
    family = next(c for c in (pd.Series, pd.Index, pa.Array, pa.ChunkedArray, pl.Series) if isinstance(x, c))
    assert isinstance(got, family), (type(got), type(x))
    if isinstance(x, pd.Series):
        assert list(got.index) == list(x.index) and got.name == "when"
    got = got.combine_chunks() if isinstance(got, pa.ChunkedArray) else got
    got = np.asarray(got.to_numpy(zero_copy_only=False) if isinstance(got, pa.Array) else got.to_numpy())
    assert isinstance(got, np.ndarray) and got.tobytes() == want.tobytes()
    back = exact_interp.inverse(fp, xp, fp)
    assert back.dtype == base.dtype and back.tobytes() == base.tobytes()


EXPRESSION_TABLES = {  # positions, values, a query of positions (and the values at them, for the inverse)
    "uint64 to float64": (np.array([0, 10**9, 2**63 + 5], np.uint64), np.array([0.0, 1.0 / 3, 7.5]),
                          np.array([1, 5 * 10**8, 2**63], np.uint64)),
    "int64 to int64": (np.array([-(2**62), 0, 2**62]), np.array([-7, 0, 2**60]), np.array([-(2**61), 3, 2**61])),
    "datetime64[ns] to int64": (np.array(["1969-12-31T23:59:59", "2024-01-01", "2100-01-01"], "M8[ns]"),
                                np.array([0, 48_000, 10**12]),
                                np.array(["1970-01-01", "2024-01-01T00:00:00.000000001", "2099-01-01"], "M8[ns]")),
    "timedelta64[us] to datetime64[ms]": (np.array([0, 10**6, 10**12], "m8[us]"),
                                          np.array(["2024-01-01", "2024-01-02", "2025-01-01"], "M8[ms]"),
                                          np.array([5, 10**6 + 1, 10**9], "m8[us]")),
}


@pytest.mark.parametrize("engine", ["eager", "lazy", "streaming"])
@pytest.mark.parametrize("entry", ["forward", "Interpolator.forward", "inverse", "Interpolator.inverse"])
@pytest.mark.parametrize("name", sorted(EXPRESSION_TABLES))
def test_polars_expressions_answer_as_the_series_does(name, entry, engine):
    xp, fp, x = EXPRESSION_TABLES[name]
    table = exact_interp.Interpolator(xp, fp)
    query = pl.Series("q", x) if entry.endswith("forward") else exact_interp.forward(pl.Series("q", x), xp, fp)
    query = query.scatter([1], None)  # a null, kept as null
    keywords = {"missing": "null", "left": "clamp", "right": "clamp"}
    calls = {"forward": lambda q: exact_interp.forward(q, xp, fp, **keywords),
             "Interpolator.forward": lambda q: table.forward(q, **keywords),
             "inverse": lambda q: exact_interp.inverse(q, xp, fp, "nearest", **keywords),
             "Interpolator.inverse": lambda q: table.inverse(q, "nearest", **keywords)}
    want = calls[entry](query)
    frame = pl.DataFrame({"q": query, "other": range(len(query))})
    expression = calls[entry](pl.col("q"))
    assert isinstance(expression, pl.Expr)
    if engine == "eager":
        got = frame.select(expression)
    else:
        lazy = frame.lazy().with_columns(expression.alias("answer")).select("answer", "q")
        assert lazy.collect_schema()["answer"] == want.dtype  # declared before the query runs
        got = lazy.collect(engine="streaming" if engine == "streaming" else "auto").select("answer")
    assert got.columns == (["q"] if engine == "eager" else ["answer"])
    assert got.to_series().dtype == want.dtype and got.to_series().to_list() == want.to_list()


def test_times_of_a_zone_are_instants_and_keep_their_zone():
    utc = pd.date_range("2026-03-29T00:30", periods=4, freq="30min", tz="UTC")
    local = utc.tz_convert("Europe/Berlin")  # a daylight-saving change inside
    fp = np.arange(4, dtype=np.int64) * 30
    assert exact_interp.forward(local, utc, fp).tolist() == fp.tolist()
    back = exact_interp.inverse(fp, local, fp)  # times of the knots' zone, in pandas: NumPy holds no zone
    assert isinstance(back, pd.DatetimeIndex) and str(back.tz) == "Europe/Berlin" and back.equals(local)
    series = exact_interp.inverse(pd.Series(fp, name="t"), local, fp)
    assert series.name == "t" and str(series.dt.tz) == "Europe/Berlin" and (series.to_numpy() == local).all()
    arrow = exact_interp.inverse(pa.array(fp), local, fp)
    assert arrow.type == pa.timestamp(local.unit, tz="Europe/Berlin") and arrow.to_pylist() == list(local)
    assert exact_interp.forward(local[1], pa.array(local), fp) == 30  # Arrow knots of a zone
    assert exact_interp.inverse(15, local, fp) == pd.Timestamp("2026-03-29T00:45", tz="UTC")
    table = exact_interp.Interpolator(fp, local)
    assert table.fp.equals(local)
    assert pickle.loads(pickle.dumps(table)).forward([45]).equals(local[1:2] + pd.Timedelta("15min"))


def test_scalars_and_python_ints():
    r = exact_interp.forward(2**64 - 2, [0, 2**64 - 1], [-(2**63), 2**63 - 1])
    assert np.ndim(r) == 0 and int(r) == ref_forward_int(2**64 - 2, [0, 2**64 - 1], [-(2**63), 2**63 - 1])
    assert exact_interp.forward(np.datetime64("2000-01-01"), np.array(["1999", "2001"], "M8[D]"), [0, 731]) == 365
    days = np.array(["1999", "2001"], "M8[D]")
    days_utc = pd.DatetimeIndex(days).tz_localize("UTC")
    paris = pd.Timestamp("2000-01-01T01:00", tz="Europe/Paris")
    assert exact_interp.forward(paris, days_utc, [0, 731 * 24]) == 365 * 24
    assert exact_interp.inverse(-1, [-(2**63), 2**63 - 1], [-(2**63), 2**63 - 1]) == -1
    assert exact_interp.inverse([5.5], [0, 10], [0.0, 11.0]).tolist() == [5]


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda: exact_interp.forward([1.5], [0, 2], [0, 1]), TypeError, "argument 'x': float positions are not exact"),
        (lambda: exact_interp.forward([1], [0.0, 2.0], [0, 1]), TypeError, "argument 'xp': float positions"),
        (lambda: exact_interp.forward([1], [0, 2], [0, 2**63]), OverflowError, "argument 'fp': values above 2^63 - 1"),
        (lambda: exact_interp.forward([2**64], [0, 2], [0, 1]), OverflowError, "argument 'x': 18446744073709551616"),
        (lambda: exact_interp.forward([-1, 2**64 - 1], [0, 2], [0, 1]), OverflowError, "argument 'x'"),
        (lambda: exact_interp.forward(np.array(["NaT"], "M8[ns]"), np.array([0, 1], "M8[ns]"), [0, 1]), ValueError,
         "argument 'x': NaT"),
        (lambda: exact_interp.forward([1], np.array([0, 1], "M8[ns]"), [0, 1]), TypeError,
         "argument 'x': int64 positions cannot be ordered with datetime64[ns] knots"),
        (lambda: exact_interp.forward(np.array([1], "M8[s]"), [0, 2], [0, 1]), TypeError, "argument 'x': datetime64"),
        (lambda: exact_interp.forward(np.array([1], "m8[s]"), np.array([0, 2], "M8[s]"), [0, 1]), TypeError,
         "argument 'x': timedelta64[s] positions"),
        (lambda: exact_interp.forward(np.array([1], "M8[ns]"), np.array([0, 2], "M8[s]"), [0, 1]), ValueError,
         "argument 'x': datetime64[ns] that are not whole units of datetime64[s]"),
        (lambda: exact_interp.forward(np.array([2**62], "M8[s]"), np.array([0, 2], "M8[ns]"), [0, 1]),
         OverflowError, "argument 'x': datetime64[s] outside the range of datetime64[ns]"),
        (lambda: exact_interp.forward(np.array([1], "M8[M]"), np.array([0, 2], "M8[D]"), [0, 1]), ValueError,
         "argument 'x': datetime64[M] does not convert exactly"),
        (lambda: exact_interp.forward([-1], np.array([0, 2], np.uint64), [0, 1]), ValueError,
         "argument 'x': negative positions"),
        (lambda: exact_interp.forward(np.array([2**63], np.uint64), [-1, 2], [0, 1]), ValueError,
         "argument 'x': positions above 2^63 - 1"),
        (lambda: exact_interp.forward(np.array(["a"], object), [0, 2], [0, 1]), TypeError,
         "argument 'x': an object array converts only when all its elements are ints"),
        (lambda: exact_interp.forward([[1], [2, 3]], [0, 2], [0, 1]), TypeError,
         "argument 'x': nested sequences of different lengths have no shape"),
        (lambda: exact_interp.forward([[1], 2], [0, 2], [0, 1]), TypeError, "argument 'x': nested sequences of "
         "different depths"),
        (lambda: exact_interp.inverse([1], [0, 2], [[0, 1], [2, 3]]), TypeError, "argument 'fp': a one-dimensional "
         "array is required, not 2 dimensions"),
        (lambda: exact_interp.forward([[1]], [[0, 2]], [0, 1]), TypeError, "argument 'xp': a one-dimensional array"),
        # times of a zone never meet naive times
        (lambda: exact_interp.forward(np.array(["2000"], "M8[s]"), pd.DatetimeIndex(["1999", "2001"], tz="UTC"),
                                      [0, 1]), TypeError, "argument 'x': naive positions cannot be compared with "
         "tz-aware knots (UTC)"),
        (lambda: exact_interp.inverse(pd.Series(pd.DatetimeIndex(["2000"], tz="UTC")), [0, 2],
                                      np.array(["1999", "2001"], "M8[ns]")), TypeError,
         "argument 'f': tz-aware (UTC) values cannot be compared with naive knots"),
        (lambda: exact_interp.inverse([[1, 2]], pd.DatetimeIndex(["1999", "2001"], tz="UTC"), [0, 4]), TypeError,
         "times of a zone (UTC) come as a pandas DatetimeIndex or Series"),
        (lambda: exact_interp.forward(True, [0, 2], [0, 1]), TypeError, "argument 'x': a bool"),
        (lambda: exact_interp.forward({}, [0, 2], [0, 1]), TypeError, "argument 'x': 'dict' object is not an array"),
        (lambda: exact_interp.inverse([0.5], [0, 2], [0, 1]), TypeError,
         "argument 'f': float values cannot be compared exactly with integer values"),
        (lambda: exact_interp.inverse([2**53 + 1], [0, 2], [0.0, 1.0]), ValueError,
         "argument 'f': integers that float64 does not hold exactly"),
        (lambda: exact_interp.inverse(np.array([1], "M8[s]"), [0, 2], [0, 1]), TypeError,
         "argument 'f': datetime64[s] values cannot be ordered with int64 values"),
        (lambda: exact_interp.inverse([1], [0, 2], np.array(["NaT", "2000"], "M8[ns]")), ValueError,
         "argument 'fp': NaT"),
        (lambda: exact_interp.forward(pd.Series([1, None], dtype="Int64"), [0, 2], [0, 1]), (TypeError, ValueError),
         "argument 'x'"),
        (lambda: exact_interp.forward(pa.array([1, None]), [0, 2], [0, 1]), ValueError,
         "argument 'x': 1 null values"),
        (lambda: exact_interp.forward(pd.Series(pd.to_datetime(["2000", None])), pd.to_datetime(["1999", "2001"]),
                                      [0, 1]), ValueError, "argument 'x': missing values"),
        # a mix of ints and floats never rounds; bools are refused inside sequences as alone
        (lambda: exact_interp.inverse([2**53 + 1, 0.5], [0, 2], [0.0, 1.0], "nearest"), ValueError,
         "argument 'f': a list of ints and floats converts only where float64 holds every int exactly"),
        (lambda: exact_interp.forward([1], [0, 2], [0.5, 2**53 + 1]), ValueError, "argument 'fp': a list of ints"),
        (lambda: exact_interp.forward([True, 2], [0, 2], [0, 1]), TypeError, "argument 'x': a bool"),
        (lambda: exact_interp.forward([1], [0, 2], (0, np.bool_(True))), TypeError, "argument 'fp': a bool"),
        pytest.param(lambda: exact_interp.forward([1], [0, 2], np.array([0, np.longdouble(1) / 3])), ValueError,
                     "values that float64 does not hold exactly", marks=WIDE_LONG_DOUBLE),
        pytest.param(lambda: exact_interp.inverse([np.longdouble(1) / 3], [0, 2], [0.0, 1.0]), ValueError,
                     "argument 'f': float128 values that float64 does not hold exactly", marks=WIDE_LONG_DOUBLE),
        (lambda: exact_interp.forward(np.ma.array([1, 2], mask=[0, 1]), [0, 2], [0, 1]), ValueError,
         "argument 'x': 1 masked values"),
        (lambda: exact_interp.forward(np.array([1], "M8[W]"), np.array([0, 2], "M8[as]"), [0, 1]), OverflowError,
         "argument 'x': datetime64[W] outside the range of datetime64[as]"),
        (lambda: exact_interp.forward(np.array([1], "M8[as]"), np.array([0, 2], "M8[W]"), [0, 1]), ValueError,
         "argument 'x': datetime64[as] that are not whole units of datetime64[W]"),
        (lambda: exact_interp.forward(pd.NA, [0, 2], [0, 1]), ValueError, "argument 'x': NA has no position"),
        (lambda: exact_interp.forward(pd.Period("2020"), [0, 2], [0, 1]), TypeError, "argument 'x': a pandas Period"),
        (lambda: exact_interp.forward(pa.scalar(None, pa.int64()), [0, 2], [0, 1]), ValueError,
         "argument 'x': a null value"),
        (lambda: exact_interp.forward(pa.table({"a": [1]}), [0, 2], [0, 1]), TypeError,
         "argument 'x': a pyarrow Table holds columns"),
        (lambda: exact_interp.forward(pl.DataFrame({"a": [1]}), [0, 2], [0, 1]), TypeError,
         "argument 'x': a polars DataFrame holds columns"),
        (lambda: exact_interp.Interpolator([0, 2], pd.DataFrame({"a": [1, 2]})), TypeError,
         "argument 'fp': a pandas DataFrame holds columns"),
        # value columns: the forward's only
        (lambda: exact_interp.inverse([1], [0, 2], [[0, 1], [2, 3]]), TypeError,
         "argument 'fp': a one-dimensional array is required, not 2 dimensions"),
        (lambda: exact_interp.Interpolator([0, 2], [[0, 1], [2, 3]]).inverse([1]), TypeError,
         "the inverse needs one-dimensional values, not value columns: this table's fp has shape (2, 2)"),
        (lambda: ed.forward_int(ed.dask.array.from_array(U),
                                               exact_interp.Interpolator(U, np.stack([I, I], 1))),
         TypeError, "forward_int() takes an Interpolator of int64 values alone"),
        (lambda: exact_interp.forward([2**63, -1], np.array([0, 2], np.uint64), [0, 1]), OverflowError,
         "argument 'x': integers from -1 to 9223372036854775808 fit neither int64 nor uint64 together"),
        # fills the result cannot hold exactly, unknown words: the keyword named
        (lambda: exact_interp.forward_int(U, U, I, left=2.5), ValueError, "left=2.5 is not a whole number"),
        (lambda: exact_interp.forward_int(U, U, I, right=float("nan")), ValueError, "right=nan is not a whole"),
        (lambda: exact_interp.forward_int(U, U, I, left=2**63), OverflowError, "left=9223372036854775808 does not"),
        (lambda: exact_interp.inverse_int(I, U, I, right=-1), OverflowError, "right=-1 does not fit the uint64"),
        (lambda: exact_interp.forward_float(U, U, F, left=2**53 + 1), ValueError, "left=9007199254740993 is not "
         "exactly a float64"),
        (lambda: exact_interp.forward_int(U, U, I, left=True), TypeError,
         "left must be 'raise', 'clamp', 'extrapolate' or an int, not 'bool'"),
        (lambda: exact_interp.forward_int(U, U, I, left="nearest"), ValueError, "left must be 'raise', 'clamp'"),
        (lambda: exact_interp.inverse_int(I, U, I, missing="clamp"), ValueError, "missing must be 'raise' or a"),
        (lambda: exact_interp.forward_int(U, U, I, left=np.datetime64(1, "s")), TypeError,
         "left must be 'raise', 'clamp', 'extrapolate' or an int, not 'datetime64'"),
        (lambda: exact_interp.forward(U, U, np.array([0, 1], "M8[s]"), left=3), TypeError,
         "left must be 'raise', 'clamp', 'extrapolate' or a datetime64[s] fill (or NaT), not 'int'"),
        (lambda: exact_interp.forward(U, U, np.array([0, 1], "M8[s]"), right=np.timedelta64(1, "s")), TypeError,
         "right: a timedelta64[s] fill cannot stand for datetime64[s] results"),
        (lambda: exact_interp.forward(U, U, np.array([0, 1], "M8[s]"), left=np.datetime64(1, "ms")), ValueError,
         "argument 'left': datetime64[ms] that are not whole units of datetime64[s]"),
        (lambda: exact_interp.inverse(I, [-1, 1], I, right=2**63), OverflowError,
         "right=9223372036854775808 does not fit the int64 positions"),
        (lambda: exact_interp.forward_int(U[1:], U[:1], I[:1], right="extrapolate"), ValueError,
         "x[0] lies outside a table of one knot, which cannot extrapolate"),
        (lambda: exact_interp.forward_int(U + np.uint64(2**63), U, I * 2**62, right="extrapolate"), OverflowError,
         "x[0] extrapolates to a value outside the range of the result"),
        # the lowest count is NaT, never an extrapolated time
        (lambda: exact_interp.inverse(np.array([-2], "m8[s]"), np.array([2 - 2**63, 3 - 2**63]).view("M8[s]"),
                                      np.array([0, 1], "m8[s]"), left="extrapolate"), OverflowError,
         "f[0] extrapolates to a position outside the range of the result"),
        # the table, checked once when the front end gets it: ValueError naming the knot
        (lambda: exact_interp.forward([1], [0, 10, 20], [0, 7]), ValueError, "xp and fp must have same length"),
        (lambda: exact_interp.forward(U[:1], U, I[:1]), ValueError, "xp and fp must have same length"),
        (lambda: exact_interp.forward([1], [0, 10], [0.0, np.nan]), ValueError, "fp must be finite"),
        (lambda: exact_interp.inverse(F, U, np.array([0.0, np.inf])), ValueError, "fp must be finite"),
        (lambda: exact_interp.Interpolator([0, 10, 5], [0, 1, 2]), ValueError, "xp must be strictly increasing"),
        (lambda: exact_interp.forward(U[:0], U[::-1], I), ValueError, "xp must be strictly increasing"),
        (lambda: exact_interp.inverse(I[:0], U, I[::-1]), ValueError, "fp must be strictly increasing"),
        (lambda: exact_interp.Interpolator(U, np.ma.array(I, mask=[0, 1])), ValueError,
         "argument 'fp': 1 masked values have no position or value"),
        (lambda: exact_interp.forward(np.ma.array(U, mask=[0, 1]), U, I), ValueError,
         "argument 'x': 1 masked values have no position or value"),
        (lambda: exact_interp.Interpolator(U, I).forward(np.ma.array(U, mask=[0, 1])), ValueError,
         "argument 'x': 1 masked values"),
        # zero value columns: the same checks as any other
        (lambda: exact_interp.forward([99], [0, 10, 20], np.zeros((3, 0), np.int64)), IndexError, "x out of bounds"),
        (lambda: exact_interp.forward([5], [0, 10, 5], np.zeros((3, 0), np.int64)), ValueError, "xp must be strictly"),
        (lambda: exact_interp.forward([5], [0, 10], np.zeros((3, 0), np.int64)), ValueError, "xp and fp must have"),
        (lambda: exact_interp.forward([5], [0, 10], np.zeros((2, 0), np.int64), left="bogus"), ValueError,
         "left must be 'raise', 'clamp'"),
        (lambda: exact_interp.forward([5], [0, 10], np.zeros((2, 0), np.int64), workers=-3), ValueError,
         "workers must be None or at least 1"),
        # a result whose size columns × length wraps: memory that cannot be had
        (lambda: exact_interp.forward(np.broadcast_to(np.uint64(5), (2**59,)), U, np.zeros((2, 32), np.int64)),
         MemoryError, ""),
        (lambda: exact_interp.Interpolator(U, np.zeros((2, 31), np.int64)).forward(
            np.broadcast_to(np.uint64(5), (2**59,))), MemoryError, ""),
        (lambda: exact_interp._native.Table(np.arange(1, 5, dtype=np.uint64), np.zeros(0, np.int64), 2**62),
         ValueError, "xp and fp must have same length"),
        (lambda: exact_interp.forward([5], [0, 10], [0, 1], duplicates="bogus"), ValueError,
         "duplicates must be 'raise', 'first' or 'last', not 'bogus'"),
        (lambda: exact_interp.forward_int(U, U, I, duplicates="first"), TypeError,  # type: ignore[call-arg]
         "forward_int() got an unexpected keyword argument 'duplicates'"),
        # results no unit of the query's container holds exactly
        (lambda: exact_interp.inverse(pd.Series([1, 3]), np.array([0, 7], "M8[ps]"), [0, 7]), ValueError,
         "argument 'f': a pandas Series holds no unit (ns, us, ms, s) in which these datetime64[ps] results are exact"),
        (lambda: exact_interp.inverse(xr.DataArray([1, 3]), np.array([0, 7], "m8[fs]"), [0, 7]), ValueError,
         "argument 'f': an xarray DataArray holds no unit"),
        (lambda: exact_interp.forward(pl.Series([1]), [0, 2], np.array([0, 7], "M8[Y]")), ValueError,
         "argument 'x': a polars Series holds no unit (ns, us, ms)"),
        # other libraries' objects that are no data at hand, and their exceptions: a TypeError naming the argument
        (lambda: exact_interp.forward(pd.MultiIndex.from_tuples([(1, 2)]), [0, 2], [0, 1]), TypeError,
         "argument 'x': a pandas MultiIndex holds tuples"),
        (lambda: exact_interp.forward([1], pl.col("a"), [0, 1]), TypeError, "argument 'xp': a polars Expr"),
        (lambda: exact_interp.forward(pl.col("a"), [0, 2], np.array([[0, 1], [1, 2]])), TypeError,
         "argument 'x': a Polars expression gives one column, and this table has value columns"),
        (lambda: exact_interp.forward([np.array([1, 2]), np.array([1])], [0, 10], [0, 7]), TypeError,
         "argument 'x': its elements have different shapes"),
        (lambda: exact_interp.forward(pl.Series([2**70], dtype=pl.Int128), [0, 2], [0, 1]), OverflowError,
         "argument 'x': 1180591620717411303424 does not fit 64 bits"),
        # fills: a zone only for results of a zone, a time fill of the results' kind, one scalar
        (lambda: exact_interp.forward(U, U, np.array([0, 1], "M8[ns]"), right=pd.Timestamp(0, tz="UTC")), TypeError,
         "right: a tz-aware (UTC) fill cannot stand for datetime64[ns] results"),
        (lambda: exact_interp.forward(pd.Series(pd.to_datetime([0, 10]).tz_localize("UTC")),
                                      pd.Series(pd.to_datetime([0, 1]).tz_localize("UTC")),
                                      pd.Series(pd.to_datetime([0, 1]).tz_localize("UTC")),
                                      right=np.datetime64(0, "ns")),
         TypeError, "right: a naive fill cannot stand for datetime64[ns, UTC] results"),
        (lambda: exact_interp.forward(U, U, np.array([0, 1], "M8[ns]"), right=np.timedelta64("NaT")), TypeError,
         "right: a timedelta64 fill cannot stand for datetime64[ns] results"),
        (lambda: exact_interp.forward(U, U, F, right=np.zeros(2)), TypeError, "right must be a single fill"),
        pytest.param(lambda: exact_interp.forward(U, U, F, right=np.longdouble(1) / 3), ValueError,
                     "values that float64 does not hold exactly", marks=WIDE_LONG_DOUBLE),
    ],
)
def test_refusals_name_the_argument(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert message in str(info.value), str(info.value)


def test_typed_arrays_keep_the_typed_messages_and_fatal_errors():
    u, i = np.array([0, 10], np.uint64), np.array([0, 5], np.int64)
    with pytest.raises(IndexError, match="x out of bounds"):
        exact_interp.forward(np.array([11], np.uint64), u, i)
    with pytest.raises(exact_interp.FatalError, match="xp and fp must have same length"):
        exact_interp.forward_int(np.array([1], np.uint64), u, i[:1])
    with pytest.raises(TypeError, match=r"forward\(\) takes 3 positional arguments"):
        exact_interp.forward(u, u, i, 1)
    with pytest.raises(ValueError, match="workers must be None or at least 1"):
        exact_interp.inverse([1], [0, 10], [0, 5], workers=0)


@pytest.mark.parametrize(
    "call, note",
    [
        (lambda: exact_interp.forward(np.array([[15, 5]]), [10, 20], [1, 2]),
         "x[0, 1] = 5 lies below the table, whose positions run from 10 to 20 (2 knots); left='clamp'"),
        (lambda: exact_interp.forward(np.array(["2021-03-01"], "datetime64[s]"),
                                      np.array(["2020-01-01", "2021-01-01"], "datetime64[s]"), [-1, 2]),
         "x[0] = 2021-03-01T00:00:00 lies above the table, whose positions run from 2020-01-01T00:00:00 to "
         "2021-01-01T00:00:00 (2 knots); right="),
        (lambda: exact_interp.Interpolator(np.array([0, 10], "datetime64[s]"), [0, 4]).inverse([1]),
         "f[0] = 1 lies between fp[0] = 0 and fp[1] = 4, at no whole position from xp[0] = 1970-01-01T00:00:00 to "
         "xp[1] = 1970-01-01T00:00:10; method="),
        (lambda: exact_interp.forward([1], [-3, -2], [0, 1]), "x[0] = 1 lies above the table, whose positions run "
                                                             "from -3 to -2"),
        (lambda: exact_interp.forward([1], [0, 5], [1.0, np.nan]), "fp[1] = nan: "),
        # value columns: the element and the positions they share
        (lambda: exact_interp.forward(np.array([[15, 5]]), [10, 20], [[1, 2], [3, 4]]),
         "x[0, 1] = 5 lies below the table, whose positions run from 10 to 20 (2 knots); left='clamp'"),
        (lambda: exact_interp.Interpolator([10, 20], [[1, 2], [3, 4]]).forward([[25]]),
         "x[0, 0] = 25 lies above the table, whose positions run from 10 to 20 (2 knots); right='clamp'"),
        (lambda: exact_interp.forward([1], [0, 5], np.array([[1.0, 2.0, 3.0], [4.0, 5.0, np.inf]]).reshape(2, 3, 1)),
         "fp[1, 2, 0] = inf: the values of a float table must be finite"),
        (lambda: exact_interp.forward([1], [0, 5, 9], [1, 2]), "len(xp) = 3, len(fp) = 2"),
        (lambda: exact_interp.forward([1], [0, 5, 9], [[1, 2], [3, 4]]), "len(xp) = 3, len(fp) = 2"),
        (lambda: exact_interp.Interpolator(np.array([0, 5, 1]), [1, 2, 3]), "xp[1] = 5 is not below xp[2] = 1"),
        # the segment's knot, not the table's first non-finite one; a NaN query ahead of any knot
        (lambda: exact_interp.forward_float(np.array([25], np.uint64), np.array([0, 10, 20, 30], np.uint64),
                                            np.array([np.inf, 1.0, 2.0, np.nan])),
         "x[0] = 25 lies between xp[2] and xp[3], whose fp[3] = nan"),
        (lambda: exact_interp.inverse_float(np.array([np.nan]), np.array([0, 10], np.uint64), np.array([0.0, np.inf])),
         "f[0] = nan cannot be searched for; missing=<a fill position> answers it"),
        # a zoned query in its zone; a missing element as missing; an extrapolation at no whole position
        (lambda: exact_interp.forward(pd.Series(pd.to_datetime([20]).tz_localize("UTC").tz_convert("Europe/Paris")),
                                      pd.Series(pd.to_datetime([0, 10]).tz_localize("UTC")), [0, 1]),
         "x[0] = 1970-01-01 01:00:00.000000020+01:00 lies above the table"),
        (lambda: exact_interp.forward(np.array(["NaT"], "M8[ns]"), np.array([], "M8[ns]"), np.array([], "M8[ns]"),
                                      missing=np.datetime64("NaT")), "x[0] = NaT: the table has no knots"),
        (lambda: exact_interp.inverse([8], [0, 10], [0, 7], right="extrapolate"),
         "f[0] = 8 lies above the table, whose values run from 0 to 7, and extrapolates to no whole position; "
         "method='nearest', 'ffill' or 'bfill', or missing=<a fill position>, answers it"),
        (lambda: exact_interp.forward([5], [-3, 10, 10], [0, 1, 2]),
         "xp[1] = 10 equals xp[2]: the positions must increase strictly; duplicates='first' or 'last' keeps one"),
        # a table of one knot: only what can answer
        (lambda: exact_interp.forward([5], [0], [1]), "x[0] = 5 lies above the table, whose only knot has xp[0] = 0; "
                                                      "right='clamp' or right=<a fill value> answers it"),
    ],
)
def test_notes_name_the_element_in_the_callers_terms(call, note):
    with pytest.raises(Exception) as info:
        call()
    notes = getattr(info.value, "__notes__", [])
    assert len(notes) == 1 and note in notes[0], notes


class _ReadTwice(list):
    """A list whose second reading gives other elements."""

    def __iter__(self):
        self.reads = getattr(self, "reads", 0) + 1
        return iter(list.__iter__(self) if self.reads == 1 else [0.5] * len(self))


def _berlin_on_arrow():
    t = pd.to_datetime(["2000-01-01 00:00:00.000000001", "2000-06-01 00:00:00.000000007"]).tz_localize("Europe/Berlin")
    return pd.Series(t).astype("timestamp[ns, tz=Europe/Berlin][pyarrow]"), pd.Series(t)


@pytest.mark.parametrize(
    "got, want",
    [
        # ints of NumPy kinds in a list stay integers, read exactly
        (lambda: exact_interp.Interpolator([0, 4], [np.uint64(0), np.int64(2**53 + 1)]).forward([2]), 2**52),
        (lambda: exact_interp.forward([2], [0, 4], [0.5, 2**52]).tolist(), [(0.5 + 2**52) / 2]),
        (lambda: exact_interp.forward(np.ma.array([2, 3], mask=[0, 0]), [0, 4], [0, 8]).tolist(), [4, 6]),
        (lambda: exact_interp.forward([1], [0, 4], np.array([0, 8], np.longdouble)).tolist(), [2.0]),
        # unit pairs whose factor NumPy cannot compute
        (lambda: exact_interp.forward(np.array([1], "M8[D]"), np.array([0, 2 * 86400 * 10**12], "M8[ps]"),
                                      [0, 2]).tolist(), [1]),
        (lambda: exact_interp.forward(np.array([0], "M8[W]"), np.array([-1, 1], "M8[as]"), [0, 2]).tolist(), [1]),
        (lambda: exact_interp.forward(np.array([0], "M8[as]"), np.array([-1, 1], "M8[W]"), [0, 2]).tolist(), [1]),
        (lambda: exact_interp.forward(pa.scalar(3, pa.uint64()), [0, 4], [0, 8]), 6),
        (lambda: exact_interp.inverse(_ReadTwice([2, 3]), [0, 4], [0, 8], "nearest").tolist(), [1, 2]),
        # missing elements of every container get the fill, the others their answers
        (lambda: exact_interp.forward(np.ma.array([2, 3], mask=[0, 1]), [0, 4], [0, 8], missing=-1).tolist(), [4, -1]),
        (lambda: exact_interp.forward(pd.Series([2, None], dtype="Int64"), [0, 4], [0, 8], missing=-1).tolist(),
         [4, -1]),
        (lambda: str(exact_interp.forward(pa.array([None, 3], pa.uint64()), [0, 4], [0.0, 8.0],
                                          missing=np.nan).to_pylist()), "[nan, 6.0]"),
        (lambda: exact_interp.forward(pa.chunked_array([[1], [None]]), [0, 4], [0, 8], missing=7).to_pylist(), [2, 7]),
        (lambda: exact_interp.forward(pl.Series([None, 1]), [0, 4], [0, 8], missing=9).to_list(), [9, 2]),
        (lambda: exact_interp.forward(pa.scalar(None, pa.int64()), [0, 4], [0, 8], missing=5), 5),
        (lambda: exact_interp.inverse(pd.Series(pd.to_timedelta([None, "1s"])), [0, 4], np.array([0, 2], "m8[s]"),
                                      missing=99).tolist(), [99, 2]),
        (lambda: exact_interp.forward(np.datetime64("NaT", "s"), np.array([0, 2], "M8[s]"), [0, 8],
                                      missing=-3), -3),
        (lambda: exact_interp.inverse(np.array([np.nan, 4.0]), U * 2, [0.0, 8.0], missing=2**64 - 1).tolist(),
         [2**64 - 1, 2]),
        (lambda: exact_interp.inverse([np.nan, 4.0], [-4, 4], [0.0, 8.0], missing=-(2**63)).tolist(), [-(2**63), 0]),
        (lambda: exact_interp.Interpolator(np.array([0, 2], "M8[s]"), [0, 8]).forward(
            np.array(["NaT", "1970-01-01T00:00:01"], "M8[s]"), missing=0).tolist(), [0, 4]),
        # results in a unit their container holds: their own, else the finest in which all are exact
        (lambda: exact_interp.inverse(pl.Series([1, 3]), np.array([0, 7], "M8[s]"), [0, 7]).cast(pl.Int64).to_list(),
         [10**9, 3 * 10**9]),
        (lambda: exact_interp.inverse(pa.array([1, 3]), np.array([0, 7], "M8[h]"), [0, 7]).cast(pa.int64()).to_pylist(),
         [3600 * 10**9, 3 * 3600 * 10**9]),
        (lambda: exact_interp.inverse(pd.Series([1]), np.array([0, 7000], "m8[ps]"), [0, 7]).to_numpy()
         .astype("m8[ps]").view(np.int64).tolist(), [1000]),
        (lambda: str(exact_interp.inverse(pd.Series([1]), np.array([0, 7], "M8[s]"), [0, 7]).dtype),
         "datetime64[s]"),
        # a 0-d Dask query; a nullable pandas Index with missing=; fills of every NumPy float and 0-d arrays
        (lambda: ed.forward(ed.dask.array.from_array(np.array(5)), [0, 10],
                                           [0, 7]).compute(), 4),
        (lambda: exact_interp.forward(pd.Index([1, None], dtype="Int64"), [0, 10], [0, 7], missing=-1).tolist(),
         [1, -1]),
        (lambda: exact_interp.inverse(pd.Index([1.0, None], dtype="Float64"), [0, 10], [0.0, 10.0],
                                      missing=-1).tolist(), [1, -1]),
        (lambda: exact_interp.forward([50], [0, 10], [0.0, 1.0], right=np.float32(2)).tolist(), [2.0]),
        (lambda: exact_interp.forward([50], [0, 10], [0.0, 1.0], right=np.float16(0.5)).tolist(), [0.5]),
        (lambda: exact_interp.forward([50], [0, 10], [0.0, 1.0], right=np.longdouble(2)).tolist(), [2.0]),
        (lambda: exact_interp.forward([50], [0, 10], [0.0, 1.0], right=np.array(2.0)).tolist(), [2.0]),
        # ndarray subclasses other than masked arrays: their data, through every entry
        (lambda: exact_interp.Interpolator(np.array([0, 4], np.uint64).view(np.recarray),
                                           np.array([0.0, 8.0]).view(np.recarray)).forward([1]).tolist(), [2.0]),
        (lambda: exact_interp.forward(np.array([1], np.uint64).view(np.recarray), np.array([0, 4], np.uint64),
                                      np.array([0.0, 8.0]).view(np.recarray)).tolist(), [2.0]),
        (lambda: exact_interp.inverse(np.array([2.0]).view(np.recarray), np.array([0, 4], np.uint64),
                                      np.array([0.0, 8.0]).view(np.recarray)).tolist(), [1]),
        # knots at equal positions: the first or the last of each run kept, by every entry and kind
        (lambda: exact_interp.forward([5, 15], [0, 10, 10, 20], [0, 1, 5, 7], duplicates="first").tolist(), [0, 4]),
        (lambda: exact_interp.forward([5, 15], [0, 10, 10, 20], [0, 1, 5, 7], duplicates="last").tolist(), [2, 6]),
        (lambda: exact_interp.forward(U * 5, np.array([0, 10, 10], np.uint64), np.array([0, 10, 50]),
                                      duplicates="last").tolist(), [0, 50]),
        (lambda: exact_interp.Interpolator(np.array([0, 10, 10, 20], np.uint64), np.array([0.0, 1.0, 5.0, 7.0]),
                                           duplicates="first").forward(np.array([15], np.uint64)).tolist(), [4.0]),
        (lambda: exact_interp.forward([5], [0, 10, 10, 20], [[0, 1], [1, 2], [5, 6], [7, 8]],
                                      duplicates="last").tolist(), [[2, 4]]),
        (lambda: exact_interp.inverse([3, 6], np.array([0, 10, 10, 20], "M8[s]"), [0, 4, 4, 8], "nearest",
                                      duplicates="first").astype(np.int64).tolist(), [8, 15]),
        # containers kept: pandas Index kinds, Polars Int128, all-null Arrow, xarray value columns' own dimension
        (lambda: type(exact_interp.forward(pd.RangeIndex(3), [0, 10], [0, 7])).__name__, "Index"),
        (lambda: exact_interp.forward(pd.CategoricalIndex([1, 2]), [0, 10], [0, 7]).tolist(), [1, 1]),
        (lambda: exact_interp.forward(pl.Series([1], dtype=pl.Int128), [0, 10], [0, 7]).to_list(), [1]),
        (lambda: exact_interp.forward(pa.array([None, None]), [0, 10], [0, 7], missing=-1).to_pylist(), [-1, -1]),
        (lambda: exact_interp.forward(xr.DataArray([1, 2], dims="t"), [0, 10],
                                      xr.DataArray([[0, 1], [7, 8]], dims=("k", "ch"), coords={"ch": ["a", "b"]})
                                      ).coords["ch"].values.tolist(), ["a", "b"]),
        # Arrow-backed tz-aware timestamps as their NumPy-backed twins
        (lambda: exact_interp.forward(_berlin_on_arrow()[0], pd.to_datetime(["1999", "2001"], utc=True).as_unit("ns"),
                                      [0, 10**18]).tolist(),
         lambda: exact_interp.forward(_berlin_on_arrow()[1], pd.to_datetime(["1999", "2001"], utc=True).as_unit("ns"),
                                      [0, 10**18]).tolist()),
    ],
)
def test_audited_inputs_convert_exactly(got, want):
    assert got() == (want() if callable(want) else want)


def test_fatal_error_class_survives_reload():
    import importlib

    before = exact_interp.FatalError
    importlib.reload(exact_interp)
    assert exact_interp.FatalError is before
    with pytest.raises(exact_interp.FatalError, match="assertion failed"):
        exact_interp.forward_float(np.array([1], np.uint64), np.array([0, 2], np.uint64), np.array([0.0, np.nan]))


# Shapes and containers.

def _from_arrow(r):
    """An Arrow result as NumPy: value columns are fixed-size lists."""
    if pa.types.is_fixed_size_list(r.type):
        return np.asarray(r.flatten().to_numpy()).reshape(len(r), r.type.list_size)
    return np.asarray(r.to_numpy(zero_copy_only=False))


# A query array in each container the front end takes, and the result back as NumPy.
# None for containers of one dimension asked for another shape.
QUERY_CONTAINERS = {
    "C order": (lambda a: a, lambda r: r),
    "F order": (lambda a: np.asfortranarray(a) if a.ndim else None, lambda r: r),
    "strided": (lambda a: np.repeat(a, 2, axis=-1)[..., ::2] if a.ndim else a, lambda r: r),
    "nested list": (lambda a: a.tolist() if np.shape(a.tolist()) == a.shape else None, lambda r: r),  # not [] as (0, 0)
    "xarray": (lambda a: xr.DataArray(a, dims=[f"d{k}" for k in range(a.ndim)], name="q") if a.ndim else None,
               lambda r: (r.name == "q" or None) and r.values),
    "Series": (lambda a: pd.Series(a, name="q") if a.ndim == 1 else None,  # value columns: a DataFrame
               lambda r: (isinstance(r, pd.DataFrame) or r.name == "q" or None) and r.to_numpy()),
    "Index": (lambda a: pd.Index(a) if a.ndim == 1 else None,
              lambda r: isinstance(r, (pd.Index, pd.DataFrame)) and r.to_numpy()),
    "Arrow": (lambda a: pa.array(a) if a.ndim == 1 else None, lambda r: isinstance(r, pa.Array) and _from_arrow(r)),
    "Arrow chunked": (lambda a: pa.chunked_array([a[:1], a[1:]], type=pa.int64()) if a.ndim == 1 else None,
                      lambda r: isinstance(r, pa.ChunkedArray) and _from_arrow(r.combine_chunks())),
    "Polars": (lambda a: pl.Series("q", a) if a.ndim == 1 else None,
               lambda r: isinstance(r, pl.Series) and r.name == "q" and r.to_numpy()),
}
# the containers whose library is installed
AVAILABLE = sorted(k for k in QUERY_CONTAINERS if {"xarray": xr, "Series": pd, "Index": pd, "Arrow": pa,
                                                   "Arrow chunked": pa, "Polars": pl}.get(k, True))


@settings(max_examples=examples(200), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(shape=st.lists(st.integers(0, 3), max_size=3).map(tuple), container=st.sampled_from(AVAILABLE),
       entry=st.sampled_from(["forward", "inverse", "Interpolator"]), columns=st.sampled_from([None, (1,), (2, 3)]),
       data=st.data())
def test_any_shape_and_container_is_the_flat_call(shape, container, entry, columns, data):
    make, back = QUERY_CONTAINERS[container]
    xp = np.array([-(10**12), 0, 10**12], np.int64)  # signed positions: the front end's keys
    fp = np.array([-5, 7, 2**40], np.int64)
    axis = fp if entry == "inverse" else xp
    n = int(np.prod(shape))
    flat = np.array(data.draw(st.lists(st.integers(int(axis[0]), int(axis[-1])), min_size=n, max_size=n)), np.int64)
    q = make(flat.reshape(shape))
    if q is None:
        return
    if entry == "inverse":
        columns = None  # value columns: the forward's
        got = exact_interp.inverse(q, xp, fp, "nearest")
        want = exact_interp.inverse(flat, xp, fp, "nearest")
    else:
        table = fp if columns is None else (fp[:, None] * np.arange(1, int(np.prod(columns)) + 1)).reshape(3, *columns)
        got = exact_interp.Interpolator(xp, table).forward(q) if entry == "Interpolator" else \
            exact_interp.forward(q, xp, table)
        want = np.stack([exact_interp.forward(flat, xp, c) for c in table.reshape(3, -1).T], axis=-1) \
            if columns is not None else exact_interp.forward(flat, xp, fp)
    want = want.reshape(shape + (columns or ()))
    if not shape and container not in ("xarray",):  # a scalar query: a scalar
        assert np.ndim(got) == len(columns or ()) and np.asarray(got).tolist() == want.tolist()
        return
    out = back(got)
    assert out is not None and out is not False, (container, type(got))
    out = np.asarray(out)
    if container in ("Arrow", "Arrow chunked", "Polars", "Series", "Index") and len(want.shape) > 2:
        out = out.reshape(want.shape)  # containers of at most two dimensions hold the columns flat
    assert out.shape == want.shape and out.tolist() == want.tolist()


@pytest.mark.parametrize("columns", [(), (2,), (2, 3)])
@pytest.mark.parametrize("interpolator", [False, True])
def test_dask_takes_any_shape(columns, interpolator):
    da = pytest.importorskip("dask.array", reason="needs dask[array]")

    xp = np.array([0, 10**9], np.int64)
    fp = (np.array([0, 3], np.int64).reshape((2,) + (1,) * len(columns)) * np.arange(1, int(np.prod(columns)) + 1)
          .reshape(columns))
    q = np.arange(0, 10**9, 10**7, dtype=np.int64).reshape(4, 25)
    table = (exact_interp.Interpolator(xp, fp),) if interpolator else (xp, fp)
    lazy = ed.forward(da.from_array(q, chunks=(2, 10)), *table)
    want = exact_interp.forward(q, xp, fp)
    assert lazy.shape == want.shape == q.shape + columns and lazy.compute().tolist() == want.tolist()


@pytest.mark.parametrize("knots", [2, 64, 100, 1000])
@pytest.mark.parametrize("length", [1, 63, 64, 65, 320, 5000])
@pytest.mark.parametrize("values", [np.int64, np.float64])
@pytest.mark.parametrize("entry", ["forward", "Interpolator"])
def test_value_columns_are_each_columns_own_call(knots, length, values, entry):
    """Unsorted queries over tables of every size: element by element the one-column calls' answers."""
    rng = np.random.default_rng(knots * length)
    xp = np.arange(0, 10 * knots, 10, dtype=np.uint64)
    fp = np.stack([np.arange(knots) * 3, np.arange(knots)[::-1] * -5, rng.integers(-10**6, 10**6, knots)], 1)
    fp = fp.astype(values)
    x = rng.integers(0, 10 * (knots - 1), length).astype(np.uint64)
    for workers in (1, 2):
        got = exact_interp.Interpolator(xp, fp).forward(x, workers=workers) if entry == "Interpolator" else \
            exact_interp.forward(x, xp, fp, workers=workers)
        for j in range(fp.shape[1]):
            np.testing.assert_array_equal(got[:, j], exact_interp.forward(x, xp, np.ascontiguousarray(fp[:, j])))
