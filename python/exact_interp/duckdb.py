"""A table as SQL functions of a DuckDB connection.

``register(connection, name, table)`` registers vectorised scalar functions
that run through Arrow, batch by batch:

- ``<name>_forward(x)``: positions to values;
- ``<name>_inverse(f)`` and ``<name>_inverse(f, method)``: values to
  positions, under ``method`` ('nearest', 'ffill', 'bfill'; NULL or left
  out: exact positions only).

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
    table : Interpolator or tuple
        An :class:`exact_interp.Interpolator`, or its knots ``(xp, fp)``;
        one column of values.

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
    if not isinstance(table, exact_interp.Interpolator):
        if not (isinstance(table, tuple) and len(table) == 2):
            raise TypeError(f"argument 'table': an Interpolator or its knots (xp, fp) are required, not "
                            f"'{type(table).__qualname__}'")
        table = exact_interp.Interpolator(*table)
    if table._shape is not None:
        raise TypeError(f"argument 'table': an SQL function gives one value, and this table has value columns of "
                        f"shape {table._shape}")
    axis, kind = table._kind_pair()
    positions, values = _sql_type(axis, "positions"), _sql_type(kind, "values")
    rules = {"missing": "null", "workers": 1}  # DuckDB runs batches on its own threads

    def forward(x: Any) -> Any:
        return _in_type(table.forward(x, **rules), values)

    def inverse(f: Any, method: Any) -> Any:
        chosen = set(method.unique().drop_null().to_pylist())
        if len(chosen) > 1:
            raise ValueError(f"{name}_inverse: one method for a call, not {sorted(chosen)}")
        return _in_type(table.inverse(f, chosen.pop() if chosen else None, **rules), positions)

    implementation = f"{name}_inverse_method"
    for function in (f"{name}_forward", implementation):  # registered before: replaced
        try:
            connection.remove_function(function)
        except Exception:  # not registered on this connection (DuckDB's own error)
            pass
    connection.create_function(f"{name}_forward", forward, [positions], values, type="arrow",
                               null_handling="special")
    connection.create_function(implementation, inverse, [values, "VARCHAR"], positions, type="arrow",
                               null_handling="special")
    connection.execute(f"CREATE OR REPLACE MACRO {name}_inverse(f) AS {implementation}(f, NULL), "
                       f"(f, method) AS {implementation}(f, method)")
