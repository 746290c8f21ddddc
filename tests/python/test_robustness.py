"""The module inside someone else's interpreter: arbitrary arguments, many
threads at once, and memory it must only read."""

import mmap
import threading
import time

import numpy as np
import pytest
from helpers import f64, i64, u64

pytestmark = pytest.mark.hypothesis
pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import examples  # noqa: E402

NAMES = ["forward_int", "forward_float", "inverse_int", "inverse_float"]
DTYPES = [
    np.uint64, np.int64, np.float64, np.float32, np.int32, np.uint8, np.bool_, np.complex128, np.object_,
    np.dtype(">u8"), np.dtype(">i8"), np.dtype(">f8"), np.dtype("<u8"), np.dtype("<f8"), np.dtype("U3"),
]
SPECIAL_FLOATS = [np.nan, np.inf, -np.inf, 0.0, -0.0, 5e-324, 1.7976931348623157e308, -1.0, 0.5, 1e19]


@st.composite
def arrays(draw):
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    shape = draw(st.sampled_from([(), (0,), (1,), (2,), (5,), (17,), (2, 2), (3, 1)]))
    size = int(np.prod(shape)) if shape else 1
    if dtype.kind in "ui":
        info = np.iinfo(dtype)
        values = draw(st.lists(st.integers(int(info.min), int(info.max)), min_size=size, max_size=size))
    elif dtype.kind == "f":
        values = draw(st.lists(st.one_of(st.sampled_from(SPECIAL_FLOATS), st.floats(allow_nan=True)), min_size=size,
                               max_size=size))
    elif dtype.kind == "b":
        values = draw(st.lists(st.booleans(), min_size=size, max_size=size))
    elif dtype.kind == "c":
        values = [complex(1, 2)] * size
    else:
        values = ["ab"] * size if dtype.kind == "U" else [object()] * size
    with np.errstate(all="ignore"):
        a = np.array(values, dtype=dtype).reshape(shape)
    if draw(st.booleans()) and a.ndim == 1:
        a = np.sort(a) if dtype.kind in "uif" else a
    if a.ndim == 1 and a.size > 1:
        a = draw(st.sampled_from([a, a[::-1], a[::2], a[1:]]))
    if draw(st.booleans()):
        a.flags.writeable = False
    return a


OTHER = st.sampled_from([None, 0, 1.5, "nearest", b"x", [1, 2], (1,), {}, object(), np.uint64(3)])
METHODS = st.sampled_from([None, "nearest", "ffill", "bfill", "", "NEAREST", 3, b"bfill", "\udcff"])
DOCUMENTED = (TypeError, ValueError, IndexError, KeyError, MemoryError, UnicodeEncodeError)


def snapshot(obj):
    if isinstance(obj, np.ndarray):
        return ("array", obj.tobytes() if obj.dtype != object else id(obj), obj.flags.writeable, obj.dtype.str,
                obj.shape, obj.strides)
    return ("other", id(obj))


@settings(
    max_examples=examples(600), deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]
)
@given(
    name=st.sampled_from(NAMES),
    args=st.lists(st.one_of(arrays(), OTHER), min_size=0, max_size=5),
    method=st.one_of(st.none(), METHODS),
    by_keyword=st.booleans(),
)
def test_arbitrary_arguments_raise_only_documented_exceptions(functions, name, args, method, by_keyword):
    panic = panic_type(functions)
    kwargs = {}
    if name.startswith("inverse") and method is not None and len(args) <= 3:
        kwargs["method"] = method
    if by_keyword and len(args) == 3:
        first = "x" if name.startswith("forward") else "f"
        kwargs.update({first: args[0], "xp": args[1], "fp": args[2]})
        args = []
    before = [snapshot(a) for a in list(args) + list(kwargs.values())]
    try:
        result = getattr(functions, name)(*args, **kwargs)
    except DOCUMENTED:
        pass
    except panic:
        pass
    else:
        assert isinstance(result, np.ndarray) and result.ndim == 1
    assert [snapshot(a) for a in list(args) + list(kwargs.values())] == before


def panic_type(rust):
    try:
        rust.forward_int(u64(), u64(1), i64())
    except BaseException as e:  # noqa: B036
        return type(e)


def workloads(rng):
    xp = np.cumsum(rng.integers(1, 10**12, size=500, dtype=np.uint64), dtype=np.uint64)
    fpi = np.cumsum(rng.integers(1, 10**6, size=500)).astype(np.int64)
    fpf = np.cumsum(rng.random(500)) * 1e3
    x = rng.integers(int(xp[0]), int(xp[-1]), size=20_000, dtype=np.uint64)
    fi = rng.integers(int(fpi[0]), int(fpi[-1]), size=20_000).astype(np.int64)
    ff = rng.uniform(fpf[0], fpf[-1], size=20_000)
    return [
        ("forward_int", (x, xp, fpi)),
        ("forward_float", (x, xp, fpf)),
        ("inverse_int", (fi, xp, fpi, "nearest")),
        ("inverse_float", (ff, xp, fpf, "ffill")),
        ("inverse_int", (fi[:5], xp, fpi)),  # raises KeyError "f not found" mostly
    ]


def test_concurrent_threads_give_single_threaded_results(impl):
    jobs = workloads(np.random.default_rng(7))

    def run(name, args):
        try:
            return ("ok", getattr(impl, name)(*args).tobytes())
        except KeyError as e:
            return ("KeyError", e.args)

    expected = [run(name, args) for name, args in jobs]
    errors = []
    deadline = time.monotonic() + 1.5

    def worker(offset):
        k = offset
        while time.monotonic() < deadline:
            name, args = jobs[k % len(jobs)]
            if run(name, args) != expected[k % len(jobs)]:
                errors.append((offset, k))
                return
            k += 1

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert not any(t.is_alive() for t in threads)
    assert errors == []


def test_read_only_memory_mapped_file(impl, tmp_path):
    xp = np.arange(0, 1000, 10, dtype=np.uint64)
    fp = np.arange(100, dtype=np.int64) * 7
    x = np.arange(0, 991, 3, dtype=np.uint64)
    path = tmp_path / "table.bin"
    path.write_bytes(xp.tobytes() + fp.tobytes() + x.tobytes())
    with open(path, "rb") as f:
        mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        try:
            mxp = np.frombuffer(mm, dtype=np.uint64, count=100, offset=0)
            mfp = np.frombuffer(mm, dtype=np.int64, count=100, offset=800)
            mx = np.frombuffer(mm, dtype=np.uint64, count=x.size, offset=1600)
            assert not mxp.flags.writeable
            assert impl.forward_int(mx, mxp, mfp).tolist() == impl.forward_int(x, xp, fp).tolist()
            back = impl.inverse_int(mfp, mxp, mfp.view(np.int64), "nearest")
            assert back.tolist() == xp.tolist()
            del mxp, mfp, mx, back
        finally:
            mm.close()
    assert path.read_bytes() == xp.tobytes() + fp.tobytes() + x.tobytes()


@pytest.mark.parametrize("offset", [1, 3, 5, 7])
def test_misaligned_buffers_for_every_argument(impl, offset):
    def misaligned(values, dtype):
        raw = np.zeros(len(values) * 8 + offset, dtype=np.uint8)
        a = np.frombuffer(raw.data, dtype=dtype, count=len(values), offset=offset)
        raw[offset:] = np.asarray(values, dtype=dtype).view(np.uint8)
        assert not a.flags.aligned
        return a

    xp, fp = misaligned([0, 10, 20], np.uint64), misaligned([0.0, 1.0, 4.0], np.float64)
    x = misaligned([0, 5, 15, 20], np.uint64)
    assert impl.forward_float(x, xp, fp).tolist() == [0.0, 0.5, 2.5, 4.0]
    f = misaligned([0.5, 2.5], np.float64)
    assert impl.inverse_float(f, xp, fp, "nearest").tolist() == [5, 15]


def test_one_buffer_as_query_and_both_axes(impl):
    buf = u64(0, 3, 7, 20)
    before = buf.tobytes()
    assert impl.forward_int(buf, buf, buf.view(np.int64)).tolist() == [0, 3, 7, 20]
    fbuf = f64(0.0, 1.5, 2.0)
    assert impl.inverse_float(fbuf, fbuf.view(np.uint64), fbuf).tolist() == fbuf.view(np.uint64).tolist()
    assert buf.tobytes() == before
