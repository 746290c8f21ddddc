"""Gaps filled, measured side by side in one run: a series of 2·10^6 float64
values at irregular nanosecond timestamps, a tenth of them missing in gaps
of 1 to 20 elements, filled by

  - exact_interp.interpolate_by (and with a max_gap that leaves the longer
    gaps missing), on one thread and on every core;
  - pandas' Series.interpolate(method="time", limit_area="inside");
  - Polars' interpolate_by, eager.

Each call's ratio to pandas' and to Polars' (the median of the ratios of
rounds timed in turn), and how many filled values each peer's float64
arithmetic gave differently from the correctly rounded one.

    python bench/bench_gaps.py [--quick] [--page docs/explanation/performance.md]
"""

import numpy as np
from harness import main, markdown_table, timed

import exact_interp


def series(m, rng):
    """Timestamps (ns, irregular), values with gaps of 1 to 20 elements covering about a tenth of them."""
    t = np.cumsum(rng.integers(1, 10**9, size=m, dtype=np.int64)) + 1_700_000_000_000_000_000
    v = np.cumsum(rng.standard_normal(m))
    missing = np.zeros(m, bool)
    starts = rng.choice(np.arange(1, m - 21), size=m // 105, replace=False)
    lengths = rng.integers(1, 21, size=len(starts))
    for s, n in zip(starts, lengths):
        missing[s:s + n] = True
    v[missing] = np.nan
    return t.view("M8[ns]"), v


def measure(m, repeats):
    import pandas as pd
    import polars as pl

    rng = np.random.default_rng(11)
    t, v = series(m, rng)
    ps = pd.Series(v, index=pd.DatetimeIndex(t))
    frame = pl.DataFrame({"t": t, "v": pl.Series(v).fill_nan(None)})
    gap = np.timedelta64(10, "s")
    calls = {
        "pandas interpolate(method='time')": lambda: ps.interpolate(method="time", limit_area="inside"),
        "Polars interpolate_by": lambda: frame.select(pl.col("v").interpolate_by("t")),
        "interpolate_by, 1 thread": lambda: exact_interp.interpolate_by(v, t, workers=1),
        "interpolate_by": lambda: exact_interp.interpolate_by(v, t),
        "interpolate_by, max_gap=10 s": lambda: exact_interp.interpolate_by(v, t, max_gap=gap),
    }
    ns, to_pandas = timed(list(calls.values()), m, repeats)
    _, to_polars = timed([calls["Polars interpolate_by"]] + list(calls.values()), m, repeats)
    ours = exact_interp.interpolate_by(v, t)
    missing = np.isnan(v)
    differ = {
        "pandas interpolate(method='time')": int((calls["pandas interpolate(method='time')"]().to_numpy()[missing]
                                                  != ours[missing]).sum()),
        "Polars interpolate_by": int((calls["Polars interpolate_by"]().to_series().to_numpy()[missing]
                                      != ours[missing]).sum()),
    }
    return [(name, ns[k], to_pandas[k], to_polars[k + 1], differ.get(name)) for k, name in enumerate(calls)], \
        int(missing.sum())


def report(quick, machine):
    rows, filled = measure(2 * 10**5 if quick else 2 * 10**6, 5 if quick else 15)
    caption = (f"Machine: {machine}. {filled:,} missing float64 values (gaps of 1 to 20 elements) in a series at "
               "irregular nanosecond timestamps; ns per element of the series (median), each call's ratio to "
               "pandas' and to Polars' (median of the ratios of rounds timed in turn), and how many filled values "
               "differ from the correctly rounded ones.")
    return markdown_table(caption, ["call", "ns per element", "÷ pandas", "÷ Polars", "filled values that differ"],
                          [[name, f"{ns:.2f}", f"{to_pandas:.2f}×", f"{to_polars:.2f}×",
                            "0 (exact)" if differ is None else f"{differ:,}"]
                           for name, ns, to_pandas, to_polars, differ in rows])


if __name__ == "__main__":
    main("gaps-benchmark", report)
