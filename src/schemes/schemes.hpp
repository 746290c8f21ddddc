// The arithmetic of one segment between a left knot (x0, f0) and a right knot
// (x1, f1), in table order:
//   forward  (f0·(x1 - x) + f1·(x - x0)) / (x1 - x0)
//   inverse  (x0·(f1 - f) + x1·(f - f0)) / (f1 - f0)
// Forward<X, F> is provided by the position type X and yields a value F;
// Inverse<F, X> is provided by the value type F and yields an optional
// position X, absent only under InverseMethod::Exact when no whole position
// maps to the value. Pure functions: no state, no allocation.
#pragma once

#include <concepts>
#include <optional>

#include "base/base.hpp"
#include "divop/divop.hpp"
#include "extended/extended.hpp"

namespace rust::schemes {

template <class X, class F>
struct Forward;

template <class F, class X>
struct Inverse;

// Precondition x0 < x < x1.
template <class S, class X, class F>
concept ForwardScheme = requires(X x, F f) {
    { S::forward(x, x, f, x, f) } -> std::same_as<F>;
};

// Precondition f0 < f < f1; x0 and x1 may stand in any order.
template <class S, class F, class X>
concept InverseScheme = requires(F f, X x, InverseMethod m) {
    { S::inverse(f, x, f, x, f, m) } -> std::same_as<std::optional<X>>;
};

// Biased form of an i64: v + 2^63 mod 2^64. It preserves order, and the u64
// difference of two biased forms is the true difference when that is >= 0.
constexpr u64 biased(i64 v) { return static_cast<u64>(v) ^ (u64{1} << 63); }
constexpr i64 unbiased(u64 b) { return static_cast<i64>(b ^ (u64{1} << 63)); }

// Integer scheme: exact in unsigned 128-bit arithmetic, one rounding.
template <>
struct Forward<u64, i64> {
    static i64 forward(u64 x, u64 x0, i64 f0, u64 x1, i64 f1) {
        // wl + wr = d, so N = wl·B1 + wr·B0 <= d·max(B0, B1) < 2^128, and the
        // quotient lies between B0 and B1 (rounding up included): it fits 64
        // bits and unbiases into [f0, f1]. 2^63 is even, so rounding the biased
        // quotient to even rounds the signed one to even.
        const u64 d = x1 - x0, wl = x - x0, wr = x1 - x;
        const u128 n = static_cast<u128>(wl) * biased(f1) + static_cast<u128>(wr) * biased(f0);
        return unbiased(static_cast<u64>(*divop::div_round(n, d, InverseMethod::Nearest)));
    }
};

template <>
struct Inverse<i64, u64> {
    static std::optional<u64> inverse(i64 f, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod method) {
        // wl + wr = d < 2^64, N = x0·wr + x1·wl <= d·max(x0, x1) < 2^128; the
        // quotient, rounded either way, lies between x0 and x1.
        const u64 d = biased(f1) - biased(f0), wl = biased(f) - biased(f0), wr = biased(f1) - biased(f);
        const u128 n = static_cast<u128>(x0) * wr + static_cast<u128>(x1) * wl;
        const std::optional<u128> q = divop::div_round(n, d, method);
        if (!q) return std::nullopt;
        return static_cast<u64>(*q);
    }
};

// Float scheme: every step one F80 operation, in this order, so the result
// is the same on every processor. The position differences are exact
// integers; the products, the sum and the quotient round to 64 bits and the
// conversion out truncates.
template <>
struct Forward<u64, f64> {
    static f64 forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
        using extended::F80;
        const F80 F0 = F80::from_f64(f0);  // f0 is checked for finiteness before f1
        const F80 F1 = F80::from_f64(f1);
        // X1 - X, X - X0 and X1 - X0 are integers below 2^64, exact in F80:
        // each equals the F80 of the u64 difference (x0 < x < x1).
        const F80 a = F80::from_u64(x1 - x);
        const F80 p0 = F0 * a;
        const F80 b = F80::from_u64(x - x0);
        const F80 p1 = F1 * b;
        const F80 n = p0 + p1;
        const F80 d = F80::from_u64(x1 - x0);
        const F80 q = n / d;
        return q.to_f64();
    }
};

template <>
struct Inverse<f64, u64> {
    static std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method) {
        using extended::F80;
        const F80 F = F80::from_f64(f);  // finiteness: f, then f0, then f1
        const F80 X0 = F80::from_u64(x0), X1 = F80::from_u64(x1);
        const F80 F0 = F80::from_f64(f0);
        const F80 F1 = F80::from_f64(f1);
        const F80 a = F1 - F;
        const F80 p0 = X0 * a;
        const F80 b = F - F0;
        const F80 p1 = X1 * b;
        const F80 n = p0 + p1;
        const F80 d = F1 - F0;
        const F80 q = n / d;
        switch (method) {
            case InverseMethod::Exact: {
                const F80 g = q.floor();
                if (!(g == q)) return std::nullopt;
                return g.to_u64();
            }
            case InverseMethod::Nearest: return q.round().to_u64();
            case InverseMethod::Ffill: return q.floor().to_u64();
            case InverseMethod::Bfill: return q.ceil().to_u64();
        }
        return std::nullopt;  // unreachable: every method is handled above
    }
};

}  // namespace rust::schemes
