"""The front end's entries: forward and inverse for positions and values of
every kind. Arrays of the typed dtypes with plain rules go to the native core
as they are, in one call; anything else is converted exactly
(exact_interp._convert, imported at its first use with NumPy) and evaluated
on typed arrays, the result put back into the caller's container."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Literal, Protocol, TypeVar, overload

from exact_interp import _native

if TYPE_CHECKING:
    import numpy
    import numpy.typing

    from exact_interp._native import Method, Rule, _Data, _Fill

    _Forward = TypeVar("_Forward", numpy.int64, numpy.float64, numpy.datetime64, numpy.timedelta64)
    _Position = TypeVar("_Position", numpy.uint64, numpy.int64, numpy.datetime64, numpy.timedelta64)

    # A container of another library (a pandas Series or Index, a Polars Series,
    # an xarray DataArray: each has a name): the result comes back in the same.
    class _Named(Protocol):
        @property
        def name(self) -> Any: ...

    _Container = TypeVar("_Container", bound=_Named)


def _convert() -> Any:
    """exact_interp._convert, which imports NumPy: at the first use, not at import."""
    from exact_interp import _convert as module

    return module


@overload
def forward(
    x: _Container,
    xp: _Data,
    fp: _Data,
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = "raise",
    right: Rule | Literal["null"] | _Fill | None = "raise",
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> _Container: ...


@overload
def forward(
    x: _Data,
    xp: _Data,
    fp: numpy.typing.NDArray[_Forward],
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = "raise",
    right: Rule | Literal["null"] | _Fill | None = "raise",
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> numpy.typing.NDArray[_Forward]: ...


@overload
def forward(
    x: _Data,
    xp: _Data,
    fp: _Data,
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = "raise",
    right: Rule | Literal["null"] | _Fill | None = "raise",
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> Any: ...



def forward(x: Any, xp: Any, fp: Any, *, workers: int | None = None, left: Any = "raise", right: Any = "raise",
            missing: Any = "raise", duplicates: Any = "raise") -> Any:
    """Positions to values, for positions and values of every kind, exactly.

    Converts each argument exactly to what the typed functions compute on,
    evaluates, and gives the result in the caller's terms: the kind of
    ``fp``, the shape and container of ``x``. Arrays of the typed dtypes
    (uint64 ``x`` and ``xp``, int64 or float64 ``fp``) go to the native
    core directly. Float values are answered with the exact value rounded
    once: the double nearest ``(f0·(x1 − x) + f1·(x − x0)) / (x1 − x0)``,
    ties to even, where :func:`forward_float` keeps the typed functions'
    64-bit chain, which truncates.

    Parameters
    ----------
    x : array_like
        The positions: a NumPy array of any shape, a scalar (the result is a
        scalar), a list or tuple (nested lists for more dimensions), a pandas
        Series or Index, an Arrow array, a Polars Series or an xarray
        DataArray; unsigned or signed integers, ``datetime64`` or
        ``timedelta64`` (of ``xp``'s kind; another unit converted exactly or
        refused). A Polars expression gives a Polars expression, elementwise,
        of the result's dtype.
    xp : array_like, one-dimensional
        The positions of the knots, strictly increasing: integers of any
        width and sign, ``datetime64`` or ``timedelta64`` of any unit,
        tz-aware times compared as instants.
    fp : array_like
        The values of the knots: integers (the integer scheme), floats
        (widened exactly, the result rounded once) or times (their counts,
        the integer scheme). Of shape ``(len(xp), ...)`` for value columns: the result
        then has shape ``x.shape + fp.shape[1:]``.
    workers : int or None, optional
        The threads one call may use, as in :func:`forward_int`.
    left, right : {'raise', 'clamp', 'extrapolate', 'null'} or scalar, optional
        What a position below ``xp[0]`` or above ``xp[-1]`` gets: the error
        (default), the end knot's value, the end segment continued exactly, a
        missing result (null in Arrow, Polars and pandas' nullable dtypes,
        integers in pandas as ``Int64``; NaN or NaT in arrays; refused for
        integers in NumPy), or a fill of the result's kind (NaN, NaT and
        ``datetime64`` included).
    missing : 'raise', 'null' or scalar, optional
        A fill for the query's missing elements (NaT, nulls, masked
        elements) instead of the error; ``'null'`` keeps them missing.
    duplicates : {'raise', 'first', 'last'}, optional
        Knots at equal positions: refused (default, naming the pair), or
        the first or the last of each such run kept.

    Returns
    -------
    numpy.ndarray, scalar or the query's container
        The values, in the kind of ``fp`` (its unit for times), the shape of
        ``x`` and its container: a Series keeps its index and name, Arrow
        gives Arrow, Polars a Series, xarray a DataArray; tz-aware results
        keep their zone.

    Raises
    ------
    TypeError
        A kind that does not convert exactly or does not meet the knots'
        kind (naive against tz-aware times, times against integers); a table
        of columns (a DataFrame) passed as an array. The message names the
        argument.
    ValueError, OverflowError
        A value that would convert with a loss (a float position, NaT where
        ``missing`` raises, an integer float64 does not hold); an
        extrapolated value the result cannot hold.
    IndexError
        "x out of bounds", as in :func:`forward_int`; the note names the
        element in the caller's terms.

    See Also
    --------
    inverse, forward_int, forward_float, Interpolator

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> clock = np.array(["1969-12-31T23:59:58", "1970-01-01T00:00:02"], "datetime64[ns]")
    >>> samples = np.array([0, 192_000])
    >>> exact_interp.forward(np.array(["1970-01-01"], "datetime64[s]"), clock, samples)
    array([96000])
    >>> exact_interp.forward([[-1, 5]], [-2, 8], [0, 100])
    array([[10, 70]])
    """
    if duplicates is None or (type(duplicates) is str and duplicates == "raise"):
        out = _native._forward(x, xp, fp, workers, left, right, missing)
        if out is not NotImplemented:
            return out
    return _convert().forward(x, xp, fp, workers, left, right, missing, duplicates)


@overload
def inverse(
    f: _Container,
    xp: _Data,
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = None,
    right: Rule | Literal["null"] | _Fill | None = None,
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> _Container: ...


@overload
def inverse(
    f: _Data,
    xp: numpy.typing.NDArray[_Position],
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = None,
    right: Rule | Literal["null"] | _Fill | None = None,
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> numpy.typing.NDArray[_Position]: ...


@overload
def inverse(
    f: _Data,
    xp: _Data,
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | Literal["null"] | _Fill | None = None,
    right: Rule | Literal["null"] | _Fill | None = None,
    missing: Literal["raise", "null"] | _Fill | None = "raise",
    duplicates: Literal["raise", "first", "last"] = "raise",
) -> Any: ...


def inverse(f: Any, xp: Any, fp: Any, method: Method = None, *, workers: int | None = None, left: Any = None,
            right: Any = None, missing: Any = "raise", duplicates: Any = "raise") -> Any:
    """Values to positions, for positions and values of every kind, exactly.

    Converts each argument exactly to what the typed functions compute on,
    finds the positions under ``method``, and gives them in the caller's
    terms: the kind of ``xp``, the shape and container of ``f``. Arrays of
    the typed dtypes go to the native core directly. Over float values the
    position is the exact ``(x0·(f1 − f) + x1·(f − f0)) / (f1 − f0)``
    rounded once by the method (without one, found only where it is whole),
    where :func:`inverse_float` keeps the typed functions' 64-bit chain.

    Parameters
    ----------
    f : array_like
        The values, of ``fp``'s kind (integers, floats or times of a unit
        that converts exactly), in any shape and container that
        :func:`forward` takes (a Polars expression included).
    xp : array_like, one-dimensional
        The positions of the knots, in any order: integers of any width and
        sign, ``datetime64`` or ``timedelta64``.
    fp : array_like, one-dimensional
        The values of the knots, strictly increasing.
    method : {None, 'nearest', 'ffill', 'bfill'}, optional
        As in :func:`inverse_int`.
    workers : int or None, optional
        The threads one call may use, as in :func:`forward_int`.
    left, right : {'raise', 'clamp', 'extrapolate', 'null'} or scalar, optional
        What a value below ``fp[0]`` or above ``fp[-1]`` gets; ``None``
        (default) keeps the method's own rule; ``'null'`` a missing result,
        as in :func:`forward`; a fill is a position of ``xp``'s kind.
    missing : 'raise', 'null' or scalar, optional
        A fill position for missing values (NaT, NaN, nulls, masked
        elements) and, under ``method=None``, for values at no whole
        position; ``'null'`` keeps missing values missing.
    duplicates : {'raise', 'first', 'last'}, optional
        Knots at equal positions: refused (default, naming the pair), or
        the first or the last of each such run kept.

    Returns
    -------
    numpy.ndarray, scalar or the query's container
        The positions, in the kind of ``xp``, the shape and container of
        ``f``.

    Raises
    ------
    TypeError, ValueError, OverflowError
        As in :func:`forward`, naming the argument.
    KeyError
        "f out of bounds" or "f not found", as in :func:`inverse_int`; the
        note names the element in the caller's terms.

    See Also
    --------
    forward, inverse_int, inverse_float, Interpolator

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> clock = np.array(["1969-12-31T23:59:58", "1970-01-01T00:00:02"], "datetime64[ns]")
    >>> samples = np.array([0, 192_000])
    >>> exact_interp.inverse(np.array([1]), clock, samples, "bfill")
    array(['1969-12-31T23:59:58.000020834'], dtype='datetime64[ns]')
    """
    if duplicates is None or (type(duplicates) is str and duplicates == "raise"):
        out = _native._inverse(f, xp, fp, method, workers, left, right, missing)
        if out is not NotImplemented:
            return out
    return _convert().inverse(f, xp, fp, method, workers, left, right, missing, duplicates)


def interpolate_by(values: Any, by: Any = None, *, max_gap: Any = None, left: Any = None, right: Any = None,
                   duplicates: Literal["raise", "first", "last"] = "raise", workers: int | None = None,
                   axis: int | str | None = None) -> Any:
    """The missing elements of ``values`` filled by interpolation over ``by``, exactly.

    The elements of ``values`` that are present are the knots, at their
    positions in ``by``; each missing element (NaN, NaT, null, masked) gets
    the value of the straight line between the knots around its position,
    as :func:`forward` answers it: integer values rounded once (to nearest,
    ties to even), float values the exact value rounded once, times exact.
    The present elements come back as they are.

    Parameters
    ----------
    values : array_like, one-dimensional
        The values, with missing elements: a NumPy array (a masked array
        included), a list, a pandas Series, an Arrow array or a Polars
        Series; integers, floats or times (``datetime64``, ``timedelta64``,
        tz-aware times in their zone). float32 values give float32 results
        where every filled value is a float32 number, else float64 ones
        (each correctly rounded to float64). A Polars expression (with
        ``by`` an expression too) gives a Polars expression of the column's
        own dtype, in frames, lazy queries and groups (``.over``): a Float32
        column whose filled values are not all float32 numbers is refused.
    by : array_like, optional
        One position per value, of any kind :func:`forward` takes as
        positions (integers, ``datetime64``, ``timedelta64``), none missing;
        increasing where values are present. Left out for a pandas Series:
        its index.
    max_gap : int or timedelta, optional
        A missing element whose surrounding knots lie further apart than
        this, in ``by``'s units (an integer; a ``datetime.timedelta``,
        ``numpy.timedelta64`` or ``pandas.Timedelta`` for times), stays
        missing. ``None`` (the default): no limit.
    left, right : {None, 'null', 'raise', 'clamp', 'extrapolate'} or scalar, optional
        What a missing element before the first knot or after the last
        gets: ``None`` (the default) or ``'null'`` leaves it missing; the
        others as in :func:`forward`.
    duplicates : {'raise', 'first', 'last'}, optional
        For knots at equal positions with different values (equal positions
        with equal values are one knot): the error (the default), or the
        first or the last of each run kept.
    workers : int or None, optional
        The threads one call may use, as in :func:`forward`.
    axis : int or str, optional
        For values of several dimensions: the NumPy axis (the last by
        default) or the xarray dimension (its coordinate the positions where
        ``by`` is left out) along which each lane is filled, with ``by`` the
        positions along it.

    Returns
    -------
    numpy.ndarray or the container of ``values``
        The values with their gaps filled, of ``values``' length, container
        and index; integers as int64. An element left missing is null in
        Arrow and Polars and in pandas' nullable dtypes (integers come back
        as ``Int64``), NaN or NaT elsewhere, masked in a masked array.

    Raises
    ------
    TypeError, ValueError
        Naming the argument or keyword: values or positions of a kind that
        cannot be taken exactly, lengths that differ, positions that do not
        increase where values are present (the pair named, and the keyword
        that accepts equal positions), an infinite value, a bad ``max_gap``,
        ``left='raise'`` or ``right='raise'`` with a missing element there,
        and integer results left missing in a NumPy array, which holds no
        missing element.

    See Also
    --------
    forward, Interpolator

    Notes
    -----
    pandas' ``Series.interpolate(method="time")`` and ``method="index"``
    fill by position in float64; ``limit_area="inside"`` is this function's
    default, ``limit_direction="both"`` with ``limit_area=None`` is
    ``left="clamp", right="clamp"``, and its ``limit`` counts elements where
    ``max_gap`` measures the distance between the knots. Polars'
    ``interpolate_by(by)`` fills inside the knots and leaves the ends null,
    as the defaults here do.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> t = np.array(["2024-01-01T00:00:00", "2024-01-01T00:00:01", "2024-01-01T00:00:03",
    ...               "2024-01-01T00:00:09", "2024-01-01T00:00:10"], "datetime64[ns]")
    >>> v = np.array([0, np.nan, 30, np.nan, 100.0])
    >>> exact_interp.interpolate_by(v, t)
    array([  0.,  10.,  30.,  90., 100.])
    >>> exact_interp.interpolate_by(v, t, max_gap=np.timedelta64(5, "s"))
    array([  0.,  10.,  30.,  nan, 100.])
    """
    from exact_interp import _gaps

    return _gaps.interpolate_by(values, by, max_gap=max_gap, left=left, right=right, duplicates=duplicates,
                                workers=workers, axis=axis)
