// Whole-array evaluation (locality search, prefetching search, the query
// split across threads) against the plain element-by-element evaluation it
// replaces: same results bit for bit, the same first failing element and
// error, the same fatal errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "operands.hpp"
#include "parallel/parallel.hpp"
#include "piecewise/piecewise.hpp"
#include "targets.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::InverseMethod;
using rust::u64;
using rust::piecewise::Failure;
using rust::piecewise::Strided;

// The plain path: one forward()/inverse() per element, stopping at the first
// failure. Returns the failure, or a fatal message in `fatal`.
template <class Table, class Q, class Out, class Eval>
std::optional<Failure> plain(const std::vector<Q>& q, std::vector<Out>& out, std::string& fatal, Eval&& eval) {
    try {
        for (std::size_t i = 0; i < q.size(); ++i) {
            const auto r = eval(q[i]);
            if (!r.ok) return Failure{i, r.error};
            out[i] = r.value;
        }
    } catch (const rust::Panic& p) {
        fatal = p.what();
    }
    return std::nullopt;
}

template <class T>
Strided<T> view(const std::vector<T>& v) {
    return {reinterpret_cast<const unsigned char*>(v.data()), sizeof(T), v.size()};
}

enum class Order { Random, Sorted, Descending, Clustered };

template <class T>
void arrange(std::vector<T>& q, Order order, gen::Gen& g) {
    auto less = [](T a, T b) { return a < b; };  // NaN stays wherever sort leaves it
    switch (order) {
        case Order::Random: break;
        case Order::Sorted: std::sort(q.begin(), q.end(), less); break;
        case Order::Descending: std::sort(q.begin(), q.end(), [&](T a, T b) { return less(b, a); }); break;
        case Order::Clustered:
            std::sort(q.begin(), q.end(), less);
            for (std::size_t k = 0; k + 1 < q.size(); k += 2)
                if (g.coin()) std::swap(q[k], q[k + 1]);
            break;
    }
}

template <class F>
std::vector<F> increasing_values(std::size_t n, gen::Gen& g) {
    std::vector<F> v(n);
    if constexpr (std::is_same_v<F, i64>) {
        i64 cur = static_cast<i64>(g.bits() % 1000) - 500 - static_cast<i64>(2 * n);
        for (F& f : v) f = cur += 1 + static_cast<i64>(g.below(g.coin() ? 3 : 1000));
    } else {
        f64 cur = -static_cast<f64>(n);
        for (F& f : v) f = cur += 0.25 * static_cast<f64>(1 + g.below(g.coin() ? 2 : 40));
    }
    return v;
}

// One pass on the caller's thread, or chunks of a few hundred elements on
// three threads: every chunk boundary a place where the first failure may be.
enum class Pass { One, Threads };

template <class F>
void check_tables(u64 salt, bool inverse, Pass pass) {
    gen::Gen g(salt);
    const std::size_t sizes[] = {1, 2, 3, 7, 64, 1000, 20'000, 40'000};
    u64 compared = 0;
    for (int round = 0; round < 60; ++round) {
        const std::size_t n = sizes[g.below(std::size(sizes))];
        std::vector<u64> xp(n);
        u64 cur = g.coin() ? 0 : (u64{1} << 63) - 3 * n;
        const u64 wide = g.below(4) == 0 ? 1 + g.below(u64{1} << 20) : 0;  // long runs of sorted keys in a segment
        for (u64& x : xp) x = cur += 1 + (wide ? g.below(wide) : g.below(g.coin() ? 2 : 5));
        std::vector<F> fp = increasing_values<F>(n, g);
        if (g.below(8) == 0 && n >= 2) std::swap(fp[0], fp[1]);  // not increasing
        if (g.below(8) == 0 && n >= 2) xp[1] = xp[0];
        if constexpr (std::is_same_v<F, f64>) {
            if (n == 1 && g.coin()) fp[0] = NAN;
            if (n >= 2 && g.below(8) == 0) fp[g.below(n)] = g.coin() ? INFINITY : -INFINITY;  // fatal segments
        }
        const rust::piecewise::Interp<u64, F> table(xp, fp);
        const std::size_t m = 1 + g.below(3000);
        const rust::parallel::Split split = pass == Pass::One
                                                ? rust::parallel::Split{}
                                                : rust::parallel::Split{3, static_cast<std::size_t>(1 + g.below(400))};
        for (Order order : {Order::Random, Order::Sorted, Order::Descending, Order::Clustered}) {
            for (InverseMethod method :
                 {InverseMethod::Exact, InverseMethod::Nearest, InverseMethod::Ffill, InverseMethod::Bfill}) {
                if (!inverse && method != InverseMethod::Exact) continue;
                std::string fatal_plain, fatal_fast;
                std::optional<Failure> a, b;
                if (!inverse) {
                    std::vector<u64> q(m);
                    for (u64& x : q) {  // knots, and anywhere from just below to just above the table
                        if (n == 0)
                            x = g.bits();
                        else
                            x = g.below(4) == 0 ? xp[g.below(n)] : xp[0] - 2 + g.below(xp[n - 1] - xp[0] + 4);
                    }
                    arrange(q, order, g);
                    std::vector<F> out_plain(m), out_fast(m);
                    a = plain<decltype(table)>(q, out_plain, fatal_plain, [&](u64 x) { return table.forward(x); });
                    try {
                        b = pass == Pass::One ? table.forward_all(view(q), out_fast.data())
                                              : rust::parallel::forward_all(table, view(q), out_fast.data(), split);
                    } catch (const rust::Panic& p) {
                        fatal_fast = p.what();
                    }
                    if (fatal_plain.empty()) {
                        const std::size_t done = a ? a->index : m;
                        ASSERT_EQ(std::memcmp(out_plain.data(), out_fast.data(), done * sizeof(F)), 0) << "n " << n;
                    }
                } else {
                    std::vector<F> q(m);
                    for (F& f : q) {
                        if constexpr (std::is_same_v<F, i64>) {
                            f = n ? fp[g.below(n)] + static_cast<i64>(g.below(5)) - 2 : static_cast<i64>(g.bits());
                        } else {
                            f = n ? fp[g.below(n)] + 0.125 * static_cast<f64>(static_cast<int>(g.below(9)) - 4) : 0.5;
                            if (g.below(2000) == 0) f = NAN;
                            if (g.below(2000) == 0) f = g.coin() ? HUGE_VAL : -HUGE_VAL;
                        }
                    }
                    arrange(q, order, g);
                    std::vector<u64> out_plain(m), out_fast(m);
                    a = plain<decltype(table)>(q, out_plain, fatal_plain,
                                               [&](F f) { return table.inverse(f, method); });
                    try {
                        b = pass == Pass::One
                                ? table.inverse_all(view(q), method, out_fast.data())
                                : rust::parallel::inverse_all(table, view(q), method, out_fast.data(), split);
                    } catch (const rust::Panic& p) {
                        fatal_fast = p.what();
                    }
                    if (fatal_plain.empty()) {
                        const std::size_t done = a ? a->index : m;
                        ASSERT_EQ(std::memcmp(out_plain.data(), out_fast.data(), done * sizeof(u64)), 0) << "n " << n;
                    }
                }
                ASSERT_EQ(fatal_plain, fatal_fast) << "n " << n;
                ASSERT_EQ(a.has_value(), b.has_value()) << "n " << n;
                if (a) {
                    ASSERT_EQ(a->index, b->index);
                    ASSERT_EQ(a->error, b->error);
                }
                compared += m;
            }
        }
    }
    std::printf("%llu elements compared (seed %llu)\n", static_cast<unsigned long long>(compared),
                static_cast<unsigned long long>(gen::seed()));
}

// Each pass on every kernel target the processor runs.
class WholeArrayPasses : public ::testing::TestWithParam<std::tuple<Pass, rust::kernels::Target>> {
protected:
    void SetUp() override { rust::kernels::force(std::get<1>(GetParam())); }
    void TearDown() override { rust::kernels::choose_automatically(); }
    Pass pass() const { return std::get<0>(GetParam()); }
};

TEST_P(WholeArrayPasses, IntegerForwardMatchesPlainSearch) { check_tables<i64>(700, false, pass()); }
TEST_P(WholeArrayPasses, FloatForwardMatchesPlainSearch) { check_tables<f64>(701, false, pass()); }
TEST_P(WholeArrayPasses, IntegerInverseMatchesPlainSearch) { check_tables<i64>(702, true, pass()); }
TEST_P(WholeArrayPasses, FloatInverseMatchesPlainSearch) { check_tables<f64>(703, true, pass()); }
INSTANTIATE_TEST_SUITE_P(Passes, WholeArrayPasses,
                         ::testing::Combine(::testing::Values(Pass::One, Pass::Threads),
                                            ::testing::ValuesIn(kernel_targets::supported())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Pass::One ? "OnePass_" : "Threads_") +
                                    rust::kernels::name(std::get<1>(info.param));
                         });

// What each chunk of a split run does, and which outcome must win: the
// lowest chunk with a failure or an exception, whatever the others do and
// whenever they finish.
TEST(SplitRun, TheLowestFailingChunkWins) {
    enum Does { Ok, Fails, Panics, RunsOutOfMemory };
    struct Case {
        std::vector<Does> chunks;
        std::size_t threads;
    };
    const Case cases[] = {
        {{Ok, Ok, Ok, Ok}, 2},
        {{Ok, Fails, Panics, Fails}, 2},
        {{Ok, Panics, Fails, RunsOutOfMemory}, 3},
        {{RunsOutOfMemory, Panics, Fails}, 3},
        {{Ok, Ok, Ok, Ok, Ok, Ok, Ok, Fails}, 4},
        {{Fails, Ok, Ok, Ok, Ok, Ok, Ok, Panics}, 8},
        {{Ok, Ok, Ok, Fails}, 64},  // more threads than chunks
    };
    constexpr std::size_t chunk = 10;
    for (const Case& c : cases) {
        const std::size_t length = c.chunks.size() * chunk - 3;  // a short last chunk
        std::vector<int> done(length, 0);
        std::string outcome;
        try {
            const auto f = rust::parallel::run(length, {c.threads, chunk}, [&](std::size_t begin, std::size_t end) {
                std::this_thread::sleep_for(std::chrono::microseconds(100 * (c.chunks.size() - begin / chunk)));
                for (std::size_t i = begin; i < end; ++i) ++done[i];
                switch (c.chunks[begin / chunk]) {
                    case Ok: return std::optional<Failure>{};
                    case Fails:
                        return std::optional<Failure>{Failure{begin + 1, rust::piecewise::InterpError::NotFound}};
                    case Panics: rust::panic("chunk panics");
                    case RunsOutOfMemory: throw std::bad_alloc();
                }
                return std::optional<Failure>{};
            });
            outcome = f ? "failure at " + std::to_string(f->index) : "ok";
        } catch (const rust::Panic& p) {
            outcome = p.what();
        } catch (const std::bad_alloc&) {
            outcome = "bad_alloc";
        }
        std::string expected = "ok";
        std::size_t first = c.chunks.size();
        for (std::size_t k = 0; k < c.chunks.size() && first == c.chunks.size(); ++k) {
            if (c.chunks[k] == Ok) continue;
            first = k;
            expected = c.chunks[k] == Fails    ? "failure at " + std::to_string(k * chunk + 1)
                       : c.chunks[k] == Panics ? "chunk panics"
                                               : "bad_alloc";
        }
        EXPECT_EQ(outcome, expected);
        // every element below the winning chunk evaluated exactly once, none twice
        for (std::size_t i = 0; i < length; ++i) {
            ASSERT_LE(done[i], 1) << i;
            if (i < first * chunk) {
                ASSERT_EQ(done[i], 1) << i;
            }
        }
    }
}

TEST(SplitRun, ThreadsOnlyWhereTheyPay) {
    using rust::parallel::kGrain;
    using rust::parallel::split_for;
    EXPECT_EQ(split_for(0, 0).threads, 1u);
    EXPECT_EQ(split_for(2 * kGrain - 1, 8).threads, 1u);
    EXPECT_EQ(split_for(2 * kGrain - 1, 8).chunk, 2 * kGrain - 1);
    EXPECT_EQ(split_for(10 * kGrain, 1).threads, 1u);
    EXPECT_EQ(split_for(10 * kGrain, 3).threads, 3u);
    EXPECT_EQ(split_for(3 * kGrain, 8).threads, 3u);
    EXPECT_LE(split_for(10 * kGrain, 0).threads, rust::parallel::available_cores());
    // a bound far beyond the cores: a few threads a core, not one per kGrain elements
    EXPECT_EQ(split_for(1'000'000 * kGrain, 1'000'000'000).threads,
              rust::parallel::kThreadsPerCore * rust::parallel::available_cores());
    EXPECT_GE(rust::parallel::available_cores(), 1u);
    for (std::size_t length : {2 * kGrain, 10 * kGrain + 7, std::size_t{1} << 30}) {
        const auto s = split_for(length, 4);
        EXPECT_GE(s.chunk * 16 * s.threads, length);  // about sixteen chunks per thread
        EXPECT_GE(s.chunk, kGrain / 4);
    }
}

TEST(WholeArrayFastPaths, PrefetchingSearchMakesTheSameProbes) {
    gen::Gen g(704);
    std::vector<u64> a(50'000);
    u64 cur = 0;
    for (u64& x : a) x = cur += 1 + g.below(3);
    for (int i = 0; i < 200'000; ++i) {
        const u64 key = g.below(cur + 3);
        const std::size_t n = 1 + g.below(a.size());
        const auto s = rust::piecewise::search(a.data(), n, key),
                   t = rust::piecewise::search_prefetch(a.data(), n, key);
        ASSERT_EQ(s.index, t.index);
        ASSERT_EQ(s.hit, t.hit);
    }
}

}  // namespace
