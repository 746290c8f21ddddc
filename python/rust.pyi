"""Exact interpolation between uint64 positions and int64 or float64 values."""

from typing import Literal

import numpy
import numpy.typing

__all__ = ["forward_int", "forward_float", "inverse_int", "inverse_float"]

Method = Literal["nearest", "ffill", "bfill"] | None

def forward_int(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
) -> numpy.typing.NDArray[numpy.int64]: ...
def forward_float(
    x: numpy.typing.NDArray[numpy.uint64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
) -> numpy.typing.NDArray[numpy.float64]: ...
def inverse_int(
    f: numpy.typing.NDArray[numpy.int64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.int64],
    method: Method = None,
) -> numpy.typing.NDArray[numpy.uint64]: ...
def inverse_float(
    f: numpy.typing.NDArray[numpy.float64],
    xp: numpy.typing.NDArray[numpy.uint64],
    fp: numpy.typing.NDArray[numpy.float64],
    method: Method = None,
) -> numpy.typing.NDArray[numpy.uint64]: ...
