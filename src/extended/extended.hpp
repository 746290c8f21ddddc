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

namespace rust::extended {

// Representation. A finite nonzero value is (-1)^neg · m · 2^(e - 64) with
// 2^63 <= m < 2^64, so 2^(e-1) <= |v| < 2^e. There is one zero, unsigned.
// Infinity (signed) and NaN exist only as results of division by zero and of
// arithmetic on them.
//
// The round/sticky word. An exact result in the making is a significand `sig`
// (top bit set) followed by a 64-bit word `extra` of the bits below it: the top
// bit of `extra` weighs one half unit in the last place (the round bit) and any
// other set bit means "something nonzero below the round bit" (sticky). Where
// bits are shifted out of `extra` they are OR-ed ("jammed") into its lowest
// bit, which keeps the word's relation to one half exact. round_pack() is the
// only place that rounds.
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
        const u64 bits = std::bit_cast<u64>(value);
        const unsigned field = static_cast<unsigned>(bits >> 52) & 0x7FF;
        const u64 frac = bits & ((u64{1} << 52) - 1);
        const bool neg = (bits >> 63) != 0;
        if (field == 0x7FF) [[unlikely]]
            panic("assertion failed: value.is_finite()");
        if (field != 0) return F80(neg, static_cast<std::int32_t>(field) - 1022, (u64{1} << 63) | (frac << 11));
        if (frac == 0) return F80();
        const int k = 63 - std::countl_zero(frac);  // highest set bit, 0 … 51
        return F80(neg, k - 1073, frac << (63 - k));
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

    constexpr F80 operator-() const {
        F80 r = *this;
        if (kind_ == Kind::Finite || kind_ == Kind::Inf) r.neg_ = !neg_;
        return r;
    }

    friend F80 operator+(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return add_special(a, b);
        return a.neg_ == b.neg_ ? add_magnitudes(a, b, a.neg_) : sub_magnitudes(a, b);
    }
    friend F80 operator-(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return add_special(a, -b);
        return a.neg_ != b.neg_ ? add_magnitudes(a, b, a.neg_) : sub_magnitudes(a, b);
    }

    friend F80 operator*(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return mul_special(a, b);
        // 2^126 <= ma·mb < 2^128: at most one normalising shift, no bit lost.
        const u128 p = wide::mul(a.m_, b.m_);
        u64 hi = wide::high(p), lo = wide::low(p);
        const unsigned below = static_cast<unsigned>(hi >> 63) ^ 1;  // 1 when p < 2^127
        hi = (hi << below) | ((lo >> 63) & below);
        lo <<= below;
        const std::int64_t e = std::int64_t{a.e_} + b.e_ - below;
        return round_pack(a.neg_ != b.neg_, e, hi, lo);
    }

    friend F80 operator/(F80 a, F80 b) {
        if ((static_cast<unsigned>(a.kind_) | static_cast<unsigned>(b.kind_)) != 0) [[unlikely]]
            return div_special(a, b);
        // ma/mb lies in (1/2, 2). Numerator ma·2^64 when ma < mb, else ma·2^63:
        // its high word is below mb either way, so the quotient q has exactly
        // 64 bits (2^63 <= q < 2^64) and the remainder r < mb decides the rest.
        const unsigned ge = a.m_ >= b.m_ ? 1 : 0;
        const u64 hi = a.m_ >> ge, lo = (a.m_ << 63) & (u64{0} - ge);
        const std::int64_t e = std::int64_t{a.e_} - b.e_ + ge;
        const wide::QuotRem64 qr = wide::div(hi, lo, b.m_);
        // r/mb against one half, exactly, by comparing r with mb - r: the round
        // bit is r >= mb - r, the sticky bit r ∉ {0, mb - r}.
        const u64 r = qr.r, rest = b.m_ - r;
        const u64 extra = (static_cast<u64>(r >= rest) << 63) | (static_cast<u64>(r != 0) & static_cast<u64>(r != rest));
        return round_pack(a.neg_ != b.neg_, e, qr.q, extra);
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
    constexpr F80 floor() const { return to_integer(Direction::Floor); }
    constexpr F80 ceil() const { return to_integer(Direction::Ceil); }
    constexpr F80 round() const { return to_integer(Direction::Round); }

    // Truncation toward zero to a double: normal, subnormal, +0.0 below
    // 2^-1074 whatever the sign, signed infinity from 2^1024 up. Infinity and
    // NaN are fatal.
    f64 to_f64() const {
        if (kind_ == Kind::Zero) return 0.0;
        if (kind_ != Kind::Finite) [[unlikely]]
            panic_non_finite();
        const u64 sign = u64{neg_} << 63;
        u64 bits;
        if (e_ >= 1025) {
            bits = sign | 0x7FF0000000000000;
        } else if (e_ >= -1021) {
            bits = sign | (static_cast<u64>(e_ + 1022) << 52) | ((m_ >> 11) & ((u64{1} << 52) - 1));
        } else if (e_ >= -1073) {
            bits = sign | (m_ >> (-1010 - e_));  // a shift of 12 … 63
        } else {
            bits = 0;
        }
        return std::bit_cast<f64>(bits);
    }

    // Truncation toward zero, clamped to 0 … 2^64 - 1. Infinity and NaN are
    // fatal, tested before the sign.
    u64 to_u64() const {
        if (kind_ == Kind::Zero) return 0;
        if (kind_ != Kind::Finite) [[unlikely]]
            panic_non_finite();
        if (neg_ || e_ <= 0) return 0;
        if (e_ >= 65) return ~u64{0};
        return m_ >> (64 - e_);
    }

private:
    constexpr F80(bool neg, std::int32_t e, u64 m) : m_(m), e_(e), neg_(neg), kind_(Kind::Finite) {}
    static constexpr F80 special(Kind kind, bool neg) {
        F80 r;
        r.kind_ = kind;
        r.neg_ = neg;
        return r;
    }

    // The one rounding step: sig (top bit set) followed by the round/sticky
    // word extra, rounded to nearest, ties to even. An exponent beyond the
    // 32-bit range (never reached by the system's values) saturates to
    // infinity or zero.
    static constexpr F80 round_pack(bool neg, std::int64_t e, u64 sig, u64 extra) {
        assert((sig >> 63) != 0);
        constexpr u64 half = u64{1} << 63;
        sig += static_cast<u64>(extra > half) | (static_cast<u64>(extra == half) & sig & 1);
        if (sig == 0) [[unlikely]] {  // all ones rounded up: 2^64
            sig = half;
            ++e;
        }
        if (static_cast<u64>(e - INT32_MIN) > UINT32_MAX) [[unlikely]]
            return e > 0 ? infinity(neg) : F80();
        return F80(neg, static_cast<std::int32_t>(e), sig);
    }

    // (hi, lo) = m·2^64 shifted right by count, the bits shifted out of lo
    // jammed into its lowest bit. Any count is allowed.
    static constexpr void shift_right_jam(u64 m, u64 count, u64& hi, u64& lo) {
        if (count < 64) {  // (m << 1) << (63 - count) is m << (64 - count), and 0 for count 0
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

    // (ma, ea) from b and (mb, eb) from a when swap, else the other way round;
    // with masks, because the order depends on the data and a branch on it
    // is mispredicted half the time.
    static constexpr void order(bool swap, F80 a, F80 b, u64& ma, std::int32_t& ea, u64& mb, std::int32_t& eb) {
        const u64 m = u64{0} - static_cast<u64>(swap);
        const std::uint32_t em = std::uint32_t{0} - static_cast<std::uint32_t>(swap);
        const u64 dm = (a.m_ ^ b.m_) & m;
        const std::uint32_t de = (static_cast<std::uint32_t>(a.e_) ^ static_cast<std::uint32_t>(b.e_)) & em;
        ma = a.m_ ^ dm;
        mb = b.m_ ^ dm;
        ea = static_cast<std::int32_t>(static_cast<std::uint32_t>(a.e_) ^ de);
        eb = static_cast<std::int32_t>(static_cast<std::uint32_t>(b.e_) ^ de);
    }

    static constexpr F80 add_magnitudes(F80 a, F80 b, bool neg) {
        // Order by exponent on scalars (cheaper than swapping whole numbers).
        const bool swap = a.e_ < b.e_;
        u64 ma, mb;
        std::int32_t ea, eb;
        order(swap, a, b, ma, ea, mb, eb);
        u64 bhi, blo;
        shift_right_jam(mb, static_cast<u64>(std::int64_t{ea} - eb), bhi, blo);
        u64 sig = ma + bhi;
        const bool carry = sig < ma;  // the sum is in [2^64, 2^65): shift it right once
        const u64 extra = carry ? (sig << 63) | (blo >> 1) | (blo & 1) : blo;
        sig = carry ? (sig >> 1) | (u64{1} << 63) : sig;
        return round_pack(neg, std::int64_t{ea} + carry, sig, extra);
    }

    // |a| - |b| with the sign of the larger. With an exponent gap of at most 1
    // the difference is exact in 128 bits however far it cancels; with a gap
    // of 2 or more it exceeds 2^126, so normalising shifts it left at most once
    // and the jammed bit stays far below the round bit.
    static constexpr F80 sub_magnitudes(F80 a, F80 b) {
        const bool swap = (a.e_ < b.e_) | ((a.e_ == b.e_) & (a.m_ < b.m_));
        const bool neg = a.neg_ != swap;
        u64 ma, mb;
        std::int32_t ea, eb;
        order(swap, a, b, ma, ea, mb, eb);
        if ((ea == eb) & (ma == mb)) return F80();
        u64 bhi, blo;
        shift_right_jam(mb, static_cast<u64>(std::int64_t{ea} - eb), bhi, blo);
        // (hi, lo) = (ma, 0) - (bhi, blo), nonzero
        u64 lo = u64{0} - blo;
        u64 hi = ma - bhi - (blo != 0 ? 1 : 0);
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
        return round_pack(neg, std::int64_t{ea} - shift, hi, lo);
    }

    enum class Direction : std::uint8_t { Floor, Ceil, Round };

    constexpr F80 to_integer(Direction dir) const {
        if (kind_ != Kind::Finite || e_ >= 64) return *this;
        const bool up_if_fraction = dir == Direction::Floor ? neg_ : !neg_;  // away from zero
        if (e_ <= 0) {
            const bool away = dir == Direction::Round ? e_ == 0 && m_ != (u64{1} << 63) : up_if_fraction;
            return away ? F80(neg_, 1, u64{1} << 63) : F80();
        }
        const unsigned fbits = 64 - static_cast<unsigned>(e_);  // 1 … 63 fraction bits
        const u64 unit = u64{1} << fbits;
        const u64 frac = m_ & (unit - 1);
        const u64 whole = m_ - frac;  // keeps the top bit: |v| >= 1
        bool away;
        if (dir == Direction::Round) {
            const u64 half = unit >> 1;  // at least 1, so a zero fraction never rounds away
            away = (frac > half) | ((frac == half) & ((whole & unit) != 0));
        } else {
            away = up_if_fraction & (frac != 0);
        }
        const u64 next = whole + (unit & (u64{0} - static_cast<u64>(away)));
        if (next == 0) [[unlikely]]  // rounded away to 2^e
            return F80(neg_, e_ + 1, u64{1} << 63);
        return F80(neg_, e_, next);
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

}  // namespace rust::extended
