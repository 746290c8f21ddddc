// The call driver shared by both modules: the element types of each
// function, the table built from copies of the knots, and the evaluation of
// a query into a new result array, with the GIL held throughout (`rust`) or
// released while the work runs, on one thread or several (exact_interp).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <optional>
#include <type_traits>

#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/errors.hpp"
#include "module/notes.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"
#include "parallel/parallel.hpp"
#include "piecewise/piecewise.hpp"

namespace rust::module {

template <class F>
inline constexpr Element value_element = std::is_same_v<F, i64> ? Element::I64 : Element::F64;

// The element types of one function: the query's and the result's.
template <Direction D, class F>
struct Elements;
template <class F>
struct Elements<Direction::Forward, F> {
    static constexpr Element query = Element::U64;
    static constexpr Element result = value_element<F>;
    using Out = F;
};
template <class F>
struct Elements<Direction::Inverse, F> {
    static constexpr Element query = value_element<F>;
    static constexpr Element result = Element::U64;
    using Out = u64;
};

// How the work of a call runs: `rust`'s way (GilFree false), on the caller's
// thread with the GIL held from entry to return, or with the GIL released
// while it works, on at most `workers` threads (0: the cores available).
template <bool GilFree>
struct Threads {
    std::size_t workers = 1;
};

// Work on fewer elements than this keeps the GIL: releasing and taking it
// back costs more than the work.
inline constexpr npy_intp kReleaseGil = 512;

// The GIL released for the scope, taken back on every way out of it
// (exceptions included), before anything touches Python again.
//
// A thread that asks for the GIL back while the interpreter finalises is
// never given it: CPython 3.14 parks the thread for good, 3.10-3.13 end it
// with pthread_exit, which on glibc unwinds the thread's stack with a forced
// unwind. That unwind must not reach this (noexcept) destructor's caller: it
// would end the process in std::terminate, and the frames above would release
// Python references without the GIL. The only way out of PyEval_RestoreThread
// other than returning is that unwind (it is C and throws nothing else), so
// the destructor catches it and parks the thread as CPython 3.14 does: it
// holds nothing and the process exits around it.
class WithoutGil {
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    WithoutGil(const WithoutGil&) = delete;
    WithoutGil& operator=(const WithoutGil&) = delete;
    ~WithoutGil() {
        try {
            PyEval_RestoreThread(state_);
        } catch (...) {  // the thread's end at finalisation: never returns
            park_forever();
        }
    }

private:
    PyThreadState* state_;
};

// body(), with the GIL released where `release` holds.
template <class Body>
decltype(auto) maybe_without_gil(bool release, Body&& body) {
    if (release) {
        WithoutGil unlocked;
        return body();
    }
    return body();
}

// The checks a table's knots get: the typed functions' (Typed: lengths that
// differ are fatal; the order and finite values are checked by the calls that
// need them), or the front end's (exact_interp.forward, inverse and
// Interpolator), made once when it gets the knots: lengths, finite values and
// the order of the axis its calls search (xp: the forward and Interpolator;
// fp: the inverse, whose positions may come in any order), each a ValueError
// (Refused) naming the knot at fault. An Interpolator's inverse checks fp's
// order as the typed functions do.
enum class Checks { Typed, Forward, Inverse };

// The front end's checks of a table whose values hold `columns` columns
// (the table's own, then `columns - 1` more after it, each of n values).
template <class F>
void check_front_end(const piecewise::Interp<u64, F>& table, const F* more, std::size_t columns, Checks checks) {
    if constexpr (std::is_same_v<F, f64>) {  // first: a NaN value leaves fp unordered too
        const std::size_t n = table.xp().size();
        for (std::size_t j = 0; j < columns; ++j) {
            const F* f = j == 0 ? table.fp().data() : more + (j - 1) * n;
            for (std::size_t k = 0; k < n; ++k)
                if (!std::isfinite(f[k]))
                    throw Refused(
                        "fp must be finite",
                        Note().named("fp", k, note_text(f[k]), columns == 1 ? -1 : static_cast<std::ptrdiff_t>(j))
                            << ": the values of a float table must be finite");
        }
    }
    if (checks == Checks::Forward && !table.xp_increasing()) {
        const auto& xp = table.xp();
        std::size_t k = 0;
        while (k + 1 < xp.size() && xp[k] < xp[k + 1]) ++k;
        const bool equal = k + 1 < xp.size() && xp[k] == xp[k + 1];
        throw Refused("xp must be strictly increasing",
                      equal ? Note().named("xp", k, note_text(xp[k]))
                                  << " equals xp[" + std::to_string(k + 1) +
                                         "]: the positions must increase strictly; duplicates='first' or 'last' "
                                         "keeps one knot of each position"
                            : order_note(xp, "xp", ": the positions must increase strictly"));
    }
    if (checks == Checks::Inverse && !table.fp_increasing())
        throw Refused("fp must be strictly increasing",
                      order_note(table.fp(), "fp", ": the inverse needs values that increase strictly"));
}

// The typed functions answer by the float schemes' chain, the front end with
// the exact rational rounded once.
constexpr piecewise::Rounding rounding_of(Checks checks) {
    return checks == Checks::Typed ? piecewise::Rounding::Chain : piecewise::Rounding::Once;
}

// The table from copies of the accepted knots. Lengths that differ are fatal
// (Panic) for the typed functions, even where the query is empty; the front
// end refuses them and checks the rest (check_front_end). Its rounding is
// that of the checks unless given.
template <class F, bool GilFree>
piecewise::Interp<u64, F> make_table(const View& xp, const View& fp, Threads<GilFree>, Checks checks = Checks::Typed,
                                     std::optional<piecewise::Rounding> rounding = std::nullopt) {
    const bool release = GilFree && xp.length + fp.length >= kReleaseGil;
    const auto lengths = [&] {
        return "len(xp) = " + std::to_string(xp.length) + ", len(fp) = " + std::to_string(fp.length);
    };
    if (checks != Checks::Typed && xp.length != fp.length) throw Refused("xp and fp must have same length", lengths());
    piecewise::Interp<u64, F> table = maybe_without_gil(release, [&] {
        piecewise::Knots<u64> x = copy<u64>(xp);
        piecewise::Knots<F> f = copy<F>(fp);
        if (GilFree && x.size() != f.size())  // exhausted memory first, as the copies meet it
            throw NotedPanic("xp and fp must have same length", lengths());
        return piecewise::Interp<u64, F>(std::move(x), std::move(f), rounding.value_or(rounding_of(checks)));
    });
    if (checks != Checks::Typed) check_front_end<F>(table, nullptr, 1, checks);
    return table;
}

// Evaluates every query element in order into a new array, and maps the first
// evaluation error to its exception: a new reference, or null with an
// exception set. The query stays referenced by its view for the whole call.
// `rules`: null for the module's own rules (the table's bounds raise, the
// inverse methods clamp), else those for the elements outside the table and
// those without an answer.
template <Direction D, class F, bool GilFree>
PyObject* evaluate(const piecewise::Interp<u64, F>& table, const View& query, InverseMethod method,
                   Threads<GilFree> threads, const piecewise::Rules<typename Elements<D, F>::Out>* rules = nullptr) {
    Ref result(new_result(Elements<D, F>::result, query.length));
    if (!result) return nullptr;
    auto* out =
        static_cast<typename Elements<D, F>::Out*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const bool release = GilFree && query.length >= kReleaseGil;
    const auto run = [&] {
        if constexpr (!GilFree) {
            if constexpr (D == Direction::Forward)
                return table.forward_all(query.strided<u64>(), out);
            else
                return table.inverse_all(query.strided<F>(), method, out);
        } else {
            const parallel::Split split = parallel::split_for(static_cast<std::size_t>(query.length), threads.workers);
            if (rules != nullptr) {
                if constexpr (D == Direction::Forward)
                    return parallel::forward_all(table, query.strided<u64>(), out, split, *rules);
                else
                    return parallel::inverse_all(table, query.strided<F>(), method, out, split, *rules);
            }
            if constexpr (D == Direction::Forward)
                return parallel::forward_all(table, query.strided<u64>(), out, split);
            else
                return parallel::inverse_all(table, query.strided<F>(), method, out, split);
        }
    };
    std::optional<piecewise::Failure> failure;
    if constexpr (GilFree) {
        try {
            failure = maybe_without_gil(release, run);
        } catch (const Panic& p) {  // a non-finite float: which one, as a note
            const bool non_finite = std::strcmp(p.what(), "nan or inf encountered") == 0 ||
                                    std::strcmp(p.what(), "assertion failed: value.is_finite()") == 0;
            const Note note = non_finite ? non_finite_note<D>(table, query) : Note();
            if (note.empty()) throw;
            throw NotedPanic(p.what(), note);
        }
    } else {
        failure = maybe_without_gil(release, run);
    }
    if (failure) {
        if constexpr (GilFree) {
            const Note note = failure_note<D>(table, query, *failure);
            raise_interp_error(D, failure->error, failure->index);
            if (!note.empty()) add_note(note);
        } else {
            raise_interp_error(D, failure->error, failure->index);
        }
        return nullptr;
    }
    return result.release();
}

// The keywords left, right, missing and _nat (bound[0 … 3], null where not
// given) as rules for the results of type Out, the inverse starting from its
// method's own clamping. False with an exception set for a refused value;
// `given` false where every keyword was left out or None (the module's own
// rules apply). `_nat`, true for results that a time kind holds: its lowest
// count is NaT, never an extrapolated answer.
template <Direction D, class Out>
bool parse_rules(PyObject* const* bound, InverseMethod method, piecewise::Rules<Out>& rules, bool& given) {
    given = false;
    for (int k = 0; k < 4; ++k) given = given || (bound[k] != nullptr && bound[k] != Py_None);
    if (!given) return true;
    if constexpr (D == Direction::Inverse) rules = piecewise::method_rules<Out>(method);
    if (!parse_side(bound[0], "left", true, rules.left) || !parse_side(bound[1], "right", true, rules.right) ||
        !parse_side(bound[2], "missing", false, rules.missing))
        return false;
    if (bound[3] != nullptr) {
        const int nat = PyObject_IsTrue(bound[3]);
        if (nat < 0) return false;
        if (nat && !std::is_floating_point_v<Out>) rules.lowest = rules.lowest + 1;
    }
    return true;
}

// A call of one of the four functions (call_bound: with its arguments bound
// in the order query, xp, fp, [method,] [workers, left, right, missing,
// _nat]): binds and accepts the arguments (query, xp, fp, then method for
// the inverse functions), builds the table from copies of xp and fp,
// evaluates every query element in order into a new array and maps the
// first evaluation error to its exception. `rust` runs it with the GIL held
// throughout; the GIL-free entry (GilFree) releases it while it works and
// reads the keywords after method. Every reference is released on every path.
template <Direction D, class F, bool GilFree>
PyObject* call_bound(const Signature& sig, PyObject* const* bound, Checks checks = Checks::Typed) {
    View query, xp, fp;
    const auto accepted = [](PyObject* obj, Element element, const char* param, View& view) {
        if (accept(obj, element, param, view)) return true;
        if constexpr (GilFree) add_note(rejected_note(obj, element, param));
        return false;
    };
    if (!accepted(bound[0], Elements<D, F>::query, sig.names[0], query)) return nullptr;
    if (!accepted(bound[1], Element::U64, "xp", xp)) return nullptr;
    if (!accepted(bound[2], value_element<F>, "fp", fp)) return nullptr;
    InverseMethod method = InverseMethod::Exact;
    if constexpr (D == Direction::Inverse) {
        if (!(GilFree ? parse_method_noted(bound[3], method) : parse_method(bound[3], method))) return nullptr;
    }
    Threads<GilFree> threads{};
    if constexpr (GilFree) {
        constexpr int workers = D == Direction::Forward ? 3 : 4;
        if (!parse_workers(bound[workers], threads.workers)) return nullptr;
        piecewise::Rules<typename Elements<D, F>::Out> rules;
        bool given = false;
        if (!parse_rules<D>(bound + workers + 1, method, rules, given)) return nullptr;
        return evaluate<D, F>(make_table<F>(xp, fp, threads, checks), query, method, threads, given ? &rules : nullptr);
    } else {
        return evaluate<D, F>(make_table<F>(xp, fp, threads), query, method, threads);
    }
}

template <Direction D, class F, bool GilFree>
PyObject* call(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[Signature::kMaxParams] = {};
    if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
    if (!ensure_numpy_api()) return nullptr;
    return call_bound<D, F, GilFree>(sig, bound);
}

}  // namespace rust::module
