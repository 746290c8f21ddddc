"""Elements outside the table, measured side by side in one run, for each of
the four functions on one thread (workers=1), 2·10^6 sorted queries over
1,000 knots:

  - a query wholly inside the table, with the fill keywords (left, right,
    missing) against the same call without them;
  - the same query with a tenth of its elements beyond the ends (half below
    the first knot, half above the last) under fills and under "extrapolate",
    against the all-inside query;
  - numpy.interp on both queries as float64 (it clamps), for scale.

    python bench/bench_outside.py [--quick] [--page docs/explanation/performance.md]
"""


import numpy as np
from bench_numpy import FUNCTIONS, queries, table
from harness import main, markdown_table, timed

import exact_interp


def outside_tenth(q, lo, hi):
    """q with its first and last twentieth replaced by keys beyond the ends,
    kept sorted."""
    m, out = len(q), q.copy()
    k = m // 20
    if q.dtype.kind == "f":
        span = float(hi - lo)
        out[:k] = lo - span * np.linspace(0.1, 0.001, k)
        out[m - k:] = hi + span * np.linspace(0.001, 0.1, k)
    else:
        span = int(hi) - int(lo)
        out[:k] = np.linspace(int(lo) - span // 10, int(lo) - 1, k).astype(q.dtype)
        out[m - k:] = np.linspace(int(hi) + 1, int(hi) + span // 10, k).astype(q.dtype)
    return out


def measure(m, repeats):
    rng = np.random.default_rng(9)
    xp, fpi, fpf = table(1000, rng)
    rows = []
    for name in FUNCTIONS:
        forward = name.startswith("forward")
        fp = fpi if name.endswith("_int") else fpf
        fn = getattr(exact_interp, name)
        inside = queries(name, xp, fpi, fpf, m, "sorted", rng)
        axis = xp if forward else fp
        beyond = outside_tenth(inside, axis[0], axis[-1])
        args = () if forward else ("nearest",)
        fill = {"forward_int": -1, "forward_float": -1.0}.get(name, 0)  # of the result's type
        fills = {"left": fill, "right": fill, "missing": fill}
        extrapolate = {"left": "extrapolate", "right": "extrapolate"}
        xf, fpd = xp.astype(np.float64), fp.astype(np.float64)

        def numpy_on(q, xf=xf, fpd=fpd, forward=forward):
            qf = q.astype(np.float64)
            return (lambda: np.interp(qf, xf, fpd)) if forward else (lambda: np.interp(qf, fpd, xf))

        def ours(q, keywords, fn=fn, fp=fp, args=args):
            return lambda: fn(q, xp, fp, *args, workers=1, **keywords)

        ns, ratios = timed([ours(inside, {}), ours(inside, fills), ours(beyond, fills), ours(beyond, extrapolate),
                            numpy_on(inside), numpy_on(beyond)], m, repeats)
        rows.append((name, ns, ratios))
    return rows


def report(quick, machine):
    caption = (f"Machine: {machine}. 2·10^6 sorted queries over 1,000 knots on one thread (`workers=1`); ns per "
               "element (median), and each call's ratio to the same query wholly inside without keywords (median "
               "of the ratios of rounds timed in turn).")
    rows = [[name] + [f"{v:.2f}" + (f" ({r:.2f}×)" if k else "") for k, (v, r) in enumerate(zip(ns, ratios))]
            for name, ns, ratios in measure(2 * 10**5 if quick else 2 * 10**6, 5 if quick else 21)]
    return markdown_table(caption, ["function", "inside", "inside, fills", "10% outside, fills",
                                    "10% outside, extrapolate", "numpy.interp inside", "numpy.interp 10% outside"],
                          rows)


if __name__ == "__main__":
    main("outside-benchmark", report)
