"""A clock table prepared once and shared: exact_interp.Interpolator, the
keyword workers, and threads that run while the calls work.

The table is copied and checked once; every call after that costs the same
whatever the table's size. Calls release the GIL, so Python threads (or a
thread pool, or Dask's threaded scheduler) run them side by side, and one
long call can itself be split across the cores with `workers`.
"""

from concurrent.futures import ThreadPoolExecutor

import numpy as np
import numpy.typing as npt

import exact_interp
import rust

rng = np.random.default_rng(2026)
# A recorder's clock table: 10,001 (timestamp ns, sample index) pairs, one a second.
t0 = 1_733_600_000_000_000_000
seconds = np.arange(10_001, dtype=np.uint64) * np.uint64(10**9)
clock_ns: npt.NDArray[np.uint64] = np.uint64(t0) + seconds + rng.integers(0, 500, 10_001, dtype=np.uint64)
clock_samples: npt.NDArray[np.int64] = np.arange(10_001, dtype=np.int64) * 48_000

table = exact_interp.Interpolator(clock_ns, clock_samples)
print(table)

# One event: no copy of the 10,001 knots, no scan.
event: npt.NDArray[np.uint64] = np.array([t0 + 1_234_567_890_123], dtype=np.uint64)
print("sample at the event:", table.forward(event))

# Four million events, split across every core the process may use (workers=None),
# bit for bit what one thread gives.
events = np.sort(rng.integers(int(clock_ns[0]), int(clock_ns[-1]), 4_000_000, dtype=np.uint64))
samples = table.forward(events)
assert samples.tobytes() == table.forward(events, workers=1).tobytes()
assert samples.tobytes() == rust.forward_int(events, clock_ns, clock_samples).tobytes()
print("first samples:", samples[:3])

# Back to the first nanosecond at or after each sample, from four threads at once.
with ThreadPoolExecutor(4) as pool:
    parts = list(pool.map(lambda s: table.inverse(s, "bfill", workers=1), np.array_split(samples, 4)))
back = np.concatenate(parts)
# forward rounds to the nearest sample: the way back lands within half a sample (10,417 ns at 48 kHz)
print("largest round-trip distance:", int(np.abs(back.astype(np.int64) - events.astype(np.int64)).max()), "ns")

# Errors are those of the functions, for the first failing element in index order.
try:
    table.inverse(np.array([5, -1, 10**15], dtype=np.int64))
except KeyError as e:
    print("not a whole nanosecond, or outside the table:", e)
