"""Times the four functions against numpy.interp on the same data as float64,
in one process and one run: ns per element as the median of repeated runs
after a warm-up, and the ratio ours / numpy.

    python bench/bench_numpy.py [--quick] [--page docs/explanation/performance.md] [--plot docs/benchmark.png]
    python bench/bench_numpy.py --rounded [--target avx2]

--rounded times only the front end's float answers, rounded once, in the
cases of their targets, each the best of runs timed in turn with numpy's.

It also reports the peak resident memory of one 10^7-element call of each
function above its inputs, each measured in a fresh process.
"""

import argparse
from functools import partial
import os
import statistics
import subprocess
import sys
import time

import numpy as np
from harness import machine_name, update_page

import rust

# The typed functions, then exact_interp's front end on float values (rounded once; the inverse
# "nearest"), always on one thread.
FUNCTIONS = ["forward_int", "inverse_int", "forward_float", "inverse_float", "forward", "inverse"]
START = 1_700_000_000_000_000_000  # nanosecond timestamps


def table(n, rng):
    """n knots: increasing uint64 positions with random gaps, increasing values."""
    gaps = rng.integers(1, 10**6, size=max(n - 1, 0), dtype=np.uint64)
    xp = np.concatenate([[np.uint64(START)], np.uint64(START) + np.cumsum(gaps, dtype=np.uint64)]).astype(np.uint64)
    steps = rng.integers(1, 1000, size=max(n - 1, 0))
    fpi = np.concatenate([[0], np.cumsum(steps)]).astype(np.int64)[:n]
    return xp[:n], fpi, fpi.astype(np.float64) / 7.0


def queries(name, xp, fpi, fpf, m, order, rng):
    if name.startswith("forward"):
        q = rng.integers(int(xp[0]), int(xp[-1]) + 1, size=m, dtype=np.uint64)
    elif name == "inverse_int":
        q = rng.integers(int(fpi[0]), int(fpi[-1]) + 1, size=m, dtype=np.int64)
    else:
        q = rng.uniform(fpf[0], fpf[-1], size=m)
    return np.sort(q) if order == "sorted" else q


IMPLEMENTATION = "rust"  # or exact_interp, on one thread, where a target is forced


def ours_and_numpy(name, q, xp, fpi, fpf):
    fp = fpi if name.endswith("_int") else fpf
    if name in ("forward", "inverse"):
        import exact_interp

        fn = partial(getattr(exact_interp, name), workers=1)
    elif IMPLEMENTATION == "rust":
        fn = getattr(rust, name)
    else:
        import exact_interp

        fn = partial(getattr(exact_interp, name), workers=1)
    xf, qf, fpd = xp.astype(np.float64), q.astype(np.float64), fp.astype(np.float64)
    if name.startswith("forward"):
        return (lambda: fn(q, xp, fp)), (lambda: np.interp(qf, xf, fpd))
    return (lambda: fn(q, xp, fp, "nearest")), (lambda: np.interp(qf, fpd, xf))


def median_ns(fn, elements, repeats, inner=1):
    for _ in range(max(1, inner)):  # warm-up: caches, branch predictors, clock speed
        fn()
    times = []
    for _ in range(repeats):
        t = time.perf_counter_ns()
        for _ in range(inner):
            fn()
        times.append((time.perf_counter_ns() - t) / inner)
    return statistics.median(times) / elements


def paired_ns(ours, theirs, elements, repeats):
    """ns per element of each, the best of `repeats` runs timed in turn (one of ours, one of
    numpy's): on a shared machine a run's time only grows with what else happens, and
    numpy.interp's own time moves with where its output's pages come from."""
    ours(), theirs()  # warm-up: caches, branch predictors, clock speed
    a, b = [], []
    for _ in range(repeats):
        for fn, times in ((ours, a), (theirs, b)):
            t = time.perf_counter_ns()
            fn()
            times.append(time.perf_counter_ns() - t)
    return min(a) / elements, min(b) / elements


def rounded(repeats=15):
    """The front end's float answers, rounded once (`exact_interp.forward` and `.inverse`,
    "nearest", workers=1) against numpy.interp: 10^6 queries at nanosecond positions, the
    cases of its targets, and tables whose every answer is exact."""
    rng = np.random.default_rng(1)
    m = 10**6
    lines = ["| case | forward | inverse |", "|---|---|---|"]
    for n, order in ((2, "random"), (2, "sorted"), (1000, "random"), (1000, "sorted"), (100_000, "sorted")):
        xp, fpi, fpf = table(n, rng)
        cells = []
        for name in ("forward", "inverse"):
            q = queries(name, xp, fpi, fpf, m, order, rng)
            a, b = paired_ns(*ours_and_numpy(name, q, xp, fpi, fpf), m, repeats)
            cells.append(f"{a:.1f} ns ({a / b:.2f}×)")
        lines.append(f"| {order} queries, {n:,} knots | " + " | ".join(cells) + " |")
    # every answer exact: whole positions by each method, forward values that are doubles
    import exact_interp

    xp = np.array([START, START + 10**6], np.uint64)
    fp, xf = np.array([0.0, 1e6]), xp.astype(np.float64)
    f = np.sort(rng.integers(0, 10**6, m).astype(np.float64))
    x = np.sort(rng.integers(START, START + 10**6, m, dtype=np.uint64))
    exact = []
    for method in ("ffill", "bfill", "nearest"):
        a, b = paired_ns(lambda: exact_interp.inverse(f, xp, fp, method, workers=1), lambda: np.interp(f, fp, xf), m,
                         repeats)
        exact.append(f"{method} {a / b:.2f}×")
    xq = x.astype(np.float64)
    a, b = paired_ns(lambda: exact_interp.forward(x, xp, fp, workers=1), lambda: np.interp(xq, xf, fp), m, repeats)
    lines.append(f"| every answer exact, 2 knots, sorted | {a / b:.2f}× | " + ", ".join(exact) + " |")
    return "\n".join(lines)


def measure(quick):
    rng = np.random.default_rng(12345)
    m = 10**5 if quick else 10**6
    repeats = 3 if quick else 7
    rows = []
    sizes = [2, 1000, 100_000, 1_000_000]
    for order in ("random", "sorted"):
        for n in sizes:
            xp, fpi, fpf = table(n, rng)
            row = {"case": f"{order} queries, {n:,} knots"}
            for name in FUNCTIONS:
                q = queries(name, xp, fpi, fpf, m, order, rng)
                ours, theirs = ours_and_numpy(name, q, xp, fpi, fpf)
                a, b = median_ns(ours, m, repeats), median_ns(theirs, m, repeats)
                row[name] = (a, b)
            rows.append(row)
    for n in (2, 1000):  # call overhead, then with the knot copies and scans of a mid-sized table
        xp, fpi, fpf = table(n, rng)
        row = {"case": f"one-element call, {n:,} knots"}
        for name in FUNCTIONS:
            q = queries(name, xp, fpi, fpf, 1, "random", rng)
            ours, theirs = ours_and_numpy(name, q, xp, fpi, fpf)
            row[name] = (median_ns(ours, 1, 21, 2000), median_ns(theirs, 1, 21, 2000))
        rows.append(row)
    return rows


MEMORY_PROBE = r"""
import sys
import numpy as np
import rust

def rss_kib(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field))

name = sys.argv[1]
m = 10**7
xp = np.arange(1000, dtype=np.uint64) * np.uint64(1000)
fpi = np.arange(1000, dtype=np.int64) * 10
fp = fpi if name.endswith("_int") else fpi.astype(np.float64)
rng = np.random.default_rng(1)
if name.startswith("forward"):
    q = rng.integers(0, 999_000, size=m, dtype=np.uint64)
else:
    q = rng.integers(0, 9990, size=m).astype(fp.dtype)
extra = () if name.startswith("forward") else ("nearest",)
getattr(rust, name)(q[:10], xp, fp, *extra)  # loads NumPy's API
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets the peak to the current resident size
before = rss_kib("VmRSS:")
r = getattr(rust, name)(q, xp, fp, *extra)
peak = rss_kib("VmHWM:")
print((peak - before) * 1024, r.nbytes, xp.nbytes + fp.nbytes)
"""


def memory():
    out = {}
    for name in FUNCTIONS[:4]:  # rust's own functions
        r = subprocess.run([sys.executable, "-c", MEMORY_PROBE, name], capture_output=True, text=True, check=True)
        peak, result, knots = (int(v) for v in r.stdout.split())
        out[name] = (peak, result, knots)
    return out


def markdown(rows, mem, machine):
    lines = [
        f"Machine: {machine}. ns per element (median), ours / numpy.interp on the same data as float64.",
        "",
        "| case | " + " | ".join(FUNCTIONS) + " |",
        "|---|" + "---|" * len(FUNCTIONS),
    ]
    for row in rows:
        cells = [f"{row[n][0]:.1f} ns ({row[n][0] / row[n][1]:.2f}×)" for n in FUNCTIONS]
        lines.append(f"| {row['case']} | " + " | ".join(cells) + " |")
    lines.append("")
    lines.append("numpy.interp alone (forward_int column), ns per element: " + "; ".join(
        f"{row['case']}: {row['forward_int'][1]:.1f}" for row in rows))
    if mem:
        lines.append("")
        lines.append("Peak resident memory of one 10^7-element call over 1,000 knots, above its inputs "
                     "(bound: result + knot copies + 1 MiB):")
        lines.append("")
        for n, (peak, res, knots) in mem.items():
            bound = res + knots + 2**20
            lines.append(f"- {n}: {peak / 2**20:.2f} MiB, bound {bound / 2**20:.2f} MiB"
                         f" ({'within' if peak <= bound else 'OVER'})")
    return "\n".join(lines)


def plot(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(11, 5))
    width = 0.8 / len(FUNCTIONS)
    for k, name in enumerate(FUNCTIONS):
        ratios = [row[name][0] / row[name][1] for row in rows]
        ax.bar([i + (k - (len(FUNCTIONS) - 1) / 2) * width for i in range(len(rows))], ratios, width, label=name)
    ax.axhline(1.0, color="black", linewidth=0.8)
    ax.set_xticks(range(len(rows)))
    ax.set_xticklabels([row["case"].replace(", ", "\n") for row in rows], fontsize=7)
    ax.set_ylabel("time ours / numpy.interp (lower is faster)")
    ax.set_yscale("log")
    ax.set_title("Exact interpolation against numpy.interp on float64")
    ax.legend()
    fig.tight_layout()
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="10^5 queries, fewer repeats, no memory probe")
    parser.add_argument("--page", help="write the Markdown table into this page of the docs")
    parser.add_argument("--plot", help="draw the ratios into this PNG")
    parser.add_argument("--target", help="time exact_interp's functions (workers=1) with every kernel on this "
                                         "target (avx2, avx512, scalar) instead of rust's, chosen at load")
    parser.add_argument("--rounded", action="store_true", help="only the front end's float answers, rounded "
                                                                 "once, in the cases of their targets")
    args = parser.parse_args()
    machine = machine_name()
    # rust and exact_interp share their core: the same run kernels, chosen at load
    from exact_interp import _native

    if args.target:
        _native._force_kernel_target(args.target)
        global IMPLEMENTATION
        IMPLEMENTATION = "exact_interp"
    kernels = ", ".join(f"{name} {target}" for name, target in _native._kernel_targets().items())
    machine += f"; run kernels: {kernels}" + (" (forced; exact_interp, workers=1)" if args.target else "")
    if args.rounded:
        print(f"Machine: {machine}. 10^6 queries; ns per element, the best of 15 runs timed in turn with "
              f"numpy.interp's, and ours / numpy.interp.\n\n{rounded()}")
        return
    rows = measure(args.quick)
    mem = {} if args.quick else memory()
    text = markdown(rows, mem, machine)
    print(text)
    if args.page:  # a forced target's table in a block of its own
        update_page(args.page, text, f"benchmark-{args.target}" if args.target else "benchmark")
    if args.plot:
        plot(rows, args.plot)


if __name__ == "__main__":
    main()
