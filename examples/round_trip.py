"""Forward then inverse: which methods recover the input positions exactly.

Forward interpolation rounds each value to a whole number (ties to even), so
where the table is flatter than one value per position, several positions
share a value and no method can tell them apart; where it is at least as
steep, every method recovers every position. Between the two, the methods
differ in which position of a shared value they return.
"""

import numpy as np
import numpy.typing as npt

import rust

# Knots: positions 0..7 climb 3 values (flat), positions 7..10 climb 6 (steep).
xp: npt.NDArray[np.uint64] = np.array([0, 7, 10], dtype=np.uint64)
fp: npt.NDArray[np.int64] = np.array([0, 3, 9], dtype=np.int64)
x: npt.NDArray[np.uint64] = np.arange(0, 11, dtype=np.uint64)

values = rust.forward_int(x, xp, fp)
print("positions:", x.tolist())
print("values:   ", values.tolist())
for method in (None, "nearest", "ffill", "bfill"):
    back: list[int | None] = []
    for v in values:  # element by element, so that the exact method can miss one
        try:
            back.append(int(rust.inverse_int(np.array([v]), xp, fp, method)[0]))
        except KeyError:
            back.append(None)  # "f not found": the value lies at no whole position
    hits = sum(b == int(p) for b, p in zip(back, x))
    print(f"{method!s:>8}: {back}  recovers {hits} of {len(x)}")

# Float values: the inverse of a knot value is its position under every
# method, and a forward value comes back to its position where the segment
# is steep enough for the double to tell positions apart.
fpf: npt.NDArray[np.float64] = np.array([0.0, 0.25, 1.0], dtype=np.float64)
print("float knots back:", rust.inverse_float(fpf, xp, fpf).tolist())
yf = rust.forward_float(x, xp, fpf)
print("float round trip, nearest:", (rust.inverse_float(yf, xp, fpf, "nearest") == x).all())
