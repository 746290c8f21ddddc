// One digest of a fixed stream of evaluations: integer and float tables,
// forward and inverse, every method, knots, segment interiors, the extremes
// of every type, out-of-bounds, not-found, non-increasing axes and the fatal
// errors, element by element and whole-array. The stream depends only on its
// own generator and every answer is fed to the hash byte by byte, least
// significant first, so the digest is the same on every processor whose
// results are the same. It is taken on every kernel target the processor
// runs, and must be the same on each.
//
// A second stream of its own ("outside") takes the same kinds of tables with
// more keys beyond their ends, under drawn rules for the elements outside
// the table and those without an answer: raising, clamping, fills and exact
// extrapolation, with the range of the results narrowed now and then. A
// third ("rounded") is the second's kind of stream over float tables that
// round once, as the front end's do.
//
//   core_digest [rounds]     prints "digest <16 hex digits> answers <count>",
//                            "outside <16 hex digits> answers <count>" and
//                            "rounded <16 hex digits> answers <count>"
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "kernels/kernels.hpp"
#include "parallel/parallel.hpp"
#include "piecewise/piecewise.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::u64;
using rust::piecewise::Interp;
using rust::piecewise::Knots;
using rust::piecewise::Rounding;
using rust::piecewise::Rule;
using rust::piecewise::Rules;
using rust::piecewise::Side;
using rust::piecewise::Strided;

constexpr InverseMethod kMethods[] = {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill,
                                      InverseMethod::Bfill};
constexpr u64 kTop = ~u64{0};

// SplitMix64: a generator defined by its arithmetic alone.
class Stream {
public:
    u64 next() {
        u64 z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    u64 below(u64 n) { return n == 0 ? 0 : next() % n; }
    bool one_in(u64 n) { return below(n) == 0; }

private:
    u64 state_ = 20261208;

public:
    explicit Stream(u64 seed = 20261208) : state_(seed) {}
};

// FNV-1a over little-endian bytes.
class Digest {
public:
    void word(u64 v) {
        for (int k = 0; k < 8; ++k) {
            hash_ ^= (v >> (8 * k)) & 0xFF;
            hash_ *= 0x100000001B3ull;
        }
    }
    void text(const char* s) {
        for (; *s; ++s) word(static_cast<unsigned char>(*s));
    }
    // One answer: a value's bits, an error kind, or a fatal message.
    template <class R>
    void answer(const R& r) {
        ++answers_;
        if (r.ok) {
            word(0);
            word(std::bit_cast<u64>(r.value));
        } else {
            word(1);
            word(static_cast<u64>(r.error));
        }
    }
    void fatal(const rust::Panic& p) {
        ++answers_;
        word(2);
        text(p.what());
    }
    void count(u64 n) { answers_ += n; }
    u64 hash() const { return hash_; }
    u64 answers() const { return answers_; }

private:
    u64 hash_ = 0xCBF29CE484222325ull;
    u64 answers_ = 0;
};

// Order-preserving key of a double: sorting keys sorts the doubles in IEEE
// order with -0.0 before +0.0, whatever the sort algorithm.
u64 order_key(f64 v) {
    const u64 b = std::bit_cast<u64>(v);
    return (b >> 63) ? ~b : b | (u64{1} << 63);
}
f64 from_key(u64 k) { return std::bit_cast<f64>((k >> 63) ? k & ~(u64{1} << 63) : ~k); }

// A u64 of a random magnitude, the edges included.
u64 any_u64(Stream& s) {
    switch (s.below(6)) {
        case 0: return s.below(16);
        case 1: return kTop - s.below(16);
        case 2: return s.next() >> s.below(64);
        default: return s.next();
    }
}

// A finite double of a random class: small integers, any exponent, subnormal.
f64 any_f64(Stream& s) {
    switch (s.below(6)) {
        case 0: return static_cast<f64>(static_cast<i64>(s.below(2001)) - 1000);
        case 1: return std::bit_cast<f64>(s.next() & 0x800FFFFFFFFFFFFFull);  // subnormal or zero
        case 2: return std::bit_cast<f64>((s.next() & 0x83FFFFFFFFFFFFFFull) | 0x3C00000000000000ull);  // near 1
        default: {
            const u64 b = s.next();
            return ((b >> 52) & 0x7FF) == 0x7FF ? 1.0 : std::bit_cast<f64>(b);
        }
    }
}

std::vector<u64> increasing_positions(Stream& s, std::size_t n) {
    std::vector<u64> v;
    const unsigned shift = static_cast<unsigned>(s.below(64));
    for (std::size_t k = 0; k < 2 * n; ++k) v.push_back(s.one_in(4) ? any_u64(s) : s.next() >> shift);
    if (s.one_in(3)) v.push_back(0);
    if (s.one_in(3)) v.push_back(kTop);
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    while (v.size() > n) v.erase(v.begin() + static_cast<std::ptrdiff_t>(s.below(v.size())));
    return v;
}

std::vector<i64> increasing_values(Stream& s, std::size_t n) {
    std::vector<u64> biased;  // sorted as u64, which is the order of the i64
    const unsigned shift = static_cast<unsigned>(s.below(64));
    for (std::size_t k = 0; k < 2 * n; ++k) {
        const u64 centre = (u64{1} << 63) + (s.next() >> shift) - (kTop >> shift) / 2;
        biased.push_back(s.one_in(4) ? any_u64(s) : centre);
    }
    std::sort(biased.begin(), biased.end());
    biased.erase(std::unique(biased.begin(), biased.end()), biased.end());
    while (biased.size() > n) biased.erase(biased.begin() + static_cast<std::ptrdiff_t>(s.below(biased.size())));
    std::vector<i64> v;
    for (u64 b : biased) v.push_back(static_cast<i64>(b ^ (u64{1} << 63)));
    return v;
}

std::vector<f64> increasing_doubles(Stream& s, std::size_t n) {
    std::vector<u64> keys;
    for (std::size_t k = 0; k < 2 * n; ++k) keys.push_back(order_key(any_f64(s)));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    while (keys.size() > n) keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(s.below(keys.size())));
    std::vector<f64> v;
    for (u64 k : keys) v.push_back(from_key(k));
    // Neither -0.0 before +0.0 (not increasing) unless on purpose below.
    for (std::size_t k = 0; k + 1 < v.size(); ++k)
        if (v[k] == v[k + 1]) v.erase(v.begin() + static_cast<std::ptrdiff_t>(k));
    return v;
}

// Queries of an axis: every knot, its neighbours, points between knots and
// the edges of the type.
std::vector<u64> position_queries(Stream& s, const std::vector<u64>& xp) {
    std::vector<u64> q = {0, 1, kTop, kTop - 1};
    for (std::size_t k = 0; k < xp.size(); ++k) {
        q.push_back(xp[k]);
        q.push_back(xp[k] - 1);
        q.push_back(xp[k] + 1);
        if (k + 1 < xp.size() && xp[k + 1] > xp[k]) {
            const u64 gap = xp[k + 1] - xp[k];
            for (int j = 0; j < 3; ++j) q.push_back(xp[k] + s.below(gap));
            q.push_back(xp[k] + gap / 2);
        }
    }
    for (int j = 0; j < 4; ++j) q.push_back(any_u64(s));
    return q;
}

std::vector<i64> value_queries(Stream& s, const std::vector<i64>& fp) {
    constexpr i64 lo = std::numeric_limits<i64>::min(), hi = std::numeric_limits<i64>::max();
    std::vector<i64> q = {lo, hi, 0, -1, lo + 1, hi - 1};
    for (std::size_t k = 0; k < fp.size(); ++k) {
        const u64 b = static_cast<u64>(fp[k]);
        q.push_back(fp[k]);
        q.push_back(static_cast<i64>(b - 1));
        q.push_back(static_cast<i64>(b + 1));
        if (k + 1 < fp.size() && fp[k + 1] > fp[k]) {
            const u64 gap = static_cast<u64>(fp[k + 1]) - b;
            for (int j = 0; j < 3; ++j) q.push_back(static_cast<i64>(b + s.below(gap)));
        }
    }
    for (int j = 0; j < 4; ++j) q.push_back(static_cast<i64>(any_u64(s)));
    return q;
}

std::vector<f64> double_queries(Stream& s, const std::vector<f64>& fp) {
    constexpr f64 inf = std::numeric_limits<f64>::infinity(), big = std::numeric_limits<f64>::max();
    std::vector<f64> q = {0.0, -0.0, big, -big, std::numeric_limits<f64>::denorm_min()};
    for (std::size_t k = 0; k < fp.size(); ++k) {
        const u64 key = order_key(fp[k]);
        q.push_back(fp[k]);
        q.push_back(from_key(key - 1));
        q.push_back(from_key(key + 1));
        if (k + 1 < fp.size()) {
            const u64 next = order_key(fp[k + 1]);
            if (next > key)
                for (int j = 0; j < 3; ++j) q.push_back(from_key(key + s.below(next - key)));
        }
    }
    for (int j = 0; j < 4; ++j) q.push_back(any_f64(s));
    if (s.one_in(8)) q.push_back(s.one_in(2) ? inf : -inf);
    return q;
}

template <class T>
Strided<T> view(const std::vector<T>& v) {
    return {reinterpret_cast<const unsigned char*>(v.data()), sizeof(T), v.size()};
}

// Every element alone, then the whole array at once.
template <class X, class F, class Q, class Out, class One, class All>
void evaluate(Digest& d, const std::vector<Q>& queries, One&& one, All&& all) {
    for (Q q : queries) {
        try {
            d.answer(one(q));
        } catch (const rust::Panic& p) {
            d.fatal(p);
        }
    }
    std::vector<Out> out(queries.size());
    try {
        const auto failure = all(view(queries), out.data());
        const std::size_t done = failure ? failure->index : out.size();
        d.word(done);
        if (failure) d.word(static_cast<u64>(failure->error));
        for (std::size_t i = 0; i < done; ++i) d.word(std::bit_cast<u64>(out[i]));
        d.count(done + 1);
    } catch (const rust::Panic& p) {
        d.fatal(p);
    }
}

// Whole-array evaluations split across two threads in chunks of 150: short
// queries in one pass, long ones in several, as the parallel entry runs them.
constexpr rust::parallel::Split kSplit{2, 150};

// Keys beyond both ends of an axis: near them and far.
template <class T>
void beyond_ends(Stream& s, std::vector<T>& q, const std::vector<T>& axis) {
    if (axis.empty()) return;
    for (int j = 0; j < 6; ++j) {
        const u64 step = s.next() >> s.below(64);
        if constexpr (std::is_same_v<T, f64>) {
            q.push_back(axis.front() - std::ldexp(static_cast<f64>(step >> 11), -static_cast<int>(s.below(60))));
            q.push_back(axis.back() + std::ldexp(static_cast<f64>(step >> 11), -static_cast<int>(s.below(60))));
        } else {
            q.push_back(static_cast<T>(static_cast<u64>(axis.front()) - step));
            q.push_back(static_cast<T>(static_cast<u64>(axis.back()) + step));
        }
    }
}

template <class V>
V any_fill(Stream& s) {
    if constexpr (std::is_same_v<V, f64>)
        return s.one_in(4) ? std::numeric_limits<f64>::quiet_NaN() : any_f64(s);
    else
        return static_cast<V>(any_u64(s));
}

// Rules drawn from the stream: each side any rule, `missing` raising or a fill.
template <class V>
Rules<V> any_rules(Stream& s) {
    Rules<V> r;
    for (Side<V>* side : {&r.left, &r.right}) {
        side->rule = static_cast<Rule>(s.below(4));
        side->fill = any_fill<V>(s);
    }
    r.missing.rule = s.one_in(2) ? Rule::Fill : Rule::Raise;
    r.missing.fill = any_fill<V>(s);
    if (!std::is_same_v<V, f64> && s.one_in(4)) r.lowest = r.lowest + 1;  // a time kind's NaT
    return r;
}

void one_table(Stream& s, Digest& d, bool beyond, Rounding rounding) {
    static constexpr std::size_t kSizes[] = {0, 1, 2, 2, 3, 5, 17, 64, 200};
    const std::size_t n = kSizes[s.below(std::size(kSizes))];
    std::vector<u64> xp = increasing_positions(s, n);
    std::vector<i64> fi = increasing_values(s, xp.size());
    std::vector<f64> ff = increasing_doubles(s, xp.size());
    xp.resize(std::min({xp.size(), fi.size(), ff.size()}));
    fi.resize(xp.size());
    ff.resize(xp.size());
    // Sometimes an axis out of order, sometimes a non-finite or NaN value.
    if (xp.size() >= 2 && s.one_in(10)) std::swap(xp[0], xp[1]);
    if (fi.size() >= 2 && s.one_in(10)) fi[1] = fi[0];
    if (ff.size() >= 2 && s.one_in(10)) {
        static constexpr f64 odd[] = {std::numeric_limits<f64>::infinity(), -std::numeric_limits<f64>::infinity(),
                                      std::numeric_limits<f64>::quiet_NaN()};
        ff[s.below(ff.size())] = odd[s.below(3)];
    }
    if (s.one_in(3)) std::reverse(xp.begin(), xp.end());  // inverse maps to decreasing positions

    std::vector<u64> xq = position_queries(s, xp);
    if (beyond) beyond_ends(s, xq, xp);
    const Interp<u64, i64> ti(Knots<u64>(xp.begin(), xp.end()), Knots<i64>(fi.begin(), fi.end()));
    const Interp<u64, f64> tf(Knots<u64>(xp.begin(), xp.end()), Knots<f64>(ff.begin(), ff.end()), rounding);
    if (beyond) {
        const Rules<i64> ri = any_rules<i64>(s);
        const Rules<f64> rf = any_rules<f64>(s);
        evaluate<u64, i64, u64, i64>(
            d, xq, [&](u64 x) { return ti.forward(x, ri); },
            [&](Strided<u64> q, i64* o) { return rust::parallel::forward_all(ti, q, o, kSplit, ri); });
        evaluate<u64, f64, u64, f64>(
            d, xq, [&](u64 x) { return tf.forward(x, rf); },
            [&](Strided<u64> q, f64* o) { return rust::parallel::forward_all(tf, q, o, kSplit, rf); });
    } else {
        evaluate<u64, i64, u64, i64>(
            d, xq, [&](u64 x) { return ti.forward(x); },
            [&](Strided<u64> q, i64* o) { return rust::parallel::forward_all(ti, q, o, kSplit); });
        evaluate<u64, f64, u64, f64>(
            d, xq, [&](u64 x) { return tf.forward(x); },
            [&](Strided<u64> q, f64* o) { return rust::parallel::forward_all(tf, q, o, kSplit); });
    }

    std::vector<i64> iq = value_queries(s, fi);
    std::vector<f64> fq = double_queries(s, ff);
    if (s.one_in(8))
        fq.insert(fq.begin() + static_cast<std::ptrdiff_t>(s.below(fq.size())), std::numeric_limits<f64>::quiet_NaN());
    if (beyond) {
        beyond_ends(s, iq, fi);
        beyond_ends(s, fq, ff);
    }
    for (InverseMethod m : kMethods) {
        if (beyond) {
            const Rules<u64> ri = any_rules<u64>(s), rf = any_rules<u64>(s);
            evaluate<u64, i64, i64, u64>(
                d, iq, [&](i64 f) { return ti.inverse(f, m, ri); },
                [&](Strided<i64> q, u64* o) { return rust::parallel::inverse_all(ti, q, m, o, kSplit, ri); });
            evaluate<u64, f64, f64, u64>(
                d, fq, [&](f64 f) { return tf.inverse(f, m, rf); },
                [&](Strided<f64> q, u64* o) { return rust::parallel::inverse_all(tf, q, m, o, kSplit, rf); });
            continue;
        }
        evaluate<u64, i64, i64, u64>(
            d, iq, [&](i64 f) { return ti.inverse(f, m); },
            [&](Strided<i64> q, u64* o) { return rust::parallel::inverse_all(ti, q, m, o, kSplit); });
        evaluate<u64, f64, f64, u64>(
            d, fq, [&](f64 f) { return tf.inverse(f, m); },
            [&](Strided<f64> q, u64* o) { return rust::parallel::inverse_all(tf, q, m, o, kSplit); });
    }
}

}  // namespace

// The branch of the 128-bit arithmetic this build took (base/wide.hpp).
constexpr const char* kWide = RUST_WIDE_NATIVE ? (RUST_HW_DIVQ ? "native with divq" : "native")
                              : RUST_WIDE_MSVC ? "msvc intrinsics"
                                               : "portable";

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
    // The stream once on every kernel target the processor runs: one line
    // when all agree (the targets named on stderr), every line otherwise.
    std::vector<std::string> lines;
    std::string targets;
    for (const rust::kernels::Target target : rust::kernels::compiled()) {
        if (!rust::kernels::supported(target)) continue;
        rust::kernels::force(target);
        std::string line;
        static constexpr const char* kStreams[] = {"digest", "\noutside", "\nrounded"};
        for (int stream = 0; stream < 3; ++stream) {
            Stream s(20261208 + static_cast<u64>(stream));
            Digest d;
            const bool beyond = stream > 0;
            const Rounding rounding = stream == 2 ? Rounding::Once : Rounding::Chain;
            for (long r = 0; r < rounds; ++r)
                for (int t = 0; t < 600; ++t) one_table(s, d, beyond, rounding);
            char text[96];
            std::snprintf(text, sizeof text, "%s %016" PRIx64 " answers %" PRIu64, kStreams[stream], d.hash(),
                          d.answers());
            line += text;
        }
        lines.push_back(line);
        targets += std::string(targets.empty() ? "" : " ") + rust::kernels::name(target);
    }
    if (std::all_of(lines.begin(), lines.end(), [&](const std::string& l) { return l == lines.front(); })) {
        std::printf("%s\n", lines.front().c_str());
        std::fprintf(stderr, "kernel targets: %s\nwide arithmetic: %s\n", targets.c_str(), kWide);
        return 0;
    }
    std::size_t k = 0;
    for (const rust::kernels::Target target : rust::kernels::compiled())
        if (rust::kernels::supported(target)) std::printf("%s: %s\n", rust::kernels::name(target), lines[k++].c_str());
    return 1;
}
