"""A sync table of one pair a second for an hour, and samples just before the
first pair and just after the last: extrapolated exactly, filled, or clamped
element by element instead of failing the whole call."""

import numpy as np

import exact_interp

t0 = 1_733_600_000_000_000_000  # ns
xp = np.uint64(t0) + np.arange(3601, dtype=np.uint64) * np.uint64(1_000_000_000)  # timestamps, one a second
fp = np.arange(3601, dtype=np.int64) * 48_000 + 7  # a 48 kHz sample counter
x = np.array([t0 - 1_500_000, t0 + 1_800 * 10**9 + 1, t0 + 3_600 * 10**9 + 2_500_000], dtype=np.uint64)

samples = exact_interp.forward_int(x, xp, fp, left="extrapolate", right="extrapolate")
print("extrapolated:", samples)  # [-65 86400007 172800127]
assert samples.tolist() == [-65, 86_400_007, 172_800_127]

# ... and back to the timestamps, exactly: 1.5 ms before the first pair is 72 samples before it
back = exact_interp.inverse_int(samples, xp, fp, "nearest", left="extrapolate", right="extrapolate")
print("back, ns from the first pair:", back.astype(np.int64) - t0)  # [-1500000 1800000000000 3600002500000]
assert back[0] == t0 - 1_500_000 and back[2] == t0 + 3_600 * 10**9 + 2_500_000

print("filled:", exact_interp.forward_int(x, xp, fp, left=-1, right=-1))  # [-1 86400007 -1]
print("clamped, as numpy.interp:", exact_interp.forward_int(x, xp, fp, left="clamp", right="clamp"))

# Timestamps as datetime64 with a missing one: NaT in, the fill out
stamps = np.array([t0 - 1_500_000, -(2**63), t0 + 1], dtype=np.int64).view("datetime64[ns]")
clock = (xp.astype(np.int64)).view("datetime64[ns]")
print("datetime64:", exact_interp.forward(stamps, clock, fp, left="extrapolate", missing=-1))  # [-65 -1 7]

# numpy.interp through float64 on the same extrapolated stretch: clamped, and 2^53 is far below t0
print("numpy.interp:", np.interp(x.astype(float), xp.astype(float), fp.astype(float)))
