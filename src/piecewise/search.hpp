// The segment search over one axis of knots a[0 … n-1] (xp or fp).
//
// Contract: the axis is strictly increasing and holds n >= 1 knots (n >= 2
// for the searches that start from a hint, whose hint is an insertion index
// in [1, n-1]). For such an axis and an ordered key every search here gives
// the one answer search() defines:
//   - a hit: the unique k with a[k] == key;
//   - else the insertion index i, the number of knots below the key: 0 below
//     a[0], n above a[n-1], else a[i-1] < key < a[i].
// search() alone takes a NaN (a key or a single knot): an unordered pair is
// fatal, "nan or inf encountered". The others are for keys the caller knows
// ordered. The preconditions are asserted in the test builds.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <optional>

#include "base/base.hpp"
#include "base/platform.hpp"

namespace rust::piecewise {

// Comparisons of a search key with a probed knot, in the element type's
// natural order. For doubles an unordered pair (a NaN on either side) is
// fatal: "nan or inf encountered".
template <class T>
struct Order {
    static bool greater(T probe, T key) { return probe > key; }
    static bool equal(T probe, T key) { return probe == key; }
};

template <>
struct Order<f64> {
    static bool greater(f64 probe, f64 key) {
        check(probe, key);
        return probe > key;
    }
    static bool equal(f64 probe, f64 key) {
        check(probe, key);
        return probe == key;
    }
    static void check(f64 probe, f64 key) {
        if (std::isunordered(probe, key)) [[unlikely]]
            panic("nan or inf encountered");
    }
};

struct SearchResult {
    std::size_t index;  // the knot hit, or the insertion index
    bool hit;
};

// The bisection every segment search shares: over a[0 … n-1], n >= 1,
// ceil(log2 n) probes with a conditional select and no early exit (each
// step below: the window [base, base + size) halves), then one final
// comparison. Order decides the comparisons (with or without the NaN check).
// On a strictly increasing axis an exact hit is the unique k with a[k] = key;
// otherwise the insertion index i counts the knots below key: 0 when key is
// below a[0], n when above a[n-1], else a[i-1] < key < a[i].
template <class Order, class T>
std::size_t bisect_step(const T* a, std::size_t base, std::size_t half, T key) {
    return Order::greater(a[base + half], key) ? base : base + half;
}
template <class Order, class T>
SearchResult settle(const T* a, std::size_t base, T key) {
    if (Order::equal(a[base], key)) return {base, true};
    return {base + (a[base] < key ? 1 : 0), false};
}

// Comparisons without the NaN check, for callers that guarantee an ordered
// key and a strictly increasing axis.
template <class T>
struct Unchecked {
    static bool greater(T probe, T key) { return probe > key; }
    static bool equal(T probe, T key) { return probe == key; }
};

// Segment search: the bisection with the fatal NaN check.
template <class T>
SearchResult search(const T* a, std::size_t n, T key) {
    assert(n >= 1);
    std::size_t base = 0, size = n;
    while (size > 1) {
        const std::size_t half = size / 2;
        base = bisect_step<Order<T>>(a, base, half, key);
        size -= half;
    }
    return settle<Order<T>>(a, base, key);
}

// The same probes without the NaN check, with the two possible next probes
// prefetched: for tables larger than the caches, where each probe would
// otherwise wait for memory.
template <class T>
SearchResult search_prefetch(const T* a, std::size_t n, T key) {
    assert(n >= 1);
    std::size_t base = 0, size = n;
    while (size > 1) {
        const std::size_t half = size / 2, next = size - half;  // the size after this step
        platform::prefetch(a + base + next / 2);
        platform::prefetch(a + base + half + next / 2);
        base = bisect_step<Unchecked<T>>(a, base, half, key);
        size = next;
    }
    return settle<Unchecked<T>>(a, base, key);
}

// Where the previous element's segment (or the one after it, or beyond the
// end it touches) also holds this key, the answer search() would give, found
// with a few comparisons; nullopt
// otherwise. hint is an insertion index in [1, n-1] of a strictly
// increasing axis with n >= 2, and the key is ordered.
template <class T>
std::optional<SearchResult> search_near(const T* a, std::size_t n, T key, std::size_t hint) {
    assert(n >= 2 && hint >= 1 && hint <= n - 1);
    const T lo = a[hint - 1], hi = a[hint];
    if (lo < key && key < hi) return SearchResult{hint, false};
    if (key == lo) return SearchResult{hint - 1, true};
    if (key == hi) return SearchResult{hint, true};
    if (hi < key && hint + 1 < n) {  // the next segment, for ascending keys
        const T next = a[hint + 1];
        if (key < next) return SearchResult{hint + 1, false};
        if (key == next) return SearchResult{hint + 1, true};
    }
    // beyond an end from its end segment, for runs of keys outside the table
    if (hint == 1 && key < lo) return SearchResult{0, false};
    if (hint + 1 == n && hi < key) return SearchResult{n, false};
    return std::nullopt;
}

// The answer search() would give, found by galloping from the previous
// element's segment: for an ordered key on a strictly increasing axis
// a[0 … n-1], n >= 2, and hint in [1, n-1], steps of 1, 2, 4, … knots from
// the segment (a[hint-1], a[hint]) towards the key bracket it, and a
// bisection inside the bracket settles it: 2·log2(distance) + 2 comparisons
// or so, where search() makes log2(n) + 1 whatever the distance. The
// answer is the first index i with a[i] >= key: a hit when a[i] == key, else
// the insertion index, as search() defines them.
template <class T>
SearchResult search_from(const T* a, std::size_t n, T key, std::size_t hint) {
    assert(n >= 2 && hint >= 1 && hint <= n - 1);
    // Invariant: the answer lies in [below, above]; a[below - 1] < key where
    // below > 0, and key <= a[above] where above < n.
    std::size_t below, above;
    if (a[hint] < key) {  // ahead
        below = hint + 1;
        for (std::size_t step = 1;; step *= 2) {
            const std::size_t probe = below - 1 + step;
            if (probe >= n) {
                above = n;
                break;
            }
            if (!(a[probe] < key)) {
                above = probe;
                break;
            }
            below = probe + 1;
        }
    } else {  // on the segment's right knot or behind it
        above = hint;
        for (std::size_t step = 1;; step *= 2) {
            if (step > above) {
                below = 0;
                break;
            }
            const std::size_t probe = above - step;
            if (a[probe] < key) {
                below = probe + 1;
                break;
            }
            above = probe;
        }
    }
    while (below < above) {
        const std::size_t mid = below + (above - below) / 2;
        if (a[mid] < key)
            below = mid + 1;
        else
            above = mid;
    }
    return {below, below < n && a[below] == key};
}

// Above kBatchKnots knots, keys that do not come in order are searched
// kBatch at a time in lockstep, so that their probes overlap instead of each
// waiting for the one before; above kPrefetchKnots the axis outgrows the
// first cache levels and a single search prefetches its next probes.
constexpr std::size_t kBatchKnots = 64;
constexpr std::size_t kPrefetchKnots = 1 << 14;
constexpr std::size_t kBatch = 16;
// The search of element after element over one strictly increasing axis of
// n >= 2 knots: first the previous element's segment and the one after it,
// then, for keys that came in order, a gallop from there, else the full
// search. Every correct search of a strictly increasing axis
// gives the same answer, so this is search() for every ordered key.
template <class T>
class Locator {
public:
    Locator(const T* a, std::size_t n) : a_(a), n_(n), batch_(n >= kBatchKnots), prefetch_(n >= kPrefetchKnots) {
        assert(n >= 2);
    }

    // The neighbourhood of the previous element is tried while it keeps
    // answering, and once in kRetry elements after it stops, so that random
    // keys pay for it rarely. Keys that came in order and leave the
    // neighbourhood are galloped to from it; while they land within
    // kGallopNear knots, the keys still count as ordered.
    SearchResult operator()(T key) {
        std::optional<SearchResult> s;
        const bool ordered = near_;
        if (near_ || ++misses_ % kRetry == 0) s = search_near(a_, n_, key, hint_);
        near_ = s.has_value();
        if (!near_ && ordered) {
            s = search_from(a_, n_, key, hint_);
            const std::size_t distance = s->index > hint_ ? s->index - hint_ : hint_ - s->index;
            near_ = distance <= kGallopNear;
        }
        if (!s) s = prefetch_ ? search_prefetch(a_, n_, key) : search(a_, n_, key);
        remember(*s);
        return *s;
    }

    // Whether the next block of keys is better searched in lockstep.
    bool batch_next() const { return batch_ && !near_; }

    // search() of keys[0 … count-1], count <= kBatch, all in lockstep: the
    // same probes per key as search(), with no fatal check (a NaN key gives
    // some index, which the caller never uses).
    void batch(const T* keys, std::size_t count, SearchResult* out) {
        assert(count >= 1 && count <= kBatch);
        std::size_t base[kBatch] = {};
        for (std::size_t size = n_; size > 1;) {
            const std::size_t half = size / 2;
            for (std::size_t k = 0; k < count; ++k) base[k] = bisect_step<Unchecked<T>>(a_, base[k], half, keys[k]);
            size -= half;
        }
        std::size_t lo = n_, hi = 0;
        for (std::size_t k = 0; k < count; ++k) {
            out[k] = settle<Unchecked<T>>(a_, base[k], keys[k]);
            lo = std::min(lo, out[k].index);
            hi = std::max(hi, out[k].index);
        }
        remember(out[count - 1]);
        near_ = hi - lo <= count;  // keys that came in order: try the neighbourhood next
    }

private:
    void remember(SearchResult s) {  // the segment to try first: an insertion index in [1, n-1]
        hint_ = s.index == 0 ? 1 : (s.index >= n_ ? n_ - 1 : s.index);
    }

    static constexpr unsigned kRetry = 16;
    static constexpr std::size_t kGallopNear = 64;
    const T* a_;
    std::size_t n_;
    bool batch_;
    bool prefetch_;
    bool near_ = true;
    unsigned misses_ = 0;
    std::size_t hint_ = 1;
};

}  // namespace rust::piecewise
