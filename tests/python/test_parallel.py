"""exact_interp on every core: the keyword `workers`, Python threads sharing
one table, and the GIL released while a call works. Results and errors
against `rust` are in the shared suites, over every entry (conftest `impl`)."""

import sys
import threading
import time

import numpy as np
import pytest
from helpers import FPF, FPI, NO_GIL, XP

import exact_interp


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
    with pytest.raises(TypeError, match=r"inverse\(\) takes from 2 to 3 positional arguments; .* keyword-only"):
        exact_interp.Interpolator(XP, FPI).inverse(FPI, None, 2)
    with pytest.raises(TypeError, match="unexpected keyword argument 'workers'"):
        rust.forward_int(XP, XP, FPI, workers=1)
    # what goes beyond rust lives in exact_interp: the kernels each function runs on
    assert not hasattr(rust, "_kernel_targets")
    targets = exact_interp._native._kernel_targets()
    assert set(targets) == {"forward_int", "inverse_int", "forward_float", "inverse_float"}
    assert set(targets.values()) <= {"scalar", "avx2", "avx512", "neon"}


def test_threads_share_one_interpolator_and_the_functions(rust):
    ti, tf = exact_interp.Interpolator(XP, FPI), exact_interp.Interpolator(XP, FPF)
    rng = np.random.default_rng(9)
    x = rng.integers(int(XP[0]), int(XP[-1]), 200_000, dtype=np.uint64)
    f = rng.uniform(FPF[0], FPF[-1], 200_000)
    g = rng.integers(FPI[0], FPI[-1], 200_000)
    jobs = [
        (lambda w: ti.forward(x, workers=w), rust.forward_int(x, XP, FPI)),
        (lambda w: tf.forward(x[::-3], workers=w), exact_interp.forward(x[::-3], XP, FPF, workers=1)),
        (lambda w: tf.inverse(f, "nearest", workers=w), exact_interp.inverse(f, XP, FPF, "nearest", workers=1)),
        (lambda w: exact_interp.forward_int(x, XP, FPI, workers=w), rust.forward_int(x, XP, FPI)),
        (lambda w: exact_interp.inverse_float(f, XP, FPF, "bfill", workers=w), rust.inverse_float(f, XP, FPF, "bfill")),
        (lambda w: rust.inverse_int(g, XP, FPI, "ffill"), exact_interp.inverse_int(g, XP, FPI, "ffill", workers=2)),
    ]
    failures = []

    def worker(k):
        for r in range(2 * len(jobs)):
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
        if NO_GIL:
            pytest.skip("no GIL: rust holds none while it works (free-threaded CPython)")
        pause = longest_pause(lambda: rust.forward_float(x, XP, FPF))
        assert pause > 0.5, pause
    else:
        pauses = []
        while len(pauses) < 3 and (not pauses or pauses[-1] >= 0.5):
            pauses.append(longest_pause(lambda: exact_interp.forward_float(x, XP, FPF, workers=1)))
        assert pauses[-1] < 0.5, pauses
