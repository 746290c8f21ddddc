"""Interpolator: a table copied and checked once, for many calls."""

from typing import Any, Generic, Literal, TypeVar, overload

import numpy
import numpy.typing

from exact_interp._native import Method, Rule, _Data, _Fill

_Value = TypeVar("_Value", numpy.int64, numpy.float64)

class Interpolator(Generic[_Value]):
    """Typed knots (uint64 positions, int64 or float64 values) give
    Interpolator[int64] or Interpolator[float64]; knots of other kinds
    Interpolator[Any], whose results are in the kinds of its knots."""

    @overload
    def __new__(
        cls, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.int64]
    ) -> Interpolator[numpy.int64]: ...
    @overload
    def __new__(
        cls, xp: numpy.typing.NDArray[numpy.uint64], fp: numpy.typing.NDArray[numpy.float64]
    ) -> Interpolator[numpy.float64]: ...
    @overload
    def __new__(cls, xp: _Data, fp: _Data) -> Interpolator[Any]: ...
    def forward(
        self,
        x: _Data,
        *,
        workers: int | None = None,
        left: Rule | _Fill | None = "raise",
        right: Rule | _Fill | None = "raise",
        missing: Literal["raise"] | _Fill | None = "raise",
    ) -> numpy.typing.NDArray[_Value]: ...
    def inverse(
        self,
        f: numpy.typing.NDArray[_Value],
        method: Method = None,
        *,
        workers: int | None = None,
        left: Rule | _Fill | None = None,
        right: Rule | _Fill | None = None,
        missing: Literal["raise"] | _Fill | None = "raise",
    ) -> numpy.typing.NDArray[Any]: ...
    @property
    def xp(self) -> numpy.typing.NDArray[Any]: ...
    @property
    def fp(self) -> numpy.typing.NDArray[_Value]: ...
    # the typed knots, and what the caller's were (None: the typed dtypes)
    @property
    def _xp(self) -> numpy.typing.NDArray[numpy.uint64]: ...
    @property
    def _fp(self) -> numpy.typing.NDArray[_Value]: ...
    @property
    def _kinds(self) -> Any: ...
