// Run kernels: the evaluation of keys that lie strictly inside one segment,
// for each of the four schemes, the monotonicity scans, and the choice among
// the instruction sets they are compiled for. Every target gives the scalar schemes' bits; the
// best one the processor runs is chosen once per kernel. Tests may force any
// target the processor supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/base.hpp"
#include "schemes/schemes.hpp"

namespace rust::kernels {

// The kernel targets, listed once: name, its text, 64-bit lanes.
//   Scalar  the schemes' own loops: the portable reference
//   Avx2    x86-64: AVX2, FMA
//   Avx512  x86-64: AVX-512 F, CD, DQ, BW, VL
//   Neon    aarch64
#define RUST_KERNEL_TARGETS(X) \
    X(Scalar, "scalar", 1)     \
    X(Avx2, "avx2", 4)         \
    X(Avx512, "avx512", 8)     \
    X(Neon, "neon", 2)

enum class Target : std::uint8_t {
#define RUST_KERNEL_TARGET_ENUM(target, text, lanes) target,
    RUST_KERNEL_TARGETS(RUST_KERNEL_TARGET_ENUM)
#undef RUST_KERNEL_TARGET_ENUM
};

const char* name(Target target);
// The 64-bit lanes of its vectors (1 for the scalar kernels): the targets
// rank by them.
int lanes(Target target);
// The targets this build holds, scalar first.
std::span<const Target> compiled();
// Whether the processor runs it.
bool supported(Target target);
// The target of each kernel is chosen once: the widest the processor runs
// where it pays, else the scalar kernels. active() names the widest in use;
// active(float_values, inverse) the one kernel's.
Target active();
Target active(bool float_values, bool inverse);
// Test hook: use this target (it must be supported) for every kernel from
// now on, on every thread. Not for concurrent use with evaluations.
void force(Target target);
// Back to the choice made at load.
void choose_automatically();

// Runs of keys inside one segment shorter than this go to the schemes'
// one-key forms instead of the kernels: preparing a segment for them (the
// scaled knots, a divisor's reciprocal) pays only over longer runs.
inline constexpr std::size_t kShortRun = 3;

// Keys x[0 … count-1] (values f[…] for the inverse) all strictly inside the
// segment, results into out. The inverses stop at the first value without a
// whole position (Exact) and return how many were answered.
void forward(const schemes::Forward<u64, i64>::Segment& s, const u64* x, std::size_t count, i64* out);
void forward(const schemes::Forward<u64, f64>::Segment& s, const u64* x, std::size_t count, f64* out);
std::size_t inverse(const schemes::Inverse<i64, u64>::Segment& s, const i64* f, std::size_t count, InverseMethod method,
                    u64* out);
std::size_t inverse(const schemes::Inverse<f64, u64>::Segment& s, const f64* f, std::size_t count, InverseMethod method,
                    u64* out);

// The forward that rounds once (schemes/rounded.hpp) of keys x[0 … count-1]
// all strictly inside the segment from (x0, f0) to (x1, f1): the vector
// kernels' fast path where it decides, the scheme for the rest. `held`: the
// caller holds a schemes::rounded::Scope that found the default environment,
// so that neither the environment nor the status flags are read here.
void forward_rounded(u64 x0, f64 f0, u64 x1, f64 f1, const u64* x, std::size_t count, f64* out, bool held);
// Its inverse of values f[0 … count-1] all strictly inside (f0, f1): up to
// the first without a whole position (Exact), returning how many were answered.
std::size_t inverse_rounded(u64 x0, f64 f0, u64 x1, f64 f1, const f64* f, std::size_t count, InverseMethod method,
                            u64* out, bool held);

// The same for keys each inside its own segment (gathered from random
// queries): key k strictly inside the segment from (x0[k], f0[k]) to
// (x1[k], f1[k]); x0[k] < x1[k] for the forward, the inverse's positions in
// either order, its values f0[k] < f1[k]. The inverse by Nearest, Ffill or
// Bfill, which answer every value inside a segment.
void forward_rounded_each(const u64* x, const u64* x0, const f64* f0, const u64* x1, const f64* f1, std::size_t count,
                          f64* out, bool held);
void inverse_rounded_each(const f64* f, const u64* x0, const f64* f0, const u64* x1, const f64* f1, std::size_t count,
                          InverseMethod method, u64* out, bool held);

// The float forward's keys that went through the vector kernels on the
// calling thread since it started, and how many of them the fast path in
// doubles did not answer: those whose truncation it cannot tell, which the
// F80 lanes evaluate, and all keys of segments or floating-point
// environments it does not take. For benchmarks and tests: zeros unless the
// core is built with RUST_FAST_PATH_COUNTS (as the tests and benchmarks are).
struct FastPathCounts {
    std::uint64_t keys, exact;
    // the same for the forward that rounds once: keys by its vector
    // kernels, and how many of them they handed to the scheme
    std::uint64_t rounded_keys, rounded_exact;
};
FastPathCounts fast_path_counts();

// Whether v[k] < v[k+1] for every adjacent pair, in the natural order:
// unsigned for u64, signed for i64, IEEE ordered less-than for f64 (false for
// NaN and for the pair -0.0, +0.0). Stops at the first block that holds a
// pair out of order.
bool strictly_increasing(const u64* v, std::size_t n);
bool strictly_increasing(const i64* v, std::size_t n);
bool strictly_increasing(const f64* v, std::size_t n);

}  // namespace rust::kernels
