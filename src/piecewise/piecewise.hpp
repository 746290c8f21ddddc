// Interp: the table of knots (xp[k], fp[k]) with its two monotonicity flags,
// and the evaluations over it, forward (position to value) and inverse (value
// to position).
#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/base.hpp"
#include "base/platform.hpp"
#include "kernels/kernels.hpp"
#include "piecewise/search.hpp"
#include "schemes/rounded.hpp"
#include "schemes/schemes.hpp"

namespace rust::piecewise {

using rust::InverseMethod;

// Why an evaluation has no answer. Numbered as the module maps them.
enum class InterpError : std::uint8_t {
    OutOfBounds = 0,            // outside the knots of the searched axis, or no knot
    NotFound = 1,               // inverse, Exact: no whole position maps to the value
    NotStrictlyIncreasing = 2,  // the searched axis is not strictly increasing
    // Only under Rules (below):
    Overflow = 3,     // an extrapolated answer outside the range the result may take
    TooFewKnots = 4,  // extrapolation asked of a table of one knot
};

// What an element outside the table gets, on each side of the searched axis
// (left: below its first knot; right: above its last), and what an element
// without an answer for another reason gets: a NaN key, or under
// InverseMethod::Exact a value that no whole position maps to.
enum class Rule : std::uint8_t {
    Raise,        // OutOfBounds (NotFound for `missing`)
    Clamp,        // the end knot's answer (not for `missing`)
    Extrapolate,  // the end segment continued, exactly (not for `missing`)
    Fill,         // the given value
};

template <class V>
struct Side {
    Rule rule = Rule::Raise;
    V fill{};
};

template <class V>
struct Rules {
    Side<V> left, right, missing;
    // Extrapolated answers outside [lowest, highest] are Overflow: the whole
    // range of V by default, narrower where the caller's kind is (a time
    // kind keeps its lowest count for NaT).
    V lowest = std::numeric_limits<V>::lowest(), highest = std::numeric_limits<V>::max();
};

// The clamping each inverse method has of its own outside the table.
template <class X>
constexpr Rules<X> method_rules(InverseMethod method) {
    Rules<X> r;
    const bool low = method == InverseMethod::Nearest || method == InverseMethod::Bfill;
    const bool high = method == InverseMethod::Nearest || method == InverseMethod::Ffill;
    r.left.rule = low ? Rule::Clamp : Rule::Raise;
    r.right.rule = high ? Rule::Clamp : Rule::Raise;
    return r;
}

// How a table of float values answers inside its segments and beyond them:
// Chain, the float schemes' 64-bit chain (the typed functions' bits); Once,
// the exact rational rounded once (schemes/rounded.hpp). Integer values are
// exact either way.
enum class Rounding : std::uint8_t { Chain, Once };

// A value or an error kind, never both.
template <class T>
struct Result {
    T value{};
    InterpError error = InterpError::OutOfBounds;
    bool ok = false;

    static constexpr Result success(T v) { return {v, InterpError::OutOfBounds, true}; }
    static constexpr Result failure(InterpError e) { return {T{}, e, false}; }
};

// The first element of a whole-array evaluation that had no answer.
struct Failure {
    std::size_t index;
    InterpError error;
};

// Of a run of keys: how many were answered before the first that was not,
// and why that one was not.
struct Stopped {
    std::size_t answered;
    InterpError error;
};

// Elements of type T at start + i·stride, i < length, read through memcpy so
// that any stride (negative, zero, unaligned) is defined behaviour.
template <class T>
struct Strided {
    const unsigned char* start = nullptr;
    std::ptrdiff_t stride = sizeof(T);
    std::size_t length = 0;

    T operator[](std::size_t i) const {
        T v;
        std::memcpy(&v, start + static_cast<std::ptrdiff_t>(i) * stride, sizeof v);
        return v;
    }

    // Elements [begin, end), begin <= end <= length.
    Strided slice(std::size_t begin, std::size_t end) const {
        return {start + static_cast<std::ptrdiff_t>(begin) * stride, stride, end - begin};
    }
};

// The monotonicity scans, one per element type (see kernels.hpp).
using kernels::strictly_increasing;

// Storage of knots: a vector whose new elements are left uninitialised, for
// they are always overwritten by a copy of the caller's array.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    // Exhausted memory is std::bad_alloc, also where the runtime's throwing
    // allocation would abort instead (as under AddressSanitizer).
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* p = ::operator new(n * sizeof(T), std::nothrow);
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p); }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using Knots = std::vector<T, UninitialisedAllocator<T>>;

template <class X, class F>
class Interp {
public:
    using ForwardScheme = schemes::Forward<X, F>;
    using InverseScheme = schemes::Inverse<F, X>;

    // Takes both vectors over. Lengths that differ are fatal: "xp and fp must
    // have same length" (both vectors are released on the way out).
    Interp(Knots<X> xp, Knots<F> fp, Rounding rounding = Rounding::Chain) : rounding_(rounding) {
        if (xp.size() != fp.size()) panic("xp and fp must have same length");
        xp_increasing_ = strictly_increasing(xp.data(), xp.size());
        fp_increasing_ = strictly_increasing(fp.data(), fp.size());
        xp_ = std::move(xp);
        fp_ = std::move(fp);
    }

    // From copies of two vectors the caller keeps.
    Interp(const std::vector<X>& xp, const std::vector<F>& fp)
        : Interp(Knots<X>(xp.begin(), xp.end()), Knots<F>(fp.begin(), fp.end())) {}
    Interp(std::initializer_list<X> xp, std::initializer_list<F> fp) : Interp(Knots<X>(xp), Knots<F>(fp)) {}

    const Knots<X>& xp() const { return xp_; }
    const Knots<F>& fp() const { return fp_; }
    bool xp_increasing() const { return xp_increasing_; }
    bool fp_increasing() const { return fp_increasing_; }
    Rounding rounding() const { return rounding_; }

    // Position to value. A knot answers with its value bit for bit; the strict
    // interior of a segment goes to the forward scheme.
    Result<F> forward(X x) const {
        if (!xp_increasing_) return Result<F>::failure(InterpError::NotStrictlyIncreasing);
        if (xp_.empty()) return Result<F>::failure(InterpError::OutOfBounds);
        return forward_at(x, search(xp_.data(), xp_.size(), x));
    }

    // Value to position. A knot answers with its position under every method;
    // outside the table the method clamps to the first or last knot in table
    // order or reports OutOfBounds; inside a segment the inverse scheme rounds.
    Result<X> inverse(F f, InverseMethod method) const {
        if (!fp_increasing_) return Result<X>::failure(InterpError::NotStrictlyIncreasing);
        if (fp_.empty()) return Result<X>::failure(InterpError::OutOfBounds);
        return inverse_at(f, method, search(fp_.data(), fp_.size(), f));
    }

    // Every element of the query in increasing index order, the results into
    // out[0 … length-1]. Stops at the first element without an answer and
    // reports it; the elements after it are not evaluated. Element by element
    // the same as forward() and inverse(); the search starts from the previous
    // element's segment and falls back to the full search. A query of one
    // element is that element's forward() or inverse().
    std::optional<Failure> forward_all(Strided<X> query, F* out) const {
        if (query.length == 1) return only(forward(query[0]), out);
        return forward_all(query, out, Rules<F>{});
    }
    std::optional<Failure> inverse_all(Strided<F> query, InverseMethod method, X* out) const {
        if (query.length == 1) return only(inverse(query[0], method), out);
        return inverse_all(query, method, out, method_rules<X>(method));
    }

    // The same under rules for the elements outside the table and those
    // without an answer; the inverse's own clamping is replaced by the rules'
    // (method_rules gives it back). Inside the table, the same bits.
    Result<F> forward(X x, const Rules<F>& rules) const;
    Result<X> inverse(F f, InverseMethod method, const Rules<X>& rules) const;
    std::optional<Failure> forward_all(Strided<X> query, F* out, const Rules<F>& rules) const {
        return forward_columns(query, nullptr, 1, query.length, out, rules);
    }
    std::optional<Failure> inverse_all(Strided<F> query, InverseMethod method, X* out, const Rules<X>& rules) const;

    // Value columns over the same positions: the table's own values and
    // `columns - 1` more, each of its n values, at more + (j - 1)·n. Column
    // j of element i goes to out[j·stride + i]; each column's answers are
    // those of forward_all on a table of that column, the segment of each
    // key found once for all. The first element that some column cannot
    // answer stops the loop.
    std::optional<Failure> forward_columns(Strided<X> query, const F* more, std::size_t columns, std::size_t stride,
                                           F* out, const Rules<F>& rules) const;

private:
    // What the whole-array loop (evaluation.hpp) hands its runs of keys
    // to: the answers of the forward evaluation in one or more value
    // columns, and of the inverse (piecewise.cpp).
    template <bool Many>
    class Forwarding;
    class Inversing;

    // The prepared segment ending at knot `index` (0: none yet), kept by
    // whole-array evaluation for runs of keys inside one segment.
    template <class Segment>
    struct SegmentCache {
        std::size_t index = 0;
        Segment segment{};
    };
    using ForwardCache = SegmentCache<typename ForwardScheme::Segment>;
    using InverseCache = SegmentCache<typename InverseScheme::Segment>;

    // The prepared segment i of the values f (fp or a value column), built
    // where the cache holds another.
    template <class Scheme, class Cache>
    const typename Scheme::Segment& segment_at(std::size_t i, const F* f, Cache& cache) const {
        if (cache.index != i) {
            // Built in place: a copy would read back, in wide loads, the
            // narrow stores that just wrote it, which the processor cannot
            // forward.
            std::construct_at(&cache.segment, Scheme::segment(xp_[i - 1], f[i - 1], xp_[i], f[i]));
            cache.index = i;
        }
        return cache.segment;
    }

    // Keys strictly inside segment i, in order: a short run through the
    // scheme's one-key form (a prepared segment pays only over longer runs),
    // a longer one through the run kernels with the segment prepared once.
    // The same bits either way. f: the values, fp or a value column.
    // (`held`: as kernels::forward_rounded's)
    void run_forward(std::size_t i, const F* f, ForwardCache& cache, const X* keys, std::size_t count, F* out,
                     bool held) const {
        if constexpr (std::is_same_v<F, f64>)
            if (once()) return kernels::forward_rounded(xp_[i - 1], f[i - 1], xp_[i], f[i], keys, count, out, held);
        if (count < kernels::kShortRun) {
            for (std::size_t j = 0; j < count; ++j)
                out[j] = ForwardScheme::forward(keys[j], xp_[i - 1], f[i - 1], xp_[i], f[i]);
            return;
        }
        kernels::forward(segment_at<ForwardScheme>(i, f, cache), keys, count, out);
    }
    std::size_t run_inverse(std::size_t i, InverseCache& cache, const F* keys, std::size_t count, InverseMethod method,
                            X* out, bool held) const {
        if constexpr (std::is_same_v<F, f64>)
            if (once())
                return kernels::inverse_rounded(xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], keys, count, method, out, held);
        if (count < kernels::kShortRun) {
            for (std::size_t j = 0; j < count; ++j) {
                const std::optional<X> p =
                    InverseScheme::inverse(keys[j], xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], method);
                if (!p) return j;
                out[j] = *p;
            }
            return count;
        }
        return kernels::inverse(segment_at<InverseScheme>(i, fp_.data(), cache), keys, count, method, out);
    }

    // The answer for a search result on a non-empty, strictly increasing xp.
    // A key inside a segment goes to the scheme with the segment's knots,
    // prepared for this key alone (kept in registers, not stored).
    // The answer of a one-element query, as the whole-array loop gives it.
    template <class T>
    static std::optional<Failure> only(Result<T> r, T* out) {
        if (!r.ok) return Failure{0, r.error};
        *out = r.value;
        return std::nullopt;
    }

    Result<F> forward_at(X x, SearchResult s) const {
        using R = Result<F>;
        if (s.hit) return R::success(fp_[s.index]);
        const std::size_t i = s.index, n = xp_.size();
        if (i == 0 || i == n) return R::failure(InterpError::OutOfBounds);
        return R::success(interior(x, i, fp_.data()));
    }

    // Whether float answers are rounded once (integer values are exact).
    bool once() const {
        if constexpr (std::is_same_v<F, f64>)
            return rounding_ == Rounding::Once;
        else
            return false;
    }

    // The answer for x strictly inside segment i of the values f (fp or a
    // value column).
    F interior(X x, std::size_t i, const F* f) const {
        if constexpr (std::is_same_v<F, f64>)
            if (rounding_ == Rounding::Once)
                return schemes::rounded::forward(x, xp_[i - 1], f[i - 1], xp_[i], f[i]).value;
        return ForwardScheme::forward(x, xp_[i - 1], f[i - 1], xp_[i], f[i]);
    }

    // Keys beyond the segment i of the values f, continued (see schemes::extrapolate).
    template <class K, class V, class... Method>
    schemes::Stop continued(const K* keys, std::size_t count, std::size_t i, const F* f, V lowest, V highest, V* out,
                            Method... method) const {
        if constexpr (std::is_same_v<F, f64>)
            if (rounding_ == Rounding::Once)
                return schemes::rounded::extrapolate(keys, count, xp_[i - 1], f[i - 1], xp_[i], f[i], method..., lowest,
                                                     highest, out);
        return schemes::extrapolate(keys, count, xp_[i - 1], f[i - 1], xp_[i], f[i], method..., lowest, highest, out);
    }

    // The answer for a search result on a non-empty, strictly increasing fp.
    Result<X> inverse_at(F f, InverseMethod method, SearchResult s) const {
        using R = Result<X>;
        const std::size_t n = fp_.size();
        if (s.hit) return R::success(xp_[s.index]);
        const std::size_t i = s.index;
        if (i == 0) {
            if (method == InverseMethod::Nearest || method == InverseMethod::Bfill) return R::success(xp_[0]);
            return R::failure(InterpError::OutOfBounds);
        }
        if (i == n) {
            if (method == InverseMethod::Nearest || method == InverseMethod::Ffill) return R::success(xp_[n - 1]);
            return R::failure(InterpError::OutOfBounds);
        }
        std::optional<X> p;
        if constexpr (std::is_same_v<F, f64>) {
            bool overflow = false;  // never inside a segment
            p = once() ? schemes::rounded::inverse(f, xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], method, overflow)
                       : InverseScheme::inverse(f, xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], method);
        } else {
            p = InverseScheme::inverse(f, xp_[i - 1], fp_[i - 1], xp_[i], fp_[i], method);
        }
        if (!p) return R::failure(InterpError::NotFound);
        return R::success(*p);
    }

    // The answers under `rules` of keys[0 … count-1], all beyond one end of
    // `axis` (`right`: above its last knot), `other` holding the answers at
    // the knots, into out: how many were answered before the first that was
    // not, and why. extrapolate(i, keys, count, out) continues the segment
    // of knots i-1 and i.
    template <class K, class V, class Continue>
    static Stopped outside(const Knots<K>& axis, const V* other, bool right, const Rules<V>& rules, std::size_t count,
                           V* out, Continue&& extrapolate);

    Knots<X> xp_;
    Knots<F> fp_;
    bool xp_increasing_ = true;
    bool fp_increasing_ = true;
    Rounding rounding_ = Rounding::Chain;
};

extern template class Interp<u64, i64>;
extern template class Interp<u64, f64>;

}  // namespace rust::piecewise
