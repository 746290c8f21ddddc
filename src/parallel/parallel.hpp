// One whole-array evaluation split across threads: the query in consecutive
// chunks, each evaluated in order by whichever thread takes it next, with the
// outcome of one evaluation of the whole query in index order.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "piecewise/piecewise.hpp"

namespace rust::parallel {

using piecewise::Failure;

// The cores this process may run on: its affinity mask where the system has
// one, else what the standard library reports; at least 1.
std::size_t available_cores();

// How a query is split: at most `threads` threads (the caller's among them)
// take chunks of `chunk` elements in index order.
struct Split {
    std::size_t threads = 1;
    std::size_t chunk = 1;
};

// Elements below which another thread does not pay for its start (a thread
// costs tens of microseconds; an element a few nanoseconds).
inline constexpr std::size_t kGrain = std::size_t{1} << 15;

// The split of a query of `length` elements over at most `workers` threads
// (0: the cores available, asked only when the query is long enough for
// two): one thread per kGrain elements at most, never more than
// kThreadsPerCore a core available (more only wait for one another), and
// about sixteen chunks per thread, so that a thread that finishes early takes
// over work.
inline constexpr std::size_t kThreadsPerCore = 4;
Split split_for(std::size_t length, std::size_t workers);

// evaluate(begin, end) evaluates elements [begin, end) in increasing order
// and returns the first failure among them (its index absolute), or nullopt;
// it may throw. Returns what evaluate(0, length) would: chunk by chunk, the
// failure or exception of the lowest chunk that has one, whose elements
// before it were all evaluated, exactly as one pass would stop there. Chunks
// above a known failure are skipped. Every thread is joined before it
// returns or throws; a thread that cannot be started leaves its chunks to
// the others.
// What a chunk threw, kept as a value so that the caller's thread throws it
// again: fatal errors with their message (cut to the buffer), exhausted
// memory, anything else as a fatal error with its message. (Not a
// std::exception_ptr: copying one needs a C++ runtime newer than the oldest
// the wheel supports.)
struct Thrown {
    enum class Kind : std::uint8_t { None, Panic, OutOfMemory, Other } kind = Kind::None;
    char message[200] = {};

    void keep(Kind k, const char* what) noexcept {
        kind = k;
        std::strncpy(message, what, sizeof message - 1);
    }
    [[noreturn]] void rethrow() const;
};

// evaluate(begin, end) evaluates elements [begin, end) in increasing order
// and returns the first failure among them (its index absolute), or nullopt;
// it may throw. Returns what evaluate(0, length) would: chunk by chunk, the
// failure or exception of the lowest chunk that has one, whose elements
// before it were all evaluated, exactly as one pass would stop there. Chunks
// above a known failure are skipped. Every thread is joined before it
// returns or throws; a thread that cannot be started leaves its chunks to
// the others.
template <class Evaluate>
std::optional<Failure> run(std::size_t length, Split split, Evaluate&& evaluate) {
    const std::size_t chunk = std::max<std::size_t>(split.chunk, 1);
    const std::size_t tasks = length == 0 ? 0 : 1 + (length - 1) / chunk;
    const std::size_t threads = std::min(std::max<std::size_t>(split.threads, 1), std::max<std::size_t>(tasks, 1));
    if (threads == 1) return evaluate(std::size_t{0}, length);

    struct Outcome {
        std::optional<Failure> failure;
        Thrown thrown;
    };
    std::vector<Outcome> outcomes(tasks);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> first_failed{std::numeric_limits<std::size_t>::max()};
    auto work = [&]() noexcept {
        for (;;) {
            const std::size_t t = next.fetch_add(1, std::memory_order_relaxed);
            // first_failed only decreases: a task above it is never the outcome
            if (t >= tasks || t > first_failed.load(std::memory_order_relaxed)) return;
            const std::size_t begin = t * chunk, end = std::min(length, begin + chunk);
            Outcome& o = outcomes[t];
            try {
                o.failure = evaluate(begin, end);
            } catch (const Panic& p) {
                o.thrown.keep(Thrown::Kind::Panic, p.what());
            } catch (const std::bad_alloc&) {
                o.thrown.keep(Thrown::Kind::OutOfMemory, "");
            } catch (const std::exception& e) {
                o.thrown.keep(Thrown::Kind::Other, e.what());
            } catch (...) {
                o.thrown.keep(Thrown::Kind::Other, "unknown C++ exception");
            }
            if (o.failure || o.thrown.kind != Thrown::Kind::None) {
                std::size_t seen = first_failed.load(std::memory_order_relaxed);
                while (t < seen && !first_failed.compare_exchange_weak(seen, t, std::memory_order_relaxed)) {}
            }
        }
    };
    {
        // Joined on every way out of this scope: every outcome below was
        // written before its thread ended.
        struct Joined {
            std::vector<std::thread> threads;
            ~Joined() {
                for (std::thread& t : threads) t.join();
            }
        } helpers;
        helpers.threads.reserve(threads - 1);  // may throw before any thread starts
        for (std::size_t k = 1; k < threads; ++k) {
            try {
                helpers.threads.emplace_back(work);
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the others take the chunks
            }
        }
        work();
    }
    for (const Outcome& o : outcomes) {
        if (o.thrown.kind != Thrown::Kind::None) o.thrown.rethrow();
        if (o.failure) return o.failure;
    }
    return std::nullopt;
}

// Interp::forward_all and inverse_all under a split: the same results in
// out[0 … length-1] and the same first failure, whatever the split. `rules`:
// none, or the Rules the evaluation takes.
template <class X, class F, class... Rules>
std::optional<Failure> forward_all(const piecewise::Interp<X, F>& table, piecewise::Strided<X> query, F* out,
                                   Split split, const Rules&... rules) {
    return run(query.length, split, [&](std::size_t begin, std::size_t end) {
        std::optional<Failure> f = table.forward_all(query.slice(begin, end), out + begin, rules...);
        if (f) f->index += begin;
        return f;
    });
}

template <class X, class F, class... Rules>
std::optional<Failure> inverse_all(const piecewise::Interp<X, F>& table, piecewise::Strided<F> query,
                                   InverseMethod method, X* out, Split split, const Rules&... rules) {
    return run(query.length, split, [&](std::size_t begin, std::size_t end) {
        std::optional<Failure> f = table.inverse_all(query.slice(begin, end), method, out + begin, rules...);
        if (f) f->index += begin;
        return f;
    });
}

// Interp::forward_columns under a split, column j of element i at
// out[j·length + i].
template <class X, class F>
std::optional<Failure> forward_columns(const piecewise::Interp<X, F>& table, piecewise::Strided<X> query, const F* more,
                                       std::size_t columns, F* out, Split split, const piecewise::Rules<F>& rules) {
    return run(query.length, split, [&](std::size_t begin, std::size_t end) {
        std::optional<Failure> f =
            table.forward_columns(query.slice(begin, end), more, columns, query.length, out + begin, rules);
        if (f) f->index += begin;
        return f;
    });
}

}  // namespace rust::parallel
