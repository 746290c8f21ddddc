"""The Dask recipe: map_blocks over a chunked query with the table passed
whole gives, bit for bit, the result of one call on the whole array."""

import dask
import dask.array as da
import numpy as np
import pytest

RNG = np.random.default_rng(2024)
XP = np.cumsum(RNG.integers(1, 10**9, size=300, dtype=np.uint64), dtype=np.uint64) + np.uint64(2**62)
FPI = np.cumsum(RNG.integers(1, 10**6, size=300)).astype(np.int64) - 10**7
FPF = np.cumsum(RNG.random(300)) - 40.0


def query(name, size=50_000):
    if name.startswith("forward"):
        return RNG.integers(int(XP[0]), int(XP[-1]), size=size, dtype=np.uint64)
    if name == "inverse_int":
        return RNG.integers(int(FPI[0]), int(FPI[-1]), size=size).astype(np.int64)
    return RNG.uniform(FPF[0], FPF[-1], size=size)


CASES = [
    ("forward_int", {}, np.int64),
    ("forward_float", {}, np.float64),
    ("inverse_int", {"method": "nearest"}, np.uint64),
    ("inverse_float", {"method": "bfill"}, np.uint64),
]


@pytest.mark.parametrize("name, kwargs, dtype", CASES)
@pytest.mark.parametrize("chunks", [1, 7_777, 50_000])
def test_map_blocks_matches_one_call(rust, name, kwargs, dtype, chunks):
    fn = getattr(rust, name)
    fp = FPI if name.endswith("_int") else FPF
    q = query(name, 2_000 if chunks == 1 else 50_000)
    whole = fn(q, XP, fp, **kwargs)
    lazy = da.map_blocks(fn, da.from_array(q, chunks=chunks), XP, fp, dtype=dtype, **kwargs)
    result = lazy.compute(scheduler="threads")
    assert result.dtype == whole.dtype
    assert result.tobytes() == whole.tobytes()


def test_errors_surface_from_a_failing_chunk(rust):
    # Element 250 fails with IndexError, element 700 too; one call stops at 250.
    q = query("forward_int", 1000)
    q[250] = XP[0] - np.uint64(1)
    q[700] = XP[-1] + np.uint64(1)
    with pytest.raises(IndexError, match="x out of bounds"):
        rust.forward_int(q, XP, FPI)
    lazy = da.map_blocks(rust.forward_int, da.from_array(q, chunks=100), XP, FPI, dtype=np.int64)
    for scheduler in ("threads", "synchronous"):
        with dask.config.set(scheduler=scheduler):
            with pytest.raises(IndexError, match="x out of bounds"):
                lazy.compute()
    # chunks without a failing element compute normally
    assert lazy[:200].compute().tobytes() == rust.forward_int(q[:200], XP, FPI).tobytes()
