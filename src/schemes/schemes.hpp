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
// Every scheme also offers its segment prepared once: segment(x0, f0, x1, f1)
// does the work that depends on the knots alone (and the checks that go with
// it), and the three-argument forward / inverse finish for one argument. The
// five-argument forms are the two run back to back, so both give the same
// bits; whole-array evaluation keeps the prepared segment while consecutive
// elements fall into it.

template <>
struct Forward<u64, i64> {
    struct Segment {
        u64 x0, x1, b0, b1;
    };
    static Segment segment(u64 x0, i64 f0, u64 x1, i64 f1) { return {x0, x1, biased(f0), biased(f1)}; }

    static i64 forward(const Segment& s, u64 x) { return finish(s, x, s.x1 - s.x0); }
    static i64 forward(u64 x, u64 x0, i64 f0, u64 x1, i64 f1) { return forward(segment(x0, f0, x1, f1), x); }

    // A segment used for many positions: its divisor d = x1 - x0 prepared for
    // division by multiplication. The same quotient and remainder, so the
    // same bits.
    struct Prepared {
        Segment s;
        wide::Divisor d;
    };
    static Prepared prepare(const Segment& s) { return {s, wide::prepare(s.x1 - s.x0)}; }
    static i64 forward(const Prepared& p, u64 x) { return finish(p.s, x, p.d); }

private:
    // D is the divisor x1 - x0 itself or prepared.
    template <class D>
    static i64 finish(const Segment& s, u64 x, const D& d) {
        // wl + wr = d, so N = wl·B1 + wr·B0 <= d·max(B0, B1) < 2^128, and the
        // quotient lies between B0 and B1 (rounding up included): it fits 64
        // bits and unbiases into [f0, f1]. 2^63 is even, so rounding the biased
        // quotient to even rounds the signed one to even.
        const u64 wl = x - s.x0, wr = s.x1 - x;
        const u128 n = wide::mul(wl, s.b1) + wide::mul(wr, s.b0);
        return unbiased(static_cast<u64>(*divop::div_round(n, d, InverseMethod::Nearest)));
    }
};

template <>
struct Inverse<i64, u64> {
    struct Segment {
        u64 x0, x1, b0, b1;
    };
    static Segment segment(u64 x0, i64 f0, u64 x1, i64 f1) { return {x0, x1, biased(f0), biased(f1)}; }

    static std::optional<u64> inverse(const Segment& s, i64 f, InverseMethod method) {
        return finish(s, f, s.b1 - s.b0, method);
    }
    static std::optional<u64> inverse(i64 f, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod method) {
        return inverse(segment(x0, f0, x1, f1), f, method);
    }

    // A segment used for many values: its divisor d = F1 - F0 prepared, as
    // in the forward scheme.
    struct Prepared {
        Segment s;
        wide::Divisor d;
    };
    static Prepared prepare(const Segment& s) { return {s, wide::prepare(s.b1 - s.b0)}; }
    static std::optional<u64> inverse(const Prepared& p, i64 f, InverseMethod method) {
        return finish(p.s, f, p.d, method);
    }

private:
    template <class D>
    static std::optional<u64> finish(const Segment& s, i64 f, const D& d, InverseMethod method) {
        // wl + wr = d < 2^64, N = x0·wr + x1·wl <= d·max(x0, x1) < 2^128; the
        // quotient, rounded either way, lies between x0 and x1.
        const u64 b = biased(f);
        const u64 wl = b - s.b0, wr = s.b1 - b;
        const u128 n = wide::mul(s.x0, wr) + wide::mul(s.x1, wl);
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
    // The knots as they are: converting f0 and f1 at each element lets the
    // compiler see that they are finite, which is worth more than the two
    // conversions it would save.
    struct Segment {
        u64 x0, x1;
        f64 f0, f1;
    };
    static Segment segment(u64 x0, f64 f0, u64 x1, f64 f1) { return {x0, x1, f0, f1}; }

    static f64 forward(const Segment& s, u64 x) {
        using extended::F80;
        const F80 F0 = F80::from_f64(s.f0);  // f0 is checked for finiteness before f1
        const F80 F1 = F80::from_f64(s.f1);
        // X1 - X, X - X0 and X1 - X0 are integers below 2^64, exact in F80:
        // each equals the F80 of the u64 difference (x0 < x < x1).
        const F80 a = F80::from_u64(s.x1 - x);
        const F80 p0 = F0 * a;
        const F80 b = F80::from_u64(x - s.x0);
        const F80 p1 = F1 * b;
        const F80 n = p0 + p1;
        const F80 d = F80::from_u64(s.x1 - s.x0);
        const F80 q = n / d;
        return q.to_f64();
    }
    static f64 forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) { return forward(segment(x0, f0, x1, f1), x); }
};

template <>
struct Inverse<f64, u64> {
    struct Segment {
        extended::F80 X0, X1, F0, F1, d;
    };
    // The conversions of the knots, f0 checked for finiteness before f1, and
    // d = F1 - F0. Every finiteness check fails with the same message, and
    // inside a segment f is finite anyway (f0 < f < f1), so converting f
    // after the knots decides no outcome differently.
    static Segment segment(u64 x0, f64 f0, u64 x1, f64 f1) {
        using extended::F80;
        const F80 X0 = F80::from_u64(x0), X1 = F80::from_u64(x1);
        const F80 F0 = F80::from_f64(f0);
        const F80 F1 = F80::from_f64(f1);
        return {X0, X1, F0, F1, F1 - F0};
    }

    static std::optional<u64> inverse(const Segment& s, f64 f, InverseMethod method) {
        using extended::F80;
        const F80 F = F80::from_f64(f);
        const F80 a = s.F1 - F;
        const F80 p0 = s.X0 * a;
        const F80 b = F - s.F0;
        const F80 p1 = s.X1 * b;
        const F80 n = p0 + p1;
        const F80 q = n / s.d;  // d = F1 - F0
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
    static std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method) {
        return inverse(segment(x0, f0, x1, f1), f, method);
    }
};

}  // namespace rust::schemes
