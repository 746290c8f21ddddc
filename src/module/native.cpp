// The module exact_interp._native: the four functions of `rust` with the same
// arguments, results and messages, which release the GIL while they copy the
// knots and evaluate and can split one query across threads (keyword
// `workers`) and take the rules outside the table; _forward and _inverse, the
// front end's evaluation of typed arrays with its checks; and Table, the typed
// table copied and checked once under exact_interp.Interpolator and the front
// end's conversions. Fatal errors are exact_interp.FatalError, an ordinary
// exception, which the package hands over as it imports the module.
// The module never calls the package's Python: the front end converts every
// other kind of argument and calls in here with typed arrays. Where the front
// end's entries and the Table's methods are given anything else, they answer
// NotImplemented, and the front end converts.
// A multi-phase module: each import has its own state (State).
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <variant>

#include "kernels/kernels.hpp"
#include "module/docstrings.hpp"  // generated from _native.pyi
#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/errors.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"

namespace rust::module {

namespace {

// The state of one module object (one per import: a module removed from
// sys.modules and imported again has its own): the class of fatal errors,
// which exact_interp hands over when it imports this module (RuntimeError
// until then), and the Table type. NumPy's API table stays one per process, as
// NumPy's own module is: the module loads in the main interpreter only.
struct State {
    PyObject* fatal_error;
    PyObject* table_type;
};

State& state_of(PyObject* module) { return *static_cast<State*>(PyModule_GetState(module)); }

// The state of the module whose function this thread runs, for the errors
// raised deep inside a call (fatal_error_type): set by
// each entry for its call, nested calls restoring the caller's.
thread_local State* entered = nullptr;

class Entered {
public:
    explicit Entered(State& state) : saved_(std::exchange(entered, &state)) {}
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;
    ~Entered() { entered = saved_; }

private:
    State* saved_;
};

// body() for the module's function, guarded.
template <class Body>
PyObject* in_module(PyObject* module, Body&& body) {
    const Entered scope(state_of(module));
    return guarded(std::forward<Body>(body));
}

// The module of a Table method's object.
PyObject* module_of_type(PyTypeObject* type) { return PyType_GetModule(type); }

// After the arguments of `rust`'s functions, keywords only: workers, the
// rules outside the table and for missing elements, and _nat (private: the
// results are counts of a time kind, whose lowest is NaT).
constexpr const char* kForwardParams[] = {"x", "xp", "fp", "workers", "left", "right", "missing", "_nat"};
constexpr const char* kInverseParams[] = {"f", "xp", "fp", "method", "workers", "left", "right", "missing", "_nat"};

// forward_int, forward_float, inverse_int, inverse_float
constexpr Signature kSignatures[] = {
    {"forward_int", kForwardParams, 8, 3, 3},
    {"forward_float", kForwardParams, 8, 3, 3},
    {"inverse_int", kInverseParams, 9, 4, 3},
    {"inverse_float", kInverseParams, 9, 4, 3},
};

template <Direction D, class F>
PyObject* entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Signature& sig = kSignatures[(D == Direction::Forward ? 0 : 2) + (std::is_same_v<F, i64> ? 0 : 1)];
    return in_module(module, [&] { return call<D, F, true>(sig, args, nargs, kwnames); });
}

// A table with value columns over the same positions: the table's own values
// are the first column, and `values` holds every column's n values, column
// after column (the first again, so that the whole is one array; empty for
// one column).
template <class F>
struct Columned {
    piecewise::Interp<u64, F> table;
    piecewise::Knots<F> values;
    std::size_t columns = 1;
};

// The table of xp and `columns` columns of xp's length, one after another in
// values, with the front end's checks where asked; a count that does not
// divide is fatal (typed) or refused, as lengths that differ are.
template <class F>
Columned<F> make_columns(const View& xp, const View& values, Py_ssize_t columns, Threads<true> threads,
                         Checks checks) {
    if (columns == 1) return {make_table<F>(xp, values, threads, checks), {}, 1};
    // values.length == columns · xp.length, without a product that could wrap
    const bool fits = columns >= 1 && values.length % columns == 0 && values.length / columns == xp.length;
    if (!fits) {  // the values' length per column where it divides (the front end's fp), else the count
        const bool whole = columns >= 1 && values.length % columns == 0;
        const std::string note = "len(xp) = " + std::to_string(xp.length) + ", " +
                                 (whole ? "len(fp) = " + std::to_string(values.length / columns)
                                        : std::to_string(columns) + " columns of " + std::to_string(values.length) +
                                              " values");
        if (checks != Checks::Typed) throw Refused("xp and fp must have same length", note);
        throw NotedPanic("xp and fp must have same length", note);
    }
    View first;  // the first column: the table's own values (values stays referenced for the call)
    first.start = values.start;
    first.stride = values.stride;
    first.length = xp.length;
    piecewise::Interp<u64, F> table = make_table<F>(xp, first, threads, Checks::Typed, rounding_of(checks));
    piecewise::Knots<F> all = maybe_without_gil(values.length >= kReleaseGil, [&] { return copy<F>(values); });
    if (checks != Checks::Typed)
        check_front_end<F>(table, all.data() + xp.length, static_cast<std::size_t>(columns), checks);
    return {std::move(table), std::move(all), static_cast<std::size_t>(columns)};
}

// The forward over every column into a new array of columns·len(x) elements,
// column by column; each column's answers and errors those of forward_int /
// forward_float on that column, the segment of each key found once for all.
template <class F>
PyObject* evaluate_columns(const Columned<F>& c, const View& query, Threads<true> threads,
                           const piecewise::Rules<F>& rules) {
    const npy_intp columns = static_cast<npy_intp>(c.columns);
    if (query.length > 0 && columns > NPY_MAX_INTP / query.length) return PyErr_NoMemory();  // columns·len(x) wraps
    Ref result(new_result(value_element<F>, columns * query.length));
    if (!result) return nullptr;
    auto* out = static_cast<F*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const F* more = c.columns == 1 ? nullptr : c.values.data() + c.table.xp().size();  // the columns after the first
    const std::optional<piecewise::Failure> failure = maybe_without_gil(columns * query.length >= kReleaseGil, [&] {
        const parallel::Split split = parallel::split_for(static_cast<std::size_t>(query.length), threads.workers);
        return parallel::forward_columns(c.table, query.strided<u64>(), more, c.columns, out, split, rules);
    });
    if (failure) {  // the note names the element and the positions, which every column shares
        const Note note = failure_note<Direction::Forward>(c.table, query, *failure);
        raise_interp_error(Direction::Forward, failure->error, failure->index);
        if (!note.empty()) add_note(note);
        return nullptr;
    }
    return result.release();
}

bool is_typed(PyObject* obj, Element element);

template <class Fn>
constexpr PyCFunction function(Fn* fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// ---- the front end ------------------------------------------------------------

// Whether obj is an array the typed functions take as it is: an ndarray, not
// a subclass, of one dimension and the element's dtype. Descriptors of
// another kind are never equivalent: they are told apart without NumPy's
// equivalence test, which costs as much as a short call.
bool is_typed(PyObject* obj, Element element) {
    if (!PyArray_CheckExact(obj)) return false;  // a subclass (a masked array) has its own meaning: converted
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(obj);
    PyArray_Descr *have = PyArray_DESCR(a), *want = descriptor(element);
    if (PyArray_NDIM(a) != 1) return false;
    return have == want || (have->kind == want->kind && PyArray_EquivTypes(have, want));
}

// Whether the rules left, right and missing (bound[0 … 2]) are words, None,
// Python ints or floats, which the typed path reads as they are: any other
// fill (a NumPy scalar, a 0-d array, a time) is the front end's to convert,
// and it hands on only such plain fills.
bool plain_rules(PyObject* const* bound) {
    for (int k = 0; k < 3; ++k) {
        PyObject* v = bound[k];
        if (v != nullptr && v != Py_None && !PyUnicode_Check(v) && !PyLong_Check(v) && !PyFloat_Check(v))
            return false;
    }
    return true;
}

// Whether obj is exactly the str `word` (not a subclass, which may compare otherwise).
bool is_word(PyObject* obj, const char* word) {
    return obj != nullptr && PyUnicode_CheckExact(obj) && PyUnicode_CompareWithASCIIString(obj, word) == 0;
}

template <Direction D>
constexpr Checks kFrontEndChecks = D == Direction::Forward ? Checks::Forward : Checks::Inverse;

// _forward(x, xp, fp, workers, left, right, missing) and _inverse(f, xp, fp,
// method, workers, left, right, missing): exact_interp.forward and inverse
// where every argument is of the typed functions' own dtypes and every rule
// plain, with the front end's checks; NotImplemented for anything else, which
// the front end converts. Every parameter may be given by position.
constexpr const char* kFrontForwardParams[] = {"x", "xp", "fp", "workers", "left", "right", "missing"};
constexpr const char* kFrontInverseParams[] = {"f", "xp", "fp", "method", "workers", "left", "right", "missing"};

template <Direction D>
PyObject* front_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return in_module(module, [&]() -> PyObject* {
        static constexpr Signature forward{"_forward", kFrontForwardParams, 7, 7, 3};
        static constexpr Signature inverse{"_inverse", kFrontInverseParams, 8, 8, 3};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};  // the last, _nat, never given
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        constexpr int rules = D == Direction::Forward ? 4 : 5;  // left, right, missing
        // The words of the defaults are the rules the core applies where none is given: passed as absent, so
        // that the plain call keeps the core's own path. The inverse's outside rules default to None instead.
        for (int k = D == Direction::Forward ? 0 : 2; k < 3; ++k)
            if (is_word(bound[rules + k], "raise")) bound[rules + k] = nullptr;
        if (is_typed(bound[1], Element::U64) && plain_rules(bound + rules)) {
            const Element query = D == Direction::Forward ? Element::U64 : Element::I64;
            if (is_typed(bound[2], Element::I64) && is_typed(bound[0], query))
                return call_bound<D, i64, true>(sig, bound, kFrontEndChecks<D>);
            if (is_typed(bound[2], Element::F64) && is_typed(bound[0], D == Direction::Forward ? query : Element::F64))
                return call_bound<D, f64, true>(sig, bound, kFrontEndChecks<D>);
        }
        Py_RETURN_NOTIMPLEMENTED;
    });
}

// _set_fatal_error(type): the class of this module's fatal errors from now
// on (exact_interp.FatalError, handed over by the package as it imports it).
PyObject* set_fatal_error(PyObject* module, PyObject* type) {
    if (PyType_Check(type) == 0 || PyObject_IsSubclass(type, PyExc_Exception) != 1) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an exception class is required");
        return nullptr;
    }
    State& state = state_of(module);
    Py_INCREF(type);
    PyObject* old = std::exchange(state.fatal_error, type);
    Py_XDECREF(old);
    Py_RETURN_NONE;
}

// The instruction set each function's run kernels use on this processor,
// chosen at load (for benchmarks and bug reports).
PyObject* kernel_targets(PyObject*, PyObject*) {
    PyObject* d = PyDict_New();
    if (d == nullptr) return nullptr;
    const struct {
        const char* function;
        bool float_values, inverse;
    } kernels[] = {{"forward_int", false, false},
                   {"inverse_int", false, true},
                   {"forward_float", true, false},
                   {"inverse_float", true, true}};
    for (const auto& k : kernels) {
        PyObject* name = PyUnicode_FromString(rust::kernels::name(rust::kernels::active(k.float_values, k.inverse)));
        if (name == nullptr || PyDict_SetItemString(d, k.function, name) < 0) {
            Py_XDECREF(name);
            Py_DECREF(d);
            return nullptr;
        }
        Py_DECREF(name);
    }
    return d;
}

// _force_kernel_target(name): every kernel of this module on the named
// target from now on (None: the choice made at load), for benchmarks that
// time each target the processor runs. Not for use while calls run.
PyObject* force_kernel_target(PyObject*, PyObject* arg) {
    if (arg == Py_None) {
        rust::kernels::choose_automatically();
        Py_RETURN_NONE;
    }
    const char* text = PyUnicode_Check(arg) ? PyUnicode_AsUTF8AndSize(arg, nullptr) : nullptr;
    if (text == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a target name or None is required");
        return nullptr;
    }
    for (const rust::kernels::Target t : rust::kernels::compiled()) {
        if (std::strcmp(rust::kernels::name(t), text) == 0 && rust::kernels::supported(t)) {
            rust::kernels::force(t);
            Py_RETURN_NONE;
        }
    }
    PyErr_Format(PyExc_ValueError, "kernel target %R is not one this build holds and this processor runs", arg);
    return nullptr;
}

PyMethodDef functions[] = {
    {"_set_fatal_error", set_fatal_error, METH_O,
     "_set_fatal_error(type)\n--\n\nThe class of this module's fatal errors (exact_interp.FatalError)."},
    {"_kernel_targets", kernel_targets, METH_NOARGS,
     "_kernel_targets()\n--\n\nThe instruction set of each function's run kernels on this processor."},
    {"_force_kernel_target", force_kernel_target, METH_O,
     "_force_kernel_target(name)\n--\n\nEvery kernel on the named target from now on (None: the choice made at "
     "load); for benchmarks."},
    {"forward_int", function(&entry<Direction::Forward, i64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_int(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     RUST_DOC_forward_int},
    {"forward_float", function(&entry<Direction::Forward, f64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_float(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     RUST_DOC_forward_float},
    {"inverse_int", function(&entry<Direction::Inverse, i64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_int(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     RUST_DOC_inverse_int},
    {"inverse_float", function(&entry<Direction::Inverse, f64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_float(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     RUST_DOC_inverse_float},
    {"_forward", function(&front_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "_forward(x, xp, fp, workers=None, left=None, right=None, missing=None)\n--\n\n"
     "exact_interp.forward of typed arrays and plain rules; NotImplemented for any other argument."},
    {"_inverse", function(&front_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "_inverse(f, xp, fp, method=None, workers=None, left=None, right=None, missing=None)\n--\n\n"
     "exact_interp.inverse of typed arrays and plain rules; NotImplemented for any other argument."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- Table ------------------------------------------------------------------

// The typed table under exact_interp.Interpolator: uint64 positions with
// int64 or float64 values, copied and checked once, immutable: calls from any
// number of threads only read it. It knows nothing of the caller's kinds
// (exact_interp.Interpolator keeps them); a query of another kind than the
// typed one is the front end's to convert. Its values may be several columns
// over the same positions (the forward only).
using TableVariant = std::variant<Columned<i64>, Columned<f64>>;

struct Table {
    PyObject_HEAD
    TableVariant* table;  // owned; never null once tp_new has returned the object
    Checks checks;        // how its knots were checked
};

TableVariant& table_of(PyObject* self) { return *reinterpret_cast<Table*>(self)->table; }

constexpr const char* kTableParams[] = {"xp", "fp", "columns", "_checks"};
constexpr const char* kForwardMethodParams[] = {"x", "workers", "left", "right", "missing", "_nat"};
constexpr const char* kInverseMethodParams[] = {"f", "method", "workers", "left", "right", "missing", "_nat"};

// The words of Table's _checks: "forward" (the default: an Interpolator's),
// "inverse" (exact_interp.inverse's), "typed" (the typed functions').
constexpr const char* kChecksWords[] = {"typed", "forward", "inverse"};  // in the order of Checks
static_assert(static_cast<int>(Checks::Typed) == 0 && static_cast<int>(Checks::Inverse) == 2);

bool parse_checks(PyObject* word, Checks& checks) {
    const char* text = PyUnicode_Check(word) ? PyUnicode_AsUTF8AndSize(word, nullptr) : nullptr;
    for (int k = 0; text != nullptr && k < 3; ++k)
        if (std::strcmp(text, kChecksWords[k]) == 0) {
            checks = static_cast<Checks>(k);
            return true;
        }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "_checks must be 'forward', 'inverse' or 'typed'");
    return false;
}

// Table(xp, fp, columns=1): the typed functions' arguments and messages; fp's
// dtype chooses the scheme, and holds `columns` columns of xp's length, one
// after another.
PyObject* table_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* module = module_of_type(type);
    if (module == nullptr) return nullptr;
    return in_module(module, [&]() -> PyObject* {
        static constexpr Signature sig{"Table", kTableParams, 4, 4, 2};
        // The tuple and dict of a type call, as the vector binding reads them.
        const Py_ssize_t nargs = PyTuple_Size(args), nkw = kwargs ? PyDict_Size(kwargs) : 0;
        if (nargs < 0 || nkw < 0) return nullptr;
        std::unique_ptr<PyObject*[]> flat(new PyObject*[static_cast<std::size_t>(nargs + nkw) + 1]);
        for (Py_ssize_t k = 0; k < nargs; ++k) flat[static_cast<std::size_t>(k)] = PyTuple_GetItem(args, k);
        Ref kwnames;
        if (nkw > 0) {
            kwnames = Ref(PyTuple_New(nkw));
            if (!kwnames) return nullptr;
            PyObject *key, *value;
            Py_ssize_t pos = 0, j = 0;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                Py_INCREF(key);
                PyTuple_SetItem(kwnames.get(), j, key);  // steals the new reference
                flat[static_cast<std::size_t>(nargs + j++)] = value;
            }
        }
        PyObject* bound[4] = {};
        if (!bind(sig, flat.get(), nargs, kwnames.get(), bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        View xp, fp;
        if (!accept(bound[0], Element::U64, "xp", xp)) return nullptr;
        // float64 values take the float scheme, ndarray subclasses too (the typed functions take them)
        const bool is_float = PyArray_Check(bound[1]) &&
                              PyArray_DESCR(reinterpret_cast<PyArrayObject*>(bound[1]))->kind == 'f';
        if (!accept(bound[1], is_float ? Element::F64 : Element::I64, "fp", fp)) return nullptr;
        const Py_ssize_t columns = bound[2] != nullptr ? PyLong_AsSsize_t(bound[2]) : 1;
        if (columns == -1 && PyErr_Occurred()) return nullptr;
        Checks checks = Checks::Forward;
        if (bound[3] != nullptr && !parse_checks(bound[3], checks)) return nullptr;
        const Threads<true> threads{0};
        std::unique_ptr<TableVariant> table(
            is_float ? new TableVariant(make_columns<f64>(xp, fp, columns, threads, checks))
                     : new TableVariant(make_columns<i64>(xp, fp, columns, threads, checks)));
        Ref self(PyType_GenericAlloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<Table*>(self.get())->table = table.release();
        reinterpret_cast<Table*>(self.get())->checks = checks;
        return self.release();
    });
}

void table_dealloc(PyObject* self) {
    delete reinterpret_cast<Table*>(self)->table;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// A call of one method on the table, holding a reference to the object for
// the whole call, as the GIL is released while it runs: a query of the typed
// dtype with plain rules as the typed functions take it; NotImplemented for
// any other, which exact_interp.Interpolator converts. Every parameter may be
// given by position.
template <Direction D>
PyObject* table_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* module = module_of_type(Py_TYPE(self));
    if (module == nullptr) return nullptr;
    return in_module(module, [&]() -> PyObject* {
        static constexpr Signature forward{"forward", kForwardMethodParams, 6, 6, 1};
        static constexpr Signature inverse{"inverse", kInverseMethodParams, 7, 7, 1};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        const Ref keep = Ref::borrow(self);
        const bool is_int = std::holds_alternative<Columned<i64>>(table_of(self));
        const Element query = D == Direction::Forward ? Element::U64 : (is_int ? Element::I64 : Element::F64);
        if (!is_typed(bound[0], query) || !plain_rules(bound + (D == Direction::Forward ? 2 : 3)))
            Py_RETURN_NOTIMPLEMENTED;
        return std::visit(
            [&]<class F>(const Columned<F>& c) -> PyObject* {
                View q;
                if (!accept(bound[0], Kind<D, F>::query, sig.names[0], q)) return nullptr;
                InverseMethod method = InverseMethod::Exact;
                if constexpr (D == Direction::Inverse) {
                    if (c.columns != 1) {
                        PyErr_Format(PyExc_TypeError, "the inverse needs one column of values, not %zd",
                                     static_cast<Py_ssize_t>(c.columns));
                        return nullptr;
                    }
                    if (!parse_method_noted(bound[1], method)) return nullptr;
                }
                constexpr int workers = D == Direction::Forward ? 1 : 2;
                Threads<true> threads{0};
                if (!parse_workers(bound[workers], threads.workers)) return nullptr;
                piecewise::Rules<typename Kind<D, F>::Out> rules;
                bool given = false;
                if (!parse_rules<D>(bound + workers + 1, method, rules, given)) return nullptr;
                if constexpr (D == Direction::Forward) {
                    if (c.columns != 1) return evaluate_columns(c, q, threads, rules);
                }
                return evaluate<D, F>(c.table, q, method, threads, given ? &rules : nullptr);
            },
            table_of(self));
    });
}

// A read-only array over one of the table's knot vectors, which keeps the
// object (and so the vector) alive.
template <class T>
PyObject* knots_view(PyObject* self, const piecewise::Knots<T>& knots) {
    if (!ensure_numpy_api()) return nullptr;
    constexpr Element element = std::is_same_v<T, u64> ? Element::U64 : value_element<T>;
    return read_only_view(element, knots.data(), static_cast<npy_intp>(knots.size()), self);
}

PyObject* table_xp(PyObject* self, void*) {
    return in_module(module_of_type(Py_TYPE(self)), 
        [&] { return std::visit([&](const auto& c) { return knots_view(self, c.table.xp()); }, table_of(self)); });
}

PyObject* table_fp(PyObject* self, void*) {
    return in_module(module_of_type(Py_TYPE(self)), 
        [&] { return std::visit([&](const auto& c) { return knots_view(self, c.columns == 1 ? c.table.fp() : c.values); },
                          table_of(self));
    });
}

PyObject* table_columns(PyObject* self, void*) {
    return PyLong_FromSize_t(std::visit([](const auto& c) { return c.columns; }, table_of(self)));
}

PyObject* table_checks(PyObject* self, void*) {
    return PyUnicode_FromString(kChecksWords[static_cast<int>(reinterpret_cast<Table*>(self)->checks)]);
}

// Pickled as the call that rebuilds it: Table(xp, fp, columns, _checks).
PyObject* table_reduce(PyObject* self, PyObject*) {
    const Ref xp(table_xp(self, nullptr));
    if (!xp) return nullptr;
    const Ref fp(table_fp(self, nullptr));
    if (!fp) return nullptr;
    const Ref columns(table_columns(self, nullptr));
    if (!columns) return nullptr;
    const Ref typed(table_checks(self, nullptr));
    if (!typed) return nullptr;
    return Py_BuildValue("O(OOOO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), xp.get(), fp.get(), columns.get(),
                         typed.get());
}

template <Direction D>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return table_call<D>(self, args, nargs, kwnames);
}

PyMethodDef table_methods[] = {
    {"forward", function(&method_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward($self, x, workers=None, left='raise', right='raise', missing='raise', _nat=False)\n--\n\n"
     "forward_int or forward_float with these knots; over value columns, columns·len(x) elements, column after "
     "column. NotImplemented for a query of another dtype or a rule that is not plain."},
    {"inverse", function(&method_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse($self, f, method=None, workers=None, left=None, right=None, missing='raise', _nat=False)\n--\n\n"
     "inverse_int or inverse_float with these knots. NotImplemented for a query of another dtype or a rule that "
     "is not plain."},
    {"__reduce__", table_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"xp", table_xp, nullptr, "The positions (uint64): a read-only view of the table's copy.", nullptr},
    {"fp", table_fp, nullptr,
     "The values (int64 or float64), every column one after another: a read-only view of the table's copy.", nullptr},
    {"columns", table_columns, nullptr, "The number of value columns.", nullptr},
    {"_checks", table_checks, nullptr, "How the knots were checked: 'forward', 'inverse' or 'typed'.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(table_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {Py_tp_doc, const_cast<char*>("Table(xp, fp, columns=1, _checks='forward')\n--\n\nThe typed knots of an "
                                  "exact_interp.Interpolator, checked as the front end checks them.")},
    {0, nullptr},
};

PyType_Spec table_spec = {"exact_interp._native.Table", sizeof(Table), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, table_slots};

// ---- the module -------------------------------------------------------------

// The module loads in the main interpreter only: NumPy's API table is one per
// process, and so is NumPy's own module.
int exec_module(PyObject* module) {
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) != 0) {
        PyErr_SetString(PyExc_ImportError,
                        "exact_interp._native cannot be loaded in a subinterpreter: it runs in the main interpreter "
                        "only, as NumPy does");
        return -1;
    }
    State& state = state_of(module);
    state.fatal_error = Ref::borrow(PyExc_RuntimeError).release();  // until exact_interp hands its class over
    state.table_type = PyType_FromModuleAndSpec(module, &table_spec, nullptr);
    if (state.table_type == nullptr) return -1;
    return PyModule_AddObjectRef(module, "Table", state.table_type);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    State& state = state_of(module);
    Py_VISIT(state.fatal_error);
    Py_VISIT(state.table_type);
    return 0;
}

int clear_module(PyObject* module) {
    State& state = state_of(module);
    Py_CLEAR(state.fatal_error);
    Py_CLEAR(state.table_type);
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "exact_interp._native", "", sizeof(State), functions, slots,
                          traverse_module, clear_module, free_module};

}  // namespace

PyObject* fatal_error_type() {
    if (entered == nullptr || entered->fatal_error == nullptr) return PyExc_RuntimeError;
    return entered->fatal_error;
}

}  // namespace rust::module

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&rust::module::definition); }
