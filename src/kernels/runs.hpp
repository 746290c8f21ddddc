// The run kernels: keys strictly inside one segment, kLanes at a time, each
// lane the scheme's steps in the scheme's order, so each gives the scalar
// scheme's bits. Included once by each kernel file (one instruction set per
// file, one namespace per instruction set); declared in kernels.hpp.
#pragma once

#include <cstddef>

#include "kernels/float_lanes.hpp"
#include "kernels/segments.hpp"

namespace rust::kernels::RUST_KERNEL_NS {

using std::size_t;
using u64 = std::uint64_t;
using i64 = std::int64_t;

// Lanes [0, count) of p as a vector, the others copies of p[0] (any key of
// the run serves).
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
template <class V, class T>
RUST_LANES_INLINE void store(T* p, V v, size_t count) {
    __builtin_memcpy(p, &v, (count < static_cast<size_t>(kLanes) ? count : kLanes) * sizeof(T));
}

// Forward, float values: (f0·(x1 - x) + f1·(x - x0)) / (x1 - x0).
template <int Terms>
RUST_LANES_INLINE U forward_float_lanes(const FloatForward& s, U x) {
    const Divisor d{s.d.m, s.d.v, s.de};
    const U sign0 = splat(u64{s.neg0} << 63), sign1 = splat(u64{s.neg1} << 63);
    if constexpr (Terms == 1) {
        return truncated(sign0, div(mul(magnitude(splat(s.x1) - x), splat(s.m0), s.e0), d));
    } else if constexpr (Terms == 2) {
        return truncated(sign1, div(mul(magnitude(x - s.x0), splat(s.m1), s.e1), d));
    } else if constexpr (Terms == 3) {
        const Mags p0 = mul(magnitude(splat(s.x1) - x), splat(s.m0), s.e0);
        const Mags p1 = mul(magnitude(x - s.x0), splat(s.m1), s.e1);
        return truncated(sign0, div(add(p0, p1), d));
    } else {
        const Mags p0 = mul(magnitude(splat(s.x1) - x), splat(s.m0), s.e0);
        const Mags p1 = mul(magnitude(x - s.x0), splat(s.m1), s.e1);
        const Differences r = sub(p0, p1);
        const U bits = truncated(sign0 ^ (r.swapped & kHalf), div(r.value, d));
        return bits & ~r.zero;  // an exact cancellation is +0.0
    }
}

template <int Terms>
void forward_float_terms(const FloatForward& s, const u64* x, size_t count, double* out) {
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        store(out + j, forward_float_lanes<Terms>(s, load<U>(x + j, left)), left);
    }
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
RUST_LANES_INLINE U place(Mags q, U& fractional) {
    const I e = q.e;
    const U big = mask(e >= 64), small = mask(e <= 0);
    const U whole_from = as_unsigned(e) & 63;
    const U part = select(small, U{}, q.m >> ((splat(64) - whole_from) & 63));
    const U fraction = select(small, U{}, q.m << whole_from);
    U away;
    if constexpr (Method == 1) {
        const U below_one = mask(e == 0) & ~equal(q.m, splat(kHalf));  // in (1/2, 1): up to 1
        away = select(small, below_one, mask((fraction | (part & 1)) > splat(kHalf)));
    } else if constexpr (Method == 3) {
        away = small | nonzero(fraction);
    } else {
        away = U{};
    }
    fractional = ~big & (small | nonzero(fraction));
    const U top = select(mask(e >= 65), splat(~u64{0}), q.m);
    return select(big, top, part + bit(away));
}

// Inverse, float values whose differences with the knots are exact on the
// segment's scale: (x0·(f1 - f) + x1·(f - f0)) / (f1 - f0) placed by the method.
// Stops before the first vector holding a value off that scale (answered by
// the caller) or, under Exact, at the first value without a whole position.
template <int Terms, int Method>
size_t inverse_float_terms(const FloatInverse& s, const double* f, size_t count, u64* out) {
    const Divisor d{s.d.m, s.d.v, s.de};
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        const U bits = load<U>(reinterpret_cast<const u64*>(f + j), left);
        // f as v · 2^k with |v| < 2^53, then on the knots' scale
        const U field = (bits >> 52) & 0x7FF, frac = bits & ((u64{1} << 52) - 1);
        const U normal = nonzero(field);
        const U m = frac | (normal & (u64{1} << 52));
        const U negative = mask(as_signed(bits) < 0);
        const U v = select(negative, U{} - m, m);
        const U k = select(normal, field, splat(1)) - 1075;
        const U shift = k - static_cast<u64>(s.k);
        if (any(less(splat(10), shift) & nonzero(v))) return j;  // some lane needs the general difference
        const U on_scale = v << (shift & 63);
        const Mags above = magnitude(splat(s.vhi) - on_scale), below = magnitude(on_scale - s.vlo);
        const Mags ga{above.m, above.e + s.k}, gb{below.m, below.e + s.k};
        U q;
        U fractional;
        if constexpr (Terms == 0) {
            q = U{};
            fractional = U{};
        } else if constexpr (Terms == 1) {
            q = place<Method>(div(mul(ga, splat(s.m0), s.e0), d), fractional);
        } else if constexpr (Terms == 2) {
            q = place<Method>(div(mul(gb, splat(s.m1), s.e1), d), fractional);
        } else {
            q = place<Method>(div(add(mul(ga, splat(s.m0), s.e0), mul(gb, splat(s.m1), s.e1)), d), fractional);
        }
        if constexpr (Method == 0) {
            u64 lanes[kLanes];
            __builtin_memcpy(lanes, &fractional, sizeof lanes);
            const size_t n = left < static_cast<size_t>(kLanes) ? left : kLanes;
            for (size_t l = 0; l < n; ++l)
                if (lanes[l] != 0) {
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

// n / d for n = (hi, lo) with hi below the segment's divisor: quotient and
// remainder, the numerator shifted with the divisor.
RUST_LANES_INLINE void div_shifted(const Integer& s, U hi, U lo, U& q, U& r) {
    const unsigned sh = s.shift;
    const U u1 = (hi << sh) | ((lo >> 1) >> (63 - sh));
    const U u0 = lo << sh;
    div_normalised(u1, u0, s.d.m, s.d.v, q, r);
    r >>= sh;
}

// The rounding of a quotient q with remainder r by a divisor d: whether it
// moves up by one (Nearest: ties to even; Bfill: any remainder).
template <int Method>
RUST_LANES_INLINE U round_up(U q, U r, u64 d) {
    if constexpr (Method == 1) {
        const U rest = splat(d) - r;
        return bit(less(rest, r) | (equal(r, rest) & mask(as_signed(q & 1) != 0)));
    } else if constexpr (Method == 3) {
        return bit(nonzero(r));
    } else {
        return U{};
    }
}

// Forward, integer values: the nearest integer to (B0·(x1 - x) + B1·(x - x0))
// / (x1 - x0) in biased form, unbiased.
void forward_int(const Integer& s, const u64* x, size_t count, i64* out) {
    const u64 d = s.d.m >> s.shift;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        const U xv = load<U>(x + j, left);
        U h1, l1, h0, l0;
        mul_wide(xv - s.x0, splat(s.b1), h1, l1);
        mul_wide(splat(s.x1) - xv, splat(s.b0), h0, l0);
        const U lo = l1 + l0, hi = h1 + h0 + bit(less(lo, l1));
        U q, r;
        div_shifted(s, hi, lo, q, r);
        store(out + j, (q + round_up<1>(q, r, d)) ^ kHalf, left);
    }
}

// Inverse, integer values: (x0·(B1 - b) + x1·(b - B0)) / (B1 - B0) rounded by
// the method; under Exact stops at the first value without a whole position.
template <int Method>
size_t inverse_int_method(const Integer& s, const i64* f, size_t count, u64* out) {
    const u64 d = s.d.m >> s.shift;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        const U b = load<U>(reinterpret_cast<const u64*>(f + j), left) ^ kHalf;
        U h1, l1, h0, l0;
        mul_wide(splat(s.x1), b - s.b0, h1, l1);
        mul_wide(splat(s.x0), splat(s.b1) - b, h0, l0);
        const U lo = l1 + l0, hi = h1 + h0 + bit(less(lo, l1));
        U q, r;
        div_shifted(s, hi, lo, q, r);
        if constexpr (Method == 0) {
            u64 lanes[kLanes];
            __builtin_memcpy(lanes, &r, sizeof lanes);
            const size_t n = left < static_cast<size_t>(kLanes) ? left : kLanes;
            for (size_t l = 0; l < n; ++l)
                if (lanes[l] != 0) {
                    store(out + j, q, l);
                    return j + l;
                }
        }
        store(out + j, q + round_up<Method>(q, r, d), left);
    }
    return count;
}

size_t inverse_int(const Integer& s, const i64* f, size_t count, int method, u64* out) {
    switch (method) {
        case 0: return inverse_int_method<0>(s, f, count, out);
        case 1: return inverse_int_method<1>(s, f, count, out);
        case 2: return inverse_int_method<2>(s, f, count, out);
        default: break;
    }
    return inverse_int_method<3>(s, f, count, out);
}

}  // namespace rust::kernels::RUST_KERNEL_NS
