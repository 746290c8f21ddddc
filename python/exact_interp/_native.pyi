"""The native part of exact_interp: the four functions of ``rust`` that release
the GIL and take ``workers``, the front end's evaluation of typed arrays, and
the typed table under Interpolator."""

from typing import Any, Generic, Literal, TypeVar

import numpy
import numpy.typing

Method = Literal["nearest", "ffill", "bfill"] | None
_Value = TypeVar("_Value", numpy.int64, numpy.float64)

# What an element outside the table gets (left: below the first knot of the
# searched axis, right: above the last), and what a missing element gets:
# a rule, or a fill of the result's kind.
Rule = Literal["raise", "clamp", "extrapolate"]
_Int = int | numpy.integer[Any]
_Float = float | int | numpy.floating[Any] | numpy.integer[Any]
_Time = numpy.datetime64 | numpy.timedelta64 | Any  # pandas Timestamp, Timedelta and NaT too
_Fill = _Float | _Time

# Positions and values of every kind the front end converts exactly: arrays,
# scalars, lists, pandas, Arrow and Polars objects.
_Data = numpy.typing.ArrayLike | Any

def _kernel_targets() -> dict[str, str]: ...
def _force_kernel_target(name: str | None) -> None: ...
def forward_int(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    *,
    workers: int | None = None,
    left: Rule | _Int | None = "raise",
    right: Rule | _Int | None = "raise",
    missing: Literal["raise"] | _Int | None = "raise",
) -> numpy.typing.NDArray[numpy.int64]:
    """Positions to integer values, exactly.

    ``rust.forward_int`` with the GIL released while it works, the rules
    outside the table, and several threads: the same results, errors and
    messages, bit for bit, where the keywords are left as they are. Each
    position ``x[i]`` in the segment ``xp[k] <= x[i] <= xp[k+1]`` gets
    ``(fp[k]·(xp[k+1] − x[i]) + fp[k+1]·(x[i] − xp[k])) / (xp[k+1] − xp[k])``,
    computed exactly and rounded once to the nearest integer, ties to even.

    Parameters
    ----------
    x : numpy.ndarray of uint64, one-dimensional
        The positions to evaluate at: any stride, read in place.
    xp : numpy.ndarray of uint64, one-dimensional
        The positions of the knots, strictly increasing.
    fp : numpy.ndarray of int64, one-dimensional
        The values of the knots, as many as ``xp``.
    workers : int or None, optional
        The threads one call may use: ``None`` (default) the cores available
        to the process, where the query is long enough to pay for them;
        ``1`` the caller's thread alone; ``n`` at most ``n`` (and never more
        than four a core available). The results and the error do not depend
        on it.
    left, right : {'raise', 'clamp', 'extrapolate'} or int, optional
        What a position below ``xp[0]`` (``left``) or above ``xp[-1]``
        (``right``) gets: ``'raise'`` (default) the error, ``'clamp'`` the
        end knot's value, ``'extrapolate'`` the end segment's line continued
        exactly, an int the fill.
    missing : 'raise' or int, optional
        A fill for the elements without an answer for another reason (none
        here: positions are never missing; kept for a uniform signature).

    Returns
    -------
    numpy.ndarray of int64
        A new array of ``len(x)`` values.

    Raises
    ------
    IndexError
        "x out of bounds": a position outside the knots (or no knots) where
        ``left``/``right`` raise. The note names the first such element and
        the table's range.
    ValueError
        "xp must be strictly increasing".
    OverflowError
        An extrapolated value beyond int64.
    TypeError
        An argument that is not a one-dimensional array of its dtype (the note
        names the dtype and dimensions wanted and given), or a bad keyword.
    FatalError
        ``xp`` and ``fp`` of different lengths.

    See Also
    --------
    forward : Positions and values of every kind, converted exactly.
    Interpolator : A table copied and checked once, for many calls.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> t0 = 1_733_600_000_000_000_000                 # nanoseconds: far above 2**53
    >>> xp = np.array([t0, t0 + 10**9], dtype=np.uint64)
    >>> fp = np.array([0, 10**9], dtype=np.int64)
    >>> exact_interp.forward_int(np.array([t0 + 1, t0 + 255], dtype=np.uint64), xp, fp)
    array([  1, 255])
    >>> exact_interp.forward_int(np.array([t0 - 5], dtype=np.uint64), xp, fp, left="extrapolate")
    array([-5])
    """
def forward_float(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    *,
    workers: int | None = None,
    left: Rule | _Float | None = "raise",
    right: Rule | _Float | None = "raise",
    missing: Literal["raise"] | _Float | None = "raise",
) -> numpy.typing.NDArray[numpy.float64]:
    """Positions to float values, exactly and the same on every processor.

    ``rust.forward_float`` with the GIL released while it works, the rules
    outside the table, and several threads: the same results, errors and
    messages, bit for bit, where the keywords are left as they are. Each
    position in a segment gets the segment's line evaluated in a software
    float with a 64-bit significand, every step rounded once in a fixed
    order, the result truncated toward zero to a double; a position on a knot
    gets that knot's value bit for bit.

    Parameters
    ----------
    x : numpy.ndarray of uint64, one-dimensional
        The positions to evaluate at: any stride, read in place.
    xp : numpy.ndarray of uint64, one-dimensional
        The positions of the knots, strictly increasing.
    fp : numpy.ndarray of float64, one-dimensional
        The values of the knots, as many as ``xp``; finite wherever a query
        falls inside a segment.
    workers : int or None, optional
        The threads one call may use: ``None`` (default) the cores available,
        where the query is long enough to pay for them; ``1`` the caller's
        thread; ``n`` at most ``n``.
    left, right : {'raise', 'clamp', 'extrapolate'} or float, optional
        What a position below ``xp[0]`` or above ``xp[-1]`` gets: the error
        (default), the end knot's value, the end segment's line continued, or
        a fill (NaN included).
    missing : 'raise' or float, optional
        A fill for the elements without an answer for another reason (none
        here; kept for a uniform signature).

    Returns
    -------
    numpy.ndarray of float64
        A new array of ``len(x)`` values.

    Raises
    ------
    IndexError
        "x out of bounds", with a note naming the first such element, the
        table's range and the keyword that answers it.
    ValueError
        "xp must be strictly increasing".
    OverflowError
        An extrapolated value beyond the doubles.
    TypeError
        An argument that is not a one-dimensional array of its dtype, or a
        bad keyword.
    FatalError
        ``xp`` and ``fp`` of different lengths; a non-finite value in a
        segment a query falls in (the note names it).

    See Also
    --------
    forward : Positions and values of every kind, converted exactly.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> xp = np.array([0, 10], dtype=np.uint64)
    >>> exact_interp.forward_float(np.array([1, 5], dtype=np.uint64), xp, np.array([0.0, 1.0]))
    array([0.1, 0.5])
    >>> float(exact_interp.forward_float(np.array([1], dtype=np.uint64), xp, np.array([0.0, 1.0]))[0]) < 0.1
    True
    """
def inverse_int(
    f: numpy.typing.NDArray[numpy.int64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | _Int | None = None,
    right: Rule | _Int | None = None,
    missing: Literal["raise"] | _Int | None = "raise",
) -> numpy.typing.NDArray[numpy.uint64]:
    """Integer values to positions, exactly, under a method.

    ``rust.inverse_int`` with the GIL released while it works, the rules
    outside the table, and several threads: the same results, errors and
    messages, bit for bit, where the keywords are left as they are. A value
    ``f[i]`` between ``fp[k]`` and ``fp[k+1]`` gets the position
    ``(xp[k]·(fp[k+1] − f[i]) + xp[k+1]·(f[i] − fp[k])) / (fp[k+1] − fp[k])``,
    computed exactly and rounded by the method; a value on a knot gets that
    knot's position under every method.

    Parameters
    ----------
    f : numpy.ndarray of int64, one-dimensional
        The values to find the positions of.
    xp : numpy.ndarray of uint64, one-dimensional
        The positions of the knots, in any order.
    fp : numpy.ndarray of int64, one-dimensional
        The values of the knots, strictly increasing, as many as ``xp``.
    method : {None, 'nearest', 'ffill', 'bfill'}, optional
        ``None`` (default): the position must be whole, and ``f`` inside the
        table. ``'nearest'``: the nearest whole position (ties to even),
        clamped at both ends. ``'ffill'``: rounded down, clamped above the
        last knot. ``'bfill'``: rounded up, clamped below the first knot.
    workers : int or None, optional
        The threads one call may use, as in :func:`forward_int`.
    left, right : {'raise', 'clamp', 'extrapolate'} or int, optional
        What a value below ``fp[0]`` or above ``fp[-1]`` gets; ``None``
        (default) keeps the method's own rule, an int is a fill position.
    missing : 'raise' or int, optional
        A fill position for the values at no whole position under
        ``method=None``, instead of the error.

    Returns
    -------
    numpy.ndarray of uint64
        A new array of ``len(f)`` positions.

    Raises
    ------
    KeyError
        "f out of bounds" outside the table where nothing clamps; "f not
        found" between knots at no whole position (``method=None``). The note
        names the element, the knots around it and the keyword that answers.
    ValueError
        "fp must be strictly increasing"; a ``method`` that is not one of the
        three words.
    OverflowError
        An extrapolated position below 0 or beyond uint64.
    TypeError
        An argument that is not a one-dimensional array of its dtype, or a
        bad keyword.
    FatalError
        ``xp`` and ``fp`` of different lengths.

    See Also
    --------
    inverse : Positions and values of every kind, converted exactly.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> xp = np.array([100, 200, 300], dtype=np.uint64)
    >>> fp = np.array([0, 10, 20], dtype=np.int64)
    >>> exact_interp.inverse_int(np.array([14, 25]), xp, fp, method="ffill")
    array([240, 300], dtype=uint64)
    >>> exact_interp.inverse_int(np.array([14]), xp, fp)
    array([240], dtype=uint64)
    """
def inverse_float(
    f: numpy.typing.NDArray[numpy.float64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | _Int | None = None,
    right: Rule | _Int | None = None,
    missing: Literal["raise"] | _Int | None = "raise",
) -> numpy.typing.NDArray[numpy.uint64]:
    """Float values to positions, exactly, under a method.

    ``rust.inverse_float`` with the GIL released while it works, the rules
    outside the table, and several threads: the same results, errors and
    messages, bit for bit, where the keywords are left as they are. The
    position is computed in a software float with a 64-bit significand, in
    a fixed order, and rounded to a whole position by the method; a value on
    a knot gets that knot's position under every method.

    Parameters
    ----------
    f : numpy.ndarray of float64, one-dimensional
        The values to find the positions of (no NaN, unless ``missing`` fills
        it).
    xp : numpy.ndarray of uint64, one-dimensional
        The positions of the knots, in any order.
    fp : numpy.ndarray of float64, one-dimensional
        The values of the knots, strictly increasing, as many as ``xp``.
    method : {None, 'nearest', 'ffill', 'bfill'}, optional
        As in :func:`inverse_int`.
    workers : int or None, optional
        The threads one call may use, as in :func:`forward_int`.
    left, right : {'raise', 'clamp', 'extrapolate'} or int, optional
        What a value below ``fp[0]`` or above ``fp[-1]`` gets; ``None``
        (default) keeps the method's own rule, an int is a fill position.
    missing : 'raise' or int, optional
        A fill position for NaN values and, under ``method=None``, for values
        at no whole position.

    Returns
    -------
    numpy.ndarray of uint64
        A new array of ``len(f)`` positions.

    Raises
    ------
    KeyError
        "f out of bounds" or "f not found", as in :func:`inverse_int`, with a
        note.
    ValueError
        "fp must be strictly increasing" (NaN and ``-0.0, 0.0`` are not
        increasing); a ``method`` that is not one of the three words.
    OverflowError
        An extrapolated position below 0 or beyond uint64.
    TypeError
        An argument that is not a one-dimensional array of its dtype, or a
        bad keyword.
    FatalError
        ``xp`` and ``fp`` of different lengths; a NaN query ("nan or inf
        encountered") or a non-finite knot value in a segment searched, named
        by the note.

    See Also
    --------
    inverse : Positions and values of every kind, converted exactly.

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> xp = np.array([0, 10], dtype=np.uint64)
    >>> fp = np.array([0.0, 1.0])
    >>> exact_interp.inverse_float(np.array([0.25, 0.5]), xp, fp, "nearest")
    array([2, 5], dtype=uint64)
    >>> exact_interp.inverse_float(np.array([np.nan]), xp, fp, missing=0)
    array([0], dtype=uint64)
    """

# exact_interp.forward and inverse where every argument is typed and every rule
# plain; NotImplemented for anything else, which the front end converts.
def _forward(
    x: Any, xp: Any, fp: Any, workers: Any = None, left: Any = None, right: Any = None, missing: Any = None,
) -> Any: ...
def _inverse(
    f: Any, xp: Any, fp: Any, method: Any = None, workers: Any = None, left: Any = None, right: Any = None,
    missing: Any = None,
) -> Any: ...


class Table(Generic[_Value]):
    """The typed knots of an exact_interp.Interpolator, checked as the front end checks them."""

    def __init__(
        self,
        xp: numpy.typing.NDArray[numpy.uint64],
        fp: numpy.typing.NDArray[_Value],
        columns: int = 1,
        _checks: Literal["forward", "inverse", "typed"] = "forward",
    ) -> None: ...
    # Typed queries and plain rules only: NotImplemented for anything else.
    def forward(
        self,
        x: Any,
        workers: int | None = None,
        left: Rule | _Fill | None = "raise",
        right: Rule | _Fill | None = "raise",
        missing: Literal["raise"] | _Fill | None = "raise",
        _nat: bool = False,
    ) -> Any: ...
    def inverse(
        self,
        f: Any,
        method: Method = None,
        workers: int | None = None,
        left: Rule | _Fill | None = None,
        right: Rule | _Fill | None = None,
        missing: Literal["raise"] | _Fill | None = "raise",
        _nat: bool = False,
    ) -> Any: ...
    @property
    def xp(self) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def fp(self) -> numpy.typing.NDArray[_Value]: ...
    @property
    def columns(self) -> int: ...
    @property
    def _checks(self) -> str: ...

def _set_fatal_error(type: type[Exception]) -> None: ...
