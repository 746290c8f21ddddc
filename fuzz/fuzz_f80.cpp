// libFuzzer target: F80 against MPFR at 64 bits for every operation and both
// conversions, and the float scheme against its steps in MPFR (one element and
// a run of one, forward and every inverse method), on operands read from
// arbitrary bytes.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>

#include "mpfr_ref.hpp"
#include "schemes/schemes.hpp"

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

u64 word(const std::uint8_t*& p, const std::uint8_t* end) {
    u64 w = 0;
    const std::size_t n = std::min<std::size_t>(8, static_cast<std::size_t>(end - p));
    std::memcpy(&w, p, n);
    p += n;
    return w;
}

// Three finite values in strictly increasing order, or false.
template <class T>
bool increasing(T (&v)[3]) {
    std::sort(v, v + 3);
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v[0]) || !std::isfinite(v[2])) return false;
    }
    return v[0] < v[1] && v[1] < v[2];
}

[[noreturn]] void scheme_mismatch(const char* what, u64 x0, double f0, u64 x1, double f1, u64 at) {
    std::fprintf(stderr, "%s over (%llu, %a) (%llu, %a) at %llu\n", what, static_cast<unsigned long long>(x0), f0,
                 static_cast<unsigned long long>(x1), f1, static_cast<unsigned long long>(at));
    std::abort();
}

// The float scheme inside a segment read from the bytes, against MPFR.
void check_scheme(const std::uint8_t*& p, const std::uint8_t* end) {
    using Forward = rust::schemes::Forward<u64, double>;
    using Inverse = rust::schemes::Inverse<double, u64>;
    static ref::Scheme steps;
    u64 x[3] = {word(p, end), word(p, end), word(p, end)};
    double f[3] = {std::bit_cast<double>(word(p, end)), std::bit_cast<double>(word(p, end)),
                   std::bit_cast<double>(word(p, end))};
    const bool flip = p < end && (*p++ & 1) != 0;  // positions may decrease in the inverse
    if (!increasing(f)) return;
    if (increasing(x)) {
        const double theirs = steps.forward(x[1], x[0], f[0], x[2], f[2]);
        double run;
        Forward::forward(Forward::segment(x[0], f[0], x[2], f[2]), &x[1], 1, &run);
        if (std::bit_cast<u64>(Forward::forward(x[1], x[0], f[0], x[2], f[2])) != std::bit_cast<u64>(theirs) ||
            std::bit_cast<u64>(run) != std::bit_cast<u64>(theirs))
            scheme_mismatch("forward", x[0], f[0], x[2], f[2], x[1]);
    }
    const u64 x0 = flip ? x[2] : x[0], x1 = flip ? x[0] : x[2];
    for (rust::InverseMethod m : {rust::InverseMethod::Exact, rust::InverseMethod::Nearest, rust::InverseMethod::Ffill,
                                  rust::InverseMethod::Bfill}) {
        const std::optional<u64> theirs = steps.inverse(f[1], x0, f[0], x1, f[2], m);
        const std::optional<u64> run = Inverse::inverse(Inverse::segment(x0, f[0], x1, f[2]), f[1], m);
        if (Inverse::inverse(f[1], x0, f[0], x1, f[2], m) != theirs || run != theirs)
            scheme_mismatch("inverse", x0, f[0], x1, f[2], std::bit_cast<u64>(f[1]));
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
    check_scheme(p, end);
    return 0;
}
