// The module exact_interp._native: the four functions of `rust` with the same
// arguments, results and messages, which release the GIL while they copy the
// knots and evaluate and can split one query across threads (keyword
// `workers`); forward and inverse, which take positions and values of other
// kinds too; and Interpolator, a table copied and checked once. Fatal errors
// are exact_interp.FatalError, an ordinary exception. Arguments of other
// kinds than the typed ones are converted by exact_interp._convert.
#include <initializer_list>
#include <memory>
#include <new>
#include <variant>

#include "kernels/kernels.hpp"
#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/errors.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"

namespace rust::module {

namespace {

// ---- the functions ----------------------------------------------------------

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
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Signature& sig = kSignatures[(D == Direction::Forward ? 0 : 2) + (std::is_same_v<F, i64> ? 0 : 1)];
    return guarded([&] { return call<D, F, true>(sig, args, nargs, kwnames); });
}

// _forward_columns(x, xp, values, columns, *, workers, left, right, missing,
// _nat): the forward over `columns` value columns of xp's length, one after
// another in `values` (int64 or float64), into a new array of
// columns·len(x) elements, column by column; each column's answers and
// errors those of forward_int / forward_float on that column, the segment of
// each key found once for all (the front end's value columns).
bool is_typed(PyObject* obj, Element element);

constexpr const char* kColumnsParams[] = {"x", "xp", "values", "columns", "workers", "left", "right", "missing",
                                          "_nat"};

template <class F>
PyObject* forward_columns(const Signature& sig, PyObject* const* bound) {
    View query, xp, values;
    if (!accept(bound[0], Element::U64, "x", query) || !accept(bound[1], Element::U64, "xp", xp) ||
        !accept(bound[2], value_element<F>, "values", values))
        return nullptr;
    const Py_ssize_t columns = PyLong_AsSsize_t(bound[3]);
    if (columns == -1 && PyErr_Occurred()) return nullptr;
    if (columns < 1 || values.length != columns * xp.length) panic("xp and fp must have same length");
    Threads<true> threads{};
    piecewise::Rules<F> rules;
    bool given = false;
    if (!parse_workers(bound[4], threads.workers) || !parse_rules<Direction::Forward>(bound + 5, InverseMethod::Exact,
                                                                                      rules, given))
        return nullptr;
    (void)sig;
    View first;  // the first column: the table's own values (values stays referenced for the call)
    first.start = values.start;
    first.stride = values.stride;
    first.length = xp.length;
    const piecewise::Interp<u64, F> table = make_table<F>(xp, first, threads);
    const piecewise::Knots<F> all = copy<F>(values);  // contiguous, column after column
    Ref result(new_result(value_element<F>, columns * query.length));
    if (!result) return nullptr;
    auto* out = static_cast<F*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const bool release = columns * query.length >= kReleaseGil;
    const std::optional<piecewise::Failure> failure = maybe_without_gil(release, [&] {
        const parallel::Split split = parallel::split_for(static_cast<std::size_t>(query.length), threads.workers);
        return parallel::forward_columns(table, query.strided<u64>(), all.data() + xp.length,
                                         static_cast<std::size_t>(columns), out, split, rules);
    });
    if (failure) {
        raise_interp_error(Direction::Forward, failure->error, failure->index);
        return nullptr;
    }
    return result.release();
}

PyObject* columns_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature sig{"_forward_columns", kColumnsParams, 9, 4, 4};
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        if (is_typed(bound[2], Element::F64)) return forward_columns<f64>(sig, bound);
        return forward_columns<i64>(sig, bound);
    });
}

template <class Fn>
constexpr PyCFunction function(Fn* fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// ---- the front end ------------------------------------------------------------

// Whether obj is an array the typed functions take as it is. Descriptors of
// another kind are never equivalent: they are told apart without NumPy's
// equivalence test, which costs as much as a short call.
bool is_typed(PyObject* obj, Element element) {
    if (!PyArray_Check(obj)) return false;
    PyArrayObject* a = reinterpret_cast<PyArrayObject*>(obj);
    PyArray_Descr *have = PyArray_DESCR(a), *want = descriptor(element);
    if (PyArray_NDIM(a) != 1) return false;
    return have == want || (have->kind == want->kind && PyArray_EquivTypes(have, want));
}

// exact_interp._convert.<name>(*args), the conversions of every other kind of
// argument; a null argument passes as None.
PyObject* convert(const char* name, std::initializer_list<PyObject*> args) {
    static PyObject* module = nullptr;  // kept for the process
    if (module == nullptr) {
        module = PyImport_ImportModule("exact_interp._convert");
        if (module == nullptr) return nullptr;
    }
    const Ref fn(PyObject_GetAttrString(module, name));
    if (!fn) return nullptr;
    const Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(args.size())));
    if (!tuple) return nullptr;
    Py_ssize_t k = 0;
    for (PyObject* a : args) {
        PyObject* item = a != nullptr ? a : Py_None;
        Py_INCREF(item);
        PyTuple_SetItem(tuple.get(), k++, item);  // steals the new reference
    }
    try {
        return PyObject_CallObject(fn.get(), tuple.get());
    } catch (...) {  // only the thread's end at finalisation unwinds out of Python: parked before any
        park_forever();  // destructor here releases a reference without the GIL
    }
}

// forward(x, xp, fp) and inverse(f, xp, fp, method) of any accepted kinds:
// arrays of the typed functions' own dtypes go to them directly, everything
// else through the conversions.
template <Direction D>
PyObject* front_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature forward{"forward", kForwardParams, 7, 3, 3};
        static constexpr Signature inverse{"inverse", kInverseParams, 8, 4, 3};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        if (is_typed(bound[1], Element::U64)) {
            const Element query = D == Direction::Forward ? Element::U64 : Element::I64;
            if (is_typed(bound[2], Element::I64) && is_typed(bound[0], query))
                return call_bound<D, i64, true>(sig, bound);
            if (is_typed(bound[2], Element::F64) && is_typed(bound[0], D == Direction::Forward ? query : Element::F64))
                return call_bound<D, f64, true>(sig, bound);
        }
        if constexpr (D == Direction::Forward)
            return convert("forward", {bound[0], bound[1], bound[2], bound[3], bound[4], bound[5], bound[6]});
        else
            return convert("inverse",
                           {bound[0], bound[1], bound[2], bound[3], bound[4], bound[5], bound[6], bound[7]});
    });
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

PyMethodDef functions[] = {
    {"_kernel_targets", kernel_targets, METH_NOARGS,
     "_kernel_targets()\n--\n\nThe instruction set of each function's run kernels on this processor."},
    {"forward_int", function(&entry<Direction::Forward, i64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_int(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"},
    {"forward_float", function(&entry<Direction::Forward, f64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_float(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"},
    {"inverse_int", function(&entry<Direction::Inverse, i64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_int(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"},
    {"inverse_float", function(&entry<Direction::Inverse, f64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_float(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"},
    {"_forward_columns", function(&columns_entry), METH_FASTCALL | METH_KEYWORDS,
     "_forward_columns(x, xp, values, columns, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     "The forward over value columns, one after another in `values`, into columns·len(x) elements."},
    {"forward", function(&front_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     "Positions to values, for positions and values of every kind the library converts exactly."},
    {"inverse", function(&front_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     "Values to positions, for positions and values of every kind the library converts exactly."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- Interpolator -----------------------------------------------------------

// The table, immutable once built: calls from any number of threads only
// read it.
using Table = std::variant<piecewise::Interp<u64, i64>, piecewise::Interp<u64, f64>>;

struct Interpolator {
    PyObject_HEAD
    Table* table;    // owned; never null once tp_new has returned the object
    PyObject* kinds;  // owned: what the caller's knots were (exact_interp._convert), null for the typed dtypes
};

Table& table_of(PyObject* self) { return *reinterpret_cast<Interpolator*>(self)->table; }

constexpr const char* kInterpolatorParams[] = {"xp", "fp"};
constexpr const char* kForwardMethodParams[] = {"x", "workers", "left", "right", "missing", "_nat"};
constexpr const char* kInverseMethodParams[] = {"f", "method", "workers", "left", "right", "missing", "_nat"};

// Interpolator(xp, fp): typed knots are taken as the typed functions take
// them (fp's dtype chooses the scheme, with their messages); knots of other
// kinds are converted first, as forward and inverse convert them, and their
// kinds kept for the results.
PyObject* interpolator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature sig{"Interpolator", kInterpolatorParams, 2, 2, 2};
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
        PyObject* bound[2] = {};
        if (!bind(sig, flat.get(), nargs, kwnames.get(), bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        // Knots of other kinds become typed arrays first: (keys, values, kinds).
        PyObject* knots[2] = {bound[0], bound[1]};
        Ref converted, kinds;
        if (!is_typed(bound[0], Element::U64) || !(is_typed(bound[1], Element::I64) || is_typed(bound[1], Element::F64))) {
            converted = Ref(convert("table", {bound[0], bound[1]}));
            if (!converted) return nullptr;
            knots[0] = PyTuple_GetItem(converted.get(), 0);
            knots[1] = PyTuple_GetItem(converted.get(), 1);
            kinds = Ref::borrow(PyTuple_GetItem(converted.get(), 2));
            if (!knots[0] || !knots[1] || !kinds) return nullptr;
        }
        View xp, fp;
        if (!accept(knots[0], Element::U64, "xp", xp)) return nullptr;
        const bool is_float = is_typed(knots[1], Element::F64);
        if (!accept(knots[1], is_float ? Element::F64 : Element::I64, "fp", fp)) return nullptr;
        const Threads<true> threads{0};
        std::unique_ptr<Table> table(is_float ? new Table(make_table<f64>(xp, fp, threads))
                                              : new Table(make_table<i64>(xp, fp, threads)));
        Ref self(PyType_GenericAlloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<Interpolator*>(self.get())->table = table.release();
        reinterpret_cast<Interpolator*>(self.get())->kinds = kinds.release();
        return self.release();
    });
}

PyObject* kinds_of(PyObject* self) { return reinterpret_cast<Interpolator*>(self)->kinds; }

void interpolator_dealloc(PyObject* self) {
    delete reinterpret_cast<Interpolator*>(self)->table;
    Py_XDECREF(kinds_of(self));
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// The call of one method on the table, holding a reference to the object for
// the whole call, as the GIL is released while it runs. `typed`: the query
// is taken as the typed functions take it (the private _forward, _inverse);
// otherwise a query of another kind, or any query of a table of other kinds,
// goes through the conversions.
template <Direction D, bool Typed>
PyObject* interpolator_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        // the public methods without _nat
        static constexpr Signature forward{Typed ? "_forward" : "forward", kForwardMethodParams, Typed ? 6 : 5, 1, 1};
        static constexpr Signature inverse{Typed ? "_inverse" : "inverse", kInverseMethodParams, Typed ? 7 : 6, 2, 1};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        const Ref keep = Ref::borrow(self);
        if constexpr (!Typed) {
            const bool is_int = std::holds_alternative<piecewise::Interp<u64, i64>>(table_of(self));
            const Element query = D == Direction::Forward ? Element::U64 : (is_int ? Element::I64 : Element::F64);
            if (kinds_of(self) != nullptr || !is_typed(bound[0], query)) {
                if constexpr (D == Direction::Forward)
                    return convert("interpolator_forward", {self, bound[0], bound[1], bound[2], bound[3], bound[4]});
                else
                    return convert("interpolator_inverse",
                                   {self, bound[0], bound[1], bound[2], bound[3], bound[4], bound[5]});
            }
        }
        return std::visit(
            [&]<class F>(const piecewise::Interp<u64, F>& table) -> PyObject* {
                View query;
                if (!accept(bound[0], Kind<D, F>::query, sig.names[0], query)) return nullptr;
                InverseMethod method = InverseMethod::Exact;
                if constexpr (D == Direction::Inverse) {
                    if (!parse_method(bound[1], method)) return nullptr;
                }
                constexpr int workers = D == Direction::Forward ? 1 : 2;
                Threads<true> threads{0};
                if (!parse_workers(bound[workers], threads.workers)) return nullptr;
                piecewise::Rules<typename Kind<D, F>::Out> rules;
                bool given = false;
                if (!parse_rules<D>(bound + workers + 1, method, rules, given)) return nullptr;
                return evaluate<D, F>(table, query, method, threads, given ? &rules : nullptr);
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

PyObject* typed_xp(PyObject* self, void*) {
    return guarded([&] { return std::visit([&](const auto& t) { return knots_view(self, t.xp()); }, table_of(self)); });
}

PyObject* typed_fp(PyObject* self, void*) {
    return guarded([&] { return std::visit([&](const auto& t) { return knots_view(self, t.fp()); }, table_of(self)); });
}

// The knots in the caller's terms: the typed views, or converted back.
PyObject* caller_knots(PyObject* self, int which) {
    if (kinds_of(self) == nullptr) return which == 0 ? typed_xp(self, nullptr) : typed_fp(self, nullptr);
    const Ref pair(convert("knots", {self}));
    if (!pair) return nullptr;
    return Ref::borrow(PyTuple_GetItem(pair.get(), which)).release();
}

PyObject* interpolator_xp(PyObject* self, void*) { return caller_knots(self, 0); }
PyObject* interpolator_fp(PyObject* self, void*) { return caller_knots(self, 1); }
PyObject* interpolator_kinds(PyObject* self, void*) {
    return Ref::borrow(kinds_of(self) != nullptr ? kinds_of(self) : Py_None).release();
}

// Pickled as the call that rebuilds it: Interpolator(xp, fp).
PyObject* interpolator_reduce(PyObject* self, PyObject*) {
    const Ref xp(interpolator_xp(self, nullptr));
    if (!xp) return nullptr;
    const Ref fp(interpolator_fp(self, nullptr));
    if (!fp) return nullptr;
    return Py_BuildValue("O(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), xp.get(), fp.get());
}

// <exact_interp.Interpolator: 3 knots of int64 values, xp from 100 to 300, fp from 0 to 20>
PyObject* interpolator_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        if (kinds_of(self) != nullptr) return convert("describe", {self});
        return std::visit(
            [&]<class F>(const piecewise::Interp<u64, F>& t) -> PyObject* {
                const char* kind = std::is_same_v<F, i64> ? "int64" : "float64";
                const std::size_t n = t.xp().size();
                if (n == 0) return PyUnicode_FromFormat("<exact_interp.Interpolator: 0 knots of %s values>", kind);
                const unsigned long long x0 = t.xp().front(), x1 = t.xp().back();
                Ref f0, f1;
                if constexpr (std::is_same_v<F, i64>) {
                    f0 = Ref(PyLong_FromLongLong(t.fp().front()));
                    f1 = Ref(PyLong_FromLongLong(t.fp().back()));
                } else {
                    f0 = Ref(PyFloat_FromDouble(t.fp().front()));
                    f1 = Ref(PyFloat_FromDouble(t.fp().back()));
                }
                if (!f0 || !f1) return nullptr;
                if (n == 1)
                    return PyUnicode_FromFormat("<exact_interp.Interpolator: 1 knot of %s values, xp %llu, fp %R>",
                                                kind, x0, f0.get());
                return PyUnicode_FromFormat(
                    "<exact_interp.Interpolator: %zu knots of %s values, xp from %llu to %llu, fp from %R to %R>", n,
                    kind, x0, x1, f0.get(), f1.get());
            },
            table_of(self));
    });
}

template <Direction D, bool Typed>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return interpolator_call<D, Typed>(self, args, nargs, kwnames);
}

PyMethodDef interpolator_methods[] = {
    {"forward", function(&method_entry<Direction::Forward, false>), METH_FASTCALL | METH_KEYWORDS,
     "forward($self, x, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     "Positions to values in the kind of the table's values, as forward with these knots."},
    {"inverse", function(&method_entry<Direction::Inverse, false>), METH_FASTCALL | METH_KEYWORDS,
     "inverse($self, f, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     "Values to positions in the kind of the table's positions under `method`, as inverse with these knots."},
    {"_forward", function(&method_entry<Direction::Forward, true>), METH_FASTCALL | METH_KEYWORDS,
     "_forward($self, x, *, workers=None)\n--\n\nforward_int or forward_float on the typed knots."},
    {"_inverse", function(&method_entry<Direction::Inverse, true>), METH_FASTCALL | METH_KEYWORDS,
     "_inverse($self, f, method=None, *, workers=None)\n--\n\ninverse_int or inverse_float on the typed knots."},
    {"__reduce__", interpolator_reduce, METH_NOARGS, nullptr},
    // Interpolator[numpy.int64] in annotations, as the type stubs write it
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef interpolator_getset[] = {
    {"xp", interpolator_xp, nullptr,
     "The positions of the knots in the caller's kind: for uint64 knots a read-only view of the table's copy.",
     nullptr},
    {"fp", interpolator_fp, nullptr,
     "The values of the knots in the caller's kind: for int64 or float64 knots a read-only view of the table's copy.",
     nullptr},
    {"_xp", typed_xp, nullptr, "The typed positions (uint64 keys) of the table's copy.", nullptr},
    {"_fp", typed_fp, nullptr, "The typed values (int64 or float64) of the table's copy.", nullptr},
    {"_kinds", interpolator_kinds, nullptr, "What the caller's knots were, or None for the typed dtypes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kInterpolatorDoc =
    "Interpolator(xp, fp)\n--\n\n"
    "The table of knots (xp, fp), copied and checked once: positions and values of every kind that "
    "exact_interp.forward and inverse take (uint64 positions with int64 or float64 values as they are). "
    "Immutable and safe to share between threads; each call costs the same whatever the table's size. "
    "forward(x) and inverse(f, method) give the results and errors of forward and inverse with these knots.";

PyType_Slot interpolator_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(interpolator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(interpolator_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(interpolator_repr)},
    {Py_tp_methods, interpolator_methods},
    {Py_tp_getset, interpolator_getset},
    {Py_tp_doc, const_cast<char*>(kInterpolatorDoc)},
    {0, nullptr},
};

PyType_Spec interpolator_spec = {
    "exact_interp.Interpolator", sizeof(Interpolator), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    interpolator_slots};

// ---- the module -------------------------------------------------------------

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "exact_interp._native", "", 0, functions, nullptr, nullptr,
                          nullptr, nullptr};

PyObject* fatal_type = nullptr;  // exact_interp.FatalError, looked up at the first fatal error

PyObject* initialise() {
    Ref module(PyModule_Create(&definition));
    if (!module) return nullptr;
    const Ref type(PyType_FromSpec(&interpolator_spec));
    if (!type || PyModule_AddObjectRef(module.get(), "Interpolator", type.get()) < 0) return nullptr;
    return module.release();
}

}  // namespace

PyObject* fatal_error_type() {
    if (fatal_type == nullptr) {
        const Ref package(PyImport_ImportModule("exact_interp"));
        if (!package) return nullptr;
        fatal_type = PyObject_GetAttrString(package.get(), "FatalError");
    }
    return fatal_type;
}

}  // namespace rust::module

PyMODINIT_FUNC PyInit__native() {
    return rust::module::guarded([] { return rust::module::initialise(); });
}
