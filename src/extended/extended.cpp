// The shared exits of the operations for zero, infinity and NaN operands,
// as IEEE-754 arithmetic treats them. The system never forms infinity or NaN;
// these keep the type total.
#include "extended/extended.hpp"

namespace rust::extended {

using Kind = F80::Kind;

F80 F80::add_special(F80 a, F80 b) {
    if (a.kind_ == Kind::NaN || b.kind_ == Kind::NaN) return nan();
    if (a.kind_ == Kind::Inf) {
        if (b.kind_ == Kind::Inf && b.neg_ != a.neg_) return nan();
        return a;
    }
    if (b.kind_ == Kind::Inf) return b;
    return a.kind_ == Kind::Zero ? b : a;  // zero plus anything finite
}

F80 F80::mul_special(F80 a, F80 b) {
    if (a.kind_ == Kind::NaN || b.kind_ == Kind::NaN) return nan();
    const bool neg = a.neg_ != b.neg_;
    if (a.kind_ == Kind::Inf || b.kind_ == Kind::Inf) {
        if (a.kind_ == Kind::Zero || b.kind_ == Kind::Zero) return nan();
        return infinity(neg);
    }
    return F80();  // a zero times a finite number
}

F80 F80::div_special(F80 a, F80 b) {
    if (a.kind_ == Kind::NaN || b.kind_ == Kind::NaN) return nan();
    if (a.kind_ == Kind::Inf) {
        if (b.kind_ == Kind::Inf) return nan();
        return infinity(a.neg_ != b.neg_);  // b finite or the unsigned zero
    }
    if (b.kind_ == Kind::Inf) return F80();
    if (b.kind_ == Kind::Zero) return a.kind_ == Kind::Zero ? nan() : infinity(a.neg_);
    return F80();  // zero divided by a finite number
}

void F80::panic_non_finite() { panic("conversion of an infinite or NaN F80"); }

Magnitude difference_wide(f64 hi, f64 lo) { return (F80::from_f64(hi) - F80::from_f64(lo)).magnitude(); }

Gaps gaps_apart(const Bracket& b, f64 f) {
    const Scaled s = scaled(f);
    return {difference(b.hi, b.shi, f, s), difference(f, s, b.lo, b.slo)};
}

// Known answers, checked at compile time.
static_assert(F80::from_u64(1).exponent() == 1 && F80::from_u64(1).significand() == u64{1} << 63);
static_assert(F80::from_u64(~u64{0}).exponent() == 64 && F80::from_u64(~u64{0}).significand() == ~u64{0});
static_assert(F80::from_u64(0).is_zero());
static_assert(F80::finite(false, 1, 3ull << 62).round() == F80::from_u64(2));   // 1.5 -> 2
static_assert(F80::finite(false, 2, 5ull << 61).round() == F80::from_u64(2));   // 2.5 -> 2
static_assert(F80::finite(false, 0, 1ull << 63).round().is_zero());             // 0.5 -> 0
static_assert(F80::finite(true, -1, 1ull << 63).floor() == -F80::from_u64(1));  // -0.25 -> -1

}  // namespace rust::extended
