// Random operands weighted toward the edges: significands made of runs of
// ones and zeros, exponent gaps at the word boundaries, u64 extremes and
// doubles of every class.
#pragma once

#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "extended/extended.hpp"

namespace gen {

using rust::u64;
using rust::extended::F80;

// One seed per test binary run, printed so that a failure can be replayed
// with RUST_TEST_SEED.
inline u64 seed() {
    static const u64 s = []() -> u64 {
        if (const char* env = std::getenv("RUST_TEST_SEED")) return std::strtoull(env, nullptr, 0);
        return static_cast<u64>(std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    return s;
}

// Operation counts: the normal run, the long run under RUST_LONG_RUN=1, or a
// fifth of the normal one under RUST_SHORT_RUN=1 (the sanitizer builds, whose
// every operation costs several times more, after the plain builds ran the
// normal count).
inline u64 count(u64 normal, u64 long_run) {
    const auto set = [](const char* name) {
        const char* env = std::getenv(name);
        return env && *env && *env != '0';
    };
    if (set("RUST_LONG_RUN")) return long_run;
    return set("RUST_SHORT_RUN") ? (normal + 4) / 5 : normal;
}

class Gen {
public:
    explicit Gen(u64 salt) : rng_(seed() ^ (salt * 0x9E3779B97F4A7C15ull)) {}

    u64 bits() { return rng_(); }
    u64 below(u64 n) { return n == 0 ? 0 : rng_() % n; }
    bool coin() { return (rng_() & 1) != 0; }
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(below(static_cast<u64>(hi - lo) + 1));
    }

    // A 64-bit pattern: uniform, runs of ones and zeros, or one of the edges.
    u64 pattern() {
        switch (below(8)) {
            case 0:
            case 1:
            case 2: return bits();
            case 3: {  // a run of ones somewhere
                const unsigned lo = static_cast<unsigned>(below(64)), len = 1 + static_cast<unsigned>(below(64 - lo));
                const u64 run = len == 64 ? ~u64{0} : ((u64{1} << len) - 1);
                return run << lo;
            }
            case 4: {  // alternating runs
                u64 v = 0;
                for (unsigned pos = 0, one = coin(); pos < 64; one ^= 1) {
                    const unsigned len = 1 + static_cast<unsigned>(below(16));
                    for (unsigned k = 0; k < len && pos < 64; ++k, ++pos) v |= u64{one} << pos;
                }
                return v;
            }
            case 5: return bits() & bits() & bits();  // sparse
            case 6: return bits() | bits() | bits();  // dense
            default: {
                static constexpr u64 edges[] = {0,
                                                1,
                                                2,
                                                3,
                                                (u64{1} << 63) - 1,
                                                u64{1} << 63,
                                                (u64{1} << 63) + 1,
                                                ~u64{0},
                                                ~u64{0} - 1,
                                                u64{1} << 62,
                                                (u64{1} << 62) | 1};
                return edges[below(std::size(edges))];
            }
        }
    }

    // A significand with its top bit set.
    u64 significand() { return pattern() | (u64{1} << 63); }

    // An exponent gap between two operands.
    std::int64_t gap() {
        static constexpr std::int64_t gaps[] = {0, 1, 2, 62, 63, 64, 65, 66, 126, 127, 128, 129, 130};
        switch (below(4)) {
            case 0:
            case 1: return gaps[below(std::size(gaps))];
            case 2: return range(0, 200);
            default: return range(200, 5000);
        }
    }

    F80 finite(std::int32_t e) { return F80::finite(coin(), e, significand()); }

    // A finite nonzero F80 anywhere in a wide exponent range.
    F80 any_finite() {
        const std::int32_t e = below(4) == 0 ? static_cast<std::int32_t>(range(-20000, 20000))
                                             : static_cast<std::int32_t>(range(-130, 130));
        return finite(e);
    }

    // A double of any class: zeros, subnormals, normals of every exponent,
    // the largest finite, powers of two, and non-finite values when asked.
    double any_double(bool allow_non_finite = false) {
        u64 b;
        switch (below(10)) {
            case 0: b = bits() & ((u64{1} << 52) - 1); break;                      // subnormal or zero
            case 1: b = below(3) == 0 ? 1 : (u64{1} << 52) - 1 - below(3); break;  // subnormal edges
            case 2: b = 0x7FEFFFFFFFFFFFFFull - below(3); break;                   // largest finite
            case 3: b = static_cast<u64>(range(1, 2046)) << 52; break;             // powers of two
            case 4: b = 0; break;
            default: b = (static_cast<u64>(range(1, 2046)) << 52) | (pattern() & ((u64{1} << 52) - 1)); break;
        }
        if (allow_non_finite && below(16) == 0) b = 0x7FF0000000000000ull | (coin() ? 0 : 1 + below(1000));
        if (coin()) b |= u64{1} << 63;
        return std::bit_cast<double>(b);
    }

    // u64 values weighted toward 0, 2^63 and 2^64 - 1.
    u64 any_u64() {
        switch (below(6)) {
            case 0: return below(1000);
            case 1: return (u64{1} << 63) - 500 + below(1000);
            case 2: return ~u64{0} - below(1000);
            case 3: return pattern();
            default: return bits() >> below(64);
        }
    }

    // A pair of operands for a binary operation: independent, a chosen gap,
    // cancelling (equal or nearly equal), or built around a rounding tie.
    void pair(F80& a, F80& b) {
        switch (below(8)) {
            case 0:
                a = any_finite();
                b = any_finite();
                return;
            case 1: {  // cancellation to zero or to a tiny result
                a = any_finite();
                const u64 delta = below(3) == 0 ? 0 : below(1u << below(20));
                u64 m = a.significand() - (coin() ? delta : 0) + (coin() ? delta : 0);
                if ((m >> 63) == 0) m |= u64{1} << 63;
                b = F80::finite(coin() ? a.negative() : !a.negative(), a.exponent(), m);
                return;
            }
            case 2: {  // from u64 and f64 conversions, as the schemes form them
                a = coin() ? F80::from_u64(any_u64()) : F80::from_f64(any_double());
                b = coin() ? F80::from_u64(any_u64()) : F80::from_f64(any_double());
                return;
            }
            case 3: {  // products whose low word lies at or next to one half
                a = F80::finite(coin(), static_cast<std::int32_t>(range(-100, 100)), significand() | 1);
                const u64 inv = inverse_odd(a.significand());
                const u64 target = (u64{1} << 63) + static_cast<u64>(range(-2, 2));
                u64 m = target * inv;  // a.m · m ≡ target (mod 2^64)
                if (below(4) == 0) m = 3ull << 62;
                b = F80::finite(coin(), static_cast<std::int32_t>(range(-100, 100)), m | (u64{1} << 63));
                return;
            }
            default: {  // a chosen exponent gap, in either order
                a = any_finite();
                const std::int64_t e = std::int64_t{a.exponent()} - gap();
                b = finite(static_cast<std::int32_t>(e));
                if (coin()) std::swap(a, b);
                return;
            }
        }
    }

private:
    static u64 inverse_odd(u64 a) {  // a·x ≡ 1 (mod 2^64), Newton's iteration
        u64 x = a;
        for (int i = 0; i < 6; ++i) x *= 2 - a * x;
        return x;
    }

    std::mt19937_64 rng_;
};

}  // namespace gen
