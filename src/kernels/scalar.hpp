// The scalar kernels of the integer schemes, for the runs the vector kernels
// do not take (no vector target, or a segment longer than 2^63).
#pragma once

#include <cstddef>
#include <optional>
#include <type_traits>

#include "base/base.hpp"

namespace rust::kernels::scalar {

// The scalar kernels of the integer schemes: elements short and ending in a
// division, four at a time, independent of one another, so that the
// divisions overlap. Where the 128-by-64 division is not one instruction, the
// divisor is prepared for runs of kPrepareRun keys or more.
inline constexpr std::size_t kPrepareRun = 4;

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

}  // namespace rust::kernels::scalar
