"""The fills of ``left``, ``right`` and ``missing``: words as they are, any other
value converted exactly to the typed result of the call (a time to its count,
a position to its key), or refused naming the keyword."""

from __future__ import annotations

from typing import Any

import numpy

from exact_interp._kinds import _NAT, Kind, _kind_of, _to_unit
from exact_interp._readers import _exact_double, _is_float, _is_int


_SIGNED_BIAS = 1 << 63


def _is_time_scalar(v: Any) -> bool:
    return isinstance(v, (numpy.datetime64, numpy.timedelta64)) or (
        type(v).__module__.split(".")[0] == "pandas" and hasattr(v, "to_numpy"))


def _fill(value: Any, kind: Kind, keyword: str, positions: bool) -> Any:
    """A fill given in the caller's kind as the typed result's fill (a time
    count or NaT, a key for signed positions); the rule words and None pass
    unchanged, and the native call checks what remains."""
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, numpy.ndarray):  # a 0-d array: its scalar
        if value.ndim != 0:
            raise TypeError(f"{keyword} must be a single fill, not an array of shape {value.shape}")
        value = value[()]
    if kind.is_time:
        if not _is_time_scalar(value):
            words = "'raise'" if keyword == "missing" else "'raise', 'clamp', 'extrapolate'"
            raise TypeError(f"{keyword} must be {words} or a {kind.describe()} fill (or NaT), not "
                            f"'{type(value).__qualname__}'")
        v = numpy.asarray(value.to_numpy() if hasattr(value, "to_numpy") else value).reshape(1)
        pandas_nat = type(value).__name__ == "NaTType"  # pandas has one NaT for both time kinds
        if not pandas_nat and v.dtype.kind != kind.dtype.kind:
            raise TypeError(f"{keyword}: a {v.dtype} fill cannot stand for {kind.describe()} results")
        zone = getattr(value, "tz", None)
        if kind.name == "datetime64" and not pandas_nat and (zone is None) != (kind.tz is None):
            have = "naive" if zone is None else f"tz-aware ({zone})"
            raise TypeError(f"{keyword}: a {have} fill cannot stand for {kind.describe()} results; localize or "
                            f"convert it")
        if numpy.isnat(v[0]):
            count = _NAT
        elif v.dtype.kind != kind.dtype.kind:
            raise TypeError(f"{keyword}: a {v.dtype} fill cannot stand for {kind.describe()} results")
        else:
            count = int(_to_unit(v, _kind_of(v, keyword), kind, keyword)[0])
        return count + _SIGNED_BIAS if positions else count
    if _is_time_scalar(value):
        raise TypeError(f"{keyword}: a time fill cannot stand for {kind.describe()} results")
    if isinstance(value, numpy.floating):  # float16, float32 and float64 exactly; wider ones where a double holds them
        value = _exact_double(value, keyword)
    elif _is_int(value):
        value = int(value)
    elif not isinstance(value, (int, float)):  # the native call takes plain fills only
        words = "'raise'" if keyword == "missing" else "'raise', 'clamp', 'extrapolate'"
        raise TypeError(f"{keyword} must be {words} or {'a float' if kind.name == 'float' else 'an int'}, not "
                        f"'{type(value).__qualname__}'")
    if positions and kind.name == "int" and not isinstance(value, bool):  # signed positions: their keys
        if _is_float(value) and float(value).is_integer():
            value = int(value)
        if _is_int(value):
            whole = int(value)
            if not -_SIGNED_BIAS <= whole < _SIGNED_BIAS:
                raise OverflowError(f"{keyword}={whole} does not fit the int64 positions")
            return whole + _SIGNED_BIAS
        if _is_float(value):
            raise ValueError(f"{keyword}={value!r} is not a whole number: the int64 positions cannot hold it")
    return value
