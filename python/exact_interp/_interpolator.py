"""Interpolator: a table copied and checked once, for many calls."""

from __future__ import annotations

from typing import Any, Generic, TypeVar

from exact_interp import _native

_Value = TypeVar("_Value")


def _convert() -> Any:
    """exact_interp._convert, which imports NumPy: at the first use, not at import."""
    from exact_interp import _convert as module

    return module


class Interpolator(Generic[_Value]):
    """The table of knots ``(xp, fp)``, copied and checked once.

    Positions and values of every kind that :func:`exact_interp.forward` and
    :func:`exact_interp.inverse` take (uint64 positions with int64 or float64
    values as they are). Immutable and safe to share between threads; each
    call costs the same whatever the table's size. ``forward(x)`` and
    ``inverse(f, method)`` give the results and errors of ``forward`` and
    ``inverse`` with these knots, in the kinds of the knots; ``xp`` and
    ``fp`` are the knots in the caller's terms (read-only).

    Parameters
    ----------
    xp : array_like
        The positions of the knots.
    fp : array_like
        The values of the knots: int64 values (or time counts) take the
        integer scheme, float64 values the float scheme.
    """

    _table: Any
    _kinds: Any

    def __init__(self, xp: Any, fp: Any) -> None:
        try:  # the typed dtypes, as the typed functions take them
            table, kinds = _native.Table(xp, fp), None
        except TypeError:
            keys, values, kinds = _convert().table(xp, fp)
            table = _native.Table(keys, values)
        object.__setattr__(self, "_table", table)
        object.__setattr__(self, "_kinds", kinds)
        if kinds is None:  # the typed table's own methods: nothing between the call and the native code
            self.__dict__["forward"] = table.forward
            self.__dict__["inverse"] = table.inverse

    def forward(self, x: Any, *, workers: int | None = None, left: Any = None, right: Any = None,
                missing: Any = None) -> Any:
        """Positions to values in the kind of the table's values, as :func:`exact_interp.forward`."""
        if self._kinds is None:
            return self._table.forward(x, workers=workers, left=left, right=right, missing=missing)
        return _convert().interpolator_forward(self, x, workers, left, right, missing)

    def inverse(self, f: Any, method: Any = None, *, workers: int | None = None, left: Any = None,
                right: Any = None, missing: Any = None) -> Any:
        """Values to positions in the kind of the table's positions under `method`, as
        :func:`exact_interp.inverse`."""
        if self._kinds is None:
            return self._table.inverse(f, method, workers=workers, left=left, right=right, missing=missing)
        return _convert().interpolator_inverse(self, f, method, workers, left, right, missing)

    @property
    def xp(self) -> Any:
        """The positions of the knots in the caller's kind: for uint64 knots a read-only view of the table's copy."""
        return _convert().knots(self)[0] if self._kinds is not None else self._table.xp

    @property
    def fp(self) -> Any:
        """The values of the knots in the caller's kind: for int64 or float64 knots a read-only view of the
        table's copy."""
        return _convert().knots(self)[1] if self._kinds is not None else self._table.fp

    # the typed knots (uint64 keys, int64 or float64 values) and what the caller's were
    @property
    def _xp(self) -> Any:
        return self._table.xp

    @property
    def _fp(self) -> Any:
        return self._table.fp

    def __repr__(self) -> str:
        return _convert().describe(self)

    def __reduce__(self) -> tuple[Any, tuple[Any, Any]]:
        return type(self), (self.xp, self.fp)  # the call that rebuilds it

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError(f"'Interpolator' object attribute '{name}' is read-only")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"'Interpolator' object attribute '{name}' is read-only")


Interpolator.__module__ = "exact_interp"
