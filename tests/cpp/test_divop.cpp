// div_round under every method, and the 128-by-64 primitive on both paths.
#include <gtest/gtest.h>

#include <optional>

#include "base/base.hpp"
#include "divop/divop.hpp"
#include "operands.hpp"

namespace {

using rust::InverseMethod;
using rust::u128;
using rust::u64;
using rust::divop::div_round;

constexpr u128 U128(u64 hi, u64 lo) { return (static_cast<u128>(hi) << 64) | lo; }
constexpr u64 kMax = ~u64{0};
constexpr u128 kMax128 = ~u128{0};

struct Case {
    u128 n, d;
    std::optional<u128> exact, nearest, ffill, bfill;
};

TEST(DivRound, KnownAnswers) {
    const std::nullopt_t no = std::nullopt;
    const Case cases[] = {
        {10, 4, no, 2, 2, 3},                                                   // 2.5, tie on even q
        {14, 4, no, 4, 3, 4},                                                   // 3.5, tie on odd q
        {9, 4, no, 2, 2, 3},                                                    // 2.25
        {11, 4, no, 3, 2, 3},                                                   // 2.75
        {12, 4, 3, 3, 3, 3},                                                    // remainder 0
        {15, 4, no, 4, 3, 4},                                                   // remainder d - 1
        {0, 7, 0, 0, 0, 0},                                                     // zero numerator
        {1, 2, no, 0, 0, 1},                                                    // 0.5 ties to 0
        {3, 2, no, 2, 1, 2},                                                    // 1.5 ties to 2
        {U128(kMax - 1, kMax), kMax, no, U128(1, 0), kMax, U128(1, 0)},         // d·(2^64 - 1) + d - 1
        {U128(kMax, 0), kMax, U128(1, 0), U128(1, 0), U128(1, 0), U128(1, 0)},  // exactly 2^64
        {kMax128, 1, kMax128, kMax128, kMax128, kMax128},
        {kMax128, 2, no, U128(kMax >> 1, kMax) + 1, U128(kMax >> 1, kMax), U128(kMax >> 1, kMax) + 1},  // odd q, tie
        {kMax128, kMax128, 1, 1, 1, 1},
        {kMax128 - 1, kMax128, no, 1, 0, 1},
        {U128(1, 0), U128(1, 0) + 1, no, 1, 0, 1},  // 2^64 / (2^64 + 1), wide divisor
    };
    for (const Case& c : cases) {
        EXPECT_EQ(div_round(c.n, c.d, InverseMethod::Exact), c.exact);
        EXPECT_EQ(div_round(c.n, c.d, InverseMethod::Nearest), c.nearest);
        EXPECT_EQ(div_round(c.n, c.d, InverseMethod::Ffill), c.ffill);
        EXPECT_EQ(div_round(c.n, c.d, InverseMethod::Bfill), c.bfill);
        if ((c.d >> 64) == 0) {  // the 64-bit divisor's own path, and its fallback for wide quotients
            const u64 d = static_cast<u64>(c.d);
            EXPECT_EQ(div_round(c.n, d, InverseMethod::Exact), c.exact);
            EXPECT_EQ(div_round(c.n, d, InverseMethod::Nearest), c.nearest);
            EXPECT_EQ(div_round(c.n, d, InverseMethod::Ffill), c.ffill);
            EXPECT_EQ(div_round(c.n, d, InverseMethod::Bfill), c.bfill);
            // quotients that fit a word rounded either way, by d and by d prepared
            if (rust::wide::high(c.n) < d && c.bfill <= U128(0, kMax))
                for (const auto& [m, want] :
                     {std::pair{InverseMethod::Exact, c.exact}, std::pair{InverseMethod::Nearest, c.nearest},
                      std::pair{InverseMethod::Ffill, c.ffill}, std::pair{InverseMethod::Bfill, c.bfill}}) {
                    u64 q = 0, p = 0;
                    const bool found = rust::divop::div_round_within(c.n, d, m, q);
                    EXPECT_EQ(rust::divop::div_round_within(c.n, rust::wide::prepare(d), m, p), found);
                    EXPECT_EQ(found ? std::optional<u128>(q) : std::nullopt, want);
                    if (found) {
                        EXPECT_EQ(p, q);
                    }
                }
        }
    }
}

TEST(DivRound, ZeroDivisorIsFatal) {
    for (InverseMethod m : {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill, InverseMethod::Bfill}) {
        try {
            (void)div_round(u128{5}, u128{0}, m);
            ADD_FAILURE() << "no panic";
        } catch (const rust::Panic& p) {
            EXPECT_STREQ(p.what(), "attempt to divide by zero");
        }
        try {
            (void)div_round(u128{5}, u64{0}, m);
            ADD_FAILURE() << "no panic";
        } catch (const rust::Panic& p) {
            EXPECT_STREQ(p.what(), "attempt to divide by zero");
        }
    }
}

// Ties (2r = d) on odd and even quotients near 2^64, numerators near 2^128.
TEST(DivRound, RandomTiesAgainstDefinition) {
    gen::Gen g(10);
    for (int i = 0; i < 200'000; ++i) {
        const u64 d = (g.any_u64() | 2) & ~u64{1};  // even, so d/2 is a whole remainder
        const u64 q = g.any_u64() >> (g.coin() ? 0 : 1);
        const u128 n = static_cast<u128>(q) * d + d / 2;
        const u128 expected = u128{q} + (q & 1);
        ASSERT_EQ(div_round(n, d, InverseMethod::Nearest), expected) << q << " " << d;
        ASSERT_EQ(div_round(n, u128{d}, InverseMethod::Nearest), expected);  // the general divisor's path
        ASSERT_EQ(div_round(n, d, InverseMethod::Ffill), u128{q});
        ASSERT_EQ(div_round(n, d, InverseMethod::Bfill), u128{q} + 1);
        ASSERT_EQ(div_round(n, d, InverseMethod::Exact), std::nullopt);
        ASSERT_EQ(div_round(n - 1, d, InverseMethod::Nearest), u128{q});      // just below the tie
        ASSERT_EQ(div_round(n + 1, d, InverseMethod::Nearest), u128{q} + 1);  // just above
        u64 w = 0;
        if (q != kMax) {
            ASSERT_TRUE(rust::divop::div_round_within(n, d, InverseMethod::Nearest, w) && u128{w} == expected);
        }
    }
}

// The platform's and the portable wide primitives and the division by a
// prepared reciprocal agree, and the division
// satisfies n = q·d + r with r < d (checked in the 128-bit type in use, which
// is the word-pair type itself in a portable build).
TEST(Wide, PlatformAndPortableAgree) {
    gen::Gen g(11);
    for (int i = 0; i < 1'000'000; ++i) {
        const u64 d = g.coin() ? g.any_u64() | 1 : g.below(u64{1} << g.below(64)) + 1;
        const u64 hi = g.below(d), lo = g.any_u64();
        const auto hw = rust::wide::div(hi, lo, d), sw = rust::wide::div_portable(hi, lo, d);
        const auto by = rust::wide::div(rust::wide::prepare(d), hi, lo);  // by the reciprocal
        ASSERT_EQ(hw.q, sw.q) << hi << " " << lo << " " << d;
        ASSERT_EQ(hw.r, sw.r);
        ASSERT_EQ(by.q, sw.q) << hi << " " << lo << " " << d;
        ASSERT_EQ(by.r, sw.r);
        ASSERT_LT(sw.r, d);
        ASSERT_EQ(rust::wide::mul(sw.q, d) + sw.r, U128(hi, lo));
        u64 ph = 0, pl = 0;
        rust::wide::mul_portable(hi, lo, ph, pl);
        ASSERT_EQ(rust::wide::mul(hi, lo), U128(ph, pl));
    }
}

}  // namespace
