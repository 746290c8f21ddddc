"""Randomized properties: the integer functions against the exact Fraction
reference, and the float functions' round trips where they are exact."""

import numpy as np
import pytest
from conftest import Outside, ref_forward_int, ref_inverse_int
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

U64 = st.one_of(
    st.integers(0, 2**64 - 1),
    st.integers(0, 1000),
    st.integers(2**63 - 1000, 2**63 + 1000),
    st.integers(2**64 - 1000, 2**64 - 1),
)
I64 = st.one_of(
    st.integers(-(2**63), 2**63 - 1),
    st.integers(-1000, 1000),
    st.integers(-(2**63), -(2**63) + 1000),
    st.integers(2**63 - 1000, 2**63 - 1),
)
METHOD = st.sampled_from([None, "nearest", "ffill", "bfill"])
SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@st.composite
def int_table(draw, sort_x=True, sort_f=False):
    xp = draw(st.lists(U64, max_size=12, unique=True))
    fp = draw(st.lists(I64, min_size=len(xp), max_size=len(xp), unique=draw(st.booleans())))
    if sort_x and draw(st.integers(0, 9)) > 0:
        xp.sort()
    if sort_f and draw(st.integers(0, 9)) > 0:
        fp.sort()
    return xp, fp


def near(values, base, lo, hi):
    """Queries on, beside and between the knots."""
    choices = [st.just(v + d) for v in values for d in (-1, 0, 1) if lo <= v + d <= hi]
    return st.one_of(base, *choices) if choices else base


@SETTINGS
@given(data=st.data())
def test_forward_int_matches_fractions(impl, data):
    xp, fp = data.draw(int_table())
    xs = data.draw(st.lists(near(xp, U64, 0, 2**64 - 1), min_size=1, max_size=8))
    args = (np.array(xp, np.uint64), np.array(fp, np.int64))
    expected = []
    for x in xs:
        try:
            expected.append(ref_forward_int(x, *args))
        except Outside as e:
            exc = ValueError if "increasing" in str(e) else IndexError
            with pytest.raises(exc, match=str(e)):
                impl.forward_int(np.array(xs, np.uint64), *args)
            return
    assert impl.forward_int(np.array(xs, np.uint64), *args).tolist() == expected


@SETTINGS
@given(data=st.data())
def test_inverse_int_matches_fractions(impl, data):
    xp, fp = data.draw(int_table(sort_x=False, sort_f=True))
    method = data.draw(METHOD)
    fs = data.draw(st.lists(near(fp, I64, -(2**63), 2**63 - 1), min_size=1, max_size=8))
    args = (np.array(xp, np.uint64), np.array(fp, np.int64))
    expected = []
    for f in fs:
        try:
            expected.append(ref_inverse_int(f, *args, method))
        except Outside as e:
            exc = ValueError if "increasing" in str(e) else KeyError
            with pytest.raises(exc, match=str(e)):
                impl.inverse_int(np.array(fs, np.int64), *args, method)
            return
    assert impl.inverse_int(np.array(fs, np.int64), *args, method).tolist() == expected


@SETTINGS
@given(
    xp=st.lists(st.integers(0, 2**31), min_size=2, max_size=10, unique=True).map(sorted),
    data=st.data(),
)
def test_float_round_trip_on_integer_valued_tables(impl, xp, data):
    # fp[k] = xp[k] - xp[0]: slope one. Below 2^31 every product of a value
    # and a distance fits 64 bits, so forward gives x - xp[0] exactly and the
    # inverse under every method recovers x.
    xpa = np.array(xp, np.uint64)
    fp = np.array([v - xp[0] for v in xp], np.float64)
    xs = data.draw(st.lists(st.integers(xp[0], xp[-1]), min_size=1, max_size=10))
    xa = np.array(xs, np.uint64)
    values = impl.forward_float(xa, xpa, fp)
    assert values.tolist() == [float(x - xp[0]) for x in xs]
    for method in (None, "nearest", "ffill", "bfill"):
        assert impl.inverse_float(values, xpa, fp, method).tolist() == xs


@SETTINGS
@given(
    xp=st.lists(st.integers(0, 2**64 - 1), min_size=2, max_size=10, unique=True).map(sorted),
    data=st.data(),
)
def test_float_inverse_then_forward_hits_the_knots(impl, xp, data):
    fp = sorted(data.draw(st.lists(st.floats(-1e300, 1e300), min_size=len(xp), max_size=len(xp), unique=True)))
    if len(set(fp)) != len(fp):
        return
    xpa, fpa = np.array(xp, np.uint64), np.array(fp, np.float64)
    # every knot value maps to its position and back, bit for bit
    positions = impl.inverse_float(fpa, xpa, fpa)
    assert positions.tolist() == xp
    assert impl.forward_float(positions, xpa, fpa).view(np.uint64).tolist() == fpa.view(np.uint64).tolist()
