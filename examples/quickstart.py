"""The typical calls, and why exactness matters for nanosecond timestamps."""

import numpy as np

import rust

# Values back to positions: between knots "ffill" rounds down, above the last
# knot it clamps to the last position.
xp = np.array([100, 200, 300], dtype=np.uint64)
fp = np.array([0, 10, 20], dtype=np.int64)
print("inverse_int ffill:", rust.inverse_int(np.array([14, 25]), xp, fp, method="ffill"))  # [240 300]

# A clock table: nanosecond timestamps (around 1.7e18, far above 2^53) at
# which sample counters were read.
t0 = 1_700_000_000_123_456_789
clock_t = np.array([t0, t0 + 1_000_000_000], dtype=np.uint64)  # one second apart
clock_n = np.array([0, 48_000], dtype=np.int64)  # 48 kHz samples

# Two timestamps one nanosecond apart, either side of the half-way point
# between samples 0 and 1 (10_416.67 ns): the nearest samples are 0 and 1.
ts = np.array([t0 + 10_416, t0 + 10_417], dtype=np.uint64)
exact = rust.forward_int(ts, clock_t, clock_n)
rounded = np.interp(ts.astype(np.float64), clock_t.astype(np.float64), clock_n.astype(np.float64))
print("timestamps:          ", ts)
print("as float64:          ", ts.astype(np.float64).astype(np.uint64), "(float64 holds multiples of 256 here)")
print("forward_int:         ", exact)
print("numpy.interp rounded:", np.rint(rounded).astype(np.int64), "from", rounded)

# And back: sample numbers to the exact nanosecond of each sample.
samples = np.array([1, 2, 47_999], dtype=np.int64)
print("sample -> ns nearest:", rust.inverse_int(samples, clock_t, clock_n, method="nearest") - np.uint64(t0))
print("sample -> ns float64:", np.interp(samples.astype(np.float64), clock_n.astype(np.float64),
                                          clock_t.astype(np.float64)).astype(np.uint64) - np.uint64(t0))

# Float values interpolate in a 64-bit-significand float, truncated to double:
# the same bits on every processor.
print("forward_float:", rust.forward_float(np.array([1, 5], dtype=np.uint64), np.array([0, 10], dtype=np.uint64),
                                           np.array([0.0, 1.0])))
