#include "schemes/rounded.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>

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

Value forward(u64 x, u64 x0, f64 f0, u64 x1, f64 f1) {
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
        const Product p[] = {{a.magnitude, a.negative, f0, 1}, {b.magnitude, b.negative, f1, 1}, {d, true, c},
                             {d, true, c2}};
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
        const Product p[] = {{a.magnitude, a.negative, f0}, {b.magnitude, b.negative, f1},
                             {d, true, from_order(lo)}, {d, false, 0x1p970}};
        return sum_sign(p, 4) > 0 ? Value{from_order(lo), false} : Value{0.0, true};
    }
    if (above(from_order(hi)) >= 0) {  // v >= largest
        const Product p[] = {{a.magnitude, a.negative, f0}, {b.magnitude, b.negative, f1},
                             {d, true, from_order(hi)}, {d, true, 0x1p970}};
        return sum_sign(p, 4) < 0 ? Value{from_order(hi), false} : Value{0.0, true};
    }
    // (the span of orders reaches 2^64 - 2^53: counted unsigned)
    while (static_cast<u64>(hi) - static_cast<u64>(lo) > 1) {
        const i64 mid = lo + static_cast<i64>((static_cast<u64>(hi) - static_cast<u64>(lo)) / 2);
        if (above(from_order(mid)) >= 0) lo = mid;
        else hi = mid;
    }
    const f64 below = from_order(lo), next = from_order(hi);
    if (above(below) == 0) return {below == 0 ? 0.0 : below, false};
    const int middle = above_middle(below, next);
    const bool up = middle > 0 || (middle == 0 && (std::bit_cast<u64>(next) & 1) == 0);
    const f64 r = up ? next : below;
    return {r == 0 ? 0.0 : r, false};
}

std::optional<u64> inverse(f64 f, u64 x0, f64 f0, u64 x1, f64 f1, InverseMethod method, bool& overflow) {
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
    const Signed zero{0, false};
    const int s0 = s(zero, false);
    Signed floor_k{};
    if (s0 >= 0) {  // u >= 0: the largest magnitude k with S(k) >= 0
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
                if (s({mid, false}, false) >= 0) lo = mid;
                else hi = mid;
            }
            floor_k = {lo, false};
        }
    } else {  // u < 0: the smallest magnitude m with S(-m) >= 0, floor = -m
        u64 lo = 0, hi = ~u64{0};  // S(-lo) < 0
        if (s({hi, true}, false) < 0) {
            overflow = true;
            return std::nullopt;
        }
        while (hi - lo > 1) {
            const u64 mid = lo + (hi - lo) / 2;
            if (s({mid, true}, false) >= 0) hi = mid;
            else lo = mid;
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

}  // namespace rust::schemes::rounded
