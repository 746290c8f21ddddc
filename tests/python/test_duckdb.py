"""exact_interp.duckdb: the SQL functions of a table answer as the front end does on the same data, for every
kind the SQL types hold exactly, NULL in giving NULL out; errors are DuckDB's with this library's message."""

import numpy as np
import pytest

import exact_interp

duckdb = pytest.importorskip("duckdb", reason="the SQL functions need duckdb")
pa = pytest.importorskip("pyarrow", reason="the SQL functions run through Arrow")
import exact_interp.duckdb  # noqa: E402

pytestmark = pytest.mark.duckdb

# positions, values, a query of positions (with a NULL), the SQL types of both
TABLES = {
    "uint64 to float64": (np.array([0, 10**9, 2**63 + 5], np.uint64), np.array([0.0, 1.0 / 3, 7.5]),
                          [1, None, 5 * 10**8, 2**63]),
    "int64 to int64": (np.array([-(2**62), 0, 2**62]), np.array([-7, 0, 2**60]), [-(2**61), 3, None, 2**61]),
    "datetime64[ns] to int64": (np.array(["1969-12-31T23:59:59", "2024-01-01", "2100-01-01"], "M8[ns]"),
                                np.array([0, 48_000, 10**12]),
                                np.array(["1970-01-01", "2024-01-01T00:00:00.000000001", "NaT", "2099-01-01"],
                                         "M8[ns]")),
    "datetime64[s] to datetime64[ms]": (np.array(["2024-01-01", "2024-01-02", "2025-01-01"], "M8[s]"),
                                        np.array(["2000-01-01", "2000-01-02", "2001-01-01"], "M8[ms]"),
                                        np.array(["2024-01-01T06:00:00", "NaT", "2024-06-01"], "M8[s]")),
}


def arrow_table(relation):
    """A query's result as an Arrow table (to_arrow_table, fetch_arrow_table before DuckDB 1.4)."""
    return (getattr(relation, "to_arrow_table", None) or relation.fetch_arrow_table)()


def arrow(query):
    """The query as an Arrow array, NULL where None or NaT."""
    if isinstance(query, list):
        dtype = pa.uint64() if any(v is not None and v >= 2**63 for v in query) else pa.int64()
        return pa.array(query, type=dtype)
    return pa.array(query, mask=np.isnat(query))


@pytest.mark.parametrize("given", ["Interpolator", "knots", "grouped by integers", "grouped by strings"])
@pytest.mark.parametrize("name", sorted(TABLES))
def test_sql_answers_as_the_front_end(name, given):
    """Each function against the front end; a GroupedInterpolator's (of the table and of its knots without the
    middle one, the key last, one key without a table) against its own call."""
    xp, fp, query = TABLES[name]
    table = exact_interp.Interpolator(xp, fp)
    con = duckdb.connect()
    events = {"x": arrow(query)}
    by = {}
    if given.startswith("grouped"):
        keys = [10, 2**40] if given.endswith("integers") else ["left", "right"]
        table = exact_interp.GroupedInterpolator({keys[0]: table, keys[1]: (xp[::2], fp[::2])})
        column = [keys[k % 2] for k in range(len(query) - 1)] + [3 if given.endswith("integers") else "none"]
        events["grp"] = by["by"] = pa.array(column)
    exact_interp.duckdb.register(con, "t", (xp, fp) if given == "knots" else table)
    events = pa.table(events)
    con.register("events", events)
    key = ", grp" if by else ""
    got = arrow_table(con.sql(f"SELECT t_forward(x{key}) AS v FROM events"))["v"]
    want = table.forward(events["x"], missing="null", **by)
    assert got.to_pylist() == want.to_pylist()
    values = pa.table({"v": got.combine_chunks() if hasattr(got, "combine_chunks") else got,
                       **({"grp": by["by"]} if by else {})})
    con.register("values_", values)
    for method in (None, "nearest", "ffill", "bfill"):
        call = f"t_inverse(v{key})" if method is None else f"t_inverse(v, '{method}'{key})"
        back = arrow_table(con.sql(f"SELECT {call} AS p FROM values_"))["p"]
        assert back.to_pylist() == table.inverse(values["v"], method, missing="null", **by).to_pylist(), method


def test_zoned_times_and_errors():
    pd = pytest.importorskip("pandas", reason="times of a zone come through pandas")
    clock = pd.DatetimeIndex(["2024-03-31T00:00:00", "2024-03-31T04:00:00"]).tz_localize("Europe/Paris")
    con = duckdb.connect()
    exact_interp.duckdb.register(con, "paris", (clock, np.array([0, 14_400_000_000])))
    got = con.sql("SELECT paris_inverse(7_200_000_000, 'nearest') AS t").fetchall()[0][0]
    want = exact_interp.inverse(np.array([7_200_000_000]), clock, np.array([0, 14_400_000_000]), "nearest")[0]
    assert got == want.to_pydatetime()  # the same instant
    assert con.sql("SELECT typeof(paris_inverse(0)) AS t").fetchall() == [("TIMESTAMP WITH TIME ZONE",)]
    with pytest.raises(duckdb.Error, match="x out of bounds"):
        con.sql("SELECT paris_forward(TIMESTAMPTZ '2025-01-01 00:00:00+00')").fetchall()
    exact_interp.duckdb.register(con, "paris", (clock, np.array([0, 28_800_000_000])))  # replaced
    assert con.sql("SELECT paris_inverse(7_200_000_000, 'nearest') AS t").fetchall()[0][0] < got
    with pytest.raises(duckdb.Error, match="one method for a call"):
        con.sql("SELECT paris_inverse(v, m) FROM (VALUES (1, 'ffill'), (2, 'bfill')) AS q(v, m)").fetchall()
    # a result finer than TIMESTAMPTZ's microseconds is an error, never truncated
    fine = pd.DatetimeIndex(["2024-01-01T00:00:00", "2024-01-01T00:00:00.000001"]).tz_localize("UTC")
    exact_interp.duckdb.register(con, "fine", (fine.as_unit("ns"), np.array([0, 1000])))
    with pytest.raises(duckdb.Error):
        con.sql("SELECT fine_inverse(1::BIGINT, 'nearest')").fetchall()


@pytest.mark.parametrize("table, message", [
    ((np.array([0, 1], np.uint64), np.array([[0, 1], [2, 3]])), "value columns"),
    ((np.array([0, 1], "m8[s]"), np.array([0, 1])), "timedelta64\\[s\\] positions have no exact SQL type"),
    (np.array([0, 1]), "an Interpolator, its knots"),
    (exact_interp.GroupedInterpolator({1.5: ([0, 1], [0, 1])}), "keys in SQL are all strings"),
])
def test_refusals_name_the_argument(table, message):
    with pytest.raises(TypeError, match=f"argument 'table': .*{message}"):
        exact_interp.duckdb.register(duckdb.connect(), "t", table)
    with pytest.raises(TypeError, match="argument 'name': an SQL identifier"):
        exact_interp.duckdb.register(duckdb.connect(), "t; DROP TABLE x", (np.array([0, 1], np.uint64),
                                                                           np.array([0, 1])))
