"""exact_interp on every core, measured side by side in one run:

  - workers=2 against workers=1 on 10^7 sorted queries over 1,000 knots, each
    of the four functions (and workers=None, the cores available);
  - one-element calls of Interpolator over 1,000 and 10^6 knots against
    numpy.interp's one-element call over the same table (float64 arrays), with
    the functions of rust and exact_interp, which copy and scan the table; and
    exact_interp.forward on typed arrays against exact_interp.forward_float;
  - exact_interp.dask on the threaded scheduler with 2 threads against one
    workers=1 call on the same 4·10^7 elements, each giving the whole result
    in a new array;
  - a Python thread counting in a loop: its speed while another thread runs
    workers=1 calls, against its speed alone (and while rust runs, for scale).

    python bench/bench_parallel.py [--quick] [--page docs/explanation/performance.md]
"""

import statistics
import threading
import time

import dask
import dask.array as da
import numpy as np
from bench_numpy import FUNCTIONS, median_ns, queries, table
from harness import main

import exact_interp
import exact_interp.dask as ed
import rust

TYPED = [name for name in FUNCTIONS if name.endswith(("_int", "_float"))]  # the functions both modules have


def call(module, name, q, xp, fp, **kwargs):
    fn = getattr(module, name)
    return (lambda: fn(q, xp, fp, **kwargs)) if name.startswith("forward") else (
        lambda: fn(q, xp, fp, "nearest", **kwargs))


def paired(one, two, elements, repeats):
    """ns per element of two calls timed in turn (medians), and the ratio of
    their best times: on this shared machine the second core is now and then
    taken for a while, which the best runs of each leave out."""
    for _ in range(2):  # warm-up
        one(), two()
    a, b = [], []
    for _ in range(repeats):
        for fn, times in ((one, a), (two, b)):
            t = time.perf_counter_ns()
            fn()
            times.append(time.perf_counter_ns() - t)
    return statistics.median(a) / elements, statistics.median(b) / elements, min(a) / min(b)


def scaling(m, repeats):
    rng = np.random.default_rng(1)
    xp, fpi, fpf = table(1000, rng)
    rows = []
    for name in TYPED:
        fp = fpi if name.endswith("_int") else fpf
        q = queries(name, xp, fpi, fpf, m, "sorted", rng)
        one, two, ratio = paired(call(exact_interp, name, q, xp, fp, workers=1),
                                 call(exact_interp, name, q, xp, fp, workers=2), m, repeats)
        auto = median_ns(call(exact_interp, name, q, xp, fp), m, repeats)
        held = median_ns(call(rust, name, q, xp, fp), m, repeats)
        rows.append((name, held, one, two, auto, ratio))
    return rows


def one_element(repeats):
    rng = np.random.default_rng(2)
    rows = []
    for n in (1000, 10**6):
        xp, fpi, fpf = table(n, rng)
        xf = xp.astype(np.float64)
        q = xp[n // 3: n // 3 + 1] + np.uint64(1)
        qf = q.astype(np.float64)
        t = exact_interp.Interpolator(xp, fpf)
        inner = 20_000 if n <= 1000 else 10  # the functions copy and scan 16 MB of knots per call at 10^6
        theirs = median_ns(lambda: np.interp(qf, xf, fpf), 1, repeats, 20_000)
        prepared = median_ns(lambda: t.forward(q), 1, repeats, 20_000)
        functions = median_ns(lambda: exact_interp.forward_float(q, xp, fpf), 1, repeats, inner)
        held = median_ns(lambda: rust.forward_float(q, xp, fpf), 1, repeats, inner)
        rows.append((n, theirs, prepared, functions, held))
    return rows


def front_end_cost(repeats):
    """One-element calls of exact_interp.forward on arrays of the typed dtypes
    against exact_interp.forward_float on the same, timed in turn."""
    rng = np.random.default_rng(5)
    rows = []
    for n in (2, 1000):
        xp, _, fpf = table(n, rng)
        q = xp[:1] + np.uint64(1)
        ratios = [median_ns(lambda: exact_interp.forward(q, xp, fpf), 1, 3, 5000)
                  / median_ns(lambda: exact_interp.forward_float(q, xp, fpf), 1, 3, 5000) for _ in range(repeats)]
        rows.append((n, statistics.median(ratios)))
    return rows


def value_columns(m, repeats):
    """Four int64 value columns in one call against four calls of one column
    each, on one thread, m random queries over 1,000 knots (ratio of medians,
    timed in turn)."""
    rng = np.random.default_rng(6)
    xp, fpi, _ = table(1000, rng)
    columns = np.stack([fpi * k for k in (1, 2, 3, 5)], axis=1)
    q = queries("forward_int", xp, fpi, None, m, "random", rng)
    separate = [np.ascontiguousarray(columns[:, j]) for j in range(4)]
    one, four, _ = paired(lambda: exact_interp.forward(q, xp, columns, workers=1),
                          lambda: [exact_interp.forward(q, xp, c, workers=1) for c in separate], m, repeats)
    return one / four


def shaped_query(m, repeats):
    """A contiguous query of two dimensions against the flat query of the same
    elements, exact_interp.forward on one thread (ratio of best times)."""
    rng = np.random.default_rng(7)
    xp, fpi, _ = table(1000, rng)
    q = queries("forward_int", xp, fpi, None, m, "random", rng)
    shaped = q.reshape(1000, -1)
    _, _, ratio = paired(lambda: exact_interp.forward(shaped, xp, fpi, workers=1),
                         lambda: exact_interp.forward(q, xp, fpi, workers=1), m, repeats)
    return ratio


def dask_threads(m, repeats):
    """The whole result in a new array: one call, or the blocks stored into it
    as they are computed (no concatenation afterwards)."""
    rng = np.random.default_rng(3)
    xp, _, fpf = table(1000, rng)
    q = queries("forward_float", xp, None, fpf, m, "sorted", rng)
    t = exact_interp.Interpolator(xp, fpf)
    lazy = ed.forward_float(da.from_array(q, chunks=m // 10), t)

    def stored():
        out = np.empty(m, np.float64)
        da.store(lazy, out, lock=False)
        return out

    def one_call():  # the typed function in one call: the same bits as its blocks
        return exact_interp.forward_float(q, xp, fpf, workers=1)

    with dask.config.set(scheduler="threads", num_workers=2):
        assert stored().tobytes() == one_call().tobytes()
        return paired(one_call, stored, m, repeats)


def other_thread(seconds):
    """Counts of a Python loop per second, alone and while calls run."""
    rng = np.random.default_rng(4)
    xp, _, fpf = table(1000, rng)
    q = queries("forward_float", xp, None, fpf, 10**7, "sorted", rng)
    stop = threading.Event()

    def rate(work):
        counts = []

        def count():
            n = 0
            while not stop.is_set():
                n += 1
            counts.append(n)

        thread = threading.Thread(target=count)
        start = time.perf_counter()
        thread.start()
        while time.perf_counter() - start < seconds:
            work()
        stop.set()
        thread.join()
        stop.clear()
        return counts[0] / (time.perf_counter() - start)

    alone = rate(lambda: time.sleep(0.01))
    during = rate(lambda: exact_interp.forward_float(q, xp, fpf, workers=1))
    during_rust = rate(lambda: rust.forward_float(q, xp, fpf))
    return alone, during, during_rust


def markdown(scale, single, front, columns, shaped, dask_pair, thread_rates, machine):
    lines = [f"Machine: {machine}. ns per element (median); 10^7 sorted queries over 1,000 knots; the speed-up is "
             "the ratio of the best of 15 runs each, timed in turn.", "",
             "| function | rust (GIL held) | workers=1 | workers=2 | workers=None | workers=2 against workers=1 |",
             "|---|---|---|---|---|---|"]
    for name, held, one, two, auto, ratio in scale:
        lines.append(f"| {name} | {held:.2f} | {one:.2f} | {two:.2f} | {auto:.2f} | **{ratio:.2f}× faster** |")
    lines += ["", "One-element call, ns (ratio to numpy.interp's one-element call over the same float64 table):", "",
              "| knots | numpy.interp | Interpolator.forward | exact_interp.forward_float | rust.forward_float |",
              "|---|---|---|---|---|"]
    for n, theirs, prepared, functions, held in single:
        lines.append(f"| {n:,} | {theirs:.0f} | {prepared:.0f} ({prepared / theirs:.2f}×) | "
                     f"{functions:.0f} ({functions / theirs:.2f}×) | {held:.0f} ({held / theirs:.2f}×) |")
    lines += ["", "`exact_interp.forward` on arrays of the typed dtypes, one-element calls: " + ", ".join(
        f"{ratio:.2f}× `exact_interp.forward_float`'s over {n:,} knots" for n, ratio in front) + ".", "",
        f"Four int64 value columns in one `exact_interp.forward` call (each key's segment found once), random "
        f"queries over 1,000 knots: **{columns:.2f}×** the time of four calls of one column each.", "",
        f"A contiguous query of two dimensions (1,000 rows) against the flat query of the same elements "
        f"(`exact_interp.forward`, int64 values over 1,000 knots, random): **{shaped:.2f}×** its time."]
    one, threaded, dask_ratio = dask_pair
    alone, during, during_rust = thread_rates
    lines += ["", f"`exact_interp.dask` (`forward_float`, 4·10^7 sorted positions in 10 blocks, stored into a new "
              f"array with `dask.array.store`) on the threaded scheduler with 2 threads: {threaded:.2f} ns per "
              f"element against {one:.2f} for one `workers=1` call: **{dask_ratio:.2f}× faster**.", "",
              f"A Python thread counting in a loop keeps **{during / alone:.0%}** of its solo speed while another "
              f"thread runs `workers=1` calls ({during_rust / alone:.0%} while it runs `rust`'s, which hold the GIL)."]
    return "\n".join(lines)


def report(quick, machine):
    repeats = 3 if quick else 15
    m = 10**6 if quick else 10**7
    return markdown(scaling(m, repeats), one_element(repeats), front_end_cost(repeats), value_columns(m // 5, repeats),
                    shaped_query(m // 5, repeats), dask_threads(4 * m, 3 if quick else 5),
                    other_thread(1.0 if quick else 3.0), machine)


if __name__ == "__main__":
    main("parallel-benchmark", report)
