// The choice of kernel target, the scalar kernels, and each segment prepared
// as the vector kernels take it.
#include "kernels/kernels.hpp"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "kernels/target.hpp"

#define RUST_KERNEL_NS baseline  // the scan compiled for the baseline instruction set
#include "kernels/scan.hpp"
#undef RUST_KERNEL_NS

#if RUST_KERNELS_X86
RUST_KERNEL_DECLARE(avx2)
RUST_KERNEL_DECLARE(avx512)
#endif
#if RUST_KERNELS_NEON
RUST_KERNEL_DECLARE(neon)
#endif

namespace rust::kernels {

namespace {

constexpr Target kCompiled[] = {
    Target::Scalar,
#if RUST_KERNELS_X86
    Target::Avx2,
    Target::Avx512,
#endif
#if RUST_KERNELS_NEON
    Target::Neon,
#endif
};

bool processor_runs(Target target) {
    switch (target) {
        case Target::Scalar: return true;
#if RUST_KERNELS_X86
        case Target::Avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2");
        case Target::Avx512:
            __builtin_cpu_init();  // idempotent; the detection may not have run yet
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512cd") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl");
#endif
#if RUST_KERNELS_NEON
        case Target::Neon: return true;  // part of every aarch64 processor
#endif
        default: return false;
    }
}

// The four kernels, and where each one's vector form pays: measured on an
// AMD Zen 4 (which runs both x86-64 targets; the C++ benchmark's sorted keys
// over two knots, ns per key, scalar / AVX2 / AVX-512): integer forward and
// inverse 4.0 / 2.2 / 1.5, float forward 13.6 / 12.8 / 7.1, float inverse
// 16.5 / 12.7 / 7.7. Every x86-64 kernel pays; where one would not, a
// narrower target that does would be used, or the scalar kernels. NEON is
// proven under emulation, not timed: unused.
enum Kernel { kForwardFloat, kInverseFloat, kForwardInt, kInverseInt, kScan, kKernels };

constexpr bool pays(Target target, [[maybe_unused]] Kernel kernel) {
    return target == Target::Avx2 || target == Target::Avx512;
}

// The target of each kernel: chosen once, the widest that pays, unless a
// test forced one target for all.
struct Choice {
    std::atomic<Target> kernel[kKernels];
    Choice();
};

void choose_automatically(Choice& c) {
    for (int k = 0; k < kKernels; ++k) {
        Target chosen = Target::Scalar;
        for (const Target t : kCompiled)  // listed from the narrowest to the widest
            if (processor_runs(t) && pays(t, static_cast<Kernel>(k))) chosen = t;
        c.kernel[k].store(chosen, std::memory_order_relaxed);
    }
}

Choice::Choice() { choose_automatically(*this); }

Choice& current() {
    static Choice choice;
    return choice;
}

// The shortest run worth a vector: half its lanes (a padded vector then
// costs about what the scalar kernels would), and never a single key.
constexpr std::size_t shortest_run(Target target) {
    switch (target) {
        case Target::Avx2: return 2;
        case Target::Avx512: return 4;
        case Target::Neon: return 2;
        case Target::Scalar: break;
    }
    return ~std::size_t{0};
}

// The float forward scheme's segment as the vector kernels take it.
FloatForward prepared(const schemes::Forward<u64, f64>::Segment& s) {
    using Terms = schemes::Forward<u64, f64>::Terms;
    const wide::Divisor d = wide::prepare(s.d.m);  // normalised already: no shift
    return {s.x0, s.x1, s.F0.m, s.F1.m, s.F0.e, s.F1.e, {d.d, d.v}, s.d.e, s.neg0, s.neg1,
            static_cast<std::uint8_t>(s.terms == Terms::None    ? 0
                                      : s.terms == Terms::Left  ? 1
                                      : s.terms == Terms::Right ? 2
                                      : s.terms == Terms::Sum   ? 3
                                                                : 4)};
}

// The knots on the finest scale 2^k on which both still fit 63 bits: every
// value down to 2^-10 of the larger knot's magnitude is an integer there too,
// and its differences with the knots, below 2^64, are exact (the magnitude
// of an exact difference is the rounded one). Precondition: the knots'
// scales differ by at most 10 (the bracket is shared).
FloatInverse prepared(const schemes::Inverse<f64, u64>::Segment& s) {
    using Terms = schemes::Inverse<f64, u64>::Terms;
    const extended::Scaled lo = s.f.slo, hi = s.f.shi;
    const i64 lk = lo.v == 0 ? hi.k : lo.k, hk = hi.v == 0 ? lo.k : hi.k;  // a zero takes the other's scale
    const i64 k = (lk > hk ? lk : hk) - 10;
    const u64 vlo = static_cast<u64>(lo.v) << (lk - k), vhi = static_cast<u64>(hi.v) << (hk - k);
    const wide::Divisor d = wide::prepare(s.d.m);
    return {k, vlo, vhi, s.X0.m, s.X1.m, s.X0.e, s.X1.e, {d.d, d.v}, s.d.e,
            static_cast<std::uint8_t>(s.terms == Terms::None    ? 0
                                      : s.terms == Terms::Left  ? 1
                                      : s.terms == Terms::Right ? 2
                                                                : 3)};
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

// The scalar kernels of the integer schemes: elements short and ending in a
// division, four at a time, independent of one another, so that the
// divisions overlap. Where the 128-by-64 division is not one instruction, the
// divisor is prepared for runs of kPrepareRun keys or more.
constexpr std::size_t kPrepareRun = 4;

template <class Scheme, class S>
void forward_int_on(const S& s, const u64* keys, std::size_t count, i64* out) {
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const i64 v0 = Scheme::forward(s, keys[j]), v1 = Scheme::forward(s, keys[j + 1]);
        const i64 v2 = Scheme::forward(s, keys[j + 2]), v3 = Scheme::forward(s, keys[j + 3]);
        out[j] = v0;
        out[j + 1] = v1;
        out[j + 2] = v2;
        out[j + 3] = v3;
    }
    for (; j < count; ++j) out[j] = Scheme::forward(s, keys[j]);
}

// M is the method as a constant: one copy of the loop per method, with the
// method's rounding folded in.
template <class Scheme, class S, class M>
std::size_t inverse_int_on(const S& s, const i64* keys, std::size_t count, M method, u64* out) {
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const std::optional<u64> p0 = Scheme::inverse(s, keys[j], method), p1 = Scheme::inverse(s, keys[j + 1], method);
        const std::optional<u64> p2 = Scheme::inverse(s, keys[j + 2], method),
                                 p3 = Scheme::inverse(s, keys[j + 3], method);
        if (!(p0 && p1 && p2 && p3)) break;  // the loop below finds which
        out[j] = *p0;
        out[j + 1] = *p1;
        out[j + 2] = *p2;
        out[j + 3] = *p3;
    }
    for (; j < count; ++j) {
        const std::optional<u64> p = Scheme::inverse(s, keys[j], method);
        if (!p) return j;
        out[j] = *p;
    }
    return count;
}

template <class Scheme, class S>
std::size_t inverse_int_by(const S& s, const i64* keys, std::size_t count, InverseMethod method, u64* out) {
    using E = std::integral_constant<InverseMethod, InverseMethod::Exact>;
    using N = std::integral_constant<InverseMethod, InverseMethod::Nearest>;
    using Fl = std::integral_constant<InverseMethod, InverseMethod::Ffill>;
    using B = std::integral_constant<InverseMethod, InverseMethod::Bfill>;
    switch (method) {
        case InverseMethod::Exact: return inverse_int_on<Scheme>(s, keys, count, E{}, out);
        case InverseMethod::Nearest: return inverse_int_on<Scheme>(s, keys, count, N{}, out);
        case InverseMethod::Ffill: return inverse_int_on<Scheme>(s, keys, count, Fl{}, out);
        case InverseMethod::Bfill: break;
    }
    return inverse_int_on<Scheme>(s, keys, count, B{}, out);
}

// The vector kernels of one target.
struct Table {
    void (*forward_float)(const FloatForward&, const u64*, std::size_t, f64*);
    std::size_t (*inverse_float)(const FloatInverse&, const f64*, std::size_t, int, u64*);
    void (*forward_int)(const Affine&, const u64*, std::size_t, i64*);
    std::size_t (*inverse_int)(const Affine&, const i64*, std::size_t, int, u64*);
    bool (*increasing_u64)(const u64*, std::size_t);
    bool (*increasing_i64)(const i64*, std::size_t);
    bool (*increasing_f64)(const f64*, std::size_t);
};
#if RUST_KERNELS_X86
constexpr Table kAvx2{avx2::forward_float, avx2::inverse_float, avx2::forward_int, avx2::inverse_int,
                      avx2::increasing_u64, avx2::increasing_i64, avx2::increasing_f64};
constexpr Table kAvx512{avx512::forward_float, avx512::inverse_float, avx512::forward_int, avx512::inverse_int,
                      avx512::increasing_u64, avx512::increasing_i64, avx512::increasing_f64};
#endif
#if RUST_KERNELS_NEON
constexpr Table kNeon{neon::forward_float, neon::inverse_float, neon::forward_int, neon::inverse_int,
                      neon::increasing_u64, neon::increasing_i64, neon::increasing_f64};
#endif

// The vector kernels of the target chosen for a kernel, for a run of count
// keys; none for the scalar target and for short runs.
const Table* vector_kernels(Kernel kernel, std::size_t count) {
    const Target target = current().kernel[kernel].load(std::memory_order_relaxed);
    if (count < shortest_run(target)) return nullptr;
    switch (target) {
#if RUST_KERNELS_X86
        case Target::Avx2: return &kAvx2;
        case Target::Avx512: return &kAvx512;
#endif
#if RUST_KERNELS_NEON
        case Target::Neon: return &kNeon;
#endif
        default: break;
    }
    return nullptr;
}

}  // namespace

const char* name(Target target) {
    switch (target) {
        case Target::Scalar: return "scalar";
        case Target::Avx2: return "avx2";
        case Target::Avx512: return "avx512";
        case Target::Neon: return "neon";
    }
    return "unknown";
}

std::span<const Target> compiled() { return kCompiled; }

bool supported(Target target) {
    for (const Target t : kCompiled)
        if (t == target) return processor_runs(target);
    return false;
}

Target active() {
    Target widest = Target::Scalar;
    for (const std::atomic<Target>& k : current().kernel) {
        const Target t = k.load(std::memory_order_relaxed);
        if (static_cast<int>(t) > static_cast<int>(widest)) widest = t;
    }
    return widest;
}

Target active(bool float_values, bool inverse) {
    const Kernel k = float_values ? (inverse ? kInverseFloat : kForwardFloat) : (inverse ? kInverseInt : kForwardInt);
    return current().kernel[k].load(std::memory_order_relaxed);
}

void force(Target target) {
    if (!supported(target)) panic("kernel target not supported by this build and processor");
    for (std::atomic<Target>& k : current().kernel) k.store(target, std::memory_order_relaxed);
}

void choose_automatically() { choose_automatically(current()); }

void forward(const schemes::Forward<u64, i64>::Segment& s, const u64* x, std::size_t count, i64* out) {
    using Scheme = schemes::Forward<u64, i64>;
    Affine a;
    if (const Table* t = vector_kernels(kForwardInt, count); t && prepared(s.x0, s.x1, s.b0, s.b1, a))
        return t->forward_int(a, x, count, out);
    if (!RUST_HW_DIVQ && count >= kPrepareRun) return forward_int_on<Scheme>(Scheme::prepare(s), x, count, out);
    forward_int_on<Scheme>(s, x, count, out);
}

std::size_t inverse(const schemes::Inverse<i64, u64>::Segment& s, const i64* f, std::size_t count,
                    InverseMethod method, u64* out) {
    using Scheme = schemes::Inverse<i64, u64>;
    Affine a;
    if (const Table* t = vector_kernels(kInverseInt, count); t && prepared(s.b0, s.b1, s.x0, s.x1, a))
        return t->inverse_int(a, f, count, static_cast<int>(method), out);
    if (!RUST_HW_DIVQ && count >= kPrepareRun) return inverse_int_by<Scheme>(Scheme::prepare(s), f, count, method, out);
    return inverse_int_by<Scheme>(s, f, count, method, out);
}

void forward(const schemes::Forward<u64, f64>::Segment& s, const u64* x, std::size_t count, f64* out) {
    if (const Table* t = vector_kernels(kForwardFloat, count)) return t->forward_float(prepared(s), x, count, out);
    schemes::Forward<u64, f64>::forward(s, x, count, out);
}

// The vector kernels answer values on the knots' shared scale; a vector with
// a value off it (or, under Exact, a value without a whole position) ends a
// pass: its first such value is answered by the scalar scheme, and the run
// goes on after it.
std::size_t inverse(const schemes::Inverse<f64, u64>::Segment& s, const f64* f, std::size_t count,
                    InverseMethod method, u64* out) {
    using Scheme = schemes::Inverse<f64, u64>;
    const Table* t = vector_kernels(kInverseFloat, count);
    if (t == nullptr || !s.f.shared) return Scheme::inverse(s, f, count, method, out);
    const FloatInverse k = prepared(s);
    std::size_t done = 0;
    while (done < count) {
        done += t->inverse_float(k, f + done, count - done, static_cast<int>(method), out + done);
        if (done == count) break;
        if (Scheme::inverse(s, f + done, 1, method, out + done) == 0) return done;  // no whole position
        ++done;
    }
    return count;
}

bool strictly_increasing(const u64* v, std::size_t n) {
    if (const Table* t = vector_kernels(kScan, n)) return t->increasing_u64(v, n);
    return baseline::increasing_u64(v, n);
}

bool strictly_increasing(const i64* v, std::size_t n) {
    if (const Table* t = vector_kernels(kScan, n)) return t->increasing_i64(v, n);
    return baseline::increasing_i64(v, n);
}

bool strictly_increasing(const f64* v, std::size_t n) {
    if (const Table* t = vector_kernels(kScan, n)) return t->increasing_f64(v, n);
    return baseline::increasing_f64(v, n);
}

}  // namespace rust::kernels
