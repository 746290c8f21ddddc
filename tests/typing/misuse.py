"""Calls that break the stubs: mypy --strict must report one error on each
line marked "# error"."""

import numpy as np

import rust

x = np.array([1, 2], dtype=np.uint64)
xp = np.array([0, 10], dtype=np.uint64)
fpi = np.array([0, 5], dtype=np.int64)
fpf = np.array([0.0, 5.0])

rust.forward_int(x, xp)  # error
rust.inverse_int(fpi, xp, fpi, method="sideways")  # error
rust.inverse_float(fpf, xp, fpf, 3)  # error
rust.forward_float(x, xp, fpf, "nearest")  # error
r: np.ndarray[tuple[int], np.dtype[np.float64]] = rust.inverse_int(fpi, xp, fpi)  # error
ok = rust.inverse_float(fpf, xp, fpf, None)

import dask.array as da

import exact_interp
import exact_interp.dask

exact_interp.inverse_int(fpi, xp, fpi, "sideways")  # error
exact_interp.dask.forward_float(x, xp, fpf)  # error
exact_interp.dask.inverse_float(da.from_array(fpf), xp, fpf, method="up")  # error
y: np.ndarray[tuple[int], np.dtype[np.uint64]] = exact_interp.dask.forward_int(da.from_array(x), xp, fpi)  # error
ok2 = exact_interp.dask.inverse_float(da.from_array(fpf), xp, fpf, "nearest").compute()

f64s = np.array([0.0, 5.0], dtype=np.float64)
exact_interp.forward_int(x, xp, fpi, 2)  # error
exact_interp.inverse_float(fpf, xp, fpf, workers="all")  # error
table = exact_interp.Interpolator(xp, fpi)
table.inverse(f64s)  # error
z: np.ndarray[tuple[int], np.dtype[np.float64]] = table.forward(x)  # error
exact_interp.dask.forward_int(da.from_array(x), exact_interp.Interpolator(xp, f64s))  # error
ok3 = exact_interp.Interpolator(xp, f64s).forward(x, workers=2)
ok4 = exact_interp.dask.inverse_float(da.from_array(f64s), exact_interp.Interpolator(xp, f64s), method="ffill")
exact_interp.forward_int(x, xp, fpi, left="nearest")  # error
exact_interp.forward_int(x, xp, fpi, right=2.5)  # error
exact_interp.inverse_int(fpi, xp, fpi, missing="clamp")  # error
ok5 = exact_interp.forward_float(x, xp, fpf, left=float("nan"), right="extrapolate", missing="raise")
ok6 = exact_interp.Interpolator(xp, fpi).inverse(fpi, "nearest", left="extrapolate", right=np.uint64(7))


class Named:
    """Stands for a container of another library: a Series, an Index, a DataArray."""

    name = "t"


kept: Named = exact_interp.forward(Named(), xp, fpi)  # the query's container back
lost: Named = exact_interp.forward(x, xp, fpi)  # error
