"""forward_float over 2·10^8 positions generated on the workers and reduced to
their sum, on a dask.distributed LocalCluster of two worker processes, against
one in-process call on the same positions (generated and summed in process).
Prints the medians and the speed-up; --page writes them into the docs' performance page.

    python bench/bench_dask.py [--elements N] [--page docs/explanation/performance.md]
"""

import argparse
import os
import statistics
import time

import dask.array as da
import numpy as np
from distributed import Client, LocalCluster
from harness import update_page

import exact_interp.dask as ed
import rust

START = 1_700_000_000_000_000_000
STEP = 997  # ns between positions


def table():
    xp = np.uint64(START) + np.arange(1001, dtype=np.uint64) * np.uint64(STEP * 200_000)
    fp = np.cumsum(np.random.default_rng(7).random(1001)) * 1e3
    return xp, fp


def in_process(n, xp, fp):
    x = np.uint64(START) + np.arange(n, dtype=np.uint64) * np.uint64(STEP)
    return float(rust.forward_float(x, xp, fp).sum())


def on_cluster(client, n, xp, fp, chunk):
    x = np.uint64(START) + da.arange(n, dtype=np.uint64, chunks=chunk) * np.uint64(STEP)
    return float(client.compute(ed.forward_float(x, xp, fp).sum()).result())


def median_s(fn, repeats):
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        value = fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times), value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--elements", type=int, default=2 * 10**8)
    parser.add_argument("--chunk", type=int, default=10**7)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--page")
    args = parser.parse_args()
    n, xp, fp = args.elements, *table()
    local, expected = median_s(lambda: in_process(n, xp, fp), args.repeats)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address="127.0.0.1:0") as cluster, Client(cluster) as client:
        on_cluster(client, args.chunk, xp, fp, args.chunk)  # warm-up: workers import and receive the table
        distributed, value = median_s(lambda: on_cluster(client, n, xp, fp, args.chunk), args.repeats)
    # float64 sums of the same values in another order differ in the last places only
    assert abs(value - expected) <= 1e-9 * abs(expected), (value, expected)
    line = (f"`forward_float` over {n:.0e} positions generated on the workers and summed "
            f"(chunks of {args.chunk:.0e}, median of {args.repeats}): one in-process call "
            f"{local:.2f} s, two worker processes of a `dask.distributed` `LocalCluster` "
            f"{distributed:.2f} s: **{local / distributed:.2f}× faster** on {os.cpu_count()} cores.")
    line = line.replace("e+0", "·10^")
    print(line)
    if args.page:
        update_page(args.page, line, "dask-benchmark")

if __name__ == "__main__":
    main()
