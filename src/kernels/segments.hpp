// A segment as the run kernels take it: plain data, prepared once per run by
// the dispatching code (the float scheme's converted knots, every divisor with
// its reciprocal), so that the kernel files, each compiled for one
// instruction set, share no inline function with the rest of the core.
#pragma once

#include <cstdint>

namespace rust::kernels {

// Which of a float segment's two products are nonzero, and how they combine:
// the forward's f0·(x1 - x) (Left) and f1·(x - x0) (Right), summed where
// their signs agree, subtracted where they differ; the inverse's x0·(f1 - f)
// and x1·(f - f0), never negative. Numbered as the float schemes' terms.
enum class ForwardTerms : std::uint8_t { None, Left, Right, Sum, Difference };
enum class InverseTerms : std::uint8_t { None, Left, Right, Sum };

// The inverse's rounding to a whole position, numbered as InverseMethod (the
// kernel files include no header with inline functions of the core).
enum class Method : std::uint8_t { Exact, Nearest, Ffill, Bfill };

// A divisor normalised to 2^63 <= m, with v = floor((2^128 - 1) / m) - 2^64.
struct Reciprocal {
    std::uint64_t m, v;
};

// The float forward scheme's segment.
struct FloatForward {
    std::uint64_t x0, x1;
    std::uint64_t m0, m1;  // |f0|, |f1| as magnitudes m · 2^(e - 64)
    std::int64_t e0, e1;
    Reciprocal d;  // X1 - X0
    std::int64_t de;
    bool neg0, neg1;
    ForwardTerms terms;
    // The fast path's operands: the knot values as doubles, d = x1 - x0 as
    // the double nearest to it and the exact rest, 1 / dh and 2^-62 / dh
    // (both rounded to nearest); `fast` where both values are zero or within
    // [2^-800, 2^800] in magnitude, so that nothing the fast path computes
    // underflows or overflows.
    double f0, f1, dh, dl, inv, bound;
    bool fast;
};

// The segment of the float forward that rounds once (schemes/rounded.hpp)
// for its fast path: the knots, d = x1 - x0 as the double nearest to it and
// the exact rest, 1 / dh and the bound's factor 2^-78 / dh. Both values are
// zero or within [2^-800, 2^800] in magnitude.
struct RoundedForward {
    std::uint64_t x0, x1;
    double f0, f1, dh, dl, inv, bound;
    bool held;  // the caller found the default environment and puts the status flags back
};

// The segment of the float inverse that rounds once, for its fast path:
// x0, f0, Δ = x1 - x0 as hi + lo exactly (signed: positions may fall),
// D = f1 - f0 as Dh + Dl exactly, 1 / Dh and the bound's factor 2^-84 / Dh.
// Both values are zero or within [2^-800, 2^800] in magnitude.
struct RoundedInverse {
    std::uint64_t x0;
    double f0, delta_hi, delta_lo, dh, dl, inv, bound;
    bool exact;  // Δ and D are doubles exactly (delta_lo and dl zero)
    bool held;   // as RoundedForward's
};

// Keys gathered from many segments for the kernels that round once: key k
// lies strictly inside the segment from (x0[k], f0[k]) to (x1[k], f1[k]),
// x0[k] < x1[k] for the forward (positions may fall for the inverse).
struct RoundedKeys {
    const std::uint64_t* x0;
    const std::uint64_t* x1;
    const double* f0;
    const double* f1;
    bool held;  // as RoundedForward's
};

// The float inverse scheme's segment, for values whose differences with the
// knots are exact on a scale 2^k shared with the knots: the knots as
// integers on that scale, and which positions are nonzero.
struct FloatInverse {
    std::int64_t k;
    std::uint64_t vlo, vhi;  // f0, f1 on the scale, two's complement
    std::uint64_t m0, m1;    // X0, X1 as magnitudes
    std::int64_t e0, e1;
    Reciprocal d;  // F1 - F0
    std::int64_t de;
    InverseTerms terms;
};

// The integer schemes' segment. Both divide base·d + w·D by d, with
// w + w' = d the key's distances from the segment's ends: forward, d = x1 - x0
// and D the difference of the biased values, base the smaller one, w the
// position's distance from its knot; inverse, d = B1 - B0 and D the
// difference of the positions, base the smaller one, w the biased value's
// distance from its knot. D = q·d + rm, m = floor(rm·2^64 / d), and d <= 2^63.
struct Affine {
    std::uint64_t k0, k1;  // the segment's ends on the keys' axis (inverse: biased)
    std::uint64_t base, q, rm, m, d;
    bool rising;  // w = key - k0, else k1 - key
};

}  // namespace rust::kernels
