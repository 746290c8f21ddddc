"""The native part of exact_interp: the four functions of ``rust`` that release
the GIL and take ``workers``, and Interpolator."""

from typing import Generic, Literal, TypeVar, overload

import numpy
import numpy.typing

Method = Literal["nearest", "ffill", "bfill"] | None
_Value = TypeVar("_Value", numpy.int64, numpy.float64)

def forward_int(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    *,
    workers: int | None = None,
) -> numpy.typing.NDArray[numpy.int64]: ...
def forward_float(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    *,
    workers: int | None = None,
) -> numpy.typing.NDArray[numpy.float64]: ...
def inverse_int(
    f: numpy.typing.NDArray[numpy.int64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    method: Method = None,
    *,
    workers: int | None = None,
) -> numpy.typing.NDArray[numpy.uint64]: ...
def inverse_float(
    f: numpy.typing.NDArray[numpy.float64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    method: Method = None,
    *,
    workers: int | None = None,
) -> numpy.typing.NDArray[numpy.uint64]: ...

class Interpolator(Generic[_Value]):
    @overload
    def __new__(
        cls, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.int64]
    ) -> Interpolator[numpy.int64]: ...
    @overload
    def __new__(
        cls, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.float64]
    ) -> Interpolator[numpy.float64]: ...
    def forward(
        self, x: numpy.typing.NDArray[numpy.uint64], *, workers: int | None = None
    ) -> numpy.typing.NDArray[_Value]: ...
    def inverse(
        self, f: numpy.typing.NDArray[_Value], method: Method = None, *, workers: int | None = None
    ) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def xp(self) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def fp(self) -> numpy.typing.NDArray[_Value]: ...
