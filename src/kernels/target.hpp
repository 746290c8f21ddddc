// The entry points of one kernel target, declared for the dispatcher. A
// kernel file defines RUST_KERNEL_NS and includes runs.hpp, which defines
// them and the target's table; the dispatcher declares each compiled
// target's with RUST_KERNEL_DECLARE.
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

// The entry points every vector target defines, listed once: name, result,
// parameters. From this list come each target's declarations, its table of
// entry points (defined in its own file) and the dispatcher's Table.
#define RUST_KERNEL_ENTRIES(X)                                                                                     \
    X(forward_float, std::size_t, (const FloatForward& s, const std::uint64_t* x, std::size_t count, double* out)) \
    X(inverse_float, std::size_t,                                                                                  \
      (const FloatInverse& s, const double* f, std::size_t count, Method method, std::uint64_t* out))              \
    X(forward_rounded, std::size_t,                                                                                \
      (const RoundedForward& s, const std::uint64_t* x, std::size_t count, double* out, std::uint32_t* handed))    \
    X(inverse_rounded, std::size_t,                                                                                \
      (const RoundedInverse& s, const double* f, std::size_t count, Method method, std::uint64_t* out,             \
       std::uint32_t* handed))                                                                                     \
    X(forward_rounded_keys, std::size_t,                                                                           \
      (const RoundedKeys& k, const std::uint64_t* x, std::size_t count, double* out, std::uint32_t* handed))       \
    X(inverse_rounded_keys, std::size_t,                                                                           \
      (const RoundedKeys& k, const double* f, std::size_t count, Method method, std::uint64_t* out,                \
       std::uint32_t* handed))                                                                                     \
    X(forward_int, void, (const Affine& s, const std::uint64_t* x, std::size_t count, std::int64_t* out))          \
    X(inverse_int, std::size_t,                                                                                    \
      (const Affine& s, const std::int64_t* f, std::size_t count, Method method, std::uint64_t* out))              \
    X(increasing_u64, bool, (const std::uint64_t* v, std::size_t n))                                               \
    X(increasing_i64, bool, (const std::int64_t* v, std::size_t n))                                                \
    X(increasing_f64, bool, (const double* v, std::size_t n))

namespace rust::kernels {

// The entry points of one vector target.
struct Table {
#define RUST_KERNEL_POINTER(name, result, params) result(*name) params;
    RUST_KERNEL_ENTRIES(RUST_KERNEL_POINTER)
#undef RUST_KERNEL_POINTER
};

}  // namespace rust::kernels

// A target's entry points and its table (defined by its kernel file).
#define RUST_KERNEL_DECLARE_ONE(name, result, params) result name params;
#define RUST_KERNEL_DECLARE(ns)                  \
    namespace rust::kernels::ns {                \
    RUST_KERNEL_ENTRIES(RUST_KERNEL_DECLARE_ONE) \
    extern const Table table;                    \
    }
