// F80: a binary floating-point number with a 64-bit significand, every
// operation rounded once to nearest, ties to even. Portable software
// arithmetic on 64-bit words and their 128-bit products: no host
// floating point, so results never depend on the processor or its modes.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <utility>

#include "base/base.hpp"
#include "base/platform.hpp"

namespace rust::extended {

// A finite nonzero magnitude m · 2^(e - 64) with 2^63 <= m < 2^64, so
// 2^(e-1) <= v < 2^e: what the arithmetic below works on. F80 adds the sign,
// zero and the special kinds around these operations; the float scheme calls
// them directly where its operands are known to be finite and nonzero with
// known signs. The exponent is 64-bit: the operations never check its range,
// F80 does when it packs a result.
struct Magnitude {
    u64 m;
    i64 e;
};

// The round/sticky word. An exact result in the making is a significand `sig`
// (top bit set) followed by a 64-bit word `extra` of the bits below it: the top
// bit of `extra` weighs one half unit in the last place (the round bit) and any
// other set bit means "something nonzero below the round bit" (sticky). Where
// bits are shifted out of `extra` they are OR-ed ("jammed") into its lowest
// bit, which keeps the word's relation to one half exact.
//
// The one rounding step, to nearest with ties to even. All ones rounded up is
// 2^64: significand 2^63, exponent one higher.
constexpr Magnitude round(i64 e, u64 sig, u64 extra) {
    assert((sig >> 63) != 0);
    constexpr u64 half = u64{1} << 63;
    // Up above one half, and at one half when sig is odd: OR-ing sig's lowest
    // bit into extra's lowest turns exactly that tie into "above" and moves
    // nothing else across one half (below it, extra's lowest bit is free).
    const u64 up = static_cast<u64>((extra | (sig & 1)) > half);
    const u64 r = sig + up;
    if (r == 0) [[unlikely]]  // all ones rounded up
        return {half, e + 1};
    return {r, e};
}

// n != 0, exactly.
inline Magnitude magnitude(u64 n) {
    assert(n != 0);
    const int lz = platform::countl_zero_nonzero(n);
    return {n << lz, 64 - lz};
}

// d · 2^k for d != 0, exactly.
inline Magnitude magnitude_scaled(u64 d, i64 k) {
    const Magnitude v = magnitude(d);
    return {v.m, v.e + k};
}

// The sign, exponent field and fraction field of a double.
struct DoubleFields {
    bool neg;
    unsigned field;
    u64 frac;
};
constexpr DoubleFields fields(f64 value) {
    const u64 bits = std::bit_cast<u64>(value);
    return {(bits >> 63) != 0, static_cast<unsigned>(bits >> 52) & 0x7FF, bits & ((u64{1} << 52) - 1)};
}

// A non-finite double (exponent field all ones) is fatal.
inline void check_finite(DoubleFields d) {
    if (d.field == 0x7FF) [[unlikely]]
        panic("assertion failed: value.is_finite()");
}

// A finite nonzero double's magnitude, exactly (subnormals included).
constexpr Magnitude magnitude(DoubleFields d) {
    if (d.field != 0) [[likely]]
        return {(u64{1} << 63) | (d.frac << 11), static_cast<i64>(d.field) - 1022};
    const int k = 63 - std::countl_zero(d.frac);  // highest set bit, 0 … 51
    return {d.frac << (63 - k), k - 1073};
}

// (hi, lo) = m·2^64 shifted right by count, the bits shifted out of lo
// jammed into its lowest bit. Any count is allowed.
constexpr void shift_right_jam(u64 m, u64 count, u64& hi, u64& lo) {
    if (count < 64) [[likely]] {  // (m << 1) << (63 - count) is m << (64 - count), and 0 for count 0
        hi = m >> count;
        lo = (m << 1) << (63 - count);
    } else if (count == 64) {
        hi = 0;
        lo = m;
    } else if (count < 128) {
        hi = 0;
        lo = (m >> (count - 64)) | ((m << (128 - count)) != 0 ? 1 : 0);
    } else {
        hi = 0;
        lo = 1;  // m is nonzero
    }
}

// a and b exchanged when swap, with masks rather than a branch: the order
// depends on the data, and a branch on it is mispredicted half the time
// (compilers turn a selection of whole pairs into one).
constexpr void order(bool swap, Magnitude& a, Magnitude& b) {
    const u64 mask = u64{0} - static_cast<u64>(swap);
    const u64 dm = (a.m ^ b.m) & mask;
    const u64 de = (static_cast<u64>(a.e) ^ static_cast<u64>(b.e)) & mask;
    a = {a.m ^ dm, static_cast<i64>(static_cast<u64>(a.e) ^ de)};
    b = {b.m ^ dm, static_cast<i64>(static_cast<u64>(b.e) ^ de)};
}

// a·b rounded. 2^126 <= ma·mb < 2^128: at most one normalising shift, no bit lost.
constexpr Magnitude mul(Magnitude a, Magnitude b) {
    const u128 p = wide::mul(a.m, b.m);
    u64 hi = wide::high(p), lo = wide::low(p);
    const unsigned below = static_cast<unsigned>(hi >> 63) ^ 1;  // 1 when p < 2^127
    hi = (hi << below) | ((lo >> 63) & below);
    lo <<= below;
    return round(a.e + b.e - below, hi, lo);
}

// a + b rounded.
constexpr Magnitude add(Magnitude a, Magnitude b) {
    order(a.e < b.e, a, b);
    u64 bhi, blo;
    shift_right_jam(b.m, static_cast<u64>(a.e - b.e), bhi, blo);
    const u64 sum = a.m + bhi;
    // A carry (the sum is in [2^64, 2^65)) shifts the sum right once, its
    // lowest bit into the round bit; without a branch, since carries come and
    // go with the data.
    const u64 carry = static_cast<u64>(sum < a.m);
    const u64 extra = (blo >> carry) | (blo & carry) | ((sum & carry) << 63);
    const u64 sig = (sum >> carry) | (carry << 63);
    return round(a.e + static_cast<i64>(carry), sig, extra);
}

// |a - b| rounded; `swapped` when b is the larger, `zero` when they are equal
// (then `value` is unspecified). With an exponent gap of at most 1 the
// difference is exact in 128 bits however far it cancels; with a gap of 2 or
// more it exceeds 2^126, so normalising shifts it left at most once and the
// jammed bit stays far below the round bit.
struct Difference {
    Magnitude value;
    bool swapped;
    bool zero;
};
constexpr Difference sub(Magnitude a, Magnitude b) {
    const bool swap = (a.e < b.e) | ((a.e == b.e) & (a.m < b.m));
    order(swap, a, b);
    if ((a.e == b.e) & (a.m == b.m)) return {{}, swap, true};
    u64 bhi, blo;
    shift_right_jam(b.m, static_cast<u64>(a.e - b.e), bhi, blo);
    // (hi, lo) = (ma, 0) - (bhi, blo), nonzero
    u64 lo = u64{0} - blo;
    u64 hi = a.m - bhi - (blo != 0 ? 1 : 0);
    int shift;
    if (hi != 0) [[likely]] {
        shift = std::countl_zero(hi);  // 0 … 63; (lo >> 1) >> (63 - shift) is lo >> (64 - shift), 0 for 0
        hi = (hi << shift) | ((lo >> 1) >> (63 - shift));
        lo <<= shift;
    } else {  // cancellation below the high word: exact, no round bits
        const int lz = std::countl_zero(lo);
        shift = 64 + lz;
        hi = lo << lz;
        lo = 0;
    }
    return {round(a.e - shift, hi, lo), swap, false};
}

// a / b rounded. ma/mb lies in (1/2, 2). Numerator ma·2^64 when ma < mb, else
// ma·2^63: its high word is below mb either way, so the quotient q has exactly
// 64 bits (2^63 <= q < 2^64) and the remainder r < mb decides the rest.
inline Magnitude div(Magnitude a, Magnitude b) {
    const unsigned ge = a.m >= b.m ? 1 : 0;
    const u64 hi = a.m >> ge, lo = (a.m << 63) & (u64{0} - ge);
    const wide::QuotRem64 qr = wide::div(hi, lo, b.m);
    // r/mb against one half, exactly, by comparing r with mb - r: the round
    // bit is r >= mb - r, the sticky bit r != mb - r (below one half the
    // sticky bit decides nothing, so it may stand for r = 0 too).
    const u64 r = qr.r, rest = b.m - r;
    const u64 extra = (static_cast<u64>(r >= rest) << 63) | static_cast<u64>(r != rest);
    return round(a.e - b.e + ge, qr.q, extra);
}

// The double nearest to zero of (-1)^neg · m · 2^(e - 64) and its
// neighbours: normal, subnormal, +0.0 below 2^-1074 whatever the sign, signed
// infinity from 2^1024 up. E is the exponent's type: F80's own 32 bits, or a
// magnitude's 64 (each compiles best in its own width).
template <class E>
constexpr f64 truncated(bool neg, u64 m, E e) {
    const u64 sign = u64{neg} << 63;
    u64 bits;
    if (e >= 1025) {
        bits = sign | 0x7FF0000000000000;
    } else if (e >= -1021) {
        bits = sign | (static_cast<u64>(e + 1022) << 52) | ((m >> 11) & ((u64{1} << 52) - 1));
    } else if (e >= -1073) {
        bits = sign | (m >> (-1010 - e));  // a shift of 12 … 63
    } else {
        bits = 0;
    }
    return std::bit_cast<f64>(bits);
}
constexpr f64 truncated(bool neg, Magnitude v) { return truncated(neg, v.m, v.e); }

// v truncated toward zero to a u64, clamped at 2^64 - 1.
constexpr u64 truncated_u64(Magnitude v) {
    if (v.e <= 0) return 0;
    if (v.e >= 65) return ~u64{0};
    return v.m >> (64 - v.e);
}

// The integer neighbours of (-1)^neg · v, exact, for e < 64 (from 2^63 up
// every number is an integer). Below 1 in magnitude: floor gives 0 or -1,
// ceil 1 or 0, round 0 up to one half inclusive and ±1 above; halves round to
// even. `whole` is the magnitude of that integer: v's integer part, plus one
// when the direction moves away from zero.
enum class ToInteger : std::uint8_t { Floor, Ceil, Round };
struct Whole {
    u64 whole;        // below 2^63 + 1
    bool fractional;  // v was not an integer
};
constexpr Whole whole(bool neg, Magnitude v, ToInteger dir) {
    assert(v.e < 64);
    constexpr u64 half = u64{1} << 63;
    const bool up_if_fraction = dir == ToInteger::Floor ? neg : !neg;  // away from zero
    if (v.e <= 0) {
        const bool away = dir == ToInteger::Round ? v.e == 0 && v.m != half : up_if_fraction;
        return {static_cast<u64>(away), true};
    }
    // The integer part, and the fraction with its first bit on top (0 when
    // there is none): above one half rounds away, and at one half when the
    // integer part is odd (OR-ing its lowest bit in turns exactly that tie
    // into "above", as the arithmetic's rounding step does).
    const unsigned e = static_cast<unsigned>(v.e);  // 1 … 63
    const u64 part = v.m >> (64 - e), fraction = v.m << e;
    const bool away = dir == ToInteger::Round ? (fraction | (part & 1)) > half : up_if_fraction & (fraction != 0);
    return {part + static_cast<u64>(away), fraction != 0};
}

// Representation of F80: a finite nonzero value is a sign and a Magnitude
// whose exponent fits 32 bits. There is one zero, unsigned. Infinity (signed)
// and NaN exist only as results of division by zero and of arithmetic on them.
class F80 {
public:
    enum class Kind : std::uint8_t { Finite = 0, Zero = 1, Inf = 2, NaN = 3 };

    constexpr F80() = default;  // zero

    static constexpr F80 from_u64(u64 n) {
        if (n == 0) return F80();
        const int lz = std::countl_zero(n);
        return F80(false, 64 - lz, n << lz);
    }

    // Exact. A non-finite value is fatal: "assertion failed: value.is_finite()".
    static F80 from_f64(f64 value) {
        const DoubleFields d = fields(value);
        check_finite(d);
        if ((d.field | d.frac) == 0) return F80();
        const Magnitude v = extended::magnitude(d);
        return F80(d.neg, static_cast<std::int32_t>(v.e), v.m);
    }

    // Any state, for tests and for the shared exits of the operations.
    static constexpr F80 finite(bool neg, std::int32_t e, u64 m) {
        assert((m >> 63) != 0);
        return F80(neg, e, m);
    }
    static constexpr F80 infinity(bool neg) { return special(Kind::Inf, neg); }
    static constexpr F80 nan() { return special(Kind::NaN, false); }

    constexpr Kind kind() const { return kind_; }
    constexpr bool is_zero() const { return kind_ == Kind::Zero; }
    constexpr bool negative() const { return neg_; }
    constexpr std::int32_t exponent() const { return e_; }
    constexpr u64 significand() const { return m_; }
    constexpr Magnitude magnitude() const { return {m_, e_}; }  // of a finite nonzero number

    // A sign and a magnitude; an exponent beyond the 32-bit range (never
    // reached by the system's values) saturates to infinity or zero.
    static constexpr F80 pack(bool neg, Magnitude v) {
        if (static_cast<u64>(v.e - INT32_MIN) > UINT32_MAX) [[unlikely]]
            return v.e > 0 ? infinity(neg) : F80();
        return F80(neg, static_cast<std::int32_t>(v.e), v.m);
    }

    constexpr F80 operator-() const {
        F80 r = *this;
        if (kind_ == Kind::Finite || kind_ == Kind::Inf) r.neg_ = !neg_;
        return r;
    }

    friend F80 operator+(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return add_special(a, b);
        return a.neg_ == b.neg_ ? pack(a.neg_, add(a.magnitude(), b.magnitude())) : difference(a, b);
    }
    friend F80 operator-(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return add_special(a, -b);
        return a.neg_ != b.neg_ ? pack(a.neg_, add(a.magnitude(), b.magnitude())) : difference(a, b);
    }
    friend F80 operator*(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return mul_special(a, b);
        return pack(a.neg_ != b.neg_, mul(a.magnitude(), b.magnitude()));
    }
    friend F80 operator/(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return div_special(a, b);
        return pack(a.neg_ != b.neg_, div(a.magnitude(), b.magnitude()));
    }

    // Equality of values: zeros are equal, NaN equals nothing, infinities of
    // one sign are equal.
    friend constexpr bool operator==(F80 a, F80 b) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case Kind::Zero: return true;
            case Kind::NaN: return false;
            case Kind::Inf: return a.neg_ == b.neg_;
            case Kind::Finite: break;
        }
        return a.neg_ == b.neg_ && a.e_ == b.e_ && a.m_ == b.m_;
    }

    // Exact integer neighbours. Below 1 in magnitude: floor gives 0 or -1,
    // ceil 1 or 0, round 0 up to one half inclusive and ±1 above. From 2^63 up
    // (e >= 64) every number is an integer and comes back unchanged.
    constexpr F80 floor() const { return to_integer(ToInteger::Floor); }
    constexpr F80 ceil() const { return to_integer(ToInteger::Ceil); }
    constexpr F80 round() const { return to_integer(ToInteger::Round); }

    // Truncation toward zero to a double: normal, subnormal, +0.0 below
    // 2^-1074 whatever the sign, signed infinity from 2^1024 up. Infinity and
    // NaN are fatal.
    f64 to_f64() const {
        if (kind_ == Kind::Zero) return 0.0;
        if (kind_ != Kind::Finite) [[unlikely]]
            panic_non_finite();
        return truncated(neg_, m_, e_);
    }

    // Truncation toward zero, clamped to 0 … 2^64 - 1. Infinity and NaN are
    // fatal, tested before the sign.
    u64 to_u64() const {
        if (kind_ == Kind::Zero) return 0;
        if (kind_ != Kind::Finite) [[unlikely]]
            panic_non_finite();
        return neg_ ? 0 : truncated_u64(magnitude());
    }

private:
    constexpr F80(bool neg, std::int32_t e, u64 m) : m_(m), e_(e), neg_(neg), kind_(Kind::Finite) {}
    static constexpr F80 special(Kind kind, bool neg) {
        F80 r;
        r.kind_ = kind;
        r.neg_ = neg;
        return r;
    }

    // |a| - |b| with the sign of the larger, for operands of one sign.
    static constexpr F80 difference(F80 a, F80 b) {
        const Difference d = sub(a.magnitude(), b.magnitude());
        return d.zero ? F80() : pack(a.neg_ != d.swapped, d.value);
    }

    constexpr F80 to_integer(ToInteger dir) const {
        if (kind_ != Kind::Finite || e_ >= 64) return *this;
        const u64 w = whole(neg_, magnitude(), dir).whole;
        constexpr u64 top = u64{1} << 63;
        if (e_ <= 0) return w == 0 ? F80() : F80(neg_, 1, top);  // 0 or ±1
        const u64 m = w << (64 - e_);                            // back in place: |w| >= 1
        if (m == 0) [[unlikely]]                                 // rounded away to 2^e
            return F80(neg_, e_ + 1, top);
        return F80(neg_, e_, m);
    }

    static F80 add_special(F80 a, F80 b);
    static F80 mul_special(F80 a, F80 b);
    static F80 div_special(F80 a, F80 b);
    [[noreturn]] static void panic_non_finite();

    u64 m_ = 0;
    std::int32_t e_ = 0;
    bool neg_ = false;
    Kind kind_ = Kind::Zero;
};

// A finite double as an integer on its own scale: v · 2^k with |v| < 2^53.
struct Scaled {
    i64 v;
    i64 k;
};
constexpr Scaled scaled(f64 value) {
    const DoubleFields d = fields(value);
    const bool normal = d.field != 0;
    const u64 m = d.frac | (static_cast<u64>(normal) << 52);
    const i64 v = static_cast<i64>(d.neg ? u64{0} - m : m);
    return {v, static_cast<i64>(normal ? d.field : 1) - 1075};
}

// hi - lo rounded, as F80 subtracts them, for finite doubles hi > lo given
// with their scaled forms. When their scales differ by at most 10 (a zero
// takes the other's scale), both are integers below 2^63 in magnitude on the
// finer scale, and hi - lo, in (0, 2^64), is exact in one word: no rounding
// is needed. Otherwise F80's subtraction.
Magnitude difference_wide(f64 hi, f64 lo);  // F80's subtraction, out of line
inline Magnitude difference(f64 hi, Scaled h, f64 lo, Scaled l) {
    const i64 hk = h.v == 0 ? l.k : h.k, lk = l.v == 0 ? h.k : l.k;
    const i64 k = hk < lk ? hk : lk;
    const u64 sh = static_cast<u64>(hk - k), sl = static_cast<u64>(lk - k);
    if ((sh | sl) <= 10) [[likely]]
        return magnitude_scaled((static_cast<u64>(h.v) << sh) - (static_cast<u64>(l.v) << sl), k);
    return difference_wide(hi, lo);
}

// Two finite doubles lo < hi, prepared for the differences hi - f and f - lo
// of many f between them: both on the finer of their scales, when their
// scales differ by at most 10 (`shared`).
struct Bracket {
    f64 lo, hi;
    Scaled slo, shi;
    i64 k;
    u64 vlo, vhi;  // two's complement, below 2^63 in magnitude
    bool shared;
};
constexpr Bracket bracket(f64 lo, f64 hi) {
    const Scaled l = scaled(lo), h = scaled(hi);
    const i64 lk = l.v == 0 ? h.k : l.k, hk = h.v == 0 ? l.k : h.k;  // a zero takes the other's scale
    const i64 k = lk < hk ? lk : hk;
    const bool shared = lk - k <= 10 && hk - k <= 10;
    return {lo,
            hi,
            l,
            h,
            k,
            shared ? static_cast<u64>(l.v) << (lk - k) : 0,
            shared ? static_cast<u64>(h.v) << (hk - k) : 0,
            shared};
}

// hi - f and f - lo for lo < f < hi, each rounded as F80 subtracts them.
// When f's scale is at most 10 above the bracket's (or f is zero), all three
// are integers below 2^63 in magnitude on the bracket's scale, and both
// differences, in (0, 2^64), are exact in one word.
struct Gaps {
    Magnitude above, below;
};
Gaps gaps_apart(const Bracket& b, f64 f);  // each difference on its own scales, out of line
inline Gaps gaps(const Bracket& b, f64 f) {
    const Scaled s = scaled(f);
    const u64 shift = static_cast<u64>(s.k - b.k);
    if (b.shared & ((shift <= 10) | (s.v == 0))) [[likely]] {
        const u64 v = static_cast<u64>(s.v) << (shift & 63);  // 0 for a zero f whatever the shift
        return {magnitude_scaled(b.vhi - v, b.k), magnitude_scaled(v - b.vlo, b.k)};
    }
    return gaps_apart(b, f);
}

}  // namespace rust::extended
