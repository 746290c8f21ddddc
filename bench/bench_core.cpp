// Microbenchmarks of the core: the 128-by-64 division on both paths, each F80
// operation and the seven-operation forward sequence against the same work in
// MPFR, and whole-table evaluation per element. Ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "divop/divop.hpp"
#include "kernels/kernels.hpp"
#include "mpfr_ref.hpp"
#include "piecewise/piecewise.hpp"

namespace {

using rust::f64;
using rust::i64;
using rust::u64;
using rust::extended::F80;

constexpr std::size_t kOperands = 4096;  // a power of two, cycled through

struct Wide {
    u64 hi, lo, d;
};

std::vector<Wide> wide_operands() {
    std::mt19937_64 rng(1);
    std::vector<Wide> v(kOperands);
    for (Wide& w : v) {
        w.d = rng() | (u64{1} << 63);
        w.hi = rng() % w.d;
        w.lo = rng();
    }
    return v;
}

void BM_DivWide_Hardware(benchmark::State& state) {
    const auto ops = wide_operands();
    std::size_t i = 0;
    for (auto _ : state) {
        const Wide& w = ops[i++ & (kOperands - 1)];
        benchmark::DoNotOptimize(rust::wide::div(w.hi, w.lo, w.d));
    }
}
BENCHMARK(BM_DivWide_Hardware);

void BM_DivWide_Portable(benchmark::State& state) {
    const auto ops = wide_operands();
    std::size_t i = 0;
    for (auto _ : state) {
        const Wide& w = ops[i++ & (kOperands - 1)];
        benchmark::DoNotOptimize(rust::wide::div_portable(w.hi, w.lo, w.d));
    }
}
BENCHMARK(BM_DivWide_Portable);

void BM_DivRound_Nearest(benchmark::State& state) {
    const auto ops = wide_operands();
    std::size_t i = 0;
    for (auto _ : state) {
        const Wide& w = ops[i++ & (kOperands - 1)];
        const rust::u128 n = (static_cast<rust::u128>(w.hi) << 64) | w.lo;
        benchmark::DoNotOptimize(rust::divop::div_round(n, w.d, rust::InverseMethod::Nearest));
    }
}
BENCHMARK(BM_DivRound_Nearest);

std::vector<F80> f80_operands() {
    std::mt19937_64 rng(2);
    std::vector<F80> v(kOperands);
    for (F80& x : v) x = F80::finite(rng() & 1, static_cast<std::int32_t>(rng() % 200) - 100, rng() | (u64{1} << 63));
    return v;
}

template <class Op>
void f80_binary(benchmark::State& state, Op op) {
    const auto v = f80_operands();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(op(v[i & (kOperands - 1)], v[(i + 1) & (kOperands - 1)]));
        ++i;
    }
}

template <class Op>
void mpfr_binary(benchmark::State& state, Op op) {
    ref::widen_exponent_range();
    const auto v = f80_operands();
    std::vector<ref::Mp> m(kOperands);
    for (std::size_t k = 0; k < kOperands; ++k) m[k].set(v[k]);
    ref::Mp r;
    std::size_t i = 0;
    for (auto _ : state) {
        op(r.get(), m[i & (kOperands - 1)].get(), m[(i + 1) & (kOperands - 1)].get(), MPFR_RNDN);
        benchmark::DoNotOptimize(r.get());
        ++i;
    }
}

void BM_F80_Add(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80 b) { return a + b; });
}
void BM_F80_Sub(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80 b) { return a - b; });
}
void BM_F80_Mul(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80 b) { return a * b; });
}
void BM_F80_Div(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80 b) { return a / b; });
}
void BM_MPFR_Add(benchmark::State& s) { mpfr_binary(s, mpfr_add); }
void BM_MPFR_Sub(benchmark::State& s) { mpfr_binary(s, mpfr_sub); }
void BM_MPFR_Mul(benchmark::State& s) { mpfr_binary(s, mpfr_mul); }
void BM_MPFR_Div(benchmark::State& s) { mpfr_binary(s, mpfr_div); }
BENCHMARK(BM_F80_Add);
BENCHMARK(BM_MPFR_Add);
BENCHMARK(BM_F80_Sub);
BENCHMARK(BM_MPFR_Sub);
BENCHMARK(BM_F80_Mul);
BENCHMARK(BM_MPFR_Mul);
BENCHMARK(BM_F80_Div);
BENCHMARK(BM_MPFR_Div);

void BM_F80_Floor(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80) { return a.floor(); });
}
void BM_F80_Ceil(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80) { return a.ceil(); });
}
void BM_F80_Round(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80) { return a.round(); });
}
void BM_F80_ToF64(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80) { return a.to_f64(); });
}
void BM_F80_ToU64(benchmark::State& s) {
    f80_binary(s, [](F80 a, F80) { return a.to_u64(); });
}
void BM_MPFR_Floor(benchmark::State& s) {
    mpfr_binary(s, [](mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr, mpfr_rnd_t) { return mpfr_floor(r, a); });
}
void BM_MPFR_Ceil(benchmark::State& s) {
    mpfr_binary(s, [](mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr, mpfr_rnd_t) { return mpfr_ceil(r, a); });
}
void BM_MPFR_Round(benchmark::State& s) {
    mpfr_binary(s, [](mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr, mpfr_rnd_t m) { return mpfr_rint(r, a, m); });
}
BENCHMARK(BM_F80_Floor);
BENCHMARK(BM_MPFR_Floor);
BENCHMARK(BM_F80_Ceil);
BENCHMARK(BM_MPFR_Ceil);
BENCHMARK(BM_F80_Round);
BENCHMARK(BM_MPFR_Round);
BENCHMARK(BM_F80_ToF64);
BENCHMARK(BM_F80_ToU64);

// The forward sequence of the float scheme: a = X1 - X; F0·a; b = X - X0;
// F1·b; sum; d = X1 - X0; quotient; conversion to f64.
struct Segment {
    u64 x0, x, x1;
    f64 f0, f1;
};

std::vector<Segment> segments() {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<f64> value(-1e6, 1e6);
    std::vector<Segment> v(kOperands);
    for (Segment& s : v) {
        s.x0 = rng() >> 2;
        s.x1 = s.x0 + 2 + (rng() >> 4);
        s.x = s.x0 + 1 + rng() % (s.x1 - s.x0 - 1);
        s.f0 = value(rng);
        s.f1 = value(rng);
    }
    return v;
}

void BM_Sequence_F80(benchmark::State& state) {
    const auto v = segments();
    std::size_t i = 0;
    for (auto _ : state) {
        const Segment& s = v[i++ & (kOperands - 1)];
        benchmark::DoNotOptimize(rust::schemes::Forward<u64, f64>::forward(s.x, s.x0, s.f0, s.x1, s.f1));
    }
}
BENCHMARK(BM_Sequence_F80);

void BM_Sequence_MPFR(benchmark::State& state) {
    ref::widen_exponent_range();
    const auto v = segments();
    ref::Scheme scheme;  // the same seven operations and conversions in MPFR
    std::size_t i = 0;
    for (auto _ : state) {
        const Segment& s = v[i++ & (kOperands - 1)];
        benchmark::DoNotOptimize(scheme.forward(s.x, s.x0, s.f0, s.x1, s.f1));
    }
}
BENCHMARK(BM_Sequence_MPFR);

// Whole-table evaluation: random queries inside a table of n knots.
template <class F>
std::vector<F> values(std::size_t n) {
    std::vector<F> fp(n);
    for (std::size_t k = 0; k < n; ++k) fp[k] = static_cast<F>(k) * 1000 - static_cast<F>(n) * 500 + 1;
    return fp;
}

std::vector<u64> positions(std::size_t n) {
    std::vector<u64> xp(n);
    for (std::size_t k = 0; k < n; ++k) xp[k] = (u64{1} << 60) + k * 1'000'003;
    return xp;
}

// The kernel target of a run (third argument), named in its label.
void use_target(benchmark::State& state) {
    const auto target = static_cast<rust::kernels::Target>(state.range(2));
    rust::kernels::force(target);
    state.SetLabel(rust::kernels::name(target));
}

// The shares of keys that the fast paths of rounding once, scalar and
// vector, left to the exact path since `before` (as "exact_share").
struct OnceCounts {
    rust::schemes::rounded::Counts scheme = rust::schemes::rounded::counts();
    rust::kernels::FastPathCounts vector = rust::kernels::fast_path_counts();
    double exact_share() const {
        const OnceCounts now;
        const double keys =
            static_cast<double>(now.scheme.keys - scheme.keys + now.vector.rounded_keys - vector.rounded_keys);
        const double exact =
            static_cast<double>(now.scheme.exact - scheme.exact + now.vector.rounded_exact - vector.rounded_exact);
        return keys > 0 ? exact / keys : 0.0;
    }
};

// Float tables round by the chain or once (the front end's), as R says.
template <class F, rust::piecewise::Rounding R = rust::piecewise::Rounding::Chain>
rust::piecewise::Interp<u64, F> bench_table(std::size_t n) {
    std::vector<F> fp = values<F>(n);
    if constexpr (std::is_same_v<F, f64>)
        for (f64& v : fp) v /= 7;  // values with fractions
    const std::vector<u64> xp = positions(n);
    return {rust::piecewise::Knots<u64>(xp.begin(), xp.end()), rust::piecewise::Knots<F>(fp.begin(), fp.end()), R};
}

template <class F, rust::piecewise::Rounding R = rust::piecewise::Rounding::Chain>
void BM_Forward(benchmark::State& state) {
    use_target(state);
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const rust::piecewise::Interp<u64, F> t = bench_table<F, R>(n);
    const OnceCounts once;
    std::mt19937_64 rng(4);
    std::vector<u64> q(1 << 16);
    for (u64& x : q) x = t.xp().front() + rng() % (t.xp().back() - t.xp().front());
    if (state.range(1)) std::sort(q.begin(), q.end());
    std::vector<F> out(q.size());
    const rust::piecewise::Strided<u64> view{reinterpret_cast<const unsigned char*>(q.data()), 8, q.size()};
    const rust::kernels::FastPathCounts before = rust::kernels::fast_path_counts();
    for (auto _ : state) benchmark::DoNotOptimize(t.forward_all(view, out.data()));
    if constexpr (R == rust::piecewise::Rounding::Once) {
        state.counters["exact_share"] = once.exact_share();
    } else if constexpr (std::is_same_v<F, f64>) {  // the share of run keys the float fast path handed to the F80 lanes
        const rust::kernels::FastPathCounts after = rust::kernels::fast_path_counts();
        const double keys = static_cast<double>(after.keys - before.keys);
        state.counters["handed_on"] = keys > 0 ? static_cast<double>(after.exact - before.exact) / keys : 0.0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * q.size()));
    state.counters["ns_per_element"] = benchmark::Counter(static_cast<double>(state.iterations() * q.size()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class F, rust::piecewise::Rounding R = rust::piecewise::Rounding::Chain>
void BM_Inverse(benchmark::State& state) {
    use_target(state);
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const rust::piecewise::Interp<u64, F> t = bench_table<F, R>(n);
    const OnceCounts once;
    std::mt19937_64 rng(5);
    std::vector<F> q(1 << 16);
    const double lo = static_cast<double>(t.fp().front()), span = static_cast<double>(t.fp().back()) - lo;
    for (F& f : q) f = static_cast<F>(lo + span * static_cast<double>(rng() >> 11) / 9007199254740992.0);
    if (state.range(1)) std::sort(q.begin(), q.end());
    std::vector<u64> out(q.size());
    const rust::piecewise::Strided<F> view{reinterpret_cast<const unsigned char*>(q.data()), 8, q.size()};
    for (auto _ : state) benchmark::DoNotOptimize(t.inverse_all(view, rust::InverseMethod::Nearest, out.data()));
    if constexpr (R == rust::piecewise::Rounding::Once) state.counters["exact_share"] = once.exact_share();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * q.size()));
    state.counters["ns_per_element"] = benchmark::Counter(static_cast<double>(state.iterations() * q.size()),
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Every kernel target the processor runs.
std::vector<std::int64_t> targets() {
    std::vector<std::int64_t> v;
    for (const rust::kernels::Target t : rust::kernels::compiled())
        if (rust::kernels::supported(t)) v.push_back(static_cast<std::int64_t>(t));
    return v;
}

// Arguments: knots, whether the queries are sorted, the kernel target. Two
// knots with sorted or random queries: one segment, every key in a run of 64
// (the kernels alone, per target, ns per element).
#define TABLE_SIZES ->ArgsProduct({{2, 16, 1000, 1'000'000}, {0, 1}, targets()})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Forward<i64>) TABLE_SIZES;
BENCHMARK(BM_Inverse<i64>) TABLE_SIZES;
BENCHMARK(BM_Forward<f64>) TABLE_SIZES;
BENCHMARK(BM_Inverse<f64>) TABLE_SIZES;
BENCHMARK(BM_Forward<f64, rust::piecewise::Rounding::Once>) TABLE_SIZES;
BENCHMARK(BM_Inverse<f64, rust::piecewise::Rounding::Once>) TABLE_SIZES;

// Keeps each run's time per iteration so the ratios can be printed after.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratios() const {
        std::printf("\nRatios (slower / faster, same run):\n");
        ratio("BM_DivWide_Portable", "BM_DivWide_Hardware", "divq speed-up over the portable 128-bit division");
        for (const char* op : {"Add", "Sub", "Mul", "Div", "Floor", "Ceil", "Round"})
            ratio(std::string("BM_MPFR_") + op, std::string("BM_F80_") + op, std::string("MPFR / F80, ") + op);
        ratio("BM_Sequence_MPFR", "BM_Sequence_F80", "MPFR / F80, the seven-operation forward sequence (goal >= 20)");
    }

private:
    void ratio(const std::string& slow, const std::string& fast, const std::string& label) const {
        const auto s = times_.find(slow), f = times_.find(fast);
        if (s != times_.end() && f != times_.end() && f->second > 0)
            std::printf("  %-70s %6.1fx\n", label.c_str(), s->second / f->second);
    }
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
