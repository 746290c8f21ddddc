// The whole-array loop every evaluation shares (forward in one or more value
// columns, inverse, with or without rules outside the table): it reads the
// query a block at a time, finds each key's place on the searched axis and
// hands the keys to a policy in runs, one per place:
//   inside segment i   policy.inside(keys, count, i, at): keys strictly
//                      inside segment i (knots i-1 and i), in order;
//                      returns how many were answered before the first that
//                      was not (NotFound, the only failure inside a segment)
//   on a knot          policy.knot(k, at): the key equal to knot k
//   beyond an end      policy.beyond(keys, count, right, at): keys beyond one
//                      end (right: above the last knot); returns a Stopped
//   missing            a NaN key
// `at` is the index of the run's first element in the query (and the output).
// Whether an element without an answer (a NaN key, or a failure of a run) is
// filled or ends the loop is decided here, once: policy.fill(at) fills the
// element where the rules give a fill (NaN keys and NotFound alone), else a
// NaN key is fatal ("nan or inf encountered", as any search of it would be)
// and a failure ends the loop, which reports it. Elements go in increasing
// order; nothing after the failure is evaluated. Keys that follow one
// another in one place (sorted queries) make one run; keys searched in
// lockstep come one by one. The policy answers every key it is handed
// before the loop returns (policy.finish()), whatever it returns.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <optional>
#include <type_traits>

#include "base/platform.hpp"
#include "piecewise/piecewise.hpp"
#include "piecewise/search.hpp"

namespace rust::piecewise {

template <class P, class K>
concept Policy = requires(P p, const K* keys, std::size_t count, std::size_t index, bool right) {
    { p.inside(keys, count, index, index) } -> std::same_as<std::size_t>;
    p.knot(index, index);
    { p.beyond(keys, count, right, index) } -> std::same_as<Stopped>;
    { p.fill(index) } -> std::same_as<bool>;
    p.finish();
};

// Keys read from the query at a time: runs of sorted keys in one segment
// reach kBlock; keys searched in lockstep come kBatchBlock at a time (a
// longer block only costs them cache).
constexpr std::size_t kBlock = 256;
constexpr std::size_t kBatchBlock = 64;

template <class T>
bool is_nan(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return v != v;
    else
        return false;
}

// The query's keys against `axis` (strictly increasing where `increasing`),
// `other` the knots of the other axis (fetched early for large tables), all
// handed to `policy`. Returns the failure that ended the loop, if any.
template <class K, class O, Policy<K> P>
std::optional<Failure> evaluate(const Knots<K>& axis, const O* other, bool increasing, Strided<K> query, P& policy) {
    const std::size_t n = axis.size();
    if (query.length == 0) return std::nullopt;
    if (!increasing) return Failure{0, InterpError::NotStrictlyIncreasing};
    if (n == 0) return Failure{0, InterpError::OutOfBounds};
    std::optional<Failure> failure;
    // The run of `count` elements at `at`, `answered` of them before one
    // without an answer for `error`: how many elements the loop moves on
    // (the run; or up to the unanswered one, filled), 0 where the loop ends.
    const auto moved = [&](std::size_t count, std::size_t answered, InterpError error, std::size_t at) {
        if (answered == count) [[likely]]
            return count;
        const std::size_t i = at + answered;
        if (error == InterpError::NotFound && policy.fill(i)) return answered + 1;
        failure = Failure{i, error};
        return std::size_t{0};
    };
    const auto missing = [&](std::size_t at) {
        if (!policy.fill(at)) panic("nan or inf encountered");
    };
    // A single knot (which may itself be NaN: search() applies the rule to
    // every key), or a single key (a one-element call, which the search from
    // the previous key and the blocks cannot speed up): key by key.
    if (n == 1 || query.length == 1) {
        for (std::size_t at = 0; at < query.length; ++at) {
            const K key = query[at];
            if (is_nan(key)) [[unlikely]] {
                missing(at);
                continue;
            }
            const SearchResult s = search(axis.data(), n, key);
            std::size_t step;
            if (s.hit) {
                policy.knot(s.index, at);
                continue;
            }
            if (s.index != 0 && s.index != n) {
                step = moved(1, policy.inside(&key, 1, s.index, at), InterpError::NotFound, at);
            } else {
                const Stopped stop = policy.beyond(&key, 1, s.index == n, at);
                step = moved(1, stop.answered, stop.error, at);
            }
            if (step == 0) break;
        }
        policy.finish();
        return failure;
    }
    Locator<K> locate(axis.data(), n);
    for (std::size_t start = 0, count = 0; start < query.length; start += count) {
        const bool batched = locate.batch_next();
        count = std::min(batched ? kBatchBlock : kBlock, query.length - start);
        K keys[kBlock];
        if (query.stride == static_cast<std::ptrdiff_t>(sizeof(K)))  // contiguous: one block copy
            std::memcpy(keys, query.start + static_cast<std::ptrdiff_t>(start * sizeof(K)), count * sizeof(K));
        else
            for (std::size_t k = 0; k < count; ++k) keys[k] = query[start + k];
        SearchResult found[kBatchBlock];
        if (batched) {
            for (std::size_t b = 0; b < count; b += kBatch)
                locate.batch(keys + b, std::min(kBatch, count - b), found + b);
            // Large tables: the other axis's knots of every key's segment are
            // fetched together, not one cache miss after another.
            if (n >= kPrefetchKnots)
                for (std::size_t k = 0; k < count; ++k)
                    if (const std::size_t i = found[k].index; i != 0 && i < n) {
                        platform::prefetch(other + i - 1);
                        platform::prefetch(other + i);
                    }
        }
        for (std::size_t k = 0; k < count;) {
            const std::size_t at = start + k;
            if (is_nan(keys[k])) [[unlikely]] {
                missing(at);
                ++k;
                continue;
            }
            const SearchResult s = batched ? found[k] : locate(keys[k]);
            if (s.hit) {
                policy.knot(s.index, at);
                ++k;
                continue;
            }
            // The run: the keys after this one in the same place, where they
            // came in order (a NaN key is in no place, so it ends a run).
            std::size_t end = k + 1, step;
            if (s.index != 0 && s.index != n) [[likely]] {
                if (!batched)
                    for (const K lo = axis[s.index - 1], hi = axis[s.index];
                         end < count && lo < keys[end] && keys[end] < hi;)
                        ++end;
                const std::size_t answered = policy.inside(keys + k, end - k, s.index, at);
                step = moved(end - k, answered, InterpError::NotFound, at);
            } else {
                const bool right = s.index == n;
                if (!batched && right)
                    for (const K hi = axis[n - 1]; end < count && hi < keys[end];) ++end;
                else if (!batched)
                    for (const K lo = axis[0]; end < count && keys[end] < lo;) ++end;
                const Stopped stop = policy.beyond(keys + k, end - k, right, at);
                step = moved(end - k, stop.answered, stop.error, at);
            }
            if (step == 0) {
                policy.finish();
                return failure;
            }
            k += step;
        }
    }
    policy.finish();
    return std::nullopt;
}

}  // namespace rust::piecewise
