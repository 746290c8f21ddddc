"""The notes of native errors written in the caller's terms. The native module
gives each note with its facts, a template and the elements it names (array,
index, value column, value); here each element is written again by its index
in the query's shape and in the caller's kind and zone. No message is parsed."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy

from exact_interp._kinds import Kind, Taken, _kind_of
from exact_interp._results import caller


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
    return str(caller(one, kind)[0])
