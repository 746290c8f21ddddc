// The monotonicity scan: whether v[k] < v[k+1] for every adjacent pair, in
// the natural order of the type (unsigned for u64, signed for i64, IEEE
// ordered less-than for f64: false for NaN and for the pair -0.0, +0.0).
// One source, compiled once per target in that target's namespace: blocks
// of 64 pairs without a branch, which the compiler turns into the target's
// vector compares; the verdicts accumulate in a 64-bit word, as wide as a
// vector lane, and the first block with a pair out of order ends the scan.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(RUST_KERNEL_NS)
#error "scan.hpp is included by a file that names its target's namespace"
#endif

namespace rust::kernels::RUST_KERNEL_NS {

// key() maps an element to one compared in the same order by the vector
// unit's own comparison.
template <class T, class Key>
bool increasing_blocks(const T* v, std::size_t n, Key key) {
    constexpr std::size_t kBlock = 64;
    std::size_t k = 0;
    for (; k + kBlock < n; k += kBlock) {
        std::uint64_t bad = 0;
        for (std::size_t j = 0; j < kBlock; ++j)
            bad |= static_cast<std::uint64_t>(!(key(v[k + j]) < key(v[k + j + 1])));
        if (bad != 0) return false;
    }
    for (; k + 1 < n; ++k)
        if (!(v[k] < v[k + 1])) return false;
    return true;
}

// Vector units compare 64-bit integers as signed: flipping the top bit maps
// the unsigned order onto the signed one.
inline std::int64_t signed_order(std::uint64_t v) { return static_cast<std::int64_t>(v ^ (std::uint64_t{1} << 63)); }
template <class T>
inline T same(T v) {
    return v;
}

bool increasing_u64(const std::uint64_t* v, std::size_t n) { return increasing_blocks(v, n, signed_order); }
bool increasing_i64(const std::int64_t* v, std::size_t n) { return increasing_blocks(v, n, same<std::int64_t>); }
bool increasing_f64(const double* v, std::size_t n) { return increasing_blocks(v, n, same<double>); }

}  // namespace rust::kernels::RUST_KERNEL_NS
