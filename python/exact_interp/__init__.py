"""Exact interpolation on every core, in threads, processes and clusters.

The four functions of the module ``rust`` with the same arguments, results and
errors, bit for bit, built from the same core, with these differences: they
release the GIL while they work, and a keyword ``workers`` splits one query
across threads (``None``, the default: the cores available to the process,
where the query is long enough to pay for them; ``1``: the caller's thread
alone; ``n``: at most ``n`` threads). Whatever ``workers``, the error raised
is that of the first failing element in index order.

:class:`Interpolator` holds a table copied and checked once, for many calls:
``Interpolator(xp, fp).forward(x)`` and ``.inverse(f, method)``.

A fatal error (a violated invariant: knot arrays of different lengths, a
non-finite value inside a float segment, NaN in a float search) is raised as
:class:`FatalError`, an ordinary exception that crosses process and task
boundaries, where ``rust`` raises ``PanicException``:

>>> from concurrent.futures import ProcessPoolExecutor
>>> from functools import partial
>>> with ProcessPoolExecutor() as pool:                          # doctest: +SKIP
...     parts = list(pool.map(partial(exact_interp.forward_int, xp=xp, fp=fp), chunks))

``exact_interp.dask`` maps a chunked Dask array through them (``pip install
"exact-interp[dask]"``). Importing this package loads neither ``rust`` nor
NumPy nor Dask.
"""

from __future__ import annotations

from typing import Literal

__all__ = ["__version__", "FatalError", "Interpolator", "GroupedInterpolator", "forward", "inverse", "interpolate_by",
           "forward_int", "forward_float", "inverse_int", "inverse_float"]

Method = Literal["nearest", "ffill", "bfill"] | None


def _version() -> str:
    """The installed distribution's version: pyproject.toml is its one source (read without NumPy)."""
    from importlib.metadata import PackageNotFoundError, version

    try:
        return version("exact-interp")
    except PackageNotFoundError:  # a source tree on the path, not installed
        return "0+unknown"


__version__ = _version()

# importlib.reload runs this file again in the same namespace: the FatalError
# defined first, which the native part raises and callers hold, stays.
_first_fatal_error = globals().get("FatalError")


class FatalError(RuntimeError):
    """A violated invariant in the native module, as an ordinary exception.

    It stands for the ``PanicException`` of ``rust``, which derives from
    ``BaseException`` (so that it ends an interpreter) and cannot be pickled,
    so executors would hang or report a pickling error instead. It pickles
    by reference to this class, so a process that never imported ``rust``
    unpickles it. Its note, where it has one, names the element or knot at
    fault.

    Parameters
    ----------
    message : str
        The only argument: the message that ``rust`` gives, unchanged (for
        example "nan or inf encountered").

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> try:
    ...     exact_interp.forward_int(np.array([1], np.uint64), np.array([0, 2], np.uint64), np.array([0]))
    ... except exact_interp.FatalError as error:
    ...     print(error.args, error.__notes__)
    ('xp and fp must have same length',) ['len(xp) = 2, len(fp) = 1']
    """

    def __init__(self, message: str) -> None:
        super().__init__(message)


if _first_fatal_error is not None:
    globals()["FatalError"] = _first_fatal_error


# The native part: importing it loads neither NumPy (the first call does) nor
# the module ``rust``. It raises FatalError, defined above, for fatal errors.
from exact_interp import _native  # noqa: E402
from exact_interp._native import forward_float, forward_int, inverse_float, inverse_int  # noqa: E402
from exact_interp._entries import forward, interpolate_by, inverse  # noqa: E402
from exact_interp._interpolator import Interpolator  # noqa: E402
from exact_interp._grouped import GroupedInterpolator  # noqa: E402

_native._set_fatal_error(FatalError)
