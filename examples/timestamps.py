"""Timestamps as they come: datetime64 columns, instants before 1970, a
pandas Series, and a timestamp column as the values of a clock table.

exact_interp.forward and inverse take positions and values of many kinds and
convert each exactly, or refuse it with an error that names the argument.

Needs pandas: pip install "exact-interp[examples]".
"""

import numpy as np
import pandas as pd

import exact_interp

# A clock table: when (UTC, nanoseconds) a recorder captured some of its samples.
# The first entry lies before 1970, where int64 nanoseconds are negative.
clock = np.array(["1969-12-31T23:59:58", "1970-01-01T00:00:02", "2026-12-08T12:00:00.000000001"], "M8[ns]")
samples = np.array([0, 192_000, 192_000 + 48_000 * 1_797_336_000], np.int64)  # 48 kHz

# Instants to the nearest sample; a query in seconds is converted to nanoseconds exactly.
events = np.array(["1969-12-31T23:59:59", "2026-12-08T11:59:59"], "M8[s]")
print("sample at each event:", exact_interp.forward(events, clock, samples))

# Samples to the first nanosecond at or after which they were captured: datetime64[ns] back.
at = exact_interp.inverse(np.array([1, 96_000, 192_001]), clock, samples, "bfill")
print("first nanosecond of each sample:", at)

# A sample counter as positions and the timestamp column as values: instants come out.
print("instant of sample 96,000:", exact_interp.forward(96_000, samples, clock))

# A pandas Series keeps its index and name. Times of a zone meet times of any zone, as
# instants, but never naive times (as pandas has it): the clock, in UTC, says so.
log = pd.Series(pd.to_datetime(["1970-01-01 01:00:01", "2026-12-08 12:59:59"]).tz_localize("Europe/Berlin"),
                index=["boot", "now"], name="logged")
utc_clock = pd.DatetimeIndex(clock).tz_localize("UTC")
print(exact_interp.forward(log, utc_clock, samples))
# ... and samples back to instants of the clock's zone
print(exact_interp.inverse(pd.Series([96_000], index=["boot"]), utc_clock, samples).dt.tz_convert("Europe/Berlin"))

# Prepared once, for many calls.
table = exact_interp.Interpolator(clock, samples)
print(table)

# Never a silent loss: a nanosecond query against knots in seconds is refused, not rounded.
try:
    exact_interp.forward(np.array(["2000-01-01T00:00:00.5"], "M8[ns]"), clock.astype("M8[s]"), samples)
except ValueError as e:
    print("refused:", e)
