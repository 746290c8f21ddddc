// The F80 magnitude arithmetic lane by lane: each function is the scalar
// operation of extended.hpp with its branches turned into selections, so
// every lane gets the bits the scalar operation gives. Operands are finite
// and nonzero (normalised significands), as in the float scheme.
#pragma once

#include "kernels/lanes.hpp"

namespace rust::kernels::RUST_KERNEL_NS {

struct Mags {
    U m;  // 2^63 <= m < 2^64
    I e;  // value m · 2^(e - 64)
};

constexpr std::uint64_t kHalf = std::uint64_t{1} << 63;

// The one rounding step, to nearest with ties to even; all ones rounded up
// is 2^64, significand 2^63 with the exponent one higher.
RUST_LANES_INLINE Mags round(I e, U sig, U extra) {
    const U r = select((extra | (sig & 1)) > splat(kHalf), sig + 1, sig);
    const M wrapped = equal(r, U{});
    return {select(wrapped, splat(kHalf), r), select(wrapped, e + 1, e)};
}

// An integer n != 0, exactly.
RUST_LANES_INLINE Mags magnitude(U n) {
    const U lz = countl_zero(n);
    return {n << lz, as_signed(splat(64) - lz)};
}

// a·b rounded, b the same in every lane.
// Narrow: a's significand has its low 32 bits zero (an integer below 2^32,
// normalised), so two of the four partial products vanish.
template <bool Narrow = false>
RUST_LANES_INLINE Mags mul(Mags a, U bm, std::int64_t be) {
    U hi, lo;
    if constexpr (Narrow) {
        const U a1 = a.m >> 32, p10 = mul32(a1, bm);
        hi = mul32(a1, bm >> 32) + (p10 >> 32);
        lo = p10 << 32;
    } else {
        mul_wide(a.m, bm, hi, lo);
    }
    const U below = (hi >> 63) ^ 1;  // 1 where the product is below 2^127
    hi = (hi << below) | ((lo >> 63) & below);
    lo <<= below;
    return round(a.e + be - as_signed(below), hi, lo);
}

// (hi, lo) = m·2^64 shifted right by count >= 0, the bits shifted out of lo
// jammed into its lowest bit. Counts of 128 and more act as 127: m's top bit
// set, both leave lo = 1 and hi = 0.
RUST_LANES_INLINE void shift_right_jam(U m, U count, U& hi, U& lo) {
    const U c = select(less(count, splat(128)), count, splat(127));
    const M narrow = less(c, splat(64));
    const U s = c & 63;  // the count, or the count beyond 64
    // below 64: hi = m >> s, lo = m << (64 - s) (0 for s = 0)
    // from 64:  hi = 0, lo = m >> s with the bits below jammed
    const U out = (m << 1) << (63 - s);
    hi = select(narrow, m >> s, U{});
    lo = select(narrow, out, (m >> s) | bit(nonzero(out)));
}

// a and b exchanged where swap is set.
RUST_LANES_INLINE void order(M swap, Mags& a, Mags& b) {
    const Mags x = a;
    a = {select(swap, b.m, a.m), select(swap, b.e, a.e)};
    b = {select(swap, x.m, b.m), select(swap, x.e, b.e)};
}

// a + b rounded.
RUST_LANES_INLINE Mags add(Mags a, Mags b) {
    order(less(a.e, b.e), a, b);
    U bhi, blo;
    shift_right_jam(b.m, as_unsigned(a.e - b.e), bhi, blo);
    const U sum = a.m + bhi;
    const U carry = bit(less(sum, a.m));  // the sum reached 2^64: shift it right once
    const U extra = (blo >> carry) | (blo & carry) | ((sum & carry) << 63);
    const U sig = (sum >> carry) | (carry << 63);
    return round(a.e + as_signed(carry), sig, extra);
}

// |a - b| rounded; swapped where b is the larger, zero where they are equal
// (value unspecified there).
struct Differences {
    Mags value;
    M swapped, zero;
};
RUST_LANES_INLINE Differences sub(Mags a, Mags b) {
    const M swap = less(a.e, b.e) | ((a.e == b.e) & less(a.m, b.m));
    order(swap, a, b);
    const M zero = (a.e == b.e) & equal(a.m, b.m);
    U bhi, blo;
    shift_right_jam(b.m, as_unsigned(a.e - b.e), bhi, blo);
    const U lo = U{} - blo;
    const U hi = a.m - bhi - bit(nonzero(blo));
    // Normalised from the high word, or (cancellation below it, exact) from the low.
    const M high = nonzero(hi);
    const U top = select(high, hi, lo);
    const U lz = countl_zero(top) & 63;
    const U sig = select(high, (hi << lz) | ((lo >> 1) >> (63 - lz)), lo << lz);
    const U rest = select(high, lo << lz, U{});
    const U shift = select(high, lz, lz + 64);
    return {round(a.e - as_signed(shift), sig, rest), swap, zero};
}

// A divisor, the same in every lane, with the reciprocal of its normalised
// significand: v = floor((2^128 - 1) / m) - 2^64.
struct Divisor {
    std::uint64_t m, v;
    std::int64_t e;
};

// (hi·2^64 + lo) / d for hi < d, d normalised: quotient and remainder, by the
// prepared reciprocal (the estimate, then at most one correction each way).
RUST_LANES_INLINE void div_normalised(U hi, U lo, std::uint64_t d, std::uint64_t v, U& q, U& r) {
    U phi, plo;
    mul_wide(hi, splat(v), phi, plo);
    const U sum_lo = plo + lo;
    const U sum_hi = phi + hi + bit(less(sum_lo, plo));
    q = sum_hi + 1;
    r = lo - mul_low(q, splat(d));
    const M over = less(sum_lo, r);  // the estimate was one too large
    q = select(over, q - 1, q);
    r = select(over, r + d, r);
    const M under = ~less(r, splat(d));  // rarely: one too small
    q = select(under, q + 1, q);
    r = select(under, r - d, r);
}

// a / d rounded.
RUST_LANES_INLINE Mags div(Mags a, const Divisor& d) {
    const M ge = ~less(a.m, splat(d.m));
    const U hi = select(ge, a.m >> 1, a.m), lo = select(ge, a.m << 63, U{});
    U q, r;
    div_normalised(hi, lo, d.m, d.v, q, r);
    const U rest = splat(d.m) - r;
    const U extra = select(less(r, rest), U{}, splat(kHalf)) | bit(~equal(r, rest));
    return round(select(ge, a.e - d.e + 1, a.e - d.e), q, extra);
}

// The double nearest to zero of ±m · 2^(e - 64): normal, subnormal, +0.0
// below 2^-1074, infinity from 2^1024 up. sign holds the sign bit.
RUST_LANES_INLINE U truncated(U sign, Mags v) {
    const I e = v.e;
    const U normal = sign | (as_unsigned(e + 1022) << 52) | ((v.m >> 11) & ((std::uint64_t{1} << 52) - 1));
    const U shift = as_unsigned(splat_signed(-1010) - e) & 63;
    const U subnormal = sign | (v.m >> shift);
    U bits = select(e >= 1025, sign | 0x7FF0000000000000, normal);
    bits = select(e < -1021, subnormal, bits);
    return select(e < -1073, U{}, bits);
}

}  // namespace rust::kernels::RUST_KERNEL_NS
