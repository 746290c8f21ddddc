"""Interpolator: a table copied and checked once, for many calls: its knots in
the caller's kinds, its repr and pickling, and its calls (a typed query in one
native call, any other through the conversions)."""

from __future__ import annotations

import inspect
from typing import Any, Generic, TypeVar

from exact_interp import _native

_Value = TypeVar("_Value")


def _convert() -> Any:
    """exact_interp._convert, which imports NumPy: at the first use, not at import."""
    from exact_interp import _convert as module

    return module


def _results() -> Any:
    """exact_interp._results (NumPy), at the first use."""
    from exact_interp import _results as module

    return module


# The keywords of forward and inverse (workers, left, right, missing) are
# keyword-only, as their signatures show (__signature__, the stub), but at run
# time they stand behind `_end`, a parameter that only a positional argument
# too many fills: CPython calls a function whose parameters are all
# positional-or-keyword by its fast path, some 700 instructions less per call,
# a third of the Python layer over a one-element typed query.
_END: Any = object()


def _positional(name: str, takes: str) -> TypeError:
    return TypeError(f"Interpolator.{name}() takes {takes}; workers, left, right and missing are keyword-only")


def _keyword_only(prototype: Any) -> Any:
    """The decorated method, with the signature of `prototype` (its keywords keyword-only)."""

    def decorate(method: Any) -> Any:
        method.__signature__ = inspect.signature(prototype)
        return method

    return decorate


def _forward_signature(self: Any, x: Any, *, workers: int | None = None, left: Any = None, right: Any = None,
                       missing: Any = None) -> Any: ...


def _inverse_signature(self: Any, f: Any, method: Any = None, *, workers: int | None = None, left: Any = None,
                       right: Any = None, missing: Any = None) -> Any: ...


class Interpolator(Generic[_Value]):
    """The table of knots ``(xp, fp)``, copied and checked once, for many calls.

    Takes positions and values of every kind that :func:`exact_interp.forward`
    and :func:`exact_interp.inverse` take (uint64 positions with int64 or
    float64 values as they are). Immutable and safe to share between
    threads; each call costs the same whatever the table's size (no copy, no
    scan). It pickles as the call that rebuilds it, so a Dask graph ships it
    once.

    Parameters
    ----------
    xp : array_like, one-dimensional
        The positions of the knots.
    fp : array_like
        The values of the knots, as many as ``xp``: int64 values (or time
        counts) take the integer scheme; float64 values answer with the
        exact value rounded once, as :func:`exact_interp.forward` does.
        Of shape ``(len(xp), ...)`` for value columns over the same
        positions (the forward only): each key's segment is found once for
        all of them.
    duplicates : {'raise', 'first', 'last'}, optional
        Knots at equal positions: refused (default, naming the pair), or
        the first or the last of each such run kept.

    Raises
    ------
    TypeError, ValueError, OverflowError
        Knots of a kind that does not convert exactly, naming the argument.
    ValueError
        Knots the table cannot hold, naming the first at fault: lengths that
        differ, positions that do not increase strictly, float values that
        are not finite. Values that do not increase are reported by the
        first inverse, which needs them increasing.

    See Also
    --------
    forward, inverse : The same evaluations with the knots given each call.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> table = exact_interp.Interpolator(np.array([100, 200, 300], np.uint64), np.array([0, 10, 20]))
    >>> table
    <exact_interp.Interpolator: 3 knots of int64 values, xp from 100 to 300, fp from 0 to 20>
    >>> table.forward(np.array([150, 240], np.uint64))
    array([ 5, 14])
    >>> table.inverse(np.array([14, 25]), "ffill")
    array([240, 300], dtype=uint64)

    Value columns over the same positions (a timestamp axis with two
    channels), each key's segment found once for both:

    >>> channels = exact_interp.Interpolator([0, 10], [[0, 100], [10, -100]])
    >>> channels
    <exact_interp.Interpolator: 2 knots of int64 values in columns of shape (2,), int64 xp from 0 to 10>
    >>> channels.forward([[2, 5]])
    array([[[  2,  60],
            [  5,   0]]])
    """

    _table: Any
    _kinds: Any
    _shape: tuple[int, ...] | None  # value columns: their shape (fp's after its first axis)

    def __init__(self, xp: Any, fp: Any, *, duplicates: str = "raise") -> None:
        convert = _convert()
        # the typed dtypes, as the typed functions take them
        if convert.is_typed(xp, fp) and duplicates in ("raise", None):
            table, shape, kinds = _native.Table(xp, fp), None, None
        else:
            table, shape, kinds = convert.checked_table(xp, fp, duplicates=duplicates)
        self._set(table, kinds, shape)

    def _set(self, table: Any, kinds: Any, shape: tuple[int, ...] | None) -> None:
        object.__setattr__(self, "_table", table)
        object.__setattr__(self, "_kinds", kinds)
        object.__setattr__(self, "_shape", shape)

    @classmethod
    def _typed(cls, xp: Any, fp: Any) -> Interpolator[Any]:
        """A table of typed knots checked as the typed functions check them (exact_interp.dask's typed
        functions): lengths that differ are fatal, the order and finite values are checked where a query
        needs them."""
        table = cls.__new__(cls)
        table._set(_native.Table(xp, fp, 1, "typed"), None, None)
        return table

    @_keyword_only(_forward_signature)
    def forward(self, x: Any, _end: Any = _END, workers: int | None = None, left: Any = None, right: Any = None,
                missing: Any = None) -> Any:
        """Positions to values, in the kind of the table's values.

        Parameters
        ----------
        x : array_like
            The positions, of any shape and container that
            :func:`exact_interp.forward` takes (a Polars expression gives a
            Polars expression).
        workers : int or None, optional
            The threads one call may use (``None``: the cores available).
        left, right : {'raise', 'clamp', 'extrapolate', 'null'} or scalar, optional
            What a position below the first knot or above the last gets
            (``'null'``: a missing result, as in :func:`exact_interp.forward`).
        missing : 'raise', 'null' or scalar, optional
            A fill for the query's missing elements (``'null'``: they stay
            missing).

        Returns
        -------
        numpy.ndarray, scalar or the query's container
            What :func:`exact_interp.forward` gives with these knots: of the
            query's shape, with the value columns' shape after it.

        Raises
        ------
        IndexError, TypeError, ValueError, OverflowError, FatalError
            As :func:`exact_interp.forward` raises them.

        Examples
        --------
        >>> import numpy as np, exact_interp
        >>> table = exact_interp.Interpolator(np.array([0, 10], "datetime64[s]"), np.array([0.0, 1.0]))
        >>> table.forward(np.array([5, 20], "datetime64[s]"), right=np.nan)
        array([0.5, nan])
        """
        if _end is not _END:
            raise _positional("forward", "2 positional arguments")
        if self._kinds is None:  # typed knots: a typed query is answered as it is
            out = self._table.forward(x, workers, left, right, missing)
            if out is not NotImplemented:
                return out
        convert = _convert()
        if convert.is_expression(x):
            return convert.mapped(x, self, None, False, {"workers": workers, "left": left, "right": right,
                                                         "missing": missing})
        query = convert.taken_query(x, "x", missing)
        return convert.call_forward(self._table, self._shape, self._kind_pair(), query, workers, left, right, missing)

    @_keyword_only(_inverse_signature)
    def inverse(self, f: Any, method: Any = None, _end: Any = _END, workers: int | None = None, left: Any = None,
                right: Any = None, missing: Any = None) -> Any:
        """Values to positions under ``method``, in the kind of the table's positions.

        Parameters
        ----------
        f : array_like
            The values, of any shape and container that
            :func:`exact_interp.inverse` takes (a Polars expression gives a
            Polars expression).
        method : {None, 'nearest', 'ffill', 'bfill'}, optional
            How a position between whole ones is rounded (``None``: it must
            be whole), as in :func:`exact_interp.inverse_int`.
        workers : int or None, optional
            The threads one call may use (``None``: the cores available).
        left, right : {'raise', 'clamp', 'extrapolate', 'null'} or scalar, optional
            What a value below the first knot or above the last gets;
            ``None`` keeps the method's rule, ``'null'`` gives a missing
            result.
        missing : 'raise', 'null' or scalar, optional
            A fill position for missing values and values at no whole
            position (``'null'``: they stay missing).

        Returns
        -------
        numpy.ndarray, scalar or the query's container
            What :func:`exact_interp.inverse` gives with these knots.

        Raises
        ------
        KeyError, TypeError, ValueError, OverflowError, FatalError
            As :func:`exact_interp.inverse` raises them; TypeError for a
            table of value columns.

        Examples
        --------
        >>> import numpy as np, exact_interp
        >>> table = exact_interp.Interpolator(np.array([-10, 10]), np.array([0, 4]))
        >>> table.inverse([1, 3], "nearest")
        array([-5,  5])
        """
        if _end is not _END:
            raise _positional("inverse", "from 2 to 3 positional arguments")
        if self._kinds is None:  # typed knots: a typed query is answered as it is
            out = self._table.inverse(f, method, workers, left, right, missing)
            if out is not NotImplemented:
                return out
        if self._shape is not None:
            raise TypeError(f"the inverse needs one-dimensional values, not value columns: this table's fp has "
                            f"shape {(len(self._table.xp),) + self._shape}")
        convert = _convert()
        if convert.is_expression(f):
            return convert.mapped(f, self, method, True, {"workers": workers, "left": left, "right": right,
                                                          "missing": missing})
        query = convert.taken_query(f, "f", missing)
        return convert.call_inverse(self._table, self._kind_pair(), query, method, workers, left, right, missing)

    @property
    def xp(self) -> Any:
        """The positions of the knots in the caller's kind: for uint64 knots a read-only view of the table's copy."""
        return self._knots()[0] if self._kinds is not None else self._table.xp

    @property
    def fp(self) -> Any:
        """The values of the knots in the caller's kind: for int64 or float64 knots a read-only view of the
        table's copy."""
        return self._knots()[1] if self._kinds is not None else self._table.fp

    def _kind_pair(self) -> tuple[Any, Any]:
        """The kinds of the caller's positions and values: those the knots came in, or a typed table's own."""
        if self._kinds is not None:
            return tuple(self._kinds)  # type: ignore[return-value]
        from exact_interp._kinds import _I64, Kind

        return Kind("uint"), Kind("int" if self._table.fp.dtype == _I64 else "float")

    def _knots(self) -> tuple[Any, Any]:
        """The knots in the caller's terms (read-only): value columns in fp's shape."""
        import numpy

        axis, kind = self._kind_pair()
        xp, fp = self._table.xp, self._table.fp
        if self._shape is not None:  # value columns, one after another
            count = int(numpy.prod(self._shape))
            fp = (fp if count else fp[:0]).reshape(count, len(xp)).T.reshape((len(xp),) + self._shape)
        caller = _results().caller
        return caller(xp, axis), caller(fp, kind)

    # the typed knots (uint64 keys, int64 or float64 values) and what the caller's were
    @property
    def _xp(self) -> Any:
        return self._table.xp

    @property
    def _fp(self) -> Any:
        return self._table.fp

    def __repr__(self) -> str:
        """The knot count, the kinds and the range."""
        xp, fp = self._knots()
        axis, kind = self._kind_pair()
        head = f"<exact_interp.Interpolator: {len(xp)} knot{'s' if len(xp) != 1 else ''} of {kind.describe()} values"
        named = "" if self._kinds is None else f"{axis.describe()} "  # typed knots: uint64 positions, unnamed
        if self._shape is not None:  # value columns: the positions' range
            head += f" in columns of shape {self._shape}"
            return head + (f", {named}xp from {xp[0]!s} to {xp[-1]!s}>" if len(xp) else ">")
        if len(xp) == 0:
            return head + ">"
        if len(xp) == 1:
            return f"{head}, {named}xp {xp[0]!s}, fp {fp[0]!s}>"
        return f"{head}, {named}xp from {xp[0]!s} to {xp[-1]!s}, fp from {fp[0]!s} to {fp[-1]!s}>"

    def __reduce__(self) -> tuple[Any, tuple[Any, Any]]:
        if self._table._checks == "typed":  # the call that rebuilds it
            return type(self)._typed, (self.xp, self.fp)
        return type(self), (self.xp, self.fp)

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError(f"'Interpolator' object attribute '{name}' is read-only")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"'Interpolator' object attribute '{name}' is read-only")


Interpolator.__module__ = "exact_interp"
