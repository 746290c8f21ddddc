// libFuzzer target on the core: arbitrary bytes read as a table and queries
// for all four evaluations and every method. Checks that nothing crashes,
// that integer results lie inside the range their segment guarantees, that
// float results lie within a few units in the last place of it, that a second
// evaluation gives the same result, and that the whole-array path agrees
// with element-by-element evaluation, on a kernel target drawn from the
// input among those the processor runs (queries sorted now and then, so that
// keys come in runs inside one segment, as the run kernels take them).
// Under rules drawn from the input for the elements outside the table and
// those without an answer, the whole-array path agrees with element by
// element too, and every element the rules leave alone (inside the table)
// gets what it gets without them. Float tables round by the chain or once;
// rounding once, every answer inside a segment is the exact path's.
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

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::u64;
using rust::piecewise::Interp;
using rust::piecewise::Result;
using rust::piecewise::Rule;
using rust::piecewise::Rules;
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
    if constexpr (std::is_same_v<F, i64>)
        return static_cast<i64>(w);
    else if constexpr (std::is_same_v<F, u64>)
        return w;
    else
        return std::bit_cast<f64>(w);
}

// Values spread over the full range, or small: both reach the schemes.
u64 shape(u64 w, std::uint8_t mode) { return mode & 1 ? w % 4096 : w; }

template <class V>
Rules<V> read_rules(Bytes& in) {
    Rules<V> r;
    const std::uint8_t b = in.byte();
    r.left.rule = static_cast<Rule>(b & 3);
    r.right.rule = static_cast<Rule>((b >> 2) & 3);
    r.missing.rule = (b & 16) ? Rule::Fill : Rule::Raise;
    r.left.fill = read_value<V>(in);
    r.right.fill = read_value<V>(in);
    r.missing.fill = read_value<V>(in);
    if constexpr (!std::is_same_v<V, f64>) {
        if (b & 32) r.lowest = r.lowest + 1;
    }
    return r;
}

// One evaluation's outcome, for comparing paths: the value's bits, or the
// error kind, or a fatal error.
template <class T>
struct Outcome {
    bool ok = false, fatal = false;
    rust::piecewise::InterpError error{};
    T value{};
    bool operator==(const Outcome& o) const {
        return ok == o.ok && fatal == o.fatal && (ok ? same_bits(value, o.value) : (fatal || error == o.error));
    }
};
template <class T, class Eval>
Outcome<T> outcome(Eval&& eval) {
    try {
        const Result<T> r = eval();
        return {r.ok, false, r.error, r.value};
    } catch (const rust::Panic&) {
        return {false, true, {}, {}};
    }
}

// keys through one(key) element by element and all(view, out) as a whole:
// the same answers up to the first element without one, which is where the
// whole array stops (or panics).
template <class K, class T, class One, class All>
void agree(const std::vector<K>& keys, One&& one, All&& all, const char* what) {
    std::vector<T> out(keys.size());
    std::optional<rust::piecewise::Failure> f;
    bool panicked = false;
    try {
        f = all(Strided<K>{reinterpret_cast<const unsigned char*>(keys.data()), sizeof(K), keys.size()}, out.data());
    } catch (const rust::Panic&) {
        panicked = true;
    }
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const Outcome<T> o = outcome<T>([&] { return one(keys[k]); });
        if (o.fatal) {
            if (!panicked) fail(what);
            return;
        }
        if (!o.ok) {
            if (panicked || !f || f->index != k || f->error != o.error) fail(what);
            return;
        }
        // answered: so was it in the whole array, unless a later element panicked there
        if (!panicked && ((f && f->index <= k) || !same_bits(out[k], o.value))) fail(what);
    }
    if (f || panicked) fail(what);
}

template <class F>
void run_rules(const Interp<u64, F>& table, const std::vector<u64>& xs, const std::vector<F>& fs, Bytes& in) {
    const Rules<F> rf = read_rules<F>(in);
    const Rules<u64> ru = read_rules<u64>(in);
    const InverseMethod method = static_cast<InverseMethod>(in.byte() & 3);
    agree<u64, F>(
        xs, [&](u64 x) { return table.forward(x, rf); },
        [&](Strided<u64> q, F* o) { return table.forward_all(q, o, rf); }, "whole-array forward under rules differs");
    agree<F, u64>(
        fs, [&](F f) { return table.inverse(f, method, ru); },
        [&](Strided<F> q, u64* o) { return table.inverse_all(q, method, o, ru); },
        "whole-array inverse under rules differs");
    // Inside the table the rules change nothing.
    const std::size_t n = table.xp().size();
    for (u64 x : xs) {
        if (n == 0 || !table.xp_increasing() || x < table.xp().front() || x > table.xp().back()) continue;
        if (!(outcome<F>([&] { return table.forward(x, rf); }) == outcome<F>([&] { return table.forward(x); })))
            fail("forward inside the table changed under rules");
    }
    for (F f : fs) {
        if (n == 0 || !table.fp_increasing() || !(table.fp().front() <= f && f <= table.fp().back())) continue;
        const Outcome<u64> plain = outcome<u64>([&] { return table.inverse(f, method); });
        const Outcome<u64> ruled = outcome<u64>([&] { return table.inverse(f, method, ru); });
        const bool filled = !plain.ok && !plain.fatal && plain.error == rust::piecewise::InterpError::NotFound &&
                            ru.missing.rule == Rule::Fill && ruled.ok && ruled.value == ru.missing.fill;
        if (!(plain == ruled) && !filled) fail("inverse inside the table changed under rules");
    }
}

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
    // float tables round by the chain or once, as the input says
    const rust::piecewise::Rounding rounding =
        (mode & 32) != 0 ? rust::piecewise::Rounding::Once : rust::piecewise::Rounding::Chain;
    const Interp<u64, F> table(rust::piecewise::Knots<u64>(xp.begin(), xp.end()),
                               rust::piecewise::Knots<F>(fp.begin(), fp.end()), rounding);
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
            if (r.ok != again.ok || (r.ok && !same_bits(r.value, again.value)))
                fail("forward differs on a second call");
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
                if (table.rounding() == rust::piecewise::Rounding::Once &&
                    !same_bits(r.value, rust::schemes::rounded::forward_exact(xs[k], xp[s.index - 1], fp[s.index - 1],
                                                                              xp[s.index], fp[s.index])
                                            .value))
                    fail("forward rounded once is not the exact path's");
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
            if (f.has_value() != fwd_stop.has_value() || (f && f->index != *fwd_stop))
                fail("whole-array forward stops elsewhere");
            const std::size_t done = f ? f->index : m;
            if (done > 0 && std::memcmp(out.data(), fwd.data(), done * sizeof(F)) != 0)
                fail("whole-array forward differs");
        }
    }

    // inverse, every method
    for (InverseMethod method :
         {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill, InverseMethod::Bfill}) {
        std::vector<u64> inv(m);
        std::optional<std::size_t> stop;
        bool panicked = false;
        try {
            for (std::size_t k = 0; k < m; ++k) {
                const Result<u64> r = table.inverse(fs[k], method);
                const Result<u64> again = table.inverse(fs[k], method);
                if (r.ok != again.ok || r.value != again.value || r.error != again.error)
                    fail("inverse differs on a second call");
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
                    bool overflow = false;
                    if (table.rounding() == rust::piecewise::Rounding::Once &&
                        rust::schemes::rounded::inverse_exact(fs[k], xp[s.index - 1], fp[s.index - 1], xp[s.index],
                                                              fp[s.index], method, overflow) != r.value)
                        fail("inverse rounded once is not the exact path's");
                }
            }
        } catch (const rust::Panic&) {
            panicked = true;
        }
        std::vector<u64> out(m);
        bool panicked2 = false;
        std::optional<rust::piecewise::Failure> f;
        try {
            f = table.inverse_all(Strided<F>{reinterpret_cast<const unsigned char*>(fs.data()), 8, m}, method,
                                  out.data());
        } catch (const rust::Panic&) {
            panicked2 = true;
        }
        if (panicked != panicked2) fail("whole-array inverse panics differently");
        if (!panicked) {
            if (f.has_value() != stop.has_value() || (f && f->index != *stop))
                fail("whole-array inverse stops elsewhere");
            const std::size_t done = f ? f->index : m;
            if (done > 0 && std::memcmp(out.data(), inv.data(), done * sizeof(u64)) != 0)
                fail("whole-array inverse differs");
        }
    }
    run_rules(table, xs, fs, in);
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
    if (in.byte() & 1)
        run<f64>(in);
    else
        run<i64>(in);
    return 0;
}
