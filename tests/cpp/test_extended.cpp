// Known answers of F80: constructions, the rounding rule, the integer
// operations and both conversions out.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "extended/extended.hpp"
#include "operands.hpp"

namespace {

using rust::Panic;
using rust::u64;
using rust::extended::F80;

constexpr u64 kTop = u64{1} << 63;
constexpr u64 kMax = ~u64{0};

F80 d(double v) { return F80::from_f64(v); }
F80 u(u64 v) { return F80::from_u64(v); }
u64 bits(double v) { return std::bit_cast<u64>(v); }

void expect_finite(const F80& x, bool neg, int e, u64 m) {
    ASSERT_EQ(x.kind(), F80::Kind::Finite);
    EXPECT_EQ(x.negative(), neg);
    EXPECT_EQ(x.exponent(), e);
    EXPECT_EQ(x.significand(), m);
}

TEST(F80Construction, FromU64) {
    EXPECT_TRUE(u(0).is_zero());
    expect_finite(u(1), false, 1, kTop);
    expect_finite(u(kMax), false, 64, kMax);
    expect_finite(u(kTop), false, 64, kTop);
    expect_finite(u(3), false, 2, 3ull << 62);
    for (u64 v : {u64{0}, u64{1}, u64{2}, kTop - 1, kTop, kMax - 1, kMax}) EXPECT_EQ(u(v).to_u64(), v);
}

TEST(F80Construction, FromF64) {
    EXPECT_TRUE(d(0.0).is_zero());
    EXPECT_TRUE(d(-0.0).is_zero());
    EXPECT_EQ(bits(d(-0.0).to_f64()), 0u);
    expect_finite(d(1.0), false, 1, kTop);
    expect_finite(d(0.75), false, 0, 3ull << 62);
    expect_finite(d(-2.0), true, 2, kTop);
    expect_finite(d(std::numeric_limits<double>::max()), false, 1024, ~u64{0} << 11);
    expect_finite(d(std::bit_cast<double>(u64{1})), false, -1073, kTop);  // 2^-1074
    expect_finite(d(std::bit_cast<double>(0x000FFFFFFFFFFFFFull)), false, -1022, ~u64{0} << 12);
}

TEST(F80Construction, NonFiniteIsFatal) {
    for (double v : {HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN(),
                     std::bit_cast<double>(0xFFF0000000000001ull)}) {
        try {
            (void)F80::from_f64(v);
            ADD_FAILURE() << "no panic for " << v;
        } catch (const Panic& p) {
            EXPECT_STREQ(p.what(), "assertion failed: value.is_finite()");
        }
    }
}

TEST(F80Conversion, RoundTripOfListedDoubles) {
    const double listed[] = {1e308,
                             std::numeric_limits<double>::max(),
                             std::ldexp(1.0, -1022),
                             std::ldexp(1.0, -1023),
                             std::bit_cast<double>(0x000FFFFFFFFFFFFFull),
                             5e-324,
                             -5e-324,
                             0.1,
                             -123.456,
                             std::ldexp(1.0, 1023)};
    for (double v : listed) EXPECT_EQ(bits(d(v).to_f64()), bits(v)) << v;
}

TEST(F80Conversion, RoundTripOfRandomDoubles) {
    gen::Gen g(1);
    for (int i = 0; i < 2'000'000; ++i) {
        const double v = g.any_double();
        const u64 expected = v == 0.0 ? 0 : bits(v);  // -0.0 comes back as +0.0
        ASSERT_EQ(bits(d(v).to_f64()), expected) << std::hexfloat << v << " seed " << gen::seed();
    }
}

TEST(F80Rounding, KnownAnswers) {
    // 1/3: the exact significand 2^65/3 has a fraction above one half.
    expect_finite(u(1) / u(3), false, -1, 0xAAAAAAAAAAAAAAABull);  // (2^65 + 1) / 3
    // (2^64 - 1) + 0.5: a tie between an odd significand and 2^64.
    const F80 up = u(kMax) + d(0.5);
    expect_finite(up, false, 65, kTop);
    EXPECT_EQ(up.to_u64(), kMax);
    // (2^64 - 2) + 0.5: a tie that stays at the even 2^64 - 2.
    expect_finite(u(kMax - 1) + d(0.5), false, 64, kMax - 1);
    // Cancellation gives the one zero.
    const F80 x = d(-7.25);
    EXPECT_TRUE((x - x).is_zero());
    EXPECT_TRUE(x - x == F80());
    EXPECT_TRUE(x + (-x) == u(0));
    // Gaps far beyond 128 bits keep their sticky bit.
    expect_finite(u(1) + F80::finite(false, -5000, kTop), false, 1, kTop);
    expect_finite(u(1) - F80::finite(false, -5000, kTop), false, 1, kTop);
    // One half unit above 1 is a tie to the even 1; anything more rounds up.
    expect_finite(u(1) + F80::finite(false, -63, kTop), false, 1, kTop);
    expect_finite(u(1) + F80::finite(false, -63, kTop | 1), false, 1, kTop | 1);
    expect_finite(F80::finite(false, 1, kTop | 1) - F80::finite(false, -5000, kTop), false, 1, kTop | 1);
}

TEST(F80Conversion, ToF64Truncates) {
    // The F80 nearest to 1/10 lies above 1/10; truncation gives the double
    // below the one nearest to 0.1.
    EXPECT_EQ(d(1.0) / d(10.0), u(1) / u(10));
    EXPECT_EQ(bits((u(1) / u(10)).to_f64()), bits(std::nextafter(0.1, 0.0)));
    EXPECT_EQ(bits(F80::finite(true, -1073, kTop).to_f64()), 0x8000000000000001ull);  // -2^-1074
    EXPECT_EQ(bits(F80::finite(true, -1074, kMax).to_f64()), 0u);                     // below: +0.0
    EXPECT_EQ(bits(F80::finite(false, -1074, kMax).to_f64()), 0u);
    EXPECT_EQ(bits(F80::finite(false, 1025, kTop).to_f64()), 0x7FF0000000000000ull);
    EXPECT_EQ(bits(F80::finite(true, 4000, kMax).to_f64()), 0xFFF0000000000000ull);
    EXPECT_EQ(bits(F80::finite(false, 1024, kMax).to_f64()), bits(std::numeric_limits<double>::max()));
    // Subnormal truncation: just below 2^-1022 gives the largest subnormal.
    EXPECT_EQ(bits(F80::finite(false, -1022, kMax).to_f64()), 0x000FFFFFFFFFFFFFull);
    EXPECT_EQ(bits(F80::finite(false, -1021, kMax).to_f64()), 0x001FFFFFFFFFFFFFull);
}

TEST(F80Conversion, ToU64TruncatesAndClamps) {
    EXPECT_EQ(d(1.75).to_u64(), 1u);
    EXPECT_EQ(d(0.75).to_u64(), 0u);
    EXPECT_EQ(d(-3.0).to_u64(), 0u);
    EXPECT_EQ(d(std::ldexp(1.0, 64)).to_u64(), kMax);
    EXPECT_EQ(d(1e300).to_u64(), kMax);
    EXPECT_EQ(F80().to_u64(), 0u);
    EXPECT_EQ(d(std::ldexp(1.0, 63) + 2048.0).to_u64(), kTop + 2048);
}

struct IntegralCase {
    double in, floor, ceil, round;
};

TEST(F80Integral, KnownAnswers) {
    const IntegralCase cases[] = {
        {0.5, 0, 1, 0},       {1.5, 1, 2, 2},
        {2.5, 2, 3, 2},       {3.5, 3, 4, 4},
        {-1.5, -2, -1, -2},   {-0.25, -1, 0, 0},
        {0.25, 0, 1, 0},      {-0.5, -1, 0, 0},
        {0.75, 0, 1, 1},      {-0.75, -1, 0, -1},
        {7.0, 7, 7, 7},       {-7.0, -7, -7, -7},
        {1e-300, 0, 1, 0},    {-1e-300, -1, 0, 0},
        {2.5000001, 2, 3, 3}, {4503599627370495.5, 4503599627370495, 4503599627370496, 4503599627370496},
    };
    for (const IntegralCase& c : cases) {
        EXPECT_EQ(d(c.in).floor(), d(c.floor)) << c.in;
        EXPECT_EQ(d(c.in).ceil(), d(c.ceil)) << c.in;
        EXPECT_EQ(d(c.in).round(), d(c.round)) << c.in;
    }
    EXPECT_TRUE(F80().floor().is_zero());
    EXPECT_TRUE(F80().round().is_zero());
    // From 2^63 up every number is an integer.
    const F80 big = F80::finite(true, 64, kMax);
    EXPECT_EQ(big.floor(), big);
    EXPECT_EQ(big.ceil(), big);
    EXPECT_EQ(big.round(), big);
    // ceil that carries into a new exponent: 2^64 - 0.5 -> 2^64.
    expect_finite(F80::finite(false, 64, kMax).ceil(), false, 64, kMax);
    expect_finite(F80::finite(false, 63, kMax).ceil(), false, 64, kTop);
    expect_finite(F80::finite(true, 63, kMax).floor(), true, 64, kTop);
    // floor(x) == x exactly for integers.
    EXPECT_TRUE(d(3.0).floor() == d(3.0));
    EXPECT_FALSE(d(3.25).floor() == d(3.25));
}

TEST(F80Special, DivisionByZeroAndPropagation) {
    const F80 inf = d(5.0) / F80(), ninf = d(-5.0) / F80(), nan = F80() / F80();
    EXPECT_EQ(inf.kind(), F80::Kind::Inf);
    EXPECT_FALSE(inf.negative());
    EXPECT_EQ(ninf.kind(), F80::Kind::Inf);
    EXPECT_TRUE(ninf.negative());
    EXPECT_EQ(nan.kind(), F80::Kind::NaN);
    EXPECT_FALSE(nan == nan);
    EXPECT_TRUE(inf == inf);
    EXPECT_FALSE(inf == ninf);
    EXPECT_EQ((inf + ninf).kind(), F80::Kind::NaN);
    EXPECT_EQ((inf - ninf), inf);
    EXPECT_EQ((inf * F80()).kind(), F80::Kind::NaN);
    EXPECT_EQ((inf * d(-2.0)), ninf);
    EXPECT_EQ((inf / inf).kind(), F80::Kind::NaN);
    EXPECT_TRUE((d(1.0) / inf).is_zero());
    EXPECT_EQ((nan + d(1.0)).kind(), F80::Kind::NaN);
    EXPECT_EQ(inf.floor(), inf);
    EXPECT_EQ(F80() + d(2.0), d(2.0));
    EXPECT_EQ(d(2.0) - F80(), d(2.0));
    EXPECT_EQ(F80() - d(2.0), d(-2.0));
    for (const F80& x : {inf, ninf, nan}) {
        EXPECT_THROW((void)x.to_f64(), Panic);
        EXPECT_THROW((void)x.to_u64(), Panic);
    }
}

}  // namespace
