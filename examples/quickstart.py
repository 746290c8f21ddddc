"""The typical calls, and why exactness matters for nanosecond timestamps."""

import numpy as np

import exact_interp
import rust

# A clock table: nanosecond timestamps (around 1.7e18, far above 2^53) at
# which a 48 kHz sample counter was read.
t0 = 1_700_000_000_123_456_789
clock_t = np.array([t0, t0 + 1_000_000_000], dtype=np.uint64)  # one second apart
clock_n = np.array([0, 48_000], dtype=np.int64)

# Two timestamps one nanosecond apart, either side of the half-way point
# between samples 0 and 1 (10_416.67 ns): the nearest samples are 0 and 1.
ts = np.array([t0 + 10_416, t0 + 10_417], dtype=np.uint64)
exact = exact_interp.forward(ts, clock_t, clock_n)
rounded = np.interp(ts.astype(np.float64), clock_t.astype(np.float64), clock_n.astype(np.float64))
print("timestamps:          ", ts)
print("as float64:          ", ts.astype(np.float64).astype(np.uint64), "(float64 holds multiples of 256 here)")
print("forward:             ", exact)
print("numpy.interp rounded:", np.rint(rounded).astype(np.int64), "from", rounded)

# And back: sample numbers to the exact nanosecond of each sample.
samples = np.array([1, 2, 47_999], dtype=np.int64)
print("sample -> ns nearest:", exact_interp.inverse(samples, clock_t, clock_n, "nearest") - np.uint64(t0))
print("sample -> ns float64:", np.interp(samples.astype(np.float64), clock_n.astype(np.float64),
                                          clock_t.astype(np.float64)).astype(np.uint64) - np.uint64(t0))

# Outside the table, element by element: extrapolated exactly, or a fill.
print("extrapolated:", exact_interp.forward(np.array([t0 - 1_000_000], np.uint64), clock_t, clock_n,
                                            left="extrapolate"))  # [-48]

# Values back to positions: between knots "ffill" rounds down, above the last
# knot it clamps to the last position.
xp = np.array([100, 200, 300], dtype=np.uint64)
fp = np.array([0, 10, 20], dtype=np.int64)
print("inverse ffill:", exact_interp.inverse(np.array([14, 25]), xp, fp, method="ffill"))  # [240 300]

# Float values interpolate in a 64-bit-significand float, truncated to double:
# the same bits on every processor.
print("forward float:", exact_interp.forward(np.array([1, 5], dtype=np.uint64), np.array([0, 10], dtype=np.uint64),
                                             np.array([0.0, 1.0])))

# rust, the strict core: the typed arrays only, the GIL held, the same bits.
assert rust.forward_int(ts, clock_t, clock_n).tolist() == exact.tolist()
