"""Helpers the suites share: array constructors, an exact reference in Fractions, and the
four functions through each entry."""

import importlib
import math
import sys
from fractions import Fraction

import numpy as np


class Nul:
    """A type whose __qualname__ holds a NUL character: error messages name it whole."""


Nul.__qualname__ = "a\x00b"


def u64(*values):
    return np.array(values, dtype=np.uint64)


def i64(*values):
    return np.array(values, dtype=np.int64)


def f64(*values):
    return np.array(values, dtype=np.float64)


def bits(a):
    """Float results compared bit for bit."""
    return np.asarray(a, dtype=np.float64).view(np.uint64).tolist()


class Outside(Exception):
    """The reference's verdict for an argument with no answer."""


class Missing:
    """A library that is not installed: a test (or a parameter row) that uses it skips, naming it, and the
    rest of its module runs (on free-threaded CPython and under wine some libraries have no build)."""

    def __init__(self, name):
        self.name = name

    def __bool__(self):
        return False

    def __getattr__(self, attr):
        import pytest

        if attr.startswith("_") or attr == "pytestmark":  # pytest looking at the module's names as it collects
            raise AttributeError(attr)
        pytest.skip(f"needs {self.name}, which is not installed")


def optional(name, needs=None):
    """The module, or Missing (named by what it needs, the module by default) where it cannot be imported."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return Missing(needs or name)


# Free-threaded CPython running without its GIL: nothing holds a GIL there, `rust` included.
NO_GIL = not getattr(sys, "_is_gil_enabled", lambda: True)()

# The rule for an element outside the table (`left`, `right`): None or
# "raise" raise, "clamp" takes the end knot's answer, "extrapolate" continues
# the end segment exactly, anything else is the fill. Results outside
# [lo, hi] are "outside the range of the result".
ROUND = {"nearest": round, "ffill": math.floor, "bfill": math.ceil}


def _beyond(rule, own, end, segment, bounds, raise_as):
    rule = own if rule is None else rule
    if rule in (None, "raise"):
        raise Outside(raise_as)
    if rule == "clamp":
        return end
    if rule != "extrapolate":
        return rule
    if segment is None:
        raise Outside("a table of one knot")
    v = segment()
    if not bounds[0] <= v <= bounds[1]:
        raise Outside("outside the range of the result")
    return v


def nearest_double(q):
    """The double nearest the rational q, ties to even, +0.0 for zero: the front end's one rounding."""
    try:
        return float(q) + 0.0
    except OverflowError:
        raise Outside("outside the range of the result") from None


def ref_forward_float(x, xp, fp, left=None, right=None):
    """The front end's float forward: the exact rational of the knots' values rounded once; a hit is
    the knot's own value, a -0.0 too."""
    if x in [int(v) for v in xp] and sorted(set(xp)) == list(xp):
        return float(fp[[int(v) for v in xp].index(x)])
    return ref_forward_int(x, xp, [Fraction(float(v)) for v in fp], left, right, -math.inf, math.inf, nearest_double)


def ref_forward_int(x, xp, fp, left=None, right=None, lo=-(2**63), hi=2**63 - 1, rounded=round):
    xp, fp = [int(v) for v in xp], [v if isinstance(v, Fraction) else int(v) for v in fp]
    if any(a >= b for a, b in zip(xp, xp[1:])):
        raise Outside("xp must be strictly increasing")
    if x in xp:
        return fp[xp.index(x)]
    if not xp:
        raise Outside("x out of bounds")
    i = next((k for k in range(len(xp)) if xp[k] > x), len(xp))
    if i in (0, len(xp)):
        j = 1 if i == 0 else len(xp) - 1
        segment = None if len(xp) < 2 else lambda: _forward(x, xp[j - 1], xp[j], fp[j - 1], fp[j], rounded)
        return _beyond(left if i == 0 else right, None, fp[0] if i == 0 else fp[-1], segment, (lo, hi),
                       "x out of bounds")
    return _forward(x, xp[i - 1], xp[i], fp[i - 1], fp[i], rounded)


def _forward(x, x0, x1, f0, f1, rounded):
    return rounded(Fraction(f0 * (x1 - x) + f1 * (x - x0), x1 - x0))  # ties to even


def ref_inverse_int(f, xp, fp, method=None, left=None, right=None, missing=None, lo=0, hi=2**64 - 1):
    try:
        return _ref_inverse_int(f, xp, fp, method, left, right, (lo, hi))
    except Outside as e:
        if str(e) == "f not found" and missing not in (None, "raise"):
            return missing
        raise


def ref_inverse_float(f, xp, fp, method=None, left=None, right=None, missing=None):
    """The front end's float inverse: the exact rational position rounded by the method."""
    return ref_inverse_int(Fraction(float(f)), xp, [Fraction(float(v)) for v in fp], method, left, right, missing)


def _ref_inverse_int(f, xp, fp, method, left, right, bounds):
    xp, fp = [int(v) for v in xp], [v if isinstance(v, Fraction) else int(v) for v in fp]
    if any(a >= b for a, b in zip(fp, fp[1:])):
        raise Outside("fp must be strictly increasing")
    if not fp:
        raise Outside("f out of bounds")
    if f in fp:
        return xp[fp.index(f)]
    i = next((k for k in range(len(fp)) if fp[k] > f), len(fp))
    if i in (0, len(fp)):
        own = "clamp" if method in ("nearest", "bfill" if i == 0 else "ffill") else "raise"
        j = 1 if i == 0 else len(fp) - 1
        segment = None if len(fp) < 2 else lambda: _inverse(f, xp[j - 1], xp[j], fp[j - 1], fp[j], method)
        return _beyond(left if i == 0 else right, own, xp[0] if i == 0 else xp[-1], segment, bounds,
                       "f out of bounds")
    return _inverse(f, xp[i - 1], xp[i], fp[i - 1], fp[i], method)


def _inverse(f, x0, x1, f0, f1, method):
    p = Fraction(x0 * (f1 - f) + x1 * (f - f0), f1 - f0)
    if method is None:
        if p.denominator != 1:
            raise Outside("f not found")
        return int(p)
    return ROUND[method](p)


class Tiled:
    """Calls with the query repeated until it is long enough to be split
    across threads (workers=4): the result must repeat the short call's
    result, and a failing element fails in the first copy, as in the short
    call."""

    LONG = 2**16

    def __init__(self, module):
        self.module = module

    def __getattr__(self, name):
        fn = getattr(self.module, name)

        def call(q, *args, **kwargs):
            if not isinstance(q, np.ndarray) or q.ndim != 1 or not 0 < len(q) < self.LONG:
                return fn(q, *args, workers=4, **kwargs)
            copies = -(-self.LONG // len(q))
            long = fn(np.tile(q, copies), *args, workers=4, **kwargs)
            short = long[: len(q)]
            assert long.tobytes() == np.tile(short, copies).tobytes()
            return short

        return call


class ViaInterpolator:
    """The four functions as a table built from xp and fp and called once:
    for arguments of the right types (the table is built before the query is
    looked at). Its knots are checked as the typed functions check theirs
    (an Interpolator checks them once, as the front end does)."""

    def __getattr__(self, name):
        import exact_interp

        def call(q, xp, fp, method=None):
            table = exact_interp.Interpolator._typed(xp, fp)
            return table.forward(q) if name.startswith("forward") else table.inverse(q, method)

        return call


def implementation(kind):
    """The four functions through one entry: the module rust, the GIL-free
    functions of exact_interp on one thread or split across threads, or an
    Interpolator."""
    import exact_interp
    import rust as module

    return {"rust": module, "native": exact_interp, "threads": Tiled(exact_interp), "Interpolator": ViaInterpolator()}[
        kind
    ]


def assert_note(impl, error, note):
    """exact_interp adds one note naming what the message leaves out; rust adds none."""
    notes = getattr(error, "__notes__", None)
    if getattr(impl, "__name__", "") == "rust":
        assert notes is None
    else:
        assert notes is not None and len(notes) == 1 and note in notes[0], notes
        assert_facts_write(error)


def assert_facts_write(error):
    """The facts an exact_interp error carries write its note again, in the typed arrays' terms, as it reads:
    the template and the elements it names agree with the text (the front end writes the same template in
    the caller's terms)."""
    template, fields = error._note_facts

    def typed(array, k, column, named, shown):
        return f"{array}[{k}{'' if column is None else f', column {column}'}] = {shown}" if named else shown

    assert template.format(*(typed(*f) for f in fields)) == error.__notes__[-1]


# A table of 1,000 knots: increasing positions with random gaps below 10^12,
# increasing integer values, and the same values over 7.
XP = np.cumsum(np.random.default_rng(5).integers(1, 10**12, 1000, dtype=np.uint64), dtype=np.uint64)
FPI = np.cumsum(np.random.default_rng(6).integers(1, 10**6, 1000)).astype(np.int64)
FPF = FPI / 7.0
