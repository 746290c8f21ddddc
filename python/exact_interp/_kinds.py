"""Exact conversions between the data people hold and the typed functions.

Positions (``x``, ``xp``) become uint64 keys in an order-preserving way that
keeps every difference: unsigned integers as they are; signed integers,
``datetime64`` and ``timedelta64`` counts with the top bit flipped (the
signed order onto the unsigned one). Values (``fp``, ``f``) become int64
(integers, and the counts of ``datetime64`` and ``timedelta64``) or float64
(floats, widened exactly). Every conversion is exact or refused with an
error that names the argument; nothing here rounds.

Inputs: NumPy arrays of any layout and scalars, Python ints (beyond 2^63
too), floats, lists and tuples (nested, for queries of any shape), and the
containers of pandas, Arrow, Polars and xarray (recognised without importing
their libraries, see _LIBRARIES) or anything with ``__array__``. The rules
are tables: _KNOT_POSITIONS and _KNOT_VALUES say how knots of each kind
become typed, _QUERY_POSITIONS and _QUERY_VALUES which query kind meets which
knots' kind and how, _REFUSED why any other pair cannot, and _CONTAINERS how
a result goes back into the query's container.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy

_U64 = numpy.dtype(numpy.uint64)
_I64 = numpy.dtype(numpy.int64)
_F64 = numpy.dtype(numpy.float64)
_FLIP = numpy.uint64(1 << 63)
_NAT = numpy.iinfo(numpy.int64).min


@dataclass(frozen=True)
class Kind:
    """How a caller's array maps onto the typed functions' arrays.

    ``name`` is "uint", "int", "float", "datetime64" or "timedelta64";
    ``unit`` the time unit of the last two ("ns", "s", ...), else "".
    """

    name: str
    unit: str = ""
    tz: str | None = None  # datetime64 of a time zone: UTC instants, results in that zone

    @property
    def is_time(self) -> bool:
        return self.name in ("datetime64", "timedelta64")

    @property
    def dtype(self) -> numpy.dtype[Any]:
        """The dtype of results of this kind."""
        if self.is_time:
            return numpy.dtype(f"{'M8' if self.name == 'datetime64' else 'm8'}[{self.unit}]")
        return {"uint": _U64, "int": _I64, "float": _F64}[self.name]

    def describe(self) -> str:
        return str(self.dtype) if self.tz is None else f"datetime64[{self.unit}, {self.tz}]"

    def zoned(self, taken: Taken) -> Kind:
        """This kind with the zone of the data it was read from."""
        return Kind(self.name, self.unit, taken.tz) if taken.tz is not None else self


def _kind_of(a: numpy.ndarray[Any, Any], param: str) -> Kind:
    k = a.dtype.kind
    if k == "u":
        return Kind("uint")
    if k == "i":
        return Kind("int")
    if k == "f":
        return Kind("float")
    if k in "Mm":
        unit, count = numpy.datetime_data(a.dtype)
        if count != 1 or unit == "generic":
            raise TypeError(f"argument '{param}': {a.dtype} has no plain time unit")
        return Kind("datetime64" if k == "M" else "timedelta64", unit)
    raise TypeError(f"argument '{param}': {a.dtype} is not a kind of position or value this library converts "
                    f"(integers, floats, datetime64, timedelta64)")


@dataclass
class Taken:
    """An argument as a one-dimensional NumPy array, with what it came from."""

    array: numpy.ndarray[Any, Any]
    scalar: bool = False  # a scalar query: the result is a scalar
    # the container the result goes back into (a key of _CONTAINERS), and the
    # object whose index, name, dims or coordinates it keeps
    container: str = ""
    source: Any = None
    shape: tuple[int, ...] | None = None  # a query of another shape, flattened: the result's shape
    tz: str | None = None  # tz-aware time data: its zone (the array holds UTC instants)
    # where taken with missing elements allowed: which are missing (NaT,
    # null, masked), their places in `array` holding a harmless count
    missing: numpy.ndarray[Any, Any] | None = None
    param: str = ""  # the argument's name


def _with_missing(taken: Taken, mask: numpy.ndarray[Any, Any] | None) -> Taken:
    if mask is not None and mask.any():
        taken.missing = mask if taken.missing is None else (taken.missing | mask)
    return taken


def _as_signed_keys(counts: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, Any]:
    """int64 counts to uint64 keys in the same order, every difference kept."""
    return counts.astype(_I64, copy=False).view(_U64) ^ _FLIP


def _from_signed_keys(keys: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, Any]:
    return (keys ^ _FLIP).view(_I64)


def _no_nat(counts: numpy.ndarray[Any, Any], param: str) -> None:
    if counts.size and (counts == _NAT).any():
        raise ValueError(f"argument '{param}': NaT has no position or value")


_CALENDAR = ("Y", "M")  # units of no fixed length: convertible to no other


def _to_unit(a: numpy.ndarray[Any, Any], have: Kind, want: Kind, param: str) -> numpy.ndarray[Any, Any]:
    """Time counts of unit have.unit as counts of want.unit, exactly."""
    counts = a.view(_I64) if a.dtype.kind in "Mm" else a
    _no_nat(counts, param)
    if have.unit == want.unit:
        return counts
    if have.unit in _CALENDAR or want.unit in _CALENDAR:
        raise ValueError(f"argument '{param}': {have.describe()} does not convert exactly to {want.describe()}")
    finer = _units_in(have.unit, want.unit)
    out: numpy.ndarray[Any, Any]
    if finer > 0:  # have is the coarser: multiply, within int64 and short of NaT
        lo, hi = int(counts.min(initial=0)), int(counts.max(initial=0))
        if lo * finer <= _NAT or hi * finer >= (1 << 63):
            raise OverflowError(f"argument '{param}': {have.describe()} outside the range of {want.describe()}")
        # a factor beyond int64 leaves only zero counts in range
        out = counts * numpy.int64(finer) if finer < (1 << 63) else numpy.zeros_like(counts)
        return out
    per = _units_in(want.unit, have.unit)
    whole = not counts.any() if per >= (1 << 63) else not (counts % numpy.int64(per)).any()
    if not whole:
        raise ValueError(f"argument '{param}': {have.describe()} that are not whole units of {want.describe()}")
    out = counts // numpy.int64(per) if per < (1 << 63) else numpy.zeros_like(counts)
    return out


# Each fixed-length time unit in attoseconds, the finest: every factor between
# two units is a whole number, exactly, whatever its size.
_ATTOSECONDS = {"as": 1, "fs": 10**3, "ps": 10**6, "ns": 10**9, "us": 10**12, "ms": 10**15, "s": 10**18,
                "m": 60 * 10**18, "h": 3600 * 10**18, "D": 86400 * 10**18, "W": 7 * 86400 * 10**18}


def _units_in(coarse: str, fine: str) -> int:
    """How many units `fine` make one unit `coarse` (0 where `fine` is the coarser)."""
    return _ATTOSECONDS[coarse] // _ATTOSECONDS[fine]


# The table of conversions.
#
# Knots: how an array of each kind becomes the typed knots (positions: uint64
# keys; values: int64 or float64 and the kind the results take). Queries: for
# each pair (the knots' kind, the query's kind), how the query meets the
# knots; a pair that is not in the table is refused with the message of its
# row in _REFUSED. Every conversion is exact or raises, naming the argument.

Array = numpy.ndarray[Any, Any]


def _time_keys(a: Array, param: str) -> Array:
    counts = a.view(_I64)
    _no_nat(counts, param)
    return _as_signed_keys(counts)


def _time_counts(a: Array, param: str) -> Array:
    counts = a.view(_I64)
    _no_nat(counts, param)
    return counts


def _int64_values(a: Array, param: str) -> Array:
    if a.dtype.kind == "u" and a.size and a.max() > numpy.iinfo(numpy.int64).max:
        raise OverflowError(f"argument '{param}': values above 2^63 - 1 do not fit int64")
    return a.astype(_I64, copy=False)


def _exact_floats(a: Array, param: str) -> Array:
    """Integers as float64 where every one is a double exactly."""
    converted = a.astype(_F64)
    limit = 2.0**64 if a.dtype.kind == "u" else 2.0**63  # where a rounded-up integer would leave the type
    if not ((converted < limit).all() and (converted.astype(a.dtype) == a).all()):
        raise ValueError(f"argument '{param}': integers that float64 does not hold exactly cannot be compared "
                         f"with float values")
    return converted


def _non_negative(a: Array, param: str) -> Array:
    if a.size and a.min() < 0:
        raise ValueError(f"argument '{param}': negative positions cannot be ordered with unsigned integer knots")
    return a.astype(_U64, copy=False)


def _signed_keys_below_2_63(a: Array, param: str) -> Array:
    if a.size and a.max() > numpy.iinfo(numpy.int64).max:
        raise ValueError(f"argument '{param}': positions above 2^63 - 1 cannot be ordered with signed integer knots")
    return _as_signed_keys(a)


# knots: kind name -> (typed array, the kind of the results)
_KNOT_POSITIONS: dict[str, Any] = {
    "uint": lambda a, p: a.astype(_U64, copy=False),
    "int": lambda a, p: _as_signed_keys(a),
    "datetime64": _time_keys,
    "timedelta64": _time_keys,
}
_KNOT_VALUES: dict[str, Any] = {
    "uint": lambda a, p: (_int64_values(a, p), "int"),  # below 2^63: int64
    "int": lambda a, p: (a.astype(_I64, copy=False), "int"),
    "float": lambda a, p: (a.astype(_F64, copy=False), "float"),
    "datetime64": lambda a, p: (_time_counts(a, p), "datetime64"),
    "timedelta64": lambda a, p: (_time_counts(a, p), "timedelta64"),
}
# queries: (knots' kind, query's kind) -> the query as the typed query; time
# queries in the knots' unit exactly (query kind, knots' kind and param given)
_QUERY_POSITIONS: dict[tuple[str, str], Any] = {
    ("uint", "uint"): lambda a, have, axis, p: a.astype(_U64, copy=False),
    ("uint", "int"): lambda a, have, axis, p: _non_negative(a, p),
    ("int", "int"): lambda a, have, axis, p: _as_signed_keys(a),
    ("int", "uint"): lambda a, have, axis, p: _signed_keys_below_2_63(a, p),
    ("datetime64", "datetime64"): lambda a, have, axis, p: _as_signed_keys(_to_unit(a, have, axis, p)),
    ("timedelta64", "timedelta64"): lambda a, have, axis, p: _as_signed_keys(_to_unit(a, have, axis, p)),
}
_QUERY_VALUES: dict[tuple[str, str], Any] = {
    ("int", "int"): lambda a, have, axis, p: a.astype(_I64, copy=False),
    ("int", "uint"): lambda a, have, axis, p: _int64_values(a, p),
    ("float", "float"): lambda a, have, axis, p: a.astype(_F64, copy=False),
    ("float", "int"): lambda a, have, axis, p: _exact_floats(a, p),
    ("float", "uint"): lambda a, have, axis, p: _exact_floats(a, p),
    ("datetime64", "datetime64"): lambda a, have, axis, p: _to_unit(a, have, axis, p),
    ("timedelta64", "timedelta64"): lambda a, have, axis, p: _to_unit(a, have, axis, p),
}
# why a pair is refused: (what, the knots' kind, the query's kind; "*" for
# any) -> message, the most particular row first
_REFUSED: dict[tuple[str, str, str], str] = {
    ("positions", "*", "float"): "float positions are not exact; pass integers, datetime64 or timedelta64",
    ("positions", "*", "*"): "{dtype} positions cannot be ordered with {axis} knots",
    ("values", "int", "float"): "float values cannot be compared exactly with integer values",
    ("values", "*", "*"): "{dtype} values cannot be ordered with {axis} values",
}


def _refuse(what: str, a: Array, kind: Kind, axis: Kind | None, param: str) -> TypeError:
    name = axis.name if axis else "*"
    rows = [(what, name, kind.name), (what, name, "*"), (what, "*", kind.name), (what, "*", "*")]
    message = next(_REFUSED[r] for r in rows if r in _REFUSED)
    return TypeError(f"argument '{param}': " + message.format(dtype=a.dtype, axis=axis.describe() if axis else ""))


def positions_axis(taken: Taken, param: str) -> tuple[Array, Kind]:
    """xp as uint64 keys, and its kind."""
    a, kind = taken.array, _kind_of(taken.array, param).zoned(taken)
    if kind.name not in _KNOT_POSITIONS:
        raise _refuse("positions", a, kind, None, param)
    return _KNOT_POSITIONS[kind.name](a, param), kind


def values_axis(taken: Taken, param: str) -> tuple[Array, Kind]:
    """fp as int64 or float64, and its kind."""
    kind = _kind_of(taken.array, param).zoned(taken)
    typed, name = _KNOT_VALUES[kind.name](taken.array, param)
    return typed, kind if name == kind.name else Kind(name)


def _same_zoning(taken: Taken, axis: Kind, param: str, what: str) -> None:
    """Instants of a zone meet instants of any zone; naive times meet naive ones only."""
    if (taken.tz is None) != (axis.tz is None):
        have = "naive" if taken.tz is None else f"tz-aware ({taken.tz})"
        want = "naive knots" if axis.tz is None else f"tz-aware knots ({axis.tz})"
        raise TypeError(f"argument '{param}': {have} {what} cannot be compared with {want}; localize or convert "
                        f"one of them")


def _meet(table: dict[tuple[str, str], Any], what: str, taken: Taken, axis: Kind, param: str) -> Array:
    if taken.missing is not None and taken.missing.all():  # nothing but missing elements: of the knots' kind
        taken = Taken(numpy.zeros(len(taken.array), axis.dtype), tz=axis.tz, missing=taken.missing)
    a, kind = taken.array, _kind_of(taken.array, param)
    convert = table.get((axis.name, kind.name))
    if convert is None:
        raise _refuse(what, a, kind, axis, param)
    if kind.is_time:
        _same_zoning(taken, axis, param, what)
    result: Array = convert(a, kind, axis, param)
    return result


def positions(taken: Taken, axis: Kind, param: str) -> Array:
    """A query of positions as keys on an axis of the given kind, exactly."""
    return _meet(_QUERY_POSITIONS, "positions", taken, axis, param)


def values(taken: Taken, axis: Kind, param: str) -> Array:
    """A query of values in fp's terms, exactly."""
    return _meet(_QUERY_VALUES, "values", taken, axis, param)
