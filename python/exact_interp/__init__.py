"""Exact interpolation for parallel and distributed use.

The four functions of the native module ``rust`` with the same arguments and
results, for calls that run in worker processes (``multiprocessing``,
``concurrent.futures``, Dask, or any other executor): a fatal error of the
module (``PanicException``, which derives from ``BaseException`` and cannot be
pickled) arrives as :class:`FatalError`, an ordinary exception that crosses
process and task boundaries. Every other exception passes unchanged.

>>> from concurrent.futures import ProcessPoolExecutor
>>> from functools import partial
>>> with ProcessPoolExecutor() as pool:                          # doctest: +SKIP
...     parts = list(pool.map(partial(exact_interp.forward_int, xp=xp, fp=fp), chunks))

``exact_interp.dask`` maps a chunked Dask array through them (``pip install
"exact-interp[dask]"``). Importing this package loads neither the native
module nor NumPy nor Dask.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Literal, TypeVar

if TYPE_CHECKING:
    import numpy
    import numpy.typing

__all__ = ["FatalError", "forward_int", "forward_float", "inverse_int", "inverse_float"]

Method = Literal["nearest", "ffill", "bfill"] | None
T = TypeVar("T")


class FatalError(RuntimeError):
    """A violated invariant in the native module, as an ordinary exception.

    It stands for ``PanicException`` crossing a process or task boundary: the
    fatal error of ``rust`` derives from ``BaseException`` (so that it ends an
    interpreter) and cannot be pickled, so executors would hang or report a
    pickling error instead. Its only argument is the fatal error's message,
    unchanged (for example "nan or inf encountered"). It pickles by reference
    to this class, so a process that never imported ``rust`` unpickles it.
    """

    def __init__(self, message: str) -> None:
        super().__init__(message)


def _is_panic(error: BaseException) -> bool:
    kind = type(error)
    return kind.__name__ == "PanicException" and kind.__module__ == "pyo3_runtime"


def _guarded(call: Callable[[], T]) -> T:
    """call(), with PanicException turned into FatalError (raised outside the
    handler, so that the unpicklable original is not chained to it)."""
    try:
        return call()
    except BaseException as error:
        if not _is_panic(error):
            raise
        message = str(error.args[0]) if error.args else str(error)
    raise FatalError(message)


def forward_int(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
) -> numpy.typing.NDArray[numpy.int64]:
    """``rust.forward_int(x, xp, fp)``, fatal errors as FatalError."""
    import rust

    return _guarded(lambda: rust.forward_int(x, xp, fp))


def forward_float(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
) -> numpy.typing.NDArray[numpy.float64]:
    """``rust.forward_float(x, xp, fp)``, fatal errors as FatalError."""
    import rust

    return _guarded(lambda: rust.forward_float(x, xp, fp))


def inverse_int(
    f: numpy.typing.NDArray[numpy.int64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    method: Method = None,
) -> numpy.typing.NDArray[numpy.uint64]:
    """``rust.inverse_int(f, xp, fp, method)``, fatal errors as FatalError."""
    import rust

    return _guarded(lambda: rust.inverse_int(f, xp, fp, method))


def inverse_float(
    f: numpy.typing.NDArray[numpy.float64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    method: Method = None,
) -> numpy.typing.NDArray[numpy.uint64]:
    """``rust.inverse_float(f, xp, fp, method)``, fatal errors as FatalError."""
    import rust

    return _guarded(lambda: rust.inverse_float(f, xp, fp, method))
