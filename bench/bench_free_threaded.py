"""Python threads calling exact_interp at once, with and without the GIL,
measured side by side in one run: calls of 1,000 queries over a table of
10,000 knots (a list of Python ints, converted on the caller's thread, and a
uint64 array; each thread its own), each from one thread and from two, against numpy.interp's
call on float64 arrays in the same threads; on each interpreter given (this
one, and those in BENCH_INTERPRETERS, separated by ':', e.g. a free-threaded
3.13t), each in a process of its own.

    BENCH_INTERPRETERS=build/venv-py3.13t/bin/python python bench/bench_free_threaded.py [--quick] [--page PAGE]
"""

import json
import os
import subprocess
import sys
import threading
import time

import numpy as np
from harness import main, markdown_table


def measure(calls, rounds):
    """Per call kind: µs per call on one thread and on two (each of the two making `calls` calls), best of
    `rounds` rounds timed in turn."""
    import exact_interp

    rng = np.random.default_rng(1)
    xp = np.cumsum(rng.integers(1, 10**9, 10_000, dtype=np.uint64), dtype=np.uint64)
    fp = np.arange(10_000, dtype=np.int64) * 3
    table = exact_interp.Interpolator(xp, fp)
    q = rng.integers(int(xp[0]), int(xp[-1]), 1000, dtype=np.uint64)
    # each thread its own query, as threads serving requests have (two threads reading the same Python ints
    # would contend for their reference counts)
    lists = [[int(v) for v in q] for _ in range(2)]
    arrays, xpf, fpf, floats = [q.copy() for _ in range(2)], xp.astype(float), fp.astype(float), \
        [q.astype(float) for _ in range(2)]
    assert table.forward(lists[0]).tolist() == table.forward(q).tolist()
    kinds = {
        "Interpolator.forward, a list of 1,000 ints": lambda k: table.forward(lists[k], workers=1),
        "Interpolator.forward, 1,000 uint64": lambda k: table.forward(arrays[k], workers=1),
        "numpy.interp, 1,000 float64": lambda k: np.interp(floats[k], xpf, fpf),
    }

    def run(fn, threads):
        def work(k):
            for _ in range(calls):
                fn(k)
        pool = [threading.Thread(target=work, args=(k,)) for k in range(threads)]
        start = time.perf_counter()
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        return (time.perf_counter() - start) / (threads * calls) * 1e6

    best = {name: [float("inf"), float("inf")] for name in kinds}
    for _ in range(rounds):
        for name, fn in kinds.items():
            for k, threads in enumerate((1, 2)):
                best[name][k] = min(best[name][k], run(fn, threads))
    gil = getattr(sys, "_is_gil_enabled", lambda: True)()
    python = f"CPython {sys.version.split()[0]}{'' if gil else ', free-threaded, the GIL off'}"
    return {"python": python, "rows": [[name, one, two] for name, (one, two) in best.items()]}


def report(quick, machine):
    calls, rounds = (200, 3) if quick else (2000, 5)
    results = [measure(calls, rounds)]
    for python in filter(None, os.environ.get("BENCH_INTERPRETERS", "").split(":")):
        done = subprocess.run([python, __file__, "--measure", str(calls), str(rounds)], capture_output=True,
                              text=True, check=True)
        results.append(json.loads(done.stdout))
    caption = (f"Machine: {machine}. Python threads each making calls of 1,000 queries over a table of 10,000 "
               "knots: µs per call (best of rounds timed in turn) on one thread and on two at once, and the "
               "throughput of two threads over one's (2× where nothing serialises the calls).")
    rows = [[r["python"], name, f"{one:.1f}", f"{two:.1f}", f"{one / two:.2f}×"]
            for r in results for name, one, two in r["rows"]]
    return markdown_table(caption, ["interpreter", "call", "µs, 1 thread", "µs, 2 threads", "throughput ×"], rows)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--measure"]:
        print(json.dumps(measure(int(sys.argv[2]), int(sys.argv[3]))))
    else:
        main("free-threaded-benchmark", report)
