// The arithmetic of one segment, integer and float, on known answers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <optional>

#include "schemes/schemes.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::Panic;
using rust::u64;
using IntForward = rust::schemes::Forward<u64, i64>;
using IntInverse = rust::schemes::Inverse<i64, u64>;
using FloatForward = rust::schemes::Forward<u64, f64>;
using FloatInverse = rust::schemes::Inverse<f64, u64>;

constexpr u64 kMax = ~u64{0};
constexpr u64 kTop = u64{1} << 63;
constexpr i64 kMin = INT64_MIN, kMaxI = INT64_MAX;
constexpr InverseMethod kMethods[] = {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill,
                                      InverseMethod::Bfill};

struct ForwardCase {
    u64 x0, x1;
    i64 f0, f1;
    u64 x;
    i64 expected;
};

TEST(IntegerForward, KnownAnswers) {
    const ForwardCase cases[] = {
        // ties to even on positive and negative values
        {0, 10, 0, 5, 1, 0},
        {0, 10, 0, 5, 2, 1},
        {0, 10, 0, 5, 3, 2},
        {0, 10, 0, 5, 5, 2},
        {0, 10, 0, 5, 7, 4},
        {0, 10, 0, 5, 9, 4},
        {0, 10, 0, -5, 1, 0},
        {0, 10, 0, -5, 3, -2},
        {0, 10, 0, -5, 5, -2},
        {0, 10, 0, -5, 9, -4},
        // no ties
        {0, 3, 0, 1, 1, 0},
        {0, 3, 0, 1, 2, 1},
        // full ranges, both directions
        {0, kMax, kMin, kMaxI, 1, kMin + 1},
        {0, kMax, kMin, kMaxI, kTop, 0},
        {0, kMax, kMin, kMaxI, kMax - 1, kMaxI - 1},
        {0, kMax, kMaxI, kMin, 1, kMaxI - 1},
        {0, kMax, kMaxI, kMin, kTop, -1},
        {0, kMax, kMaxI, kMin, kMax - 1, kMin + 1},
        // flat segment
        {3, 1000, 7, 7, 4, 7},
        {3, 1000, 7, 7, 999, 7},
        {0, kMax, kMin, kMin, 12345, kMin},
        // positions across 2^63
        {kTop - 2, kTop + 2, -2, 2, kTop, 0},
    };
    for (const ForwardCase& c : cases)
        EXPECT_EQ(IntForward::forward(c.x, c.x0, c.f0, c.x1, c.f1), c.expected)
            << c.x << " in [" << c.x0 << ", " << c.x1 << "] -> [" << c.f0 << ", " << c.f1 << "]";
    // Every x maps to x - 2^63 over the full ranges.
    for (u64 x : {u64{1}, u64{2}, kTop - 1, kTop + 1, u64{0x123456789ABCDEF}, kMax - 1})
        EXPECT_EQ(IntForward::forward(x, 0, kMin, kMax, kMaxI), static_cast<i64>(x ^ kTop));
}

struct InverseCase {
    u64 x0, x1;
    i64 f0, f1;
    i64 f;
    std::optional<u64> exact, nearest, ffill, bfill;
};

TEST(IntegerInverse, KnownAnswers) {
    const std::nullopt_t no = std::nullopt;
    const InverseCase cases[] = {
        {0, 10, 0, 4, 1, no, 2, 2, 3},    // 2.5
        {0, 10, 0, 4, 2, 5, 5, 5, 5},     // 5
        {0, 10, 0, 4, 3, no, 8, 7, 8},    // 7.5
        {10, 0, 0, 4, 1, no, 8, 7, 8},    // decreasing positions: 7.5
        {0, 4, -10, -6, -8, 2, 2, 2, 2},  // negative values
        {7, 7, 0, 2, 1, 7, 7, 7, 7},      // equal positions
        {100, 200, 0, 10, 5, 150, 150, 150, 150},
        {0, kMax, kMin, kMaxI, 0, kTop, kTop, kTop, kTop},
        {0, kMax, kMin, kMaxI, kMaxI - 1, kMax - 1, kMax - 1, kMax - 1, kMax - 1},
        {kMax, 0, kMin, kMaxI, kMin + 1, kMax - 1, kMax - 1, kMax - 1, kMax - 1},
        {kMax - 1, kMax, 0, 2, 1, no, kMax - 1, kMax - 1, kMax},  // kMax - 0.5: ties to the even kMax - 1
    };
    for (const InverseCase& c : cases) {
        const std::optional<u64> expected[] = {c.exact, c.nearest, c.ffill, c.bfill};
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(IntInverse::inverse(c.f, c.x0, c.f0, c.x1, c.f1, kMethods[m]), expected[m])
                << c.f << " method " << m;
    }
    for (i64 f : {kMin + 1, i64{-1}, i64{0}, i64{1}, kMaxI - 1})
        for (InverseMethod m : kMethods)
            EXPECT_EQ(IntInverse::inverse(f, 0, kMin, kMax, kMaxI, m), static_cast<u64>(f) ^ kTop);
}

u64 bits(f64 v) { return std::bit_cast<u64>(v); }

TEST(FloatForward, KnownAnswers) {
    EXPECT_EQ(FloatForward::forward(1, 0, 1.0, 4, 3.0), 1.5);
    EXPECT_EQ(FloatForward::forward(2, 0, 1.0, 4, 3.0), 2.0);
    EXPECT_EQ(FloatForward::forward(3, 0, 1.0, 4, 3.0), 2.5);
    // Truncation of the F80 result.
    EXPECT_EQ(bits(FloatForward::forward(1, 0, 0.0, 10, 1.0)), bits(std::nextafter(0.1, 0.0)));
    EXPECT_EQ(FloatForward::forward(3, 0, 0.0, 10, 1.0), 0.3);
    EXPECT_EQ(FloatForward::forward(5, 0, 0.0, 10, 1.0), 0.5);
    EXPECT_EQ(FloatForward::forward(7, 0, 0.0, 10, 1.0), 0.7);
    // A flat segment over a 10^9 span.
    EXPECT_EQ(FloatForward::forward(1, 0, 0.3, 1'000'000'000, 0.3), 0.29999999999999993);
    EXPECT_EQ(FloatForward::forward(5, 0, 0.3, 1'000'000'000, 0.3), 0.3);
    // Spans up to 2048 keep a flat value exactly.
    for (u64 x = 1; x < 2048; x += 97) EXPECT_EQ(FloatForward::forward(x, 0, 0.3, 2048, 0.3), 0.3);
    // Zero results are +0.0.
    EXPECT_EQ(bits(FloatForward::forward(1, 0, -1.0, 2, 1.0)), 0u);
}

TEST(FloatForward, NonFiniteKnotIsFatalInOrder) {
    struct Case {
        f64 f0, f1;
    };
    for (const Case& c : {Case{0.0, HUGE_VAL}, Case{-HUGE_VAL, 0.0}, Case{NAN, 1.0}, Case{NAN, HUGE_VAL}}) {
        try {
            (void)FloatForward::forward(1, 0, c.f0, 2, c.f1);
            ADD_FAILURE() << "no panic";
        } catch (const Panic& p) {
            EXPECT_STREQ(p.what(), "assertion failed: value.is_finite()");
        }
    }
}

struct FloatInverseCase {
    u64 x0, x1;
    f64 f0, f1, f;
    std::optional<u64> exact, nearest, ffill, bfill;
};

TEST(FloatInverse, KnownAnswers) {
    const std::nullopt_t no = std::nullopt;
    const FloatInverseCase cases[] = {
        {0, 10, 0.0, 4.0, 1.0, no, 2, 2, 3},
        {0, 10, 0.0, 4.0, 2.0, 5, 5, 5, 5},
        {0, 10, 0.0, 4.0, 3.0, no, 8, 7, 8},
        {0, 10, 0.0, 1.0, 0.1, no, 1, 1, 2},  // the double 0.1 lies above one tenth
        {0, 1, 0.0, 1.0, 0.5, no, 0, 0, 1},
        {0, kMax, 0.0, 1.0, 0.5, no, kTop, kTop - 1, kTop},
        {0, kMax, 0.0, 1.0, 0.75, 3 * (kTop >> 1) - 1, 3 * (kTop >> 1) - 1, 3 * (kTop >> 1) - 1, 3 * (kTop >> 1) - 1},
        {10, 0, 0.0, 4.0, 1.0, no, 8, 7, 8},
        {7, 7, 0.0, 2.0, 1.0, 7, 7, 7, 7},
        // 2^64 - 1.5 is a tie at 64 bits and goes to the even 2^64 - 2 before any method acts
        {kMax - 1, kMax, 0.0, 1.0, 0.5, kMax - 1, kMax - 1, kMax - 1, kMax - 1},
    };
    for (const FloatInverseCase& c : cases) {
        const std::optional<u64> expected[] = {c.exact, c.nearest, c.ffill, c.bfill};
        for (int m = 0; m < 4; ++m)
            EXPECT_EQ(FloatInverse::inverse(c.f, c.x0, c.f0, c.x1, c.f1, kMethods[m]), expected[m])
                << c.f << " over [" << c.x0 << ", " << c.x1 << "] method " << m;
    }
}

TEST(FloatInverse, NonFiniteIsFatalInOrder) {
    // f is converted first, so a NaN f fails even with an infinite knot.
    for (auto [f, f0, f1] :
         {std::tuple{double(NAN), 0.0, 1.0}, std::tuple{0.5, 0.0, HUGE_VAL}, std::tuple{0.5, -HUGE_VAL, 1.0}}) {
        try {
            (void)FloatInverse::inverse(f, 0, f0, 10, f1, InverseMethod::Nearest);
            ADD_FAILURE() << "no panic";
        } catch (const Panic& p) {
            EXPECT_STREQ(p.what(), "assertion failed: value.is_finite()");
        }
    }
}

}  // namespace
