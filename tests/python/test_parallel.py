"""exact_interp on every core: the keyword `workers`, Interpolator as an
object (construction, views, pickling, immutability), Python threads sharing
one table, and the GIL released while a call works. Results and errors
against `rust` are in the shared suites, over every entry (conftest `impl`)."""

import copy
import pickle
import sys
import threading
import time

import numpy as np
import pytest
from conftest import f64, i64, u64

import exact_interp

XP = np.cumsum(np.random.default_rng(5).integers(1, 10**12, 1000, dtype=np.uint64), dtype=np.uint64)
FPI = np.cumsum(np.random.default_rng(6).integers(1, 10**6, 1000)).astype(np.int64)
FPF = FPI / 7.0


def calls(workers):
    """Every entry that takes `workers`, on a valid query."""
    t, tf = exact_interp.Interpolator(XP, FPI), exact_interp.Interpolator(XP, FPF)
    x, f = XP[:3], FPI[:3]
    return [
        lambda: exact_interp.forward_int(x, XP, FPI, workers=workers),
        lambda: exact_interp.forward_float(x, XP, FPF, workers=workers),
        lambda: exact_interp.inverse_int(f, XP, FPI, "nearest", workers=workers),
        lambda: exact_interp.inverse_float(f / 7.0, XP, FPF, workers=workers),
        lambda: t.forward(x, workers=workers),
        lambda: tf.inverse(f / 7.0, "bfill", workers=workers),
    ]


@pytest.mark.parametrize(
    "workers, error, message",
    [
        (None, None, None),
        (1, None, None),
        (np.int8(3), None, None),
        (2**100, None, None),
        (0, ValueError, "workers must be None or at least 1, not 0"),
        (-(2**100), ValueError, "workers must be None or at least 1, not -1267650600228229401496703205376"),
        (True, TypeError, "workers must be None or an int, not 'bool'"),
        (2.0, TypeError, "workers must be None or an int, not 'float'"),
        ("2", TypeError, "workers must be None or an int, not 'str'"),
    ],
)
def test_workers(workers, error, message):
    for call in calls(workers):
        if error is None:
            assert len(call()) == 3
        else:
            with pytest.raises(error) as info:
                call()
            assert info.value.args == (message,)


def test_workers_is_keyword_only_and_rust_has_none(rust):
    with pytest.raises(TypeError, match=r"forward_int\(\) takes 3 positional arguments but 4 were given"):
        exact_interp.forward_int(XP, XP, FPI, 2)
    with pytest.raises(TypeError, match=r"inverse\(\) takes from 1 to 2 positional arguments but 3 were given"):
        exact_interp.Interpolator(XP, FPI).inverse(FPI, None, 2)
    with pytest.raises(TypeError, match="unexpected keyword argument 'workers'"):
        rust.forward_int(XP, XP, FPI, workers=1)
    # what goes beyond rust lives in exact_interp: the kernels each function runs on
    assert not hasattr(rust, "_kernel_targets")
    targets = exact_interp._native._kernel_targets()
    assert set(targets) == {"forward_int", "inverse_int", "forward_float", "inverse_float"}
    assert set(targets.values()) <= {"scalar", "avx2", "avx512", "neon"}


@pytest.mark.parametrize("columns", [None, (2,), (1, 3)])
@pytest.mark.parametrize("fp, values", [(FPI, "int64"), (FPF, "float64")])
def test_interpolator_object(fp, values, columns):
    if columns is not None:  # value columns
        fp = np.ascontiguousarray(np.stack([fp * (k + 1) for k in range(int(np.prod(columns)))], 1)
                                  .reshape((len(fp),) + columns))
    xp_in, fp_in = XP.copy(), fp.copy()
    t = exact_interp.Interpolator(xp=xp_in, fp=fp_in)
    xp_in[:] = 0  # the table holds copies
    fp_in[:] = 0
    if columns is None:
        assert repr(t) == f"<exact_interp.Interpolator: 1000 knots of {values} values, xp from {XP[0]} to " \
                          f"{XP[-1]}, fp from {fp[0].item()!r} to {fp[-1].item()!r}>"
    else:
        assert repr(t) == f"<exact_interp.Interpolator: 1000 knots of {values} values in columns of shape " \
                          f"{columns}, uint64 xp from {XP[0]} to {XP[-1]}>"
    for view, original in ((t.xp, XP), (t.fp, fp)):
        assert view.tobytes() == original.tobytes() and view.dtype == original.dtype
        assert view.shape == original.shape and not view.flags.writeable
        with pytest.raises(ValueError):
            view.flags.writeable = True
    view = t.xp
    for other in (pickle.loads(pickle.dumps(t)), copy.deepcopy(t)):
        assert type(other) is exact_interp.Interpolator and repr(other) == repr(t)
        assert other.forward(XP[::7]).tobytes() == t.forward(XP[::7]).tobytes()
    del t  # a view keeps the table's memory
    assert view.tobytes() == XP.tobytes()
    with pytest.raises(AttributeError):
        exact_interp.Interpolator(XP, fp).xp = XP  # type: ignore[misc]
    assert "2 knots" in repr(exact_interp.Interpolator(u64(1, 2), f64(0.5, 1.5)))
    assert repr(exact_interp.Interpolator(u64(7), i64(-1))) == "<exact_interp.Interpolator: 1 knot of int64 values, " \
                                                              "xp 7, fp -1>"
    assert repr(exact_interp.Interpolator(u64(), f64())) == "<exact_interp.Interpolator: 0 knots of float64 values>"


def test_interpolator_arguments():
    with pytest.raises(TypeError, match="argument 'xp': float positions are not exact"):
        exact_interp.Interpolator([1.0], FPI[:1])
    with pytest.raises(TypeError, match="argument 'fp': <U1 is not a kind"):
        exact_interp.Interpolator(XP[:1], np.array(["a"]))
    with pytest.raises(TypeError, match=r"Interpolator.* missing 1 required positional argument: 'fp'"):
        exact_interp.Interpolator(XP)  # type: ignore[call-overload]
    with pytest.raises(ValueError, match=r"^xp and fp must have same length(\n|\Z)"):
        exact_interp.Interpolator(XP, FPI[:-1])
    t = exact_interp.Interpolator(XP, FPI)
    with pytest.raises(TypeError, match="argument 'f': float values cannot be compared exactly with integer values"):
        t.inverse(FPF)  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="argument 'x': float positions are not exact"):
        t.forward(FPF)
    with pytest.raises(ValueError, match="xp must be strictly increasing"):
        exact_interp.Interpolator(XP[::-1], FPI)  # checked once, when the table is made
    # the inverse alone takes positions in any order
    assert exact_interp.inverse(FPI[:2], XP[::-1], FPI).tolist() == XP[::-1][:2].tolist()
    with pytest.raises(ValueError, match="fp must be strictly increasing"):
        exact_interp.Interpolator(XP, FPI[::-1]).inverse(FPI[:2])  # the inverse's own check, reported where needed


def test_threads_share_one_interpolator(rust):
    ti, tf = exact_interp.Interpolator(XP, FPI), exact_interp.Interpolator(XP, FPF)
    rng = np.random.default_rng(9)
    x = rng.integers(int(XP[0]), int(XP[-1]), 200_000, dtype=np.uint64)
    f = rng.uniform(FPF[0], FPF[-1], 200_000)
    jobs = [
        (lambda w: ti.forward(x, workers=w), rust.forward_int(x, XP, FPI)),
        (lambda w: tf.forward(x[::-3], workers=w), exact_interp.forward(x[::-3], XP, FPF, workers=1)),
        (lambda w: tf.inverse(f, "nearest", workers=w), exact_interp.inverse(f, XP, FPF, "nearest", workers=1)),
    ]
    failures = []

    def worker(k):
        for r in range(6):
            run, expected = jobs[(k + r) % len(jobs)]
            if run([1, 2, 3, None][(k + r) % 4]).tobytes() != expected.tobytes():
                failures.append(k)
        try:
            tf.inverse(np.array([FPF[5], np.nan] * 100_000), workers=3)  # errors in every chunk at once
        except exact_interp.FatalError as e:
            if e.args != ("nan or inf encountered",):
                failures.append(k)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads) and failures == []


def longest_pause(call):
    """The longest stretch of one call during which another Python thread
    could not tick, as a share of the call."""
    stop, ticks = threading.Event(), []

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())

    # A short switch interval: the ticker's slice between the start and the
    # call's entry stays a small part of the call, however fast the call is.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.0002)
    try:
        thread = threading.Thread(target=tick)
        thread.start()
        while not ticks:
            time.sleep(0.001)
        start = time.perf_counter()
        call()
        end = time.perf_counter()
        stop.set()
        thread.join()
    finally:
        sys.setswitchinterval(interval)
    times = [start] + [t for t in ticks if start < t < end] + [end]
    return max(b - a for a, b in zip(times, times[1:])) / (end - start)


@pytest.mark.parametrize("entry", ["rust", "exact_interp"])
def test_the_gil_is_released_while_a_call_works(rust, entry):
    # Another Python thread ticks while one call runs. rust holds the GIL from
    # entry to return: the ticks stop for most of the call. exact_interp
    # releases it while it works: they go on, but for what a loaded machine's
    # scheduler takes (two suites side by side on two cores have starved the
    # ticker for 0.63 of a call), so its best of three calls counts.
    x = np.repeat(XP[1:-1], 10_000)  # 10^7 sorted positions
    if entry == "rust":
        pause = longest_pause(lambda: rust.forward_float(x, XP, FPF))
        assert pause > 0.5, pause
    else:
        pauses = []
        while len(pauses) < 3 and (not pauses or pauses[-1] >= 0.5):
            pauses.append(longest_pause(lambda: exact_interp.forward_float(x, XP, FPF, workers=1)))
        assert pauses[-1] < 0.5, pauses
