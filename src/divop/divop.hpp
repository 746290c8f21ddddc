// div_round: exact division of an unsigned 128-bit numerator, rounded by an
// InverseMethod.
#pragma once

#include <cassert>
#include <optional>

#include "base/base.hpp"

// The x86-64 `divq` instruction divides a 128-bit numerator by a 64-bit
// divisor when the quotient fits 64 bits (high word below the divisor).
#if !defined(RUST_NO_HW_DIVQ) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RUST_HW_DIVQ 1
#else
#define RUST_HW_DIVQ 0
#endif

namespace rust::divop {

struct QuotRem64 {
    u64 q;
    u64 r;
};

// (hi·2^64 + lo) / d. Precondition: hi < d, so the quotient fits 64 bits and
// the remainder is below d.
constexpr QuotRem64 div_wide_portable(u64 hi, u64 lo, u64 d) {
    assert(hi < d);
    const u128 n = (static_cast<u128>(hi) << 64) | lo;
    const u64 q = static_cast<u64>(n / d);
    return {q, lo - q * d};  // r = n - q·d < d < 2^64, so the low words suffice
}

// Same contract as div_wide_portable, on the hardware instruction where the
// platform has one.
inline QuotRem64 div_wide(u64 hi, u64 lo, u64 d) {
#if RUST_HW_DIVQ
    assert(hi < d);  // otherwise divq traps
    u64 q, r;
    __asm__("divq %[d]" : "=a"(q), "=d"(r) : [d] "r"(d), "a"(lo), "d"(hi) : "cc");
    return {q, r};
#else
    return div_wide_portable(hi, lo, d);
#endif
}

// The rounded quotient of n / d:
//   Exact    q if the division is exact, otherwise absent
//   Nearest  nearest integer, a tie (2r = d) to the even one
//   Ffill    floor
//   Bfill    ceiling
// A zero divisor is fatal: "attempt to divide by zero".
inline std::optional<u128> div_round(u128 n, u128 d, InverseMethod method) {
    if (d == 0) [[unlikely]]
        panic("attempt to divide by zero");
    u128 q, r;
    const u64 dlo = static_cast<u64>(d), nhi = static_cast<u64>(n >> 64);
    if ((d >> 64) == 0 && nhi < dlo) {
        const QuotRem64 qr = div_wide(nhi, static_cast<u64>(n), dlo);
        q = qr.q;
        r = qr.r;
    } else {
        q = n / d;
        r = n - q * d;
    }
    switch (method) {
        case InverseMethod::Exact:
            if (r != 0) return std::nullopt;
            return q;
        case InverseMethod::Nearest: {
            // 2r against d without forming 2r: r < d, so d - r does not wrap.
            const u128 rest = d - r;
            const unsigned up = static_cast<unsigned>(r > rest) | (static_cast<unsigned>(r == rest) & static_cast<unsigned>(q & 1));
            return q + up;
        }
        case InverseMethod::Ffill:
            return q;
        case InverseMethod::Bfill:
            return q + (r != 0 ? 1 : 0);
    }
    return q;  // unreachable: every method is handled above
}

}  // namespace rust::divop
