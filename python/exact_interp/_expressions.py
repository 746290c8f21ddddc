"""Polars expressions: an entry called with a Polars expression answers with
one, elementwise, its output dtype declared from the table's kinds before the
query runs (so a LazyFrame's schema shows it), each batch answered by the
table as a Polars Series is. Polars is recognised without importing it."""

from __future__ import annotations

import importlib
from typing import Any

from exact_interp._kinds import Kind

# The time units Polars holds; a result of another unit comes in nanoseconds, as the front end gives it.
_POLARS_UNITS = ("ns", "us", "ms")


def is_expression(obj: Any) -> bool:
    """Whether obj is a Polars expression (without importing Polars)."""
    kind = type(obj)
    return kind.__name__ == "Expr" and kind.__module__.split(".")[0] == "polars"


def _dtype(kind: Kind) -> Any:
    """The Polars dtype of results of this kind."""
    pl = importlib.import_module("polars")
    if kind.is_time:
        unit = kind.unit if kind.unit in _POLARS_UNITS else "ns"
        return pl.Datetime(unit, kind.tz) if kind.name == "datetime64" else pl.Duration(unit)
    return {"uint": pl.UInt64, "int": pl.Int64, "float": pl.Float64}[kind.name]


def mapped(expression: Any, table: Any, method: Any, inverse: bool, keywords: dict[str, Any]) -> Any:
    """The expression's batches through the Interpolator `table` (forward, or inverse under `method`), as an
    elementwise expression of the result's dtype."""
    if table._shape is not None:
        raise TypeError(f"argument '{'f' if inverse else 'x'}': a Polars expression gives one column, and this "
                        f"table has value columns of shape {table._shape}; pass the column's Series, or one column "
                        f"of values")
    axis, kind = table._kind_pair()
    dtype = _dtype(axis if inverse else kind)

    def batch(series: Any) -> Any:
        out = table.inverse(series, method, **keywords) if inverse else table.forward(series, **keywords)
        return out if out.dtype == dtype else out.cast(dtype, strict=True)

    return expression.map_batches(batch, return_dtype=dtype, is_elementwise=True)


def gaps_filled(values: Any, by: Any, keywords: dict[str, Any]) -> Any:
    """interpolate_by over two Polars expressions: the whole column at once (not elementwise), the result of
    the values' own dtype (integers cast back exactly, as every answer lies within its column's range unless
    extrapolated; a Float32 column whose filled values are not all float32 numbers refused), named as the
    values."""
    pl = importlib.import_module("polars")
    from exact_interp._gaps import interpolate_by

    if not is_expression(by):
        raise TypeError("argument 'by': values given as a Polars expression take their positions as one too "
                        "(pl.col(name))")

    def batch(pair: Any) -> Any:
        column = pair.struct.field("values")
        out = interpolate_by(column, pair.struct.field("by"), **keywords)
        if column.dtype == pl.Float32 and out.dtype != pl.Float32:  # the dtype was declared: no widening here
            raise ValueError("argument 'values': a Float32 column's filled values are not all float32 numbers; "
                             "cast the column to Float64 for them")
        return out if out.dtype == column.dtype else out.cast(column.dtype, strict=True)

    mapped = pl.struct(values.alias("values"), by.alias("by")).map_batches(batch, return_dtype=pl.dtype_of(values))
    try:
        return mapped.alias(values.meta.output_name())
    except Exception:  # an expression of no single name: Polars names the result itself
        return mapped


def grouped(expression: Any, by: Any, table: Any, method: Any, inverse: bool, keywords: dict[str, Any]) -> Any:
    """A GroupedInterpolator's call over a Polars expression and an expression of its keys: elementwise, of the
    result's dtype, named as the query."""
    pl = importlib.import_module("polars")
    param = "f" if inverse else "x"
    if not is_expression(by):
        raise TypeError("argument 'by': a query given as a Polars expression takes its keys as one too "
                        "(pl.col(name))")
    if table._shape is not None:
        raise TypeError(f"argument '{param}': a Polars expression gives one column, and these tables have value "
                        f"columns of shape {table._shape}")
    axis, kind = table._kinds
    dtype = _dtype(axis if inverse else kind)

    def batch(pair: Any) -> Any:
        query, keys = pair.struct.field("query"), pair.struct.field("by")
        out = (table.inverse(query, method, by=keys, **keywords) if inverse else
               table.forward(query, by=keys, **keywords))
        return out if out.dtype == dtype else out.cast(dtype, strict=True)

    mapped = pl.struct(expression.alias("query"), by.alias("by")).map_batches(batch, return_dtype=dtype,
                                                                            is_elementwise=True)
    try:
        return mapped.alias(expression.meta.output_name())
    except Exception:  # an expression of no single name: Polars names the result itself
        return mapped
