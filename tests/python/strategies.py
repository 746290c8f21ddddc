"""Hypothesis strategies the property suites share: 64-bit integers dense at their edges,
integer tables, and queries on, beside and between the knots. Imported only where hypothesis
is installed."""

import os

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st


def examples(n):
    """n examples, or the share of them RUST_HYPOTHESIS_SCALE asks for: CI runs every property in full on
    some interpreters and with a quarter of the examples on the others."""
    return max(10, round(n * float(os.environ.get("RUST_HYPOTHESIS_SCALE", "1"))))


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
SETTINGS = settings(max_examples=examples(300), deadline=None, suppress_health_check=[HealthCheck.too_slow])


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
