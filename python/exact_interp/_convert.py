"""The front end's conversions of one call: the arguments taken (_readers) and
converted by the tables of their kinds (_kinds), the knots checked into a
native table, one native call on typed arrays, the missing elements filled
(_fills), errors' notes written in the caller's terms (_notes) and the result
put back into the query's container (_results)."""

from __future__ import annotations

from typing import Any

import numpy

from exact_interp._expressions import is_expression, mapped
from exact_interp._fills import _fill
from exact_interp._kinds import _F64, _I64, _U64, Array, Kind, Taken, positions, positions_axis, values, values_axis
from exact_interp._notes import _restate, _Terms
from exact_interp._readers import take
from exact_interp._results import holds_missing, result


def _evaluate(fn: Any, query: Taken, keys: numpy.ndarray[Any, Any], hit: Any, fill: Any, terms: _Terms,
              **keywords: Any) -> Any:
    """fn(keys, …, missing=fill) with the missing elements of the query
    evaluated at `hit` (a knot's key, which always answers) and their results
    the fill; the native call checks the fill or word first. Its error's note
    is restated in the caller's terms."""
    keywords["missing"] = fill
    try:
        if query.missing is None or fill is None or isinstance(fill, str):
            return fn(keys, **keywords)
        keys = keys.copy()
        keys[query.missing] = hit if len(hit) else 0  # an empty table raises anyway
        out = fn(keys, **keywords)
    except Exception as error:
        _restate(error, query, terms)
        raise
    out[query.missing] = fill
    return out


def wants_missing(missing: Any) -> bool:
    return missing is not None and not (isinstance(missing, str) and missing == "raise")


def taken_query(obj: Any, param: str, missing: Any) -> Taken:
    """The query `param` taken in its shape, its missing elements marked where `missing` fills them."""
    return take(obj, param, wants_missing(missing), shaped=True)


def forward(x: Any, xp: Any, fp: Any, workers: Any, left: Any = None, right: Any = None, missing: Any = None,
            duplicates: Any = None) -> Any:
    """exact_interp.forward for arguments of other kinds than the typed ones, or rules that are not plain."""
    if is_expression(x):
        from exact_interp import Interpolator

        return mapped(x, Interpolator(xp, fp, duplicates=duplicates or "raise"), None, False,
                      {"workers": workers, "left": left, "right": right, "missing": missing})
    typed, shape, kinds = checked_table(xp, fp, duplicates=duplicates)
    return call_forward(typed, shape, kinds, taken_query(x, "x", missing), workers, left, right, missing)


def inverse(f: Any, xp: Any, fp: Any, method: Any, workers: Any, left: Any = None, right: Any = None,
            missing: Any = None, duplicates: Any = None) -> Any:
    """exact_interp.inverse for arguments of other kinds than the typed ones."""
    if is_expression(f):
        from exact_interp import Interpolator

        return mapped(f, Interpolator(xp, fp, duplicates=duplicates or "raise"), method, True,
                      {"workers": workers, "left": left, "right": right, "missing": missing})
    typed, _, kinds = checked_table(xp, fp, columns=False, duplicates=duplicates)
    return call_inverse(typed, kinds, taken_query(f, "f", missing), method, workers, left, right, missing)


def is_typed(xp: Any, fp: Any) -> bool:
    """Whether knots are the typed ones as they are: ndarrays (not a subclass, such as a masked array) of one
    dimension, uint64 positions and int64 or float64 values."""
    return (type(xp) is numpy.ndarray and type(fp) is numpy.ndarray and xp.ndim == 1 and fp.ndim == 1
            and xp.dtype == _U64 and (fp.dtype == _I64 or fp.dtype == _F64))


_DUPLICATES = (None, "raise", "first", "last")


def _one_per_position(keys: Array, typed_fp: Array, rows: int, duplicates: Any) -> tuple[Array, Array]:
    """The knots with one of each run of equal positions kept: the first or the last; "raise" (or None) keeps
    them all, for the table's check to refuse."""
    if not isinstance(duplicates, (str, type(None))) or duplicates not in _DUPLICATES:
        raise ValueError(f"duplicates must be 'raise', 'first' or 'last', not {duplicates!r}")
    if duplicates in (None, "raise") or len(keys) < 2 or rows != len(keys):
        return keys, typed_fp
    equal = keys[1:] == keys[:-1]
    if not equal.any():
        return keys, typed_fp
    keep = numpy.concatenate(([True], ~equal)) if duplicates == "first" else numpy.concatenate((~equal, [True]))
    return keys[keep], typed_fp.reshape(rows, -1)[keep].reshape(-1)


def checked_table(xp: Any, fp: Any, columns: bool = True,
                  duplicates: Any = None) -> tuple[Any, tuple[int, ...] | None, tuple[Kind, Kind]]:
    """The native table of knots of any kind, checked once (lengths, finite values, the order of xp, or of fp where
    `columns` is false, the inverse's: ValueError naming the knot in the caller's terms); the value columns' shape
    (None for one-dimensional values) and the kinds."""
    from exact_interp import _native

    keys, axis = positions_axis(take(xp, "xp"), "xp")
    knots_f = take(fp, "fp", shaped=columns)
    typed_fp, kind = values_axis(knots_f, "fp")
    rows, given = (knots_f.shape[0] if knots_f.shape is not None else len(typed_fp)), len(keys)
    keys, typed_fp = _one_per_position(keys, typed_fp, rows, duplicates)
    if knots_f.shape is not None and len(keys) != given:  # value columns of the knots kept
        knots_f.shape = (len(keys),) + knots_f.shape[1:]
    shape, count, values = None, 1, typed_fp
    if knots_f.shape is not None:
        shape = _Columns(knots_f.shape[1:])
        if knots_f.container == "xarray":  # fp's own dimensions after its first, and their coordinates
            source = knots_f.source
            shape.labels = (tuple(source.dims[1:]), {k: v for k, v in source.coords.items()
                                                     if set(v.dims) <= set(source.dims[1:])})
        count, values = _columns(knots_f, typed_fp)
        if count == 0:  # no column: the positions alone (a column of zeros the table holds), every answer empty
            values, count = numpy.zeros(knots_f.shape[0], values.dtype), 1
    try:
        return _native.Table(keys, values, count, "forward" if columns else "inverse"), shape, (axis, kind)
    except Exception as error:
        _restate(error, None, _Terms("", keys, values, axis, kind, shape))
        raise


class _Columns(tuple):  # type: ignore[type-arg]
    """The value columns' shape, with fp's dimension names and coordinates where it had them (an xarray fp)."""

    labels: Any = None


def _columns(knots_f: Taken, typed_fp: Array) -> tuple[int, Array]:
    """Value columns along fp's first axis: their count and their values, column after column."""
    assert knots_f.shape is not None
    count = int(numpy.prod(knots_f.shape[1:]))
    return count, numpy.ascontiguousarray(typed_fp.reshape(knots_f.shape[0], count).T).reshape(-1)


def _is_null(rule: Any) -> bool:
    return isinstance(rule, str) and rule == "null"


class _Nulls:
    """The rules that are the word "null": the elements they answer come back missing. Evaluated as "clamp"
    (left, right) and as a typed placeholder fill (missing), then marked absent in the result."""

    def __init__(self, result_kind: Kind, query: Taken, columns: bool, left: Any, right: Any, missing: Any) -> None:
        self.left, self.right, self.missing = _is_null(left), _is_null(right), _is_null(missing)
        given = [k for k, on in (("left", self.left), ("right", self.right), ("missing", self.missing)) if on]
        if given and not holds_missing(result_kind, query, columns):
            where = "value columns" if columns else "a NumPy array or xarray"
            raise ValueError(f"{given[0]}='null': {result_kind.describe()} results in {where} hold no missing "
                             f"element; pass the query as a pandas, Arrow or Polars series, or give a fill")

    def rules(self, left: Any, right: Any) -> tuple[Any, Any]:
        return "clamp" if self.left else left, "clamp" if self.right else right

    def absent(self, query: Taken, typed_query: Array, low: Any, high: Any) -> Array | None:
        """The elements answered by a "null" rule: below `low` or above `high` (the searched axis's ends, in
        the typed query's terms), or missing (marked, or NaN)."""
        if not (self.left or self.right or self.missing):
            return None
        absent = numpy.zeros(len(typed_query), bool)
        nan = numpy.isnan(typed_query) if typed_query.dtype.kind == "f" else None
        if self.missing:
            if query.missing is not None:
                absent |= query.missing
            if nan is not None:
                absent |= nan
        fine = ~absent if query.missing is None else ~(absent | query.missing)
        if self.left and low is not None:
            absent |= fine & (typed_query < low)
        if self.right and high is not None:
            absent |= fine & (typed_query > high)
        return absent


def call_forward(typed: Any, shape: tuple[int, ...] | None, kinds: tuple[Kind, Kind], query: Taken, workers: Any,
                 left: Any, right: Any, missing: Any) -> Any:
    """The forward of a converted query over a native table: of one column, or of value columns of `shape`
    (typed.forward answers count·len(q) elements, column after column), each key's segment found once for all;
    the columns of the result after the query's."""
    nulls = _Nulls(kinds[1], query, shape is not None, left, right, missing)
    answers, absent = forward_answers(typed, shape, kinds, query, workers, left, right, missing, nulls)
    return result(answers, kinds[1], query, getattr(shape, "labels", None), absent=absent)


def forward_answers(typed: Any, shape: tuple[int, ...] | None, kinds: tuple[Kind, Kind], query: Taken, workers: Any,
                    left: Any, right: Any, missing: Any, nulls: _Nulls) -> tuple[Array, Array | None]:
    """call_forward's typed answers (the value columns' axes after the query's one) and the elements a "null"
    rule leaves absent."""
    axis, kind = kinds
    if shape is None:
        return _forward(typed.forward, query, axis, kind, typed.xp, typed.fp, workers, left, right, missing, nulls)
    count = int(numpy.prod(shape))
    n = len(typed.xp)
    answers, absent = _forward(lambda q, **k: typed.forward(q, **k).reshape(max(count, 1), len(q)).T, query, axis,
                               kind, typed.xp, typed.fp[:n], workers, left, right, missing, nulls)
    if count == 0:  # evaluated over the placeholder column for its checks alone
        answers = answers[:, :0]
    return answers.reshape((len(query.array),) + tuple(shape)), absent


def call_inverse(typed: Any, kinds: tuple[Kind, Kind], query: Taken, method: Any, workers: Any, left: Any,
                 right: Any, missing: Any) -> Any:
    """The inverse of a converted query over a native table of one column."""
    nulls = _Nulls(kinds[0], query, False, left, right, missing)
    answers, absent = inverse_answers(typed, kinds, query, method, workers, left, right, missing, nulls)
    return result(answers, kinds[0], query, absent=absent)


def inverse_answers(typed: Any, kinds: tuple[Kind, Kind], query: Taken, method: Any, workers: Any, left: Any,
                    right: Any, missing: Any, nulls: _Nulls) -> tuple[Array, Array | None]:
    """call_inverse's typed answers and the elements a "null" rule leaves absent."""
    axis, kind = kinds
    return _inverse(typed.inverse, query, axis, kind, typed.xp, typed.fp, method, workers, left, right, missing,
                    nulls)


def _forward(fn: Any, query: Taken, axis: Kind, kind: Kind, keys: Any, typed_fp: Any, workers: Any, left: Any,
             right: Any, missing: Any, nulls: _Nulls) -> tuple[Any, Array | None]:
    left, right = nulls.rules(left, right)
    # "null": a typed placeholder (a count for times), marked absent afterwards
    fill = (0.0 if kind.name == "float" else 0) if nulls.missing else _fill(missing, kind, "missing", False)
    q = positions(query, axis, "x")
    answers = _evaluate(fn, query, q, keys[:1], fill, _Terms("x", keys, typed_fp, axis, kind), workers=workers,
                        left=_fill(left, kind, "left", False), right=_fill(right, kind, "right", False),
                        _nat=kind.is_time)
    return answers, nulls.absent(query, q, keys[0] if len(keys) else None, keys[-1] if len(keys) else None)


def _inverse(fn: Any, query: Taken, axis: Kind, kind: Kind, keys: Any, typed_fp: Any, method: Any, workers: Any,
             left: Any, right: Any, missing: Any, nulls: _Nulls) -> tuple[Any, Array | None]:
    left, right = nulls.rules(left, right)
    fill = 1 if nulls.missing else _fill(missing, axis, "missing", True)  # "null": a placeholder key
    q = values(query, kind, "f")
    rules = {"left": _fill(left, axis, "left", True), "right": _fill(right, axis, "right", True),
             "_nat": axis.is_time}
    answers = _evaluate(lambda q, **k: fn(q, method, **k), query, q, typed_fp[:1], fill,
                        _Terms("f", keys, typed_fp, axis, kind), workers=workers, **rules)
    absent = nulls.absent(query, q, typed_fp[0] if len(typed_fp) else None, typed_fp[-1] if len(typed_fp) else None)
    if nulls.missing and method is None and absent is not None:
        # values at no whole position got the fill: those answering it are asked again with another fill, and
        # those that follow the fill are absent
        again = numpy.flatnonzero(~absent & (answers == fill))
        if len(again):
            absent[again[fn(q[again], method, workers=workers, missing=2, **rules) == 2]] = True
    return answers, absent
