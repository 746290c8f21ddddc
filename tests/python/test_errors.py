"""Evaluation errors, their precedence, PanicException and MemoryError."""

import numpy as np
import pytest
from helpers import assert_note, f64, i64, u64

PANIC_DOC_WORDS = ("invariant", "BaseException")


def panic_type(rust):
    try:
        rust.forward_int(u64(), u64(1, 2), i64(1))
    except BaseException as e:  # noqa: B036 - the type is what is under test
        return type(e)
    raise AssertionError("no exception")


def test_panic_exception_type(rust):
    t = panic_type(rust)
    assert t.__module__ == "pyo3_runtime"
    assert t.__name__ == "PanicException"
    assert t.__qualname__ == "PanicException"
    assert t.__bases__ == (BaseException,)
    assert not issubclass(t, Exception)
    assert all(w in t.__doc__ for w in PANIC_DOC_WORDS)
    assert not hasattr(rust, "PanicException")
    assert panic_type(rust) is t  # created once


def test_panic_is_not_caught_by_except_exception(rust):
    t = panic_type(rust)
    with pytest.raises(t) as info:
        try:
            rust.forward_int(u64(1), u64(1, 2, 3), i64(1, 2))
        except Exception:  # must not catch it
            pytest.fail("caught by except Exception")
    assert info.value.args == ("xp and fp must have same length",)
    # the module stays usable
    assert rust.forward_int(u64(1), u64(1, 2), i64(5, 6)).tolist() == [5]


@pytest.mark.parametrize(
    "call, message, note",
    [
        (lambda r: r.forward_int(u64(), u64(1, 2, 3), i64(1, 2)), "xp and fp must have same length",
         "len(xp) = 3, len(fp) = 2"),
        (lambda r: r.inverse_float(f64(), u64(), f64(1.0)), "xp and fp must have same length",
         "len(xp) = 0, len(fp) = 1"),
        (lambda r: r.forward_float(u64(1), u64(0, 2), f64(0.0, np.inf)), "assertion failed: value.is_finite()",
         "fp[1] = inf: "),
        (lambda r: r.forward_float(u64(1), u64(0, 2), f64(np.nan, np.inf)), "assertion failed: value.is_finite()",
         "fp[0] = nan: "),
        (lambda r: r.inverse_float(f64(np.nan), u64(0, 1), f64(0.0, 1.0)), "nan or inf encountered",
         "f[0] = nan cannot be searched for; missing="),
        (lambda r: r.inverse_float(f64(0.0), u64(3), f64(np.nan)), "nan or inf encountered", "fp[0] = nan: "),
        (lambda r: r.inverse_float(f64(0.5), u64(0, 1), f64(0.0, np.inf), "nearest"),
         "assertion failed: value.is_finite()", "fp[1] = inf: "),
    ],
)
def test_fatal_errors_carry_the_invariant(impl, call, message, note):
    with pytest.raises(panic_type(impl)) as info:
        call(impl)
    assert info.value.args == (message,)
    assert_note(impl, info.value, note)


@pytest.mark.parametrize(
    "call, exc, message, note",
    [
        (lambda r: r.forward_int(u64(0), u64(1, 2), i64(1, 2)), IndexError, "x out of bounds",
         "x[0] = 0 lies below the table, whose positions run from 1 to 2 (2 knots); left='clamp', left='extrapolate'"),
        (lambda r: r.forward_float(u64(3), u64(1, 2), f64(1, 2)), IndexError, "x out of bounds",
         "x[0] = 3 lies above the table, whose positions run from 1 to 2 (2 knots); right='clamp'"),
        (lambda r: r.forward_int(u64(1), u64(), i64()), IndexError, "x out of bounds",
         "x[0] = 1: the table has no knots"),
        (lambda r: r.inverse_int(i64(1), u64(), i64(), "nearest"), KeyError, "f out of bounds",
         "f[0] = 1: the table has no knots"),
        (lambda r: r.inverse_int(i64(0), u64(1, 2), i64(1, 2), "ffill"), KeyError, "f out of bounds",
         "f[0] = 0 lies below the table, whose values run from 1 to 2 (2 knots); left='clamp'"),
        (lambda r: r.inverse_int(i64(3), u64(1, 2), i64(1, 2), "bfill"), KeyError, "f out of bounds",
         "f[0] = 3 lies above the table, whose values run from 1 to 2 (2 knots); right='clamp'"),
        (lambda r: r.inverse_int(i64(1), u64(0, 10), i64(0, 4)), KeyError, "f not found",
         "f[0] = 1 lies between fp[0] = 0 and fp[1] = 4, at no whole position from xp[0] = 0 to xp[1] = 10; "
         "method='nearest', 'ffill' or 'bfill', or missing="),
        (lambda r: r.inverse_float(f64(0.1), u64(0, 10), f64(0, 1)), KeyError, "f not found",
         "f[0] = 0.1 lies between fp[0] = 0.0 and fp[1] = 1.0"),
        (lambda r: r.forward_int(u64(1), u64(1, 1, 2), i64(0, 1, 2)), ValueError, "xp must be strictly increasing",
         "xp[0] = 1 is not below xp[1] = 1: the positions must increase strictly"),
        (lambda r: r.forward_float(u64(100), u64(2, 1), f64(0, 1)), ValueError, "xp must be strictly increasing",
         "xp[0] = 2 is not below xp[1] = 1"),
        (lambda r: r.inverse_int(i64(10), u64(1, 2, 3), i64(0, 10, 10)), ValueError, "fp must be strictly increasing",
         "fp[1] = 10 is not below fp[2] = 10: the inverse needs values that increase strictly"),
        (lambda r: r.inverse_float(f64(0.0), u64(1, 2), f64(-0.0, 0.0)), ValueError, "fp must be strictly increasing",
         "fp[0] = -0.0 is not below fp[1] = 0.0"),
        (lambda r: r.inverse_float(f64(np.nan), u64(1, 2), f64(np.nan, 0.0)), ValueError,
         "fp must be strictly increasing", "fp[0] = nan is not below fp[1] = 0.0"),
    ],
)
def test_evaluation_errors(impl, call, exc, message, note):
    with pytest.raises(exc) as info:
        call(impl)
    assert type(info.value) is exc
    assert info.value.args == (message,)
    assert str(info.value) == (repr(message) if exc is KeyError else message)
    assert_note(impl, info.value, note)


def test_first_failing_element_wins(impl):
    xp, fp = u64(0, 10), f64(0.0, 1.0)
    # element 1 is out of bounds; element 2 would be a fatal NaN and is never evaluated
    with pytest.raises(KeyError):
        impl.inverse_float(f64(0.5, 5.0, np.nan), xp, fp, "bfill")
    with pytest.raises(panic_type(impl)):
        impl.inverse_float(f64(0.5, np.nan, 5.0), xp, fp, "bfill")
    # a non-increasing axis fails at element 0 whatever its value
    with pytest.raises(ValueError):
        impl.forward_int(u64(10**6, 1), u64(5, 5), i64(1, 2))


# Queries long enough to be split into chunks on several threads, with
# failing elements planted in several chunks: the error raised is that of the
# lowest failing index, as one pass in index order gives it, whatever
# `workers` is and whichever chunk fails first in time.
LONG = 400_000
# planted element: (value, the error it raises)
PLANTS = {
    "nan": (np.nan, "fatal"),  # inverse_float: NaN in the search
    "outside": (-1.0, KeyError),  # inverse_float: below the table
    "not whole": (0.5, KeyError),  # inverse_float: between whole positions
    "infinite segment": (2**20 - 1, "fatal"),  # forward_float: inside the segment of an infinite knot
    "beyond": (2**63, IndexError),  # forward_float: above the table
}


@pytest.mark.parametrize("workers", [None, 1, 2, 3, 8])
@pytest.mark.parametrize(
    "name, planted",
    [
        ("inverse_float", []),
        ("inverse_float", [(350_000, "nan"), (150_000, "outside"), (250_000, "not whole")]),
        ("inverse_float", [(LONG - 1, "outside"), (LONG // 2, "nan"), (LONG // 2 + 1, "not whole")]),
        ("inverse_float", [(399_000, "outside"), (300_000, "not whole"), (3, "nan")]),
        ("forward_float", [(390_000, "infinite segment"), (120_000, "beyond")]),
        ("forward_float", [(390_000, "beyond"), (120_000, "infinite segment")]),
    ],
)
def test_lowest_failing_index_wins_across_chunks(rust, name, planted, workers):
    import exact_interp

    xp = np.arange(0, 2**20 + 1, 2**10, dtype=np.uint64)
    if name == "inverse_float":
        fp = xp.astype(np.float64)
        q = np.random.default_rng(LONG).integers(0, 2**20, LONG).astype(np.float64)
    else:
        fp = np.arange(len(xp), dtype=np.float64)
        fp[-1] = np.inf
        q = np.random.default_rng(LONG).integers(2**10, 2**20 - 2**10, LONG, dtype=np.uint64)
    for index, plant in planted:
        q[index] = PLANTS[plant][0]

    def outcome(call):
        try:
            return "ok", call().tobytes()
        except BaseException as e:  # noqa: B036 - the fatal error of each module is compared by name
            fatal = isinstance(e, exact_interp.FatalError) or type(e).__name__ == "PanicException"
            return ("fatal" if fatal else type(e)), e.args

    expected = outcome(lambda: getattr(rust, name)(q, xp, fp))
    assert expected[0] == (PLANTS[min(planted)[1]][1] if planted else "ok")
    assert outcome(lambda: getattr(exact_interp, name)(q, xp, fp, workers=workers)) == expected
    table = exact_interp.Interpolator._typed(xp, fp)  # an infinite knot: checked where a query needs it
    assert outcome(lambda: getattr(table, name.split("_")[0])(q, workers=workers)) == expected


def test_error_precedence(functions):
    # a bad array before a bad method
    with pytest.raises(TypeError, match="argument 'fp'"):
        functions.inverse_int(i64(1), u64(1, 2), f64(1, 2), "sideways")
    # a bad method before a length mismatch
    with pytest.raises(ValueError, match="method must be"):
        functions.inverse_int(i64(1), u64(1, 2, 3), i64(1, 2), "sideways")
    # arrays in the order query, xp, fp
    with pytest.raises(TypeError, match="argument 'x'"):
        functions.forward_int([1], [2], [3])
    with pytest.raises(TypeError, match="argument 'xp'"):
        functions.forward_int(u64(1), [2], [3])
    # binding before arrays
    with pytest.raises(TypeError, match="missing 1 required"):
        functions.forward_int([1], [2])
    # an empty query with mismatched lengths still fails
    with pytest.raises(panic_type(functions), match="same length"):
        functions.inverse_int(i64(), u64(1, 2, 3), i64(1, 2))
    # non-increasing xp before out of bounds
    with pytest.raises(ValueError):
        functions.forward_int(u64(100), u64(3, 2), i64(1, 2))


@pytest.mark.parametrize("name", ["forward_int", "forward_float", "inverse_int", "inverse_float"])
def test_impossible_allocation_is_memory_error(impl, name):
    # 2^59 elements of 8 bytes is the largest view NumPy can describe; no
    # machine can hold a result or a copy of it.
    is_int = name.endswith("_int")
    qdtype = np.uint64 if name.startswith("forward") else (np.int64 if is_int else np.float64)
    huge = np.lib.stride_tricks.as_strided(np.zeros(1, qdtype), shape=(2**59,), strides=(0,))
    fp = i64(0, 1) if is_int else f64(0.0, 1.0)
    with pytest.raises(MemoryError):
        getattr(impl, name)(huge, u64(0, 1), fp)
    # knots that cannot be copied
    huge_xp = np.lib.stride_tricks.as_strided(u64(1), shape=(2**59,), strides=(0,))
    huge_fp = np.lib.stride_tricks.as_strided(fp[:1], shape=(2**59,), strides=(0,))
    q = np.zeros(1, qdtype)
    with pytest.raises(MemoryError):
        getattr(impl, name)(q, huge_xp, huge_fp)
    # the interpreter and the module go on
    assert getattr(impl, name)(q[:0], u64(0, 1), fp).shape == (0,)
