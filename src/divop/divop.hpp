// div_round: exact division of an unsigned 128-bit numerator, rounded by an
// InverseMethod.
#pragma once

#include <cassert>
#include <optional>

#include "base/base.hpp"

namespace rust::divop {

// The quotient q and remainder r of n / d rounded by a method:
//   Exact    q if the division is exact (r = 0), otherwise absent
//   Nearest  nearest integer, a tie (2r = d) to the even one
//   Ffill    floor
//   Bfill    ceiling
// round_up is the one place where a quotient is rounded: whether q moves up
// by one. W is the word that holds q, r and d (64 bits when the divisor and
// the quotient fit there, else 128).
template <class W>
constexpr unsigned round_up(W q, W r, W d, InverseMethod method) {
    switch (method) {
        case InverseMethod::Nearest: {
            // 2r against d without forming 2r: r < d, so d - r does not wrap.
            const W rest = d - r;
            return static_cast<unsigned>(r > rest) | (static_cast<unsigned>(r == rest) & static_cast<unsigned>(q & 1));
        }
        case InverseMethod::Bfill: return r != 0 ? 1 : 0;
        case InverseMethod::Exact:
        case InverseMethod::Ffill: break;
    }
    return 0;
}

// The rounded quotient in 128 bits, so q = 2^64 - 1 rounds up to 2^64.
template <class W>
inline std::optional<u128> rounded(W q, W r, W d, InverseMethod method) {
    if (method == InverseMethod::Exact && r != 0) return std::nullopt;
    return u128(q) + round_up(q, r, d, method);
}

// The rounded quotient of n / d. A zero divisor is fatal: "attempt to divide
// by zero".
inline std::optional<u128> div_round(u128 n, u128 d, InverseMethod method) {
    if (d == 0) [[unlikely]]
        panic("attempt to divide by zero");
    const u64 dlo = static_cast<u64>(d), nhi = static_cast<u64>(n >> 64);
    if ((d >> 64) == 0 && nhi < dlo) {
        const wide::QuotRem64 qr = wide::div(nhi, static_cast<u64>(n), dlo);
        return rounded<u64>(qr.q, qr.r, dlo, method);
    }
    const u128 q = n / d;
    return rounded<u128>(q, n - q * d, d, method);
}

// The same for a divisor of 64 bits, as both integer schemes have: the
// division and the rounding in 64-bit words when the quotient fits them.
inline std::optional<u128> div_round(u128 n, u64 d, InverseMethod method) {
    if (d == 0) [[unlikely]]
        panic("attempt to divide by zero");
    const u64 nhi = wide::high(n);
    if (nhi < d) [[likely]] {
        const wide::QuotRem64 qr = wide::div(nhi, wide::low(n), d);
        return rounded<u64>(qr.q, qr.r, d, method);
    }
    return div_round(n, u128(d), method);
}

// The same for a quotient that fits 64 bits rounded either way, as in both
// integer schemes (it lies between two u64 knots): d is the divisor itself or
// prepared for many divisions, and the high word of n is below it. The result
// into out; false when absent (Exact). No optional on the way, so that the
// word stays in a register.
inline wide::QuotRem64 quot_rem(u128 n, u64 d) { return wide::div(wide::high(n), wide::low(n), d); }
inline wide::QuotRem64 quot_rem(u128 n, const wide::Divisor& d) { return wide::div(d, wide::high(n), wide::low(n)); }
inline u64 divisor(u64 d) { return d; }
inline u64 divisor(const wide::Divisor& d) { return d.d >> d.shift; }

template <class D>
inline bool div_round_within(u128 n, const D& d, InverseMethod method, u64& out) {
    assert(wide::high(n) < divisor(d));
    const wide::QuotRem64 qr = quot_rem(n, d);
    out = qr.q + round_up<u64>(qr.q, qr.r, divisor(d), method);
    return method != InverseMethod::Exact || qr.r == 0;
}

}  // namespace rust::divop
