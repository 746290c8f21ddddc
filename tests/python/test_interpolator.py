"""Interpolator as an object: construction from any kinds, its checks, repr, read-only views of its
knots, pickling and copies, immutability."""

import copy
import inspect
import pickle

import numpy as np
import pytest
from helpers import FPF, FPI, XP, f64, i64, u64

import exact_interp


@pytest.mark.parametrize("columns", [None, (2,), (1, 3)])
@pytest.mark.parametrize("fp, values", [(FPI, "int64"), (FPF, "float64")])
def test_interpolator_object(fp, values, columns):
    if columns is not None:  # value columns
        fp = np.ascontiguousarray(np.stack([fp * (k + 1) for k in range(int(np.prod(columns)))], 1)
                                  .reshape((len(fp),) + columns))
    xp_in, fp_in = XP.copy(), fp.copy()
    t = exact_interp.Interpolator(xp=xp_in, fp=fp_in)
    xp_in[:] = 0  # the table holds copies
    fp_in[:] = 0
    if columns is None:
        assert repr(t) == f"<exact_interp.Interpolator: 1000 knots of {values} values, xp from {XP[0]} to " \
                          f"{XP[-1]}, fp from {fp[0].item()!r} to {fp[-1].item()!r}>"
    else:
        assert repr(t) == f"<exact_interp.Interpolator: 1000 knots of {values} values in columns of shape " \
                          f"{columns}, uint64 xp from {XP[0]} to {XP[-1]}>"
    for view, original in ((t.xp, XP), (t.fp, fp)):
        assert view.tobytes() == original.tobytes() and view.dtype == original.dtype
        assert view.shape == original.shape and not view.flags.writeable
        with pytest.raises(ValueError):
            view.flags.writeable = True
    view = t.xp
    for other in (pickle.loads(pickle.dumps(t)), copy.deepcopy(t)):
        assert type(other) is exact_interp.Interpolator and repr(other) == repr(t)
        assert other.forward(XP[::7]).tobytes() == t.forward(XP[::7]).tobytes()
    del t  # a view keeps the table's memory
    assert view.tobytes() == XP.tobytes()
    with pytest.raises(AttributeError):
        exact_interp.Interpolator(XP, fp).xp = XP  # type: ignore[misc]
    assert "2 knots" in repr(exact_interp.Interpolator(u64(1, 2), f64(0.5, 1.5)))
    assert repr(exact_interp.Interpolator(u64(7), i64(-1))) == "<exact_interp.Interpolator: 1 knot of int64 values, " \
                                                              "xp 7, fp -1>"
    assert repr(exact_interp.Interpolator(u64(), f64())) == "<exact_interp.Interpolator: 0 knots of float64 values>"


@pytest.mark.parametrize("xp", [XP, XP.astype(np.int64)], ids=["typed", "converted"])
def test_interpolator_keywords_are_keyword_only(xp):
    t = exact_interp.Interpolator(xp, FPI)
    for method, params in ((t.forward, ["self", "x"]), (t.inverse, ["self", "f", "method"])):
        signature = inspect.signature(getattr(exact_interp.Interpolator, method.__name__))
        kinds = {p.name: p.kind for p in signature.parameters.values()}
        assert list(kinds) == params + ["workers", "left", "right", "missing"]
        assert [k for k in kinds if kinds[k] is inspect.Parameter.KEYWORD_ONLY] == list(kinds)[len(params) :]
    forward = "Interpolator.forward() takes 2 positional arguments"
    inverse = "Interpolator.inverse() takes from 2 to 3 positional arguments"
    for call, takes in [
        (lambda: t.forward(xp[:2], 1), forward),
        (lambda: t.forward(xp[:2], None, 1, "clamp"), forward),
        (lambda: t.inverse(FPI[:2], None, 1), inverse),
        (lambda: t.forward(xp[:2], _end=None), forward),
    ]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == takes + "; workers, left, right and missing are keyword-only"
    assert t.forward(xp[:2], workers=1, right="clamp").tolist() == FPI[:2].tolist()
    assert t.inverse(FPI[:2], None, workers=1).tolist() == xp[:2].tolist()


def test_interpolator_arguments():
    with pytest.raises(TypeError, match="argument 'xp': float positions are not exact"):
        exact_interp.Interpolator([1.0], FPI[:1])
    with pytest.raises(TypeError, match="argument 'fp': <U1 is not a kind"):
        exact_interp.Interpolator(XP[:1], np.array(["a"]))
    with pytest.raises(TypeError, match=r"Interpolator.* missing 1 required positional argument: 'fp'"):
        exact_interp.Interpolator(XP)  # type: ignore[call-overload]
    with pytest.raises(ValueError, match=r"^xp and fp must have same length(\n|\Z)"):
        exact_interp.Interpolator(XP, FPI[:-1])
    t = exact_interp.Interpolator(XP, FPI)
    with pytest.raises(TypeError, match="argument 'f': float values cannot be compared exactly with integer values"):
        t.inverse(FPF)  # type: ignore[arg-type]
    with pytest.raises(TypeError, match="argument 'x': float positions are not exact"):
        t.forward(FPF)
    with pytest.raises(ValueError, match="xp must be strictly increasing"):
        exact_interp.Interpolator(XP[::-1], FPI)  # checked once, when the table is made
    # the inverse alone takes positions in any order
    assert exact_interp.inverse(FPI[:2], XP[::-1], FPI).tolist() == XP[::-1][:2].tolist()
    with pytest.raises(ValueError, match="fp must be strictly increasing"):
        exact_interp.Interpolator(XP, FPI[::-1]).inverse(FPI[:2])  # the inverse's own check, reported where needed
