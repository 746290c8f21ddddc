"""GroupedInterpolator: a table per group, each element of a query answered by
its group's table in one call. The keys are matched to the tables at once
(integers by a lookup table or a binary search, other keys by their distinct
values), the query is taken and converted once, each group's elements go to
its table in one native call, and the answers are put back in place and into
the query's container once."""

from __future__ import annotations

import dataclasses
import sys
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from exact_interp._interpolator import Interpolator

if TYPE_CHECKING:
    import numpy

# Integer keys spanning at most this many values (or the query's length) are matched by a lookup table.
_LOOKUP_SPAN = 1 << 20


class GroupedInterpolator:
    """One table per group: each element of a query answered by the table of its key.

    Parameters
    ----------
    tables : mapping
        Key to table: an :class:`Interpolator`, or its knots ``(xp, fp)``.
        Every table has positions of one kind and values of one kind (and
        the same value columns).
    duplicates : {'raise', 'first', 'last'}, optional
        For knots given as ``(xp, fp)``: as :class:`Interpolator` takes it.

    Raises
    ------
    TypeError
        ``tables`` is not a mapping, or a table is not an Interpolator or a
        pair of knots, or the tables' kinds differ (naming the keys).
    ValueError
        ``tables`` is empty, or as :class:`Interpolator` raises it for a
        table's knots (the key named in a note).

    Examples
    --------
    >>> import numpy as np, exact_interp
    >>> clocks = exact_interp.GroupedInterpolator({
    ...     "a": (np.array([0, 100], np.uint64), np.array([0, 1000])),
    ...     "b": (np.array([0, 100], np.uint64), np.array([5, 15])),
    ... })
    >>> clocks.forward(np.array([10, 10, 50], np.uint64), by=["a", "b", "a"])
    array([100,   6, 500])
    """

    __slots__ = ("_tables", "_keys", "_index", "_sorted", "_order", "_kinds", "_shape")
    _tables: list[Any]  # Interpolators
    _keys: list[Any]
    _index: dict[Any, int]
    _sorted: numpy.ndarray[Any, Any] | None  # integer keys, sorted, and their places among the keys
    _order: numpy.ndarray[Any, Any] | None
    _kinds: Any
    _shape: Any

    def __init__(self, tables: Mapping[Any, Any], *, duplicates: str = "raise") -> None:
        import numpy

        if not isinstance(tables, Mapping):
            raise TypeError(f"argument 'tables' must be a mapping of key to table, not '{type(tables).__qualname__}'")
        made: dict[Any, Any] = {}  # key → Interpolator
        for key, table in tables.items():
            if isinstance(table, Interpolator):
                made[key] = table
                continue
            if not isinstance(table, (tuple, list)) or len(table) != 2:
                raise TypeError(f"argument 'tables': the table of key {key!r} must be an Interpolator or its knots "
                                f"(xp, fp), not '{type(table).__qualname__}'")
            try:
                made[key] = Interpolator(table[0], table[1], duplicates=duplicates)  # type: ignore[call-overload]
            except Exception as error:
                _add_note(error, f"(the table of key {key!r})")
                raise
        keys = list(made)
        if not keys:
            raise ValueError("argument 'tables' is empty; give at least one key and its table")
        first: Any = made[keys[0]]
        kinds = first._kind_pair()
        for key in keys[1:]:
            table = made[key]
            if table._kind_pair() != kinds or table._shape != first._shape:
                raise TypeError(f"argument 'tables': the table of key {key!r} has {_described(table)}, the table "
                                f"of key {keys[0]!r} {_described(first)}; one call answers in one kind")
        set_ = object.__setattr__
        set_(self, "_tables", [made[k] for k in keys])
        set_(self, "_keys", keys)
        set_(self, "_index", {k: i for i, k in enumerate(keys)})
        set_(self, "_kinds", kinds)
        set_(self, "_shape", first._shape)
        # integer keys, sorted, for matching integer queries' keys without a Python step per element
        integers = all(isinstance(k, (int, numpy.integer)) and not isinstance(k, bool) for k in keys)
        if integers and -(2**63) <= min(keys) and max(keys) < 2**63:
            values = numpy.array(keys, numpy.int64)
            order = numpy.argsort(values, kind="stable")
            set_(self, "_sorted", values[order])
            set_(self, "_order", order)
        else:
            set_(self, "_sorted", None)
            set_(self, "_order", None)

    def __len__(self) -> int:
        return len(self._keys)

    def __contains__(self, key: Any) -> bool:
        try:
            return key in self._index
        except TypeError:  # an unhashable key has no table
            return False

    def __getitem__(self, key: Any) -> Interpolator[Any]:
        """The table of ``key`` (KeyError where it has none)."""
        table: Interpolator[Any] = self._tables[self._index[key]]
        return table

    @property
    def keys(self) -> tuple[Any, ...]:
        """The keys, in the order the mapping gave them.

        Examples
        --------
        >>> import exact_interp
        >>> exact_interp.GroupedInterpolator({"b": ([0, 1], [0, 1]), "a": ([0, 1], [1, 2])}).keys
        ('b', 'a')
        """
        return tuple(self._keys)

    def __repr__(self) -> str:
        count = len(self._keys)
        shown = ", ".join(map(repr, self._keys[:5])) + (", …" if count > 5 else "")
        return (f"<exact_interp.GroupedInterpolator: {count} table{'s' if count != 1 else ''} of "
                f"{_described(self._tables[0])}, keys {shown}>")

    def __reduce__(self) -> tuple[Any, tuple[dict[Any, Interpolator[Any]]]]:
        return type(self), (dict(zip(self._keys, self._tables)),)

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError(f"'GroupedInterpolator' object attribute '{name}' is read-only")

    def forward(self, x: Any, *, by: Any, workers: int | None = None, left: Any = None, right: Any = None,
                missing: Any = None) -> Any:
        """Positions to values, each by the table of its key.

        Parameters
        ----------
        x : array_like
            The positions, as :meth:`Interpolator.forward` takes them (a
            Polars expression gives a Polars expression).
        by : array_like or scalar
            The key of each position: of ``x``'s shape (or one key for all);
            a Polars expression where ``x`` is one.
        workers, left, right
            As :meth:`Interpolator.forward` takes them, for every table.
        missing : 'raise', 'null' or scalar, optional
            A fill for the query's missing elements and for the elements
            whose key has no table (``None`` or ``'raise'``: such a key is a
            KeyError naming it).

        Returns
        -------
        numpy.ndarray, scalar or the query's container
            What :meth:`Interpolator.forward` gives, each element from its
            group's table.

        Raises
        ------
        KeyError
            A key with no table, where ``missing`` gives no fill.
        IndexError, TypeError, ValueError, OverflowError, FatalError
            As :meth:`Interpolator.forward` raises them (an element named by
            its place in ``x``).

        Examples
        --------
        >>> import numpy as np, exact_interp
        >>> tables = exact_interp.GroupedInterpolator({7: ([0, 10], [0, 100]), 9: ([0, 10], [0, -10])})
        >>> tables.forward([5, 5, 5], by=[7, 9, 8], missing=-1)
        array([50, -5, -1])
        """
        return self._call(False, x, None, by, workers, left, right, missing)

    def inverse(self, f: Any, method: Any = None, *, by: Any, workers: int | None = None, left: Any = None,
                right: Any = None, missing: Any = None) -> Any:
        """Values to positions under ``method``, each by the table of its key.

        Parameters
        ----------
        f : array_like
            The values, as :meth:`Interpolator.inverse` takes them (a Polars
            expression gives a Polars expression).
        method : {None, 'nearest', 'ffill', 'bfill'}, optional
            As :meth:`Interpolator.inverse` takes it.
        by : array_like or scalar
            The key of each value: of ``f``'s shape (or one key for all); a
            Polars expression where ``f`` is one.
        workers, left, right
            As :meth:`Interpolator.inverse` takes them, for every table.
        missing : 'raise', 'null' or scalar, optional
            A fill for missing values, values at no whole position and the
            elements whose key has no table.

        Returns
        -------
        numpy.ndarray, scalar or the query's container
            What :meth:`Interpolator.inverse` gives, each element from its
            group's table.

        Raises
        ------
        KeyError
            A key with no table, where ``missing`` gives no fill; a value
            outside its table, as :meth:`Interpolator.inverse` raises it.
        TypeError, ValueError, OverflowError, FatalError
            As :meth:`Interpolator.inverse` raises them.

        Examples
        --------
        >>> import numpy as np, exact_interp
        >>> tables = exact_interp.GroupedInterpolator({7: ([0, 10], [0, 100]), 9: ([0, 10], [0, 30])})
        >>> tables.inverse([50, 20], "nearest", by=[7, 9])
        array([5, 7])
        """
        if self._shape is not None:
            raise TypeError(f"the inverse needs one-dimensional values, not value columns: these tables' fp have "
                            f"columns of shape {self._shape}")
        return self._call(True, f, method, by, workers, left, right, missing)

    def _call(self, inverse: bool, query_obj: Any, method: Any, by: Any, workers: Any, left: Any, right: Any,
              missing: Any) -> Any:
        import numpy

        from exact_interp import _convert
        from exact_interp._fills import _fill
        from exact_interp._results import result

        param = "f" if inverse else "x"
        keywords = {"workers": workers, "left": left, "right": right, "missing": missing}
        from exact_interp._expressions import grouped, is_expression

        if is_expression(query_obj):

            return grouped(query_obj, by, self, method, inverse, keywords)
        query = _convert.taken_query(query_obj, param, missing)
        n = len(query.array)
        codes = self._codes(by, n, query.shape)
        unknown = codes < 0
        fills_unknown = _convert.wants_missing(missing)
        if not fills_unknown and unknown.any():
            raise KeyError(f"by: no table for the key {self._key_at(by, int(numpy.argmax(unknown)))!r}; give "
                           f"missing= a fill, or 'null', for the elements of keys without one")
        axis, kind = self._kinds
        result_kind = axis if inverse else kind
        nulls = _convert._Nulls(result_kind, query, self._shape is not None, left, right, missing)
        out: numpy.ndarray[Any, Any] | None = None
        absent: numpy.ndarray[Any, Any] | None = None
        failure: tuple[int, BaseException] | None = None

        def evaluate(table: Any, part: Any) -> Any:
            if inverse:
                return _convert.inverse_answers(table._table, self._kinds, part, method, workers, left, right,
                                                missing, nulls)
            return _convert.forward_answers(table._table, table._shape, self._kinds, part, workers, left, right,
                                            missing, nulls)

        for code, where in _groups(codes, len(self._keys)):
            table = self._tables[code]
            try:
                answers, gone = evaluate(table, _part(query, where))
            except Exception as error:  # the failing element lowest in the query wins, as in one call
                first = _placed(error, where, query, table, self._kinds, param, self._shape)
                if failure is None or first < failure[0]:
                    failure = (first, error)
                continue
            if out is None:
                out = numpy.empty((n,) + answers.shape[1:], answers.dtype)
            out[where] = answers
            if gone is not None and gone.any():
                if absent is None:
                    absent = numpy.zeros(n, bool)
                absent[where] = gone
        if failure is not None:
            raise failure[1]
        if out is None:  # no element has a table: the first table's answers to none, for their dtype and shape
            answers, _ = evaluate(self._tables[0], _part(query, slice(0, 0)))
            out = numpy.empty((n,) + answers.shape[1:], answers.dtype)
        if unknown.any():
            if isinstance(missing, str) and missing == "null":
                absent = unknown if absent is None else (absent | unknown)
                out[unknown] = 0
            else:
                out[unknown] = _fill(missing, result_kind, "missing", inverse)
        labels = getattr(self._shape, "labels", None)
        if self._shape is not None:
            out = out.reshape((n,) + tuple(self._shape))
        return result(out, result_kind, query, labels, absent=absent, owned=True)

    def _codes(self, by: Any, n: int, shape: tuple[int, ...] | None) -> numpy.ndarray[Any, Any]:
        """Each element's table: its index among the keys, -1 where its key has none."""
        import numpy

        keys = _key_array(by)
        if keys.ndim == 0:  # one key for every element
            return numpy.full(n, self._lookup(keys[()]), numpy.int64)
        if keys.size != n or (shape is not None and keys.shape != shape and keys.ndim != 1):
            raise ValueError(f"argument 'by': {keys.size} keys for {n} elements of the query; give one key per "
                             f"element (or one key for all)")
        keys = keys.reshape(-1)
        if self._sorted is not None and self._order is not None and keys.dtype.kind in "iu":
            return _integer_codes(keys, self._sorted, self._order)
        return self._codes_by_value(keys)

    def _codes_by_value(self, keys: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, Any]:
        """Codes by the distinct keys (sorted once), each looked up in the mapping."""
        import numpy

        try:
            distinct, inverse = numpy.unique(keys, return_inverse=True)
        except TypeError:  # keys that do not compare: looked up one by one
            return numpy.fromiter((self._lookup(k) for k in keys), numpy.int64, len(keys))
        table = numpy.fromiter((self._lookup(k) for k in distinct), numpy.int64, len(distinct))
        return table[inverse.reshape(-1)]

    def _lookup(self, key: Any) -> int:
        import numpy

        key = key.item() if isinstance(key, numpy.generic) else key
        try:
            return int(self._index.get(key, -1))
        except TypeError:  # unhashable
            return -1

    def _key_at(self, by: Any, k: int) -> Any:
        import numpy

        keys = _key_array(by)
        key = keys[()] if keys.ndim == 0 else keys.reshape(-1)[k]
        return key.item() if isinstance(key, numpy.generic) else key


def _add_note(error: BaseException, text: str) -> None:
    """A note on the error (PEP 678; on CPython 3.10 the list that 3.11's tracebacks print)."""
    if hasattr(error, "add_note"):
        error.add_note(text)
    else:
        error.__notes__ = [*getattr(error, "__notes__", []), text]


def _described(table: Any) -> str:
    axis, kind = table._kind_pair()
    columns = f" in columns of shape {table._shape}" if table._shape is not None else ""
    return f"{axis.describe()} positions and {kind.describe()} values{columns}"


def _key_array(by: Any) -> numpy.ndarray[Any, Any]:
    """The keys as a NumPy array (a scalar as a 0-d one): pandas, Polars and Arrow columns by their own
    conversion, null keys as None."""
    import numpy

    if by is None or isinstance(by, (str, bytes)) or numpy.ndim(by) == 0 and not hasattr(by, "__len__"):
        out = numpy.empty((), object)
        out[()] = by
        return out
    module = type(by).__module__.split(".")[0]
    if module == "pandas":  # with nulls: as objects, so that no integer key passes through a float
        return numpy.asarray(by.to_numpy(dtype=object) if by.hasnans else by.to_numpy())
    if module == "polars":
        return by.to_numpy() if by.null_count() == 0 else numpy.array(by.to_list(), object)
    if module == "pyarrow":
        return by.to_numpy(zero_copy_only=False) if by.null_count == 0 else \
            numpy.array(by.to_pylist(), object)
    if module == "xarray":
        return numpy.asarray(by.values)
    if isinstance(by, numpy.ma.MaskedArray):
        return numpy.asarray(numpy.ma.asarray(by.astype(object)).filled(None))
    return numpy.asarray(by)


def _integer_codes(keys: numpy.ndarray[Any, Any], sorted_keys: numpy.ndarray[Any, Any],
                   order: numpy.ndarray[Any, Any]) -> numpy.ndarray[Any, Any]:
    """Codes of integer keys: by a lookup table over the keys' span where it is small, else a binary search."""
    import numpy

    low, high = int(sorted_keys[0]), int(sorted_keys[-1])
    if keys.dtype == numpy.uint64 and high < 0:
        return numpy.full(len(keys), -1, numpy.int64)
    span = high - low
    big: numpy.ndarray[Any, Any] | None = None
    if keys.dtype == numpy.uint64:  # compared as signed where they fit
        big = keys > numpy.uint64(2**63 - 1)
        keys = numpy.where(big, numpy.uint64(0), keys).astype(numpy.int64)
        if not big.any():
            big = None
    else:
        keys = keys.astype(numpy.int64, copy=False)
    width = numpy.int32 if len(order) < 2**31 else numpy.int64
    if low >= 0 and high < max(_LOOKUP_SPAN, 4 * len(keys)):
        # keys from 0: a lookup table indexed by the key itself, one past the last key for every key above it
        lookup = numpy.full(high + 2, -1, width)
        lookup[sorted_keys] = order
        codes = lookup.take(keys, mode="clip")
        if len(keys) and int(keys.min()) < 0:
            codes[keys < 0] = -1
    elif span < max(_LOOKUP_SPAN, 4 * len(keys)):
        lookup = numpy.full(span + 1, -1, width)
        lookup[sorted_keys - low] = order
        if len(keys) and int(keys.min()) >= low and int(keys.max()) <= high:  # every key in the span: one take
            codes = lookup.take(keys - low)
        else:
            inside = (keys >= low) & (keys <= high)
            codes = numpy.full(len(keys), -1, lookup.dtype)
            codes[inside] = lookup[keys[inside] - low]
    else:
        at = numpy.minimum(numpy.searchsorted(sorted_keys, keys), len(sorted_keys) - 1)
        codes = numpy.where(sorted_keys[at] == keys, order[at], -1)
    if big is not None:
        codes[big] = -1
    return codes


# A run of one key at least this long on average is answered in place; shorter runs are gathered by key (a
# native call costs about as much as this many elements).
_RUN = 4096


def _groups(codes: numpy.ndarray[Any, Any], count: int) -> Any:
    """(code, where) for the elements of each table: slices where the query holds its keys in long runs (ordered
    by key, for instance), else each table's elements gathered, in order. Keys that have no table (-1) are left
    out."""
    import numpy

    n = len(codes)
    if n == 0:
        return
    starts = numpy.flatnonzero(codes[1:] != codes[:-1]) + 1
    if len(starts) < max(count, n // _RUN):
        bounds = [0, *starts.tolist(), n]
        for s, e in zip(bounds[:-1], bounds[1:]):
            if codes[s] >= 0:
                yield int(codes[s]), slice(s, e)
        return
    # one stable sort of small integers (a radix sort) groups them in the query's order
    width = numpy.int16 if count < 2**15 else numpy.int32 if count < 2**31 else numpy.int64
    small: numpy.ndarray[Any, Any] = codes.astype(width, copy=False)
    order = numpy.argsort(small, kind="stable")
    bounds_ = numpy.cumsum(numpy.bincount(small + 1, minlength=count + 1))
    for code in range(count):
        s, e = int(bounds_[code]), int(bounds_[code + 1])
        if e > s:
            yield code, order[s:e]


def _part(query: Any, where: Any) -> Any:
    """The elements `where` of a taken query as a flat query of their own (its container's place kept for the
    checks of "null")."""
    return dataclasses.replace(query, array=query.array[where], scalar=False, shape=None,
                               missing=None if query.missing is None else query.missing[where])


def _placed(error: BaseException, where: Any, query: Any, table: Any, kinds: Any, param: str, shape: Any) -> int:
    """The error of a group's call with its note naming the element by its place in the whole query; that
    place (the group's first element's where it names none)."""
    import numpy

    from exact_interp._notes import _restate, _Terms

    indices = numpy.arange(len(query.array))[where]
    facts = getattr(error, "_note_facts", None)
    # an error of the table itself (its order, say) stands at the group's first element
    group_first = int(indices[0]) if len(indices) else sys.maxsize
    if facts is None:
        return group_first
    template, fields = facts
    placed, first = [], sys.maxsize
    for field in fields:
        name, k, *rest = field
        if name == param and rest[1] and k < len(indices):  # an element of the query, named
            k = int(indices[k])
            first = min(first, k)
        placed.append((name, k, *rest))
    error._note_facts = (template, placed)  # type: ignore[attr-defined]
    axis, kind = kinds
    _restate(error, query, _Terms(param, table._table.xp, table._table.fp, axis, kind, shape))
    return first if first != sys.maxsize else group_first
GroupedInterpolator.__module__ = "exact_interp"
