"""The SQL functions in DuckDB, measured side by side in one run: 10^7 events
(a sample counter) put on a reference clock through a table of 10^4 sync
pulses, into a new table,

  - by the registered function: SELECT sync_forward(sample) FROM events;
  - by a copy of the column (SELECT sample FROM events), the floor;
  - by DuckDB's own way: an ASOF JOIN to the pulse before each event, the
    line to the next one in DOUBLE arithmetic;

and how many of the ASOF JOIN's times differ from the exact ones.

    python bench/bench_duckdb.py [--quick] [--page docs/explanation/performance.md]
"""

import numpy as np
from harness import main, markdown_table, timed

import exact_interp
import exact_interp.duckdb


def measure(m, repeats):
    import duckdb
    import pyarrow as pa

    rng = np.random.default_rng(7)
    pulses = np.arange(10**4, dtype=np.uint64) * np.uint64(48_000)
    clock = np.int64(1_714_564_800_000_000_000) + np.cumsum(rng.integers(999_999_000, 1_000_001_000, 10**4))
    table = exact_interp.Interpolator(pulses, clock.view("M8[ns]"))
    samples = np.sort(rng.integers(0, int(pulses[-1]), m, dtype=np.uint64))  # events come in order
    con = duckdb.connect()
    con.register("events_arrow", pa.table({"sample": samples}))
    con.execute("CREATE TABLE events AS SELECT * FROM events_arrow")
    con.register("pulses_arrow", pa.table({"sample": pulses, "ns": clock}))
    con.execute("CREATE TABLE pulses AS SELECT sample, ns, lead(sample) OVER (ORDER BY sample) AS next_sample, "
                "lead(ns) OVER (ORDER BY sample) AS next_ns FROM pulses_arrow")
    exact_interp.duckdb.register(con, "sync", table)
    asof = ("CREATE OR REPLACE TABLE out AS SELECT CAST(p.ns + (e.sample - p.sample)::DOUBLE * "
            "(p.next_ns - p.ns)::DOUBLE / (p.next_sample - p.sample)::DOUBLE AS BIGINT) AS x "
            "FROM events e ASOF JOIN pulses p ON e.sample >= p.sample")
    calls = {
        "copy of the column": lambda: con.execute("CREATE OR REPLACE TABLE out AS SELECT sample AS x FROM events"),
        "sync_forward(sample)": lambda: con.execute(
            "CREATE OR REPLACE TABLE out AS SELECT sync_forward(sample) AS x FROM events"),
        "ASOF JOIN, DOUBLE arithmetic": lambda: con.execute(asof),
    }
    ns, ratios = timed(list(calls.values()), m, repeats)
    con.execute(asof.replace("SELECT CAST", "SELECT e.sample AS s, CAST"))
    joined = con.sql("SELECT s, x FROM out").fetchnumpy()
    want = table.forward(np.asarray(joined["s"], np.uint64)).view(np.int64)
    differ = int((np.asarray(joined["x"], np.int64) != want).sum())
    return [(name, ns[k], ratios[k]) for k, name in enumerate(calls)], differ, m


def report(quick, machine):
    rows, differ, m = measure(10**6 if quick else 10**7, 3 if quick else 7)
    caption = (f"Machine: {machine}. {m:,} events put on a clock of 10^4 sync pulses in DuckDB, into a new table; "
               "ns per row (median), and each query's ratio to the copy of the column (median of the ratios of "
               f"rounds timed in turn). The ASOF JOIN's times differ from the exact ones on {differ:,} rows.")
    return markdown_table(caption, ["query", "ns per row", "÷ the copy"],
                          [[name, f"{ns:.2f}", f"{ratio:.2f}×"] for name, ns, ratio in rows])


if __name__ == "__main__":
    main("duckdb-benchmark", report)
