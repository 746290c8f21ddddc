"""Randomized properties: the integer functions against the exact Fraction
reference, and the float functions' round trips where they are exact."""

import numpy as np
import pytest
from helpers import Outside, ref_forward_int, ref_inverse_int

pytestmark = pytest.mark.hypothesis
pytest.importorskip("hypothesis", reason="the property tests need hypothesis")
from hypothesis import given  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from strategies import I64, METHOD, SETTINGS, U64, int_table, near  # noqa: E402


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
