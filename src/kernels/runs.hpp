// The run kernels: keys strictly inside one segment, kLanes at a time, each
// lane the scheme's steps in the scheme's order, so each gives the scalar
// scheme's bits. Included once by each kernel file (one instruction set per
// file, one namespace per instruction set); declared in kernels.hpp.
#pragma once

#include <cstddef>

#include "kernels/float_lanes.hpp"
#include "kernels/scan.hpp"
#include "kernels/segments.hpp"

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
template <int Terms, bool Narrow>
RUST_LANES_INLINE U forward_float_lanes(const FloatForward& s, U x) {
    const Divisor d{s.d.m, s.d.v, s.de};
    const U sign0 = splat(u64{s.neg0} << 63), sign1 = splat(u64{s.neg1} << 63);
    if constexpr (Terms == 1) {
        return truncated(sign0, div(mul<Narrow>(magnitude(splat(s.x1) - x), splat(s.m0), s.e0), d));
    } else if constexpr (Terms == 2) {
        return truncated(sign1, div(mul<Narrow>(magnitude(x - s.x0), splat(s.m1), s.e1), d));
    } else if constexpr (Terms == 3) {
        const Mags p0 = mul<Narrow>(magnitude(splat(s.x1) - x), splat(s.m0), s.e0);
        const Mags p1 = mul<Narrow>(magnitude(x - s.x0), splat(s.m1), s.e1);
        return truncated(sign0, div(add(p0, p1), d));
    } else {
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
template <int Terms, bool Narrow>
void forward_float_terms(const FloatForward& segment, const u64* x, size_t count, double* out) {
    const FloatForward s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        store(out + j, forward_float_lanes<Terms, Narrow>(s, load<U>(x + j, left)), left);
    }
}

template <int Terms>
void forward_float_terms(const FloatForward& s, const u64* x, size_t count, double* out) {
    if (s.x1 - s.x0 <= 0xFFFFFFFF) return forward_float_terms<Terms, true>(s, x, count, out);
    forward_float_terms<Terms, false>(s, x, count, out);
}

void forward_float(const FloatForward& s, const u64* x, size_t count, double* out) {
    switch (s.terms) {
        case 1: return forward_float_terms<1>(s, x, count, out);
        case 2: return forward_float_terms<2>(s, x, count, out);
        case 3: return forward_float_terms<3>(s, x, count, out);
        case 4: return forward_float_terms<4>(s, x, count, out);
        default: break;
    }
    for (size_t j = 0; j < count; ++j) out[j] = 0.0;
}

// The whole position of q > 0 by the method (0 Exact, 1 Nearest, 2 Ffill,
// 3 Bfill); `fractional` where q was not an integer.
template <int Method>
RUST_LANES_INLINE U place(Mags q, M& fractional) {
    const I e = q.e;
    const M big = e >= 64, small = e <= 0;
    const U whole_from = as_unsigned(e) & 63;
    const U part = select(small, U{}, q.m >> ((splat(64) - whole_from) & 63));
    const U fraction = select(small, U{}, q.m << whole_from);
    M away;
    if constexpr (Method == 1) {
        const M below_one = (e == 0) & ~equal(q.m, splat(kHalf));  // in (1/2, 1): up to 1
        away = select(small, below_one, (fraction | (part & 1)) > splat(kHalf));
    } else if constexpr (Method == 3) {
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
template <int Terms, int Method>
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
        if constexpr (Terms == 0) {
            q = U{};
            fractional = M{};
        } else if constexpr (Terms == 1) {
            q = place<Method>(div(mul(ga, splat(s.m0), s.e0), d), fractional);
        } else if constexpr (Terms == 2) {
            q = place<Method>(div(mul(gb, splat(s.m1), s.e1), d), fractional);
        } else {
            q = place<Method>(div(add(mul(ga, splat(s.m0), s.e0), mul(gb, splat(s.m1), s.e1)), d), fractional);
        }
        if constexpr (Method == 0) {
            if (const size_t l = first_set(fractional, left); l < left) {
                store(out + j, q, l);
                return j + l;
            }
        }
        store(out + j, q, left);
    }
    return count;
}

template <int Terms>
size_t inverse_float_method(const FloatInverse& s, const double* f, size_t count, int method, u64* out) {
    switch (method) {
        case 0: return inverse_float_terms<Terms, 0>(s, f, count, out);
        case 1: return inverse_float_terms<Terms, 1>(s, f, count, out);
        case 2: return inverse_float_terms<Terms, 2>(s, f, count, out);
        default: break;
    }
    return inverse_float_terms<Terms, 3>(s, f, count, out);
}

size_t inverse_float(const FloatInverse& s, const double* f, size_t count, int method, u64* out) {
    switch (s.terms) {
        case 0: return inverse_float_method<0>(s, f, count, method, out);
        case 1: return inverse_float_method<1>(s, f, count, method, out);
        case 2: return inverse_float_method<2>(s, f, count, method, out);
        default: break;
    }
    return inverse_float_method<3>(s, f, count, method, out);
}

// The rounding of a quotient q with remainder r by a divisor d: whether it
// moves up by one (Nearest: ties to even; Bfill: any remainder).
template <int Method>
RUST_LANES_INLINE U round_up(U q, U r, u64 d) {
    if constexpr (Method == 1) {
        const U rest = splat(d) - r;
        return bit(less(rest, r) | (equal(r, rest) & ((q & 1) != U{})));
    } else if constexpr (Method == 3) {
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
        store(out + j, (q + round_up<1>(q, r, s.d)) ^ kHalf, left);
    }
}

// Inverse, integer values: the position rounded by the method; under Exact
// stops at the first value without a whole position.
template <int Method>
size_t inverse_int_method(const Affine& segment, const i64* f, size_t count, u64* out) {
    const Affine s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        U q, r;
        affine_quot_rem(s, load<U>(f + j, left) ^ kHalf, q, r);
        if constexpr (Method == 0) {
            if (const size_t l = first_set(nonzero(r), left); l < left) {
                store(out + j, q, l);
                return j + l;
            }
        }
        store(out + j, q + round_up<Method>(q, r, s.d), left);
    }
    return count;
}

size_t inverse_int(const Affine& s, const i64* f, size_t count, int method, u64* out) {
    switch (method) {
        case 0: return inverse_int_method<0>(s, f, count, out);
        case 1: return inverse_int_method<1>(s, f, count, out);
        case 2: return inverse_int_method<2>(s, f, count, out);
        default: break;
    }
    return inverse_int_method<3>(s, f, count, out);
}

}  // namespace rust::kernels::RUST_KERNEL_NS
