"""exact_interp for parallel use: exact_interp.dask on the threaded scheduler
and on a real dask.distributed cluster of two worker processes (started and
closed here, on the loopback), and the wrappers under multiprocessing and
concurrent.futures. Results bit for bit as one call, errors with their
messages, fatal errors as FatalError, and never a hang: every wait has a
timeout that fails the test."""

import concurrent.futures
import multiprocessing
import pickle
import subprocess
import sys
import time
from functools import partial

import numpy as np
import pytest

pytestmark = pytest.mark.dask
dask = pytest.importorskip("dask", reason="exact_interp.dask needs dask[array]")
da = pytest.importorskip("dask.array", reason="exact_interp.dask needs dask[array]")
distributed = pytest.importorskip("distributed", reason="the cluster tests need distributed")
Client, LocalCluster = distributed.Client, distributed.LocalCluster

import exact_interp
import exact_interp.dask as ed

RNG = np.random.default_rng(2024)
XP = np.cumsum(RNG.integers(1, 10**9, size=300, dtype=np.uint64), dtype=np.uint64) + np.uint64(2**62)
FPI = np.cumsum(RNG.integers(1, 10**6, size=300)).astype(np.int64) - 10**7
FPF = np.cumsum(RNG.random(300)) - 40.0
TIMEOUT = 60  # seconds: a computation that takes longer has hung


def query(name, size):
    if name.startswith("forward"):
        return RNG.integers(int(XP[0]), int(XP[-1]), size=size, dtype=np.uint64)
    if name == "inverse_int":
        return RNG.integers(int(FPI[0]), int(FPI[-1]), size=size).astype(np.int64)
    return RNG.uniform(FPF[0], FPF[-1], size=size)


def table(name):
    return XP, FPI if name.endswith("_int") else FPF


CASES = [("forward_int", ()), ("forward_float", ()), ("inverse_int", ("nearest",)), ("inverse_float", ("bfill",))]


@pytest.fixture(scope="module")
def client():
    with LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address="127.0.0.1:0"
    ) as cluster, Client(cluster) as c:
        yield c


@pytest.fixture(params=["threads", "cluster"])
def compute(request):
    if request.param == "threads":
        return lambda lazy: lazy.compute(scheduler="threads")
    c = request.getfixturevalue("client")
    return lambda lazy: c.compute(lazy).result(timeout=TIMEOUT)


def beyond(q):
    """The query stretched a tenth beyond both ends of the table."""
    lo, hi = q.min(), q.max()
    if q.dtype.kind == "f":
        return q + (q - lo) / 5 - (hi - lo) / 10
    span = (hi - lo) // q.dtype.type(5)
    return (q - lo) + (q - lo) // q.dtype.type(5) + lo - span // q.dtype.type(2)


def frames():
    """dask.dataframe and pandas, or a skip saying what is missing."""
    pd = pytest.importorskip("pandas", reason="a Dask Series needs pandas")
    return pytest.importorskip("dask.dataframe", reason="a Dask Series needs dask[dataframe]"), pd


def lazy_query(q, chunks, container):
    """q as a Dask array of these chunks, or as a Dask Series of as many partitions (its index not 0 … n-1)."""
    if container == "array":
        return da.from_array(q, chunks=chunks)
    dd, pd = frames()
    series = pd.Series(q, index=np.arange(len(q)) * 3 + 5, name="query")
    return dd.from_pandas(series, npartitions=max(1, min(len(q) // chunks, 50)), sort=False)


def computed_array(lazy, result, container):
    """A computed result as a NumPy array; a Series's index and name checked on the way."""
    if container == "array":
        return result
    assert result.name == "query" and (result.index == np.arange(len(result)) * 3 + 5).all()
    return result.to_numpy()


@pytest.mark.parametrize("rules", [{}, {"left": "extrapolate", "right": "clamp"}, {"left": -3, "right": "extrapolate"}])
@pytest.mark.parametrize("given", ["arrays", "Interpolator"])
@pytest.mark.parametrize("name, args", CASES)
@pytest.mark.parametrize("chunks, size, container", [(1, 40, "array"), (777, 20_000, "array"),
                                                     (50_000, 50_000, "array"), (10, 0, "array"),
                                                     (777, 20_000, "series"), (10, 0, "series")])
def test_matches_one_call(rust, compute, name, args, chunks, size, container, given, rules):
    q = query(name, size)
    if rules:  # the GIL-free function with the same rules as the reference
        q = beyond(q) if size else q
        rules = {k: (float(v) if name == "forward_float" else abs(v)) if isinstance(v, int) else v
                 for k, v in rules.items()}
        whole = getattr(exact_interp, name)(q, *table(name), *args, **rules)
    else:
        whole = getattr(rust, name)(q, *table(name), *args)
    knots = table(name) if given == "arrays" else (exact_interp.Interpolator(*table(name)), None)
    lazy = getattr(ed, name)(lazy_query(q, chunks, container), *knots, *args, **rules)
    assert lazy.dtype == whole.dtype
    if container == "array":
        assert lazy.chunks == da.from_array(q, chunks=chunks).chunks
    result = computed_array(lazy, compute(lazy), container)
    assert result.dtype == whole.dtype
    assert result.tobytes() == whole.tobytes()


def with_element(name, index, value, size=1000):
    q = query(name, size)
    q[index] = value
    return q


@pytest.mark.parametrize("container", ["array", "series"])
def test_any_kinds_block_by_block(compute, container):
    # timestamps before and after 1970 to a sample counter and back, queries in another unit
    clock = np.array(["1969-07-20T20:17:40", "1970-01-01", "2026-12-08T12:00:00.000000001"], "M8[ns]")
    samples = np.array([-(10**15), 0, 10**15], np.int64)
    first, last = clock[0].astype(np.int64) // 1000, clock[-1].astype(np.int64) // 1000
    q = np.sort(RNG.integers(first, last, 5000)).view("M8[us]")
    lazy = ed.forward(lazy_query(q, 777, container), clock, samples)
    whole = exact_interp.forward(q, clock, samples)
    assert lazy.dtype == whole.dtype and computed_array(lazy, compute(lazy), container).tobytes() == whole.tobytes()
    back = ed.inverse(lazy, exact_interp.Interpolator(clock, samples), method="nearest")
    assert back.dtype == clock.dtype
    back_whole = exact_interp.inverse(whole, clock, samples, "nearest")
    assert computed_array(back, compute(back), container).tobytes() == back_whole.tobytes()
    with pytest.raises(TypeError, match="argument 'x': int64 positions cannot be ordered with datetime64"):
        ed.forward(lazy_query(samples, 1, container), clock, samples)
    # outside the clock and missing samples, block by block as in one call
    q[::97] = np.datetime64("NaT", "us")
    rules = {"left": "extrapolate", "right": np.int64(-1), "missing": 0}
    stretched = q - np.timedelta64(10**15, "us")
    lazy = ed.forward(lazy_query(stretched, 777, container), clock, samples, **rules)
    result = computed_array(lazy, compute(lazy), container)
    assert result.tobytes() == exact_interp.forward(stretched, clock, samples, **rules).tobytes()
    with pytest.raises(ValueError, match="missing must be 'raise' or a fill value"):
        ed.inverse(lazy, clock, samples, missing="clamp")


ERRORS = [
    ("forward_int", (), lambda: with_element("forward_int", 250, XP[-1] + np.uint64(1)), IndexError, "x out of bounds"),
    ("inverse_int", ("ffill",), lambda: with_element("inverse_int", 250, FPI[0] - 1), KeyError, "f out of bounds"),
    ("inverse_float", (), lambda: with_element("inverse_float", 250, (FPF[3] + FPF[4]) / 2), KeyError, "f not found"),
    ("forward_float", (), None, ValueError, "xp must be strictly increasing"),
]


@pytest.mark.parametrize("name, args, make_query, error, message", ERRORS)
def test_errors_arrive_with_their_message(compute, name, args, make_query, error, message):
    xp, fp = table(name)
    if make_query is None:  # a table that is not increasing, known only once a block runs
        xp = xp.copy()
        xp[[10, 11]] = xp[[11, 10]]
    q = query(name, 1000) if make_query is None else make_query()
    lazy = getattr(ed, name)(da.from_array(q, chunks=100), xp, fp, *args)
    with pytest.raises(error, match=message):
        compute(lazy)


@pytest.mark.parametrize(
    "name, q, fp, message",
    [
        ("inverse_float", np.array([0.5, np.nan]), np.array([0.0, 1.0]), "nan or inf encountered"),
        ("forward_float", np.array([1, 2], np.uint64), np.array([0.0, np.inf]), "assertion failed: value.is_finite()"),
    ],
)
def test_fatal_error_arrives_as_fatal_error_and_the_cluster_goes_on(rust, compute, name, q, fp, message):
    xp = np.array([0, 10], np.uint64)
    lazy = getattr(ed, name)(da.from_array(q, chunks=1), xp, fp)
    start = time.monotonic()
    with pytest.raises(exact_interp.FatalError) as info:
        compute(lazy)
    assert time.monotonic() - start < 10
    assert info.value.args == (message,)
    q = query("forward_int", 5000)
    lazy = ed.forward_int(da.from_array(q, chunks=500), XP, FPI)
    assert compute(lazy).tobytes() == rust.forward_int(q, XP, FPI).tobytes()


def test_arguments_are_checked_when_the_graph_is_built():
    x = da.from_array(query("forward_int", 10), chunks=5)
    with pytest.raises(TypeError, match="argument 'x': a one-dimensional dask array of uint64 is required"):
        ed.forward_int(x.astype(np.int64), XP, FPI)
    with pytest.raises(TypeError, match="argument 'f': .* not 'ndarray'"):
        ed.inverse_int(query("inverse_int", 10), XP, FPI)
    with pytest.raises(TypeError, match="argument 'fp': 'ndarray' object cannot be converted"):
        ed.forward_int(x, XP, FPF)
    with pytest.raises(ValueError, match="method must be either"):
        ed.inverse_int(da.from_array(query("inverse_int", 10), chunks=5), XP, FPI, "nearer")  # type: ignore[arg-type]
    with pytest.raises(exact_interp.FatalError, match=r"^xp and fp must have same length(\n|\Z)"):
        ed.forward_int(x, XP, FPI[:-1])
    with pytest.raises(TypeError, match=r"forward_int\(\) takes an Interpolator of int64 values alone"):
        ed.forward_int(x, exact_interp.Interpolator(XP, FPF))
    with pytest.raises(TypeError, match="Interpolator of float64 values alone"):
        ed.forward_float(x, exact_interp.Interpolator(XP, FPF), FPF)  # type: ignore[call-overload]
    with pytest.raises(ValueError, match="method must be either"):
        ed.inverse_int(da.from_array(query("inverse_int", 10), chunks=5), exact_interp.Interpolator(XP, FPI),
                       method="nearer")  # type: ignore[call-overload]


def test_a_dask_series_is_checked_when_the_graph_is_built_and_a_frame_refused():
    dd, pd = frames()
    frame = dd.from_pandas(pd.DataFrame({"x": query("forward_int", 10), "f": query("inverse_int", 10)}),
                           npartitions=2)
    with pytest.raises(TypeError, match="argument 'x': a dask DataFrame holds columns, not positions or values; "
                                        "pass one of its columns"):
        ed.forward(frame, XP, FPI)
    with pytest.raises(TypeError, match="argument 'f': a dask DataFrame holds columns"):
        ed.inverse_float(frame, XP, FPF)
    with pytest.raises(TypeError, match="argument 'x': a dask Series of uint64 is required, not one of int64"):
        ed.forward_int(frame["f"], XP, FPI)
    with pytest.raises(TypeError, match="argument 'f': float values cannot be compared exactly with integer values"):
        ed.inverse(frame["f"].astype(np.float64), XP, FPI)
    with pytest.raises(ValueError, match="method must be either"):
        ed.inverse(frame["f"], XP, FPI, "nearer")  # type: ignore[arg-type]
    # value columns: a Dask DataFrame of the columns, lazy with its dtypes known
    lazy = ed.forward(frame["x"], XP, np.stack([FPI, FPI + 1], axis=1))
    assert isinstance(lazy, dd.DataFrame) and list(lazy.dtypes) == [np.dtype(np.int64)] * 2
    whole = exact_interp.forward(frame["x"].compute(), XP, np.stack([FPI, FPI + 1], axis=1))
    pd.testing.assert_frame_equal(lazy.compute(scheduler="threads"), whole)


def test_the_table_is_one_key_of_the_graph():
    # 10^5 knots over 40 blocks: embedded in every task the graph would carry 40 copies.
    xp = np.arange(10**5, dtype=np.uint64) * np.uint64(1000)
    fp = np.arange(10**5, dtype=np.int64)
    lazy = ed.forward_int(da.from_array(np.arange(4000, dtype=np.uint64), chunks=100), xp, fp)
    graph = dict(lazy.__dask_graph__())
    size = len(pickle.dumps(graph))
    assert xp.nbytes + fp.nbytes < size < 1.5 * (xp.nbytes + fp.nbytes)


def spawn_pool_call(pool_kind, fn, *args):
    context = multiprocessing.get_context("spawn")
    if pool_kind == "Pool":
        with context.Pool(1) as pool:
            return pool.apply_async(fn, args).get(timeout=TIMEOUT)
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
        return pool.submit(fn, *args).result(timeout=TIMEOUT)


@pytest.mark.parametrize("pool_kind", ["Pool", "ProcessPoolExecutor"])
def test_wrappers_in_worker_processes(rust, pool_kind):
    xp, fp = np.array([0, 10], np.uint64), np.array([0.0, 1.0])
    ok = spawn_pool_call(pool_kind, exact_interp.inverse_float, np.array([0.5]), xp, fp, "nearest")
    assert ok.tolist() == rust.inverse_float(np.array([0.5]), xp, fp, "nearest").tolist()
    with pytest.raises(exact_interp.FatalError) as info:
        spawn_pool_call(pool_kind, exact_interp.inverse_float, np.array([0.5, np.nan]), xp, fp)
    assert info.value.args == ("nan or inf encountered",)
    with pytest.raises(IndexError, match="x out of bounds"):
        spawn_pool_call(pool_kind, partial(exact_interp.forward_float, xp=xp, fp=fp), np.array([11], np.uint64))


def test_wrapper_passes_other_errors_and_results_unchanged(rust):
    xp, fp = np.array([0, 10], np.uint64), np.array([0, 100], np.int64)
    assert exact_interp.forward_int(np.array([5], np.uint64), xp, fp).tolist() == [50]
    with pytest.raises(KeyError, match="f not found"):
        exact_interp.inverse_int(np.array([5], np.int64), xp, fp)
    with pytest.raises(TypeError, match="argument 'x'"):
        exact_interp.forward_int([5], xp, fp)  # type: ignore[arg-type]
    error = exact_interp.FatalError("nan or inf encountered")
    assert isinstance(error, RuntimeError) and error.args == ("nan or inf encountered",)
    assert error.__cause__ is None and "PanicException" in exact_interp.FatalError.__doc__


def run_python(code, stdin=b""):
    return subprocess.run([sys.executable, "-c", code], input=stdin, capture_output=True, timeout=TIMEOUT)


def test_fatal_error_unpickles_where_rust_was_never_imported():
    try:
        exact_interp.inverse_float(np.array([np.nan]), np.array([0, 1], np.uint64), np.array([0.0, 1.0]))
    except exact_interp.FatalError as error:
        data = pickle.dumps(error)
    done = run_python(
        "import pickle, sys; e = pickle.loads(sys.stdin.buffer.read()); "
        "assert type(e).__qualname__ == 'FatalError' and e.args == ('nan or inf encountered',), e; "
        "assert 'rust' not in sys.modules and 'numpy' not in sys.modules",
        data,
    )
    assert done.returncode == 0, done.stderr.decode()


def test_without_dask_the_package_imports_and_the_dask_layer_says_what_to_install():
    done = run_python(
        "import sys; sys.modules['dask'] = None\n"
        "import exact_interp, importlib.metadata\n"
        "assert not {'rust', 'numpy', 'dask.array'} & set(sys.modules), sys.modules.keys()\n"
        "assert exact_interp.__version__ == importlib.metadata.version('exact-interp')\n"  # pyproject's, without NumPy
        "try:\n    import exact_interp.dask\nexcept ImportError as e:\n    print(e)\n"
        # every kind and shape of NumPy and Python data converts without the container libraries
        "import numpy as np\n"
        "t = exact_interp.Interpolator(np.array([0, 10], 'M8[s]'), [[0, 1], [2**62, 3]])\n"
        "t.forward([[np.datetime64(5, 's')]]), exact_interp.inverse([1.5], [-1, 1], [0.0, 2.0], 'nearest')\n"
        "assert not {'pandas', 'pyarrow', 'polars', 'xarray'} & set(sys.modules), sys.modules.keys()\n"
    )
    assert done.returncode == 0, done.stderr.decode()
    assert "pip install 'exact-interp[dask]'" in done.stdout.decode()

