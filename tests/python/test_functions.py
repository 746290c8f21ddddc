"""The four functions on small tables, against hand-computed answers and an
exact Fraction reference."""

import numpy as np
import pytest
from helpers import Outside, bits, f64, i64, ref_forward_float, ref_forward_int, ref_inverse_float, ref_inverse_int, u64

METHODS = [None, "nearest", "ffill", "bfill"]


def test_typical_call(impl):
    r = impl.inverse_int(i64(14, 25), u64(100, 200, 300), i64(0, 10, 20), method="ffill")
    assert r.dtype == np.uint64
    assert r.tolist() == [240, 300]


def test_nanosecond_timestamps_above_2_53_are_exact(impl):
    t0 = 1_700_000_000_000_000_000
    xp = u64(t0, t0 + 10**9)
    fp = i64(0, 1000)
    x = u64(t0 + 1, t0 + 999_999_999, t0 + 500_000_000)
    assert impl.forward_int(x, xp, fp).tolist() == [0, 1000, 500]
    back = impl.inverse_int(i64(1, 999), xp, fp)
    assert back.tolist() == [t0 + 1_000_000, t0 + 999_000_000]


@pytest.mark.parametrize(
    "x, expected",
    [(1, 0), (2, 1), (3, 2), (5, 2), (7, 4), (9, 4), (0, 0), (10, 5)],
)
def test_forward_int_ties_to_even(impl, x, expected):
    assert impl.forward_int(u64(x), u64(0, 10), i64(0, 5)).tolist() == [expected]


@pytest.mark.parametrize(
    "f, expected",
    [
        (1, [KeyError, 2, 2, 3]),
        (2, [5, 5, 5, 5]),
        (3, [KeyError, 8, 7, 8]),
        (-1, [KeyError, 0, KeyError, 0]),
        (5, [KeyError, 10, 10, KeyError]),
    ],
)
def test_inverse_int_methods(impl, f, expected):
    for method, want in zip(METHODS, expected):
        if want is KeyError:
            with pytest.raises(KeyError):
                impl.inverse_int(i64(f), u64(0, 10), i64(0, 4), method)
        else:
            assert impl.inverse_int(i64(f), u64(0, 10), i64(0, 4), method).tolist() == [want]


def test_forward_float_truncates_to_double(impl):
    r = impl.forward_float(u64(1, 3, 5, 7), u64(0, 10), f64(0.0, 1.0))
    assert bits(r) == bits([np.nextafter(0.1, 0.0), 0.3, 0.5, 0.7])
    flat = impl.forward_float(u64(1, 5), u64(0, 10**9), f64(0.3, 0.3))
    assert bits(flat) == bits([0.29999999999999993, 0.3])


def test_forward_float_knots_are_returned_bit_for_bit(impl):
    r = impl.forward_float(u64(0, 2), u64(0, 2), f64(np.nan, -0.0))
    assert np.isnan(r[0])
    assert bits(r[1:]) == bits([-0.0])


@pytest.mark.parametrize(
    "xp, fp, f, expected",
    [
        ((0, 10), (0.0, 4.0), 1.0, [KeyError, 2, 2, 3]),
        ((0, 10), (0.0, 4.0), 3.0, [KeyError, 8, 7, 8]),
        ((0, 10), (0.0, 1.0), 0.1, [KeyError, 1, 1, 2]),
        ((0, 1), (0.0, 1.0), 0.5, [KeyError, 0, 0, 1]),
        ((0, 2**64 - 1), (0.0, 1.0), 0.5, [KeyError, 2**63, 2**63 - 1, 2**63]),
        ((0, 2**64 - 1), (0.0, 1.0), 0.75, [3 * 2**62 - 1] * 4),
        ((10, 0), (0.0, 4.0), 1.0, [KeyError, 8, 7, 8]),
        ((7, 7), (0.0, 2.0), 1.0, [7, 7, 7, 7]),
        ((0, 10), (0.0, 1.0), np.inf, [KeyError, 10, 10, KeyError]),
        ((0, 10), (0.0, 1.0), -0.0, [0, 0, 0, 0]),
    ],
)
def test_inverse_float_methods(impl, xp, fp, f, expected):
    for method, want in zip(METHODS, expected):
        if want is KeyError:
            with pytest.raises(KeyError):
                impl.inverse_float(f64(f), u64(*xp), f64(*fp), method)
        else:
            assert impl.inverse_float(f64(f), u64(*xp), f64(*fp), method).tolist() == [want]


TABLES = [
    ((100, 200, 300), (0, 10, 20)),
    ((0, 2**64 - 1), (-(2**63), 2**63 - 1)),
    ((0, 2**64 - 1), (2**63 - 1, -(2**63))),
    ((1, 2**63, 2**64 - 1), (-5, 0, 5)),
    ((300, 100), (0, 10)),
    ((5, 5), (0, 10)),
    ((0, 3, 10, 11), (7, 7, -3, 2)),
    ((42,), (7,)),
    ((), ()),
]


def queries(values, lo, hi):
    out = set()
    for v in values:
        out.update({v - 1, v, v + 1})
    if values:
        out.update({(values[0] + values[-1]) // 2, (values[0] * 3 + values[-1]) // 4})
    return sorted(q for q in out if lo <= q <= hi) or [lo]


@pytest.mark.parametrize("xp, fp", TABLES)
def test_forward_int_against_fractions(impl, xp, fp):
    for x in queries(list(xp), 0, 2**64 - 1):
        try:
            expected = ref_forward_int(x, xp, fp)
        except Outside as e:
            exc = ValueError if "increasing" in str(e) else IndexError
            with pytest.raises(exc, match=str(e)):
                impl.forward_int(u64(x), u64(*xp), i64(*fp))
        else:
            assert impl.forward_int(u64(x), u64(*xp), i64(*fp)).tolist() == [expected], x


@pytest.mark.parametrize("xp, fp", TABLES)
@pytest.mark.parametrize("method", METHODS)
def test_inverse_int_against_fractions(impl, xp, fp, method):
    for f in queries(list(fp), -(2**63), 2**63 - 1):
        try:
            expected = ref_inverse_int(f, xp, fp, method)
        except Outside as e:
            exc = ValueError if "increasing" in str(e) else KeyError
            with pytest.raises(exc, match=str(e)):
                impl.inverse_int(i64(f), u64(*xp), i64(*fp), method)
        else:
            assert impl.inverse_int(i64(f), u64(*xp), i64(*fp), method).tolist() == [expected], f


def test_many_elements_are_evaluated_in_order(impl):
    xp = u64(*range(0, 1000, 10))
    fp = i64(*range(0, 100))
    x = np.arange(0, 991, dtype=np.uint64)
    expected = [ref_forward_int(int(v), xp, fp) for v in x]
    assert impl.forward_int(x, xp, fp).tolist() == expected


def test_readme_example(impl):
    t0 = 1_733_600_000_000_000_000
    xp = u64(t0, t0 + 1_000_000_000)
    fp = i64(0, 1_000_000_000)
    x = u64(t0 + 1, t0 + 255, t0 + 777_777_777)
    assert impl.forward_int(x, xp, fp).tolist() == [1, 255, 777_777_777]
    assert impl.inverse_int(i64(1, 255), xp, fp).tolist() == [t0 + 1, t0 + 255]
    assert np.interp(x.astype(float), xp.astype(float), fp.astype(float)).tolist() == [0.0, 256.0, 777777664.0]


def test_datetime64_timestamps_through_uint64_views(impl):
    clock = np.array(["2026-12-08T03:00:00", "2026-12-08T03:00:10"], dtype="datetime64[ns]")
    samples = i64(0, 480_000)
    t = np.array(["2026-12-08T03:00:00.000000001", "2026-12-08T03:00:01"], dtype="datetime64[ns]")
    counts = impl.forward_int(t.view(np.uint64), clock.view(np.uint64), samples)
    assert counts.tolist() == [0, 48_000]
    back = impl.inverse_int(counts, clock.view(np.uint64), samples, "ffill").view("datetime64[ns]")
    assert back.tolist() == np.array(["2026-12-08T03:00:00", "2026-12-08T03:00:01"], dtype="datetime64[ns]").tolist()


def test_every_kernel_target_gives_the_same_bits():
    """exact_interp's kernels forced onto each target this build and processor run (the float
    forward's fast path in doubles among them) give rust's bits, on sorted runs of every length;
    the front end's float answers, rounded once, are the exact rationals rounded on every target,
    on sorted runs and on keys in random order (answered a block at a time, each in its own
    segment)."""
    import exact_interp
    import rust
    from exact_interp import _native

    rng = np.random.default_rng(7)
    xp = np.sort(rng.choice(2**62, 40, replace=False).astype(np.uint64)) + np.uint64(2**62)
    fpf = np.cumsum(rng.standard_normal(40) * 10.0 ** rng.integers(-30, 30, 40))
    fpi = np.cumsum(rng.integers(-(2**40), 2**40, 40))
    x = np.sort(rng.integers(int(xp[0]), int(xp[-1]), 20_000, dtype=np.uint64))
    want = [rust.forward_float(x, xp, fpf), rust.forward_int(x, xp, fpi)]
    increasing = (np.cumsum(1.0 + rng.uniform(0, 10.0 ** rng.integers(-3, 9), 40)),
                  np.cumsum(1 + rng.integers(0, 2**40, 40)))
    ff, fi = np.sort(rng.uniform(increasing[0][0], increasing[0][-1], 5_000)), np.sort(
        rng.integers(increasing[1][0], increasing[1][-1], 5_000))
    want += [rust.inverse_float(ff, xp, increasing[0], "nearest"), rust.inverse_int(fi, xp, increasing[1], "bfill")]
    # the front end's: sorted and shuffled keys, a sample of each checked against Fractions
    order, values = rng.permutation(len(x)), rng.permutation(len(ff))
    rounded = [(exact_interp.forward, (x, xp, fpf)), (exact_interp.forward, (x[order], xp, fpf)),
               (exact_interp.inverse, (ff, xp, increasing[0], "nearest")),
               (exact_interp.inverse, (ff[values], xp, increasing[0], "ffill"))]
    once = None
    ran = []
    try:
        for target in ("scalar", "avx2", "avx512", "neon"):
            try:
                _native._force_kernel_target(target)
            except ValueError:
                continue
            ran.append(target)
            got = [exact_interp.forward_float(x, xp, fpf), exact_interp.forward_int(x, xp, fpi),
                   exact_interp.inverse_float(ff, xp, increasing[0], "nearest"),
                   exact_interp.inverse_int(fi, xp, increasing[1], "bfill")]
            assert [g.view(np.uint64).tolist() for g in got] == [w.view(np.uint64).tolist() for w in want], target
            answers = [fn(*args, workers=1).view(np.uint64).tolist() for fn, args in rounded]
            once = answers if once is None else once
            assert answers == once, target
    finally:
        _native._force_kernel_target(None)
    assert ran[0] == "scalar", ran
    for (fn, args), got in zip(rounded, once):
        for k in rng.choice(len(got), 300, replace=False):
            if fn is exact_interp.forward:
                assert got[k] == np.float64(ref_forward_float(int(args[0][k]), xp, fpf)).view(np.uint64), k
            else:
                assert got[k] == ref_inverse_float(args[0][k], xp, args[2], args[3]), k
    with pytest.raises(ValueError, match="kernel target 'avx9' is not one"):
        _native._force_kernel_target("avx9")


def test_inf_knots_answer_without_the_scheme(impl):
    assert impl.forward_float(u64(0, 2), u64(0, 2), f64(0.0, np.inf)).tolist() == [0.0, np.inf]
    assert impl.inverse_float(f64(np.inf, -np.inf), u64(0, 1), f64(0.0, 1.0), "nearest").tolist() == [1, 0]
    with pytest.raises(KeyError, match="f out of bounds"):
        impl.inverse_float(f64(np.nan), u64(), f64())
