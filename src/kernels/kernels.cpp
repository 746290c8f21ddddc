// The entry points of the run kernels: each segment prepared as the vector
// kernels take it and handed to the target chosen for its kernel, or to the
// scalar kernels.
#include "kernels/kernels.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <optional>

#include "kernels/dispatch.hpp"
#include "kernels/scalar.hpp"
#include "kernels/target.hpp"
#include "schemes/rounded.hpp"
#include "base/platform.hpp"

#define RUST_KERNEL_NS baseline  // the scan compiled for the baseline instruction set
#include "kernels/scan.hpp"
#undef RUST_KERNEL_NS

namespace rust::kernels {

namespace {

// The schemes' terms and methods as the kernels number them.
using ForwardScheme = schemes::Forward<u64, f64>;
using InverseScheme = schemes::Inverse<f64, u64>;
static_assert(static_cast<int>(ForwardTerms::Left) == static_cast<int>(ForwardScheme::Terms::Left) &&
              static_cast<int>(ForwardTerms::Right) == static_cast<int>(ForwardScheme::Terms::Right) &&
              static_cast<int>(ForwardTerms::Sum) == static_cast<int>(ForwardScheme::Terms::Sum) &&
              static_cast<int>(ForwardTerms::Difference) == static_cast<int>(ForwardScheme::Terms::Difference) &&
              static_cast<int>(ForwardTerms::None) == static_cast<int>(ForwardScheme::Terms::None));
static_assert(static_cast<int>(InverseTerms::Left) == static_cast<int>(InverseScheme::Terms::Left) &&
              static_cast<int>(InverseTerms::Right) == static_cast<int>(InverseScheme::Terms::Right) &&
              static_cast<int>(InverseTerms::Sum) == static_cast<int>(InverseScheme::Terms::Sum) &&
              static_cast<int>(InverseTerms::None) == static_cast<int>(InverseScheme::Terms::None));
static_assert(static_cast<int>(Method::Exact) == static_cast<int>(InverseMethod::Exact) &&
              static_cast<int>(Method::Nearest) == static_cast<int>(InverseMethod::Nearest) &&
              static_cast<int>(Method::Ffill) == static_cast<int>(InverseMethod::Ffill) &&
              static_cast<int>(Method::Bfill) == static_cast<int>(InverseMethod::Bfill));

constexpr Method method_of(InverseMethod m) { return static_cast<Method>(m); }

// The float forward's keys through the vector kernels on this thread, and
// how many of them the fast path did not answer: counted in the builds of the
// tests and benchmarks (RUST_FAST_PATH_COUNTS), not in the modules'.
#if RUST_FAST_PATH_COUNTS
thread_local FastPathCounts forward_float_counts{};
#endif

// Zero, or a magnitude in [2^-800, 2^800]: the fast path's products, sums
// and quotients of it stay normal doubles.
bool fast_range(const extended::Magnitude& v) { return v.m == 0 || (v.e >= -799 && v.e <= 800); }

// A knot value's magnitude m·2^(e - 64), 2^63 <= m < 2^64 with 53
// significant bits at most, as the double it came from: its exponent field
// and the 52 bits below the leading one (normal doubles: the fast range).
double value_of(const extended::Magnitude& v, bool neg) {
    if (v.m == 0 || !fast_range(v)) return 0.0;  // unused outside the fast range
    const u64 bits = (u64{neg} << 63) | (static_cast<u64>(v.e - 1 + 1023) << 52) | ((v.m >> 11) & ((u64{1} << 52) - 1));
    return std::bit_cast<double>(bits);
}

// The float forward scheme's segment as the vector kernels take it.
FloatForward prepared(const ForwardScheme::Segment& s) {
    const wide::Divisor d = wide::prepare(s.d.m);  // normalised already: no shift
    const u64 span = s.x1 - s.x0;
    const double dh = static_cast<double>(span);                               // nearest, in the default environment
    const u64 back = dh >= 18446744073709551616.0 ? 0 : static_cast<u64>(dh);  // 2^64 wraps to 0
    const double dl = static_cast<double>(static_cast<i64>(span - back));      // exact: |span - dh| <= 2^10
    const double inv = 1.0 / dh;
    const bool zero0 = s.terms == ForwardScheme::Terms::None || s.terms == ForwardScheme::Terms::Right;
    const bool zero1 = s.terms == ForwardScheme::Terms::None || s.terms == ForwardScheme::Terms::Left;
    const extended::Magnitude none{};
    const extended::Magnitude& m0 = zero0 ? none : s.F0;
    const extended::Magnitude& m1 = zero1 ? none : s.F1;
    return {s.x0,
            s.x1,
            s.F0.m,
            s.F1.m,
            s.F0.e,
            s.F1.e,
            {d.d, d.v},
            s.d.e,
            s.neg0,
            s.neg1,
            static_cast<ForwardTerms>(s.terms),
            value_of(m0, s.neg0),
            value_of(m1, s.neg1),
            dh,
            dl,
            inv,
            inv * 0x1p-62,  // = RN(2^-62 / dh)
            fast_range(m0) && fast_range(m1)};
}

// The knots on the finest scale 2^k on which both still fit 63 bits: every
// value down to 2^-10 of the larger knot's magnitude is an integer there too,
// and its differences with the knots, below 2^64, are exact (the magnitude
// of an exact difference is the rounded one). Precondition: the knots'
// scales differ by at most 10 (the bracket is shared).
FloatInverse prepared(const schemes::Inverse<f64, u64>::Segment& s) {
    const extended::Scaled lo = s.f.slo, hi = s.f.shi;
    const i64 lk = lo.v == 0 ? hi.k : lo.k, hk = hi.v == 0 ? lo.k : hi.k;  // a zero takes the other's scale
    const i64 k = (lk > hk ? lk : hk) - 10;
    const u64 vlo = static_cast<u64>(lo.v) << (lk - k), vhi = static_cast<u64>(hi.v) << (hk - k);
    const wide::Divisor d = wide::prepare(s.d.m);
    return {k, vlo, vhi, s.X0.m, s.X1.m, s.X0.e, s.X1.e, {d.d, d.v}, s.d.e, static_cast<InverseTerms>(s.terms)};
}

// An integer segment whose keys run from k0 to k1 (d = k1 - k0) and whose
// results weigh v0 by the distance to k1 and v1 by the distance from k0:
// (v0·(k1 - key) + v1·(key - k0)) / d = base + w·D / d. False where d > 2^63
// (the remainders would not fit one word): the scalar kernels take those.
bool prepared(u64 k0, u64 k1, u64 v0, u64 v1, Affine& out) {
    const u64 d = k1 - k0;
    if (d > u64{1} << 63) return false;
    const bool rising = v1 >= v0;
    const u64 span = rising ? v1 - v0 : v0 - v1;
    const u64 rm = span % d;
    out = {k0, k1, rising ? v0 : v1, span / d, rm, wide::div(rm, 0, d).q, d, rising};  // rm < d: the quotient fits
    return true;
}

}  // namespace

void forward(const schemes::Forward<u64, i64>::Segment& s, const u64* x, std::size_t count, i64* out) {
    using Scheme = schemes::Forward<u64, i64>;
    Affine a;
    if (const Table* t = vector_kernels(Kernel::ForwardInt, count); t && prepared(s.x0, s.x1, s.b0, s.b1, a))
        return t->forward_int(a, x, count, out);
    if (!RUST_HW_DIVQ && count >= scalar::kPrepareRun)
        return scalar::forward_int_on<Scheme>(Scheme::prepare(s), x, count, out);
    scalar::forward_int_on<Scheme>(s, x, count, out);
}

std::size_t inverse(const schemes::Inverse<i64, u64>::Segment& s, const i64* f, std::size_t count, InverseMethod method,
                    u64* out) {
    using Scheme = schemes::Inverse<i64, u64>;
    Affine a;
    if (const Table* t = vector_kernels(Kernel::InverseInt, count); t && prepared(s.b0, s.b1, s.x0, s.x1, a))
        return t->inverse_int(a, f, count, method_of(method), out);
    if (!RUST_HW_DIVQ && count >= scalar::kPrepareRun)
        return scalar::inverse_int_by<Scheme>(Scheme::prepare(s), f, count, method, out);
    return scalar::inverse_int_by<Scheme>(s, f, count, method, out);
}

void forward(const schemes::Forward<u64, f64>::Segment& s, const u64* x, std::size_t count, f64* out) {
    if (const Table* t = vector_kernels(Kernel::ForwardFloat, count)) {
        [[maybe_unused]] const std::size_t exact = t->forward_float(prepared(s), x, count, out);
#if RUST_FAST_PATH_COUNTS
        forward_float_counts.keys += count;
        forward_float_counts.exact += exact;
#endif
        return;
    }
    schemes::Forward<u64, f64>::forward(s, x, count, out);
}

FastPathCounts fast_path_counts() {
#if RUST_FAST_PATH_COUNTS
    return forward_float_counts;
#else
    return {0, 0, 0, 0};
#endif
}

namespace {
// Zero or a magnitude in [2^-800, 2^800]: the knot values the fast paths of
// rounding once take (a non-finite one is not: the scheme's fatal error).
bool in_rounded_range(f64 v) { return v == 0 || (std::fabs(v) >= 0x1p-800 && std::fabs(v) <= 0x1p800); }
}  // namespace

std::size_t inverse_rounded(u64 x0, f64 f0, u64 x1, f64 f1, const f64* f, std::size_t count, InverseMethod method,
                            u64* out, bool held) {
    const Table* t = vector_kernels(Kernel::InverseRounded, count);
    if (t == nullptr || method == InverseMethod::Exact || !in_rounded_range(f0) || !in_rounded_range(f1))
        return schemes::rounded::inverse(f, count, x0, f0, x1, f1, method, out);
    std::optional<platform::FloatStatus> status;  // (the division below)
    if (!held) status.emplace();
    // Δ = x1 - x0 signed, as its 53 high bits and 11 low ones (exact doubles)
    const bool falls = x1 < x0;
    const u64 delta = falls ? x0 - x1 : x1 - x0;
    const u64 top = delta < (u64{1} << 53) ? delta : delta & ~u64{0x7FF};
    const double hi = static_cast<double>(top), lo = static_cast<double>(delta - top);
    const double dh = f1 - f0, back = dh - f1;
    const double d_rest = (f1 - (dh - back)) + (-f0 - back);  // TwoSum: dh + d_rest = f1 - f0
    const double inv = 1.0 / dh;
    const RoundedInverse s{x0,
                           f0,
                           falls ? -hi : hi,
                           falls ? -lo : lo,
                           dh,
                           d_rest,
                           inv,
                           inv * 0x1p-84,  // = RN(2^-84 / dh)
                           lo == 0 && d_rest == 0,
                           held};
    constexpr std::size_t kChunk = 256;
    std::uint32_t handed[kChunk];
    for (std::size_t done = 0; done < count; done += kChunk) {
        const std::size_t n = std::min(kChunk, count - done);
        const std::size_t h = t->inverse_rounded(s, f + done, n, method_of(method), out + done, handed);
        for (std::size_t k = 0; k < h; ++k) {
            const std::size_t j = done + handed[k];
            bool overflow = false;  // never inside the segment, nor NotFound by these methods
            out[j] = schemes::rounded::inverse(f[j], x0, f0, x1, f1, method, overflow).value_or(0);
        }
#if RUST_FAST_PATH_COUNTS
        forward_float_counts.rounded_keys += n;
        forward_float_counts.rounded_exact += h;
#endif
    }
    if (status) status->restore();
    return count;
}

void forward_rounded(u64 x0, f64 f0, u64 x1, f64 f1, const u64* x, std::size_t count, f64* out, bool held) {
    const Table* t = vector_kernels(Kernel::ForwardRounded, count);
    if (t == nullptr || !in_rounded_range(f0) ||
        !in_rounded_range(f1))  // (a non-finite knot too: the scheme's fatal error)
        return schemes::rounded::forward(x, count, x0, f0, x1, f1, out);
    std::optional<platform::FloatStatus> status;  // (the division below)
    if (!held) status.emplace();
    const u64 span = x1 - x0;
    const double dh = static_cast<double>(span);               // nearest, in the default environment (else unused)
    const u64 back = dh >= 0x1p64 ? 0 : static_cast<u64>(dh);  // 2^64 wraps to 0
    const double inv = 1.0 / dh;
    const RoundedForward s{x0,
                           x1,
                           f0,
                           f1,
                           dh,
                           static_cast<double>(static_cast<i64>(span - back)),
                           inv,
                           inv * 0x1p-78,  // = RN(2^-78 / dh)
                           held};
    constexpr std::size_t kChunk = 256;
    std::uint32_t handed[kChunk];
    for (std::size_t done = 0; done < count; done += kChunk) {
        const std::size_t n = std::min(kChunk, count - done);
        const std::size_t h = t->forward_rounded(s, x + done, n, out + done, handed);
        for (std::size_t k = 0; k < h; ++k) {
            const std::size_t j = done + handed[k];
            out[j] = schemes::rounded::forward_exact(x[j], x0, f0, x1, f1).value;
        }
#if RUST_FAST_PATH_COUNTS
        forward_float_counts.rounded_keys += n;
        forward_float_counts.rounded_exact += h;
#endif
    }
    if (status) status->restore();
}

void forward_rounded_each(const u64* x, const u64* x0, const f64* f0, const u64* x1, const f64* f1, std::size_t count,
                          f64* out, bool held) {
    const Table* t = vector_kernels(Kernel::ForwardRounded, count);
    constexpr std::size_t kChunk = 256;
    std::uint32_t handed[kChunk];
    for (std::size_t done = 0; done < count; done += kChunk) {
        const std::size_t n = std::min(kChunk, count - done);
        const std::size_t h = t == nullptr ? 0
                                           : t->forward_rounded_keys({x0 + done, x1 + done, f0 + done, f1 + done, held},
                                                                     x + done, n, out + done, handed);
        // the keys handed on (all of them without vector kernels), by the scheme, which checks the knots
        for (std::size_t k = 0; k < (t == nullptr ? n : h); ++k) {
            const std::size_t j = done + (t == nullptr ? k : handed[k]);
            out[j] = schemes::rounded::forward(x[j], x0[j], f0[j], x1[j], f1[j]).value;
        }
#if RUST_FAST_PATH_COUNTS
        if (t != nullptr) {
            forward_float_counts.rounded_keys += n;
            forward_float_counts.rounded_exact += h;
        }
#endif
    }
}

void inverse_rounded_each(const f64* f, const u64* x0, const f64* f0, const u64* x1, const f64* f1, std::size_t count,
                          InverseMethod method, u64* out, bool held) {
    assert(method != InverseMethod::Exact);
    const Table* t = vector_kernels(Kernel::InverseRounded, count);
    constexpr std::size_t kChunk = 256;
    std::uint32_t handed[kChunk];
    for (std::size_t done = 0; done < count; done += kChunk) {
        const std::size_t n = std::min(kChunk, count - done);
        const std::size_t h = t == nullptr
                                  ? 0
                                  : t->inverse_rounded_keys({x0 + done, x1 + done, f0 + done, f1 + done, held},
                                                            f + done, n, method_of(method), out + done, handed);
        for (std::size_t k = 0; k < (t == nullptr ? n : h); ++k) {
            const std::size_t j = done + (t == nullptr ? k : handed[k]);
            bool overflow = false;  // never inside a segment, nor NotFound by these methods
            out[j] = schemes::rounded::inverse(f[j], x0[j], f0[j], x1[j], f1[j], method, overflow).value_or(0);
        }
#if RUST_FAST_PATH_COUNTS
        if (t != nullptr) {
            forward_float_counts.rounded_keys += n;
            forward_float_counts.rounded_exact += h;
        }
#endif
    }
}

// The vector kernels answer values on the knots' shared scale; a vector with
// a value off it (or, under Exact, a value without a whole position) ends a
// pass: its first such value is answered by the scalar scheme, and the run
// goes on after it.
std::size_t inverse(const schemes::Inverse<f64, u64>::Segment& s, const f64* f, std::size_t count, InverseMethod method,
                    u64* out) {
    using Scheme = schemes::Inverse<f64, u64>;
    const Table* t = vector_kernels(Kernel::InverseFloat, count);
    if (t == nullptr || !s.f.shared) return Scheme::inverse(s, f, count, method, out);
    const FloatInverse k = prepared(s);
    std::size_t done = 0;
    while (done < count) {
        done += t->inverse_float(k, f + done, count - done, method_of(method), out + done);
        if (done == count) break;
        if (Scheme::inverse(s, f + done, 1, method, out + done) == 0) return done;  // no whole position
        ++done;
    }
    return count;
}

bool strictly_increasing(const u64* v, std::size_t n) {
    if (const Table* t = vector_kernels(Kernel::Scan, n)) return t->increasing_u64(v, n);
    return baseline::increasing_u64(v, n);
}

bool strictly_increasing(const i64* v, std::size_t n) {
    if (const Table* t = vector_kernels(Kernel::Scan, n)) return t->increasing_i64(v, n);
    return baseline::increasing_i64(v, n);
}

bool strictly_increasing(const f64* v, std::size_t n) {
    if (const Table* t = vector_kernels(Kernel::Scan, n)) return t->increasing_f64(v, n);
    return baseline::increasing_f64(v, n);
}

}  // namespace rust::kernels
