// libFuzzer target: F80 against MPFR at 64 bits for every operation and both
// conversions, on operands read from arbitrary bytes.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mpfr_ref.hpp"

namespace {

using rust::u64;
using rust::extended::F80;

F80 operand(const std::uint8_t*& p, const std::uint8_t* end) {
    std::uint8_t raw[11] = {};
    const std::size_t n = std::min<std::size_t>(sizeof raw, static_cast<std::size_t>(end - p));
    std::memcpy(raw, p, n);
    p += n;
    u64 m;
    std::memcpy(&m, raw, 8);
    std::int16_t e16;
    std::memcpy(&e16, raw + 8, 2);
    const std::uint8_t kind = raw[10];
    switch (kind % 16) {
        case 0: return F80();
        case 1: return F80::from_u64(m);
        case 2: {
            const double d = std::bit_cast<double>(m);
            return std::isfinite(d) ? F80::from_f64(d) : F80();
        }
        default: return F80::finite((kind & 16) != 0, e16, m | (u64{1} << 63));
    }
}

[[noreturn]] void mismatch(const char* op, const F80& a, const F80& b, const F80& ours, const F80& theirs) {
    std::fprintf(stderr, "%s: %s, %s -> %s, MPFR %s\n", op, ref::show(a).c_str(), ref::show(b).c_str(),
                 ref::show(ours).c_str(), ref::show(theirs).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ref::widen_exponent_range();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* p = data;
    const std::uint8_t* end = data + size;
    const F80 a = operand(p, end), b = operand(p, end);
    const struct {
        const char* name;
        ref::Op op;
        F80 ours;
    } binary[] = {{"add", ref::Op::Add, a + b}, {"sub", ref::Op::Sub, a - b}, {"mul", ref::Op::Mul, a * b}};
    for (const auto& c : binary) {
        const F80 theirs = ref::binary(c.op, a, b);
        if (!ref::same(c.ours, theirs)) mismatch(c.name, a, b, c.ours, theirs);
    }
    if (!b.is_zero()) {
        const F80 ours = a / b, theirs = ref::binary(ref::Op::Div, a, b);
        if (!ref::same(ours, theirs)) mismatch("div", a, b, ours, theirs);
    }
    const struct {
        const char* name;
        ref::Integral op;
        F80 ours;
    } integral[] = {{"floor", ref::Integral::Floor, a.floor()},
                    {"ceil", ref::Integral::Ceil, a.ceil()},
                    {"round", ref::Integral::Round, a.round()}};
    for (const auto& c : integral) {
        const F80 theirs = ref::integral(c.op, a);
        if (!ref::same(c.ours, theirs)) mismatch(c.name, a, a, c.ours, theirs);
    }
    if (std::bit_cast<u64>(a.to_f64()) != std::bit_cast<u64>(ref::to_f64(a))) mismatch("to_f64", a, a, a, a);
    if (a.to_u64() != ref::to_u64(a)) mismatch("to_u64", a, a, a, a);
    return 0;
}
