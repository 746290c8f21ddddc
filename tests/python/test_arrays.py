"""Which objects are accepted as array arguments, how they are read, and the
result arrays."""

import re

import numpy as np
import pytest
from helpers import Nul, assert_note, f64, i64, u64

XP = u64(0, 10, 20)
FP_I = i64(0, 100, 400)
FP_F = f64(0.0, 1.5, 2.0)


_DEFAULT = object()


def call(functions, name, q=_DEFAULT, xp=_DEFAULT, fp=_DEFAULT):
    """One of the four functions with defaults for the arguments not given."""
    is_int = name.endswith("_int")
    if q is _DEFAULT:
        q = u64(5, 15) if name.startswith("forward") else (i64(50, 200) if is_int else f64(0.75, 1.75))
    if xp is _DEFAULT:
        xp = XP
    if fp is _DEFAULT:
        fp = FP_I if is_int else FP_F
    if name.startswith("inverse"):
        return getattr(functions, name)(q, xp, fp, "nearest")
    return getattr(functions, name)(q, xp, fp)


NAMES = ["forward_int", "forward_float", "inverse_int", "inverse_float"]


def message(param, type_name):
    wanted = f"argument '{param}': '{type_name}' object cannot be converted to 'PyArray<T, D>'"
    return "^" + re.escape(wanted) + r"(\n|\Z)"  # a note may follow


class Sub(np.ndarray):
    pass


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize(
    "value, type_name",
    [
        ([1, 2], "list"),
        ((1, 2), "tuple"),
        (5, "int"),
        (None, "NoneType"),
        (np.uint64(5), "uint64"),
        (np.zeros((), np.uint64), "ndarray"),
        (np.zeros((2, 2), np.uint64), "ndarray"),
        (np.zeros((2, 2), np.int64), "ndarray"),
        (np.zeros((2, 2), np.float64).view(Sub), "Sub"),
        (Nul(), "a\x00b"),
    ],
)
def test_non_arrays_and_wrong_dimensions(functions, name, value, type_name):
    query = "x" if name.startswith("forward") else "f"
    for param in (query, "xp", "fp"):
        kwargs = {"q" if param == query else param: value}
        with pytest.raises(TypeError, match=message(param, type_name)) as info:
            call(functions, name, **kwargs)
        given = f"with {value.ndim} dimensions" if isinstance(value, np.ndarray) else f"of type '{type_name[:1]}"
        assert_note(functions, info.value, f"{param} must be a one-dimensional NumPy array of {wanted(name, param)}; "
                                           f"given an {'array' if isinstance(value, np.ndarray) else 'object'}")
        assert_note(functions, info.value, given)


def wanted(name, param):
    """The dtype a parameter of a typed function takes."""
    if param in ("x", "xp"):
        return "uint64"
    return "int64" if name.endswith("_int") else "float64"


@pytest.mark.parametrize(
    "name, param, dtype",
    [
        ("forward_int", "x", np.int64),
        ("forward_int", "xp", np.int64),
        ("forward_int", "fp", np.uint64),
        ("forward_float", "fp", np.int64),
        ("forward_float", "x", np.float64),
        ("inverse_int", "f", np.uint64),
        ("inverse_int", "f", np.float64),
        ("inverse_float", "f", np.int64),
        ("inverse_float", "fp", np.float32),
        ("forward_int", "x", np.int32),
        ("forward_int", "x", np.uint32),
        ("forward_int", "x", np.dtype(">u8") if np.little_endian else np.dtype("<u8")),
        ("inverse_float", "f", np.dtype(">f8") if np.little_endian else np.dtype("<f8")),
        ("forward_int", "xp", np.object_),
    ],
)
def test_dtype_must_be_equivalent(functions, name, param, dtype):
    value = np.zeros(2, dtype=dtype)
    key = "q" if param in ("x", "f") else param
    with pytest.raises(TypeError, match=message(param, "ndarray")) as info:
        call(functions, name, **{key: value})
    assert_note(functions, info.value, f"{param} must be a one-dimensional NumPy array of {wanted(name, param)}; "
                                       f"given an array of {value.dtype} with 1 dimension.")


@pytest.mark.parametrize("name", NAMES)
def test_strided_views_read_like_contiguous_copies(functions, name):
    is_int = name.endswith("_int")
    forward = name.startswith("forward")
    base_q = u64(*range(0, 21, 2)) if forward else (i64(*range(0, 401, 40)) if is_int else f64(*np.linspace(0, 2, 11)))
    expected = call(functions, name, q=base_q.copy())
    reversed_q = base_q[::-1].copy()[::-1]  # a reversed view of a reversed copy reads in the original order
    assert call(functions, name, q=reversed_q).tolist() == expected.tolist()
    doubled = np.repeat(base_q, 2)[::2]
    assert call(functions, name, q=doubled).tolist() == expected.tolist()
    backwards = base_q[::-1]
    assert call(functions, name, q=backwards).tolist() == call(functions, name, q=backwards.copy()).tolist()
    # reversed and strided knots
    xp_view = XP[::-1].copy()[::-1]
    fp = FP_I if is_int else FP_F
    fp_view = np.repeat(fp, 3)[::3]
    assert call(functions, name, q=base_q, xp=xp_view, fp=fp_view).tolist() == expected.tolist()


def test_stride_zero_query_and_knots(functions):
    one = np.lib.stride_tricks.as_strided(u64(7), shape=(5,), strides=(0,))
    assert functions.forward_int(one, XP, FP_I).tolist() == [70] * 5
    same = np.lib.stride_tricks.as_strided(u64(3), shape=(2,), strides=(0,))
    with pytest.raises(ValueError, match="xp must be strictly increasing"):
        functions.forward_int(u64(3), same, i64(1, 2))
    # a single-element stride-0 table is fine
    single = np.lib.stride_tricks.as_strided(u64(3), shape=(1,), strides=(0,))
    assert functions.forward_int(u64(3), single, i64(9)).tolist() == [9]


def packed(values, dtype):
    """The field of a packed structured array: stride 12, misaligned reads."""
    rec = np.zeros(len(values), dtype=np.dtype([("v", dtype), ("pad", np.uint32)], align=False))
    rec["v"] = values
    assert rec["v"].strides == (12,)
    return rec["v"]


@pytest.mark.parametrize("name", NAMES)
def test_packed_structured_field(functions, name):
    forward = name.startswith("forward")
    is_int = name.endswith("_int")
    q = [1, 9, 10, 19] if forward else ([1, 99, 150, 399] if is_int else [0.25, 1.25, 1.6, 1.99])
    dtype = np.uint64 if forward else (np.int64 if is_int else np.float64)
    field = packed(q, dtype)
    xp_field = packed(XP.tolist(), np.uint64)
    fp = FP_I if is_int else FP_F
    fp_field = packed(fp.tolist(), fp.dtype)
    got = call(functions, name, q=field, xp=xp_field, fp=fp_field)
    want = call(functions, name, q=np.array(q, dtype=dtype))
    assert got.tobytes() == want.tobytes()


def test_misaligned_buffer(functions):
    raw = np.zeros(8 * 4 + 1, dtype=np.uint8)
    q = np.frombuffer(raw.data, dtype=np.uint64, count=4, offset=1)
    assert not q.flags.aligned
    raw[1:] = u64(0, 5, 10, 20).view(np.uint8)
    assert functions.forward_int(q, XP, FP_I).tolist() == [0, 50, 100, 400]


def test_subclass_and_read_only_are_accepted(functions):
    q = u64(5, 15).view(Sub)
    xp = XP.copy()
    xp.flags.writeable = False
    assert functions.forward_int(q, xp, FP_I).tolist() == [50, 250]


@pytest.mark.parametrize("name", NAMES)
def test_empty_arguments(functions, name):
    forward = name.startswith("forward")
    is_int = name.endswith("_int")
    empty_q = np.array([], dtype=np.uint64 if forward else (np.int64 if is_int else np.float64))
    r = call(functions, name, q=empty_q)
    want = np.int64 if name == "forward_int" else np.float64 if name == "forward_float" else np.uint64
    assert r.dtype == want and r.shape == (0,)
    empty_fp = np.array([], dtype=np.int64 if is_int else np.float64)
    r = call(functions, name, q=empty_q, xp=u64(), fp=empty_fp)
    assert r.shape == (0,)
    # a non-increasing table is not consulted when there is nothing to evaluate
    bad_fp = np.array([3, 3, 3], dtype=empty_fp.dtype)
    assert call(functions, name, q=empty_q, xp=u64(5, 5, 5), fp=bad_fp).shape == (0,)


@pytest.mark.parametrize("name", NAMES)
def test_result_array(functions, name):
    r = call(functions, name)
    want = np.int64 if name == "forward_int" else np.float64 if name == "forward_float" else np.uint64
    assert r.dtype == np.dtype(want)
    assert r.ndim == 1 and r.shape == (2,)
    assert r.flags.c_contiguous and r.flags.aligned and r.flags.writeable
    assert r.flags.owndata and r.base is None
    assert type(r) is np.ndarray


def snapshot(*arrays):
    return [(a.tobytes(), a.flags.writeable, a.flags.c_contiguous, a.strides, a.dtype) for a in arrays]


@pytest.mark.parametrize("name", NAMES)
def test_results_are_independent_and_arguments_untouched(functions, name):
    is_int = name.endswith("_int")
    q = u64(0, 5, 20) if name.startswith("forward") else (i64(0, 50, 400) if is_int else f64(0.0, 0.75, 2.0))
    xp, fp = XP.copy(), (FP_I if is_int else FP_F).copy()
    before = snapshot(q, xp, fp)
    r = call(functions, name, q, xp, fp)
    assert not np.shares_memory(r, q) and not np.shares_memory(r, xp) and not np.shares_memory(r, fp)
    r[:] = 0
    assert snapshot(q, xp, fp) == before
    # and after failing calls
    for bad in (u64(99) if name.startswith("forward") else np.array([10**6], dtype=q.dtype),):
        with pytest.raises((IndexError, KeyError)):
            getattr(functions, name)(bad, xp, fp)
    with pytest.raises(BaseException):
        getattr(functions, name)(q, xp, fp[:2])
    assert snapshot(q, xp, fp) == before
