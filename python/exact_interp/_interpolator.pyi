"""Interpolator: a table copied and checked once, for many calls."""

from typing import Any, Generic, Literal, TypeVar, overload

import numpy
import numpy.typing

from exact_interp._native import Method, Rule, _Data, _Fill

_Value = TypeVar("_Value", numpy.int64, numpy.float64)

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

    # Typed knots (uint64 positions, int64 or float64 values) give
    # Interpolator[int64] or Interpolator[float64]; knots of other kinds
    # Interpolator[Any], whose results are in the kinds of its knots.
    @overload
    def __new__(
        cls,
        xp: numpy.typing.NDArray[numpy.uint64],
        fp: numpy.typing.NDArray[numpy.int64],
        *,
        duplicates: Literal["raise", "first", "last"] = "raise",
    ) -> Interpolator[numpy.int64]: ...
    @overload
    def __new__(
        cls,
        xp: numpy.typing.NDArray[numpy.uint64],
        fp: numpy.typing.NDArray[numpy.float64],
        *,
        duplicates: Literal["raise", "first", "last"] = "raise",
    ) -> Interpolator[numpy.float64]: ...
    @overload
    def __new__(
        cls, xp: _Data, fp: _Data, *, duplicates: Literal["raise", "first", "last"] = "raise"
    ) -> Interpolator[Any]: ...
    def forward(
        self,
        x: _Data,
        *,
        workers: int | None = None,
        left: Rule | Literal["null"] | _Fill | None = "raise",
        right: Rule | Literal["null"] | _Fill | None = "raise",
        missing: Literal["raise", "null"] | _Fill | None = "raise",
    ) -> numpy.typing.NDArray[_Value]:
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
    def inverse(
        self,
        f: numpy.typing.NDArray[_Value],
        method: Method = None,
        *,
        workers: int | None = None,
        left: Rule | Literal["null"] | _Fill | None = None,
        right: Rule | Literal["null"] | _Fill | None = None,
        missing: Literal["raise", "null"] | _Fill | None = "raise",
    ) -> numpy.typing.NDArray[Any]:
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
    @property
    def xp(self) -> numpy.typing.NDArray[Any]:
        """The positions of the knots in the caller's kind: for uint64 knots a read-only view of the table's copy."""
    @property
    def fp(self) -> numpy.typing.NDArray[_Value]:
        """The values of the knots in the caller's kind: for int64 or float64 knots a read-only view of the
        table's copy."""
    # the typed knots, and what the caller's were (None: the typed dtypes)
    @classmethod
    def _typed(cls, xp: Any, fp: Any) -> Interpolator[Any]: ...
    @property
    def _xp(self) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def _fp(self) -> numpy.typing.NDArray[_Value]: ...
    @property
    def _kinds(self) -> Any: ...
    @property
    def _shape(self) -> tuple[int, ...] | None: ...  # value columns: their shape
