"""The native part of exact_interp: the four functions of ``rust`` that release
the GIL and take ``workers``, and Interpolator."""

from typing import Any, Generic, Literal, Protocol, TypeVar, overload

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

def _kernel_targets() -> dict[str, str]: ...
def forward_int(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    *,
    workers: int | None = None,
    left: Rule | _Int | None = "raise",
    right: Rule | _Int | None = "raise",
    missing: Literal["raise"] | _Int | None = "raise",
) -> numpy.typing.NDArray[numpy.int64]: ...
def forward_float(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    *,
    workers: int | None = None,
    left: Rule | _Float | None = "raise",
    right: Rule | _Float | None = "raise",
    missing: Literal["raise"] | _Float | None = "raise",
) -> numpy.typing.NDArray[numpy.float64]: ...
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
) -> numpy.typing.NDArray[numpy.uint64]: ...
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
) -> numpy.typing.NDArray[numpy.uint64]: ...

# Positions and values of every kind the front end converts exactly: arrays,
# scalars, lists, pandas, Arrow and Polars objects.
_Data = numpy.typing.ArrayLike | Any

_Forward = TypeVar("_Forward", numpy.int64, numpy.float64, numpy.datetime64, numpy.timedelta64)

# A container of another library (a pandas Series or Index, a Polars Series,
# an xarray DataArray: each has a name): the result comes back in the same.
class _Named(Protocol):
    @property
    def name(self) -> Any: ...

_Container = TypeVar("_Container", bound=_Named)

@overload
def forward(
    x: _Container,
    xp: _Data,
    fp: _Data,
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = "raise",
    right: Rule | _Fill | None = "raise",
    missing: Literal["raise"] | _Fill | None = "raise",
) -> _Container: ...

@overload
def forward(
    x: _Data,
    xp: _Data,
    fp: numpy.typing.NDArray[_Forward],
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = "raise",
    right: Rule | _Fill | None = "raise",
    missing: Literal["raise"] | _Fill | None = "raise",
) -> numpy.typing.NDArray[_Forward]: ...
@overload
def forward(
    x: _Data,
    xp: _Data,
    fp: _Data,
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = "raise",
    right: Rule | _Fill | None = "raise",
    missing: Literal["raise"] | _Fill | None = "raise",
) -> Any: ...

_Position = TypeVar("_Position", numpy.uint64, numpy.int64, numpy.datetime64, numpy.timedelta64)

@overload
def inverse(
    f: _Container,
    xp: _Data,
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = None,
    right: Rule | _Fill | None = None,
    missing: Literal["raise"] | _Fill | None = "raise",
) -> _Container: ...

@overload
def inverse(
    f: _Data,
    xp: numpy.typing.NDArray[_Position],
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = None,
    right: Rule | _Fill | None = None,
    missing: Literal["raise"] | _Fill | None = "raise",
) -> numpy.typing.NDArray[_Position]: ...
@overload
def inverse(
    f: _Data,
    xp: _Data,
    fp: _Data,
    method: Method = None,
    *,
    workers: int | None = None,
    left: Rule | _Fill | None = None,
    right: Rule | _Fill | None = None,
    missing: Literal["raise"] | _Fill | None = "raise",
) -> Any: ...

class Table(Generic[_Value]):
    """The typed knots under exact_interp.Interpolator."""

    def __init__(self, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[_Value]) -> None: ...
    def forward(
        self,
        x: _Data,
        *,
        workers: int | None = None,
        left: Rule | _Fill | None = "raise",
        right: Rule | _Fill | None = "raise",
        missing: Literal["raise"] | _Fill | None = "raise",
        _nat: bool = False,
    ) -> numpy.typing.NDArray[_Value]: ...
    def inverse(
        self,
        f: _Data,
        method: Method = None,
        *,
        workers: int | None = None,
        left: Rule | _Fill | None = None,
        right: Rule | _Fill | None = None,
        missing: Literal["raise"] | _Fill | None = "raise",
        _nat: bool = False,
    ) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def xp(self) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def fp(self) -> numpy.typing.NDArray[_Value]: ...

def _forward_columns(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    values: numpy.typing.NDArray[Any],
    columns: int,
    *,
    workers: int | None = None,
    left: Any = "raise",
    right: Any = "raise",
    missing: Any = "raise",
    _nat: bool = False,
) -> numpy.typing.NDArray[Any]: ...
