// libFuzzer target on the core: arbitrary bytes read as a table and queries
// for all four evaluations and every method. Checks that nothing crashes,
// that integer results lie inside the range their segment guarantees, that
// float results lie within a few units in the last place of it, that a second
// evaluation gives the same result, and that the whole-array path agrees
// with element-by-element evaluation, on a kernel target drawn from the
// input among those the processor runs (queries sorted now and then, so that
// keys come in runs inside one segment, as the run kernels take them).
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "kernels/kernels.hpp"
#include "piecewise/piecewise.hpp"

namespace {

using rust::InverseMethod;
using rust::f64;
using rust::i64;
using rust::u64;
using rust::piecewise::Interp;
using rust::piecewise::Result;
using rust::piecewise::Strided;

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    u64 word() {
        u64 v = 0;
        const std::size_t n = std::min<std::size_t>(8, static_cast<std::size_t>(end_ - p_));
        std::memcpy(&v, p_, n);
        p_ += n;
        return v;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Ordered distance in units in the last place between two finite doubles.
u64 ulps(f64 a, f64 b) {
    auto ordered = [](f64 v) {  // monotone map of doubles to u64
        const u64 bits = std::bit_cast<u64>(v);
        return (bits >> 63) ? ~bits : bits | (u64{1} << 63);
    };
    const u64 x = ordered(a == 0.0 ? 0.0 : a), y = ordered(b == 0.0 ? 0.0 : b);
    return x > y ? x - y : y - x;
}

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class F>
F read_value(Bytes& in) {
    const u64 w = in.word();
    if constexpr (std::is_same_v<F, i64>) return static_cast<i64>(w);
    else return std::bit_cast<f64>(w);
}

// Values spread over the full range, or small: both reach the schemes.
u64 shape(u64 w, std::uint8_t mode) { return mode & 1 ? w % 4096 : w; }

template <class F>
void run(Bytes& in) {
    const std::uint8_t mode = in.byte();
    const std::size_t n = in.byte() % 24;
    std::vector<u64> xp(n);
    std::vector<F> fp(n);
    for (std::size_t k = 0; k < n; ++k) xp[k] = shape(in.word(), mode);
    for (std::size_t k = 0; k < n; ++k) {
        fp[k] = read_value<F>(in);
        if constexpr (std::is_same_v<F, i64>) {
            if (mode & 2) fp[k] %= 4096;
        }
    }
    if (mode & 4) std::sort(xp.begin(), xp.end());
    if (mode & 8) std::sort(fp.begin(), fp.end(), [](F a, F b) { return a < b; });
    const Interp<u64, F> table(xp, fp);
    const std::size_t m = in.byte() % 32;
    std::vector<u64> xs(m);
    std::vector<F> fs(m);
    for (std::size_t k = 0; k < m; ++k) {
        xs[k] = shape(in.word(), mode);
        fs[k] = read_value<F>(in);
        if constexpr (std::is_same_v<F, i64>) {
            if (mode & 2) fs[k] %= 4096;
        }
    }

    if (mode & 16) {
        std::sort(xs.begin(), xs.end());
        std::sort(fs.begin(), fs.end(), [](F a, F b) { return a < b; });
    }

    // forward, element by element
    std::vector<F> fwd(m);
    std::optional<std::size_t> fwd_stop;
    bool fwd_panic = false;
    try {
        for (std::size_t k = 0; k < m && !fwd_stop; ++k) {
            const Result<F> r = table.forward(xs[k]);
            const Result<F> again = table.forward(xs[k]);
            if (r.ok != again.ok || (r.ok && !same_bits(r.value, again.value))) fail("forward differs on a second call");
            if (!r.ok) {
                fwd_stop = k;
                break;
            }
            fwd[k] = r.value;
            const auto s = rust::piecewise::search(table.xp().data(), n, xs[k]);
            if (s.hit) {
                if (!same_bits(r.value, fp[s.index])) fail("forward of a knot is not its value");
                continue;
            }
            const F lo = std::min(fp[s.index - 1], fp[s.index]), hi = std::max(fp[s.index - 1], fp[s.index]);
            if constexpr (std::is_same_v<F, i64>) {
                if (r.value < lo || r.value > hi) fail("integer forward outside its segment");
            } else {
                if (!(r.value >= lo && r.value <= hi) && ulps(r.value, r.value < lo ? lo : hi) > 4)
                    fail("float forward outside its segment");
            }
        }
    } catch (const rust::Panic&) {
        fwd_panic = true;
    }
    // the whole-array path agrees
    {
        std::vector<F> out(m);
        bool panicked = false;
        std::optional<rust::piecewise::Failure> f;
        try {
            f = table.forward_all(Strided<u64>{reinterpret_cast<const unsigned char*>(xs.data()), 8, m}, out.data());
        } catch (const rust::Panic&) {
            panicked = true;
        }
        if (panicked != fwd_panic) fail("whole-array forward panics differently");
        if (!panicked) {
            if (f.has_value() != fwd_stop.has_value() || (f && f->index != *fwd_stop)) fail("whole-array forward stops elsewhere");
            const std::size_t done = f ? f->index : m;
            if (done > 0 && std::memcmp(out.data(), fwd.data(), done * sizeof(F)) != 0) fail("whole-array forward differs");
        }
    }

    // inverse, every method
    for (InverseMethod method : {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill, InverseMethod::Bfill}) {
        std::vector<u64> inv(m);
        std::optional<std::size_t> stop;
        bool panicked = false;
        try {
            for (std::size_t k = 0; k < m; ++k) {
                const Result<u64> r = table.inverse(fs[k], method);
                const Result<u64> again = table.inverse(fs[k], method);
                if (r.ok != again.ok || r.value != again.value || r.error != again.error) fail("inverse differs on a second call");
                if (!r.ok) {
                    stop = k;
                    break;
                }
                inv[k] = r.value;
                const auto s = rust::piecewise::search(table.fp().data(), n, fs[k]);
                if (s.hit || s.index == 0 || s.index == n) continue;
                const u64 lo = std::min(xp[s.index - 1], xp[s.index]), hi = std::max(xp[s.index - 1], xp[s.index]);
                if constexpr (std::is_same_v<F, i64>) {
                    if (r.value < lo || r.value > hi) fail("integer inverse outside its segment");
                } else {
                    // the products, the sum and the quotient round to 64 bits before the
                    // method acts: a few units either way near 2^64, less below
                    constexpr u64 kSlack = 4;
                    if ((r.value < lo && lo - r.value > kSlack) || (r.value > hi && r.value - hi > kSlack))
                        fail("float inverse outside its segment");
                }
            }
        } catch (const rust::Panic&) {
            panicked = true;
        }
        std::vector<u64> out(m);
        bool panicked2 = false;
        std::optional<rust::piecewise::Failure> f;
        try {
            f = table.inverse_all(Strided<F>{reinterpret_cast<const unsigned char*>(fs.data()), 8, m}, method, out.data());
        } catch (const rust::Panic&) {
            panicked2 = true;
        }
        if (panicked != panicked2) fail("whole-array inverse panics differently");
        if (!panicked) {
            if (f.has_value() != stop.has_value() || (f && f->index != *stop)) fail("whole-array inverse stops elsewhere");
            const std::size_t done = f ? f->index : m;
            if (done > 0 && std::memcmp(out.data(), inv.data(), done * sizeof(u64)) != 0) fail("whole-array inverse differs");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<rust::kernels::Target> targets = [] {
        std::vector<rust::kernels::Target> v;
        for (const rust::kernels::Target t : rust::kernels::compiled())
            if (rust::kernels::supported(t)) v.push_back(t);
        return v;
    }();
    Bytes in(data, size);
    rust::kernels::force(targets[in.byte() % targets.size()]);
    if (in.byte() & 1) run<f64>(in);
    else run<i64>(in);
    return 0;
}
