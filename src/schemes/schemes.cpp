#include "schemes/schemes.hpp"

#include <cmath>

#include "base/platform.hpp"

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

// The rounded quotient of a magnitude below 2^128 by d where it does not fit
// 64 bits (far beyond the table): the general division. False where absent
// (Exact with a remainder).
bool quotient_wide(u128 n, u64 d, InverseMethod method, u128& q) {
    const std::optional<u128> r = divop::div_round(n, u128(d), method);
    q = r.value_or(0);
    return r.has_value();
}

// The rounded quotient of a magnitude below 2^128 by d, through the prepared
// divisor where the quotient fits 64 bits (the same quotient and remainder),
// else the general division; false where absent. The method is a template
// argument, so that the rounding folds into the loop that calls this.
template <InverseMethod M>
RUST_ALWAYS_INLINE bool quotient(u128 n, u64 d, const wide::Divisor& prepared, u128& q) {
    if (wide::high(n) >= d) [[unlikely]]
        return quotient_wide(n, d, M, q);
    const wide::QuotRem64 qr = divop::quot_rem(n, prepared);
    q = u128(qr.q) + divop::round_up<u64>(qr.q, qr.r, d, M);
    return M != InverseMethod::Exact || qr.r == 0;
}

Stop extrapolate(const u64* x, std::size_t count, u64 x0, i64 f0, u64 x1, i64 f1, i64 lowest, i64 highest, i64* out) {
    const u64 d = x1 - x0, m0 = magnitude_of(f0), m1 = magnitude_of(f1);
    const wide::Divisor prepared = wide::prepare(d);
    for (std::size_t j = 0; j < count; ++j) {
        // |f|·|gap| <= 2^63·(2^64 - 1) < 2^127 for each term: the sum's
        // magnitude stays below 2^128.
        const Signed n = plus(times(m0, f0 < 0, gap(x1, x[j])), times(m1, f1 < 0, gap(x[j], x0)));
        u128 q;
        quotient<InverseMethod::Nearest>(n.magnitude, d, prepared, q);
        if (n.negative ? q > kTwo63 : q >= kTwo63) return {j, Beyond::Overflow};
        const u64 m = static_cast<u64>(q);
        const i64 v = static_cast<i64>(n.negative ? u64{0} - m : m);
        if (v < lowest || v > highest) return {j, Beyond::Overflow};
        out[j] = v;
    }
    return {count, Beyond::Ok};
}

// The integer inverse beyond one end (Right: above f1, else below f0), the
// method fixed: the numerator x0·(f1 - f) + x1·(f - f0) is the difference of
// two products below 2^128, positive unless the position is below zero.
template <bool Right, InverseMethod M>
Stop inverse_beyond(const i64* f, std::size_t count, u64 x0, u64 x1, u64 b0, u64 b1, u64 lowest, u64 highest,
                    u64* out) {
    const u64 d = b1 - b0;
    const wide::Divisor prepared = wide::prepare(d);
    for (std::size_t j = 0; j < count; ++j) {
        const u64 b = biased(f[j]);
        // above f1: x1·(f - f0) - x0·(f - f1); below f0: x0·(f1 - f) - x1·(f0 - f)
        const u128 plus = Right ? wide::mul(x1, b - b0) : wide::mul(x0, b1 - b);
        const u128 minus = Right ? wide::mul(x0, b - b1) : wide::mul(x1, b0 - b);
        u128 q;
        const bool negative = plus < minus;  // below zero: only a rounding to zero is an answer
        const bool found = negative ? quotient<on_magnitude(M, true)>(minus - plus, d, prepared, q)
                                    : quotient<M>(plus - minus, d, prepared, q);
        if (!found) return {j, Beyond::NotFound};
        if ((negative && q != 0) || wide::high(q) != 0) return {j, Beyond::Overflow};
        const u64 v = static_cast<u64>(q);
        if (v < lowest || v > highest) return {j, Beyond::Overflow};
        out[j] = v;
    }
    return {count, Beyond::Ok};
}

Stop extrapolate(const i64* f, std::size_t count, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out) {
    const u64 b0 = biased(f0), b1 = biased(f1);
    const bool right = count > 0 && biased(f[0]) > b1;  // every key of the run is beyond the same end
    const auto run = [&]<InverseMethod M>() {
        return right ? inverse_beyond<true, M>(f, count, x0, x1, b0, b1, lowest, highest, out)
                     : inverse_beyond<false, M>(f, count, x0, x1, b0, b1, lowest, highest, out);
    };
    switch (method) {
        case InverseMethod::Exact: return run.template operator()<InverseMethod::Exact>();
        case InverseMethod::Nearest: return run.template operator()<InverseMethod::Nearest>();
        case InverseMethod::Ffill: return run.template operator()<InverseMethod::Ffill>();
        case InverseMethod::Bfill: break;
    }
    return run.template operator()<InverseMethod::Bfill>();
}

Stop extrapolate(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64 lowest, f64 highest, f64* out) {
    using extended::F80;
    const F80 F0 = F80::from_f64(f0), F1 = F80::from_f64(f1);  // f0 checked first
    const F80 d = F80::from_u64(x1 - x0);
    for (std::size_t j = 0; j < count; ++j) {
        const F80 a = signed_gap(x1, x[j]);  // X1 - X, exact
        const F80 p0 = F0 * a;
        const F80 b = signed_gap(x[j], x0);  // X - X0, exact
        const F80 p1 = F1 * b;
        const F80 n = p0 + p1;
        const F80 q = n / d;                                                     // d = X1 - X0, exact
        if (!q.is_zero() && q.exponent() >= 1025) return {j, Beyond::Overflow};  // |q| >= 2^1024
        const f64 v = q.to_f64();
        if (v < lowest || v > highest) return {j, Beyond::Overflow};
        out[j] = v;
    }
    return {count, Beyond::Ok};
}

Stop extrapolate(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out) {
    using extended::F80;
    const F80 F0 = F80::from_f64(f0), F1 = F80::from_f64(f1);  // f0 checked first
    const F80 X0 = F80::from_u64(x0), X1 = F80::from_u64(x1), d = F1 - F0;
    for (std::size_t j = 0; j < count; ++j) {
        if (!std::isfinite(f[j])) return {j, Beyond::Overflow};
        const F80 F = F80::from_f64(f[j]);
        const F80 a = F1 - F;
        const F80 p0 = X0 * a;
        const F80 b = F - F0;
        const F80 p1 = X1 * b;
        const F80 n = p0 + p1;
        const F80 q = n / d;
        F80 g;
        switch (method) {
            case InverseMethod::Exact:
                g = q.floor();
                if (!(g == q)) return {j, Beyond::NotFound};
                break;
            case InverseMethod::Nearest: g = q.round(); break;
            case InverseMethod::Ffill: g = q.floor(); break;
            case InverseMethod::Bfill: g = q.ceil(); break;
        }
        if (!g.is_zero() && (g.negative() || g.exponent() >= 65)) return {j, Beyond::Overflow};  // < 0 or >= 2^64
        const u64 v = g.to_u64();
        if (v < lowest || v > highest) return {j, Beyond::Overflow};
        out[j] = v;
    }
    return {count, Beyond::Ok};
}

}  // namespace rust::schemes
