// Whole-table evaluation against references written independently of the
// scheme code: exact rationals (GMP) for integer tables, and the float
// scheme's steps carried out in MPFR at 64 bits for float tables. The
// reference finds the segment by a linear scan. Results are compared bit for
// bit, error kinds and fatal messages exactly: element by element, and as
// whole arrays whose keys come in runs inside one segment (the run kernels),
// on every kernel target the processor runs.
#include <gmp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cinttypes>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "mpfr_ref.hpp"
#include "kernels/kernels.hpp"
#include "operands.hpp"
#include "piecewise/piecewise.hpp"
#include "schemes/rounded.hpp"
#include "targets.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::u64;
using rust::piecewise::InterpError;
using rust::piecewise::Rule;
using rust::piecewise::Rules;

constexpr InverseMethod kMethods[] = {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill,
                                      InverseMethod::Bfill};

// One evaluation's outcome: bits of the result, an error kind, or a fatal message.
struct Outcome {
    enum Kind { Value, Error, Fatal } kind;
    u64 bits = 0;
    InterpError error = InterpError::OutOfBounds;
    std::string message;

    bool operator==(const Outcome& o) const {
        return kind == o.kind && (kind != Value || bits == o.bits) && (kind != Error || error == o.error) &&
               (kind != Fatal || message == o.message);
    }
    std::string show() const {
        if (kind == Value) return "value " + std::to_string(bits);
        if (kind == Error) return "error " + std::to_string(static_cast<int>(error));
        return "fatal '" + message + "'";
    }
};

template <class T>
Outcome value(T v) {
    Outcome o{Outcome::Value, 0, InterpError::OutOfBounds, {}};
    std::memcpy(&o.bits, &v, 8);
    return o;
}
Outcome error(InterpError e) { return {Outcome::Error, 0, e, {}}; }
Outcome fatal(const char* m) { return {Outcome::Fatal, 0, InterpError::OutOfBounds, m}; }

template <class Eval>
Outcome ours(Eval&& eval) {
    try {
        const auto r = eval();
        return r.ok ? value(r.value) : error(r.error);
    } catch (const rust::Panic& p) {
        return fatal(p.what());
    }
}

// References.

class Z {  // an mpz_t that cleans up after itself
public:
    Z() { mpz_init(v); }
    Z(const Z&) = delete;
    ~Z() { mpz_clear(v); }
    void set_u(u64 x) { mpz_import(v, 1, 1, sizeof x, 0, 0, &x); }
    void set_i(i64 x) {
        set_u(x < 0 ? 0 - static_cast<u64>(x) : static_cast<u64>(x));
        if (x < 0) mpz_neg(v, v);
    }
    u64 get_u() const {
        u64 x = 0;
        std::size_t count = 0;
        mpz_export(&x, &count, 1, sizeof x, 0, 0, v);
        return x;
    }
    mpz_t v;
};

// num / den (den > 0) rounded by method; absent under Exact with a remainder.
bool round_rational(const Z& num, const Z& den, InverseMethod m, Z& out) {
    Z r, twice;
    mpz_fdiv_qr(out.v, r.v, num.v, den.v);  // floor, 0 <= r < den
    if (mpz_sgn(r.v) == 0) return true;
    switch (m) {
        case InverseMethod::Exact: return false;
        case InverseMethod::Ffill: return true;
        case InverseMethod::Bfill: mpz_add_ui(out.v, out.v, 1); return true;
        case InverseMethod::Nearest: {
            mpz_mul_2exp(twice.v, r.v, 1);
            const int c = mpz_cmp(twice.v, den.v);
            if (c > 0 || (c == 0 && mpz_odd_p(out.v))) mpz_add_ui(out.v, out.v, 1);
            return true;
        }
    }
    return false;
}

// The rational rounded to nearest (ties to even), in [lo, hi] or absent:
// inside a segment it always lies between f0 and f1.
std::optional<i64> ref_int_forward(u64 x, u64 x0, i64 f0, u64 x1, i64 f1, i64 lo = INT64_MIN, i64 hi = INT64_MAX) {
    Z a, b, num, t, den, q, X, X0, X1;
    X.set_u(x), X0.set_u(x0), X1.set_u(x1);
    mpz_sub(a.v, X1.v, X.v);
    mpz_sub(b.v, X.v, X0.v);
    Z F0, F1;
    F0.set_i(f0), F1.set_i(f1);
    mpz_mul(num.v, F0.v, a.v);
    mpz_mul(t.v, F1.v, b.v);
    mpz_add(num.v, num.v, t.v);
    mpz_sub(den.v, X1.v, X0.v);
    round_rational(num, den, InverseMethod::Nearest, q);
    Z L, H;
    L.set_i(lo), H.set_i(hi);
    if (mpz_cmp(q.v, L.v) < 0 || mpz_cmp(q.v, H.v) > 0) return std::nullopt;
    return mpz_get_si(q.v);
}

// False where absent (Exact); `overflow` where the rounded position lies
// outside [lo, hi].
bool ref_int_inverse(i64 f, u64 x0, i64 f0, u64 x1, i64 f1, InverseMethod m, u64& out, bool& overflow, u64 lo = 0,
                     u64 hi = ~u64{0}) {
    Z F, F0, F1, X0, X1, a, b, num, t, den, q;
    F.set_i(f), F0.set_i(f0), F1.set_i(f1), X0.set_u(x0), X1.set_u(x1);
    mpz_sub(a.v, F1.v, F.v);
    mpz_sub(b.v, F.v, F0.v);
    mpz_mul(num.v, X0.v, a.v);
    mpz_mul(t.v, X1.v, b.v);
    mpz_add(num.v, num.v, t.v);
    mpz_sub(den.v, F1.v, F0.v);
    if (!round_rational(num, den, m, q)) return false;
    Z L, H;
    L.set_u(lo), H.set_u(hi);
    overflow = mpz_cmp(q.v, L.v) < 0 || mpz_cmp(q.v, H.v) > 0;
    out = overflow ? 0 : q.get_u();
    return true;
}

// The float scheme's steps in MPFR, with the finiteness rule of the conversions.
struct MpfrScheme {
    ref::Scheme steps;

    static bool finite(f64 v) { return std::isfinite(v); }

    Outcome forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
        if (!finite(f0) || !finite(f1)) return fatal("assertion failed: value.is_finite()");
        return value(steps.forward(x, x0, f0, x1, f1));
    }

    Outcome inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod m) {
        if (!finite(f) || !finite(f0) || !finite(f1)) return fatal("assertion failed: value.is_finite()");
        const std::optional<u64> p = steps.inverse(f, x0, f0, x1, f1, m);
        return p ? value(*p) : error(InterpError::NotFound);
    }

    // The same steps past a segment's ends: an infinite result (from 2^1024
    // up) or a position outside 0 … 2^64 - 1 is Overflow, and so is an
    // infinite f; the knots are checked first.
    Outcome forward_beyond(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
        if (!finite(f0) || !finite(f1)) return fatal("assertion failed: value.is_finite()");
        const f64 v = steps.forward(x, x0, f0, x1, f1);
        return std::isinf(v) ? error(InterpError::Overflow) : value(v);
    }
    Outcome inverse_beyond(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod m, u64 lo, u64 hi) {
        if (!finite(f0) || !finite(f1)) return fatal("assertion failed: value.is_finite()");
        if (!finite(f)) return error(InterpError::Overflow);
        bool overflow = false;
        const std::optional<u64> p = steps.inverse(f, x0, f0, x1, f1, m, &overflow);
        if (!p) return error(InterpError::NotFound);
        if (overflow || *p < lo || *p > hi) return error(InterpError::Overflow);
        return value(*p);
    }
};

// Whole-table reference with a linear scan for the segment.
template <class F>
struct Reference {
    const std::vector<u64>& xp;
    const std::vector<F>& fp;
    MpfrScheme& mp;
    u64& interior;  // evaluations that reached a segment's strict interior

    template <class T>
    static bool increasing(const std::vector<T>& v) {
        return std::adjacent_find(v.begin(), v.end(), [](T a, T b) { return !(a < b); }) == v.end();
    }

    // Under rules (null: the module's own: the bounds raise, the inverse
    // methods clamp).
    Outcome forward(u64 x, const Rules<F>* rules = nullptr) const {
        if (!increasing(xp)) return error(InterpError::NotStrictlyIncreasing);
        const std::size_t n = xp.size();
        for (std::size_t k = 0; k < n; ++k)
            if (xp[k] == x) return value(fp[k]);
        if (n == 0) return error(InterpError::OutOfBounds);
        if (x < xp[0] || x > xp[n - 1]) {
            if (rules == nullptr) return error(InterpError::OutOfBounds);
            const bool right = x > xp[n - 1];
            return outside(*rules, right, fp, [&](std::size_t i) -> Outcome {
                if constexpr (std::is_same_v<F, i64>) {
                    const std::optional<i64> v =
                        ref_int_forward(x, xp[i - 1], fp[i - 1], xp[i], fp[i], rules->lowest, rules->highest);
                    return v ? value(*v) : error(InterpError::Overflow);
                } else {
                    return mp.forward_beyond(x, xp[i - 1], fp[i - 1], xp[i], fp[i]);
                }
            });
        }
        std::size_t i = 1;
        while (xp[i] < x) ++i;
        ++interior;
        if constexpr (std::is_same_v<F, i64>)
            return value(*ref_int_forward(x, xp[i - 1], fp[i - 1], xp[i], fp[i]));
        else
            return mp.forward(x, xp[i - 1], fp[i - 1], xp[i], fp[i]);
    }

    Outcome inverse(F f, InverseMethod m, const Rules<u64>* rules = nullptr) const {
        const Outcome o = inverse_raw(f, m, rules);
        if (rules != nullptr && rules->missing.rule == Rule::Fill && o.kind == Outcome::Error &&
            o.error == InterpError::NotFound)
            return value(rules->missing.fill);
        return o;
    }

    Outcome inverse_raw(F f, InverseMethod m, const Rules<u64>* rules) const {
        if (!increasing(fp)) return error(InterpError::NotStrictlyIncreasing);
        const std::size_t n = fp.size();
        if (n == 0) return error(InterpError::OutOfBounds);
        if constexpr (std::is_same_v<F, f64>) {
            if (std::isnan(f) && rules != nullptr && rules->missing.rule == Rule::Fill)
                return value(rules->missing.fill);
            if (std::isnan(f) || std::isnan(fp[0])) return fatal("nan or inf encountered");
        }
        for (std::size_t k = 0; k < n; ++k)
            if (fp[k] == f) return value(xp[k]);
        if (f < fp[0] || f > fp[n - 1]) {
            const bool right = f > fp[n - 1];
            const Rules<u64> own = rust::piecewise::method_rules<u64>(m);
            return outside(rules != nullptr ? *rules : own, right, xp, [&](std::size_t i) -> Outcome {
                if constexpr (std::is_same_v<F, i64>) {
                    u64 p;
                    bool overflow;
                    if (!ref_int_inverse(f, xp[i - 1], fp[i - 1], xp[i], fp[i], m, p, overflow, rules->lowest,
                                         rules->highest))
                        return error(InterpError::NotFound);
                    return overflow ? error(InterpError::Overflow) : value(p);
                } else {
                    return mp.inverse_beyond(f, xp[i - 1], fp[i - 1], xp[i], fp[i], m, rules->lowest, rules->highest);
                }
            });
        }
        std::size_t i = 1;
        while (fp[i] < f) ++i;
        ++interior;
        if constexpr (std::is_same_v<F, i64>) {
            u64 p;
            bool overflow;
            if (!ref_int_inverse(f, xp[i - 1], fp[i - 1], xp[i], fp[i], m, p, overflow))
                return error(InterpError::NotFound);
            return value(p);
        } else {
            return mp.inverse(f, xp[i - 1], fp[i - 1], xp[i], fp[i], m);
        }
    }

    // A key beyond the end `right` of the searched axis under the rules;
    // `answers` the other axis; extrapolate(i) continues segment i-1 … i.
    template <class V, class Extrapolate>
    Outcome outside(const Rules<V>& rules, bool right, const std::vector<V>& answers, Extrapolate&& extrapolate) const {
        const auto& side = right ? rules.right : rules.left;
        const std::size_t n = answers.size();
        switch (side.rule) {
            case Rule::Raise: return error(InterpError::OutOfBounds);
            case Rule::Clamp: return value(right ? answers[n - 1] : answers[0]);
            case Rule::Fill: return value(side.fill);
            case Rule::Extrapolate: break;
        }
        if (n < 2) return error(InterpError::TooFewKnots);
        return extrapolate(right ? n - 1 : 1);
    }
};

// Random tables and queries.

struct Tables {
    gen::Gen g;

    std::size_t size() {
        switch (g.below(6)) {
            case 0: return g.below(3);  // empty, one or two knots
            case 1: return 2 + g.below(8);
            default: return 1 + g.below(300);
        }
    }

    // Sorted distinct positions near 0, 2^63 or 2^64 - 1, or spread wide.
    std::vector<u64> positions(std::size_t n) {
        std::vector<u64> v(n);
        const int where = static_cast<int>(g.below(5));
        for (u64& x : v) {
            switch (where) {
                case 0: x = g.below(4 * n + 4); break;
                case 1: x = (u64{1} << 63) - 2 * n + g.below(4 * n); break;
                case 2: x = ~u64{0} - g.below(4 * n + 4); break;
                default: x = g.any_u64(); break;
            }
        }
        finish(v);
        return v;
    }

    std::vector<i64> int_values(std::size_t n) {
        std::vector<i64> v(n);
        const int where = static_cast<int>(g.below(4));
        for (i64& f : v) {
            switch (where) {
                case 0: f = INT64_MIN + static_cast<i64>(g.below(4 * n + 4)); break;
                case 1: f = INT64_MAX - static_cast<i64>(g.below(4 * n + 4)); break;
                case 2: f = static_cast<i64>(g.below(40 * n + 4)) - static_cast<i64>(20 * n); break;
                default: f = static_cast<i64>(g.any_u64()); break;
            }
        }
        finish(v);
        return v;
    }

    std::vector<f64> float_values(std::size_t n) {
        std::vector<f64> v(n);
        const int where = static_cast<int>(g.below(4));
        for (f64& f : v) {
            switch (where) {
                case 0: f = static_cast<f64>(static_cast<i64>(g.below(8 * n + 8)) - static_cast<i64>(4 * n)) / 4; break;
                case 1: f = g.any_double(); break;
                case 2:
                    f = std::ldexp(static_cast<f64>(g.below(1 << 20)), static_cast<int>(g.range(-1080, -1040)));
                    break;
                default: f = g.any_double(g.below(8) == 0); break;  // now and then inf or NaN
            }
        }
        finish(v);
        return v;
    }

    // Usually sorted and distinct; sometimes left as drawn, or with a repeat.
    template <class T>
    void finish(std::vector<T>& v) {
        const u64 r = g.below(10);
        if (r == 0) return;
        std::sort(v.begin(), v.end(), [](T a, T b) { return a < b; });
        v.erase(std::unique(v.begin(), v.end(), [](T a, T b) { return a == b; }), v.end());
        if (r == 1 && v.size() >= 2) v[1] = v[0];
    }

    // On a knot, just beside one, outside, or anywhere.
    u64 position_query(const std::vector<u64>& xp) {
        if (xp.empty() || g.below(6) == 0) return g.any_u64();
        const u64 k = xp[g.below(xp.size())];
        switch (g.below(4)) {
            case 0: return k;
            case 1: return k - 1;
            case 2: return k + 1;
            default: {
                const u64 lo = xp.front(), hi = std::max(xp.front(), xp.back());
                return lo + g.below(hi - lo + 1);
            }
        }
    }

    template <class F>
    F value_query(const std::vector<F>& fp) {
        if constexpr (std::is_same_v<F, i64>) {
            if (fp.empty() || g.below(6) == 0) return static_cast<i64>(g.any_u64());
            const i64 k = fp[g.below(fp.size())];
            switch (g.below(4)) {
                case 0: return k;
                case 1: return k - (k != INT64_MIN ? 1 : 0);
                case 2: return k + (k != INT64_MAX ? 1 : 0);
                default: {
                    const u64 lo = static_cast<u64>(fp.front()), span = static_cast<u64>(fp.back()) - lo;
                    return static_cast<i64>(lo + g.below(span + 1));
                }
            }
        } else {
            if (fp.empty() || g.below(6) == 0) return g.any_double(g.below(10) == 0);
            const f64 k = fp[g.below(fp.size())];
            switch (g.below(5)) {
                case 0: return k;
                case 1: return std::nextafter(k, -HUGE_VAL);
                case 2: return std::nextafter(k, HUGE_VAL);
                case 3: {  // the midpoint of a segment, where ties live
                    const std::size_t i = g.below(fp.size());
                    const f64 next = i + 1 < fp.size() ? fp[i + 1] : fp[i];
                    return fp[i] / 2 + next / 2;
                }
                default:
                    return fp.front() + (fp.back() - fp.front()) * (static_cast<f64>(g.below(1 << 20)) / (1 << 20));
            }
        }
    }
};

// Rules drawn for one table: each side any rule with a fill of any value,
// `missing` raising or a fill, the results' range narrowed now and then (by
// one, as a time kind keeps its lowest count for NaT, or to a window).
template <class V>
Rules<V> draw_rules(gen::Gen& g) {
    Rules<V> r;
    const auto fill = [&]() -> V {
        if constexpr (std::is_same_v<V, f64>)
            return g.below(4) == 0 ? std::nan("") : g.any_double();
        else
            return static_cast<V>(g.any_u64());
    };
    for (auto* side : {&r.left, &r.right}) {
        side->rule = static_cast<Rule>(g.below(4));
        side->fill = fill();
    }
    r.missing.rule = g.coin() ? Rule::Fill : Rule::Raise;
    r.missing.fill = fill();
    if constexpr (!std::is_same_v<V, f64>) {
        if (g.below(4) == 0) r.lowest = r.lowest + 1;
        if (g.below(8) == 0) r.highest = r.highest / 2;
    }
    return r;
}

// Keys beyond both ends of an axis, near them and far, added to `keys`.
template <class T>
void beyond_ends(const std::vector<T>& axis, gen::Gen& g, std::vector<T>& keys) {
    if (axis.empty()) return;
    for (int j = 0; j < 4; ++j) {
        const u64 step = g.below(3) == 0 ? 1 + g.below(4) : g.any_u64() >> g.below(64);
        if constexpr (std::is_same_v<T, f64>) {
            const f64 d = std::ldexp(static_cast<f64>(step >> 11) + 1, -static_cast<int>(g.below(70)));
            keys.push_back(axis.front() - d);
            keys.push_back(axis.back() + d);
        } else {
            keys.push_back(static_cast<T>(static_cast<u64>(axis.front()) - step));
            keys.push_back(static_cast<T>(static_cast<u64>(axis.back()) + step));
        }
    }
}

// A run of keys strictly inside one segment of a strictly increasing axis
// (1 to a few hundred, lengths that leave a partial vector, keys at both ends
// of the segment), sorted, as sorted queries reach the run kernels.
template <class T>
std::vector<T> run_inside(const std::vector<T>& axis, gen::Gen& g) {
    std::vector<T> run;
    if (axis.size() < 2) return run;
    const std::size_t i = 1 + g.below(axis.size() - 1);
    const T lo = axis[i - 1], hi = axis[i];
    if (!(lo < hi)) return run;
    const std::size_t length = g.below(4) == 0 ? 1 + g.below(300) : 1 + g.below(20);
    for (std::size_t k = 0; k < length; ++k) {
        T v;
        if constexpr (std::is_same_v<T, f64>) {
            const f64 a = std::nextafter(lo, hi), b = std::nextafter(hi, lo);
            if (!(a < hi) || !(lo < b)) return {};  // no double inside
            switch (g.below(4)) {
                case 0: v = g.coin() ? a : b; break;
                case 1: v = lo / 2 + hi / 2; break;
                default: v = lo + (hi - lo) * (static_cast<f64>(g.below(1 << 20)) / (1 << 20)); break;
            }
            if (!(lo < v && v < hi)) v = a;
        } else {
            using W = std::make_unsigned_t<T>;
            const W span = static_cast<W>(hi) - static_cast<W>(lo);  // >= 1
            if (span < 2) return {};
            const W offset = g.below(3) == 0 ? (g.coin() ? 1 : span - 1) : 1 + g.below(span - 1);
            v = static_cast<T>(static_cast<W>(lo) + offset);
        }
        run.push_back(v);
    }
    std::sort(run.begin(), run.end());
    return run;
}

// The keys through whole-array evaluation, resumed after each element that
// has no answer, every answer and error compared with the reference's.
template <class K, class V, class Eval, class Ref>
u64 compare_whole_array(const std::vector<K>& keys, Eval&& all, Ref&& reference, const char* what) {
    std::vector<V> out(keys.size());
    u64 mismatches = 0;
    for (std::size_t start = 0; start < keys.size();) {
        const rust::piecewise::Strided<K> view{reinterpret_cast<const unsigned char*>(keys.data() + start), sizeof(K),
                                               keys.size() - start};
        const std::optional<rust::piecewise::Failure> f = all(view, out.data() + start);
        const std::size_t end = f ? start + f->index : keys.size();
        for (std::size_t i = start; i < end; ++i) {
            const Outcome a = value(out[i]), b = reference(keys[i]);
            if (!(a == b) && ++mismatches <= 5)
                ADD_FAILURE() << what << " whole array, key " << i << " of " << keys.size() << ": " << a.show()
                              << " vs " << b.show() << " (" << rust::kernels::name(rust::kernels::active()) << ", seed "
                              << gen::seed() << ")";
        }
        if (!f) break;
        const Outcome a = error(f->error), b = reference(keys[end]);
        if (!(a == b) && ++mismatches <= 5)
            ADD_FAILURE() << what << " whole array, key " << end << ": " << a.show() << " vs " << b.show();
        start = end + 1;
    }
    return mismatches;
}

template <class F>
void run_differential(u64 salt, u64 tables, u64 queries_per_table, u64& evaluations, u64& interior) {
    ref::widen_exponent_range();
    Tables t{gen::Gen(salt)};
    MpfrScheme mp;
    u64 mismatches = 0;
    for (u64 k = 0; k < tables; ++k) {
        const std::size_t n = t.size();
        std::vector<u64> xp = t.positions(n);
        std::vector<F> fp;
        if constexpr (std::is_same_v<F, i64>)
            fp = t.int_values(n);
        else
            fp = t.float_values(n);
        fp.resize(xp.size(), fp.empty() ? F{} : fp.back());  // dedup may shorten either axis
        xp.resize(fp.size());
        const Reference<F> reference{xp, fp, mp, interior};
        const rust::piecewise::Interp<u64, F> table(xp, fp);
        // Runs inside a segment, whole arrays: the reference has no fatal
        // outcome for them where the knots are finite.
        if (table.xp_increasing() && std::all_of(fp.begin(), fp.end(), [](F f) { return MpfrScheme::finite(f); })) {
            const std::vector<u64> xs = run_inside(xp, t.g);
            mismatches += compare_whole_array<u64, F>(
                xs, [&](auto view, F* out) { return table.forward_all(view, out); },
                [&](u64 x) { return reference.forward(x); }, "forward");
            evaluations += xs.size();
        }
        if (table.fp_increasing() && std::all_of(fp.begin(), fp.end(), [](F f) { return MpfrScheme::finite(f); })) {
            const std::vector<F> fs = run_inside(fp, t.g);
            for (InverseMethod m : kMethods) {
                mismatches += compare_whole_array<F, u64>(
                    fs, [&](auto view, u64* out) { return table.inverse_all(view, m, out); },
                    [&](F f) { return reference.inverse(f, m); }, "inverse");
                evaluations += fs.size();
            }
        }
        // Float segments whose F80 quotients are doubles, or next to them, at
        // many keys: knot values of few bits over a span of a power of two
        // (and one more), where the double fast path hands keys on.
        if constexpr (std::is_same_v<F, f64>) {
            const u64 span = (u64{1} << (1 + t.g.below(62))) + (t.g.coin() ? 0 : 1);
            const u64 x0 = t.g.any_u64() % (~u64{0} - span);
            const auto few_bits = [&] {
                return std::ldexp(static_cast<f64>(static_cast<i64>(t.g.below(64)) - 32),
                                  static_cast<int>(t.g.range(-40, 40)));
            };
            const std::vector<u64> bx{x0, x0 + span};
            const std::vector<f64> bf{few_bits(), few_bits()};
            const Reference<F> boundary{bx, bf, mp, interior};
            const rust::piecewise::Interp<u64, F> bt(bx, bf);
            std::vector<u64> xs;
            for (u64 j = 1; j < 64 && j < span; ++j)
                xs.push_back(x0 + (t.g.coin() ? j : (span >> (1 + t.g.below(20))) * (1 + t.g.below(3))) % span);
            xs.erase(std::remove_if(xs.begin(), xs.end(), [&](u64 x) { return x <= x0 || x >= x0 + span; }), xs.end());
            std::sort(xs.begin(), xs.end());
            mismatches += compare_whole_array<u64, F>(
                xs, [&](auto view, F* out) { return bt.forward_all(view, out); },
                [&](u64 x) { return boundary.forward(x); }, "forward near doubles");
            evaluations += xs.size();
        }
        // Under drawn rules: a sorted query with keys beyond both ends
        // around a run inside, whole arrays (the run kernels and the rules in
        // one loop), and every key alone below (where a fatal error may come).
        const Rules<F> rf = draw_rules<F>(t.g);
        const Rules<u64> ru = draw_rules<u64>(t.g);
        const bool finite = std::all_of(fp.begin(), fp.end(), [](F f) { return MpfrScheme::finite(f); });
        if (table.xp_increasing() && finite) {
            std::vector<u64> xs = run_inside(xp, t.g);
            beyond_ends(xp, t.g, xs);
            std::sort(xs.begin(), xs.end());
            mismatches += compare_whole_array<u64, F>(
                xs, [&](auto view, F* out) { return table.forward_all(view, out, rf); },
                [&](u64 x) { return reference.forward(x, &rf); }, "forward, rules");
            evaluations += xs.size();
        }
        if (table.xp_increasing() && finite) {  // value columns: fp and fp reversed, one search per key
            std::vector<u64> xs = run_inside(xp, t.g);
            beyond_ends(xp, t.g, xs);
            std::sort(xs.begin(), xs.end());
            if (t.g.coin()) {  // or keys anywhere, any count, in any order: searched in lockstep over larger tables
                xs.resize(t.g.coin() ? 1 + t.g.below(100) : 1 + t.g.below(3000));
                for (u64& x : xs) x = t.position_query(xp);
            }
            const std::vector<F> reversed(fp.rbegin(), fp.rend());
            const Reference<F> second{xp, reversed, mp, interior};
            // Resumed after each failing key, as the whole-array comparison is.
            for (std::size_t start = 0; start < xs.size();) {
                const std::size_t count = xs.size() - start;
                std::vector<F> out(2 * count);
                const rust::piecewise::Strided<u64> view{reinterpret_cast<const unsigned char*>(xs.data() + start), 8,
                                                         count};
                const std::optional<rust::piecewise::Failure> f =
                    table.forward_columns(view, reversed.data(), 2, count, out.data(), rf);
                const std::size_t done = f ? f->index : count;
                for (std::size_t i = 0; i < done; ++i) {
                    const u64 x = xs[start + i];
                    const Outcome a = value(out[i]), b = value(out[count + i]);
                    if (!(a == reference.forward(x, &rf) && b == second.forward(x, &rf)) && ++mismatches <= 5)
                        ADD_FAILURE() << "forward columns, key " << start + i << " of " << xs.size() << " over " << n
                                      << " knots: " << a.show() << ", " << b.show() << " (seed " << gen::seed() << ")";
                }
                evaluations += 2 * done;
                if (!f) break;
                // the first of the two columns' errors at that key
                const u64 x = xs[start + done];
                const Outcome a = reference.forward(x, &rf), b = second.forward(x, &rf), e = error(f->error);
                if (!((b.kind == Outcome::Error && e == b) || (b.kind == Outcome::Value && e == a)) &&
                    ++mismatches <= 5)
                    ADD_FAILURE() << "forward columns stop at key " << start + done << ": " << e.show() << " vs "
                                  << a.show() << ", " << b.show();
                start += done + 1;
            }
        }
        if (table.fp_increasing() && finite) {
            std::vector<F> fs = run_inside(fp, t.g);
            beyond_ends(fp, t.g, fs);
            std::sort(fs.begin(), fs.end(), [](F a, F b) { return a < b; });
            for (InverseMethod m : kMethods) {
                mismatches += compare_whole_array<F, u64>(
                    fs, [&](auto view, u64* out) { return table.inverse_all(view, m, out, ru); },
                    [&](F f) { return reference.inverse(f, m, &ru); }, "inverse, rules");
                evaluations += fs.size();
            }
        }
        for (u64 q = 0; q < queries_per_table; ++q) {
            const u64 x = t.position_query(xp);
            {
                const Outcome a = ours([&] { return table.forward(x, rf); }), b = reference.forward(x, &rf);
                ++evaluations;
                if (!(a == b) && ++mismatches <= 5)
                    ADD_FAILURE() << "forward(" << x << ", rules) over " << n << " knots: " << a.show() << " vs "
                                  << b.show() << " (seed " << gen::seed() << ")";
            }
            const Outcome a = ours([&] { return table.forward(x); }), b = reference.forward(x);
            ++evaluations;
            if (!(a == b) && ++mismatches <= 5)
                ADD_FAILURE() << "forward(" << x << ") over " << n << " knots: " << a.show() << " vs " << b.show()
                              << " (seed " << gen::seed() << ")";
            const F f = t.value_query(fp);
            for (InverseMethod m : kMethods) {
                const Outcome e = ours([&] { return table.inverse(f, m, ru); }), r = reference.inverse(f, m, &ru);
                ++evaluations;
                if (!(e == r) && ++mismatches <= 5)
                    ADD_FAILURE() << "inverse(" << f << ", " << static_cast<int>(m) << ", rules) over " << n
                                  << " knots: " << e.show() << " vs " << r.show() << " (seed " << gen::seed() << ")";
                const Outcome c = ours([&] { return table.inverse(f, m); }), d = reference.inverse(f, m);
                ++evaluations;
                if (!(c == d) && ++mismatches <= 5)
                    ADD_FAILURE() << "inverse(" << f << ", " << static_cast<int>(m) << ") over " << n
                                  << " knots: " << c.show() << " vs " << d.show() << " (seed " << gen::seed() << ")";
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(interior, evaluations / 5) << "too few queries reached the schemes";
}

// Every kernel target the processor runs, forced in turn, in the default
// floating-point environment and under the caller's rounding toward zero
// (which the double fast path must leave to the F80 lanes).
using TargetAndRounding = std::tuple<rust::kernels::Target, int>;
class EvaluationDifferential : public ::testing::TestWithParam<TargetAndRounding> {
protected:
    void SetUp() override {
        rust::kernels::force(std::get<0>(GetParam()));
        ASSERT_EQ(std::fesetround(std::get<1>(GetParam())), 0);
    }
    void TearDown() override {
        std::fesetround(FE_TONEAREST);
        rust::kernels::choose_automatically();
    }
};

TEST_P(EvaluationDifferential, IntegerTablesAgainstExactRationals) {
    u64 evaluations = 0, interior = 0;
    run_differential<i64>(500, gen::count(20'000, 2'000'000), 20, evaluations, interior);
    std::printf("integer tables: %" PRIu64 " evaluations, %" PRIu64 " inside a segment, seed %" PRIu64 "\n",
                evaluations, interior, gen::seed());
}

TEST_P(EvaluationDifferential, FloatTablesAgainstMpfrSteps) {
    u64 evaluations = 0, interior = 0;
    const rust::kernels::FastPathCounts before = rust::kernels::fast_path_counts();
    run_differential<f64>(501, gen::count(20'000, 2'000'000), 20, evaluations, interior);
    const rust::kernels::FastPathCounts after = rust::kernels::fast_path_counts();
    const u64 keys = after.keys - before.keys, exact = after.exact - before.exact;
    std::printf("float tables: %" PRIu64 " evaluations, %" PRIu64 " inside a segment, %" PRIu64
                " run keys through the vector kernels, %" PRIu64 " of them by the F80 lanes, seed %" PRIu64 "\n",
                evaluations, interior, keys, exact, gen::seed());
    if (std::get<0>(GetParam()) == rust::kernels::Target::Scalar) return;
    EXPECT_GT(keys, 1000u);
    if (std::get<1>(GetParam()) == FE_TONEAREST) {  // both ways taken: answered in doubles, and handed on
        EXPECT_GT(keys - exact, keys / 10);
        EXPECT_GT(exact, keys / 1000);
    } else {
        EXPECT_EQ(exact, keys);
    }
}

// The front end's float scheme, the exact rational rounded once, against GMP:
// v (forward) and p (inverse) as rationals, rounded by comparisons of
// rationals. Segments of every span and values of every magnitude and sign,
// keys inside and beyond the segment, and keys built to sit on the hard
// places: midpoints between doubles, whole and half positions.
class Rational {
public:
    Rational() { mpq_init(q_); }
    ~Rational() { mpq_clear(q_); }
    Rational(const Rational&) = delete;
    Rational& operator=(const Rational&) = delete;
    static void of(mpq_t out, u64 v, bool negative = false) {
        mpz_t z;
        mpz_init(z);
        mpz_import(z, 1, 1, sizeof v, 0, 0, &v);
        if (negative) mpz_neg(z, z);
        mpq_set_z(out, z);
        mpz_clear(z);
    }
    mpq_t q_;
};

// The double nearest q (ties to even), or nothing beyond the largest double's
// rounding range.
std::optional<f64> nearest_double(const mpq_t q) {
    const f64 largest = std::numeric_limits<f64>::max();
    Rational limit, t;
    mpq_set_d(limit.q_, largest);
    mpq_set_d(t.q_, 0x1p970);
    mpq_add(limit.q_, limit.q_, t.q_);  // the middle of the largest and 2^1024: ties go to 2^1024
    mpq_abs(t.q_, q);
    if (mpq_cmp(t.q_, limit.q_) >= 0) return std::nullopt;
    f64 r = mpq_get_d(q);  // toward zero
    if (std::fabs(r) > largest) r = std::copysign(largest, r);
    const f64 away = std::nextafter(r, mpq_sgn(q) < 0 ? -INFINITY : INFINITY);
    Rational a, b;
    mpq_set_d(a.q_, r);
    mpq_sub(a.q_, q, a.q_);
    mpq_abs(a.q_, a.q_);
    if (!std::isfinite(away)) return r == 0 ? 0.0 : r;
    mpq_set_d(b.q_, away);
    mpq_sub(b.q_, q, b.q_);
    mpq_abs(b.q_, b.q_);
    const int c = mpq_cmp(a.q_, b.q_);
    f64 out = c < 0 ? r : c > 0 ? away : ((std::bit_cast<u64>(r) & 1) == 0 ? r : away);
    return out == 0 ? 0.0 : out;
}

std::string show_rounded(std::optional<f64> v) {
    return v ? std::to_string(*v) + " (" + std::to_string(std::bit_cast<u64>(*v)) + ")" : "overflow";
}

// Each form of the scheme against the exact answers: one key with the fast
// path first and by the exact path alone, and a table of the segment's two
// knots rounding once, key by key under extrapolating rules and in
// whole-array runs of the keys inside. Hits on a knot answer the knot itself
// (a -0.0 value included), so the tables skip them.
namespace rounded = rust::schemes::rounded;
using Once = rust::piecewise::Interp<u64, f64>;

template <class T>
bool same_answer(std::optional<T> a, std::optional<T> b) {
    if constexpr (std::is_same_v<T, f64>)
        return a.has_value() == b.has_value() && (!a || std::bit_cast<u64>(*a) == std::bit_cast<u64>(*b));
    else
        return a == b;
}

TEST_P(EvaluationDifferential, RoundedOnceAgainstExactRationals) {
    gen::Gen g(777);
    u64 mismatches = 0, forwards = 0, inverses = 0, inside_forwards = 0, whole_forwards = 0;
    const u64 segments = gen::count(3'000, 300'000);
    const rounded::Counts before = rounded::counts();
    const rust::kernels::FastPathCounts vector_before = rust::kernels::fast_path_counts();
    const auto report = [&](const std::string& what, const std::string& got, const std::string& want) {
        if (++mismatches <= 5)
            ADD_FAILURE() << what << ": " << got << " vs " << want << " (seed " << gen::seed() << ")";
    };
    rust::piecewise::Rules<f64> extrapolated;
    extrapolated.left.rule = extrapolated.right.rule = rust::piecewise::Rule::Extrapolate;
    for (u64 k = 0; k < segments; ++k) {
        u64 x0 = g.any_u64(), x1 = g.any_u64();
        switch (g.below(4)) {  // short spans, and nanosecond clocks
            case 0: x1 = x0 + 1 + g.below(g.coin() ? 4 : 1000); break;
            case 1:
                x0 = (u64{1} << 63) + 1'700'000'000'000'000'000ull + g.below(1'000'000'000'000),
                x1 = x0 + 1 + g.below(u64{1} << 40);
                break;
            default: break;
        }
        if (x0 == x1) continue;
        if (x0 > x1) std::swap(x0, x1);
        f64 f0 = g.any_double(), f1 = g.any_double();
        switch (g.below(8)) {  // the hard places, and ordinary values
            case 0: f1 = std::nextafter(f0, g.coin() ? INFINITY : -INFINITY); break;  // midpoints at the centre
            case 1: f1 = -f0; break;                                                  // a zero at the centre
            case 2: f1 = std::ldexp(f0, static_cast<int>(g.range(-3, 3))); break;
            case 3: f1 = std::ldexp(static_cast<f64>(g.range(-8, 8)), static_cast<int>(g.range(-60, 60))); break;
            case 4:
            case 5:  // decimals and seconds
                f0 = static_cast<f64>(g.range(-1'000'000, 1'000'000)) / 10;
                f1 = f0 + static_cast<f64>(g.range(-1'000'000, 1'000'000)) / 1000;
                break;
            default: break;
        }
        if (!std::isfinite(f1)) f1 = f0;
        const u64 d = x1 - x0;
        std::vector<u64> inside;
        std::vector<f64> inside_want;
        for (int q = 0; q < 8; ++q) {
            u64 x;
            switch (g.below(4)) {
                case 0: x = x0 + d / 2 + (g.coin() ? 0 : g.below(3)) - 1; break;  // the centre and beside it
                case 1: x = g.any_u64(); break;                                   // inside or beyond
                default: x = x0 + g.below(d + 1); break;
            }
            // v = (f0·(x1 - x) + f1·(x - x0)) / d
            Rational v, t, w;
            Rational::of(w.q_, x1 >= x ? x1 - x : x - x1, x1 < x);
            mpq_set_d(t.q_, f0);
            mpq_mul(v.q_, t.q_, w.q_);
            Rational::of(w.q_, x >= x0 ? x - x0 : x0 - x, x < x0);
            mpq_set_d(t.q_, f1);
            mpq_mul(t.q_, t.q_, w.q_);
            mpq_add(v.q_, v.q_, t.q_);
            Rational::of(w.q_, d);
            mpq_div(v.q_, v.q_, w.q_);
            const std::optional<f64> want = nearest_double(v.q_);
            const auto as_optional = [](rounded::Value r) {
                return r.overflow ? std::nullopt : std::optional<f64>(r.value);
            };
            const std::string what = "forward(" + std::to_string(x) + ", " + std::to_string(x0) + ", " +
                                     std::to_string(f0) + ", " + std::to_string(x1) + ", " + std::to_string(f1) + ")";
            ++forwards;
            if (const auto got = as_optional(rounded::forward(x, x0, f0, x1, f1)); !same_answer(got, want))
                report(what, show_rounded(got), show_rounded(want));
            if (const auto got = as_optional(rounded::forward_exact(x, x0, f0, x1, f1)); !same_answer(got, want))
                report(what + " exact path", show_rounded(got), show_rounded(want));
            if (x0 < x && x < x1) {
                ++inside_forwards;
                if (const std::optional<f64> got = rounded::forward_whole(x, x0, f0, x1, f1)) {
                    ++whole_forwards;
                    if (!same_answer(got, want))
                        report(what + " by whole numbers", show_rounded(got), show_rounded(want));
                }
            }
            if (x == x0 || x == x1) continue;
            const Once table({x0, x1}, {f0, f1}, rust::piecewise::Rounding::Once);
            const rust::piecewise::Result<f64> r = table.forward(x, extrapolated);
            const std::optional<f64> got = r.ok ? std::optional<f64>(r.value) : std::nullopt;
            if (!same_answer(got, want) || (!r.ok && r.error != rust::piecewise::InterpError::Overflow))
                report(what + " by the table", show_rounded(got), show_rounded(want));
            if (x0 < x && x < x1) {
                inside.push_back(x);
                inside_want.push_back(*want);
            }
        }
        if (!inside.empty()) {  // a whole-array run, in order
            std::vector<std::size_t> order(inside.size());
            for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
            std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return inside[a] < inside[b]; });
            std::vector<u64> keys;
            for (std::size_t j : order) keys.push_back(inside[j]);
            std::vector<f64> out(keys.size());
            const Once table({x0, x1}, {f0, f1}, rust::piecewise::Rounding::Once);
            EXPECT_FALSE(table.forward_all(
                {reinterpret_cast<const unsigned char*>(keys.data()), sizeof(u64), keys.size()}, out.data()));
            for (std::size_t j = 0; j < keys.size(); ++j)
                if (std::bit_cast<u64>(out[j]) != std::bit_cast<u64>(inside_want[order[j]]))
                    report("forward run at " + std::to_string(keys[j]), show_rounded(out[j]),
                           show_rounded(inside_want[order[j]]));
        }
        // The inverse over f0 < f1: keys at the values of whole and half
        // positions where doubles hold them, and anywhere.
        if (!(f0 < f1)) std::swap(f0, f1);
        if (!(f0 < f1)) continue;
        const bool reversed = g.coin();  // positions may stand in either order
        const u64 p0 = reversed ? x1 : x0, p1 = reversed ? x0 : x1;
        const Once table({p0, p1}, {f0, f1}, rust::piecewise::Rounding::Once);
        for (int q = 0; q < 8; ++q) {
            f64 f;
            switch (g.below(3)) {
                case 0: {  // the value at a whole or half position (where a double holds it)
                    const rounded::Value at =
                        rounded::forward(x0 + g.below(d + 1), x0, reversed ? f1 : f0, x1, reversed ? f0 : f1);
                    f = at.overflow ? f0 : at.value;
                    break;
                }
                case 1: f = g.any_double(); break;
                default: f = f0 + (f1 - f0) * static_cast<f64>(g.below(1001)) / 1000; break;
            }
            if (!std::isfinite(f)) f = f0;
            // u = Δ·(f - f0)/(f1 - f0), Δ = p1 - p0; p = p0 + u
            Rational u, t, w;
            mpq_set_d(u.q_, f);
            mpq_set_d(t.q_, f0);
            mpq_sub(u.q_, u.q_, t.q_);
            Rational::of(w.q_, p1 >= p0 ? p1 - p0 : p0 - p1, p1 < p0);
            mpq_mul(u.q_, u.q_, w.q_);
            mpq_set_d(w.q_, f1);
            mpq_sub(w.q_, w.q_, t.q_);
            mpq_div(u.q_, u.q_, w.q_);
            mpz_t fl;
            mpz_init(fl);
            mpz_fdiv_q(fl, mpq_numref(u.q_), mpq_denref(u.q_));
            Rational frac;
            mpq_set_z(frac.q_, fl);
            mpq_sub(frac.q_, u.q_, frac.q_);  // in [0, 1)
            Rational half;
            mpq_set_ui(half.q_, 1, 2);
            const int to_half = mpq_cmp(frac.q_, half.q_);
            const bool whole = mpq_sgn(frac.q_) == 0;
            for (const InverseMethod m : kMethods) {
                mpz_t k;
                mpz_init_set(k, fl);
                bool found = true;
                switch (m) {
                    case InverseMethod::Exact: found = whole; break;
                    case InverseMethod::Ffill: break;
                    case InverseMethod::Bfill:
                        if (!whole) mpz_add_ui(k, k, 1);
                        break;
                    case InverseMethod::Nearest:
                        if (to_half > 0 || (to_half == 0 && mpz_odd_p(fl))) mpz_add_ui(k, k, 1);
                        break;
                }
                Rational::of(w.q_, p0);
                mpz_add(k, k, mpq_numref(w.q_));  // the position
                // an offset of 2^64 or more from p0 is beyond every uint64, whatever the method says
                const bool far = mpz_sizeinbase(fl, 2) > 64;  // floor(u) >= 2^64 or <= -2^64
                const bool fits = !far && mpz_sgn(k) >= 0 && mpz_sizeinbase(k, 2) <= 64;
                if (far) found = true;
                u64 want_p = 0;
                if (found && fits) mpz_export(&want_p, nullptr, 1, sizeof want_p, 0, 0, k);
                mpz_clear(k);
                const std::string want = !found ? "none" : !fits ? "overflow" : std::to_string(want_p);
                const auto shown = [](std::optional<u64> p, bool overflow) {
                    return p ? std::to_string(*p) : overflow ? "overflow" : "none";
                };
                const std::string what = "inverse(" + std::to_string(f) + ", " + std::to_string(p0) + ", " +
                                         std::to_string(f0) + ", " + std::to_string(p1) + ", " + std::to_string(f1) +
                                         ", method " + std::to_string(static_cast<int>(m)) + ")";
                for (const bool exact_path : {false, true}) {
                    bool overflow = false;
                    const std::optional<u64> got = exact_path ? rounded::inverse_exact(f, p0, f0, p1, f1, m, overflow)
                                                              : rounded::inverse(f, p0, f0, p1, f1, m, overflow);
                    ++inverses;
                    const bool same = !found  ? (!got && !overflow)
                                      : !fits ? (!got && overflow)
                                              : (got && *got == want_p && !overflow);
                    if (!same) report(what + (exact_path ? " exact path" : ""), shown(got, overflow), want);
                }
                if (f == f0 || f == f1) continue;
                rust::piecewise::Rules<u64> rules;
                rules.left.rule = rules.right.rule = rust::piecewise::Rule::Extrapolate;
                const rust::piecewise::Result<u64> r = table.inverse(f, m, rules);
                const bool same = r.ok ? found && fits && r.value == want_p
                                       : r.error == (!found ? rust::piecewise::InterpError::NotFound
                                                            : rust::piecewise::InterpError::Overflow) &&
                                             !(found && fits);
                if (!same)
                    report(what + " by the table",
                           r.ok ? std::to_string(r.value) : "error " + std::to_string(static_cast<int>(r.error)), want);
            }
            mpz_clear(fl);
        }
        // A whole-array run of values inside, in order, by a method that always answers.
        std::vector<f64> values;
        for (int q = 0; q < 16; ++q) {  // anywhere, or at a whole position
            const rounded::Value at =
                rounded::forward(x0 + g.below(d + 1), x0, reversed ? f1 : f0, x1, reversed ? f0 : f1);
            const f64 v =
                q % 2 == 0 && !at.overflow ? at.value : f0 + (f1 - f0) * static_cast<f64>(g.below(1001)) / 1000;
            if (f0 <= v && v <= f1) values.push_back(v);
        }
        std::sort(values.begin(), values.end());
        std::vector<u64> out(values.size());
        const InverseMethod m = kMethods[1 + g.below(3)];
        EXPECT_FALSE(table.inverse_all(
            {reinterpret_cast<const unsigned char*>(values.data()), sizeof(f64), values.size()}, m, out.data()));
        for (std::size_t j = 0; j < values.size(); ++j) {
            if (!(f0 < values[j] && values[j] < f1)) continue;
            bool overflow = false;
            const std::optional<u64> want = rounded::inverse_exact(values[j], p0, f0, p1, f1, m, overflow);
            if (!want || *want != out[j])
                report("inverse run at " + std::to_string(values[j]), std::to_string(out[j]),
                       want ? std::to_string(*want) : "none");
        }
    }
    // Tables of many knots, keys in random order (and a few in short runs):
    // the keys that come one by one are answered a block at a time, each in
    // its own segment, with the one-key forms' answers above. Neighbouring
    // values are adjacent doubles, opposites, decimals or anything.
    for (int t = 0; t < 40; ++t) {
        const std::size_t n = 2 + g.below(g.coin() ? 8 : 300);
        std::vector<u64> xp(n);
        std::vector<f64> fp(n);
        for (std::size_t k = 0; k < n; ++k) {
            xp[k] = g.coin() ? g.any_u64() : 1'700'000'000'000'000'000ull + g.below(u64{1} << 40);
            switch (g.below(4)) {
                case 0:
                    fp[k] = k == 0 ? g.any_double() : std::nextafter(fp[k - 1], g.coin() ? INFINITY : -INFINITY);
                    break;
                case 1: fp[k] = k == 0 ? 1.0 : -fp[k - 1]; break;
                case 2: fp[k] = static_cast<f64>(g.range(-1'000'000, 1'000'000)) / 10; break;
                default: fp[k] = g.any_double(); break;
            }
            if (!std::isfinite(fp[k])) fp[k] = 0.5;
        }
        std::sort(xp.begin(), xp.end());
        xp.erase(std::unique(xp.begin(), xp.end()), xp.end());
        fp.resize(xp.size());
        if (xp.size() < 2) continue;
        std::vector<u64> keys(1 + g.below(2000));
        for (u64& x : keys) {
            const std::size_t i = 1 + g.below(xp.size() - 1);
            x = g.below(8) == 0 ? xp[i] : xp[i - 1] + 1 + g.below(xp[i] - xp[i - 1]);  // a hit now and then
            if (x == xp[i] && g.coin()) x = xp[i - 1] + (xp[i] - xp[i - 1]) / 2;
        }
        if (g.coin()) std::sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(keys.size() / 2));
        const Once table(rust::piecewise::Knots<u64>(xp.begin(), xp.end()),
                         rust::piecewise::Knots<f64>(fp.begin(), fp.end()), rust::piecewise::Rounding::Once);
        std::vector<f64> out(keys.size());
        EXPECT_FALSE(table.forward_all({reinterpret_cast<const unsigned char*>(keys.data()), sizeof(u64), keys.size()},
                                       out.data()));
        for (std::size_t j = 0; j < keys.size(); ++j) {
            const rust::piecewise::SearchResult s = rust::piecewise::search(xp.data(), xp.size(), keys[j]);
            const f64 want =
                s.hit ? fp[s.index]
                      : rounded::forward(keys[j], xp[s.index - 1], fp[s.index - 1], xp[s.index], fp[s.index]).value;
            if (std::bit_cast<u64>(out[j]) != std::bit_cast<u64>(want))
                report("forward over " + std::to_string(xp.size()) + " knots at " + std::to_string(keys[j]),
                       show_rounded(out[j]), show_rounded(want));
        }
        // the inverse over the values in increasing order
        std::sort(fp.begin(), fp.end());
        fp.erase(std::unique(fp.begin(), fp.end()), fp.end());
        if (fp.size() < 2) continue;
        xp.resize(fp.size());
        std::vector<f64> values(keys.size());
        for (f64& f : values) {
            const std::size_t i = 1 + g.below(fp.size() - 1);
            const u64 span = xp[i] - xp[i - 1],
                      near = g.below(3) == 0 ? std::min<u64>(span, 16) : span;  // near a knot, or anywhere
            const u64 at = g.coin() ? xp[i - 1] + g.below(near + 1) : xp[i] - g.below(near + 1);
            f = g.coin() ? rounded::forward(at, xp[i - 1], fp[i - 1], xp[i], fp[i]).value
                         : fp[i - 1] + (fp[i] - fp[i - 1]) * static_cast<f64>(g.below(1001)) / 1000;
            if (!(fp[i - 1] <= f && f <= fp[i])) f = fp[i - 1];  // (a rounded step may pass the knot)
        }
        if (g.coin()) std::reverse(xp.begin(), xp.end());  // positions in either order
        const Once rising(rust::piecewise::Knots<u64>(xp.begin(), xp.end()),
                          rust::piecewise::Knots<f64>(fp.begin(), fp.end()), rust::piecewise::Rounding::Once);
        const InverseMethod m = kMethods[g.below(4)];
        std::vector<u64> positions(values.size());
        const std::optional<rust::piecewise::Failure> failure = rising.inverse_all(
            {reinterpret_cast<const unsigned char*>(values.data()), sizeof(f64), values.size()}, m, positions.data());
        const std::size_t done = failure ? failure->index : values.size();
        for (std::size_t j = 0; j < done; ++j) {
            const rust::piecewise::SearchResult s = rust::piecewise::search(fp.data(), fp.size(), values[j]);
            bool overflow = false;
            const std::optional<u64> want = s.hit ? std::optional<u64>(xp[s.index])
                                                  : rounded::inverse(values[j], xp[s.index - 1], fp[s.index - 1],
                                                                     xp[s.index], fp[s.index], m, overflow);
            if (want != positions[j])
                report("inverse over " + std::to_string(fp.size()) + " knots at " + std::to_string(values[j]),
                       std::to_string(positions[j]), want ? std::to_string(*want) : "none");
        }
        if (failure) {  // only Exact stops, at a value without a whole position
            bool overflow = false;
            const rust::piecewise::SearchResult s = rust::piecewise::search(fp.data(), fp.size(), values[done]);
            EXPECT_EQ(m, InverseMethod::Exact);
            EXPECT_TRUE(!s.hit && !rounded::inverse(values[done], xp[s.index - 1], fp[s.index - 1], xp[s.index],
                                                    fp[s.index], m, overflow));
        }
    }
    const rounded::Counts after = rounded::counts();
    const rust::kernels::FastPathCounts vector_after = rust::kernels::fast_path_counts();
    const u64 vector_keys = vector_after.rounded_keys - vector_before.rounded_keys;
    const u64 vector_exact = vector_after.rounded_exact - vector_before.rounded_exact;
    const u64 keys = after.keys - before.keys + vector_keys, exact = after.exact - before.exact + vector_exact;
    std::printf("rounded once: %" PRIu64 " forwards, %" PRIu64 " inverses, %" PRIu64
                " keys by the fast path's forms (%" PRIu64 " by the vector kernels), %" PRIu64
                " of them by the exact path; %" PRIu64 " of %" PRIu64
                " keys inside answered by whole numbers, seed %" PRIu64 "\n",
                forwards, inverses, keys, vector_keys, exact, whole_forwards, inside_forwards, gen::seed());
    EXPECT_EQ(mismatches, 0u);
    // The one-key form answers by whole numbers in every environment.
    EXPECT_GT(whole_forwards, inside_forwards / 4);
    EXPECT_GT(after.whole - before.whole, 0u);
    if (std::get<0>(GetParam()) != rust::kernels::Target::Scalar) {
        EXPECT_GT(vector_keys, 100u);
    }
    if (std::get<1>(GetParam()) == FE_TONEAREST) {  // both ways taken: answered in doubles, and handed on
        EXPECT_GT(keys - exact, keys / 4);
        EXPECT_GT(exact, keys / 1000);
    } else {
        EXPECT_EQ(exact, keys);  // outside the default environment the exact path answers every key
    }
}

// Rounding once keeps the caller's floating-point environment: its status
// flags as they were (none raised, none cleared) and its rounding mode, for
// one key (no Scope held), a short run, keys that come one by one (kept and
// answered together), a long run, and outside the table, both directions.
TEST_P(EvaluationDifferential, RoundingOnceKeepsTheCallersFlags) {
    const Once table({1000, 2000, 3000, 10'000'000}, {0.1, 1.0 / 3, 2.5, 7.0}, rust::piecewise::Rounding::Once);
    const std::vector<std::vector<u64>> queries = {
        {1234}, {1001, 1002, 1003}, {2999, 1001, 2500, 1500, 9'999'999, 1200}, {}, {5, 20'000'000, 1500}};
    std::vector<u64> long_run(300);
    for (std::size_t k = 0; k < long_run.size(); ++k) long_run[k] = 3001 + 17 * k;
    const int mode = std::fegetround();
    rust::piecewise::Rules<f64> clamp;
    clamp.left.rule = clamp.right.rule = rust::piecewise::Rule::Clamp;
    rust::piecewise::Rules<u64> nearest = rust::piecewise::method_rules<u64>(InverseMethod::Nearest);
    for (const int flags : {0, FE_INEXACT, FE_DIVBYZERO | FE_UNDERFLOW, FE_ALL_EXCEPT}) {
        for (std::vector<u64> keys : queries) {
            if (keys.empty()) keys = long_run;
            std::vector<f64> values(keys.size());
            std::vector<u64> positions(keys.size());
            std::feclearexcept(FE_ALL_EXCEPT);
            std::feraiseexcept(flags);
            EXPECT_FALSE(table.forward_all(
                {reinterpret_cast<const unsigned char*>(keys.data()), sizeof(u64), keys.size()}, values.data(), clamp));
            EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), flags) << "forward of " << keys.size() << " keys";
            EXPECT_FALSE(
                table.inverse_all({reinterpret_cast<const unsigned char*>(values.data()), sizeof(f64), values.size()},
                                  InverseMethod::Nearest, positions.data(), nearest));
            EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), flags) << "inverse of " << keys.size() << " values";
            EXPECT_EQ(std::fegetround(), mode);
        }
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

INSTANTIATE_TEST_SUITE_P(Targets, EvaluationDifferential,
                         ::testing::Combine(::testing::ValuesIn(kernel_targets::supported()),
                                            ::testing::Values(FE_TONEAREST, FE_TOWARDZERO)),
                         [](const auto& info) {
                             return std::string(rust::kernels::name(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) == FE_TONEAREST ? "" : "_toward_zero");
                         });

}  // namespace
