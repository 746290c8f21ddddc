#include "piecewise/piecewise.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <type_traits>

namespace rust::piecewise {

namespace {

// Above kBatchKnots knots, keys that do not come in order are searched
// kBatch at a time in lockstep, so that their probes overlap instead of each
// waiting for the one before; above kPrefetchKnots the axis outgrows the
// first cache levels and a single search prefetches its next probes.
constexpr std::size_t kBatchKnots = 64;
constexpr std::size_t kPrefetchKnots = 1 << 14;
constexpr std::size_t kBatch = 16;
// Keys read from the query at a time: runs of sorted keys in one segment
// reach kBlock; keys searched in lockstep come kBatchBlock at a time (a
// longer block only costs them cache).
constexpr std::size_t kBlock = 256;
constexpr std::size_t kBatchBlock = 64;

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

template <class T>
bool is_nan(T v) {
    if constexpr (std::is_floating_point_v<T>)
        return v != v;
    else
        return false;
}

// The whole-array loop shared by forward_all and inverse_all, over the axis
// `axis` (xp or fp) that the evaluation searches and the `other`:
//   plain(key, i)              the element-by-element evaluation, for one-knot tables
//   answer(key, s, i)          the evaluation for a search result s (i: the element's index)
//   run(keys, count, i, out)   the evaluation of count keys strictly inside
//                              segment i, in order, into out; returns how many
//                              were answered before the first that was not
//                              (NotFound, the only failure inside a segment)
// Elements in increasing order; the first failure stops the loop. A NaN key
// is fatal where any search of it would be (axes of two or more strictly
// increasing knots hold no NaN, so the key is the only unordered operand).
// Keys that follow one another inside one segment (sorted queries) go to run()
// together; a NaN key is never inside a segment, so it ends a run.
//
// `fill`, where given, is the answer of the elements that have none for a
// reason other than their place: a NaN key (instead of the fatal error) and
// NotFound; the loop goes on after them. Whether an element without an answer
// is filled or ends the loop is decided in one place (settle).
//
// `beyond`, where given, answers runs of keys beyond one end of the axis as
// `run` answers those inside a segment: beyond(keys, count, right, out)
// returns how many were answered and why the next was not.
template <class K, class O, class V, class Plain, class Answer, class Run, class Beyond = std::nullptr_t>
std::optional<Failure> evaluate_all(const Knots<K>& axis, const Knots<O>& other, bool increasing, Strided<K> query,
                                    V* out, Plain&& plain, Answer&& answer, Run&& run, const V* fill = nullptr,
                                    Beyond&& beyond = nullptr) {
    const std::size_t n = axis.size();
    if (query.length == 0) return std::nullopt;
    if (!increasing) return Failure{0, InterpError::NotStrictlyIncreasing};
    if (n == 0) return Failure{0, InterpError::OutOfBounds};
    // Element i has no answer for `error`: filled (true) where the fill answers that error, else the failure
    // that ends the loop.
    std::optional<Failure> failure;
    const auto settle = [&](std::size_t i, InterpError error) {
        if (fill == nullptr || error != InterpError::NotFound) {
            failure = Failure{i, error};
            return false;
        }
        out[i] = *fill;
        return true;
    };
    if (n == 1) {  // a single knot may itself be NaN: the plain search applies the rule
        for (std::size_t i = 0; i < query.length; ++i) {
            const K key = query[i];
            if (fill != nullptr && is_nan(key)) [[unlikely]] {
                out[i] = *fill;
                continue;
            }
            const Result<V> r = plain(key, i);
            if (r.ok)
                out[i] = r.value;
            else if (!settle(i, r.error))
                return failure;
        }
        return std::nullopt;
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
                        platform::prefetch(other.data() + i - 1);
                        platform::prefetch(other.data() + i);
                    }
        }
        for (std::size_t k = 0; k < count;) {
            if (is_nan(keys[k])) [[unlikely]] {
                if (fill == nullptr) panic("nan or inf encountered");
                out[start + k++] = *fill;
                continue;
            }
            const SearchResult s = batched ? found[k] : locate(keys[k]);
            if (!batched && !s.hit && s.index != 0 && s.index != n) {
                const K lo = axis[s.index - 1], hi = axis[s.index];
                std::size_t end = k + 1;
                while (end < count && lo < keys[end] && keys[end] < hi) ++end;
                const std::size_t answered = run(keys + k, end - k, s.index, out + start + k);
                if (answered < end - k) [[unlikely]] {  // on with the rest of the run, where filled
                    if (!settle(start + k + answered, InterpError::NotFound)) return failure;
                    k += answered + 1;
                    continue;
                }
                k = end;
                continue;
            }
            if constexpr (!std::is_null_pointer_v<std::remove_cvref_t<Beyond>>) {
                if (!batched && !s.hit) {  // beyond an end: so are the keys after it that stay there
                    const bool right = s.index == n;
                    std::size_t end = k + 1;
                    if (right)
                        for (const K hi = axis[n - 1]; end < count && hi < keys[end];) ++end;
                    else
                        for (const K lo = axis[0]; end < count && keys[end] < lo;) ++end;
                    const auto stop = beyond(keys + k, end - k, right, out + start + k);
                    if (stop.answered < end - k) [[unlikely]] {
                        if (!settle(start + k + stop.answered, stop.error)) return failure;
                        k += stop.answered + 1;
                        continue;
                    }
                    k = end;
                    continue;
                }
            }
            const Result<V> r = answer(keys[k], s, start + k);
            if (!r.ok) [[unlikely]] {
                if (!settle(start + k, r.error)) return failure;
                ++k;
                continue;
            }
            out[start + k] = r.value;
            ++k;
        }
    }
    return std::nullopt;
}

// Keys strictly inside segments that came one by one (random queries:
// searched alone or in lockstep), kept with their segments and answered
// kSize at a time by the kernels that round once, each key in its own
// segment: answered alone, each key's estimate would wait for the one
// before. A block's answers go to out[index]; the caller answers what is
// kept before it returns, whatever it returns, and before keeping a key
// when full (the loop writes a kept key's placeholder after keeping it).
template <class K>
struct Gathered {
    static constexpr std::size_t kSize = 64;
    explicit Gathered(bool held_scope) : held(held_scope) {}
    bool held;  // a Scope holds the default environment (kernels::forward_rounded)
    std::size_t count = 0;
    K keys[kSize];
    u64 x0[kSize], x1[kSize];
    f64 f0[kSize], f1[kSize];
    std::size_t index[kSize];

    bool full() const { return count == kSize; }
    // Whether a key of the segment may be kept: its knot values finite. A
    // non-finite one is the scheme's fatal error, which must end the call
    // where the key comes, before any failure or fatal error after it.
    static bool keeps(f64 fa, f64 fb) { return std::isfinite(fa) && std::isfinite(fb); }
    void keep(K key, u64 a, f64 fa, u64 b, f64 fb, std::size_t at) {
        keys[count] = key;
        x0[count] = a;
        f0[count] = fa;
        x1[count] = b;
        f1[count] = fb;
        index[count++] = at;
    }
};

void answer_gathered(Gathered<u64>& g, f64* out) {
    f64 v[Gathered<u64>::kSize];
    kernels::forward_rounded_each(g.keys, g.x0, g.f0, g.x1, g.f1, g.count, v, g.held);
    for (std::size_t k = 0; k < g.count; ++k) out[g.index[k]] = v[k];
    g.count = 0;
}

void answer_gathered(Gathered<f64>& g, InverseMethod method, u64* out) {
    u64 v[Gathered<f64>::kSize];
    kernels::inverse_rounded_each(g.keys, g.x0, g.f0, g.x1, g.f1, g.count, method, v, g.held);
    for (std::size_t k = 0; k < g.count; ++k) out[g.index[k]] = v[k];
    g.count = 0;
}

}  // namespace

template <class X, class F>
template <class G>
bool Interp<X, F>::gather_forward(G& g, X x, SearchResult s, std::size_t index, F* out) const {
    if constexpr (std::is_same_v<F, f64>) {
        const std::size_t i = s.index;
        if (!once() || s.hit || i == 0 || i == xp_.size() || !G::keeps(fp_[i - 1], fp_[i])) return false;
        if (g.full()) answer_gathered(g, out);
        g.keep(x, xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], index);
        return true;
    } else {
        return false;
    }
}

template <class X, class F>
template <class G>
bool Interp<X, F>::gather_inverse(G& g, F f, SearchResult s, InverseMethod method, std::size_t index, X* out) const {
    if constexpr (std::is_same_v<F, f64>) {
        const std::size_t i = s.index;
        if (!once() || method == InverseMethod::Exact || s.hit || i == 0 || i == fp_.size() ||
            !G::keeps(fp_[i - 1], fp_[i]))
            return false;
        if (g.full()) answer_gathered(g, method, out);
        g.keep(f, xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], index);
        return true;
    } else {
        return false;
    }
}

// Runs shorter than kGatherRun are kept with the keys that come one by one:
// a run of its own pays for its segment's preparation, and its keys fill
// few lanes.
constexpr std::size_t kGatherRun = 4;

template <class X, class F>
template <class G, class K, class V, class... Method>
bool Interp<X, F>::gather_run(G& g, const K* keys, std::size_t count, std::size_t i, std::size_t at, V* out,
                              Method... method) const {
    if constexpr (std::is_same_v<F, f64>) {
        if (!once() || count >= kGatherRun || ((method == InverseMethod::Exact) || ...) ||
            !G::keeps(fp_[i - 1], fp_[i]))
            return false;
        for (std::size_t k = 0; k < count; ++k) {
            if (g.full()) answer_gathered(g, method..., out);
            g.keep(keys[k], xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], at + k);
        }
        return true;
    } else {
        return false;
    }
}

template <class X, class F>
template <class G, class V, class... Method>
void Interp<X, F>::finish(G& g, V* out, Method... method) const {
    if constexpr (std::is_same_v<F, f64>)
        if (g.count != 0) answer_gathered(g, method..., out);
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::forward_all(Strided<X> query, F* out) const {
    std::optional<schemes::rounded::Scope> scope;  // the environment read once for every key
    if (once()) scope.emplace();
    ForwardCache cache;
    const bool held = scope && scope->fast();
    Gathered<X> gathered(held);
    const std::optional<Failure> failure = evaluate_all(
        xp_, fp_, xp_increasing_, query, out, [&](X x, std::size_t) { return forward(x); },
        [&](X x, SearchResult s, std::size_t index) {
            if (gather_forward(gathered, x, s, index, out)) return Result<F>::success(F{});
            return forward_at(x, s);
        },
        [&](const X* keys, std::size_t count, std::size_t i, F* o) {
            if (!gather_run(gathered, keys, count, i, static_cast<std::size_t>(o - out), out))
                run_forward(i, cache, keys, count, o, held);
            return count;
        });
    finish(gathered, out);
    return failure;
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::inverse_all(Strided<F> query, InverseMethod method, X* out) const {
    std::optional<schemes::rounded::Scope> scope;  // the environment read once for every key
    if (once()) scope.emplace();
    InverseCache cache;
    const bool held = scope && scope->fast();
    Gathered<F> gathered(held);
    const std::optional<Failure> failure = evaluate_all(
        fp_, xp_, fp_increasing_, query, out, [&](F f, std::size_t) { return inverse(f, method); },
        [&](F f, SearchResult s, std::size_t index) {
            if (gather_inverse(gathered, f, s, method, index, out)) return Result<X>::success(X{});
            return inverse_at(f, method, s);
        },
        [&](const F* keys, std::size_t count, std::size_t i, X* o) {
            if (gather_run(gathered, keys, count, i, static_cast<std::size_t>(o - out), out, method)) return count;
            return run_inverse(i, cache, keys, count, method, o, held);
        });
    finish(gathered, out, method);
    return failure;
}

template <class X, class F>
template <class K, class V, class Continue>
typename Interp<X, F>::Stopped Interp<X, F>::outside(const Knots<K>& axis, const V* other, bool right,
                                                     const Rules<V>& rules, std::size_t count, V* out,
                                                     Continue&& extrapolate) {
    const Side<V>& side = right ? rules.right : rules.left;
    const std::size_t n = axis.size();
    switch (side.rule) {
        case Rule::Raise: return {0, InterpError::OutOfBounds};
        case Rule::Clamp: std::fill(out, out + count, right ? other[n - 1] : other[0]); return {count, {}};
        case Rule::Fill: std::fill(out, out + count, side.fill); return {count, {}};
        case Rule::Extrapolate: break;
    }
    if (n < 2) return {0, InterpError::TooFewKnots};
    const schemes::Stop stop = extrapolate(right ? n - 1 : 1, count, out);  // the end segment
    return {stop.answered, stop.status == schemes::Beyond::NotFound ? InterpError::NotFound : InterpError::Overflow};
}

template <class X, class F>
Result<F> Interp<X, F>::forward(X x, const Rules<F>& rules) const {
    F out{};
    const std::optional<Failure> f =
        forward_all({reinterpret_cast<const unsigned char*>(&x), sizeof x, 1}, &out, rules);
    return f ? Result<F>::failure(f->error) : Result<F>::success(out);
}

template <class X, class F>
Result<X> Interp<X, F>::inverse(F f, InverseMethod method, const Rules<X>& rules) const {
    X out{};
    const std::optional<Failure> e =
        inverse_all({reinterpret_cast<const unsigned char*>(&f), sizeof f, 1}, method, &out, rules);
    return e ? Result<X>::failure(e->error) : Result<X>::success(out);
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::forward_all(Strided<X> query, F* out, const Rules<F>& rules) const {
    std::optional<schemes::rounded::Scope> scope;  // the environment read once for every key
    if (once()) scope.emplace();
    ForwardCache cache;
    const std::size_t n = xp_.size();
    const auto beyond = [&](const X* keys, std::size_t count, bool right, F* o) {
        return outside(xp_, fp_.data(), right, rules, count, o, [&](std::size_t i, std::size_t c, F* to) {
            return continued(keys, c, i, fp_.data(), rules.lowest, rules.highest, to);
        });
    };
    const bool held = scope && scope->fast();
    Gathered<X> gathered(held);
    const auto answer = [&](X x, SearchResult s, std::size_t index) -> Result<F> {
        if (!s.hit && (s.index == 0 || s.index == n)) [[unlikely]] {
            F v{};
            const Stopped stop = beyond(&x, 1, s.index == n, &v);
            return stop.answered == 1 ? Result<F>::success(v) : Result<F>::failure(stop.error);
        }
        if (gather_forward(gathered, x, s, index, out)) return Result<F>::success(F{});
        return forward_at(x, s);
    };
    const std::optional<Failure> failure = evaluate_all(
        xp_, fp_, xp_increasing_, query, out,
        [&](X x, std::size_t index) { return answer(x, search(xp_.data(), n, x), index); }, answer,
        [&](const X* keys, std::size_t count, std::size_t i, F* o) {
            if (!gather_run(gathered, keys, count, i, static_cast<std::size_t>(o - out), out))
                run_forward(i, cache, keys, count, o, held);
            return count;
        },
        rules.missing.rule == Rule::Fill ? &rules.missing.fill : nullptr, beyond);
    finish(gathered, out);
    return failure;
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::inverse_all(Strided<F> query, InverseMethod method, X* out,
                                                 const Rules<X>& rules) const {
    std::optional<schemes::rounded::Scope> scope;  // the environment read once for every key
    if (once()) scope.emplace();
    InverseCache cache;
    const std::size_t n = fp_.size();
    const auto beyond = [&](const F* keys, std::size_t count, bool right, X* o) {
        return outside(fp_, xp_.data(), right, rules, count, o, [&](std::size_t i, std::size_t c, X* to) {
            return continued(keys, c, i, fp_.data(), rules.lowest, rules.highest, to, method);
        });
    };
    const bool held = scope && scope->fast();
    Gathered<F> gathered(held);
    const auto answer = [&](F f, SearchResult s, std::size_t index) -> Result<X> {
        if (!s.hit && (s.index == 0 || s.index == n)) [[unlikely]] {
            X v{};
            const Stopped stop = beyond(&f, 1, s.index == n, &v);
            return stop.answered == 1 ? Result<X>::success(v) : Result<X>::failure(stop.error);
        }
        if (gather_inverse(gathered, f, s, method, index, out)) return Result<X>::success(X{});
        return inverse_at(f, method, s);
    };
    const std::optional<Failure> failure = evaluate_all(
        fp_, xp_, fp_increasing_, query, out,
        [&](F f, std::size_t index) { return answer(f, search(fp_.data(), n, f), index); }, answer,
        [&](const F* keys, std::size_t count, std::size_t i, X* o) {
            if (gather_run(gathered, keys, count, i, static_cast<std::size_t>(o - out), out, method)) return count;
            return run_inverse(i, cache, keys, count, method, o, held);
        },
        rules.missing.rule == Rule::Fill ? &rules.missing.fill : nullptr, beyond);
    finish(gathered, out, method);
    return failure;
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::forward_columns(Strided<X> query, const F* more, std::size_t columns,
                                                     std::size_t stride, F* out, const Rules<F>& rules) const {
    std::optional<schemes::rounded::Scope> scope;  // the environment read once for every key
    if (once()) scope.emplace();
    const bool held = scope && scope->fast();
    const std::size_t n = xp_.size();
    const auto column = [&](std::size_t j) { return j == 0 ? fp_.data() : more + (j - 1) * n; };
    std::vector<ForwardCache> caches(columns);
    // One column's answers beyond an end, and one key's for a search result.
    const auto beyond_in = [&](std::size_t j, const X* keys, std::size_t count, bool right, F* o) {
        const F* f = column(j);
        return outside(xp_, f, right, rules, count, o, [&](std::size_t i, std::size_t c, F* to) {
            return continued(keys, c, i, f, rules.lowest, rules.highest, to);
        });
    };
    const auto answer_in = [&](std::size_t j, X x, SearchResult s) -> Result<F> {
        const F* f = column(j);
        if (s.hit) return Result<F>::success(f[s.index]);
        if (s.index == 0 || s.index == n) {
            F v{};
            const Stopped stop = beyond_in(j, &x, 1, s.index == n, &v);
            return stop.answered == 1 ? Result<F>::success(v) : Result<F>::failure(stop.error);
        }
        return Result<F>::success(interior(x, s.index, f));
    };
    // Keys inside a segment, searched one by one or in lockstep, where every
    // column answers: kept and answered a column at a time (column 0 over
    // the placeholder the loop wrote, so never before that write), so that each column's divisions follow
    // one another independently in one short loop. Kept keys are answered
    // before the call returns, whatever it returns.
    struct Kept {
        X x;
        std::size_t segment, index;
    };
    constexpr std::size_t kKept = Gathered<X>::kSize;
    Kept kept[kKept];
    std::size_t kept_count = 0;
    const auto answer_kept = [&]() RUST_OUT_OF_LINE {
        for (std::size_t j = 0; j < columns; ++j) {
            const F* f = column(j);
            F* o = out + j * stride;
            if constexpr (std::is_same_v<F, f64>) {
                if (once()) {  // rounded once: each key in its own segment, a block at a time
                    Gathered<X> g(held);
                    for (std::size_t k = 0; k < kept_count; ++k) {
                        const std::size_t i = kept[k].segment;
                        g.keep(kept[k].x, xp_[i - 1], f[i - 1], xp_[i], f[i], kept[k].index);
                    }
                    answer_gathered(g, o);
                    continue;
                }
            }
            for (std::size_t k = 0; k < kept_count; ++k) {
                const std::size_t i = kept[k].segment;
                o[kept[k].index] = interior(kept[k].x, i, f);
            }
        }
        kept_count = 0;
    };
    // Every column of an element: the other columns written here or kept,
    // column 0 returned for the loop to write; the first column without an
    // answer fails the element.
    const auto answer_each = [&](X x, SearchResult s, std::size_t index) RUST_OUT_OF_LINE -> Result<F> {
        for (std::size_t j = 1; j < columns; ++j) {
            const Result<F> r = answer_in(j, x, s);
            if (!r.ok) return r;
            out[j * stride + index] = r.value;
        }
        return answer_in(0, x, s);
    };
    // (kept small, so that it is inlined into the loop)
    const auto answer = [&](X x, SearchResult s, std::size_t index) -> Result<F> {
        if (!s.hit && s.index != 0 && s.index != n) [[likely]] {  // inside a segment: every column answers
            // Full: the kept keys answered before this one is kept, as the
            // loop writes its placeholder after this returns.
            if (kept_count == kKept) [[unlikely]]
                answer_kept();
            kept[kept_count++] = {x, s.index, index};
            return Result<F>::success(F{});  // the placeholder
        }
        return answer_each(x, s, index);
    };
    const auto beyond = [&](const X* keys, std::size_t count, bool right, F* o) {
        Stopped first{count, InterpError::OutOfBounds};
        for (std::size_t j = 0; j < columns; ++j) {
            const Stopped stop = beyond_in(j, keys, count, right, o + j * stride);
            if (stop.answered < first.answered) first = stop;
        }
        return first;
    };
    const std::optional<Failure> failure = evaluate_all(
        xp_, fp_, xp_increasing_, query, out,
        [&](X x, std::size_t index) { return answer(x, search(xp_.data(), n, x), index); }, answer,
        [&](const X* keys, std::size_t count, std::size_t i, F* o) {
            for (std::size_t j = 0; j < columns; ++j) {
                const F* f = column(j);
                if constexpr (std::is_same_v<F, f64>)
                    if (once()) {
                        kernels::forward_rounded(xp_[i - 1], f[i - 1], xp_[i], f[i], keys, count, o + j * stride, held);
                        continue;
                    }
                ForwardCache& cache = caches[j];
                if (cache.index != i) {
                    std::construct_at(&cache.segment, ForwardScheme::segment(xp_[i - 1], f[i - 1], xp_[i], f[i]));
                    cache.index = i;
                }
                kernels::forward(cache.segment, keys, count, o + j * stride);
            }
            return count;
        },
        static_cast<const F*>(nullptr), beyond);
    answer_kept();
    return failure;
}

template class Interp<u64, i64>;
template class Interp<u64, f64>;

}  // namespace rust::piecewise
