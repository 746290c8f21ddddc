"""A Polars lazy query with the interpolation in it, measured side by side in
one run: 10^7 events (a sample counter) in Parquet, put on a reference clock
through a table of 10^4 sync pulses,

    scan_parquet -> with_columns(time=table.forward(pl.col("sample"))) -> sink_parquet

on the streaming engine, against the same pipeline with a plain copy of the
column in place of the interpolation, and the interpolation done on the
whole column in memory for scale.

    python bench/bench_polars.py [--quick] [--page docs/explanation/performance.md]
"""

import os
import tempfile

import numpy as np
from harness import main, markdown_table, timed

import exact_interp


def measure(m, repeats):
    import polars as pl

    rng = np.random.default_rng(5)
    pulses = np.arange(10**4, dtype=np.uint64) * np.uint64(48_000)
    clock = (np.int64(1_714_564_800_000_000_000) + np.cumsum(rng.integers(999_999_000, 1_000_001_000, 10**4)))
    table = exact_interp.Interpolator(pulses, clock.view("M8[ns]"))
    samples = np.sort(rng.integers(0, int(pulses[-1]), m, dtype=np.uint64))
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "events.parquet"), os.path.join(folder, "aligned.parquet")
        pl.DataFrame({"sample": samples, "channel": rng.integers(0, 8, m, dtype=np.int8)}).write_parquet(source)

        def pipeline(expression):
            return lambda: pl.scan_parquet(source).with_columns(time=expression).sink_parquet(target)

        frame = pl.read_parquet(source)
        calls = {
            "copy of the column": pipeline(pl.col("sample")),
            "forward in the query": pipeline(table.forward(pl.col("sample"))),
            "forward on the column in memory": lambda: table.forward(frame["sample"]),
        }
        ns, ratios = timed(list(calls.values()), m, repeats)
        check = pl.scan_parquet(source).with_columns(time=table.forward(pl.col("sample"))).collect(engine="streaming")
        assert check["time"].to_numpy().tobytes() == table.forward(samples).tobytes()
    return [(name, ns[k], ratios[k]) for k, name in enumerate(calls)]


def report(quick, machine):
    m = 10**6 if quick else 10**7
    caption = (f"Machine: {machine}. {m:,} events in Parquet put on a clock of 10^4 sync pulses in a Polars lazy "
               "query on the streaming engine (`scan_parquet` → `with_columns` → `sink_parquet`); ns per row "
               "(median), and each call's ratio to the pipeline that copies the column instead (median of the "
               "ratios of rounds timed in turn).")
    return markdown_table(caption, ["call", "ns per row", "÷ the copy"],
                          [[name, f"{ns:.2f}", f"{ratio:.2f}×"] for name, ns, ratio in measure(m, 3 if quick else 9)])


if __name__ == "__main__":
    main("polars-benchmark", report)
