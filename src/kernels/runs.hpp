// The run kernels: keys strictly inside one segment, kLanes at a time, each
// lane the scheme's steps in the scheme's order, so each gives the scalar
// scheme's bits. Included once by each kernel file (one instruction set per
// file, one namespace per instruction set); declared in kernels.hpp.
#pragma once

#include <cstddef>

#include "kernels/float_lanes.hpp"
#include "kernels/scan.hpp"
#include "kernels/segments.hpp"
#include "kernels/target.hpp"

namespace rust::kernels::RUST_KERNEL_NS {

using std::size_t;
using u64 = std::uint64_t;
using i64 = std::int64_t;

// Lanes [0, count) of p as a vector, the others copies of p[0] (any key of
// the run serves). The elements are copied as bytes, so a vector of one type
// loads keys of another (doubles into integer lanes) without an access
// through a pointer of the wrong type.
template <class V, class T>
RUST_LANES_INLINE V load(const T* p, size_t count) {
    V v;
    if (count >= static_cast<size_t>(kLanes)) {
        __builtin_memcpy(&v, p, sizeof v);
    } else {
        T lanes[kLanes];
        for (int j = 0; j < kLanes; ++j) lanes[j] = p[static_cast<size_t>(j) < count ? j : 0];
        __builtin_memcpy(&v, lanes, sizeof v);
    }
    return v;
}
// Lanes [0, count) of v into p: a whole vector in one store (a copy of a
// varying size would be a slow string copy), a part lane by lane.
template <class V, class T>
RUST_LANES_INLINE void store(T* p, V v, size_t count) {
    if (count >= static_cast<size_t>(kLanes)) {
        __builtin_memcpy(p, &v, sizeof v);
    } else {
        T lanes[kLanes];
        __builtin_memcpy(lanes, &v, sizeof v);
        for (size_t j = 0; j < count; ++j) p[j] = lanes[j];
    }
}

// The first of lanes [0, count) where the mask is set; count or more where
// there is none.
RUST_LANES_INLINE size_t first_set(M m, size_t count) {
    if (!any(m)) return count;
    i64 lanes[kLanes];
    __builtin_memcpy(lanes, &m, sizeof lanes);
    const size_t n = count < static_cast<size_t>(kLanes) ? count : kLanes;
    for (size_t l = 0; l < n; ++l)
        if (lanes[l] != 0) return l;
    return count;
}

// Forward, float values: (f0·(x1 - x) + f1·(x - x0)) / (x1 - x0). Narrow:
// the segment is shorter than 2^32, so are both position differences.
template <ForwardTerms Terms, bool Narrow>
RUST_LANES_INLINE U forward_float_lanes(const FloatForward& s, U x) {
    const Divisor d{s.d.m, s.d.v, s.de};
    const U sign0 = splat(u64{s.neg0} << 63), sign1 = splat(u64{s.neg1} << 63);
    if constexpr (Terms == ForwardTerms::Left) {
        return truncated(sign0, div(mul<Narrow>(magnitude(splat(s.x1) - x), splat(s.m0), s.e0), d));
    } else if constexpr (Terms == ForwardTerms::Right) {
        return truncated(sign1, div(mul<Narrow>(magnitude(x - s.x0), splat(s.m1), s.e1), d));
    } else if constexpr (Terms == ForwardTerms::Sum) {
        const Mags p0 = mul<Narrow>(magnitude(splat(s.x1) - x), splat(s.m0), s.e0);
        const Mags p1 = mul<Narrow>(magnitude(x - s.x0), splat(s.m1), s.e1);
        return truncated(sign0, div(add(p0, p1), d));
    } else {  // Difference
        const Mags p0 = mul<Narrow>(magnitude(splat(s.x1) - x), splat(s.m0), s.e0);
        const Mags p1 = mul<Narrow>(magnitude(x - s.x0), splat(s.m1), s.e1);
        const Differences r = sub(p0, p1);
        const U bits = truncated(select(r.swapped, sign0 ^ kHalf, sign0), div(r.value, d));
        return select(r.zero, U{}, bits);  // an exact cancellation is +0.0
    }
}

// Each kernel copies its segment into locals first: the stores of results
// could otherwise alias it, and every field would be read and broadcast again
// for every vector.
template <ForwardTerms Terms, bool Narrow>
void forward_float_terms(const FloatForward& segment, const u64* x, size_t count, double* out) {
    const FloatForward s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        store(out + j, forward_float_lanes<Terms, Narrow>(s, load<U>(x + j, left)), left);
    }
}

template <ForwardTerms Terms>
void forward_float_terms(const FloatForward& s, const u64* x, size_t count, double* out) {
    if (s.x1 - s.x0 <= 0xFFFFFFFF) return forward_float_terms<Terms, true>(s, x, count, out);
    forward_float_terms<Terms, false>(s, x, count, out);
}

void forward_float(const FloatForward& s, const u64* x, size_t count, double* out) {
    switch (s.terms) {
        case ForwardTerms::Left: return forward_float_terms<ForwardTerms::Left>(s, x, count, out);
        case ForwardTerms::Right: return forward_float_terms<ForwardTerms::Right>(s, x, count, out);
        case ForwardTerms::Sum: return forward_float_terms<ForwardTerms::Sum>(s, x, count, out);
        case ForwardTerms::Difference: return forward_float_terms<ForwardTerms::Difference>(s, x, count, out);
        case ForwardTerms::None: break;
    }
    for (size_t j = 0; j < count; ++j) out[j] = 0.0;  // both knot values zero
}

// The whole position of q > 0 by the method; `fractional` where q was not an
// integer.
template <Method How>
RUST_LANES_INLINE U place(Mags q, M& fractional) {
    const I e = q.e;
    const M big = e >= 64, small = e <= 0;
    const U whole_from = as_unsigned(e) & 63;
    const U part = select(small, U{}, q.m >> ((splat(64) - whole_from) & 63));
    const U fraction = select(small, U{}, q.m << whole_from);
    M away;
    if constexpr (How == Method::Nearest) {
        const M below_one = (e == 0) & ~equal(q.m, splat(kHalf));  // in (1/2, 1): up to 1
        away = select(small, below_one, (fraction | (part & 1)) > splat(kHalf));
    } else if constexpr (How == Method::Bfill) {
        away = small | nonzero(fraction);
    } else {
        away = M{};
    }
    fractional = ~big & (small | nonzero(fraction));
    const U top = select(e >= 65, splat(~u64{0}), q.m);
    return select(big, top, part + bit(away));
}

// Inverse, float values whose differences with the knots are exact on the
// segment's scale: (x0·(f1 - f) + x1·(f - f0)) / (f1 - f0) placed by the method.
// Stops before the first vector holding a value off that scale (answered by
// the caller) or, under Exact, at the first value without a whole position.
template <InverseTerms Terms, Method How>
size_t inverse_float_terms(const FloatInverse& segment, const double* f, size_t count, u64* out) {
    const FloatInverse s = segment;
    const Divisor d{s.d.m, s.d.v, s.de};
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        const U bits = load<U>(f + j, left);
        // f as v · 2^k with |v| < 2^53, then on the knots' scale
        const U field = (bits >> 52) & 0x7FF, frac = bits & ((u64{1} << 52) - 1);
        const M normal = nonzero(field);
        const U m = select(normal, frac | (u64{1} << 52), frac);
        const U v = select(as_signed(bits) < 0, U{} - m, m);
        const U k = select(normal, field, splat(1)) - 1075;
        const U shift = k - static_cast<u64>(s.k);
        if (any(less(splat(10), shift) & nonzero(v))) return j;  // some lane needs the general difference
        const U on_scale = v << (shift & 63);
        const Mags above = magnitude(splat(s.vhi) - on_scale), below = magnitude(on_scale - s.vlo);
        const Mags ga{above.m, above.e + s.k}, gb{below.m, below.e + s.k};
        U q;
        M fractional;
        if constexpr (Terms == InverseTerms::None) {
            q = U{};
            fractional = M{};
        } else if constexpr (Terms == InverseTerms::Left) {
            q = place<How>(div(mul(ga, splat(s.m0), s.e0), d), fractional);
        } else if constexpr (Terms == InverseTerms::Right) {
            q = place<How>(div(mul(gb, splat(s.m1), s.e1), d), fractional);
        } else {
            q = place<How>(div(add(mul(ga, splat(s.m0), s.e0), mul(gb, splat(s.m1), s.e1)), d), fractional);
        }
        if constexpr (How == Method::Exact) {
            if (const size_t l = first_set(fractional, left); l < left) {
                store(out + j, q, l);
                return j + l;
            }
        }
        store(out + j, q, left);
    }
    return count;
}

template <InverseTerms Terms>
size_t inverse_float_method(const FloatInverse& s, const double* f, size_t count, Method method, u64* out) {
    switch (method) {
        case Method::Exact: return inverse_float_terms<Terms, Method::Exact>(s, f, count, out);
        case Method::Nearest: return inverse_float_terms<Terms, Method::Nearest>(s, f, count, out);
        case Method::Ffill: return inverse_float_terms<Terms, Method::Ffill>(s, f, count, out);
        case Method::Bfill: break;
    }
    return inverse_float_terms<Terms, Method::Bfill>(s, f, count, out);
}

size_t inverse_float(const FloatInverse& s, const double* f, size_t count, Method method, u64* out) {
    switch (s.terms) {
        case InverseTerms::None: return inverse_float_method<InverseTerms::None>(s, f, count, method, out);
        case InverseTerms::Left: return inverse_float_method<InverseTerms::Left>(s, f, count, method, out);
        case InverseTerms::Right: return inverse_float_method<InverseTerms::Right>(s, f, count, method, out);
        case InverseTerms::Sum: break;
    }
    return inverse_float_method<InverseTerms::Sum>(s, f, count, method, out);
}

// The rounding of a quotient q with remainder r by a divisor d: whether it
// moves up by one (Nearest: ties to even; Bfill: any remainder).
template <Method How>
RUST_LANES_INLINE U round_up(U q, U r, u64 d) {
    if constexpr (How == Method::Nearest) {
        const U rest = splat(d) - r;
        return bit(less(rest, r) | (equal(r, rest) & ((q & 1) != U{})));
    } else if constexpr (How == Method::Bfill) {
        return bit(nonzero(r));
    } else {
        return U{};
    }
}

// The quotient and remainder of base·d + w·D by d, for the keys of a run:
// base + w·Q + floor(w·rm / d), with floor(w·rm / d) estimated from the
// reciprocal m (at most one too small) and corrected by its remainder, exact
// in one word since d <= 2^63.
RUST_LANES_INLINE void affine_quot_rem(const Affine& s, U key, U& q, U& r) {
    const U w = s.rising ? key - s.k0 : splat(s.k1) - key;
    U hi, lo;
    mul_wide(w, splat(s.m), hi, lo);
    U t = hi;
    r = mul_low(w, splat(s.rm)) - mul_low(t, splat(s.d));
    const M over = ~less(r, splat(s.d));
    t = select(over, t + 1, t);
    r = select(over, r - s.d, r);
    q = splat(s.base) + mul_low(w, splat(s.q)) + t;
}

// Forward, integer values: the nearest integer to the biased quotient,
// unbiased.
void forward_int(const Affine& segment, const u64* x, size_t count, i64* out) {
    const Affine s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        U q, r;
        affine_quot_rem(s, load<U>(x + j, left), q, r);
        store(out + j, (q + round_up<Method::Nearest>(q, r, s.d)) ^ kHalf, left);
    }
}

// Inverse, integer values: the position rounded by the method; under Exact
// stops at the first value without a whole position.
template <Method How>
size_t inverse_int_method(const Affine& segment, const i64* f, size_t count, u64* out) {
    const Affine s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        U q, r;
        affine_quot_rem(s, load<U>(f + j, left) ^ kHalf, q, r);
        if constexpr (How == Method::Exact) {
            if (const size_t l = first_set(nonzero(r), left); l < left) {
                store(out + j, q, l);
                return j + l;
            }
        }
        store(out + j, q + round_up<How>(q, r, s.d), left);
    }
    return count;
}

size_t inverse_int(const Affine& s, const i64* f, size_t count, Method method, u64* out) {
    switch (method) {
        case Method::Exact: return inverse_int_method<Method::Exact>(s, f, count, out);
        case Method::Nearest: return inverse_int_method<Method::Nearest>(s, f, count, out);
        case Method::Ffill: return inverse_int_method<Method::Ffill>(s, f, count, out);
        case Method::Bfill: break;
    }
    return inverse_int_method<Method::Bfill>(s, f, count, out);
}

// This target's entry points, in the order of the list.
#define RUST_KERNEL_ENTRY(name, result, params) name,
extern const Table table;
const Table table{RUST_KERNEL_ENTRIES(RUST_KERNEL_ENTRY)};
#undef RUST_KERNEL_ENTRY

}  // namespace rust::kernels::RUST_KERNEL_NS
