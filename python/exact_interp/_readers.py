"""Readers of the data people hold, each argument taken as one NumPy array with
its kind, shape, container and missing elements (Taken): NumPy arrays of any
layout and scalars, Python ints (beyond 2^63 too), floats, lists and tuples
(nested, for queries of any shape), and the containers of pandas, Arrow,
Polars and xarray (recognised without importing their libraries, see
_LIBRARIES) or anything with ``__array__``. Nothing here converts a value."""

from __future__ import annotations

from typing import Any

import numpy

from exact_interp._kinds import _F64, _I64, _U64, Taken, _with_missing


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


def _sequence(items: list[Any], param: str, kinds: set[type] | None = None) -> numpy.ndarray[Any, Any]:
    """The elements of a list or tuple, read once, exactly: ints of any size,
    floats, or a mix of both where float64 holds every int; other elements
    (datetime64 scalars, nested sequences) as NumPy reads them. `kinds`: the
    elements' types, where the caller has them."""
    if kinds is None:  # the common cases below without a Python step per element
        kinds = set(map(type, items))
    if kinds == {int}:
        return _python_ints(items, param)
    if kinds == {float}:  # a Python float is a double: exact
        return numpy.array(items, dtype=_F64)
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
    kinds = set(map(type, level))
    if any(issubclass(kind, (list, tuple)) for kind in kinds):
        raise TypeError(f"argument '{param}': nested sequences of different depths have no shape")
    return _sequence(level, param, kinds).reshape(shape)


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
_FRAMES = {("pandas", "DataFrame"), ("polars", "DataFrame"), ("polars", "LazyFrame"), ("pyarrow", "Table"),
           ("pyarrow", "RecordBatch")}


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
    if (module, type(obj).__name__) in _FRAMES:
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
