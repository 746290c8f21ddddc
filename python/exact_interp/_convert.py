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


def _python_ints(values: list[int], param: str) -> numpy.ndarray[Any, Any]:
    """Python ints, exactly: int64 where they all fit, else uint64."""
    lo, hi = min(values, default=0), max(values, default=0)
    if lo >= -(1 << 63) and hi < (1 << 63):
        return numpy.array(values, dtype=_I64)
    if lo >= 0 and hi < (1 << 64):
        return numpy.array(values, dtype=_U64)
    if lo >= -(1 << 63) and hi < (1 << 64):
        raise OverflowError(f"argument '{param}': integers from {lo} to {hi} fit neither int64 nor uint64 together")
    raise OverflowError(f"argument '{param}': {hi if hi >= (1 << 63) else lo} does not fit 64 bits")


def _is_int(v: Any) -> bool:
    return isinstance(v, (int, numpy.integer)) and not isinstance(v, (bool, numpy.bool_))


def _is_float(v: Any) -> bool:
    return isinstance(v, (float, numpy.floating))


def _sequence(items: list[Any], param: str) -> numpy.ndarray[Any, Any]:
    """The elements of a list or tuple, read once, exactly: ints of any size,
    floats, or a mix of both where float64 holds every int; other elements
    (datetime64 scalars, nested sequences) as NumPy reads them."""
    if any(isinstance(v, (bool, numpy.bool_)) for v in items):
        raise TypeError(f"argument '{param}': a bool is not a position or a value")
    ints = [int(v) for v in items if _is_int(v)]
    if len(ints) == len(items):  # empty too: as no integers
        return _python_ints(ints, param)
    if len(ints) + sum(map(_is_float, items)) == len(items):
        if any(abs(v) >= 2**1024 or float(v) != v for v in ints):  # no int rounds on its way to float64
            raise ValueError(f"argument '{param}': a list of ints and floats converts only where float64 holds "
                             f"every int exactly; pass the ints alone or as an integer array")
        return numpy.array([_exact_double(v, param) if _is_float(v) else float(v) for v in items], dtype=_F64)
    try:
        return numpy.asarray(items)
    except ValueError:  # elements of different shapes: no array holds them
        raise TypeError(f"argument '{param}': its elements have different shapes, so it has no shape") from None


def _nested(items: Any, param: str) -> numpy.ndarray[Any, Any]:
    """A list or tuple, nested to any depth with one length per level, as an
    array of its shape whose elements are read as _sequence reads them."""
    level: list[Any] = list(items)
    shape = [len(level)]
    while level and all(isinstance(v, (list, tuple)) for v in level):
        lengths = {len(v) for v in level}
        if len(lengths) != 1:
            raise TypeError(f"argument '{param}': nested sequences of different lengths have no shape")
        shape.append(lengths.pop())
        level = [w for v in level for w in v]
    if any(isinstance(v, (list, tuple)) for v in level):
        raise TypeError(f"argument '{param}': nested sequences of different depths have no shape")
    return _sequence(level, param).reshape(shape)


def _exact_double(v: Any, param: str) -> float:
    d = float(v)
    if isinstance(v, numpy.floating) and v.dtype.itemsize > 8 and not (numpy.isnan(v) or v == d):
        raise ValueError(f"argument '{param}': {v.dtype} values that float64 does not hold exactly")
    return d


def _no_longdouble(a: numpy.ndarray[Any, Any], param: str) -> numpy.ndarray[Any, Any]:
    """Floats wider than float64 as float64 where each is exactly a double."""
    if a.dtype.kind != "f" or a.dtype.itemsize <= 8:
        return a
    d = a.astype(_F64)
    if not ((d == a) | numpy.isnan(a)).all():
        raise ValueError(f"argument '{param}': {a.dtype} values that float64 does not hold exactly")
    return d


# Objects of other libraries that stand for data not yet at hand, and why they are refused.
_UNEVALUATED = {
    ("polars", "Expr"): "is evaluated by polars: pass the Series it gives (frame[name] or frame.get_column(name))",
    ("pandas", "MultiIndex"): "holds tuples, not positions or values: pass one of its levels "
                              "(index.get_level_values(k))",
}

# Containers that hold several columns: never an array of positions or values.
_TABLES = {("pandas", "DataFrame"), ("polars", "DataFrame"), ("polars", "LazyFrame"), ("pyarrow", "Table"),
           ("pyarrow", "RecordBatch")}


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


def take(obj: Any, param: str, missing: bool = False, shaped: bool = False) -> Taken:
    """_take, the argument's name kept for the errors of its result."""
    taken = _take(obj, param, missing, shaped)
    taken.param = param
    return taken


def _take(obj: Any, param: str, missing: bool = False, shaped: bool = False) -> Taken:
    """Any accepted argument as a one-dimensional NumPy array, without a copy
    where its library allows one. With `missing`, missing elements (NaT,
    nulls, masked elements) are allowed and marked instead of refused; with
    `shaped` (queries), arrays and nested sequences of any shape are taken
    flat, their shape kept for the result."""
    if isinstance(obj, numpy.ma.MaskedArray):
        masked = int(numpy.ma.count_masked(obj))
        if masked and not missing:
            raise ValueError(f"argument '{param}': {masked} masked values have no position or value")
        taken = take(obj.filled(obj.data.flat[0]) if masked else obj.data, param, missing, shaped)
        return _with_missing(taken, numpy.ma.getmaskarray(obj).reshape(-1) if masked else None)
    if isinstance(obj, numpy.ndarray):
        if type(obj) is not numpy.ndarray:  # a subclass (a memory map, a matrix): its data as a plain array
            obj = numpy.asarray(obj)
        obj = _no_longdouble(obj, param)
        if missing and obj.dtype.kind in "Mm" and numpy.isnat(obj).any():
            mask = numpy.isnat(obj).reshape(-1)
            filled = obj.copy()
            filled[numpy.isnat(filled)] = numpy.zeros(1, obj.dtype)[0]
            return _with_missing(take(filled, param, shaped=shaped), mask)
        if obj.ndim == 0:
            return Taken(obj.reshape(1), scalar=True)
        if obj.ndim != 1:
            if not shaped:
                raise TypeError(f"argument '{param}': a one-dimensional array is required, not {obj.ndim} dimensions")
            taken = take(obj.reshape(-1), param)  # a copy where the layout needs one
            taken.shape = obj.shape
            return taken
        if obj.dtype == object:
            items = obj.tolist()
            if not all(_is_int(v) for v in items):
                raise TypeError(f"argument '{param}': an object array converts only when all its elements are ints")
            return Taken(_python_ints(items, param))
        if not obj.dtype.isnative:  # the other byte order: the same values in this machine's
            return Taken(obj.astype(obj.dtype.newbyteorder("=")))
        return Taken(obj)
    if isinstance(obj, numpy.generic):
        return take(numpy.asarray(obj), param, missing, shaped)
    if isinstance(obj, bool):
        raise TypeError(f"argument '{param}': a bool is not a position or a value")
    if _is_int(obj):
        return Taken(_python_ints([obj], param), scalar=True)
    if isinstance(obj, float):
        return Taken(numpy.array([obj], dtype=_F64), scalar=True)
    if isinstance(obj, (list, tuple)):
        return take(_nested(obj, param) if shaped else _sequence(list(obj), param), param, missing, shaped)
    module = type(obj).__module__.split(".")[0]
    if (module, type(obj).__name__) in _TABLES:
        raise TypeError(f"argument '{param}': a {module} {type(obj).__name__} holds columns, not positions or "
                        f"values; pass one of its columns")
    if (module, type(obj).__name__) in _UNEVALUATED:
        why = _UNEVALUATED[module, type(obj).__name__]
        raise TypeError(f"argument '{param}': a {module} {type(obj).__name__} {why}")
    reader = _LIBRARIES.get(module)
    if reader is not None:
        try:
            read: Taken | None = reader(obj, param, missing, shaped)
        except (TypeError, ValueError, OverflowError) as error:
            if type(error) in (TypeError, ValueError, OverflowError) and str(error).startswith("argument '"):
                raise  # ours, naming the argument
            raise TypeError(f"argument '{param}': {module} cannot hand this {type(obj).__name__} over exactly "
                            f"({type(error).__name__}: {error})") from None
        except Exception as error:  # the library's own exceptions never reach the caller
            raise TypeError(f"argument '{param}': {module} cannot hand this {type(obj).__name__} over exactly "
                            f"({type(error).__name__}: {error})") from None
        if read is not None:
            return read
    if hasattr(obj, "__array__"):
        return take(numpy.asarray(obj), param, missing, shaped)
    raise TypeError(f"argument '{param}': '{type(obj).__qualname__}' object is not an array, a sequence or a number")


def _take_arrow(obj: Any, param: str, missing: bool, shaped: bool) -> Taken:
    """An Arrow scalar, array or chunked array, or a Polars Series (through Arrow)."""
    if not hasattr(obj, "null_count"):  # a scalar
        if not getattr(obj, "is_valid", True) and not missing:
            raise ValueError(f"argument '{param}': a null value has no position or value")
        taken = take(_pyarrow().array([obj], type=obj.type), param, missing)
        taken.scalar = True
        return taken
    polars = type(obj).__module__.startswith("polars")
    container = "polars" if polars else ("chunked" if hasattr(obj, "chunks") else "arrow")
    if polars and str(obj.dtype) in ("Int128", "UInt128"):  # no Arrow or NumPy type: as Python ints, exactly
        items = obj.to_list()
        nulls = [v is None for v in items]
        if any(nulls) and not missing:
            raise ValueError(f"argument '{param}': {sum(nulls)} null values have no position or value")
        taken = _with_missing(Taken(_python_ints([0 if v is None else v for v in items], param)),
                              numpy.array(nulls, dtype=bool))
        taken.container, taken.source = container, obj
        return taken
    arrow = obj.to_arrow() if polars else obj
    nulls = arrow.null_count
    if nulls and nulls == len(arrow) and str(arrow.type) == "null":  # all null, of no type: any kind's missing
        if not missing:
            raise ValueError(f"argument '{param}': {nulls} null values have no position or value")
        taken = _with_missing(Taken(numpy.zeros(nulls, _I64)), numpy.ones(nulls, dtype=bool))
        taken.container, taken.source = container, obj
        return taken
    if nulls and not missing:
        raise ValueError(f"argument '{param}': {nulls} null values have no position or value")
    mask = None
    if nulls:  # marked, and filled with a harmless value of their type
        mask = numpy.asarray(arrow.is_null().to_numpy(zero_copy_only=False), dtype=bool)
        arrow = arrow.fill_null(_pyarrow().scalar(0, type=arrow.type))
    tz = getattr(arrow.type, "tz", None)
    if tz is not None:  # tz-aware timestamps: their UTC instants
        arrow = arrow.cast(_pyarrow().timestamp(arrow.type.unit))
    taken = _with_missing(take(numpy.asarray(arrow.to_numpy(zero_copy_only=False)), param), mask)
    taken.container, taken.source, taken.tz = container, obj, tz
    return taken


def _take_xarray(obj: Any, param: str, missing: bool, shaped: bool) -> Taken | None:
    """A DataArray: the result keeps its dims, coordinates and name."""
    if not hasattr(obj, "dims"):
        return None
    taken = take(numpy.asarray(obj.values), param, missing, shaped)
    taken.container, taken.source = "xarray", obj
    return taken


# The containers of other libraries, by the top module of their type,
# recognised without importing the library: each reader gives the Taken
# array, or None for an object it does not take.
_LIBRARIES: dict[str, Any] = {
    "pandas": lambda obj, param, missing, shaped: _take_pandas(obj, param, missing),
    "pyarrow": _take_arrow,
    "polars": _take_arrow,
    "xarray": _take_xarray,
}


def _pyarrow() -> Any:
    """pyarrow, already imported by whoever made the Arrow data at hand."""
    import importlib

    return importlib.import_module("pyarrow")


def _take_pandas(obj: Any, param: str, missing: bool) -> Taken:
    if not hasattr(obj, "dtype"):  # a scalar: Timestamp (by its UTC instant), Timedelta
        if not hasattr(obj, "to_numpy"):
            if type(obj).__name__ == "NAType":
                raise ValueError(f"argument '{param}': NA has no position or value")
            raise TypeError(f"argument '{param}': a pandas {type(obj).__name__} is not a position or a value "
                            f"this library converts (Timestamp, Timedelta)")
        taken = take(obj.to_numpy(), param, missing)  # a Timestamp of a zone: its UTC instant
        taken.tz = None if getattr(obj, "tz", None) is None else str(obj.tz)
        return taken
    dtype = obj.dtype
    name = type(obj).__name__  # Index and its kinds (RangeIndex, CategoricalIndex, DatetimeIndex, …)
    container = "series" if name == "Series" else ("index" if name.endswith("Index") else "")
    if name == "CategoricalIndex" or str(dtype) == "category":  # its values, as NumPy reads them
        taken = take(numpy.asarray(obj), param, missing)
        taken.container, taken.source = container, obj
        return taken
    if hasattr(dtype, "pyarrow_dtype"):  # backed by Arrow: converted as Arrow data is
        taken = take(_pyarrow().array(obj), param, missing)
        taken.container, taken.source = container, obj
        return taken
    mask = None
    tz = getattr(dtype, "tz", None)
    if tz is not None:  # tz-aware: the UTC instants
        array = obj.to_numpy(dtype=f"datetime64[{dtype.unit}]")
    elif obj.hasnans if hasattr(obj, "hasnans") else False:
        if not missing and (dtype.kind in "Mm" or not isinstance(dtype, numpy.dtype)):
            raise ValueError(f"argument '{param}': missing values (NaT or NA) have no position or value")
        if not isinstance(dtype, numpy.dtype) and hasattr(dtype, "numpy_dtype"):  # nullable: NA marked
            mask = numpy.asarray(obj.isna(), dtype=bool)  # a Series' isna is a Series, an Index's an ndarray
            array = obj.to_numpy(dtype=dtype.numpy_dtype, na_value=0)
        else:
            array = obj.to_numpy()
    else:
        array = obj.to_numpy()
    taken = _with_missing(take(numpy.asarray(array), param, missing), mask)
    taken.container, taken.source, taken.tz = container, obj, None if tz is None else str(tz)
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


# ---- the table of conversions ------------------------------------------------
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


def result(typed: numpy.ndarray[Any, Any], kind: Kind, query: Taken, labels: Any = None) -> Any:
    """A typed result in the caller's terms: kind's dtype in the query's
    shape (value columns adding their dimensions) and container; a scalar for
    a scalar query; tz-aware results in their zone."""
    if kind.name == "int" and typed.dtype == _U64:
        out = _from_signed_keys(typed)
    elif kind.is_time:
        out = (_from_signed_keys(typed) if typed.dtype == _U64 else typed).view(kind.dtype)
    else:
        out = typed
    if query.shape is not None:
        out = out.reshape(query.shape + out.shape[1:])
    if kind.is_time and (query.container or kind.tz is not None) and not query.scalar:
        out, kind = _in_held_unit(out, kind, query)
    if kind.tz is not None:
        return _zoned(out, kind, query)
    if query.scalar:
        return out[0]
    if query.container == "xarray":
        return _xarray(out, query.source, labels)
    return _CONTAINERS[query.container](out, query.source)


# The time units of each container, finest first (NumPy holds every unit;
# results of a zone in NumPy come as pandas times).
_CONTAINER_UNITS: dict[str, tuple[str, ...]] = {"arrow": ("ns", "us", "ms", "s"), "chunked": ("ns", "us", "ms", "s"),
                                                "polars": ("ns", "us", "ms")}
_CONTAINER_NAMES = {"series": "a pandas Series", "index": "a pandas Index", "arrow": "a pyarrow Array",
                    "chunked": "a pyarrow ChunkedArray", "polars": "a polars Series", "xarray": "an xarray DataArray",
                    "": "a pandas result (times of a zone)"}
_pandas_units: tuple[str, ...] = ()


def _units_held(container: str) -> tuple[str, ...]:
    global _pandas_units
    if container in _CONTAINER_UNITS:
        return _CONTAINER_UNITS[container]
    if not _pandas_units:  # pandas and xarray: the units this pandas keeps (2.0 and later: down to seconds)
        pd = _pandas()
        _pandas_units = tuple(u for u in ("ns", "us", "ms", "s")
                              if pd.Series(numpy.zeros(0, f"M8[{u}]")).dtype == numpy.dtype(f"M8[{u}]"))
    return _pandas_units


def _in_held_unit(out: Array, kind: Kind, query: Taken) -> tuple[Array, Kind]:
    """Time results in a unit the query's container holds: their own, else the finest it holds in which every
    result is exact (NaT staying NaT); none is a ValueError naming the argument and the unit."""
    held = _units_held(query.container)
    if kind.unit in held:
        return out, kind
    counts = out.view(_I64)
    nat = counts == _NAT
    for unit in held:
        want = Kind(kind.name, unit, kind.tz)
        try:
            converted = _to_unit(numpy.where(nat, 0, counts), kind, want, query.param)
        except (ValueError, OverflowError):
            continue
        return numpy.where(nat, _NAT, converted).view(want.dtype), want
    raise ValueError(f"argument '{query.param}': {_CONTAINER_NAMES.get(query.container, query.container)} holds "
                     f"no unit ({', '.join(held)}) in which these {kind.describe()} results are exact; pass the query "
                     f"as a NumPy array to have them in {kind.unit}")


def _pandas() -> Any:
    import importlib

    return importlib.import_module("pandas")


def _arrow_of(out: numpy.ndarray[Any, Any], type: Any = None) -> Any:
    """An Arrow array of out; value columns as fixed-size lists."""
    pa = _pyarrow()
    if out.ndim == 1:
        return pa.array(out, type=type)
    flat = pa.array(out.reshape(-1), type=type)
    return pa.FixedSizeListArray.from_arrays(flat, int(numpy.prod(out.shape[1:])))


def _series(out: numpy.ndarray[Any, Any], source: Any) -> Any:
    pd = _pandas()
    if out.ndim == 1:
        return type(source)(out, index=source.index, name=source.name, copy=False)
    return pd.DataFrame(out.reshape(out.shape[0], int(numpy.prod(out.shape[1:]))), index=source.index)  # value columns


def _xarray(out: numpy.ndarray[Any, Any], source: Any, labels: Any = None) -> Any:
    """A DataArray of the query's dims and coordinates; value columns after them, with fp's own dimension names
    and coordinates where it had them (and they are not the query's)."""
    coords = dict(source.coords)
    extra: tuple[Any, ...] = tuple(f"{source.name or 'fp'}_column_{k}" for k in range(out.ndim - source.ndim))
    if labels is not None and len(labels[0]) == len(extra) and not set(labels[0]) & set(source.dims):
        extra = labels[0]
        coords.update(labels[1])
    return type(source)(out, dims=source.dims + extra, coords=coords, name=source.name)


# The container a result goes back into, by the query's (Taken.container).
_CONTAINERS: dict[str, Any] = {
    "": lambda out, source: out,
    "series": _series,
    "index": lambda out, source: _pandas().Index(out, name=source.name) if out.ndim == 1 else
    _pandas().DataFrame(out.reshape(out.shape[0], int(numpy.prod(out.shape[1:]))), index=source),  # value columns
    "arrow": lambda out, source: _arrow_of(out),
    "chunked": lambda out, source: _pyarrow().chunked_array([_arrow_of(out)]),
    "polars": lambda out, source: type(source)(source.name, out),
    "xarray": _xarray,
}


def _zoned(out: numpy.ndarray[Any, Any], kind: Kind, query: Taken) -> Any:
    """UTC instants as times of kind's zone, in the query's container: pandas
    (a Timestamp for a scalar, a Series, else a DatetimeIndex), an Arrow or
    Polars timestamp of that zone; NumPy holds no zone."""
    if query.container in ("arrow", "chunked"):
        arrow = _arrow_of(out, _pyarrow().timestamp(kind.unit, tz=kind.tz))
        return _pyarrow().chunked_array([arrow]) if query.container == "chunked" else arrow
    if query.container == "polars":
        return type(query.source)(query.source.name, out).dt.replace_time_zone("UTC").dt.convert_time_zone(kind.tz)
    if out.ndim != 1:
        raise TypeError(f"times of a zone ({kind.tz}) come as a pandas DatetimeIndex or Series: a query of "
                        f"{out.ndim} dimensions has no container for them")
    pd = _pandas()
    times = pd.DatetimeIndex(out).tz_localize("UTC").tz_convert(kind.tz)
    if query.scalar:
        return times[0]
    if query.container == "series":
        return type(query.source)(times, index=query.source.index, name=query.source.name)
    return times.rename(getattr(query.source, "name", None))


# ---- fills ------------------------------------------------------------------

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


@dataclass(frozen=True)
class _Terms:
    """What restates a native error's note in the caller's terms: the query's
    name, the typed knots and their kinds, and the value columns' shape."""

    param: str
    xp: numpy.ndarray[Any, Any]
    fp: numpy.ndarray[Any, Any]
    axis: Kind
    kind: Kind
    shape: tuple[int, ...] | None = None


def _restate(error: BaseException, query: Taken | None, terms: _Terms) -> None:
    """The note a typed call added to its error, written again from its facts in the caller's terms: each
    element named by its index in the query's shape and shown as the caller's kind (a missing one as
    missing), a knot as the caller's kind, a value column's element by its index in fp's shape."""
    notes = getattr(error, "__notes__", None)
    facts = getattr(error, "_note_facts", None)
    if not notes or facts is None:
        return
    template, fields = facts

    def knot(which: str, k: int) -> str:
        typed, kind = (terms.xp, terms.axis) if which == "xp" else (terms.fp, terms.kind)
        return _shown(typed[k:k + 1].copy(), kind) if k < len(typed) else "?"

    def element(name: str, k: int, column: int | None, named: bool, shown: str) -> str:
        if not named:  # a knot's value alone
            return knot(name, k)
        if column is not None:  # a value column's knot: its place in fp's shape, its value as it is
            place = numpy.unravel_index(column, terms.shape) if terms.shape else ()
            return f"{name}[{', '.join(map(str, (k, *place)))}] = {shown}"
        if name in ("xp", "fp"):
            return f"{name}[{k}] = {knot(name, k)}"
        if query is None:
            return f"{name}[{k}] = {shown}"
        flat = query.array.reshape(-1)
        where = ", ".join(map(str, numpy.unravel_index(k, query.shape))) if query.shape else str(k)
        if query.missing is not None and k < len(query.missing) and query.missing[k]:
            return f"{name}[{where}] = {'NaT' if _kind_of(flat, name).is_time else 'a missing element'}"
        if k < len(flat):
            shown = _shown(flat[k:k + 1].copy(), _kind_of(flat, name).zoned(query))
        return f"{name}[{where}] = {shown}"

    notes[-1] = template.format(*(element(*field) for field in fields))


def _shown(one: numpy.ndarray[Any, Any], kind: Kind) -> str:
    """One element as the caller knows it: in its kind, in its zone."""
    return str(_caller(one, kind)[0])


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


def _wants_missing(missing: Any) -> bool:
    return missing is not None and not (isinstance(missing, str) and missing == "raise")


def forward(x: Any, xp: Any, fp: Any, workers: Any, left: Any = None, right: Any = None, missing: Any = None,
            duplicates: Any = None) -> Any:
    """exact_interp.forward for arguments of other kinds than the typed ones, or rules that are not plain."""
    query = take(x, "x", _wants_missing(missing), shaped=True)
    typed, shape, kinds = checked_table(xp, fp, duplicates=duplicates)
    return call_forward(typed, shape, kinds, query, workers, left, right, missing)


def inverse(f: Any, xp: Any, fp: Any, method: Any, workers: Any, left: Any = None, right: Any = None,
            missing: Any = None, duplicates: Any = None) -> Any:
    """exact_interp.inverse for arguments of other kinds than the typed ones."""
    query = take(f, "f", _wants_missing(missing), shaped=True)
    typed, _, kinds = checked_table(xp, fp, columns=False, duplicates=duplicates)
    return call_inverse(typed, kinds, query, method, workers, left, right, missing)


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


def call_forward(typed: Any, shape: tuple[int, ...] | None, kinds: tuple[Kind, Kind], query: Taken, workers: Any,
                 left: Any, right: Any, missing: Any) -> Any:
    """The forward of a converted query over a native table: of one column, or of value columns of `shape`
    (typed.forward answers count·len(q) elements, column after column), each key's segment found once for all;
    the columns of the result after the query's."""
    axis, kind = kinds
    if shape is None:
        return result(_forward(typed.forward, query, axis, kind, typed.xp, typed.fp, workers, left, right, missing),
                      kind, query)
    count = int(numpy.prod(shape))
    n = len(typed.xp)
    answers = _forward(lambda q, **k: typed.forward(q, **k).reshape(max(count, 1), len(q)).T, query, axis, kind,
                       typed.xp, typed.fp[:n], workers, left, right, missing)
    if count == 0:  # evaluated over the placeholder column for its checks alone
        answers = answers[:, :0]
    return result(answers.reshape((len(query.array),) + tuple(shape)), kind, query, getattr(shape, "labels", None))


def call_inverse(typed: Any, kinds: tuple[Kind, Kind], query: Taken, method: Any, workers: Any, left: Any,
                 right: Any, missing: Any) -> Any:
    """The inverse of a converted query over a native table of one column."""
    axis, kind = kinds
    return result(_inverse(typed.inverse, query, axis, kind, typed.xp, typed.fp, method, workers, left, right,
                           missing), axis, query)


def _forward(fn: Any, query: Taken, axis: Kind, kind: Kind, keys: Any, typed_fp: Any, workers: Any, left: Any,
             right: Any, missing: Any) -> Any:
    fill = _fill(missing, kind, "missing", False)
    return _evaluate(fn, query, positions(query, axis, "x"), keys[:1], fill, _Terms("x", keys, typed_fp, axis, kind),
                     workers=workers, left=_fill(left, kind, "left", False), right=_fill(right, kind, "right", False),
                     _nat=kind.is_time)


def _inverse(fn: Any, query: Taken, axis: Kind, kind: Kind, keys: Any, typed_fp: Any, method: Any, workers: Any,
             left: Any, right: Any, missing: Any) -> Any:
    fill = _fill(missing, axis, "missing", True)
    return _evaluate(lambda q, **k: fn(q, method, **k), query, values(query, kind, "f"), typed_fp[:1], fill,
                     _Terms("f", keys, typed_fp, axis, kind),
                     workers=workers, left=_fill(left, axis, "left", True), right=_fill(right, axis, "right", True),
                     _nat=axis.is_time)


def _typed_kinds(typed: Any) -> tuple[Kind, Kind]:
    """The kinds of a typed table (exact_interp._native.Table)."""
    return Kind("uint"), Kind("int" if typed.fp.dtype == _I64 else "float")


def _kinds(table: Any) -> tuple[Kind, Kind]:
    kinds: tuple[Kind, Kind] | None = table._kinds
    return _typed_kinds(table._table) if kinds is None else kinds


def interpolator_forward(table: Any, x: Any, workers: Any, left: Any = None, right: Any = None,
                         missing: Any = None) -> Any:
    """Interpolator.forward: the query converted for the native table under it."""
    query = take(x, "x", _wants_missing(missing), shaped=True)
    return call_forward(table._table, table._shape, _kinds(table), query, workers, left, right, missing)


def interpolator_inverse(table: Any, f: Any, method: Any, workers: Any, left: Any = None, right: Any = None,
                         missing: Any = None) -> Any:
    if table._shape is not None:
        raise TypeError(f"the inverse needs one-dimensional values, not value columns: this table's fp has shape "
                        f"{(len(table._table.xp),) + table._shape}")
    query = take(f, "f", _wants_missing(missing), shaped=True)
    return call_inverse(table._table, _kinds(table), query, method, workers, left, right, missing)


def _caller(typed: numpy.ndarray[Any, Any], kind: Kind) -> Any:
    out = typed if typed.dtype != _U64 or kind.name == "uint" else _from_signed_keys(typed)
    out = out.view(kind.dtype) if kind.is_time else out
    out.flags.writeable = False
    if kind.tz is not None:  # in their zone
        return _pandas().DatetimeIndex(out).tz_localize("UTC").tz_convert(kind.tz)
    return out


def knots(table: Any) -> tuple[Any, Any]:
    """The knots of an Interpolator in the caller's terms (read-only)."""
    axis, kind = _kinds(table)
    xp, fp = table._table.xp, table._table.fp
    if table._shape is not None:  # value columns, one after another
        count = int(numpy.prod(table._shape))
        fp = (fp if count else fp[:0]).reshape(count, len(xp)).T.reshape((len(xp),) + table._shape)
    return _caller(xp, axis), _caller(fp, kind)


def describe(table: Any) -> str:
    """repr of an Interpolator: the knot count, the kinds and the range."""
    xp, fp = knots(table)
    axis, kind = _kinds(table)
    head = f"<exact_interp.Interpolator: {len(xp)} knot{'s' if len(xp) != 1 else ''} of {kind.describe()} values"
    named = "" if table._kinds is None else f"{axis.describe()} "  # typed knots: uint64 positions, unnamed
    if table._shape is not None:  # value columns: the positions' range
        head += f" in columns of shape {table._shape}"
        return head + (f", {named}xp from {xp[0]!s} to {xp[-1]!s}>" if len(xp) else ">")
    if len(xp) == 0:
        return head + ">"
    if len(xp) == 1:
        return f"{head}, {named}xp {xp[0]!s}, fp {fp[0]!s}>"
    return f"{head}, {named}xp from {xp[0]!s} to {xp[-1]!s}, fp from {fp[0]!s} to {fp[-1]!s}>"
