// The entry points of one kernel target, declared for the dispatcher. A
// kernel file defines RUST_KERNEL_NS and includes runs.hpp; the dispatcher
// declares each compiled target's functions with RUST_KERNEL_DECLARE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/segments.hpp"

// Which vector targets this build holds: compiler vector types on GCC and
// Clang, never in the portable build. x86-64: AVX2 and AVX-512; aarch64:
// NEON. Elsewhere the scalar kernels alone.
#if !defined(RUST_PORTABLE) && !defined(RUST_NO_VECTOR_KERNELS) && (defined(__GNUC__) || defined(__clang__))
#if defined(__x86_64__)
#define RUST_KERNELS_X86 1
#elif defined(__aarch64__)
#define RUST_KERNELS_NEON 1
#endif
#endif
#ifndef RUST_KERNELS_X86
#define RUST_KERNELS_X86 0
#endif
#ifndef RUST_KERNELS_NEON
#define RUST_KERNELS_NEON 0
#endif

#define RUST_KERNEL_DECLARE(ns)                                                                                     \
    namespace rust::kernels::ns {                                                                                   \
    void forward_float(const FloatForward& s, const std::uint64_t* x, std::size_t count, double* out);              \
    std::size_t inverse_float(const FloatInverse& s, const double* f, std::size_t count, int method,                \
                              std::uint64_t* out);                                                                  \
    void forward_int(const Affine& s, const std::uint64_t* x, std::size_t count, std::int64_t* out);                \
    std::size_t inverse_int(const Affine& s, const std::int64_t* f, std::size_t count, int method,                  \
                            std::uint64_t* out);                                                                    \
    bool increasing_u64(const std::uint64_t* v, std::size_t n);                                                     \
    bool increasing_i64(const std::int64_t* v, std::size_t n);                                                      \
    bool increasing_f64(const double* v, std::size_t n);                                                            \
    }
