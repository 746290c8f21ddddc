"""Timestamps to sample indices and back through a clock table.

A recorder notes, now and then, the nanosecond timestamp at which it captured
a given sample. Between those notes the clock table is linear; this maps
event timestamps to the sample that was being captured, and sample indices
to their exact nanosecond.
"""

import numpy as np
import numpy.typing as npt

import rust

# (timestamp ns, sample index) pairs: a 48 kHz stream whose clock drifts.
clock_ns: npt.NDArray[np.uint64] = np.array(
    [1_733_600_000_000_000_000, 1_733_600_010_000_000_000, 1_733_600_020_000_000_250], dtype=np.uint64
)
clock_samples: npt.NDArray[np.int64] = np.array([0, 480_000, 960_000], dtype=np.int64)

events: npt.NDArray[np.uint64] = np.array(
    [1_733_600_000_000_020_834, 1_733_600_012_345_678_901, 1_733_600_020_000_000_250], dtype=np.uint64
)
# The sample being captured at each event: rounded down between entries.
nearest = rust.forward_int(events, clock_ns, clock_samples)  # nearest sample, ties to even
print("events -> nearest sample:", nearest)

# Back: the first nanosecond at or after which each sample was captured.
samples: npt.NDArray[np.int64] = np.array([1, 480_001, 959_999], dtype=np.int64)
at = rust.inverse_int(samples, clock_ns, clock_samples, method="bfill")
print("samples -> first ns at or after:", at)
print("offset of sample 1 from the start:", int(at[0] - clock_ns[0]), "ns")

# Samples outside the table: "nearest" clamps to the first or last entry,
# the exact method (None) raises KeyError.
print("clamped:", rust.inverse_int(np.array([-5, 2_000_000], dtype=np.int64), clock_ns, clock_samples, "nearest"))
try:
    rust.inverse_int(np.array([2_000_000], dtype=np.int64), clock_ns, clock_samples)
except KeyError as e:
    print("outside the table:", e)
