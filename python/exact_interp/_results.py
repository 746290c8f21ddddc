"""Results put back where the query came from: the typed answers in the caller's
kind (time counts as datetime64 or timedelta64, in a unit the container
holds), the query's shape and container (_CONTAINERS) and, for zoned times,
its zone."""

from __future__ import annotations

from typing import Any

import numpy

from exact_interp._kinds import _I64, _NAT, _U64, Array, Kind, Taken, _from_signed_keys, _to_unit
from exact_interp._readers import _pyarrow


def result(typed: numpy.ndarray[Any, Any], kind: Kind, query: Taken, labels: Any = None,
           absent: numpy.ndarray[Any, Any] | None = None, owned: bool = False) -> Any:
    """A typed result in the caller's terms: kind's dtype in the query's
    shape (value columns adding their dimensions) and container; a scalar for
    a scalar query; tz-aware results in their zone. `absent` (one-dimensional
    results): the elements without an answer, missing in the result: null
    in Arrow and Polars, in pandas' nullable dtypes (integers, and where the
    query had one), else NaN or NaT; integers elsewhere have no missing
    element, which the caller refuses first (holds_missing). `owned`: typed
    is the caller's to write into."""
    if absent is not None and not absent.any() and not (query.container == "series" and _extension(query.source)):
        absent = None  # (a pandas Series of a nullable dtype keeps its kind of dtype)
    if absent is not None:
        typed = typed if owned else typed.copy()  # (owned: the caller's own copy, written in place)
        if kind.name == "float":
            typed[absent] = numpy.nan
        elif kind.is_time:
            typed[absent] = _NAT if typed.dtype == _I64 else numpy.uint64(0)  # the key 0 stands for NaT
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
        return _zoned(out, kind, query, absent)
    if query.scalar:
        return out[0]
    if query.container == "xarray":
        return _xarray(out, query.source, labels)
    if absent is not None and out.ndim == 1:
        return _NULLABLE[query.container](out, query.source, absent)
    return _CONTAINERS[query.container](out, query.source)


def holds_missing(kind: Kind, query: Taken, columns: bool = False) -> bool:
    """Whether a result of this kind in the query's container can hold a missing element (value columns: in
    NaN or NaT alone)."""
    if kind.name not in ("int", "uint"):
        return True
    return not columns and query.container in ("series", "index", "arrow", "chunked", "polars")


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


def _arrow_of(out: numpy.ndarray[Any, Any], type: Any = None, absent: Any = None) -> Any:
    """An Arrow array of out, null where `absent`; value columns as fixed-size lists."""
    pa = _pyarrow()
    if out.ndim == 1:
        return pa.array(out, type=type, mask=absent)
    flat = pa.array(out.reshape(-1), type=type)
    return pa.FixedSizeListArray.from_arrays(flat, int(numpy.prod(out.shape[1:])))


def _series(out: numpy.ndarray[Any, Any], source: Any) -> Any:
    pd = _pandas()
    if out.ndim == 1:
        return type(source)(out, index=source.index, name=source.name, copy=False)
    return pd.DataFrame(out.reshape(out.shape[0], int(numpy.prod(out.shape[1:]))), index=source.index)  # value columns


def _extension(source: Any) -> bool:
    """Whether a pandas object holds one of pandas' nullable integer or float dtypes."""
    return type(getattr(source, "dtype", None)).__name__ in ("Int8Dtype", "Int16Dtype", "Int32Dtype", "Int64Dtype",
                                                            "UInt8Dtype", "UInt16Dtype", "UInt32Dtype",
                                                            "UInt64Dtype", "Float32Dtype", "Float64Dtype")


def _nullable_pandas(out: numpy.ndarray[Any, Any], source: Any, absent: Any) -> Any:
    """out with NA where `absent`, in a pandas nullable array where out is of integers or the source was of
    pandas' nullable dtypes; else as it is (its NaN or NaT)."""
    pd = _pandas()
    if out.dtype.kind in "iu":
        return pd.arrays.IntegerArray(out, absent)
    if out.dtype.kind == "f" and _extension(source):
        return pd.arrays.FloatingArray(out, absent)
    return out


# The containers of _CONTAINERS for one-dimensional results with missing elements.
_NULLABLE: dict[str, Any] = {
    "": lambda out, source, absent: out,
    "series": lambda out, source, absent: type(source)(_nullable_pandas(out, source, absent), index=source.index,
                                                       name=source.name),
    "index": lambda out, source, absent: _pandas().Index(_nullable_pandas(out, source, absent), name=source.name),
    "arrow": lambda out, source, absent: _arrow_of(out, absent=absent),
    "chunked": lambda out, source, absent: _pyarrow().chunked_array([_arrow_of(out, absent=absent)]),
    "polars": lambda out, source, absent: type(source)(source.name, out).scatter(numpy.flatnonzero(absent), None),
}


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


def _zoned(out: numpy.ndarray[Any, Any], kind: Kind, query: Taken, absent: Any = None) -> Any:
    """UTC instants as times of kind's zone, in the query's container: pandas
    (a Timestamp for a scalar, a Series, else a DatetimeIndex), an Arrow or
    Polars timestamp of that zone; NumPy holds no zone. NaT where `absent`
    (null in Arrow and Polars)."""
    if query.container in ("arrow", "chunked"):
        arrow = _arrow_of(out, _pyarrow().timestamp(kind.unit, tz=kind.tz), absent)
        return _pyarrow().chunked_array([arrow]) if query.container == "chunked" else arrow
    if query.container == "polars":
        series = type(query.source)(query.source.name, out)
        if absent is not None:
            series = series.scatter(numpy.flatnonzero(absent), None)
        return series.dt.replace_time_zone("UTC").dt.convert_time_zone(kind.tz)
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


def caller(typed: numpy.ndarray[Any, Any], kind: Kind) -> Any:
    out = typed if typed.dtype != _U64 or kind.name == "uint" else _from_signed_keys(typed)
    out = out.view(kind.dtype) if kind.is_time else out
    out.flags.writeable = False
    if kind.tz is not None:  # in their zone
        return _pandas().DatetimeIndex(out).tz_localize("UTC").tz_convert(kind.tz)
    return out
