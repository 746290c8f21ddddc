"""Gaps filled exactly: the missing elements of a series of values filled by
interpolation over their positions, from the elements that are present. The
knots are taken, checked and evaluated as the front end's are (one native
call over the missing elements), the result put back into the values'
container with the elements left missing as it holds them."""

from __future__ import annotations

import importlib

import datetime
from fractions import Fraction
from typing import Any

import numpy

from exact_interp._convert import _one_per_position
from exact_interp._fills import _fill
from exact_interp._kinds import (_F64, _I64, _KNOT_POSITIONS, Array, Kind, Taken, _from_signed_keys, _no_nat,
                                 positions_axis, values_axis)
from exact_interp._readers import take
from exact_interp._results import holds_missing, result

# Seconds in one of each time unit NumPy names, exactly.
_UNIT_SECONDS = {"W": Fraction(604800), "D": Fraction(86400), "h": Fraction(3600), "m": Fraction(60),
                 "s": Fraction(1), "ms": Fraction(1, 10**3), "us": Fraction(1, 10**6), "ns": Fraction(1, 10**9),
                 "ps": Fraction(1, 10**12), "fs": Fraction(1, 10**15), "as": Fraction(1, 10**18)}
_RULES = ("raise", "clamp", "extrapolate")


def _positions(values: Taken, by: Any) -> Taken:
    """`by` taken, or a pandas Series' index where it is None."""
    if by is None:
        if values.container != "series":
            raise TypeError("argument 'by': the positions are required (only a pandas Series brings them, as its "
                            "index)")
        by = values.source.index
    positions = take(by, "by")
    if positions.scalar or len(positions.array) != len(values.array):
        raise ValueError(f"argument 'by': {len(positions.array)} positions for {len(values.array)} values; give "
                         f"one position per value")
    return positions


def _gap_limit(max_gap: Any, axis: Kind) -> int | None:
    """max_gap as a whole count of the positions' unit (floored: a gap of whole units exceeds it exactly when it
    exceeds the floor), None for no limit."""
    if max_gap is None:
        return None
    if axis.is_time:
        if isinstance(max_gap, numpy.timedelta64) and not numpy.isnat(max_gap):
            unit, step = numpy.datetime_data(max_gap.dtype)
            if unit not in _UNIT_SECONDS:
                raise TypeError(f"max_gap: a timedelta64 in {unit} has no fixed length")
            seconds = Fraction(int(max_gap.astype(numpy.int64))) * step * _UNIT_SECONDS[unit]
        elif isinstance(max_gap, datetime.timedelta):  # pandas.Timedelta included, to the nanosecond
            nanoseconds = getattr(max_gap, "value", None)
            seconds = (Fraction(nanoseconds, 10**9) if isinstance(nanoseconds, int) else
                       Fraction(max_gap.days * 86400 + max_gap.seconds) + Fraction(max_gap.microseconds, 10**6))
        else:
            raise TypeError(f"max_gap: positions of {axis.describe()} take a timedelta (datetime.timedelta, "
                            f"numpy.timedelta64 or pandas.Timedelta), not {type(max_gap).__qualname__}")
        count = seconds / _UNIT_SECONDS[axis.unit]
        limit = count.numerator // count.denominator
    else:
        if isinstance(max_gap, bool) or not isinstance(max_gap, (int, numpy.integer)):
            raise TypeError(f"max_gap: positions of {axis.describe()} take an integer, not "
                            f"{type(max_gap).__qualname__}")
        limit = int(max_gap)
    if limit < 0:
        raise ValueError(f"max_gap: a gap cannot be negative, not {max_gap!r}")
    return limit


def _rule(value: Any, keyword: str, kind: Kind) -> Any:
    """left or right: None or "null" (stay missing), a word of the front end, or a fill of the values' kind."""
    if isinstance(value, str) and value == "null":
        return None
    if value is None or (isinstance(value, str) and value in _RULES):
        return value
    if isinstance(value, str):
        raise ValueError(f"{keyword} must be None, 'null', 'raise', 'clamp', 'extrapolate' or a fill value, not "
                         f"{value!r}")
    return _fill(value, kind, keyword, False)


def _shown(keys: Array, axis: Kind, at: int) -> str:
    """One position in its caller's terms."""
    if axis.name == "uint":
        return str(int(keys[at]))
    count = int(_from_signed_keys(keys[at:at + 1])[0])
    return str(count) if axis.name == "int" else str(numpy.array([count]).view(axis.dtype)[0])


def _knots(keys: Array, typed: Array, present: Array, axis: Kind, duplicates: Any) -> tuple[Array, Array]:
    """The knots: the present elements, equal positions with equal values as one, then `duplicates` for equal
    positions of different values; the positions strictly increasing, else a ValueError naming the pair."""
    where = numpy.flatnonzero(present)
    kx, kf = keys[where], typed[where]
    if len(kx) > 1:
        same = (kx[1:] == kx[:-1]) & (kf[1:] == kf[:-1])
        if same.any():
            keep = numpy.concatenate(([True], ~same))
            where, kx, kf = where[keep], kx[keep], kf[keep]
    kept = _one_per_position(kx, kf, len(kx), duplicates)
    if len(kept[0]) != len(kx):
        return kept
    if len(kx) > 1 and not (kx[1:] > kx[:-1]).all():
        at = int(numpy.flatnonzero(kx[1:] <= kx[:-1])[0])
        i, j = int(where[at]), int(where[at + 1])
        if kx[at] == kx[at + 1]:
            raise ValueError(f"argument 'by': by[{i}] and by[{j}] are both {_shown(kx, axis, at)} with different "
                             f"values; duplicates='first' or 'last' keeps one of them")
        raise ValueError(f"argument 'by': the positions must increase where values are present: by[{i}] = "
                         f"{_shown(kx, axis, at)} and by[{j}] = {_shown(kx, axis, at + 1)}")
    return kx, kf


def _keys(raw: Array, axis: Kind) -> Array:
    """Positions of the axis's kind (checked) as the table's uint64 keys."""
    return _KNOT_POSITIONS[axis.name](raw, "by")  # type: ignore[no-any-return]


def _around(n: int, absent: Array, gaps: Array, ends: bool) -> Array:
    """Positions strictly increasing: the indices of the knots that answer the gaps (the missing elements at
    `gaps`, of n), each run of missing elements' present neighbours (and, for `ends`, the first two and the
    last two present elements, whose lines extrapolate). Each gap lies in the same segment of these knots as
    of all the present ones."""
    if len(gaps) == 0 or len(gaps) == n:
        return gaps[:0]
    breaks = numpy.flatnonzero(numpy.diff(gaps) != 1)
    first = gaps[numpy.concatenate(([0], breaks + 1))]
    last = gaps[numpy.concatenate((breaks, [len(gaps) - 1]))]
    # run k's neighbours in order: first[k] - 1 <= last[k] + 1 <= first[k + 1] - 1 (equal across one knot)
    around = numpy.stack((first - 1, last + 1), axis=1).reshape(-1)
    around = around[(around >= 0) & (around < n)]
    if ends:
        present = numpy.flatnonzero(~absent)
        around = numpy.sort(numpy.concatenate((around, present[:2], present[-2:])))
    return around[numpy.concatenate(([True], around[1:] != around[:-1]))]


def _along(values: Any, by: Any, axis: Any, keywords: dict[str, Any]) -> Any:
    """Values of several dimensions filled along one: an xarray DataArray along a dimension (by: its
    coordinate where left out), a NumPy array (a masked one too) along an axis, lane after lane."""
    if type(values).__module__.split(".")[0] == "xarray":
        if not isinstance(axis, str) or axis not in values.dims:
            raise ValueError(f"axis: a dimension of the DataArray ({', '.join(map(str, values.dims))}) is "
                             f"required, not {axis!r}")
        if by is None:
            if axis not in values.coords:
                raise TypeError(f"argument 'by': the dimension {axis!r} has no coordinate; give the positions")
            by = values.coords[axis].values
        return values.copy(data=_along(values.values, by, values.get_axis_num(axis), keywords))
    if not isinstance(values, numpy.ndarray):
        raise TypeError(f"axis: values along an axis are a NumPy array or an xarray DataArray, not "
                        f"'{type(values).__qualname__}'")
    if isinstance(axis, bool) or not isinstance(axis, (int, numpy.integer)) or not -values.ndim <= axis < values.ndim:
        raise ValueError(f"axis: an axis of the {values.ndim}-dimensional values is required, not {axis!r}")
    lanes = numpy.moveaxis(values, int(axis), -1)
    shape = lanes.shape
    flat = lanes.reshape(int(numpy.prod(shape[:-1])), shape[-1])
    if len(flat):
        stack = numpy.ma.stack if isinstance(values, numpy.ma.MaskedArray) else numpy.stack
        out = stack([interpolate_by(lane, by, **keywords) for lane in flat]).reshape(shape)
    else:  # no lane: the kind of a lane's answer, and the positions checked against one
        out = numpy.empty(shape, interpolate_by(numpy.zeros(shape[-1], values.dtype), by, **keywords).dtype)
    return numpy.moveaxis(out, -1, int(axis))


def interpolate_by(values: Any, by: Any = None, *, max_gap: Any = None, left: Any = None, right: Any = None,
                   duplicates: Any = "raise", workers: int | None = None, axis: Any = None) -> Any:
    """The body of exact_interp.interpolate_by (documented there)."""
    from exact_interp import FatalError, _native
    from exact_interp._expressions import gaps_filled, is_expression

    keywords = {"max_gap": max_gap, "left": left, "right": right, "duplicates": duplicates, "workers": workers}
    if is_expression(values):
        return gaps_filled(values, by, keywords)
    if axis is not None or (isinstance(values, numpy.ndarray) and values.ndim > 1):
        return _along(values, by, -1 if axis is None else axis, keywords)

    taken = take(values, "values", missing=True)
    if taken.scalar:
        raise TypeError("argument 'values': a series of values is required, not a scalar")
    masked = isinstance(values, numpy.ma.MaskedArray)
    positions = _positions(taken, by)
    raw = positions.array
    _, axis = positions_axis(Taken(raw[:0], tz=positions.tz), "by")  # the kind, or the refusal
    counts = raw.view(_I64) if axis.is_time else raw  # in the keys' order
    if axis.is_time:
        _no_nat(counts, "by")
    absent = numpy.zeros(len(taken.array), bool) if taken.missing is None else taken.missing.copy()
    array = taken.array
    narrow = array.dtype == numpy.float32  # float32 values: float32 results where every answer is one
    if array.dtype.kind == "f":  # NaN is missing too (kept: the result's missing value); float32 widened exactly
        infinite = numpy.isinf(array)
        if infinite.any():
            at = int(numpy.flatnonzero(infinite)[0])
            raise ValueError(f"argument 'values': values[{at}] = {array[at]} is not finite; only NaN marks a "
                             f"missing value")
        absent |= numpy.isnan(array)
        array = array.astype(_F64, copy=False)
    typed, kind = values_axis(Taken(array, tz=taken.tz), "values")
    limit = _gap_limit(max_gap, axis)
    rules = {"left": _rule(left, "left", kind), "right": _rule(right, "right", kind)}
    gaps, owned = numpy.flatnonzero(absent), False
    if len(counts) < 2 or (counts[1:] > counts[:-1]).all():  # positions in order: the knots around the gaps
        chosen = _around(len(counts), absent, gaps, "extrapolate" in (rules["left"], rules["right"]))
        kx, kf = _keys(raw[chosen], axis), typed[chosen]
        q = _keys(raw[gaps], axis)
    else:
        keys = _keys(raw, axis)
        kx, kf = _knots(keys, typed, ~absent, axis, duplicates)
        q = keys[gaps]
    if len(gaps) and len(kx):
        below, above = q < kx[0], q > kx[-1]
        fill = ~(below | above)
        if limit is not None and limit < 2**64:
            after = numpy.minimum(numpy.searchsorted(kx, q[fill], side="left"), len(kx) - 1)
            on_knot = kx[after] == q[fill]
            span = kx[after] - kx[numpy.maximum(after - 1, 0)]
            fill[fill] = on_knot | (span <= numpy.uint64(limit))
        for side, keyword in ((below, "left"), (above, "right")):
            if isinstance(rules[keyword], str) and rules[keyword] == "raise" and side.any():
                at = int(gaps[numpy.flatnonzero(side)[0]])
                where = "before the first" if keyword == "left" else "after the last"
                raise ValueError(f"{keyword}='raise': values[{at}] is missing {where} present value; "
                                 f"{keyword}=None leaves it missing")
            if isinstance(rules[keyword], str) and rules[keyword] == "extrapolate" and len(kx) == 1 and side.any():
                at = int(gaps[numpy.flatnonzero(side)[0]])
                raise ValueError(f"{keyword}='extrapolate': values[{at}] lies beyond the only present value, and "
                                 f"one knot has no slope; {keyword}='clamp' or a fill value answers it")
            if rules[keyword] is not None:
                fill |= side
        chosen = gaps[fill]
        if len(chosen):
            table = _native.Table(kx, kf, 1, "forward")
            plain = {k: "raise" if v is None else v for k, v in rules.items()}
            answers = table.forward(q[fill], workers, plain["left"], plain["right"], "raise", kind.is_time)
            if not isinstance(answers, numpy.ndarray):
                raise FatalError(f"the native table did not answer typed positions: {answers!r}")
            typed = typed.copy()
            typed[chosen] = answers
            narrow = narrow and bool((answers.astype(numpy.float32).astype(_F64) == answers).all())
            absent[chosen] = False
            owned = True
    if absent.any() and not holds_missing(kind, taken) and not masked:
        raise ValueError(f"argument 'values': {int(absent.sum())} elements stay missing (beyond the knots, in gaps "
                         f"wider than max_gap, or no knot at all) and an integer NumPy array holds no missing "
                         f"element; give left=, right= or a larger max_gap, or pass the values as a masked array "
                         f"or a pandas, Arrow or Polars series")
    if masked:  # a masked array of the kind's dtype, masked where missing
        out = numpy.ma.MaskedArray(result(typed, kind, Taken(typed, param="values")), mask=absent)
    else:
        out = result(typed if owned else typed.copy(), kind, taken, absent=absent, owned=True)
    return _as_float32(out) if narrow else out


def _as_float32(out: Any) -> Any:
    """Float64 results that are all float32 numbers, in the container's float32 dtype (exactly)."""
    module = type(out).__module__.split(".")[0]
    if module == "polars":
        return out.cast(importlib.import_module("polars").Float32)
    if module == "pyarrow":
        return out.cast(importlib.import_module("pyarrow").float32())
    if module == "pandas":
        return out.astype("Float32" if str(out.dtype) == "Float64" else "float32")
    return out.astype(numpy.float32)
