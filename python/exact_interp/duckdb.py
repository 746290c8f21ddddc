"""A table as SQL functions of a DuckDB connection.

``register(connection, name, table)`` registers vectorised scalar functions
that run through Arrow, batch by batch:

- ``<name>_forward(x)``: positions to values;
- ``<name>_inverse(f)`` and ``<name>_inverse(f, method)``: values to
  positions, under ``method`` ('nearest', 'ffill', 'bfill'; NULL or left
  out: exact positions only).

For a :class:`exact_interp.GroupedInterpolator` each function takes the key
as its last argument (BIGINT for integer keys, VARCHAR for strings), and a
key with no table gives NULL.

Their SQL types are exact both ways: UBIGINT or BIGINT for integers, DOUBLE
for floats, TIMESTAMP_NS, TIMESTAMP (microseconds), TIMESTAMP_MS or
TIMESTAMP_S for times of those units, TIMESTAMPTZ for times of a zone (its
instants in microseconds: a result finer than that is an error, never
truncated). NULL in gives NULL out, and so does a value at no whole position
under the exact method; an element outside the table is an error, as in
:func:`exact_interp.forward` (the inverse's methods clamp). Errors are DuckDB
errors whose message is this library's. Importing this module does not
import DuckDB: the connection brings it.
"""

from __future__ import annotations

import numbers
from typing import Any

import exact_interp
from exact_interp._kinds import Kind

__all__ = ["register"]

# SQL types of the kinds: naive times by unit, a zone's instants as TIMESTAMPTZ (microseconds).
_TIMES = {"ns": "TIMESTAMP_NS", "us": "TIMESTAMP", "ms": "TIMESTAMP_MS", "s": "TIMESTAMP_S"}
_NUMBERS = {"uint": "UBIGINT", "int": "BIGINT", "float": "DOUBLE"}


def _sql_type(kind: Kind, what: str) -> str:
    if kind.name == "datetime64":
        if kind.tz is not None:
            return "TIMESTAMPTZ"
        if kind.unit in _TIMES:
            return _TIMES[kind.unit]
    elif kind.name in _NUMBERS:
        return _NUMBERS[kind.name]
    raise TypeError(f"argument 'table': {kind.describe()} {what} have no exact SQL type (integers, floats and "
                    f"datetime64 in ns, us, ms or s have)")


def _in_type(out: Any, sql: str) -> Any:
    """An Arrow result as the declared SQL type: times of a zone as microsecond instants, exactly."""
    if sql != "TIMESTAMPTZ":
        return out
    from exact_interp._readers import _pyarrow

    return out.cast(_pyarrow().timestamp("us", tz=out.type.tz), safe=True)


def register(connection: Any, name: str, table: Any) -> None:
    """Register ``<name>_forward`` and ``<name>_inverse`` for a table on a DuckDB connection.

    Parameters
    ----------
    connection : duckdb.DuckDBPyConnection
        The connection whose queries call the functions.
    name : str
        The functions' prefix: an SQL identifier.
    table : Interpolator, tuple or GroupedInterpolator
        An :class:`exact_interp.Interpolator`, or its knots ``(xp, fp)``;
        one column of values. A :class:`exact_interp.GroupedInterpolator`
        gives functions that take the key last.

    Returns
    -------
    None
        The functions live on the connection (registering a name again
        replaces them).

    Raises
    ------
    TypeError
        A table of value columns or of a kind with no exact SQL type
        (``timedelta64``), a name that is no identifier.

    Examples
    --------
    >>> import duckdb, numpy as np, exact_interp, exact_interp.duckdb
    >>> con = duckdb.connect()
    >>> clock = np.array(["2024-05-01T12:00:00", "2024-05-01T12:00:01"], "datetime64[ns]")
    >>> exact_interp.duckdb.register(con, "sync", (np.array([0, 48_000], np.uint64), clock))
    >>> con.sql("SELECT sync_forward(12_000::UBIGINT) AS t").fetchall()
    [(datetime.datetime(2024, 5, 1, 12, 0, 0, 250000),)]
    >>> con.sql("SELECT sync_inverse(TIMESTAMP_NS '2024-05-01 12:00:00.5', 'nearest') AS n").fetchall()
    [(24000,)]
    """
    if not (isinstance(name, str) and name.isidentifier()):
        raise TypeError(f"argument 'name': an SQL identifier is required, not {name!r}")
    grouped = isinstance(table, exact_interp.GroupedInterpolator)
    if not grouped and not isinstance(table, exact_interp.Interpolator):
        if not (isinstance(table, tuple) and len(table) == 2):
            raise TypeError(f"argument 'table': an Interpolator, its knots (xp, fp) or a GroupedInterpolator are "
                            f"required, not '{type(table).__qualname__}'")
        table = exact_interp.Interpolator(*table)
    if table._shape is not None:
        raise TypeError(f"argument 'table': an SQL function gives one value, and this table has value columns of "
                        f"shape {table._shape}")
    axis, kind = table._kinds if grouped else table._kind_pair()
    positions, values = _sql_type(axis, "positions"), _sql_type(kind, "values")
    key = [_key_type(table.keys)] if grouped else []
    rules = {"missing": "null", "workers": 1}  # DuckDB runs batches on its own threads

    def forward(x: Any) -> Any:
        return _in_type(table.forward(x, **rules), values)

    def inverse(f: Any, method: Any) -> Any:
        return _in_type(table.inverse(f, _method(method), **rules), positions)

    def forward_by(x: Any, by: Any) -> Any:  # DuckDB reads a function's arity from its parameters
        return _in_type(table.forward(x, by=by, **rules), values)

    def inverse_by(f: Any, method: Any, by: Any) -> Any:
        return _in_type(table.inverse(f, _method(method), by=by, **rules), positions)

    def _method(method: Any) -> Any:
        chosen = set(method.unique().drop_null().to_pylist())
        if len(chosen) > 1:
            raise ValueError(f"{name}_inverse: one method for a call, not {sorted(chosen)}")
        return chosen.pop() if chosen else None

    implementation = f"{name}_inverse_method"
    for function in (f"{name}_forward", implementation):  # registered before: replaced
        try:
            connection.remove_function(function)
        except Exception:  # not registered on this connection (DuckDB's own error)
            pass
    connection.create_function(f"{name}_forward", forward_by if grouped else forward, [positions, *key], values,
                               type="arrow", null_handling="special")
    connection.create_function(implementation, inverse_by if grouped else inverse, [values, "VARCHAR", *key],
                               positions, type="arrow", null_handling="special")
    k = ", key" if grouped else ""
    connection.execute(f"CREATE OR REPLACE MACRO {name}_inverse(f{k}) AS {implementation}(f, NULL{k}), "
                       f"(f, method{k}) AS {implementation}(f, method{k})")


def _key_type(keys: tuple[Any, ...]) -> str:
    """The SQL type of a GroupedInterpolator's keys: BIGINT for integers, VARCHAR for strings."""
    if all(isinstance(k, str) for k in keys):
        return "VARCHAR"
    if all(isinstance(k, numbers.Integral) and not isinstance(k, bool) and -(2**63) <= int(k) < 2**63 for k in keys):
        return "BIGINT"
    raise TypeError("argument 'table': a GroupedInterpolator's keys in SQL are all strings (VARCHAR) or all "
                    "64-bit integers (BIGINT)")
