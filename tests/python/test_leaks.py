"""Every path of every function, called 10^5 times: no reference is gained or
lost on any argument, and memory does not grow.

Bounds: after a warm-up, the Python objects traced by tracemalloc may grow
by at most 64 KiB over 10^5 calls, so a leak of a single byte per call
(100 KB) fails; the resident set may grow by at most 4 MiB, while a leaked
knot copy (64 knots, 1 KiB per call) or result array (128 bytes of data per
call) would add 12 MB or more. NumPy's own trace domain is left out of the
tracemalloc figure: NumPy records a failed allocation there as if it had
succeeded (np.empty(2**59) does the same), and leaked result data shows in the
resident set anyway. Under AddressSanitizer (RUST_SANITIZED=1) freed memory
waits in a quarantine, so the resident set is not a measure of leaks there and
only the other two checks apply.
"""

import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest
from helpers import f64, i64, u64

pytestmark = pytest.mark.slow

LOOPS = int(os.environ.get("RUST_LEAK_LOOPS", "100000"))
SANITIZED = os.environ.get("RUST_SANITIZED") == "1"
N = 64
XP = np.arange(N, dtype=np.uint64) * np.uint64(10)
FPI = np.arange(N, dtype=np.int64) * 3
FPF = FPI.astype(np.float64) / 4
X = np.arange(0, 630, 40, dtype=np.uint64)
FI = np.arange(0, 189, 12, dtype=np.int64)
FF = FI.astype(np.float64) / 4


def panic_type(module):
    try:
        module.forward_int(u64(), u64(1), i64())
    except BaseException as e:  # noqa: B036
        return type(e)


HUGE_Q = np.lib.stride_tricks.as_strided(np.zeros(1, np.uint64), shape=(2**59,), strides=(0,))

# (label, function, args, kwargs, expected exception or None)
CASES = [
    ("forward_int ok", "forward_int", (X, XP, FPI), {}, None),
    ("forward_float ok", "forward_float", (X, XP, FPF), {}, None),
    ("inverse_int ok", "inverse_int", (FI, XP, FPI), {"method": "nearest"}, None),
    ("inverse_float ok", "inverse_float", (FF, XP, FPF, "bfill"), {}, None),
    ("inverse_float exact ok", "inverse_float", (FF, XP, FPF), {}, None),
    ("IndexError", "forward_int", (u64(5, 10**6), XP, FPI), {}, IndexError),
    ("KeyError bounds", "inverse_int", (i64(-5), XP, FPI), {}, KeyError),
    ("KeyError not found", "inverse_float", (f64(0.3), XP, FPF), {}, KeyError),
    ("ValueError xp", "forward_float", (X, XP[::-1], FPF), {}, ValueError),
    ("ValueError fp", "inverse_int", (FI, XP, FPI[::-1]), {}, ValueError),
    ("ValueError method", "inverse_int", (FI, XP, FPI, "sideways"), {}, ValueError),
    ("TypeError array", "forward_int", (X, XP, FPF), {}, TypeError),
    ("TypeError list", "inverse_float", ([1.0], XP, FPF), {}, TypeError),
    ("TypeError method", "inverse_float", (FF, XP, FPF, 7.25), {}, TypeError),
    ("TypeError binding", "forward_int", (X, XP), {"zz": FPI}, TypeError),
    ("TypeError missing", "inverse_int", (FI,), {"fp": FPI}, TypeError),
    ("UnicodeEncodeError", "inverse_int", (FI, XP, FPI, "\udc80"), {}, UnicodeEncodeError),
    ("Panic length", "forward_int", (X, XP, FPI[:-1]), {}, "panic"),
    ("Panic non-finite", "forward_float", (u64(5), u64(0, 10), f64(0.0, np.inf)), {}, "panic"),
    ("Panic nan", "inverse_float", (f64(np.nan), XP, FPF), {}, "panic"),
    ("MemoryError", "forward_int", (HUGE_Q, XP, FPI), {}, MemoryError),
]
LONG = np.repeat(X, 2**13)  # split across threads
TABLE = "table"  # exact_interp.Interpolator(XP, FPF), made in the test
# exact_interp only: the keyword workers, threads, and Interpolator
NATIVE_CASES = [
    ("threads ok", "forward_float", (LONG, XP, FPF), {"workers": 3}, None),
    ("threads KeyError", "inverse_float", (np.repeat(f64(0.3, 1.0), 2**16), XP, FPF), {"workers": 2}, KeyError),
    ("threads Panic", "inverse_float", (np.repeat(f64(0.75, np.nan), 2**16), XP, FPF), {"workers": 2}, "panic"),
    ("TypeError workers", "forward_int", (X, XP, FPI), {"workers": "2"}, TypeError),
    ("ValueError workers", "forward_int", (X, XP, FPI), {"workers": -(10**30)}, ValueError),
    ("Interpolator", "Interpolator", (XP, FPF), {}, None),
    ("Interpolator TypeError", "Interpolator", (XP.astype(np.float64), FPF), {}, TypeError),
    ("Interpolator kinds", "Interpolator", (XP.astype(np.int64), FPI.view("m8[ns]")), {}, None),
    ("forward kinds", "forward", (X.astype(np.int32), XP.astype(np.int64), FPI.view("m8[ns]")), {}, None),
    ("inverse kinds", "inverse", (FI.view("m8[ns]"), XP.view("M8[ns]"), FPI.view("m8[ns]"), "nearest"), {}, None),
    ("forward typed", "forward", (X, XP, FPF), {}, None),
    ("forward refused", "forward", (X.astype(np.float64), XP, FPI), {}, TypeError),
    ("Interpolator refused", "Interpolator", (XP, FPF[:-1]), {}, ValueError),
    ("Interpolator MemoryError", "Interpolator",
     (np.broadcast_to(XP[:1], (2**59,)), np.broadcast_to(FPF[:1], (2**59,))), {}, MemoryError),
    ("table forward", "table.forward", (X,), {}, None),
    ("table inverse", "table.inverse", (FF, "nearest"), {"workers": 2}, None),
    ("table KeyError", "table.inverse", (f64(0.3),), {}, KeyError),
    ("table threads", "table.forward", (LONG,), {"workers": 2}, None),
    ("table views", "table.xp", (), {}, None),
    ("table pickle", "table.__reduce__", (), {}, None),
    ("table repr", "table.__repr__", (), {}, None),
]


NOT_NUMPY = [tracemalloc.DomainFilter(inclusive=False, domain=np.lib.tracemalloc_domain)]


def python_traced():
    snapshot = tracemalloc.take_snapshot().filter_traces(NOT_NUMPY)
    return sum(stat.size for stat in snapshot.statistics("filename"))


def rss_kib():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def mortal_refcount(o):
    """The reference count of o, None for an immortal object (CPython 3.12+: small ints, None, …), whose
    count a stable-ABI extension's inline increments move while the interpreter's own decrements leave it."""
    immortal = getattr(sys, "_is_immortal", None)
    count = sys.getrefcount(o)
    return None if (immortal(o) if immortal else count >= 2**30) else count


@pytest.mark.parametrize(
    "module_name, label, name, args, kwargs, expected",
    [("rust", *c) for c in CASES] + [("exact_interp", *c) for c in CASES + NATIVE_CASES],
    ids=[f"rust {c[0]}" for c in CASES] + [f"exact_interp {c[0]}" for c in CASES + NATIVE_CASES],
)
def test_no_reference_or_memory_leak(module_name, label, name, args, kwargs, expected):
    module = __import__(module_name)
    if name.startswith(TABLE):
        table = module.Interpolator(XP, FPF)
        attribute = getattr(table, name.split(".")[1])
        fn = attribute if callable(attribute) else lambda: getattr(table, name.split(".")[1])
    else:
        fn = getattr(module, name)
    exc = panic_type(module) if expected == "panic" else expected
    objects = list(args) + list(kwargs.values())
    # calls that spawn threads, and the front end's conversions (Python code,
    # whose leaks would be objects of 16 bytes or more): fewer calls
    loops = LOOPS // 100 if "threads" in label else LOOPS // 10 if label.endswith(("kinds", "refused")) else LOOPS

    def call():
        if exc is None:
            fn(*args, **kwargs)
        else:
            try:
                fn(*args, **kwargs)
            except exc:
                pass
            else:
                raise AssertionError("no exception")

    for _ in range(1000):  # warm-up: caches, the API table, the exception type
        call()
    gc.collect()
    refs = [mortal_refcount(o) for o in objects]
    tracemalloc.start()
    traced_before = python_traced()
    rss_before = rss_kib()
    for _ in range(loops):
        call()
    gc.collect()
    traced_growth = python_traced() - traced_before
    tracemalloc.stop()
    rss_growth = rss_kib() - rss_before
    assert [mortal_refcount(o) for o in objects] == refs
    assert traced_growth < 64 * 1024, traced_growth
    if not SANITIZED:
        assert rss_growth < 4 * 1024, rss_growth
