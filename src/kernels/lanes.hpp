// Vectors of 64-bit lanes for the run kernels, and the word arithmetic of the
// core done lane by lane: 64 × 64 → 128-bit products, unsigned and signed
// comparisons as masks, selection, leading zeros. Compiler vector types
// (GCC and Clang); this header is included only by the kernel files, each
// compiled for one instruction set with RUST_KERNEL_LANES lanes and its own
// namespace, so nothing here is shared between targets.
#pragma once

#include <cstdint>

#if !defined(RUST_KERNEL_LANES) || !defined(RUST_KERNEL_NS)
#error "lanes.hpp is included by a kernel file that names its lanes and namespace"
#endif
#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

#define RUST_LANES_INLINE inline __attribute__((always_inline))
#define RUST_LANES_INLINE_LAMBDA __attribute__((always_inline))  // after a lambda's parameter list

namespace rust::kernels::RUST_KERNEL_NS {

constexpr int kLanes = RUST_KERNEL_LANES;
using U = std::uint64_t __attribute__((vector_size(8 * RUST_KERNEL_LANES)));
using I = std::int64_t __attribute__((vector_size(8 * RUST_KERNEL_LANES)));
using F = double __attribute__((vector_size(8 * RUST_KERNEL_LANES)));

RUST_LANES_INLINE U splat(std::uint64_t v) { return U{} + v; }
RUST_LANES_INLINE I splat_signed(std::int64_t v) { return I{} + v; }

// A mask: a comparison's result, all ones or all zeros per lane. Kept as
// comparisons and consumed by selections (the vector conditional operator),
// so that a processor with mask registers keeps them there.
using M = I;
RUST_LANES_INLINE M less(U a, U b) { return a < b; }
RUST_LANES_INLINE M less(I a, I b) { return a < b; }
RUST_LANES_INLINE M equal(U a, U b) { return a == b; }
RUST_LANES_INLINE M nonzero(U a) { return a != U{}; }
RUST_LANES_INLINE U select(M m, U a, U b) { return m ? a : b; }
RUST_LANES_INLINE I select(M m, I a, I b) { return m ? a : b; }
RUST_LANES_INLINE U bit(M m) { return m ? splat(1) : U{}; }  // 1 where the mask is set
RUST_LANES_INLINE bool any(M m) {
    std::int64_t lanes[kLanes];
    __builtin_memcpy(lanes, &m, sizeof lanes);
    std::int64_t all = 0;
    for (int j = 0; j < kLanes; ++j) all |= lanes[j];
    return all != 0;
}
RUST_LANES_INLINE I as_signed(U v) { return reinterpret_cast<I&>(v); }
RUST_LANES_INLINE U as_unsigned(I v) { return reinterpret_cast<U&>(v); }

// The product of the low 32 bits of each lane of a and b: the vector units'
// own multiplication (a full 64-bit one, where there is one, is several
// times slower).
RUST_LANES_INLINE U mul32(U a, U b) {
#if defined(__AVX512F__) && RUST_KERNEL_LANES == 8
    // (the zero-masked form: the plain one trips a false warning in GCC 12)
    return reinterpret_cast<U>(
        _mm512_maskz_mul_epu32(0xFF, reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
#elif defined(__AVX2__) && RUST_KERNEL_LANES == 4
    return reinterpret_cast<U>(_mm256_mul_epu32(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#else
    const U low32 = splat(0xFFFFFFFF);
    return (a & low32) * (b & low32);
#endif
}

// a·b as (hi, lo) from four 32 × 32 → 64-bit products: every partial sum
// stays below 2^64 (as in the portable scalar product).
RUST_LANES_INLINE void mul_wide(U a, U b, U& hi, U& lo) {
    const U low32 = splat(0xFFFFFFFF);
    const U a1 = a >> 32, b1 = b >> 32;
    const U p00 = mul32(a, b), p01 = mul32(a, b1), p10 = mul32(a1, b), p11 = mul32(a1, b1);
    const U mid = (p00 >> 32) + (p01 & low32) + (p10 & low32);
    lo = (mid << 32) | (p00 & low32);
    hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
}

// The low word of a·b.
RUST_LANES_INLINE U mul_low(U a, U b) {
#if defined(__AVX512DQ__) && RUST_KERNEL_LANES == 8
    return a * b;  // one instruction (three micro-operations at most)
#else
    return mul32(a, b) + ((mul32(a >> 32, b) + mul32(a, b >> 32)) << 32);
#endif
}

// Leading zero bits of each lane (64 for a zero lane).
RUST_LANES_INLINE U countl_zero(U v) {
#if defined(__AVX512CD__) && RUST_KERNEL_LANES == 8
    return reinterpret_cast<U>(_mm512_lzcnt_epi64(reinterpret_cast<__m512i>(v)));
#elif defined(__AVX512CD__) && defined(__AVX512VL__) && RUST_KERNEL_LANES == 4
    return reinterpret_cast<U>(_mm256_lzcnt_epi64(reinterpret_cast<__m256i>(v)));
#elif defined(__AVX2__) && RUST_KERNEL_LANES == 4
    // The highest set bit read from a double's exponent: the 32-bit half of v
    // that holds it, x in [1, 2^32), becomes the double x exactly (the bits of
    // 2^52 + x, less 2^52: both exact), whose exponent is floor(log2 x).
    const M high = (v >> 32) != U{};
    const U x = select(high, v >> 32, v & 0xFFFFFFFF);
    const F f = reinterpret_cast<F>(x | 0x4330000000000000) - 4503599627370496.0;
    const U top = (reinterpret_cast<U>(f) >> 52) - 1023;
    return select(v == U{}, splat(64), select(high, splat(31), splat(63)) - top);
#else
    // Six halving steps: where the top half of the remaining width is zero,
    // count it and shift it out.
    U n{};
    for (int width = 32; width >= 1; width /= 2) {
        const U s = select((v >> (64 - width)) == U{}, splat(static_cast<std::uint64_t>(width)), U{});
        v <<= s;
        n += s;
    }
    return n + bit(v == U{});
#endif
}

// Double lanes: the hardware's own arithmetic.
// Used only where default_float_environment() holds, so that every operation
// rounds to nearest, ties to even, with subnormals kept and no trap.

RUST_LANES_INLINE F splat_double(double v) { return F{} + v; }
RUST_LANES_INLINE F as_double(U v) { return reinterpret_cast<F>(v); }
RUST_LANES_INLINE U bits_of(F v) { return reinterpret_cast<U>(v); }
RUST_LANES_INLINE F magnitude_of(F v) { return as_double(bits_of(v) & 0x7FFFFFFFFFFFFFFF); }
RUST_LANES_INLINE M less(F a, F b) { return a < b; }
RUST_LANES_INLINE F select(M m, F a, F b) { return m ? a : b; }

// a·b + c rounded once.
RUST_LANES_INLINE F fma(F a, F b, F c) {
#if defined(__AVX512F__) && RUST_KERNEL_LANES == 8
    return reinterpret_cast<F>(
        _mm512_fmadd_pd(reinterpret_cast<__m512d>(a), reinterpret_cast<__m512d>(b), reinterpret_cast<__m512d>(c)));
#elif defined(__FMA__) && RUST_KERNEL_LANES == 4
    return reinterpret_cast<F>(
        _mm256_fmadd_pd(reinterpret_cast<__m256d>(a), reinterpret_cast<__m256d>(b), reinterpret_cast<__m256d>(c)));
#elif defined(__aarch64__) && RUST_KERNEL_LANES == 2
    return reinterpret_cast<F>(vfmaq_f64(reinterpret_cast<float64x2_t>(c), reinterpret_cast<float64x2_t>(a),
                                         reinterpret_cast<float64x2_t>(b)));
#else
    F r;
    for (int j = 0; j < kLanes; ++j) r[j] = __builtin_fma(a[j], b[j], c[j]);
    return r;
#endif
}

// The double nearest to each lane's integer n (hi, ties to even) and the
// exact rest n - hi (lo, |lo| <= 2^10): the halves of n are doubles exactly
// (their bits under the exponents of 2^84 and 2^52, less those powers), and
// their rounded sum's error is exact (Fast2Sum: the high half, a multiple of
// 2^32, is zero or the larger). Narrow: n < 2^32, exact, lo zero.
template <bool Narrow>
RUST_LANES_INLINE void to_double(U n, F& hi, F& lo) {
    const F low = as_double((n & 0xFFFFFFFF) | 0x4330000000000000) - 4503599627370496.0;
    if constexpr (Narrow) {
        hi = low;
        lo = F{};
    } else {
        const F high = as_double((n >> 32) | 0x4530000000000000) - 19342813113834066795298816.0;
        hi = high + low;
        lo = (high - hi) + low;
    }
}

// Whether the calling thread's floating-point environment is the default one
// (round to nearest, no flushing of subnormals, every exception masked), in
// which the double lanes above give the bits their algorithms are proven
// for.
RUST_LANES_INLINE bool default_float_environment() {
#if defined(__SSE2__)
    return (_mm_getcsr() & 0xFFC0) == 0x1F80;  // DAZ, the six masks, the rounding control, FZ
#elif defined(__aarch64__)
    std::uint64_t fpcr;
    __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
    return (fpcr & 0x03C89F07) == 0;  // the rounding mode, FZ, FZ16, DN, the trap enables, AH/FIZ/NEP
#else
    return false;
#endif
}

// The floating-point status flags (the x86-64 MXCSR, aarch64's FPSR), read
// before the double lanes run and put back after them where they changed
// (the inexact flag, mostly): the caller's flags stay as they were. Plain
// calls, not a destructor, so that the kernels need no unwinding tables.
#if defined(__SSE2__)
RUST_LANES_INLINE std::uint64_t float_status() { return _mm_getcsr(); }
RUST_LANES_INLINE void restore_float_status(std::uint64_t saved) {
    if (_mm_getcsr() != saved) _mm_setcsr(static_cast<unsigned>(saved));
}
#elif defined(__aarch64__)
RUST_LANES_INLINE std::uint64_t float_status() {
    std::uint64_t v;
    __asm__ volatile("mrs %0, fpsr" : "=r"(v));
    return v;
}
RUST_LANES_INLINE void restore_float_status(std::uint64_t saved) {
    if (float_status() != saved) __asm__ volatile("msr fpsr, %0" : : "r"(saved));
}
#else
RUST_LANES_INLINE std::uint64_t float_status() { return 0; }
RUST_LANES_INLINE void restore_float_status(std::uint64_t) {}
#endif

}  // namespace rust::kernels::RUST_KERNEL_NS
