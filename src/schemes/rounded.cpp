#include "schemes/rounded.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>

#include "base/platform.hpp"
#include "extended/extended.hpp"

namespace rust::schemes::rounded {

namespace {

// A finite double as M·2^e with M a whole number below 2^53: e = -1074 for
// subnormals and zero, field - 1075 otherwise.
struct Dyadic {
    u64 m;
    int e;
};

Dyadic dyadic(f64 c) {
    const u64 bits = std::bit_cast<u64>(c);
    const int field = static_cast<int>((bits >> 52) & 0x7ff);
    const u64 frac = bits & ((u64{1} << 52) - 1);
    assert(field != 0x7ff);
    return field == 0 ? Dyadic{frac, -1074} : Dyadic{frac | (u64{1} << 52), field - 1075};
}

// Two's complement would carry across the whole width at every sign change;
// the positive and the negative products are summed apart, as magnitudes,
// and compared. Bit i of an accumulator weighs 2^(i + kBase).
// Widths: w·M < 2^117 and e + shift <= 972, so the top bit lies below
// 2^(972 + 117) = 2^(2165 + kBase); 36 limbs (2304 bits) hold it with the
// carries of eight products.
constexpr int kBase = -1076;
constexpr int kLimbs = 36;

struct Accumulator {
    u64 limb[kLimbs] = {};

    // += v·2^(i + kBase), v < 2^128.
    void add(u128 v, int i) {
        assert(i >= 0 && i / 64 + 2 < kLimbs);
        const int k = i / 64, off = i % 64;
        const u64 lo = wide::low(v), hi = wide::high(v);
        const u64 parts[3] = {lo << off, off == 0 ? hi : (hi << off) | (lo >> (64 - off)),
                              off == 0 ? 0 : hi >> (64 - off)};
        u64 carry = 0;
        int j = k;
        for (; j < k + 3; ++j) {
            const u64 before = limb[j];
            const u64 sum = before + parts[j - k];
            const u64 total = sum + carry;
            carry = static_cast<u64>(sum < before) + static_cast<u64>(total < sum);
            limb[j] = total;
        }
        for (; carry != 0; ++j) {
            assert(j < kLimbs);
            limb[j] += 1;
            carry = limb[j] == 0 ? 1 : 0;
        }
    }
};

int compare(const Accumulator& a, const Accumulator& b) {
    for (int j = kLimbs - 1; j >= 0; --j)
        if (a.limb[j] != b.limb[j]) return a.limb[j] < b.limb[j] ? -1 : 1;
    return 0;
}

// The doubles in order as whole numbers: -0.0 and +0.0 both 0.
i64 order(f64 c) {
    const i64 bits = std::bit_cast<i64>(std::fabs(c));
    return std::signbit(c) ? -bits : bits;
}

f64 from_order(i64 k) { return k < 0 ? -std::bit_cast<f64>(-k) : std::bit_cast<f64>(k); }

constexpr i64 kLargest = 0x7fefffffffffffff;  // order(the largest double)

// A signed whole number below 2^64 in magnitude, as products take it.
struct Signed {
    u64 magnitude;
    bool negative;
};

Signed difference(u64 a, u64 b) { return a >= b ? Signed{a - b, false} : Signed{b - a, true}; }

}  // namespace

int sum_sign(const Product* products, int count) {
    assert(count >= 0 && count <= 8);
    Accumulator positive, negative;
    for (int k = 0; k < count; ++k) {
        const Product& p = products[k];
        assert(std::isfinite(p.c) && (p.shift == 0 || p.shift == 1));
        if (p.w == 0 || p.c == 0) continue;
        const Dyadic d = dyadic(p.c);
        const bool neg = p.negative != std::signbit(p.c);
        (neg ? negative : positive).add(wide::mul(p.w, d.m), d.e + p.shift - kBase);
    }
    return compare(positive, negative);
}

Value forward_exact(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
    assert(x0 < x1 && std::isfinite(f0) && std::isfinite(f1));
    // v = N/d, N = f0·a + f1·b, a = x1 - x, b = x - x0, d = x1 - x0 > 0: the
    // sign of v - c is that of N - c·d.
    const Signed a = difference(x1, x), b = difference(x, x0);
    const u64 d = x1 - x0;
    // sign(v - c), and sign(v - (c + c')/2) as sign(2N - c·d - c'·d)
    const auto above = [&](f64 c) {
        const Product p[] = {{a.magnitude, a.negative, f0}, {b.magnitude, b.negative, f1}, {d, true, c}};
        return sum_sign(p, 3);
    };
    const auto above_middle = [&](f64 c, f64 c2) {
        const Product p[] = {
            {a.magnitude, a.negative, f0, 1}, {b.magnitude, b.negative, f1, 1}, {d, true, c}, {d, true, c2}};
        return sum_sign(p, 4);
    };
    // The largest double r <= v, searched among the doubles in order: from a
    // double estimate's neighbourhood where it holds v, else every double.
    const f64 guess = (f0 * (a.negative ? -static_cast<f64>(a.magnitude) : static_cast<f64>(a.magnitude)) +
                       f1 * (b.negative ? -static_cast<f64>(b.magnitude) : static_cast<f64>(b.magnitude))) /
                      static_cast<f64>(d);
    i64 lo = -kLargest, hi = kLargest;  // then: v in [from_order(lo), from_order(hi))
    if (std::isfinite(guess)) {
        const i64 g = order(guess);
        const i64 l = std::max(g - 8, -kLargest), h = std::min(g + 8, kLargest);
        if (above(from_order(l)) >= 0 && above(from_order(h)) < 0) lo = l, hi = h;
    }
    if (above(from_order(lo)) < 0) {  // v < -largest: -largest, or beyond it past the middle (ties to the even 2^1024)
        // the middle of -largest and -2^1024 is -largest - 2^970
        const Product p[] = {{a.magnitude, a.negative, f0},
                             {b.magnitude, b.negative, f1},
                             {d, true, from_order(lo)},
                             {d, false, 0x1p970}};
        return sum_sign(p, 4) > 0 ? Value{from_order(lo), false} : Value{0.0, true};
    }
    if (above(from_order(hi)) >= 0) {  // v >= largest
        const Product p[] = {{a.magnitude, a.negative, f0},
                             {b.magnitude, b.negative, f1},
                             {d, true, from_order(hi)},
                             {d, true, 0x1p970}};
        return sum_sign(p, 4) < 0 ? Value{from_order(hi), false} : Value{0.0, true};
    }
    // (the span of orders reaches 2^64 - 2^53: counted unsigned)
    while (static_cast<u64>(hi) - static_cast<u64>(lo) > 1) {
        const i64 mid = lo + static_cast<i64>((static_cast<u64>(hi) - static_cast<u64>(lo)) / 2);
        if (above(from_order(mid)) >= 0)
            lo = mid;
        else
            hi = mid;
    }
    const f64 below = from_order(lo), next = from_order(hi);
    if (above(below) == 0) return {below == 0 ? 0.0 : below, false};
    const int middle = above_middle(below, next);
    const bool up = middle > 0 || (middle == 0 && (std::bit_cast<u64>(next) & 1) == 0);
    const f64 r = up ? next : below;
    return {r == 0 ? 0.0 : r, false};
}

std::optional<u64> inverse_exact(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow) {
    assert(f0 < f1 && std::isfinite(f) && std::isfinite(f1) && std::isfinite(f0));
    overflow = false;
    // p = x0 + u, u = Δ·(f - f0)/D with Δ = x1 - x0 and D = f1 - f0 > 0: for a
    // whole k, sign(u - k) is that of S(k) = Δ·f - Δ·f0 - k·f1 + k·f0, and
    // sign(u - k - 1/2) that of 2·S(k) - D.
    const Signed delta = difference(x1, x0);
    const auto s = [&](Signed k, bool half) {
        const Product p[] = {{delta.magnitude, delta.negative, f, half},
                             {delta.magnitude, !delta.negative, f0, half},
                             {k.magnitude, !k.negative, f1, half},
                             {k.magnitude, k.negative, f0, half},
                             {1, true, f1},
                             {1, false, f0}};
        return sum_sign(p, half ? 6 : 4);
    };
    // k as a signed 65-bit whole number held in (magnitude, sign); u lies
    // within (-2^64, 2^64) wherever p can be a uint64 (|Δ| < 2^64, and
    // outside the segment a p beyond range is an overflow either way).
    // floor(u), searched by bisection over the signed 65-bit range in two
    // halves: k >= 0 and k < 0 (magnitudes).
    // First a window of whole numbers around a double estimate of u, where
    // it holds u: a few products instead of a bisection over the range.
    const auto as_signed = [](i64 k) {
        return k < 0 ? Signed{0 - static_cast<u64>(k), true} : Signed{static_cast<u64>(k), false};
    };
    const f64 estimate =
        std::floor((delta.negative ? -static_cast<f64>(delta.magnitude) : static_cast<f64>(delta.magnitude)) *
                   ((f - f0) / (f1 - f0)));
    std::optional<Signed> window_floor;
    if (std::fabs(estimate) < 0x1p62) {
        i64 lo = static_cast<i64>(estimate) - 4, hi = static_cast<i64>(estimate) + 5;  // S(lo) >= 0 > S(hi) wanted
        if (s(as_signed(lo), false) >= 0 && s(as_signed(hi), false) < 0) {
            while (hi - lo > 1) {
                const i64 mid = lo + (hi - lo) / 2;
                if (s(as_signed(mid), false) >= 0)
                    lo = mid;
                else
                    hi = mid;
            }
            window_floor = as_signed(lo);
        }
    }
    const Signed zero{0, false};
    Signed floor_k{};
    if (window_floor) {
        floor_k = *window_floor;
    } else if (s(zero, false) >= 0) {  // u >= 0: the largest magnitude k with S(k) >= 0
        u64 lo = 0, hi = ~u64{0};
        if (s({hi, false}, false) >= 0) {
            // u >= 2^64 - 1: past any uint64 offset unless below 2^64 (sign(u - 2^64) by 2^63·2)
            const Product p[] = {{delta.magnitude, delta.negative, f},
                                 {delta.magnitude, !delta.negative, f0},
                                 {u64{1} << 63, true, f1, 1},
                                 {u64{1} << 63, false, f0, 1}};
            if (sum_sign(p, 4) >= 0) {
                overflow = true;
                return std::nullopt;
            }
            floor_k = {hi, false};
        } else {
            while (hi - lo > 1) {
                const u64 mid = lo + (hi - lo) / 2;
                if (s({mid, false}, false) >= 0)
                    lo = mid;
                else
                    hi = mid;
            }
            floor_k = {lo, false};
        }
    } else {                       // u < 0: the smallest magnitude m with S(-m) >= 0, floor = -m
        u64 lo = 0, hi = ~u64{0};  // S(-lo) < 0
        if (s({hi, true}, false) < 0) {
            overflow = true;
            return std::nullopt;
        }
        while (hi - lo > 1) {
            const u64 mid = lo + (hi - lo) / 2;
            if (s({mid, true}, false) >= 0)
                hi = mid;
            else
                lo = mid;
        }
        floor_k = {hi, true};
    }
    const bool whole = s(floor_k, false) == 0;
    // The result's offset from x0: floor, floor + 1, or by the half.
    bool add_one = false;
    switch (method) {
        case InverseMethod::Exact:
            if (!whole) return std::nullopt;
            break;
        case InverseMethod::Ffill: break;
        case InverseMethod::Bfill: add_one = !whole; break;
        case InverseMethod::Nearest: {
            if (whole) break;
            const int middle = s(floor_k, true);
            const u64 parity = floor_k.magnitude & 1;  // the same for -m and m
            add_one = middle > 0 || (middle == 0 && parity == 1);
            break;
        }
    }
    // x0 + floor + add_one within uint64
    const u128 base = u128{x0};
    if (!floor_k.negative) {
        const u128 sum = base + u128{floor_k.magnitude} + u128{add_one ? u64{1} : u64{0}};
        if (wide::high(sum) != 0) {
            overflow = true;
            return std::nullopt;
        }
        return wide::low(sum);
    }
    const u64 back = floor_k.magnitude - (add_one ? 1 : 0);  // magnitude >= 1 here
    if (back > x0) {
        overflow = true;
        return std::nullopt;
    }
    return x0 - back;
}

// The whole-number form of one key.

std::optional<f64> forward_whole(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
    assert(x0 < x && x < x1 && std::isfinite(f0) && std::isfinite(f1));
    // Each value as ±m·2^e with m odd (zero: m = 0), the two brought to the
    // lower exponent e, where each m·2^(its e - e) stays below 2^62.
    struct Odd {
        u64 m;
        int e;
    };
    const auto odd = [](f64 c) {
        const Dyadic v = dyadic(c);
        if (v.m == 0) return Odd{0, 0};
        const int z = std::countr_zero(v.m);
        return Odd{v.m >> z, v.e + z};
    };
    const Odd p = odd(f0), q = odd(f1);
    if (p.m == 0 && q.m == 0) return 0.0;
    const int e = p.m == 0 ? q.e : q.m == 0 ? p.e : std::min(p.e, q.e);
    const auto widened = [e](Odd o) -> std::optional<u64> {
        if (o.m == 0) return u64{0};
        const int shift = o.e - e;
        if (shift > 62 - static_cast<int>(std::bit_width(o.m))) return std::nullopt;
        return o.m << shift;
    };
    const std::optional<u64> m0 = widened(p), m1 = widened(q);
    if (!m0 || !m1) return std::nullopt;
    // N = ±m0·a ± m1·b, a = x1 - x and b = x - x0 below d = x1 - x0: each
    // product below 2^126, |N| <= max(m0, m1)·d < 2^62·d, so the quotient
    // N/d has at most 62 whole bits and N's high word lies below d.
    const u64 d = x1 - x0;
    const bool n0 = std::signbit(f0), n1 = std::signbit(f1);
    const u128 pa = wide::mul(*m0, x1 - x), pb = wide::mul(*m1, x - x0);
    bool negative = n0;
    u128 n;
    if (n0 == n1)
        n = pa + pb;
    else if (pa >= pb)
        n = pa - pb;
    else
        n = pb - pa, negative = n1;
    if (!n) return 0.0;  // +0, as the exact path answers a zero
    // 128 bits of N/d: t = floor(N·2^64 / d), and whether a remainder is left.
    const wide::QuotRem64 whole = wide::div(wide::high(n), wide::low(n), d);
    const wide::QuotRem64 frac = wide::div(whole.r, 0, d);
    const u128 t = wide::make(whole.q, frac.q);
    const int width = whole.q != 0 ? 128 - std::countl_zero(whole.q) : 64 - std::countl_zero(frac.q);
    if (width < 54) return std::nullopt;  // deep cancellation: too few bits to round
    // t's top 53 bits, rounded to nearest by the bits below them and the
    // remainder, ties to even.
    const int below = width - 53;
    u64 mantissa = static_cast<u64>(t >> below);
    const u128 rest = t & ((u128(1) << below) - u128(1)), half = u128(1) << (below - 1);
    if (rest > half || (rest == half && (frac.r != 0 || (mantissa & 1) != 0))) ++mantissa;
    // v = mantissa·2^(below + e - 64), the mantissa in [2^52, 2^53] (2^53:
    // rounded up into the next binade).
    int exponent = below + e - 64;
    if (mantissa == u64{1} << 53) mantissa >>= 1, ++exponent;
    const int field = exponent + 1075;
    // subnormal (never beyond the largest: v lies between f0 and f1)
    if (field < 1 || field > 2046) return std::nullopt;
    const u64 bits =
        (static_cast<u64>(negative) << 63) | (static_cast<u64>(field) << 52) | (mantissa & ((u64{1} << 52) - 1));
    return std::bit_cast<f64>(bits);
}

// The fast path.

namespace {

// The Scopes alive on this thread, and whether the fast paths may run.
struct Held {
    int depth = 0;
    bool fast = false;
};
thread_local Held held;

#if RUST_FAST_PATH_COUNTS
thread_local Counts fast_counts{};
void tally(std::size_t keys, std::size_t exact) {
    fast_counts.keys += keys;
    fast_counts.exact += exact;
}
void tally_whole() { ++fast_counts.whole; }
#else
void tally(std::size_t, std::size_t) {}
void tally_whole() {}
#endif

// Zero, or a magnitude in [2^-800, 2^800]: every product, sum and quotient
// the fast path forms of such values and 64-bit whole numbers stays a normal
// double, far from overflow, and so does every error term it takes exactly.
bool in_range(f64 v) {
    const f64 m = std::fabs(v);
    return m == 0 || (m >= 0x1p-800 && m <= 0x1p800);
}

// A whole number below 2^64 as hi + lo exactly, both doubles: itself below
// 2^53, else its 53 high bits (bits 11 to 63) and the 11 low ones, so that
// |lo| < 2^-42·hi.
struct Split {
    f64 hi, lo;
};
Split split(Signed v) {
    const Split s = v.magnitude < (u64{1} << 53)
                        ? Split{static_cast<f64>(v.magnitude), 0.0}
                        : Split{static_cast<f64>(v.magnitude & ~u64{0x7FF}), static_cast<f64>(v.magnitude & 0x7FF)};
    return v.negative ? Split{-s.hi, -s.lo} : s;
}

// 2^k / v rounded up to a power of two, for a normal v > 0 (between it and
// twice it): a bound's factor without a division. k and v keep the result
// normal (the callers' k and ranges do).
f64 power_over(int k, f64 v) {
    const int field = static_cast<int>(std::bit_cast<u64>(v) >> 52);      // v in [2^(field - 1023), 2^(field - 1022))
    return std::bit_cast<f64>(static_cast<u64>(2046 + k - field) << 52);  // 2^(k - (field - 1023))
}

// The product a·b as hi + lo exactly, where no step underflows or
// overflows (the fast paths' ranges keep every product above 2^-910 and
// below 2^900): by the hardware's fused multiply-add where the compiler
// has one (FP_FAST_FMA), else by Dekker's product on halves of 26 and 27
// bits, exact in plain double arithmetic. A library's software fma is
// never called: some are not exact.
Split two_product(f64 a, f64 b) {
    const f64 p = a * b;
#if defined(FP_FAST_FMA)
    return {p, std::fma(a, b, -p)};
#else
    const auto halves = [](f64 v) {
        const f64 c = 134217729.0 * v;  // 2^27 + 1
        const f64 hi = c - (c - v);
        return Split{hi, v - hi};
    };
    const Split x = halves(a), y = halves(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
#endif
}

// The sum a + b as hi + lo exactly (TwoSum).
Split two_sum(f64 a, f64 b) {
    const f64 hi = a + b, back = hi - a;
    return {hi, (a - (hi - back)) + (b - back)};
}

// The forward's segment for the fast path: d = x1 - x0 split, and the bound's
// factor 2^-78 / dh (rounded up to a power of two).
struct ForwardFast {
    u64 x0, x1;
    f64 f0, f1, dh, dl, bound;
    bool fast;
};

ForwardFast forward_fast_segment(u64 x0, f64 f0, u64 x1, f64 f1) {
    const Split d = split({x1 - x0, false});
    return {x0, x1, f0, f1, d.hi, d.lo, power_over(-78, d.hi), in_range(f0) && in_range(f1)};
}

// The double nearest v = (f0·a + f1·b) / d, a = x1 - x, b = x - x0 (signed),
// where the estimate decides it; nothing otherwise. In the default
// environment only.
//
// The estimate. a = ah + al and b = bh + bl exactly (split); f0·ah = p + pe
// and f1·bh = r + re exactly (two_product), p + r = sum + se exactly (TwoSum), so
// N = f0·a + f1·b = sum + R, R = se + pe + re + f0·al + f1·bl. With
// T = |p| + |r|: |se|, |pe|, |re| <= 2^-53·T and |f0·al| + |f1·bl| <= 2^-42·T,
// so |R| <= 2^-41·T, and R computed (two rounded products, four sums) is
// within 2^-90·T of it. sum = q0·dh + rem exactly (the remainder of a
// rounded quotient, two_product), so v = q0 + c/d with c = rem + R - q0·dl,
// |c| <= 2^-39·T; c is computed within 2^-89·T, dividing by dh instead of
// d = dh + dl (|dl| < 2^-42·dh) errs by at most 2^-81·T/d, the division's
// rounding by 2^-91·T/d. So qh + ql (Fast2Sum of q0 and q1, |q1| < |q0|)
// lies within 2^-80·T/d of v, and E = T·2^-78/dh as computed exceeds that.
// qh is qh + ql rounded, |ql| <= half an ulp of qh: v rounds to qh when
// [qh + ql - E, qh + ql + E] lies strictly between the midpoints beside qh
// (half an ulp away from zero, half the ulp below toward zero: a quarter
// of the ulp above a power of two). Each comparison is of a rounded sum with
// a double, which rounding cannot carry across. Every operand is normal
// (in_range, and qh at least 2^-900), so every step above holds.
std::optional<f64> forward_fast(const ForwardFast& s, u64 x) {
    const Split a = split(difference(s.x1, x)), b = split(difference(x, s.x0));
    const Split fa = two_product(s.f0, a.hi), fb = two_product(s.f1, b.hi);
    const f64 p = fa.hi, pe = fa.lo, r = fb.hi, re = fb.lo;
    const Split sum = two_sum(p, r);
    const f64 rest = sum.lo + (pe + re) + (s.f0 * a.lo + s.f1 * b.lo);
    const f64 q0 = sum.hi / s.dh;
    const Split back = two_product(q0, s.dh);
    const f64 rem = (sum.hi - back.hi) - back.lo;  // sum - q0·dh: exact (Sterbenz, then a representable result)
    const f64 q1 = ((rem + rest) - q0 * s.dl) / s.dh;
    const f64 qh = q0 + q1, ql = (q0 - qh) + q1;
    const f64 e = (std::fabs(p) + std::fabs(r)) * s.bound;
    const f64 m = std::fabs(qh);
    if (!(m >= 0x1p-900)) return std::nullopt;  // zero or deep cancellation
    const u64 bits = std::bit_cast<u64>(m);
    const f64 away = (std::bit_cast<f64>(bits + 1) - m) * 0.5, toward = (m - std::bit_cast<f64>(bits - 1)) * 0.5;
    const f64 t = std::signbit(qh) ? -ql : ql;  // ql, positive away from zero
    if (t + e < away && e - t < toward) return qh;
    return std::nullopt;
}

// The inverse's segment for the fast path: Δ = x1 - x0 split (signed),
// D = f1 - f0 = Dh + Dl exactly, and the bound's factor 2^-84 / Dh (rounded
// up to a power of two).
struct InverseFast {
    u64 x0, x1;
    f64 f0, f1;
    Split delta, d;
    f64 bound;
    bool fast;
};

InverseFast inverse_fast_segment(u64 x0, f64 f0, u64 x1, f64 f1) {
    const Split d = two_sum(f1, -f0);
    const bool fast = in_range(f0) && in_range(f1);  // then D is normal: f0 < f1 on a grid of 2^-852
    return {x0, x1, f0, f1, split(difference(x1, x0)), d, fast ? power_over(-84, d.hi) : 0.0, fast};
}

// What the fast path of the inverse made of a value.
struct Decided {
    enum Kind : std::uint8_t { Undecided, Position, NotFound } kind;
    u64 position;
};

// The whole position of p = x0 + u, u = Δ·g / D with g = f - f0, by the
// method, where the estimate decides it. In the default environment only.
//
// The estimate. g = gh + gl exactly (TwoSum), Δ = Δh + Δl exactly (split),
// Δh·gh = ph + pe exactly (two_product); the other products of Δ·g are at most
// 2^-42·|ph| (|Δl| < 2^-42·|Δh|, |gl| <= 2^-53·|gh|), so the rest R of
// Δ·g = ph + R, computed, is within 2^-90·|ph| of it and |R| <= 2^-41·|ph|.
// ph = q0·Dh + rem exactly, u = q0 + c/D with c = rem + R - q0·Dl, |c| <=
// 2^-40·|ph|; computing c and dividing it by Dh (|Dl| <= 2^-53·Dh) errs by
// at most 2^-88·|ph|/Dh, and E = |ph|·2^-84/Dh as computed exceeds that.
// With |qh| < 2^62, k = floor(qh) + floor(ql) and t = (qh - floor(qh)) +
// (ql - floor(ql)): both parts in [0, 1), the first exact, the second
// exact but for a negative ql above -1 (then within 2^-54), their sum
// rounded within 2^-53, so u = k + t' with |t' - t| <= E + 2^-52. The floor of u
// and its fraction are decided where that interval holds no whole number,
// and the nearest where it holds no half either; near a whole number, an
// exact comparison decides where the operands allow it (below). Every operand is normal: in_range, and q0
// at least 2^-900.
Decided inverse_fast(const InverseFast& s, f64 f, InverseMethod method) {
    constexpr Decided undecided{Decided::Undecided, 0};
    if (!in_range(f)) return undecided;
    const Split g = two_sum(f, -s.f0);
    const Split dg = two_product(s.delta.hi, g.hi);
    const f64 ph = dg.hi, pe = dg.lo;
    const f64 rest = pe + s.delta.hi * g.lo + (s.delta.lo * g.hi + s.delta.lo * g.lo);
    const f64 q0 = ph / s.d.hi;
    if (!(std::fabs(q0) >= 0x1p-900)) return undecided;  // zero (a knot's own position) or tiny
    const Split back = two_product(q0, s.d.hi);
    const f64 rem = (ph - back.hi) - back.lo;  // ph - q0·Dh, exact
    const f64 q1 = ((rem + rest) - q0 * s.d.lo) / s.d.hi;
    const f64 qh = q0 + q1, ql = (q0 - qh) + q1;
    if (!(std::fabs(qh) < 0x1p62)) return undecided;
    const f64 e = std::fabs(ph) * s.bound + 0x1p-52;
    const f64 wh = std::floor(qh), wl = std::floor(ql);
    const f64 t = (qh - wh) + (ql - wl);  // in [0, 2]
    i64 k = static_cast<i64>(wh) + static_cast<i64>(wl);
    // x0 + k within uint64, else the exact path reports the overflow
    const auto at = [&](i64 k) {
        if (k >= 0 ? static_cast<u64>(k) > ~s.x0 : 0 - static_cast<u64>(k) > s.x0) return undecided;
        return Decided{Decided::Position, s.x0 + static_cast<u64>(k)};
    };
    f64 fraction;
    if (t - e > 0 && t + e < 1) {
        fraction = t;
    } else if (t - e > 1 && t + e < 2) {
        fraction = t - 1;  // exact
        ++k;
    } else {
        // Near the whole number w = k + round(t). Where Δ, g and D are
        // doubles exactly (no rest) and |w| < 2^53, u - w has the sign of
        // Δ·g - w·D (D > 0), both products of two doubles, each held exactly
        // as its rounding and the rest: a pair unique to each real, and
        // rounding is monotone, so the products compare by their rounded
        // parts where those differ, else by the rests. Whole positions (an
        // exact table's every answer) are settled here; |u - w| <= e < 2^-20.
        const i64 w = k + static_cast<i64>(std::round(t));
        if (s.delta.lo != 0 || g.lo != 0 || s.d.lo != 0 || w >= (i64{1} << 53) || w <= -(i64{1} << 53))
            return undecided;
        const Split wd = two_product(static_cast<f64>(w), s.d.hi);
        const int sign = ph != wd.hi ? (ph > wd.hi ? 1 : -1) : (pe != wd.lo ? (pe > wd.lo ? 1 : -1) : 0);
        if (sign == 0) return at(w);  // whole, under every method
        switch (method) {
            case InverseMethod::Exact: return {Decided::NotFound, 0};
            case InverseMethod::Nearest: return at(w);
            case InverseMethod::Ffill: return at(sign > 0 ? w : w - 1);
            case InverseMethod::Bfill: break;
        }
        return at(sign > 0 ? w + 1 : w);
    }
    switch (method) {
        case InverseMethod::Exact: return {Decided::NotFound, 0};
        case InverseMethod::Ffill: break;
        case InverseMethod::Bfill: ++k; break;
        case InverseMethod::Nearest:
            if (fraction - e > 0.5)
                ++k;
            else if (!(fraction + e < 0.5))
                return undecided;  // near a half
            break;
    }
    return at(k);
}

}  // namespace

Scope::Scope() {
    if (held.depth++ == 0) held.fast = status_.default_environment();
    fast_ = held.fast;
}

Scope::~Scope() {
    if (--held.depth == 0) status_.restore();
}

Counts counts() {
#if RUST_FAST_PATH_COUNTS
    return fast_counts;
#else
    return {0, 0, 0};
#endif
}

namespace {

// A non-finite knot value is fatal, f0 first, as in the float schemes.
void check_knots(f64 f0, f64 f1) {
    extended::check_finite(extended::fields(f0));
    extended::check_finite(extended::fields(f1));
}

// The environment of one run of keys: a Scope's where one holds on this
// thread, else read here and the caller's status flags put back at its end.
class RunEnvironment {
public:
    RunEnvironment() : scoped_(held.depth > 0) {
        if (!scoped_) status_.emplace();
    }
    ~RunEnvironment() {
        if (status_) status_->restore();
    }
    RunEnvironment(const RunEnvironment&) = delete;
    RunEnvironment& operator=(const RunEnvironment&) = delete;
    bool fast() const { return scoped_ ? held.fast : status_->default_environment(); }

private:
    bool scoped_;
    std::optional<platform::FloatStatus> status_;
};

// Each key's answer, the fast path's where it decides, the exact path's
// otherwise, handed to sink(j, answer) in order until it returns false:
// how many keys were handed. The caller's status flags are kept.
template <class Sink>
std::size_t forward_keys(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, Sink&& sink) {
    check_knots(f0, f1);
    const RunEnvironment environment;
    const ForwardFast s = forward_fast_segment(x0, f0, x1, f1);
    const bool fast = s.fast && environment.fast();
    std::size_t j = 0, exact = 0;
    for (; j < count; ++j) {
        const std::optional<f64> v = fast ? forward_fast(s, x[j]) : std::nullopt;
        if (!v) ++exact;
        if (!sink(j, v ? Value{*v, false} : forward_exact(x[j], x0, f0, x1, f1))) break;
    }
    tally(j < count ? j + 1 : j, exact);  // with the key that stopped the run
    return j;
}

// The same for the inverse: sink(j, position, overflow), the position
// absent where NotFound or `overflow`. Values are finite.
template <class Sink>
std::size_t inverse_keys(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method,
                         Sink&& sink) {
    check_knots(f0, f1);
    const RunEnvironment environment;
    const InverseFast s = inverse_fast_segment(x0, f0, x1, f1);
    const bool fast = s.fast && environment.fast();
    std::size_t j = 0, exact = 0;
    for (; j < count; ++j) {
        const Decided d = fast ? inverse_fast(s, f[j], method) : Decided{Decided::Undecided, 0};
        bool overflow = false;
        std::optional<u64> p;
        if (d.kind == Decided::Position) {
            p = d.position;
        } else if (d.kind == Decided::Undecided) {
            ++exact;
            p = inverse_exact(f[j], x0, f0, x1, f1, method, overflow);
        }
        if (!sink(j, p, overflow)) break;
    }
    tally(j < count ? j + 1 : j, exact);
    return j;
}

}  // namespace

// One key: by whole numbers where they answer (inside the segment), which
// leave the environment alone; else read the environment for the fast path.
Value forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
    check_knots(f0, f1);
    if (x0 < x && x < x1)
        if (const std::optional<f64> v = forward_whole(x, x0, f0, x1, f1)) {
            tally_whole();
            return {*v, false};
        }
    Value v{};
    forward_keys(&x, 1, x0, f0, x1, f1, [&](std::size_t, Value r) {
        v = r;
        return true;
    });
    return v;
}

std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow) {
    extended::check_finite(extended::fields(f));  // f first, as in the float scheme
    std::optional<u64> out;
    inverse_keys(&f, 1, x0, f0, x1, f1, method, [&](std::size_t, std::optional<u64> p, bool over) {
        out = p;
        overflow = over;
        return true;
    });
    return out;
}

void forward(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64* out) {
    forward_keys(x, count, x0, f0, x1, f1, [&](std::size_t j, Value r) {
        out[j] = r.value;  // between f0 and f1: never an overflow
        return true;
    });
}

std::size_t inverse(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64* out) {
    return inverse_keys(f, count, x0, f0, x1, f1, method, [&](std::size_t j, std::optional<u64> p, bool) {
        if (!p) return false;  // NotFound: between x0 and x1, never an overflow
        out[j] = *p;
        return true;
    });
}

Stop extrapolate(const u64* x, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, f64 lowest, f64 highest, f64* out) {
    bool over = false;
    const std::size_t answered = forward_keys(x, count, x0, f0, x1, f1, [&](std::size_t j, Value r) {
        over = r.overflow || r.value < lowest || r.value > highest;
        if (over) return false;
        out[j] = r.value;
        return true;
    });
    return {answered, over ? Beyond::Overflow : Beyond::Ok};
}

Stop extrapolate(const f64* f, std::size_t count, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, u64 lowest,
                 u64 highest, u64* out) {
    check_knots(f0, f1);
    Beyond status = Beyond::Ok;
    std::size_t done = 0;
    while (done < count && status == Beyond::Ok) {
        std::size_t finite = done;  // a run of finite values; a non-finite one is an overflow
        while (finite < count && std::isfinite(f[finite])) ++finite;
        const std::size_t start = done;
        done += inverse_keys(f + start, finite - start, x0, f0, x1, f1, method,
                             [&](std::size_t j, std::optional<u64> p, bool overflow) {
                                 if (!p)
                                     status = overflow ? Beyond::Overflow : Beyond::NotFound;
                                 else if (*p < lowest || *p > highest)
                                     status = Beyond::Overflow;
                                 if (status != Beyond::Ok) return false;
                                 out[start + j] = *p;
                                 return true;
                             });
        if (status == Beyond::Ok && done < count) status = Beyond::Overflow;  // f[done] is not finite
    }
    return {done, status};
}

}  // namespace rust::schemes::rounded
