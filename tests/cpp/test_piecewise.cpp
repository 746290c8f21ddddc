// The table's flags, the segment search, and forward and inverse evaluation
// over whole tables.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "piecewise/piecewise.hpp"
#include "targets.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::Panic;
using rust::u64;
using rust::piecewise::InterpError;
using rust::piecewise::search;
using IntTable = rust::piecewise::Interp<u64, i64>;
using FloatTable = rust::piecewise::Interp<u64, f64>;

constexpr u64 kMax = ~u64{0};
constexpr u64 kTop = u64{1} << 63;
constexpr f64 kNaN = std::numeric_limits<f64>::quiet_NaN();
constexpr f64 kInf = HUGE_VAL;
constexpr InverseMethod E = InverseMethod::Exact, N = InverseMethod::Nearest, FF = InverseMethod::Ffill,
                        BF = InverseMethod::Bfill;
constexpr InverseMethod kMethods[] = {E, N, FF, BF};

template <class T>
bool increasing(std::vector<T> v) {
    // xp carries the values under test when T is u64; fp otherwise.
    if constexpr (std::is_same_v<T, u64>) {
        const IntTable t(v, std::vector<i64>(v.size()));
        return t.xp_increasing();
    } else {
        const std::size_t n = v.size();
        const rust::piecewise::Interp<u64, T> t(std::vector<u64>(n), std::move(v));
        return t.fp_increasing();
    }
}

TEST(InterpFlags, NaturalOrderOfEachType) {
    EXPECT_TRUE(increasing<u64>({}));
    EXPECT_TRUE(increasing<u64>({5}));
    EXPECT_FALSE(increasing<u64>({5, 5}));
    EXPECT_FALSE(increasing<u64>({7, 3}));
    EXPECT_TRUE(increasing<u64>({1, kTop, kMax}));
    EXPECT_FALSE(increasing<u64>({kMax, 1}));
    EXPECT_TRUE(increasing<i64>({-5, -1, 0, 3}));
    EXPECT_FALSE(increasing<i64>({3, -1}));
    EXPECT_TRUE(increasing<i64>({INT64_MIN, INT64_MAX}));
    EXPECT_TRUE(increasing<f64>({kNaN}));
    EXPECT_FALSE(increasing<f64>({0.0, kNaN, 2.0}));
    EXPECT_FALSE(increasing<f64>({kNaN, 1.0}));
    EXPECT_FALSE(increasing<f64>({1.0, kNaN}));
    EXPECT_TRUE(increasing<f64>({-kInf, 0.0, kInf}));
    EXPECT_FALSE(increasing<f64>({-0.0, 0.0}));
    EXPECT_FALSE(increasing<f64>({1.0, 1.0}));
    EXPECT_TRUE(increasing<f64>({-1e308, -5e-324, 5e-324}));
}

// The blocked, vectorised scans against a plain loop, on every kernel target
// the processor runs: every length up to past two blocks, one pair out of
// order at every position, values across the signed and unsigned sign
// boundaries.
class ScanTargets : public ::testing::TestWithParam<rust::kernels::Target> {
protected:
    void SetUp() override { rust::kernels::force(GetParam()); }
    void TearDown() override { rust::kernels::choose_automatically(); }
};

TEST_P(ScanTargets, BlockedScanMatchesPlainLoop) {
    auto check = [](auto make, auto breakers) {
        using T = decltype(make(0));
        for (std::size_t n = 0; n <= 200; ++n) {
            std::vector<T> v(n);
            for (std::size_t k = 0; k < n; ++k) v[k] = make(k);
            ASSERT_TRUE(increasing<T>(v)) << n;
            for (std::size_t p = 0; p + 1 < n; ++p)
                for (auto broken : breakers) {
                    std::vector<T> w = v;
                    broken(w[p], w[p + 1]);
                    bool plain = true;
                    for (std::size_t k = 0; k + 1 < n; ++k) plain = plain && w[k] < w[k + 1];
                    ASSERT_EQ(increasing<T>(w), plain) << n << " " << p;
                }
        }
    };
    auto equal = [](auto& a, auto& b) { b = a; };
    auto swapped = [](auto& a, auto& b) { std::swap(a, b); };
    check([](std::size_t k) { return kTop - 100 + 3 * static_cast<u64>(k); },
          std::vector<void (*)(u64&, u64&)>{equal, swapped});
    check([](std::size_t k) { return static_cast<i64>(k) * 3 - 100; },
          std::vector<void (*)(i64&, i64&)>{equal, swapped});
    check([](std::size_t k) { return static_cast<f64>(k) - 100.0; },
          std::vector<void (*)(f64&, f64&)>{equal, swapped, [](f64& a, f64&) { a = kNaN; },
                                            [](f64&, f64& b) { b = kNaN; }, [](f64& a, f64& b) { a = -0.0, b = 0.0; }});
}

INSTANTIATE_TEST_SUITE_P(Targets, ScanTargets, ::testing::ValuesIn(kernel_targets::supported()),
                         [](const auto& info) { return std::string(rust::kernels::name(info.param)); });

TEST(InterpFlags, BothScansRunAndEmptyTableIsIncreasing) {
    const IntTable empty({}, {});
    EXPECT_TRUE(empty.xp_increasing());
    EXPECT_TRUE(empty.fp_increasing());
    const IntTable both_bad({3, 1}, {5, 2});
    EXPECT_FALSE(both_bad.xp_increasing());
    EXPECT_FALSE(both_bad.fp_increasing());
}

TEST(InterpFlags, LengthMismatchIsFatal) {
    try {
        const IntTable t({1, 2, 3}, {1, 2});
        ADD_FAILURE() << "no panic";
    } catch (const Panic& p) {
        EXPECT_STREQ(p.what(), "xp and fp must have same length");
    }
    EXPECT_THROW(FloatTable({}, {1.0}), Panic);
}

TEST(SegmentSearch, WorkedExampleAndBoundaries) {
    const u64 a[] = {10, 20, 30, 40, 50};
    struct Case {
        u64 key;
        std::size_t index;
        bool hit;
    };
    for (const Case& c : {Case{35, 3, false}, Case{5, 0, false}, Case{10, 0, true}, Case{50, 4, true},
                          Case{51, 5, false}, Case{49, 4, false}, Case{30, 2, true}, Case{11, 1, false}}) {
        const auto s = search(a, 5, c.key);
        EXPECT_EQ(s.index, c.index) << c.key;
        EXPECT_EQ(s.hit, c.hit) << c.key;
    }
    for (std::size_t n = 1; n <= 40; ++n) {  // every size, every key
        std::vector<u64> v(n);
        for (std::size_t k = 0; k < n; ++k) v[k] = 2 * k + 2;
        for (u64 key = 0; key <= 2 * n + 3; ++key) {
            const auto s = search(v.data(), n, key);
            const bool on_knot = key % 2 == 0 && key >= 2 && key <= 2 * n;
            ASSERT_EQ(s.hit, on_knot);
            ASSERT_EQ(s.index, on_knot ? key / 2 - 1 : std::min<std::size_t>(key / 2, n));
        }
    }
}

TEST(Forward, IntegerTable) {
    const IntTable t({10, 20, 30, 40, 50}, {1, 2, 3, 4, 5});
    EXPECT_EQ(t.forward(35).value, 4);  // 3.5 ties to even
    EXPECT_EQ(t.forward(11).value, 1);
    EXPECT_EQ(t.forward(49).value, 5);
    EXPECT_EQ(t.forward(10).value, 1);
    EXPECT_EQ(t.forward(50).value, 5);
    for (u64 x : {u64{9}, u64{51}, u64{0}, kMax}) {
        EXPECT_FALSE(t.forward(x).ok);
        EXPECT_EQ(t.forward(x).error, InterpError::OutOfBounds);
    }
    const IntTable wide({1, kTop, kMax}, {0, 100, 200});
    EXPECT_EQ(wide.forward(kTop + 5).value, 100);  // segment 1 to 2, unsigned order
    EXPECT_EQ(wide.forward(kMax - 1).value, 200);
    const IntTable falling({0, 10, 20}, {10, 5, 5});  // fp need not increase
    EXPECT_EQ(falling.forward(5).value, 8);           // 7.5 ties to even
    EXPECT_EQ(falling.forward(15).value, 5);
}

TEST(Forward, EmptyOneKnotAndNonIncreasing) {
    const IntTable empty({}, {});
    EXPECT_EQ(empty.forward(0).error, InterpError::OutOfBounds);
    const IntTable one({7}, {-3});
    EXPECT_EQ(one.forward(7).value, -3);
    EXPECT_EQ(one.forward(6).error, InterpError::OutOfBounds);
    EXPECT_EQ(one.forward(8).error, InterpError::OutOfBounds);
    const IntTable repeated({1, 1, 2}, {0, 1, 2});
    for (u64 x : {u64{0}, u64{1}, u64{2}, u64{100}})
        EXPECT_EQ(repeated.forward(x).error, InterpError::NotStrictlyIncreasing);
    const IntTable empty_bad_fp({5, 6}, {3, 1});  // fp irrelevant to forward
    EXPECT_TRUE(empty_bad_fp.forward(5).ok);
}

TEST(Forward, FloatTable) {
    const FloatTable t({0, 2}, {kNaN, 1.0});
    EXPECT_TRUE(std::isnan(t.forward(0).value));  // knots answer bit for bit
    EXPECT_EQ(t.forward(2).value, 1.0);
    EXPECT_THROW((void)t.forward(1), Panic);  // the scheme refuses the NaN
    const FloatTable inf({0, 2}, {0.0, kInf});
    EXPECT_EQ(inf.forward(2).value, kInf);
    EXPECT_EQ(inf.forward(0).value, 0.0);
    try {
        (void)inf.forward(1);
        ADD_FAILURE();
    } catch (const Panic& p) {
        EXPECT_STREQ(p.what(), "assertion failed: value.is_finite()");
    }
    const FloatTable neg0({0, 4}, {-0.0, 3.0});
    EXPECT_EQ(std::bit_cast<u64>(neg0.forward(0).value), std::bit_cast<u64>(-0.0));
    EXPECT_EQ(neg0.forward(2).value, 1.5);
    const FloatTable bad({3, 3}, {0.0, 1.0});
    EXPECT_EQ(bad.forward(3).error, InterpError::NotStrictlyIncreasing);
}

// An expected inverse outcome: a position, or an error kind.
struct Expect {
    bool ok;
    u64 value;
    InterpError error;
};
constexpr Expect at(u64 v) { return {true, v, InterpError::OutOfBounds}; }
constexpr Expect oob{false, 0, InterpError::OutOfBounds};
constexpr Expect missing{false, 0, InterpError::NotFound};
constexpr Expect nsi{false, 0, InterpError::NotStrictlyIncreasing};

template <class Table, class F>
void expect_inverse(const Table& t, F f, const Expect (&expected)[4]) {
    for (int m = 0; m < 4; ++m) {
        const auto r = t.inverse(f, kMethods[m]);
        EXPECT_EQ(r.ok, expected[m].ok) << f << " method " << m;
        if (r.ok && expected[m].ok) {
            EXPECT_EQ(r.value, expected[m].value) << f << " method " << m;
        } else if (!r.ok && !expected[m].ok) {
            EXPECT_EQ(r.error, expected[m].error) << f << " method " << m;
        }
    }
}

TEST(Inverse, IntegerTableMethodsAndClamping) {
    const IntTable t({100, 200, 300}, {0, 10, 20});
    expect_inverse(t, i64{10}, {at(200), at(200), at(200), at(200)});
    expect_inverse(t, i64{0}, {at(100), at(100), at(100), at(100)});
    expect_inverse(t, i64{20}, {at(300), at(300), at(300), at(300)});
    expect_inverse(t, i64{5}, {at(150), at(150), at(150), at(150)});
    expect_inverse(t, i64{15}, {at(250), at(250), at(250), at(250)});
    expect_inverse(t, i64{14}, {at(240), at(240), at(240), at(240)});
    expect_inverse(t, i64{-1}, {oob, at(100), oob, at(100)});
    expect_inverse(t, i64{21}, {oob, at(300), at(300), oob});
    expect_inverse(t, INT64_MIN, {oob, at(100), oob, at(100)});
    expect_inverse(t, INT64_MAX, {oob, at(300), at(300), oob});
    const IntTable halves({0, 10}, {0, 4});
    expect_inverse(halves, i64{1}, {missing, at(2), at(2), at(3)});
    expect_inverse(halves, i64{3}, {missing, at(8), at(7), at(8)});
}

TEST(Inverse, IntegerTableShapes) {
    const IntTable empty({}, {});
    expect_inverse(empty, i64{0}, {oob, oob, oob, oob});
    const IntTable one({42}, {7});
    expect_inverse(one, i64{7}, {at(42), at(42), at(42), at(42)});
    expect_inverse(one, i64{6}, {oob, at(42), oob, at(42)});
    expect_inverse(one, i64{8}, {oob, at(42), at(42), oob});
    for (const IntTable& bad : {IntTable({1, 2, 3}, {0, 10, 10}), IntTable({1, 2}, {5, 3})})
        for (i64 f : {i64{0}, i64{3}, i64{5}, i64{10}, i64{100}}) expect_inverse(bad, f, {nsi, nsi, nsi, nsi});
    const IntTable negative({0, 10, 20}, {-20, -10, 0});
    expect_inverse(negative, i64{-15}, {at(5), at(5), at(5), at(5)});
    const IntTable falling({300, 100}, {0, 10});  // xp need not increase
    expect_inverse(falling, i64{5}, {at(200), at(200), at(200), at(200)});
    expect_inverse(falling, i64{3}, {at(240), at(240), at(240), at(240)});
    expect_inverse(falling, i64{-1}, {oob, at(300), oob, at(300)});  // first knot in table order
    expect_inverse(falling, i64{11}, {oob, at(100), at(100), oob});
    const IntTable same_x({5, 5}, {0, 10});
    expect_inverse(same_x, i64{5}, {at(5), at(5), at(5), at(5)});
    const IntTable full({0, kMax}, {INT64_MIN, INT64_MAX});
    expect_inverse(full, i64{0}, {at(kTop), at(kTop), at(kTop), at(kTop)});
}

TEST(Inverse, FloatTable) {
    const FloatTable t({0, 10}, {0.0, 1.0});
    expect_inverse(t, 0.1, {missing, at(1), at(1), at(2)});
    expect_inverse(t, kInf, {oob, at(10), at(10), oob});
    expect_inverse(t, -kInf, {oob, at(0), oob, at(0)});
    expect_inverse(t, -0.0, {at(0), at(0), at(0), at(0)});
    expect_inverse(t, 1.0, {at(10), at(10), at(10), at(10)});
    for (InverseMethod m : kMethods) {
        try {
            (void)t.inverse(kNaN, m);
            ADD_FAILURE();
        } catch (const Panic& p) {
            EXPECT_STREQ(p.what(), "nan or inf encountered");
        }
    }
    const FloatTable one_nan({3}, {kNaN});
    for (f64 f : {0.0, kNaN, kInf}) EXPECT_THROW((void)one_nan.inverse(f, N), Panic);
    const FloatTable empty({}, {});
    expect_inverse(empty, kNaN, {oob, oob, oob, oob});
    const FloatTable nan_inside({0, 1, 2}, {0.0, kNaN, 2.0});  // the flag comes first
    expect_inverse(nan_inside, kNaN, {nsi, nsi, nsi, nsi});
    const FloatTable infinite({0, 2}, {0.0, kInf});  // an infinite knot reaches the scheme
    expect_inverse(infinite, kInf, {at(2), at(2), at(2), at(2)});
    EXPECT_THROW((void)infinite.inverse(1.0, N), Panic);
}

TEST(WholeArray, StopsAtTheFirstFailure) {
    const IntTable t({0, 10}, {0, 100});
    const u64 x[] = {5, 10, 11, 3};
    i64 out[4] = {-1, -1, -1, -1};
    const rust::piecewise::Strided<u64> q{reinterpret_cast<const unsigned char*>(x), sizeof(u64), 4};
    const auto failure = t.forward_all(q, out);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->index, 2u);
    EXPECT_EQ(failure->error, InterpError::OutOfBounds);
    EXPECT_EQ(out[0], 50);
    EXPECT_EQ(out[1], 100);
    EXPECT_EQ(out[3], -1);  // not evaluated
    // A reversed, unaligned view reads the same elements in reverse.
    alignas(8) unsigned char raw[8 * 3 + 1];
    const u64 vals[] = {1, 2, 3};
    for (int k = 0; k < 3; ++k) std::memcpy(raw + 1 + 8 * k, &vals[k], 8);
    const rust::piecewise::Strided<u64> rev{raw + 1 + 16, -8, 3};
    i64 back[3];
    EXPECT_FALSE(t.forward_all(rev, back).has_value());
    EXPECT_EQ(back[0], 30);
    EXPECT_EQ(back[2], 10);
}

}  // namespace
