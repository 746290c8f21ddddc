// F80 against GNU MPFR at 64 bits, round to nearest-even, bit for bit.
// 10^6 operand pairs per operation in the normal run, 10^8 with
// RUST_LONG_RUN=1. The seed is printed; RUST_TEST_SEED replays it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <tuple>

#include "mpfr_ref.hpp"
#include "operands.hpp"

namespace {

using rust::u64;
using rust::extended::F80;

const u64 kPairs = gen::count(1'000'000, 100'000'000);

class F80VersusMpfr : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ref::widen_exponent_range();
        std::printf("seed %" PRIu64 ", %" PRIu64 " operands per operation\n", gen::seed(), kPairs);
    }
};

// Stops at the first few mismatches, printing both sides in hex.
class Mismatches {
public:
    template <class Show>
    void report(Show&& show) {
        if (++count_ <= 5) ADD_FAILURE() << show() << " (seed " << gen::seed() << ")";
    }
    u64 count() const { return count_; }

private:
    u64 count_ = 0;
};

F80 apply(ref::Op op, const F80& a, const F80& b) {
    switch (op) {
        case ref::Op::Add: return a + b;
        case ref::Op::Sub: return a - b;
        case ref::Op::Mul: return a * b;
        case ref::Op::Div: return a / b;
    }
    return F80();
}

class BinaryOp : public F80VersusMpfr, public ::testing::WithParamInterface<ref::Op> {};

TEST_P(BinaryOp, MatchesMpfr) {
    const ref::Op op = GetParam();
    gen::Gen g(100 + static_cast<u64>(op));
    Mismatches bad;
    for (u64 i = 0; i < kPairs; ++i) {
        F80 a, b;
        g.pair(a, b);
        const F80 ours = apply(op, a, b), theirs = ref::binary(op, a, b);
        if (!ref::same(ours, theirs))
            bad.report([&] {
                return ref::show(a) + " op " + ref::show(b) + ": " + ref::show(ours) + " vs " + ref::show(theirs);
            });
    }
    EXPECT_EQ(bad.count(), 0u);
}

std::string op_name(const ::testing::TestParamInfo<ref::Op>& info) {
    static const char* const names[] = {"Add", "Sub", "Mul", "Div"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ops, BinaryOp, ::testing::Values(ref::Op::Add, ref::Op::Sub, ref::Op::Mul, ref::Op::Div),
                         op_name);

// Operands for the integer operations and the conversions: every magnitude
// around 1, halves and near-halves, and the ranges where the conversions
// change rule.
F80 integral_operand(gen::Gen& g) {
    switch (g.below(6)) {
        case 0: return g.finite(static_cast<std::int32_t>(g.range(-3, 70)));
        case 1: {  // exactly a half above an integer, or one unit beside it
            const std::int32_t e = static_cast<std::int32_t>(g.range(1, 64));
            u64 m = g.significand();
            if (e < 64) {
                const u64 unit = u64{1} << (64 - e);
                m = (m & ~(unit - 1)) | (unit >> 1);
                m += static_cast<u64>(g.range(-1, 1));
                m |= u64{1} << 63;
            }
            return F80::finite(g.coin(), e, m);
        }
        case 2: return F80::from_f64(g.any_double());
        case 3: return F80::from_u64(g.any_u64());
        case 4: return g.finite(static_cast<std::int32_t>(g.range(-1100, -1000)));
        default: return g.finite(static_cast<std::int32_t>(g.range(1000, 1100)));
    }
}

class IntegralOp : public F80VersusMpfr, public ::testing::WithParamInterface<ref::Integral> {};

TEST_P(IntegralOp, MatchesMpfr) {
    const ref::Integral op = GetParam();
    gen::Gen g(200 + static_cast<u64>(op));
    Mismatches bad;
    for (u64 i = 0; i < kPairs; ++i) {
        const F80 a = g.below(8) == 0 ? g.any_finite() : integral_operand(g);
        const F80 ours = op == ref::Integral::Floor ? a.floor() : op == ref::Integral::Ceil ? a.ceil() : a.round();
        const F80 theirs = ref::integral(op, a);
        if (!ref::same(ours, theirs))
            bad.report([&] { return ref::show(a) + ": " + ref::show(ours) + " vs " + ref::show(theirs); });
    }
    EXPECT_EQ(bad.count(), 0u);
}

std::string integral_name(const ::testing::TestParamInfo<ref::Integral>& info) {
    static const char* const names[] = {"Floor", "Ceil", "Round"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ops, IntegralOp,
                         ::testing::Values(ref::Integral::Floor, ref::Integral::Ceil, ref::Integral::Round),
                         integral_name);

TEST_F(F80VersusMpfr, ToF64MatchesReference) {
    gen::Gen g(300);
    Mismatches bad;
    for (u64 i = 0; i < kPairs; ++i) {
        const F80 a = g.coin() ? integral_operand(g) : g.any_finite();
        const u64 ours = std::bit_cast<u64>(a.to_f64()), theirs = std::bit_cast<u64>(ref::to_f64(a));
        if (ours != theirs)
            bad.report([&] {
                char buf[64];
                std::snprintf(buf, sizeof buf, ": %016" PRIx64 " vs %016" PRIx64, ours, theirs);
                return ref::show(a) + buf;
            });
    }
    EXPECT_EQ(bad.count(), 0u);
}

TEST_F(F80VersusMpfr, ToU64MatchesReference) {
    gen::Gen g(301);
    Mismatches bad;
    for (u64 i = 0; i < kPairs; ++i) {
        const F80 a = g.coin() ? integral_operand(g) : g.any_finite();
        const u64 ours = a.to_u64(), theirs = ref::to_u64(a);
        if (ours != theirs)
            bad.report([&] { return ref::show(a) + ": " + std::to_string(ours) + " vs " + std::to_string(theirs); });
    }
    EXPECT_EQ(bad.count(), 0u);
}

// The operands the schemes form: u64 and f64 conversions, their differences,
// products and quotients, checked one operation at a time.
TEST_F(F80VersusMpfr, SchemeShapedChains) {
    gen::Gen g(400);
    Mismatches bad;
    auto check = [&](ref::Op op, const F80& a, const F80& b) {
        const F80 ours = apply(op, a, b), theirs = ref::binary(op, a, b);
        if (!ref::same(ours, theirs))
            bad.report([&] {
                return ref::show(a) + " op " + ref::show(b) + ": " + ref::show(ours) + " vs " + ref::show(theirs);
            });
        return ours;
    };
    for (u64 i = 0; i < kPairs / 4; ++i) {
        const F80 x0 = F80::from_u64(g.any_u64()), x1 = F80::from_u64(g.any_u64()), x = F80::from_u64(g.any_u64());
        const F80 f0 = F80::from_f64(g.any_double()), f1 = F80::from_f64(g.any_double());
        const F80 a = check(ref::Op::Sub, x1, x), b = check(ref::Op::Sub, x, x0);
        const F80 n = check(ref::Op::Add, check(ref::Op::Mul, f0, a), check(ref::Op::Mul, f1, b));
        const F80 dd = check(ref::Op::Sub, x1, x0);
        if (!dd.is_zero()) check(ref::Op::Div, n, dd);
        // The inverse's differences hi - f and f - lo of doubles lo < f < hi,
        // as the float scheme forms them on the knots' shared scale.
        double v[3] = {g.any_double(), g.any_double(), g.any_double()};
        if (g.coin()) v[g.below(3)] = std::bit_cast<double>(std::bit_cast<u64>(v[g.below(3)]) + g.below(3) - 1);
        std::sort(v, v + 3);
        if (!(v[0] < v[1] && v[1] < v[2]) || !std::isfinite(v[0]) || !std::isfinite(v[2])) continue;
        const rust::extended::Gaps gaps = rust::extended::gaps(rust::extended::bracket(v[0], v[2]), v[1]);
        const F80 lo = F80::from_f64(v[0]), f = F80::from_f64(v[1]), hi = F80::from_f64(v[2]);
        for (const auto& [ours, a, b] : {std::tuple{gaps.above, hi, f}, std::tuple{gaps.below, f, lo}})
            if (const F80 theirs = ref::binary(ref::Op::Sub, a, b); !ref::same(F80::pack(false, ours), theirs))
                bad.report([&, gap = ours, x = a, y = b] {  // by copy: clang 14 captures no structured binding
                    return ref::show(x) + " - " + ref::show(y) + ": " + ref::show(F80::pack(false, gap)) + " vs " +
                           ref::show(theirs);
                });
    }
    EXPECT_EQ(bad.count(), 0u);
}

}  // namespace
