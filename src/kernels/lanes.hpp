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

#define RUST_LANES_INLINE inline __attribute__((always_inline))

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
    return reinterpret_cast<U>(_mm512_maskz_mul_epu32(0xFF, reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
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

}  // namespace rust::kernels::RUST_KERNEL_NS
