#include "schemes/schemes.hpp"

#include <cmath>

namespace rust::schemes {

static_assert(ForwardScheme<Forward<u64, i64>, u64, i64>);
static_assert(ForwardScheme<Forward<u64, f64>, u64, f64>);
static_assert(InverseScheme<Inverse<i64, u64>, i64, u64>);
static_assert(InverseScheme<Inverse<f64, u64>, f64, u64>);

static_assert(biased(INT64_MIN) == 0 && biased(0) == u64{1} << 63 && biased(INT64_MAX) == ~u64{0});
static_assert(unbiased(biased(-12345)) == -12345);

}  // namespace rust::schemes

namespace rust::schemes {

namespace {

// A signed number of up to 129 bits: a sign and a 128-bit magnitude (zero
// unsigned).
struct Signed {
    u128 magnitude;
    bool negative;
};

// p - q of two u64, exactly: a sign and a magnitude below 2^64.
struct Gap {
    u64 magnitude;
    bool negative;
};
constexpr Gap gap(u64 p, u64 q) { return p >= q ? Gap{p - q, false} : Gap{q - p, true}; }

constexpr u64 magnitude_of(i64 v) { return v < 0 ? u64{0} - static_cast<u64>(v) : static_cast<u64>(v); }

Signed times(u64 v, bool v_negative, Gap w) {
    const u128 m = wide::mul(v, w.magnitude);
    return {m, m != 0 && v_negative != w.negative};
}

// a + b, whose magnitude the callers keep below 2^128.
Signed plus(Signed a, Signed b) {
    if (a.negative == b.negative) return {a.magnitude + b.magnitude, a.negative};
    if (a.magnitude >= b.magnitude) return {a.magnitude - b.magnitude, a.negative && a.magnitude != b.magnitude};
    return {b.magnitude - a.magnitude, b.negative};
}

// The rounding of a magnitude that gives the method's rounding of the signed
// quotient: floor and ceiling swap below zero; to nearest (ties to even) and
// exactness are symmetric.
constexpr InverseMethod on_magnitude(InverseMethod method, bool negative) {
    if (!negative) return method;
    if (method == InverseMethod::Ffill) return InverseMethod::Bfill;
    if (method == InverseMethod::Bfill) return InverseMethod::Ffill;
    return method;
}

extended::F80 signed_gap(u64 p, u64 q) {
    using extended::F80;
    return p >= q ? F80::from_u64(p - q) : -F80::from_u64(q - p);
}

constexpr u128 kTwo63 = u128(u64{1} << 63);

}  // namespace

Extrapolated<i64> extrapolate(u64 x, u64 x0, i64 f0, u64 x1, i64 f1) {
    // |f|·|gap| <= 2^63·(2^64 - 1) < 2^127 for each term: the sum's magnitude
    // stays below 2^128.
    const Signed n = plus(times(magnitude_of(f0), f0 < 0, gap(x1, x)), times(magnitude_of(f1), f1 < 0, gap(x, x0)));
    const u128 q = *divop::div_round(n.magnitude, x1 - x0, InverseMethod::Nearest);
    if (n.negative ? q > kTwo63 : q >= kTwo63) return {0, Beyond::Overflow};
    const u64 m = static_cast<u64>(q);
    return {static_cast<i64>(n.negative ? u64{0} - m : m), Beyond::Ok};
}

Extrapolated<u64> extrapolate(i64 f, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod method) {
    // Outside [f0, f1] the two differences have opposite signs (or one is
    // zero), so the terms do too: each below 2^128, their sum as well.
    const u64 b = biased(f), b0 = biased(f0), b1 = biased(f1);
    const Signed n = plus(times(x0, false, gap(b1, b)), times(x1, false, gap(b, b0)));
    const std::optional<u128> q = divop::div_round(n.magnitude, b1 - b0, on_magnitude(method, n.negative));
    if (!q) return {0, Beyond::NotFound};
    if ((n.negative && *q != 0) || wide::high(*q) != 0) return {0, Beyond::Overflow};
    return {static_cast<u64>(*q), Beyond::Ok};
}

Extrapolated<f64> extrapolate(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
    using extended::F80;
    const F80 F0 = F80::from_f64(f0), F1 = F80::from_f64(f1);  // f0 checked first
    const F80 a = signed_gap(x1, x);  // X1 - X, exact
    const F80 p0 = F0 * a;
    const F80 b = signed_gap(x, x0);  // X - X0, exact
    const F80 p1 = F1 * b;
    const F80 n = p0 + p1;
    const F80 d = F80::from_u64(x1 - x0);
    const F80 q = n / d;
    if (!q.is_zero() && q.exponent() >= 1025) return {0.0, Beyond::Overflow};  // |q| >= 2^1024
    return {q.to_f64(), Beyond::Ok};
}

Extrapolated<u64> extrapolate(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method) {
    using extended::F80;
    const F80 F0 = F80::from_f64(f0), F1 = F80::from_f64(f1);  // f0 checked first
    if (!std::isfinite(f)) return {0, Beyond::Overflow};
    const F80 F = F80::from_f64(f), X0 = F80::from_u64(x0), X1 = F80::from_u64(x1);
    const F80 a = F1 - F;
    const F80 p0 = X0 * a;
    const F80 b = F - F0;
    const F80 p1 = X1 * b;
    const F80 n = p0 + p1;
    const F80 d = F1 - F0;
    const F80 q = n / d;
    F80 g;
    switch (method) {
        case InverseMethod::Exact:
            g = q.floor();
            if (!(g == q)) return {0, Beyond::NotFound};
            break;
        case InverseMethod::Nearest: g = q.round(); break;
        case InverseMethod::Ffill: g = q.floor(); break;
        case InverseMethod::Bfill: g = q.ceil(); break;
    }
    if (g.is_zero()) return {0, Beyond::Ok};
    if (g.negative() || g.exponent() >= 65) return {0, Beyond::Overflow};  // below 0, or from 2^64 up
    return {g.to_u64(), Beyond::Ok};
}

}  // namespace rust::schemes
