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

// How many of lanes [0, count) have the mask set.
RUST_LANES_INLINE size_t count_set(M m, size_t count) {
    i64 lanes[kLanes];
    __builtin_memcpy(lanes, &m, sizeof lanes);
    const size_t n = count < static_cast<size_t>(kLanes) ? count : kLanes;
    size_t set = 0;
    for (size_t l = 0; l < n; ++l) set += lanes[l] != 0;
    return set;
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

// The fast path of the forward: the quotient of the same chain in hardware
// doubles, near enough to the F80 chain's to tell its truncation in all but
// a small share of keys, which it hands to the F80 lanes.
//
// The F80 chain rounds four times to 64 bits (p0, p1, their sum, the
// quotient), so its q80 lies within (3 + 2^-62)·2^-64·T/d of the exact
// Q = (f0·a + f1·b) / d, T = |f0·a| + |f1·b|. Here Q is found to within
// 2^-99·T/d: a and b as a double and its exact rest, the products exact by
// FMA but for the rests' (2^-106·T), the sum of the leading products exact
// (TwoSum), its rest and the products' rests summed in doubles (2^-102·T),
// the quotient qh + ql by the reciprocal with the remainder kept (2^-100·T/d),
// renormalised so that |ql| is at most half qh's ulp. E = 2^-62·T/d, as
// computed (every rounding taken against it), exceeds both errors together,
// so q80 lies in [qh + ql - E, qh + ql + E]. Where E is below a quarter of
// qh's ulp (|qh| > 2^55·E), that interval truncates to qh when ql >= E, to
// the double next to qh toward zero when ql < -E (ql taken toward qh's
// sign), and straddles a boundary otherwise: those keys, and every key of a
// cancellation deep enough that E is not that small, are handed on. The
// operand ranges of `fast` keep every value normal: the answers are the F80
// chain's truncations, bit for bit.
template <bool Narrow>
RUST_LANES_INLINE U forward_float_fast(const FloatForward& s, U x, M& handed) {
    F ah, al, bh, bl;
    to_double<Narrow>(splat(s.x1) - x, ah, al);
    to_double<Narrow>(x - s.x0, bh, bl);
    const F f0 = splat_double(s.f0), f1 = splat_double(s.f1);
    const F p = ah * f0, pe = fma(ah, f0, -p);
    const F r = bh * f1, re = fma(bh, f1, -r);
    const F sum = p + r, back = sum - p;
    const F se = (p - (sum - back)) + (r - back);  // TwoSum: sum + se = p + r
    F rest = se + (pe + re);
    if constexpr (!Narrow) rest += al * f0 + bl * f1;
    const F inv = splat_double(s.inv), dh = splat_double(s.dh);
    const F q0 = sum * inv;
    const F rem = fma(-q0, dh, sum);  // sum - q0·dh
    const F q1 = ((rem + rest) - q0 * splat_double(s.dl)) * inv;
    const F qh = q0 + q1, ql = (q0 - qh) + q1;  // Fast2Sum: |q1| < |q0|
    const F e = (magnitude_of(p) + magnitude_of(r)) * splat_double(s.bound);
    const U sign = bits_of(qh) & kHalf;
    const F toward = as_double(bits_of(ql) ^ sign);                   // ql, positive where it points away from zero
    const M small = less(e * 36028797018963968.0, magnitude_of(qh));  // E < 2^-55·|qh|
    const M keep = small & ~less(toward, e), step = small & less(toward, -e);
    handed = ~(keep | step);
    return bits_of(qh) - bit(step);
}

// Each kernel copies its segment into locals first: the stores of results
// could otherwise alias it, and every field would be read and broadcast again
// for every vector. Returns how many keys the fast path did not answer (all
// of them where it does not apply).
template <ForwardTerms Terms, bool Narrow>
size_t forward_float_terms(const FloatForward& segment, const u64* x, size_t count, double* out) {
    const FloatForward s = segment;
    if (s.fast && default_float_environment()) {
        const std::uint64_t status = float_status();
        size_t handed_on = 0;
        for (size_t j = 0; j < count; j += kLanes) {
            const size_t left = count - j;
            const U keys = load<U>(x + j, left);
            M handed;
            U bits = forward_float_fast<Narrow>(s, keys, handed);
            if (any(handed)) {
                bits = select(handed, forward_float_lanes<Terms, Narrow>(s, keys), bits);
                handed_on += count_set(handed, left);
            }
            store(out + j, bits, left);
        }
        restore_float_status(status);
        return handed_on;
    }
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        store(out + j, forward_float_lanes<Terms, Narrow>(s, load<U>(x + j, left)), left);
    }
    return count;
}

template <ForwardTerms Terms>
size_t forward_float_terms(const FloatForward& s, const u64* x, size_t count, double* out) {
    if (s.x1 - s.x0 <= 0xFFFFFFFF) return forward_float_terms<Terms, true>(s, x, count, out);
    return forward_float_terms<Terms, false>(s, x, count, out);
}

size_t forward_float(const FloatForward& s, const u64* x, size_t count, double* out) {
    switch (s.terms) {
        case ForwardTerms::Left: return forward_float_terms<ForwardTerms::Left>(s, x, count, out);
        case ForwardTerms::Right: return forward_float_terms<ForwardTerms::Right>(s, x, count, out);
        case ForwardTerms::Sum: return forward_float_terms<ForwardTerms::Sum>(s, x, count, out);
        case ForwardTerms::Difference: return forward_float_terms<ForwardTerms::Difference>(s, x, count, out);
        case ForwardTerms::None: break;
    }
    for (size_t j = 0; j < count; ++j) out[j] = 0.0;  // both knot values zero
    return count;                                     // none answered by the fast path
}

// A segment of the forward that rounds once in lanes: the same in every
// lane (one segment's run), or each lane's own (keys gathered from many).
struct ForwardLanes {
    U x0, x1;
    F f0, f1, dh, dl, inv, bound;
};

RUST_LANES_INLINE ForwardLanes lanes_of(const RoundedForward& s) {
    return {splat(s.x0),        splat(s.x1),        splat_double(s.f0),  splat_double(s.f1),
            splat_double(s.dh), splat_double(s.dl), splat_double(s.inv), splat_double(s.bound)};
}

// Zero or a magnitude in [2^-800, 2^800]: the values the fast paths take
// (not NaN, not infinite).
RUST_LANES_INLINE M in_rounded_range(F v) {
    const F m = magnitude_of(v);
    return (less(splat_double(0x1.fffffffffffffp-801), m) & less(m, splat_double(0x1.0000000000001p800))) |
           equal(bits_of(m), U{});
}

// The fast path of the forward that rounds once: the estimate qh + ql of
// v = (f0·a + f1·b) / d and its bound e, as schemes/rounded.cpp proves them
// for the scalar form (there a and b split at bit 11; here hi is the double
// nearest to them, |lo| <= 2^-43·hi, which keeps every bound; the quotient's
// correction q1 is taken by the reciprocal, which errs by 2^-51 of q1,
// below 2^-89·T/d). The lanes where e may reach a midpoint beside qh are
// handed on.
template <bool Narrow>
RUST_LANES_INLINE U forward_rounded_fast(const ForwardLanes& s, U x, M& handed) {
    F ah, al, bh, bl;
    to_double<Narrow>(s.x1 - x, ah, al);
    to_double<Narrow>(x - s.x0, bh, bl);
    const F f0 = s.f0, f1 = s.f1;
    const F p = ah * f0, pe = fma(ah, f0, -p);
    const F r = bh * f1, re = fma(bh, f1, -r);
    const F sum = p + r, back = sum - p;
    const F se = (p - (sum - back)) + (r - back);  // TwoSum: sum + se = p + r
    F rest = se + (pe + re);
    if constexpr (!Narrow) rest += al * f0 + bl * f1;
    const F dh = s.dh;
    const F q0 = sum / dh;
    const F rem = fma(-q0, dh, sum);  // sum - q0·dh, exact
    const F q1 = ((rem + rest) - q0 * s.dl) * s.inv;
    const F qh = q0 + q1, ql = (q0 - qh) + q1;  // Fast2Sum: |q1| < |q0|
    const F e = (magnitude_of(p) + magnitude_of(r)) * s.bound;
    const F m = magnitude_of(qh);
    const U mb = bits_of(m);
    const F away = (as_double(mb + 1) - m) * 0.5, toward = (m - as_double(mb - 1)) * 0.5;
    const F t = as_double(bits_of(ql) ^ (bits_of(qh) & kHalf));  // ql, positive away from zero
    const M decided = ~less(m, splat_double(0x1p-900)) & less(t + e, away) & less(e - t, toward);
    handed = ~decided;
    return bits_of(qh);
}

// The run loop of both kernels that round once: each vector of keys through
// fast(j, left), which stores its lanes' answers and returns the mask of the
// lanes it hands on, whose indices are collected into handed; outside the
// default environment every key is handed. Returns how many were handed.
// `held`: the caller found the default environment and puts the status
// flags back, so neither is read here.
template <class Fast>
RUST_LANES_INLINE size_t rounded_run(size_t count, bool held, std::uint32_t* handed, Fast&& fast) {
    size_t handed_on = 0;
    if (!held && !default_float_environment()) {
        for (size_t j = 0; j < count; ++j) handed[j] = static_cast<std::uint32_t>(j);
        return count;
    }
    const std::uint64_t status = held ? 0 : float_status();
    const auto collect = [&](size_t j, size_t left, M h) RUST_LANES_INLINE_LAMBDA {
        if (any(h)) [[unlikely]] {
            i64 lanes[kLanes];
            __builtin_memcpy(lanes, &h, sizeof lanes);
            const size_t n = left < static_cast<size_t>(kLanes) ? left : kLanes;
            for (size_t l = 0; l < n; ++l)
                if (lanes[l] != 0) handed[handed_on++] = static_cast<std::uint32_t>(j + l);
        }
    };
    size_t j = 0;
    // two whole vectors a step: their estimates, independent, overlap
    for (; j + 2 * kLanes <= count; j += 2 * kLanes) {
        const M h0 = fast(j, kLanes), h1 = fast(j + kLanes, kLanes);
        collect(j, kLanes, h0);
        collect(j + kLanes, kLanes, h1);
    }
    for (; j < count; j += kLanes) collect(j, count - j, fast(j, count - j));
    if (!held) restore_float_status(status);
    return handed_on;
}

template <bool Narrow>
size_t forward_rounded_on(const RoundedForward& segment, const u64* x, size_t count, double* out,
                          std::uint32_t* handed) {
    const ForwardLanes s = lanes_of(segment);
    return rounded_run(count, segment.held, handed, [&](size_t j, size_t left) RUST_LANES_INLINE_LAMBDA {
        M h;
        store(out + j, forward_rounded_fast<Narrow>(s, load<U>(x + j, left), h), left);
        return h;
    });
}

size_t forward_rounded(const RoundedForward& s, const u64* x, size_t count, double* out, std::uint32_t* handed) {
    if (s.x1 - s.x0 <= 0xFFFFFFFF) return forward_rounded_on<true>(s, x, count, out, handed);
    return forward_rounded_on<false>(s, x, count, out, handed);
}

// Keys each inside its own segment: every lane's segment prepared as the
// dispatcher prepares one (d to the nearest double and its rest, the
// reciprocal, the bound's factor 2^-78 / dh as 2^-78 times it, exact), and
// lanes whose knot values the fast path does not take handed on.
size_t forward_rounded_keys(const RoundedKeys& k, const u64* x, size_t count, double* out, std::uint32_t* handed) {
    return rounded_run(count, k.held, handed, [&](size_t j, size_t left) RUST_LANES_INLINE_LAMBDA {
        ForwardLanes s;
        s.x0 = load<U>(k.x0 + j, left);
        s.x1 = load<U>(k.x1 + j, left);
        s.f0 = as_double(load<U>(k.f0 + j, left));
        s.f1 = as_double(load<U>(k.f1 + j, left));
        to_double<false>(s.x1 - s.x0, s.dh, s.dl);
        s.inv = splat_double(1.0) / s.dh;
        s.bound = s.inv * 0x1p-78;
        M h;
        store(out + j, forward_rounded_fast<false>(s, load<U>(x + j, left), h), left);
        return h | ~(in_rounded_range(s.f0) & in_rounded_range(s.f1));
    });
}

// A segment of the inverse that rounds once in lanes, one segment's or each
// lane's own; `exact` the lanes whose Δ and D are doubles exactly,
// `some_exact` whether any lane may be.
struct InverseLanes {
    U x0;
    F f0, delta_hi, delta_lo, dh, dl, inv, bound;
    M exact;
    bool some_exact;
};

RUST_LANES_INLINE InverseLanes lanes_of(const RoundedInverse& s) {
    return {
        splat(s.x0),        splat_double(s.f0),  splat_double(s.delta_hi), splat_double(s.delta_lo), splat_double(s.dh),
        splat_double(s.dl), splat_double(s.inv), splat_double(s.bound),    s.exact ? ~M{} : M{},     s.exact};
}

// The fast path of the inverse that rounds once, as schemes/rounded.cpp
// proves it for the scalar form: u = Δ·(f - f0) / D estimated as qh + ql
// within E = |ph|·2^-84/Dh (the correction q1 by the reciprocal, which errs
// by 2^-51 of q1, well inside E). With |qh| < 2^51, K = floor(qh) and
// t = (qh - K) + ql (one rounding, 2^-53 at most: e adds 2^-52) lies in
// [-1/4, 5/4], so u's floor is K - 1, K or K + 1 where [t - e, t + e]
// avoids 0 and 1, and its nearest is decided where it avoids 1/2 too (the
// fraction is above 3/4 below 0 and at most 1/4 above 1). M is one of
// Nearest, Ffill, Bfill: the offset from x0 of the lanes not handed on.
template <Method How>
RUST_LANES_INLINE U inverse_rounded_fast(const InverseLanes& s, F f, M& handed) {
    const F f0 = -s.f0;
    const F gh = f + f0, back = gh - f;
    const F gl = (f - (gh - back)) + (f0 - back);  // TwoSum: gh + gl = f - f0
    const F dh_ = s.delta_hi, dl_ = s.delta_lo;
    const F ph = dh_ * gh, pe = fma(dh_, gh, -ph);
    const F rest = pe + dh_ * gl + (dl_ * gh + dl_ * gl);
    const F d = s.dh;
    const F q0 = ph / d;
    const F rem = fma(-q0, d, ph);
    const F q1 = ((rem + rest) - q0 * s.dl) * s.inv;
    const F qh = q0 + q1, ql = (q0 - qh) + q1;
    const F e = magnitude_of(ph) * s.bound + 0x1p-52;
    // K = floor(qh): the nearest whole number by the 1.5·2^52 shift (exact below 2^51), less one where above qh
    const F magic = splat_double(0x1.8p52);
    const F nearest = (qh + magic) - magic;
    const F one = splat_double(1.0);
    const F k = nearest - select(less(qh, nearest), one, F{});
    const F t = (qh - k) + ql;
    const M low = less(t + e, F{}) & less(-one, t - e);
    const M mid = less(F{}, t - e) & less(t + e, one);
    const M high = less(one, t - e) & less(t + e, one + one);
    const F qm = magnitude_of(q0);
    const M in_range = in_rounded_range(f);
    M decided = (low | mid | high) & in_range & ~less(qm, splat_double(0x1p-900)) &
                less(magnitude_of(qh), splat_double(0x1p51));
    F offset = select(low, k - one, select(high, k + one, k));  // the floor
    if constexpr (How == Method::Bfill) {
        offset = offset + one;
    } else if constexpr (How == Method::Nearest) {
        const M above = less(splat_double(0.5), t - e), below = less(t + e, splat_double(0.5));
        offset = select(low | (mid & above), offset + one, offset);
        decided = decided & ~(mid & ~above & ~below);
    }
    // Near the whole number w = K + (0 or 1): decided exactly, as the scalar
    // form does, where Δ, g and D are doubles exactly (the lane's segment
    // `exact` and its gl = 0): sign(u - w) is that of Δ·g - w·D, compared as
    // the pairs (rounded product, exact rest).
    if (s.some_exact) {
        const M near = ~(low | mid | high) & in_range & ~less(qm, splat_double(0x1p-900)) &
                       less(magnitude_of(qh), splat_double(0x1p51)) & ~less(gl, F{}) & ~less(F{}, gl) & s.exact;
        if (any(near)) {
            const F w = k + select(less(splat_double(0.5), t), one, F{});
            const F wh = w * d, wl = fma(w, d, -wh);
            const M same = ~less(ph, wh) & ~less(wh, ph);
            const M above = less(wh, ph) | (same & less(wl, pe)), below = less(ph, wh) | (same & less(pe, wl));
            F at = w;  // Nearest, and a whole position under every method
            if constexpr (How == Method::Ffill) at = select(below, w - one, w);
            if constexpr (How == Method::Bfill) at = select(above, w + one, w);
            offset = select(near, at, offset);
            decided = decided | near;
        }
    }
    handed = ~decided;
    // the offset as a signed integer (|offset| < 2^51 + 2) by the same shift, then from x0
    const U whole = bits_of(select(decided, offset, F{}) + magic) - bits_of(magic);
    return s.x0 + whole;
}

template <Method How>
size_t inverse_rounded_on(const RoundedInverse& segment, const double* f, size_t count, u64* out,
                          std::uint32_t* handed) {
    const InverseLanes s = lanes_of(segment);
    return rounded_run(count, segment.held, handed, [&](size_t j, size_t left) RUST_LANES_INLINE_LAMBDA {
        M h;
        store(out + j, inverse_rounded_fast<How>(s, as_double(load<U>(f + j, left)), h), left);
        return h;
    });
}

// Values each inside its own segment, every lane's segment prepared as the
// dispatcher prepares one: Δ (signed) to the nearest double and its rest (|rest| <= 2^-43·Δh, which keeps every bound), D by
// TwoSum, the reciprocal, the bound's factor 2^-84 / Dh as 2^-84 times it;
// lanes whose knot values the fast path does not take handed on.
template <Method How>
size_t inverse_rounded_keys_by(const RoundedKeys& k, const double* f, size_t count, u64* out, std::uint32_t* handed) {
    return rounded_run(count, k.held, handed, [&](size_t j, size_t left) RUST_LANES_INLINE_LAMBDA {
        InverseLanes s;
        s.x0 = load<U>(k.x0 + j, left);
        const U x1 = load<U>(k.x1 + j, left);
        const F f0 = as_double(load<U>(k.f0 + j, left)), f1 = as_double(load<U>(k.f1 + j, left));
        s.f0 = f0;
        const M falls = less(x1, s.x0);  // Δ signed: positions may fall
        F hi, lo;
        to_double<false>(select(falls, s.x0 - x1, x1 - s.x0), hi, lo);
        s.delta_hi = select(falls, -hi, hi);
        s.delta_lo = select(falls, -lo, lo);
        s.dh = f1 - f0;
        const F back = s.dh - f1;
        s.dl = (f1 - (s.dh - back)) + (-f0 - back);  // TwoSum: dh + dl = f1 - f0
        s.inv = splat_double(1.0) / s.dh;
        s.bound = s.inv * 0x1p-84;
        s.exact = ~less(s.delta_lo, F{}) & ~less(F{}, s.delta_lo) & ~less(s.dl, F{}) & ~less(F{}, s.dl);
        s.some_exact = true;
        M h;
        store(out + j, inverse_rounded_fast<How>(s, as_double(load<U>(f + j, left)), h), left);
        return h | ~(in_rounded_range(f0) & in_rounded_range(f1));
    });
}

// Values strictly inside the segment by Nearest, Ffill or Bfill (Exact is
// left to the scheme): the decided positions into out, the indices of the
// others into handed; returns how many were handed.
size_t inverse_rounded(const RoundedInverse& s, const double* f, size_t count, Method method, u64* out,
                       std::uint32_t* handed) {
    switch (method) {
        case Method::Ffill: return inverse_rounded_on<Method::Ffill>(s, f, count, out, handed);
        case Method::Bfill: return inverse_rounded_on<Method::Bfill>(s, f, count, out, handed);
        default: break;
    }
    return inverse_rounded_on<Method::Nearest>(s, f, count, out, handed);
}

size_t inverse_rounded_keys(const RoundedKeys& k, const double* f, size_t count, Method method, u64* out,
                            std::uint32_t* handed) {
    switch (method) {
        case Method::Ffill: return inverse_rounded_keys_by<Method::Ffill>(k, f, count, out, handed);
        case Method::Bfill: return inverse_rounded_keys_by<Method::Bfill>(k, f, count, out, handed);
        default: break;
    }
    return inverse_rounded_keys_by<Method::Nearest>(k, f, count, out, handed);
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
// in one word since d <= 2^63. Narrow: d < 2^32, so w, rm and the estimate
// are below 2^32 too, and each product needs one or two 32-bit multiplies
// (six in all, against thirteen).
template <bool Narrow>
RUST_LANES_INLINE void affine_quot_rem(const Affine& s, U key, U& q, U& r) {
    const U w = s.rising ? key - s.k0 : splat(s.k1) - key;
    U t;
    if constexpr (Narrow) {
        const U m = splat(s.m);
        t = (mul32(w, m >> 32) + (mul32(w, m) >> 32)) >> 32;  // floor(w·m / 2^64): no sum reaches 2^64
        r = mul32(w, splat(s.rm)) - mul32(t, splat(s.d));
    } else {
        U lo;
        mul_wide(w, splat(s.m), t, lo);
        r = mul_low(w, splat(s.rm)) - mul_low(t, splat(s.d));
    }
    const M over = ~less(r, splat(s.d));
    t = select(over, t + 1, t);
    r = select(over, r - s.d, r);
    const U wq = Narrow ? mul32(w, splat(s.q)) + (mul32(w, splat(s.q >> 32)) << 32) : mul_low(w, splat(s.q));
    q = splat(s.base) + wq + t;
}

// Forward, integer values: the nearest integer to the biased quotient,
// unbiased.
template <bool Narrow>
void forward_int_on(const Affine& segment, const u64* x, size_t count, i64* out) {
    const Affine s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        U q, r;
        affine_quot_rem<Narrow>(s, load<U>(x + j, left), q, r);
        store(out + j, (q + round_up<Method::Nearest>(q, r, s.d)) ^ kHalf, left);
    }
}

void forward_int(const Affine& s, const u64* x, size_t count, i64* out) {
    if (s.d <= 0xFFFFFFFF) return forward_int_on<true>(s, x, count, out);
    forward_int_on<false>(s, x, count, out);
}

// Inverse, integer values: the position rounded by the method; under Exact
// stops at the first value without a whole position.
template <Method How, bool Narrow>
size_t inverse_int_method(const Affine& segment, const i64* f, size_t count, u64* out) {
    const Affine s = segment;
    for (size_t j = 0; j < count; j += kLanes) {
        const size_t left = count - j;
        U q, r;
        affine_quot_rem<Narrow>(s, load<U>(f + j, left) ^ kHalf, q, r);
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

template <bool Narrow>
size_t inverse_int_by(const Affine& s, const i64* f, size_t count, Method method, u64* out) {
    switch (method) {
        case Method::Exact: return inverse_int_method<Method::Exact, Narrow>(s, f, count, out);
        case Method::Nearest: return inverse_int_method<Method::Nearest, Narrow>(s, f, count, out);
        case Method::Ffill: return inverse_int_method<Method::Ffill, Narrow>(s, f, count, out);
        case Method::Bfill: break;
    }
    return inverse_int_method<Method::Bfill, Narrow>(s, f, count, out);
}

size_t inverse_int(const Affine& s, const i64* f, size_t count, Method method, u64* out) {
    if (s.d <= 0xFFFFFFFF) return inverse_int_by<true>(s, f, count, method, out);
    return inverse_int_by<false>(s, f, count, method, out);
}

// This target's entry points, in the order of the list.
#define RUST_KERNEL_ENTRY(name, result, params) name,
extern const Table table;
const Table table{RUST_KERNEL_ENTRIES(RUST_KERNEL_ENTRY)};
#undef RUST_KERNEL_ENTRY

}  // namespace rust::kernels::RUST_KERNEL_NS
