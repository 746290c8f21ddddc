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
        u64 q;
        divop::div_round_within(n, d, InverseMethod::Nearest, q);
        return unbiased(q);
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
        u64 q;
        if (!divop::div_round_within(n, d, method, q)) return std::nullopt;
        return q;
    }
};

// Float scheme: every step one F80 operation, in this order, so the result
// is the same on every processor. The position differences are exact
// integers; the products, the sum and the quotient round to 64 bits and the
// conversion out truncates.
//
// The steps run on magnitudes, F80's own arithmetic without its sign and
// special-kind dispatch: a segment's knots are converted (and checked) once,
// and which terms are zero and how the signs combine is decided per segment.
// Every operand inside is finite and nonzero, and every exponent stays far
// inside 32 bits (products of doubles and 64-bit integers, and quotients by
// them), so the results are those of the F80 operations step by step.
template <>
struct Forward<u64, f64> {
    // The nonzero terms of n = f0·(x1 - x) + f1·(x - x0), and how they combine.
    enum class Terms : std::uint8_t { None, Left, Right, Sum, Difference };
    struct Segment {
        u64 x0, x1;
        extended::Magnitude F0, F1, d;
        bool neg0, neg1;
        Terms terms;
    };
    static Segment segment(u64 x0, f64 f0, u64 x1, f64 f1) {
        using namespace extended;
        const DoubleFields d0 = fields(f0), d1 = fields(f1);
        check_finite(d0);  // f0 before f1
        check_finite(d1);
        const bool zero0 = (d0.field | d0.frac) == 0, zero1 = (d1.field | d1.frac) == 0;
        // One prvalue, so that the caller's storage is written directly (see
        // the inverse).
        const Terms terms = zero0              ? (zero1 ? Terms::None : Terms::Right)
                            : zero1            ? Terms::Left
                            : d0.neg == d1.neg ? Terms::Sum
                                               : Terms::Difference;
        return {x0,
                x1,
                zero0 ? Magnitude{} : magnitude(d0),
                zero1 ? Magnitude{} : magnitude(d1),
                magnitude(x1 - x0),
                d0.neg,
                d1.neg,
                terms};
    }

private:
    template <class Body>
    static decltype(auto) with_terms(Terms terms, Body&& body) {
        switch (terms) {
            case Terms::None: return body.template operator()<Terms::None>();
            case Terms::Left: return body.template operator()<Terms::Left>();
            case Terms::Right: return body.template operator()<Terms::Right>();
            case Terms::Sum: return body.template operator()<Terms::Sum>();
            case Terms::Difference: break;
        }
        return body.template operator()<Terms::Difference>();
    }

    template <Terms T>
    static f64 element(const Segment& s, u64 x) {
        using namespace extended;
        // a = X1 - X and b = X - X0 are integers in [1, 2^64): exact, the
        // magnitudes of the u64 differences (x0 < x < x1). A zero knot value
        // makes its product zero, and zero plus p is p.
        Magnitude n;
        bool neg;
        if constexpr (T == Terms::None) {
            return 0.0;
        } else if constexpr (T == Terms::Left) {
            n = mul(s.F0, magnitude(s.x1 - x));
            neg = s.neg0;
        } else if constexpr (T == Terms::Right) {
            n = mul(s.F1, magnitude(x - s.x0));
            neg = s.neg1;
        } else if constexpr (T == Terms::Sum) {
            n = add(mul(s.F0, magnitude(s.x1 - x)), mul(s.F1, magnitude(x - s.x0)));
            neg = s.neg0;
        } else {
            const Difference r = sub(mul(s.F0, magnitude(s.x1 - x)), mul(s.F1, magnitude(x - s.x0)));
            if (r.zero) return 0.0;  // q = 0
            n = r.value;
            neg = s.neg0 != r.swapped;
        }
        return truncated(neg, div(n, s.d));  // q = n / d, d = X1 - X0
    }

public:
    static f64 forward(const Segment& s, u64 x) {
        return with_terms(s.terms, [&]<Terms T>() { return element<T>(s, x); });
    }
    // Positions x[0 … count-1] all inside the segment, one kernel for all.
    static void forward(const Segment& s, const u64* x, std::size_t count, f64* out) {
        with_terms(s.terms, [&]<Terms T>() {
            for (std::size_t j = 0; j < count; ++j) out[j] = element<T>(s, x[j]);
        });
    }
    static f64 forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) { return forward(segment(x0, f0, x1, f1), x); }
};

template <>
struct Inverse<f64, u64> {
    // The nonzero terms of n = x0·(f1 - f) + x1·(f - f0).
    enum class Terms : std::uint8_t { None, Left, Right, Sum };
    static constexpr Terms terms_of(u64 x0, u64 x1) {
        return x0 == 0 ? (x1 == 0 ? Terms::None : Terms::Right) : (x1 == 0 ? Terms::Left : Terms::Sum);
    }

    struct Segment {
        extended::Bracket f;  // f0 and f1
        extended::Magnitude X0, X1, d;
        Terms terms;
    };
    // The conversions of the knots, f0 checked for finiteness before f1, and
    // d = F1 - F0. Every finiteness check fails with the same message, and
    // inside a segment f is finite anyway (f0 < f < f1), so converting f
    // after the knots decides no outcome differently.
    static Segment segment(u64 x0, f64 f0, u64 x1, f64 f1) {
        using namespace extended;
        check_finite(fields(f0));  // f0 before f1
        check_finite(fields(f1));
        // One prvalue, its parts too, so that the caller's storage is written
        // directly: a copy would read back, in wide loads, the narrow stores
        // that just wrote it, which the processor cannot forward.
        return {bracket(f0, f1), positive(x0), positive(x1), difference(f1, scaled(f1), f0, scaled(f0)),
                terms_of(x0, x1)};
    }

private:
    // A position's magnitude, or nothing for 0 (its product is zero).
    static extended::Magnitude positive(u64 x) { return x == 0 ? extended::Magnitude{} : extended::magnitude(x); }

    template <Terms T, class Body>
    static decltype(auto) with_method(InverseMethod method, Body& body) {
        switch (method) {
            case InverseMethod::Exact: return body.template operator()<T, InverseMethod::Exact>();
            case InverseMethod::Nearest: return body.template operator()<T, InverseMethod::Nearest>();
            case InverseMethod::Ffill: return body.template operator()<T, InverseMethod::Ffill>();
            case InverseMethod::Bfill: break;
        }
        return body.template operator()<T, InverseMethod::Bfill>();
    }
    template <class Body>
    static decltype(auto) with_kernel(Terms terms, InverseMethod method, Body&& body) {
        switch (terms) {
            case Terms::None: return with_method<Terms::None>(method, body);
            case Terms::Left: return with_method<Terms::Left>(method, body);
            case Terms::Right: return with_method<Terms::Right>(method, body);
            case Terms::Sum: break;
        }
        return with_method<Terms::Sum>(method, body);
    }

    // The position for n = p0 + p1 from the differences a = F1 - F and
    // b = F - F0, both positive (f0 < f < f1); positions are never negative,
    // so every term is a magnitude and n their sum. A zero position makes its
    // product zero, and zero plus p is p. False when absent (Exact). Steps
    // 3 to 9 of the inverse.
    template <Terms T, InverseMethod M>
    static bool position(extended::Magnitude X0, extended::Magnitude X1, extended::Gaps g, extended::Magnitude d,
                         u64& out) {
        using namespace extended;
        Magnitude n;
        if constexpr (T == Terms::None) {
            out = 0;  // q = 0, an integer under every method
            return true;
        } else if constexpr (T == Terms::Left) {
            n = mul(X0, g.above);
        } else if constexpr (T == Terms::Right) {
            n = mul(X1, g.below);
        } else {
            n = add(mul(X0, g.above), mul(X1, g.below));
        }
        return place<M>(div(n, d), out);
    }

    // Step 9 for q > 0: the method's whole position, false when absent (Exact).
    template <InverseMethod M>
    static bool place(extended::Magnitude q, u64& out) {
        using namespace extended;
        if (q.e >= 64) {  // from 2^63 up q is an integer already
            out = truncated_u64(q);
            return true;
        }
        constexpr ToInteger dir = M == InverseMethod::Nearest ? ToInteger::Round
                                  : M == InverseMethod::Bfill ? ToInteger::Ceil
                                                              : ToInteger::Floor;
        const Whole w = whole(false, q, dir);  // q < 2^63: the whole number fits
        out = w.whole;
        return M != InverseMethod::Exact || !w.fractional;
    }

    static void check(f64 f) { extended::check_finite(extended::fields(f)); }

public:
    static std::optional<u64> inverse(const Segment& s, f64 f, InverseMethod method) {
        u64 x;
        if (inverse(s, &f, 1, method, &x) == 0) return std::nullopt;
        return x;
    }
    // Values f[0 … count-1] all inside the segment, one kernel for all, up to
    // the first without a whole position (Exact); returns how many were answered.
    static std::size_t inverse(const Segment& s, const f64* f, std::size_t count, InverseMethod method, u64* out) {
        return with_kernel(s.terms, method, [&]<Terms T, InverseMethod M>() {
            for (std::size_t j = 0; j < count; ++j) {
                check(f[j]);
                u64 x;
                if (!position<T, M>(s.X0, s.X1, gaps(s.f, f[j]), s.d, x)) return j;
                out[j] = x;
            }
            return count;
        });
    }
    // One value: the differences formed directly, nothing prepared.
    static std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method) {
        using namespace extended;
        check(f);  // f first of all, then f0, then f1
        check(f0);
        check(f1);
        const Scaled sf = scaled(f), s0 = scaled(f0), s1 = scaled(f1);
        const Gaps g{difference(f1, s1, f, sf), difference(f, sf, f0, s0)};
        const Magnitude d = difference(f1, s1, f0, s0), X0 = positive(x0), X1 = positive(x1);
        u64 x = 0;
        const bool found = with_kernel(terms_of(x0, x1), method,
                                       [&]<Terms T, InverseMethod M>() { return position<T, M>(X0, X1, g, d, x); });
        if (!found) return std::nullopt;
        return x;
    }
};

// Beyond the segment.
//
// The same expressions continued past a segment's ends (x < x0 or x > x1
// forward, f < f0 or f > f1 inverse), for keys outside the table: the
// differences x1 - x and x - x0 (f1 - f and f - f0) are signed. The integer
// scheme keeps its one rounding of the exact rational (the numerator now
// needs a sign and up to 129 bits); the float scheme runs the same F80 steps
// in the same order. Outside a segment the result may leave its type: such a
// result is Overflow, as is a non-finite value to the float inverse.

enum class Beyond : std::uint8_t { Ok, NotFound, Overflow };

// How a run of keys beyond a segment ended: `answered` keys got their
// answer; where that is fewer than the run, `status` says why the next did not.
struct Stop {
    std::size_t answered;
    Beyond status;
};

// Each of keys[0 … count-1], all beyond the segment (x0, f0) … (x1, f1) on
// one side, continued into out; an answer outside [lowest, highest] is
// Overflow. The segment is prepared once for the run: the same answers as
// key by key.
//
// Integer forward: (f0·(x1 - x) + f1·(x - x0)) / (x1 - x0) rounded to
// nearest, ties to even; x0 < x1.
Stop extrapolate(const u64* x, std::size_t count, u64 x0, i64 f0, u64 x1, i64 f1, i64 lowest, i64 highest, i64* out);
// Float forward: the steps with signed a = X1 - X and b = X - X0 (exact),
// truncated toward zero; x0 < x1. An answer from 2^1024 up in magnitude is
// Overflow. A non-finite knot value is fatal, f0 first, as inside.
Stop extrapolate(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64 lowest, f64 highest, f64* out);
// Integer inverse: (x0·(f1 - f) + x1·(f - f0)) / (f1 - f0) rounded by the
// method (numerically: Ffill toward the smaller position); f0 < f1. NotFound
// under Exact where it is not whole; a negative position is Overflow.
Stop extrapolate(const i64* f, std::size_t count, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out);
// Float inverse: the steps, then the method's rounding of q; a non-finite
// knot value is fatal (f0 first), a non-finite f Overflow.
Stop extrapolate(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out);

}  // namespace rust::schemes
