"""The four functions over a chunked Dask array.

Each takes a one-dimensional Dask array as the query and NumPy arrays as the
table, and returns a lazy Dask array of the result's dtype with the query's
chunks; computed, it is identical bit for bit to one call on the whole query.
Each block is one call of the native module, made through the wrappers of
``exact_interp``, so a fatal error arrives as :class:`exact_interp.FatalError`.

The table (``xp`` and ``fp``) is one key of the graph, on which every block
depends: the scheduler ships it to each worker once and every block on that
worker reads the same arrays, however many blocks there are. The arguments are
checked when the graph is built (the table by one call on an empty query), so
a wrong dtype, a wrong method or tables of different lengths fail at once;
what depends on the data (a query outside the table, a table that is not
increasing) fails when a block is computed, with the native module's message.
Which block's error is seen depends on the order in which blocks run.
"""

from __future__ import annotations

from functools import partial
from typing import Any

import numpy
import numpy.typing

try:
    import dask
    import dask.array
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "exact_interp.dask needs Dask: pip install 'exact-interp[dask]' (or 'dask[array]')"
    ) from error

import exact_interp
from exact_interp import Method

__all__ = ["forward_int", "forward_float", "inverse_int", "inverse_float"]

_RESULT = {
    "forward_int": numpy.dtype(numpy.int64),
    "forward_float": numpy.dtype(numpy.float64),
    "inverse_int": numpy.dtype(numpy.uint64),
    "inverse_float": numpy.dtype(numpy.uint64),
}
_QUERY = {
    "forward_int": numpy.dtype(numpy.uint64),
    "forward_float": numpy.dtype(numpy.uint64),
    "inverse_int": numpy.dtype(numpy.int64),
    "inverse_float": numpy.dtype(numpy.float64),
}


def _block(name: str, method: Method, block: Any, table: tuple[Any, Any]) -> Any:
    """One block: the wrapped call on the table's arrays, as they are."""
    xp, fp = table
    fn = getattr(exact_interp, name)
    if name.startswith("inverse"):
        return fn(block, xp, fp, method)
    return fn(block, xp, fp)


def _map(name: str, query: Any, xp: Any, fp: Any, method: Method, param: str) -> dask.array.Array:
    want = _QUERY[name]
    if not isinstance(query, dask.array.Array) or query.ndim != 1 or query.dtype != want:
        got = (
            f"a {query.ndim}-dimensional dask array of {query.dtype}"
            if isinstance(query, dask.array.Array)
            else f"'{type(query).__qualname__}'"
        )
        raise TypeError(f"argument '{param}': a one-dimensional dask array of {want} is required, not {got}")
    # Checks the table and the method as the native call does, once.
    _block(name, method, numpy.empty(0, want), (xp, fp))
    # dask exports delayed without declaring it
    table = dask.delayed((xp, fp), pure=True, traverse=False)  # type: ignore[attr-defined]
    result: dask.array.Array = dask.array.map_blocks(
        partial(_block, name, method),
        query,
        table,
        dtype=_RESULT[name],
        chunks=query.chunks,
        meta=numpy.empty(0, _RESULT[name]),
    )
    return result


def forward_int(
    x: dask.array.Array, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.int64]
) -> dask.array.Array:
    """Positions (uint64) to int64 values, block by block."""
    return _map("forward_int", x, xp, fp, None, "x")


def forward_float(
    x: dask.array.Array, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.float64]
) -> dask.array.Array:
    """Positions (uint64) to float64 values, block by block."""
    return _map("forward_float", x, xp, fp, None, "x")


def inverse_int(
    f: dask.array.Array,
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    method: Method = None,
) -> dask.array.Array:
    """int64 values to positions (uint64) under `method`, block by block."""
    return _map("inverse_int", f, xp, fp, method, "f")


def inverse_float(
    f: dask.array.Array,
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    method: Method = None,
) -> dask.array.Array:
    """float64 values to positions (uint64) under `method`, block by block."""
    return _map("inverse_float", f, xp, fp, method, "f")
