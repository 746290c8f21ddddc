#include "parallel/parallel.hpp"

#if !defined(RUST_PORTABLE) && defined(__linux__)
#include <sched.h>
#define RUST_HAVE_AFFINITY 1
#else
#define RUST_HAVE_AFFINITY 0
#endif

namespace rust::parallel {

std::size_t available_cores() {
#if RUST_HAVE_AFFINITY
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<std::size_t>(n);
    }
#endif
    return std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
}

void Thrown::rethrow() const {
    switch (kind) {
        case Kind::Panic: throw Panic(message);
        case Kind::OutOfMemory: throw std::bad_alloc();
        case Kind::None:
        case Kind::Other: break;
    }
    throw std::runtime_error(message);
}

Split split_for(std::size_t length, std::size_t workers) {
    const std::size_t most = length / kGrain;  // threads that pay
    if (most < 2) return {1, std::max<std::size_t>(length, 1)};
    const std::size_t cores = available_cores();
    const std::size_t threads = std::min({most, workers == 0 ? cores : workers, kThreadsPerCore * cores});
    if (threads == 1) return {1, std::max<std::size_t>(length, 1)};
    const std::size_t pieces = 16 * threads;
    return {threads, std::max(kGrain / 4, (length + pieces - 1) / pieces)};
}

}  // namespace rust::parallel
