// Unsigned 128-bit arithmetic: the type `u128` and the two word-level
// primitives the core is built on, a 64 × 64 → 128-bit product and a
// 128-by-64 division whose quotient fits 64 bits.
//
// One guard chooses each path:
//   native    `unsigned __int128` where the compiler has it (64-bit GCC and
//             Clang), and the x86-64 `divq` instruction for the division
//   MSVC x64  a pair of 64-bit words with the `_umul128` / `_udiv128`
//             intrinsics
//   portable  a pair of 64-bit words, products on 32-bit halves and the
//             division in standard C++20: correct on every compiler
// Defining RUST_PORTABLE selects the portable path on any compiler (and
// turns off every other extension of the core, see platform.hpp), so it is
// tested on every build machine; RUST_NO_HW_DIVQ keeps the native type but
// leaves the division to the compiler.
#pragma once

#include <bit>
#include <cassert>
#include <compare>
#include <concepts>
#include <cstdint>
#include <type_traits>

#if defined(RUST_PORTABLE)
#define RUST_WIDE_NATIVE 0
#define RUST_WIDE_MSVC 0
#elif defined(__SIZEOF_INT128__)
#define RUST_WIDE_NATIVE 1
#define RUST_WIDE_MSVC 0
#elif defined(_MSC_VER) && defined(_M_X64) && !defined(__clang__)
#define RUST_WIDE_NATIVE 0
#define RUST_WIDE_MSVC 1
#include <intrin.h>
#else
#define RUST_WIDE_NATIVE 0
#define RUST_WIDE_MSVC 0
#endif

// The x86-64 `divq` instruction divides a 128-bit numerator by a 64-bit
// divisor when the quotient fits 64 bits (high word below the divisor).
#if RUST_WIDE_NATIVE && !defined(RUST_NO_HW_DIVQ) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RUST_HW_DIVQ 1
#else
#define RUST_HW_DIVQ 0
#endif

namespace rust::wide {

using u64 = std::uint64_t;
using u32 = std::uint32_t;

struct QuotRem64 {
    u64 q;
    u64 r;
};

// a·b as (hi, lo), on 32-bit halves: every partial product is below 2^64 and
// each sum of a partial product and two 32-bit carries is at most
// (2^32 - 1)^2 + 2·(2^32 - 1) = 2^64 - 1, so nothing wraps.
constexpr void mul_portable(u64 a, u64 b, u64& hi, u64& lo) {
    const u64 a0 = static_cast<u32>(a), a1 = a >> 32, b0 = static_cast<u32>(b), b1 = b >> 32;
    const u64 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const u64 mid = (p00 >> 32) + static_cast<u32>(p01) + static_cast<u32>(p10);
    lo = (mid << 32) | static_cast<u32>(p00);
    hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
}

// (hi·2^64 + lo) / d. Precondition: hi < d, so the quotient fits 64 bits and
// the remainder is below d. Two steps of 32-bit digits on the divisor shifted
// to have its top bit set (Knuth's algorithm D, base 2^32): each estimated
// digit is at most two too large and corrected by the loops.
constexpr QuotRem64 div_portable(u64 hi, u64 lo, u64 d) {
    assert(hi < d);
    const int s = std::countl_zero(d);
    d <<= s;                                                     // normalised: 2^63 <= d
    const u64 nhi = s == 0 ? hi : (hi << s) | (lo >> (64 - s));  // below d: the quotient is unchanged
    const u64 nlo = lo << s;
    const u64 d1 = d >> 32, d0 = static_cast<u32>(d);
    const u64 n1 = nlo >> 32, n0 = static_cast<u32>(nlo);

    // First digit of (nhi, n1) / d; the partial remainder is below d.
    u64 q1 = nhi / d1, rhat = nhi - q1 * d1;
    while (q1 >> 32 != 0 || q1 * d0 > ((rhat << 32) | n1)) {
        --q1;
        rhat += d1;
        if (rhat >> 32 != 0) break;
    }
    const u64 r1 = ((nhi << 32) | n1) - q1 * d;  // mod 2^64: the true value is below d

    // Second digit of (r1, n0) / d.
    u64 q0 = r1 / d1;
    rhat = r1 - q0 * d1;
    while (q0 >> 32 != 0 || q0 * d0 > ((rhat << 32) | n0)) {
        --q0;
        rhat += d1;
        if (rhat >> 32 != 0) break;
    }
    const u64 r0 = ((r1 << 32) | n0) - q0 * d;
    return {(q1 << 32) | q0, r0 >> s};
}

#if RUST_WIDE_NATIVE
using u128 = unsigned __int128;
#else
// A pair of 64-bit words with the operators of an unsigned integer type:
// arithmetic modulo 2^128, conversions to narrower types truncate.
class u128 {
public:
    constexpr u128() = default;
    constexpr u128(u64 v) : lo_(v) {}  // NOLINT: implicit, like a built-in widening
    constexpr u128(u64 hi, u64 lo) : hi_(hi), lo_(lo) {}

    template <std::integral T>
    constexpr explicit operator T() const {
        return static_cast<T>(lo_);
    }
    constexpr explicit operator bool() const { return (hi_ | lo_) != 0; }
    constexpr u64 high() const { return hi_; }
    constexpr u64 low() const { return lo_; }

    friend constexpr bool operator==(u128 a, u128 b) = default;
    friend constexpr std::strong_ordering operator<=>(u128 a, u128 b) {
        return a.hi_ != b.hi_ ? a.hi_ <=> b.hi_ : a.lo_ <=> b.lo_;
    }

    friend constexpr u128 operator+(u128 a, u128 b) {
        const u64 lo = a.lo_ + b.lo_;
        return {a.hi_ + b.hi_ + (lo < a.lo_ ? 1 : 0), lo};
    }
    friend constexpr u128 operator-(u128 a, u128 b) { return {a.hi_ - b.hi_ - (a.lo_ < b.lo_ ? 1 : 0), a.lo_ - b.lo_}; }
    friend constexpr u128 operator*(u128 a, u128 b) {
        u64 hi = 0, lo = 0;
        mul_portable(a.lo_, b.lo_, hi, lo);
        return {hi + a.hi_ * b.lo_ + a.lo_ * b.hi_, lo};
    }
    friend constexpr u128 operator/(u128 a, u128 b) { return divide(a, b, nullptr); }
    friend constexpr u128 operator%(u128 a, u128 b) {
        u128 r;
        divide(a, b, &r);
        return r;
    }
    friend constexpr u128 operator&(u128 a, u128 b) { return {a.hi_ & b.hi_, a.lo_ & b.lo_}; }
    friend constexpr u128 operator|(u128 a, u128 b) { return {a.hi_ | b.hi_, a.lo_ | b.lo_}; }
    friend constexpr u128 operator^(u128 a, u128 b) { return {a.hi_ ^ b.hi_, a.lo_ ^ b.lo_}; }
    constexpr u128 operator~() const { return {~hi_, ~lo_}; }

    // Shift counts 0 … 127.
    friend constexpr u128 operator<<(u128 a, int n) {
        assert(n >= 0 && n < 128);
        if (n == 0) return a;
        if (n >= 64) return {a.lo_ << (n - 64), 0};
        return {(a.hi_ << n) | (a.lo_ >> (64 - n)), a.lo_ << n};
    }
    friend constexpr u128 operator>>(u128 a, int n) {
        assert(n >= 0 && n < 128);
        if (n == 0) return a;
        if (n >= 64) return {0, a.hi_ >> (n - 64)};
        return {a.hi_ >> n, (a.lo_ >> n) | (a.hi_ << (64 - n))};
    }
    constexpr u128& operator+=(u128 b) { return *this = *this + b; }
    constexpr u128& operator-=(u128 b) { return *this = *this - b; }

private:
    // a / b, the remainder into *rest. The divisor must be nonzero. With a
    // 64-bit divisor: two 128-by-64 steps; with a wider one the quotient is
    // below 2^64 and one bit is found per step.
    static constexpr u128 divide(u128 a, u128 b, u128* rest) {
        assert(b != u128{});
        if (b.hi_ == 0) {
            const QuotRem64 top = div_portable(0, a.hi_, b.lo_);
            const QuotRem64 bottom = div_portable(top.r, a.lo_, b.lo_);
            if (rest) *rest = u128(bottom.r);
            return {top.q, bottom.q};
        }
        const int shift = std::countl_zero(b.hi_) - (a.hi_ == 0 ? 64 : std::countl_zero(a.hi_));
        u64 q = 0;
        for (int k = shift < 0 ? -1 : shift; k >= 0; --k) {
            const u128 t = b << k;
            q <<= 1;
            if (a >= t) {
                a -= t;
                q |= 1;
            }
        }
        if (rest) *rest = a;
        return u128(q);
    }

    u64 hi_ = 0;
    u64 lo_ = 0;
};
#endif

constexpr u64 high(u128 v) { return static_cast<u64>(v >> 64); }
constexpr u64 low(u128 v) { return static_cast<u64>(v); }
constexpr u128 make(u64 hi, u64 lo) { return (u128(hi) << 64) | u128(lo); }

// a·b exactly.
constexpr u128 mul(u64 a, u64 b) {
#if RUST_WIDE_NATIVE
    return static_cast<u128>(a) * b;
#else
#if RUST_WIDE_MSVC
    if (!std::is_constant_evaluated()) {
        u64 hi = 0;
        const u64 lo = _umul128(a, b, &hi);
        return u128(hi, lo);
    }
#endif
    u64 hi = 0, lo = 0;
    mul_portable(a, b, hi, lo);
    return u128(hi, lo);
#endif
}

// (hi·2^64 + lo) / d, on the platform's fastest path. Precondition: hi < d
// (otherwise the quotient would not fit, and the hardware division traps).
inline QuotRem64 div(u64 hi, u64 lo, u64 d) {
    assert(hi < d);
#if RUST_HW_DIVQ
    u64 q, r;
    __asm__("divq %[d]" : "=a"(q), "=d"(r) : [d] "r"(d), "a"(lo), "d"(hi) : "cc");
    return {q, r};
#elif RUST_WIDE_NATIVE
    const u128 n = make(hi, lo);
    const u64 q = static_cast<u64>(n / d);
    return {q, lo - q * d};  // r = n - q·d < d < 2^64, so the low words suffice
#elif RUST_WIDE_MSVC
    u64 r = 0;
    const u64 q = _udiv128(hi, lo, d, &r);
    return {q, r};
#else
    return div_portable(hi, lo, d);
#endif
}

// A divisor prepared for many 128-by-64 divisions (Möller and Granlund,
// "Improved division by invariant integers", IEEE Transactions on Computers,
// 2011, algorithm 4): d shifted to have its top bit set, and its reciprocal
// v = floor((2^128 - 1) / d) - 2^64. One division prepares it; each division
// by it then costs two multiplications and a correction.
struct Divisor {
    u64 d;      // normalised: 2^63 <= d
    u64 v;      // the reciprocal
    int shift;  // the original divisor is d >> shift
};

// Precondition: d != 0.
inline Divisor prepare(u64 d) {
    assert(d != 0);
    const int s = std::countl_zero(d);
    const u64 dn = d << s;
    return {dn, div(~dn, ~u64{0}, dn).q, s};  // ~dn < 2^63 <= dn: the quotient fits
}

// (hi·2^64 + lo) / d by a prepared divisor: the quotient and remainder of
// div(hi, lo, d). Precondition hi < d. The numerator is shifted with the
// divisor; its high word stays below the normalised divisor. The estimate
// q1 is at most one too large (corrected by the mask, taken about half the
// time, so without a branch) and, rarely, one too small.
constexpr QuotRem64 div(const Divisor& p, u64 hi, u64 lo) {
    const u64 u1 = p.shift == 0 ? hi : (hi << p.shift) | (lo >> (64 - p.shift));
    const u64 u0 = lo << p.shift;
    const u128 q = mul(p.v, u1) + make(u1, u0);
    u64 q1 = high(q) + 1;
    u64 r = u0 - q1 * p.d;
    const u64 over = u64{0} - static_cast<u64>(r > low(q));
    q1 += over;  // minus one where the estimate was too large
    r += over & p.d;
    if (r >= p.d) [[unlikely]] {
        ++q1;
        r -= p.d;
    }
    return {q1, r >> p.shift};
}

}  // namespace rust::wide
