"""Shared helpers: array constructors and an exact reference in Fractions."""

import math
from fractions import Fraction

import numpy as np
import pytest


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


def ref_forward_int(x, xp, fp):
    xp, fp = [int(v) for v in xp], [int(v) for v in fp]
    if any(a >= b for a, b in zip(xp, xp[1:])):
        raise Outside("xp must be strictly increasing")
    if x in xp:
        return fp[xp.index(x)]
    if not xp or x < xp[0] or x > xp[-1]:
        raise Outside("x out of bounds")
    i = next(k for k in range(len(xp)) if xp[k] > x)
    x0, x1, f0, f1 = xp[i - 1], xp[i], fp[i - 1], fp[i]
    return round(Fraction(f0 * (x1 - x) + f1 * (x - x0), x1 - x0))  # ties to even


def ref_inverse_int(f, xp, fp, method=None):
    xp, fp = [int(v) for v in xp], [int(v) for v in fp]
    if any(a >= b for a, b in zip(fp, fp[1:])):
        raise Outside("fp must be strictly increasing")
    if not fp:
        raise Outside("f out of bounds")
    if f in fp:
        return xp[fp.index(f)]
    if f < fp[0]:
        if method in ("nearest", "bfill"):
            return xp[0]
        raise Outside("f out of bounds")
    if f > fp[-1]:
        if method in ("nearest", "ffill"):
            return xp[-1]
        raise Outside("f out of bounds")
    i = next(k for k in range(len(fp)) if fp[k] > f)
    x0, x1, f0, f1 = xp[i - 1], xp[i], fp[i - 1], fp[i]
    p = Fraction(x0 * (f1 - f) + x1 * (f - f0), f1 - f0)
    if method is None:
        if p.denominator != 1:
            raise Outside("f not found")
        return int(p)
    return {"nearest": round, "ffill": math.floor, "bfill": math.ceil}[method](p)


@pytest.fixture(scope="session")
def rust():
    import rust as module

    return module


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
    """The four functions as an Interpolator built from xp and fp and called
    once: for arguments of the right types (the table is built before the
    query is looked at)."""

    def __getattr__(self, name):
        import exact_interp

        def call(q, xp, fp, method=None):
            table = exact_interp.Interpolator(xp, fp)
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


@pytest.fixture(scope="session", params=["rust", "native", "threads", "Interpolator"])
def impl(request):
    """Every entry, for behaviour that all of them share."""
    return implementation(request.param)


@pytest.fixture(scope="session", params=["rust", "native"])
def functions(request):
    """Both modules' functions, for behaviour of the arguments themselves."""
    return implementation(request.param)
