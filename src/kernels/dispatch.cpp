// The kernel targets this build holds, which of them the processor runs, and
// the target chosen for each kernel: the one with the most lanes that runs
// and pays, unless a test forced one.
#include "kernels/dispatch.hpp"

#include <array>
#include <atomic>
#include <iterator>

#if RUST_KERNELS_X86
RUST_KERNEL_DECLARE(avx2)
RUST_KERNEL_DECLARE(avx512)
#endif
#if RUST_KERNELS_NEON
RUST_KERNEL_DECLARE(neon)
#endif

namespace rust::kernels {

namespace {

// The targets this build holds, with their entry points.
struct Compiled {
    Target target;
    const Table* table;
};
constexpr Compiled kCompiled[] = {
    {Target::Scalar, nullptr},
#if RUST_KERNELS_X86
    {Target::Avx2, &avx2::table},
    {Target::Avx512, &avx512::table},
#endif
#if RUST_KERNELS_NEON
    {Target::Neon, &neon::table},
#endif
};
constexpr auto kCompiledTargets = [] {
    std::array<Target, std::size(kCompiled)> targets{};
    for (std::size_t k = 0; k < targets.size(); ++k) targets[k] = kCompiled[k].target;
    return targets;
}();

bool processor_runs(Target target) {
    switch (target) {
        case Target::Scalar: return true;
#if RUST_KERNELS_X86
        case Target::Avx2: __builtin_cpu_init(); return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case Target::Avx512:
            __builtin_cpu_init();  // idempotent; the detection may not have run yet
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512cd") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl");
#endif
#if RUST_KERNELS_NEON
        case Target::Neon: return true;  // part of every aarch64 processor
#endif
        default: return false;
    }
}

// Where a target's vector kernels pay against the scalar ones (core_bench
// times each kernel per target): every x86-64 kernel does. NEON is proven
// under emulation, not timed on a processor: unused.
constexpr bool pays(Target target, [[maybe_unused]] Kernel kernel) {
    return target == Target::Avx2 || target == Target::Avx512;
}

// The target of each kernel: chosen once, unless a test forced one for all.
struct Choice {
    std::atomic<Target> kernel[kKernels];
    Choice();
};

void choose_automatically(Choice& c) {
    for (int k = 0; k < kKernels; ++k) {
        Target chosen = Target::Scalar;
        for (const Compiled& t : kCompiled)
            if (processor_runs(t.target) && pays(t.target, static_cast<Kernel>(k)) && lanes(t.target) > lanes(chosen))
                chosen = t.target;
        c.kernel[k].store(chosen, std::memory_order_relaxed);
    }
}

Choice::Choice() { choose_automatically(*this); }

Choice& current() {
    static Choice choice;
    return choice;
}

// The shortest run worth a vector: half its lanes (a padded vector then
// costs about what the scalar kernels would), and never a single key.
constexpr std::size_t shortest_run(Target target) {
    if (target == Target::Scalar) return ~std::size_t{0};
    const int half = lanes(target) / 2;
    return half < 2 ? 2 : static_cast<std::size_t>(half);
}

}  // namespace

const char* name(Target target) {
    switch (target) {
#define RUST_KERNEL_TARGET_NAME(target, text, lanes) \
    case Target::target: return text;
        RUST_KERNEL_TARGETS(RUST_KERNEL_TARGET_NAME)
#undef RUST_KERNEL_TARGET_NAME
    }
    return "unknown";
}

int lanes(Target target) {
    switch (target) {
#define RUST_KERNEL_TARGET_LANES(target, text, lanes) \
    case Target::target: return lanes;
        RUST_KERNEL_TARGETS(RUST_KERNEL_TARGET_LANES)
#undef RUST_KERNEL_TARGET_LANES
    }
    return 1;
}

std::span<const Target> compiled() { return kCompiledTargets; }

bool supported(Target target) {
    for (const Compiled& t : kCompiled)
        if (t.target == target) return processor_runs(target);
    return false;
}

Target active() {
    Target widest = Target::Scalar;
    for (const std::atomic<Target>& k : current().kernel) {
        const Target t = k.load(std::memory_order_relaxed);
        if (lanes(t) > lanes(widest)) widest = t;
    }
    return widest;
}

Target active(bool float_values, bool inverse) {
    const Kernel k = float_values ? (inverse ? Kernel::InverseFloat : Kernel::ForwardFloat)
                                  : (inverse ? Kernel::InverseInt : Kernel::ForwardInt);
    return current().kernel[static_cast<int>(k)].load(std::memory_order_relaxed);
}

void force(Target target) {
    if (!supported(target)) panic("kernel target not supported by this build and processor");
    for (std::atomic<Target>& k : current().kernel) k.store(target, std::memory_order_relaxed);
}

void choose_automatically() { choose_automatically(current()); }

const Table* vector_kernels(Kernel kernel, std::size_t count) {
    const Target target = current().kernel[static_cast<int>(kernel)].load(std::memory_order_relaxed);
    if (count < shortest_run(target)) return nullptr;
    for (const Compiled& t : kCompiled)
        if (t.target == target) return t.table;
    return nullptr;
}

}  // namespace rust::kernels
