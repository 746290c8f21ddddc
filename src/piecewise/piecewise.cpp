#include "piecewise/piecewise.hpp"

#include <cmath>
#include <optional>
#include <type_traits>
#include <vector>

#include "piecewise/evaluation.hpp"

namespace rust::piecewise {

namespace {

// Keys strictly inside segments that came one by one (random queries:
// searched alone or in lockstep), kept with their segments and answered
// kSize at a time by the kernels that round once, each key in its own
// segment: answered alone, each key's estimate would wait for the one
// before. A block's answers go to out[index]; the policy that keeps keys
// answers them when full and before the loop returns, whatever it returns.
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

void answer_gathered(const Gathered<u64>& g, f64* out) {  // (the keys stay kept)
    f64 v[Gathered<u64>::kSize];
    kernels::forward_rounded_each(g.keys, g.x0, g.f0, g.x1, g.f1, g.count, v, g.held);
    for (std::size_t k = 0; k < g.count; ++k) out[g.index[k]] = v[k];
}

void answer_gathered(Gathered<f64>& g, InverseMethod method, u64* out) {
    u64 v[Gathered<f64>::kSize];
    kernels::inverse_rounded_each(g.keys, g.x0, g.f0, g.x1, g.f1, g.count, method, v, g.held);
    for (std::size_t k = 0; k < g.count; ++k) out[g.index[k]] = v[k];
    g.count = 0;
}

}  // namespace

// Runs shorter than kGatherRun are kept with the keys that come one by one:
// a run of its own pays for its segment's preparation, and its keys fill
// few lanes.
constexpr std::size_t kGatherRun = 4;

// The forward evaluation's answers in `columns` value columns (column 0 the
// table's fp, column j > 0 at more + (j - 1)·n), column j of element i at
// out[j·stride + i]; Many: more than one column (else every loop over the
// columns folds away). Keys that came alone or in short runs, inside
// segments where every column's knot values are finite, are kept and
// answered a column at a time: rounded once, kSize together, each key in its
// own segment; else each column's divisions follow one another
// independently in one short loop. A non-finite knot value is the scheme's
// fatal error, which must end the call where its key comes, so those keys
// are answered at once.
template <class X, class F>
template <bool Many>
class Interp<X, F>::Forwarding {
public:
    Forwarding(const Interp& t, std::size_t keys, const F* more, std::size_t columns, std::size_t stride, F* out,
               const Rules<F>& rules)
        : t_(t),
          more_(more),
          columns_(columns),
          stride_(stride),
          out_(out),
          rules_(rules),
          rest_(columns - 1) {
        assert(Many == (columns > 1));
        if (t.once() && keys > 1) held_ = scope_.emplace().fast();
        kept_.held = held_;
    }

    std::size_t inside(const X* keys, std::size_t count, std::size_t i, std::size_t at) {
        if (count < kGatherRun && (t_.once() || Many) && finite(i)) {
            const F* fp = t_.fp_.data();
            for (std::size_t k = 0; k < count; ++k) {
                if (kept_.full()) [[unlikely]]
                    finish();
                segment_[kept_.count] = i;
                if constexpr (std::is_same_v<F, f64>)
                    kept_.keep(keys[k], t_.xp_[i - 1], fp[i - 1], t_.xp_[i], fp[i], at + k);
                else
                    kept_.keep(keys[k], 0, 0, 0, 0, at + k);  // answered from its segment
            }
            return count;
        }
        for (std::size_t j = 0; j < columns(); ++j)
            t_.run_forward(i, column(j), cache(j), keys, count, out_ + j * stride_ + at, held_);
        return count;
    }

    void knot(std::size_t k, std::size_t at) {
        for (std::size_t j = 0; j < columns(); ++j) out_[j * stride_ + at] = column(j)[k];
    }

    // The first column to stop stops the run.
    Stopped beyond(const X* keys, std::size_t count, bool right, std::size_t at) {
        Stopped first{count, InterpError::OutOfBounds};
        for (std::size_t j = 0; j < columns(); ++j) {
            const F* f = column(j);
            const Stopped stop = outside(t_.xp_, f, right, rules_, count, out_ + j * stride_ + at,
                                         [&](std::size_t i, std::size_t c, F* to) {
                                             return t_.continued(keys, c, i, f, rules_.lowest, rules_.highest, to);
                                         });
            if (stop.answered < first.answered) first = stop;
        }
        return first;
    }

    bool fill(std::size_t at) {
        if (rules_.missing.rule != Rule::Fill) return false;
        for (std::size_t j = 0; j < columns(); ++j) out_[j * stride_ + at] = rules_.missing.fill;
        return true;
    }

    // The kept keys, column after column (the knot values of column 0 kept
    // with them, those of the others put in their place).
    void finish() RUST_OUT_OF_LINE {
        if (kept_.count == 0) return;
        for (std::size_t j = 0; j < columns(); ++j) {
            const F* f = column(j);
            F* o = out_ + j * stride_;
            if constexpr (std::is_same_v<F, f64>) {
                if (t_.once() && kept_.count > 1) {  // (one key alone: the one-key form, below)
                    if (j != 0)
                        for (std::size_t k = 0; k < kept_.count; ++k) {
                            kept_.f0[k] = f[segment_[k] - 1];
                            kept_.f1[k] = f[segment_[k]];
                        }
                    answer_gathered(kept_, o);
                    continue;
                }
            }
            for (std::size_t k = 0; k < kept_.count; ++k)
                o[kept_.index[k]] = t_.interior(kept_.keys[k], segment_[k], f);
        }
        kept_.count = 0;
    }

private:
    std::size_t columns() const { return Many ? columns_ : 1; }
    const F* column(std::size_t j) const { return j == 0 ? t_.fp_.data() : more_ + (j - 1) * t_.xp_.size(); }
    ForwardCache& cache(std::size_t j) { return j == 0 ? first_ : rest_[j - 1]; }
    bool finite(std::size_t i) const {
        if constexpr (std::is_same_v<F, f64>)
            for (std::size_t j = 0; j < columns(); ++j)
                if (const F* f = column(j); !Gathered<X>::keeps(f[i - 1], f[i])) return false;
        return true;
    }

    const Interp& t_;
    const F* more_;
    std::size_t columns_, stride_;
    F* out_;
    const Rules<F>& rules_;
    // The environment read once for every key (for one key alone, the
    // one-key form reads it, as a Scope would).
    std::optional<schemes::rounded::Scope> scope_;
    bool held_ = false;
    ForwardCache first_;
    std::vector<ForwardCache> rest_;  // the caches of the value columns after the first
    Gathered<X> kept_{false};
    std::size_t segment_[Gathered<X>::kSize];  // the kept keys' segments
};

// The inverse evaluation's answers. Keys that came alone or in short runs,
// rounded once by a method other than Exact, inside segments of finite
// values, are kept and answered kSize at a time.
template <class X, class F>
class Interp<X, F>::Inversing {
public:
    Inversing(const Interp& t, std::size_t keys, InverseMethod method, X* out, const Rules<X>& rules)
        : t_(t),
          method_(method),
          out_(out),
          rules_(rules) {
        if (t.once() && keys > 1) held_ = scope_.emplace().fast();
        gathered_.held = held_;
    }

    std::size_t inside(const F* keys, std::size_t count, std::size_t i, std::size_t at) {
        if constexpr (std::is_same_v<F, f64>) {
            const F* fp = t_.fp_.data();
            if (t_.once() && count < kGatherRun && method_ != InverseMethod::Exact &&
                Gathered<F>::keeps(fp[i - 1], fp[i])) {
                for (std::size_t k = 0; k < count; ++k) {
                    if (gathered_.full()) [[unlikely]]
                        answer_gathered(gathered_, method_, out_);
                    gathered_.keep(keys[k], t_.xp_[i - 1], fp[i - 1], t_.xp_[i], fp[i], at + k);
                }
                return count;
            }
        }
        return t_.run_inverse(i, cache_, keys, count, method_, out_ + at, held_);
    }

    void knot(std::size_t k, std::size_t at) { out_[at] = t_.xp_[k]; }

    Stopped beyond(const F* keys, std::size_t count, bool right, std::size_t at) {
        return outside(t_.fp_, t_.xp_.data(), right, rules_, count, out_ + at,
                       [&](std::size_t i, std::size_t c, X* to) {
                           return t_.continued(keys, c, i, t_.fp_.data(), rules_.lowest, rules_.highest, to, method_);
                       });
    }

    bool fill(std::size_t at) {
        if (rules_.missing.rule != Rule::Fill) return false;
        out_[at] = rules_.missing.fill;
        return true;
    }

    void finish() {
        if constexpr (std::is_same_v<F, f64>) {
            if (gathered_.count == 1) {  // one key alone (a one-element call): the one-key form, the same bits
                bool overflow = false;   // never inside a segment
                const Gathered<F>& g = gathered_;
                out_[g.index[0]] =
                    *schemes::rounded::inverse(g.keys[0], g.x0[0], g.f0[0], g.x1[0], g.f1[0], method_, overflow);
                gathered_.count = 0;
            } else if (gathered_.count != 0) {
                answer_gathered(gathered_, method_, out_);
            }
        }
    }

private:
    const Interp& t_;
    InverseMethod method_;
    X* out_;
    const Rules<X>& rules_;
    // The environment read once for every key (for one key alone, the
    // one-key form reads it, as a Scope would).
    std::optional<schemes::rounded::Scope> scope_;
    bool held_ = false;
    InverseCache cache_;
    Gathered<F> gathered_{false};
};

template <class X, class F>
template <class K, class V, class Continue>
Stopped Interp<X, F>::outside(const Knots<K>& axis, const V* other, bool right, const Rules<V>& rules,
                              std::size_t count, V* out, Continue&& extrapolate) {
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
std::optional<Failure> Interp<X, F>::inverse_all(Strided<F> query, InverseMethod method, X* out,
                                                 const Rules<X>& rules) const {
    Inversing policy(*this, query.length, method, out, rules);
    return evaluate(fp_, xp_.data(), fp_increasing_, query, policy);
}

template <class X, class F>
std::optional<Failure> Interp<X, F>::forward_columns(Strided<X> query, const F* more, std::size_t columns,
                                                     std::size_t stride, F* out, const Rules<F>& rules) const {
    if (columns == 1) {
        Forwarding<false> policy(*this, query.length, more, columns, stride, out, rules);
        return evaluate(xp_, fp_.data(), xp_increasing_, query, policy);
    }
    Forwarding<true> policy(*this, query.length, more, columns, stride, out, rules);
    return evaluate(xp_, fp_.data(), xp_increasing_, query, policy);
}

template class Interp<u64, i64>;
template class Interp<u64, f64>;

}  // namespace rust::piecewise
