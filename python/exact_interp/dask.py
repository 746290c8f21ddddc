"""The four functions over a chunked Dask array.

Each takes a Dask array as the query (one-dimensional for the typed four, of
any shape for ``forward`` and ``inverse``) and the table as NumPy arrays
``xp, fp`` or as one :class:`exact_interp.Interpolator`, and returns a lazy
Dask array of the result's dtype with the query's chunks; computed, it is
identical bit for bit to one call on the whole query. ``forward`` and
``inverse`` take positions and values of every kind that
``exact_interp.forward`` and ``inverse`` take (``datetime64`` chunks
included); the typed four take the typed dtypes. Each block is one call
of the GIL-free native functions on one thread (``workers=1``): the threaded
scheduler runs blocks in parallel, one per thread, and a fatal error arrives
as :class:`exact_interp.FatalError`.

The table is an Interpolator, one key of the graph on which every block
depends: it is copied and checked once, the scheduler ships it to each worker
once, and every block on that worker reads the same copy, however many blocks
there are. The arguments are checked when the graph is built, so a wrong
dtype, a wrong method or tables of different lengths fail at once; what
depends on the data (a query outside the table, a table that is not
increasing) fails when a block is computed, with the native module's message.
Which block's error is seen depends on the order in which blocks run.

Every function takes the keywords ``left``, ``right`` and ``missing`` of
the functions it maps, applied block by block (see
:func:`exact_interp.forward`).

A Dask Series (a Dask DataFrame's column) is mapped the same way, partition
by partition: the result is a lazy Dask Series with the query's divisions,
index and name (a Dask DataFrame over value columns), its ``meta`` from the
table's kinds, so its dtype is known before anything is computed
(``pip install "dask[dataframe]"``). A Dask DataFrame itself is refused:
pass one of its columns.
"""

from __future__ import annotations

import sys
from functools import partial
from typing import Any, Generic, Protocol, TypeVar, overload

import numpy
import numpy.typing

try:
    import dask
    import dask.array
    import dask.base
except ImportError as error:  # pragma: no cover - depends on the environment
    raise ImportError(
        "exact_interp.dask needs Dask: pip install 'exact-interp[dask]' (or 'dask[array]')"
    ) from error

import exact_interp
from exact_interp import Interpolator, Method

__all__ = ["forward", "inverse", "forward_int", "forward_float", "inverse_int", "inverse_float"]

# The typed four, one row each (as the native module's entries are): the
# function, the query's name and dtype, the values' dtype, the result's dtype,
# and its example. Their signatures, docstrings and dtype tables follow from it.
_TYPED = (
    ("forward_int", "x", "uint64", "int64", "int64", """
    >>> import dask.array as da, numpy as np, exact_interp.dask as ed
    >>> x = da.from_array(np.arange(0, 100, 10, dtype=np.uint64), chunks=4)
    >>> ed.forward_int(x, np.array([0, 100], np.uint64), np.array([0, 1000])).compute()
    array([  0, 100, 200, 300, 400, 500, 600, 700, 800, 900])"""),
    ("forward_float", "x", "uint64", "float64", "float64", """
    >>> import dask.array as da, numpy as np, exact_interp.dask as ed
    >>> x = da.from_array(np.array([0, 5, 10], dtype=np.uint64), chunks=2)
    >>> ed.forward_float(x, np.array([0, 10], np.uint64), np.array([0.0, 1.0])).compute()
    array([0. , 0.5, 1. ])"""),
    ("inverse_int", "f", "int64", "int64", "uint64", """
    >>> import dask.array as da, numpy as np, exact_interp, exact_interp.dask as ed
    >>> table = exact_interp.Interpolator(np.array([100, 200, 300], np.uint64), np.array([0, 10, 20]))
    >>> ed.inverse_int(da.from_array(np.array([14, 25]), chunks=1), table, method="ffill").compute()
    array([240, 300], dtype=uint64)"""),
    ("inverse_float", "f", "float64", "float64", "uint64", """
    >>> import dask.array as da, numpy as np, exact_interp.dask as ed
    >>> f = da.from_array(np.array([0.25, 0.5]), chunks=1)
    >>> ed.inverse_float(f, np.array([0, 10], np.uint64), np.array([0.0, 1.0]), "nearest").compute()
    array([2, 5], dtype=uint64)"""),
)
_QUERY = {name: numpy.dtype(query) for name, _, query, _, _, _ in _TYPED}
_RESULT = {name: numpy.dtype(result) for name, _, _, _, result, _ in _TYPED}


class _Series(Protocol):
    """A Dask Series (dask.dataframe), as its methods tell it: for the type checker."""

    def map_partitions(self, func: Any, *args: Any, **kwargs: Any) -> Any: ...


def _series(query: Any, param: str) -> bool:
    """Whether the query is a Dask Series (a Dask DataFrame's column, for
    one). A Dask DataFrame is refused, naming the argument. Recognised
    without importing dask.dataframe: a Series of it has imported it."""
    frames = sys.modules.get("dask.dataframe")
    if frames is None:
        return False
    if isinstance(query, frames.DataFrame):
        raise TypeError(f"argument '{param}': a dask DataFrame holds columns, not positions or values; pass one of "
                        f"its columns")
    return isinstance(query, frames.Series)


def _map_any(direction: str, query: Any, xp: Any, fp: Any, method: Method, param: str,
             rules: dict[str, Any]) -> Any:
    """forward or inverse of any kinds: the table an Interpolator of the
    knots' kinds, the result's dtype that of an empty block."""
    series = _series(query, param)
    if not series and not isinstance(query, dask.array.Array):
        raise TypeError(f"argument '{param}': a dask array or Series is required, not "
                        f"'{type(query).__qualname__}'")
    if isinstance(xp, Interpolator):
        if fp is not None:
            raise TypeError(f"{direction}() takes an Interpolator alone, not with fp={fp!r}")
        table = xp
    else:
        table = Interpolator(xp, fp)
    name = f"{direction}_"  # _block tells the directions apart by the prefix
    if series:
        return _map_partitions(name, method, rules, query, table)
    # checks the query's kind, the method and the rules on an empty block (of one dimension for a 0-d query,
    # whose meta is then the columns' shape alone: an empty block of no dimension has an element)
    meta = _block(name, method, rules, numpy.empty((0,) * max(query.ndim, 1), query.dtype), table)
    if query.ndim == 0:
        meta = numpy.zeros(numpy.shape(meta)[1:], numpy.asarray(meta).dtype)
    return _graph(name, method, rules, query, table, meta)


def _graph(name: str, method: Method, rules: dict[str, Any], query: Any, table: Interpolator[Any],
           meta: Any) -> dask.array.Array:
    """The blocks of the query mapped through the table, which is one key of
    the graph; the result's dtype that of meta, an empty result."""
    graph_table = _graph_table(table)
    columns = meta.shape[query.ndim:]  # value columns: whole in every block, after the query's dimensions
    result: dask.array.Array = dask.array.map_blocks(
        partial(_block, name, method, rules), query, graph_table, dtype=meta.dtype,
        chunks=query.chunks + tuple((c,) for c in columns), meta=meta,
        new_axis=list(range(query.ndim, query.ndim + len(columns))) or None,
    )
    return result


def _graph_table(table: Interpolator[Any]) -> Any:
    """The table as one key of the graph, named by its contents."""
    key = "exact-interp-table-" + dask.base.tokenize(table._xp, table._fp, repr(table._kinds), table._shape)
    # dask exports delayed without declaring it
    return dask.delayed(table, name=key, pure=True, traverse=False)  # type: ignore[attr-defined]


def _map_partitions(name: str, method: Method, rules: dict[str, Any], query: Any, table: Interpolator[Any]) -> Any:
    """A Dask Series mapped partition by partition, each a pandas Series
    answered as the front end answers one (its index and name kept, a
    DataFrame for value columns); the meta that of the empty partition,
    which checks the query's kind, the method and the rules at once."""
    meta = _block(name, method, rules, query._meta, table)
    return query.map_partitions(partial(_block, name, method, rules), _graph_table(table), meta=meta)


@overload
def forward(x: dask.array.Array, xp: Any, fp: Any = None, *, left: Any = "raise", right: Any = "raise",
            missing: Any = "raise") -> dask.array.Array: ...
@overload
def forward(x: _Series, xp: Any, fp: Any = None, *, left: Any = "raise", right: Any = "raise",
            missing: Any = "raise") -> Any: ...


def forward(x: Any, xp: Any, fp: Any = None, *, left: Any = "raise", right: Any = "raise",
            missing: Any = "raise") -> Any:
    """Positions of any kind to values in the kind of ``fp``, block by block.

    Parameters
    ----------
    x : dask.array.Array or dask.dataframe.Series
        The positions, of any shape and of every kind that :func:`exact_interp.forward` takes
        (``datetime64`` chunks included); or a Dask Series of them, a DataFrame's column.
    xp : array_like or Interpolator
        The positions of the knots, or an :class:`exact_interp.Interpolator` of the table.
    fp : array_like, optional
        The values of the knots; left out when ``xp`` is an Interpolator.
    left, right, missing : optional
        The rules outside the table and for missing elements of
        :func:`exact_interp.forward`, applied block by block.

    Returns
    -------
    dask.array.Array or dask.dataframe.Series
        The values in the kind of ``fp`` and the shape of ``x``, with the query's chunks (a Series: its
        partitions, index and name): lazy; computed, it is bit for bit one call on the whole query.

    Raises
    ------
    TypeError, ValueError, FatalError
        When the graph is built: a query or knots of the wrong kind, a bad
        ``method`` or rule, knots of different lengths. What depends on the
        data fails when a block is computed, as :func:`exact_interp.forward` fails.

    Examples
    --------
    >>> import dask.array as da, numpy as np, exact_interp.dask as ed
    >>> x = da.from_array(np.array([[-1, 5], [0, 8]]), chunks=1)
    >>> ed.forward(x, [-2, 8], [0, 100]).compute()
    array([[ 10,  70],
           [ 20, 100]])

    A column of a Dask DataFrame:

    >>> import dask.dataframe as dd, pandas as pd
    >>> frame = dd.from_pandas(pd.DataFrame({"sample": np.array([0, 250, 1000], np.uint64)}), npartitions=2)
    >>> aligned = ed.forward(frame["sample"], np.array([0, 1000], np.uint64),
    ...                      np.array(["2024-01-01T00:00:00", "2024-01-01T00:00:01"], "datetime64[ns]"))
    >>> aligned.dtype
    dtype('<M8[ns]')
    >>> aligned.compute()
    0   2024-01-01 00:00:00.000
    1   2024-01-01 00:00:00.250
    2   2024-01-01 00:00:01.000
    Name: sample, dtype: datetime64[ns]
    """
    return _map_any("forward", x, xp, fp, None, "x", _rules(left, right, missing))


@overload
def inverse(f: dask.array.Array, xp: Any, fp: Any = None, method: Method = None, *, left: Any = None,
            right: Any = None, missing: Any = "raise") -> dask.array.Array: ...
@overload
def inverse(f: _Series, xp: Any, fp: Any = None, method: Method = None, *, left: Any = None,
            right: Any = None, missing: Any = "raise") -> Any: ...


def inverse(f: Any, xp: Any, fp: Any = None, method: Method = None, *, left: Any = None,
            right: Any = None, missing: Any = "raise") -> Any:
    """Values of any kind to positions in the kind of ``xp`` under ``method``, block by block.

    Parameters
    ----------
    f : dask.array.Array or dask.dataframe.Series
        The values, of any shape and of every kind that :func:`exact_interp.inverse` takes; or a Dask
        Series of them, a DataFrame's column.
    xp : array_like or Interpolator
        The positions of the knots, or an :class:`exact_interp.Interpolator` of the table.
    fp : array_like, optional
        The values of the knots; left out when ``xp`` is an Interpolator.
    method : {None, 'nearest', 'ffill', 'bfill'}, optional
        As in :func:`exact_interp.inverse_int`.
    left, right, missing : optional
        The rules outside the table and for missing elements of
        :func:`exact_interp.inverse`, applied block by block.

    Returns
    -------
    dask.array.Array or dask.dataframe.Series
        The positions in the kind of ``xp`` and the shape of ``f``, with the query's chunks (a Series: its
        partitions, index and name): lazy; computed, it is bit for bit one call on the whole query.

    Raises
    ------
    TypeError, ValueError, FatalError
        When the graph is built: a query or knots of the wrong kind, a bad
        ``method`` or rule, knots of different lengths. What depends on the
        data fails when a block is computed, as :func:`exact_interp.inverse` fails.

    Examples
    --------
    >>> import dask.array as da, numpy as np, exact_interp.dask as ed
    >>> clock = np.array(["2024-01-01T00:00:00", "2024-01-01T00:00:10"], "datetime64[ns]")
    >>> ed.inverse(da.from_array(np.array([0, 480_000]), chunks=1), clock, [0, 480_000]).compute()
    array(['2024-01-01T00:00:00.000000000', '2024-01-01T00:00:10.000000000'],
          dtype='datetime64[ns]')
    """
    return _map_any("inverse", f, xp, fp, method, "f", _rules(left, right, missing))


def _rules(left: Any, right: Any, missing: Any) -> dict[str, Any]:
    return {"left": left, "right": right, "missing": missing}


def _block(name: str, method: Method, rules: dict[str, Any], block: Any, table: Interpolator[Any]) -> Any:
    """One block on the caller's thread: Dask runs blocks in parallel."""
    if name.startswith("inverse"):
        return table.inverse(block, method, workers=1, **rules)
    return table.forward(block, workers=1, **rules)


def _table(name: str, xp: Any, fp: Any, method: Method, rules: dict[str, Any]) -> Interpolator[Any]:
    """The table of the call, checked as the native call checks it."""
    if isinstance(xp, Interpolator):
        values = _QUERY[name] if name.startswith("inverse") else _RESULT[name]
        if fp is not None or xp.fp.dtype != values or xp._shape is not None:  # one column of values
            raise TypeError(f"{name}() takes an Interpolator of {values} values alone, not {xp!r} with fp={fp!r}")
        # float values by the typed functions' chain, which an Interpolator's own rounding is not
        table = Interpolator._typed(xp.xp, xp.fp) if values == numpy.float64 else xp
    else:
        # the arguments' messages, and a fatal error for lengths that differ
        fn = getattr(exact_interp, name)
        empty = numpy.empty(0, _QUERY[name])
        if name.startswith("inverse"):
            fn(empty, xp, fp, method)
        else:
            fn(empty, xp, fp)
        table = Interpolator._typed(xp, fp)
    _block(name, method, rules, numpy.empty(0, _QUERY[name]), table)  # the method and the rules, once
    return table


def _map(name: str, query: Any, xp: Any, fp: Any, method: Method, param: str,
         rules: dict[str, Any]) -> Any:
    want = _QUERY[name]
    if _series(query, param):
        if query.dtype != want:
            raise TypeError(f"argument '{param}': a dask Series of {want} is required, not one of {query.dtype}")
        return _map_partitions(name, method, rules, query, _table(name, xp, fp, method, rules))
    if not isinstance(query, dask.array.Array) or query.ndim != 1 or query.dtype != want:
        got = (
            f"a {query.ndim}-dimensional dask array of {query.dtype}"
            if isinstance(query, dask.array.Array)
            else f"'{type(query).__qualname__}'"
        )
        raise TypeError(f"argument '{param}': a one-dimensional dask array of {want} is required, not {got}")
    return _graph(name, method, rules, query, _table(name, xp, fp, method, rules), numpy.empty(0, _RESULT[name]))


_DOC = """{summary}, block by block.

    Parameters
    ----------
    {param} : dask.array.Array or dask.dataframe.Series
        One-dimensional, of {query}; or a Dask Series of {query}, mapped partition by partition.
    xp : array_like or Interpolator
        uint64 positions of the knots, or an :class:`exact_interp.Interpolator` of {values} values.
    fp : array_like, optional
        The values of the knots; left out when ``xp`` is an Interpolator.{method}
    left, right, missing : optional
        The rules outside the table and for missing elements of
        :func:`exact_interp.{name}`, applied block by block.

    Returns
    -------
    dask.array.Array or dask.dataframe.Series
        {result}, with the query's chunks (a Series: its partitions, index
        and name): lazy; computed, it is bit for bit one call on the whole
        query.

    Raises
    ------
    TypeError, ValueError, FatalError
        When the graph is built: a query or knots of the wrong kind, a bad
        ``method`` or rule, knots of different lengths. What depends on the
        data fails when a block is computed, as :func:`exact_interp.{name}` fails.

    Examples
    --------{example}
    """

_METHOD = """
    method : {None, 'nearest', 'ffill', 'bfill'}, optional
        As in :func:`exact_interp.inverse_int`."""

_Values = TypeVar("_Values", numpy.int64, numpy.float64)


class _TypedForward(Protocol, Generic[_Values]):
    """forward_int or forward_float over a Dask array (typed for arrays; a Dask Series is taken at run time)."""

    @overload
    def __call__(self, x: dask.array.Array, xp: Interpolator[_Values], *, left: Any = "raise",
                 right: Any = "raise", missing: Any = "raise") -> dask.array.Array: ...
    @overload
    def __call__(self, x: dask.array.Array, xp: numpy.typing.NDArray[numpy.uint64],
                 fp: numpy.typing.NDArray[_Values], *, left: Any = "raise", right: Any = "raise",
                 missing: Any = "raise") -> dask.array.Array: ...


class _TypedInverse(Protocol, Generic[_Values]):
    """inverse_int or inverse_float over a Dask array (typed for arrays; a Dask Series is taken at run time)."""

    @overload
    def __call__(self, f: dask.array.Array, xp: Interpolator[_Values], fp: None = None, method: Method = None, *,
                 left: Any = None, right: Any = None, missing: Any = "raise") -> dask.array.Array: ...
    @overload
    def __call__(self, f: dask.array.Array, xp: numpy.typing.NDArray[numpy.uint64],
                 fp: numpy.typing.NDArray[_Values], method: Method = None, *, left: Any = None,
                 right: Any = None, missing: Any = "raise") -> dask.array.Array: ...


def _typed(name: str, param: str, query: str, values: str, result: str, example: str) -> Any:
    """The function `name` of one row of _TYPED: its signature that of the typed function it maps, without
    workers, and xp an Interpolator or the knots."""
    if name.startswith("forward"):
        def mapped(x: Any, xp: Any, fp: Any = None, *, left: Any = "raise", right: Any = "raise",
                   missing: Any = "raise") -> Any:
            return _map(name, x, xp, fp, None, "x", _rules(left, right, missing))
        summary = f"Positions ({query}) to {values} values"
        shown = f"{values} values"
    else:
        def mapped(f: Any, xp: Any, fp: Any = None, method: Method = None, *,  # type: ignore[misc]
                   left: Any = None, right: Any = None, missing: Any = "raise") -> Any:
            return _map(name, f, xp, fp, method, "f", _rules(left, right, missing))
        summary = f"{values} values to positions ({result}) under ``method``"
        shown = f"{result} positions"
    mapped.__name__ = mapped.__qualname__ = name
    mapped.__doc__ = _DOC.format(summary=summary, param=param, query=query, values=values, name=name,
                                 method=_METHOD if name.startswith("inverse") else "", result=shown,
                                 example=example)
    return mapped


forward_int: _TypedForward[numpy.int64]
forward_float: _TypedForward[numpy.float64]
inverse_int: _TypedInverse[numpy.int64]
inverse_float: _TypedInverse[numpy.float64]
forward_int, forward_float, inverse_int, inverse_float = (_typed(*row) for row in _TYPED)
