// GNU MPFR at 64 bits, round to nearest-even: the reference F80 is held to.
#pragma once

#include <mpfr.h>

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "base/base.hpp"
#include "extended/extended.hpp"

namespace ref {

using rust::u64;
using rust::extended::F80;

// Exponents far wider than any operand the tests form.
inline void widen_exponent_range() {
    mpfr_set_emin(mpfr_get_emin_min());
    mpfr_set_emax(mpfr_get_emax_max());
}

class Mp {
public:
    Mp() { mpfr_init2(v_, 64); }
    explicit Mp(const F80& x) : Mp() { set(x); }
    Mp(const Mp&) = delete;
    Mp& operator=(const Mp&) = delete;
    ~Mp() { mpfr_clear(v_); }
    mpfr_ptr get() { return v_; }
    mpfr_srcptr get() const { return v_; }

    void set(const F80& x) {
        switch (x.kind()) {
            case F80::Kind::Zero: mpfr_set_zero(v_, 1); return;
            case F80::Kind::NaN: mpfr_set_nan(v_); return;
            case F80::Kind::Inf: mpfr_set_inf(v_, x.negative() ? -1 : 1); return;
            case F80::Kind::Finite: break;
        }
        // m·2^(e-64) is exact at 64 bits.
        mpfr_set_ui_2exp(v_, x.significand(), static_cast<mpfr_exp_t>(x.exponent()) - 64, MPFR_RNDN);
        if (x.negative()) mpfr_neg(v_, v_, MPFR_RNDN);
    }

    // The exact F80 with this value; MPFR's exponent has the same meaning
    // (2^(e-1) <= |v| < 2^e) and its one 64-bit limb is the significand.
    F80 to_f80() const {
        if (mpfr_nan_p(v_)) return F80::nan();
        if (mpfr_inf_p(v_)) return F80::infinity(mpfr_signbit(v_) != 0);
        if (mpfr_zero_p(v_)) return F80();
        const auto* limbs = static_cast<const mp_limb_t*>(mpfr_custom_get_significand(v_));
        return F80::finite(mpfr_signbit(v_) != 0, static_cast<std::int32_t>(mpfr_get_exp(v_)), limbs[0]);
    }

private:
    mpfr_t v_;
};

inline bool same(const F80& a, const F80& b) {
    if (a.kind() != b.kind()) return false;
    if (a.kind() == F80::Kind::Zero || a.kind() == F80::Kind::NaN) return true;
    if (a.kind() == F80::Kind::Inf) return a.negative() == b.negative();
    return a.negative() == b.negative() && a.exponent() == b.exponent() && a.significand() == b.significand();
}

inline std::string show(const F80& x) {
    char buf[96];
    switch (x.kind()) {
        case F80::Kind::Zero: return "zero";
        case F80::Kind::NaN: return "nan";
        case F80::Kind::Inf: return x.negative() ? "-inf" : "+inf";
        case F80::Kind::Finite: break;
    }
    std::snprintf(buf, sizeof buf, "%c0x%016" PRIx64 "p%+d", x.negative() ? '-' : '+', x.significand(),
                  static_cast<int>(x.exponent()));
    return buf;
}

enum class Op { Add, Sub, Mul, Div };

inline F80 binary(Op op, const F80& a, const F80& b) {
    Mp x(a), y(b), r;
    switch (op) {
        case Op::Add: mpfr_add(r.get(), x.get(), y.get(), MPFR_RNDN); break;
        case Op::Sub: mpfr_sub(r.get(), x.get(), y.get(), MPFR_RNDN); break;
        case Op::Mul: mpfr_mul(r.get(), x.get(), y.get(), MPFR_RNDN); break;
        case Op::Div: mpfr_div(r.get(), x.get(), y.get(), MPFR_RNDN); break;
    }
    return r.to_f80();
}

enum class Integral { Floor, Ceil, Round };

inline F80 integral(Integral op, const F80& a) {
    Mp x(a), r;
    switch (op) {
        case Integral::Floor: mpfr_floor(r.get(), x.get()); break;
        case Integral::Ceil: mpfr_ceil(r.get(), x.get()); break;
        case Integral::Round: mpfr_rint(r.get(), x.get(), MPFR_RNDN); break;
    }
    return r.to_f80();
}

// Conversion to a double by truncation: MPFR's own truncation toward zero
// covers the normal and subnormal ranges; from 2^1024 up the result is the
// signed infinity, and a zero result is +0.0 whatever the sign.
inline double to_f64(mpfr_srcptr x) {
    if (mpfr_zero_p(x)) return 0.0;
    if (mpfr_get_exp(x) >= 1025) return mpfr_signbit(x) ? -HUGE_VAL : HUGE_VAL;
    const double d = mpfr_get_d(x, MPFR_RNDZ);
    return d == 0.0 ? 0.0 : d;
}
inline double to_f64(const F80& a) { return to_f64(Mp(a).get()); }

// Conversion to u64 by truncation, clamped to 0 … 2^64 - 1.
inline u64 to_u64(mpfr_srcptr x) {
    if (mpfr_zero_p(x) || mpfr_signbit(x)) return 0;
    static_assert(sizeof(unsigned long) == 8);
    if (!mpfr_fits_ulong_p(x, MPFR_RNDZ)) return ~u64{0};
    return mpfr_get_ui(x, MPFR_RNDZ);
}
inline u64 to_u64(const F80& a) { return to_u64(Mp(a).get()); }

// The float scheme's steps, each one MPFR operation at 64 bits in the same
// order, then the system's conversions out. Inputs must be finite.
class Scheme {
public:
    double forward(u64 x, u64 x0, double f0, u64 x1, double f1) {
        mpfr_set_ui(X.get(), x, MPFR_RNDN), mpfr_set_ui(X0.get(), x0, MPFR_RNDN), mpfr_set_ui(X1.get(), x1, MPFR_RNDN);
        mpfr_set_d(F0.get(), f0, MPFR_RNDN), mpfr_set_d(F1.get(), f1, MPFR_RNDN);
        mpfr_sub(a.get(), X1.get(), X.get(), MPFR_RNDN);
        mpfr_mul(p0.get(), F0.get(), a.get(), MPFR_RNDN);
        mpfr_sub(b.get(), X.get(), X0.get(), MPFR_RNDN);
        mpfr_mul(p1.get(), F1.get(), b.get(), MPFR_RNDN);
        mpfr_add(n.get(), p0.get(), p1.get(), MPFR_RNDN);
        mpfr_sub(d.get(), X1.get(), X0.get(), MPFR_RNDN);
        mpfr_div(q.get(), n.get(), d.get(), MPFR_RNDN);
        return to_f64(q.get());
    }

    // The position, rounded as the method says; absent under Exact when the
    // quotient is not an integer. `overflow`, where given, tells whether the
    // rounded position lies outside 0 … 2^64 - 1 (beyond a segment's ends).
    std::optional<u64> inverse(double f, u64 x0, double f0, u64 x1, double f1, rust::InverseMethod m,
                               bool* overflow = nullptr) {
        using rust::InverseMethod;
        mpfr_set_d(F.get(), f, MPFR_RNDN), mpfr_set_d(F0.get(), f0, MPFR_RNDN), mpfr_set_d(F1.get(), f1, MPFR_RNDN);
        mpfr_set_ui(X0.get(), x0, MPFR_RNDN), mpfr_set_ui(X1.get(), x1, MPFR_RNDN);
        mpfr_sub(a.get(), F1.get(), F.get(), MPFR_RNDN);
        mpfr_mul(p0.get(), X0.get(), a.get(), MPFR_RNDN);
        mpfr_sub(b.get(), F.get(), F0.get(), MPFR_RNDN);
        mpfr_mul(p1.get(), X1.get(), b.get(), MPFR_RNDN);
        mpfr_add(n.get(), p0.get(), p1.get(), MPFR_RNDN);
        mpfr_sub(d.get(), F1.get(), F0.get(), MPFR_RNDN);
        mpfr_div(q.get(), n.get(), d.get(), MPFR_RNDN);
        switch (m) {
            case InverseMethod::Exact:
                if (!mpfr_integer_p(q.get())) return std::nullopt;
                mpfr_set(g.get(), q.get(), MPFR_RNDN);
                break;
            case InverseMethod::Nearest: mpfr_rint(g.get(), q.get(), MPFR_RNDN); break;
            case InverseMethod::Ffill: mpfr_floor(g.get(), q.get()); break;
            case InverseMethod::Bfill: mpfr_ceil(g.get(), q.get()); break;
        }
        if (overflow != nullptr)
            *overflow = !mpfr_zero_p(g.get()) && (mpfr_signbit(g.get()) || mpfr_get_exp(g.get()) >= 65);
        return to_u64(g.get());
    }

private:
    Mp X, X0, X1, F, F0, F1, a, p0, b, p1, n, d, q, g;
};

}  // namespace ref
