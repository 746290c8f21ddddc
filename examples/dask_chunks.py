"""Interpolating a query array larger than memory with Dask.

exact_interp.dask maps a chunked array block by block; the table travels to
each worker once. The result is identical, bit for bit, to one call on the
whole array, and a fatal error arrives as exact_interp.FatalError, on a
cluster too.

Needs Dask: pip install "exact-interp[examples]".
"""

import dask.array as da
import numpy as np

import exact_interp
import exact_interp.dask as ed

xp = np.array([0, 10**12, 2 * 10**12], dtype=np.uint64)
fp = np.array([0.0, 1.0, 4.0])
x = da.arange(0, 2 * 10**12, 7_777_777, dtype=np.uint64, chunks=50_000)

y = ed.forward_float(x, xp, fp)
back = ed.inverse_float(y, xp, fp, method="nearest")
print(y.sum().compute(), int((back - x).max().compute()))

try:
    ed.inverse_float(da.from_array(np.array([0.5, np.nan]), chunks=1), xp, fp).compute()
except exact_interp.FatalError as error:
    print("fatal:", error)
