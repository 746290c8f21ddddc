// The module exact_interp._native: the four functions of `rust` with the same
// arguments, results and messages, which release the GIL while they copy the
// knots and evaluate and can split one query across threads (keyword
// `workers`) and take the rules outside the table; forward and inverse, which
// take positions and values of other kinds too; and Table, the typed table
// copied and checked once under exact_interp.Interpolator. Fatal errors are
// exact_interp.FatalError, an ordinary exception. Arguments of other kinds
// than the typed ones are converted by exact_interp._convert.
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
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
// values; a count that does not divide is fatal, as lengths that differ are.
template <class F>
Columned<F> make_columns(const View& xp, const View& values, Py_ssize_t columns, Threads<true> threads) {
    if (columns == 1) return {make_table<F>(xp, values, threads), {}, 1};
    if (columns < 1 || values.length != columns * xp.length)
        throw NotedPanic("xp and fp must have same length", "len(xp) = " + std::to_string(xp.length) + ", " +
                                                                std::to_string(columns) + " columns of " +
                                                                std::to_string(values.length) + " values");
    View first;  // the first column: the table's own values (values stays referenced for the call)
    first.start = values.start;
    first.stride = values.stride;
    first.length = xp.length;
    piecewise::Interp<u64, F> table = make_table<F>(xp, first, threads);
    piecewise::Knots<F> all = maybe_without_gil(values.length >= kReleaseGil, [&] { return copy<F>(values); });
    return {std::move(table), std::move(all), static_cast<std::size_t>(columns)};
}

// The forward over every column into a new array of columns·len(x) elements,
// column by column; each column's answers and errors those of forward_int /
// forward_float on that column, the segment of each key found once for all.
template <class F>
PyObject* evaluate_columns(const Columned<F>& c, const View& query, Threads<true> threads,
                           const piecewise::Rules<F>& rules) {
    const npy_intp columns = static_cast<npy_intp>(c.columns);
    Ref result(new_result(value_element<F>, columns * query.length));
    if (!result) return nullptr;
    auto* out = static_cast<F*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get())));
    const F* more = c.columns == 1 ? nullptr : c.values.data() + c.table.xp().size();  // the columns after the first
    const std::optional<piecewise::Failure> failure = maybe_without_gil(columns * query.length >= kReleaseGil, [&] {
        const parallel::Split split = parallel::split_for(static_cast<std::size_t>(query.length), threads.workers);
        return parallel::forward_columns(c.table, query.strided<u64>(), more, c.columns, out, split, rules);
    });
    if (failure) {  // the note names the element and the positions, which every column shares
        const std::string note = failure_note<Direction::Forward>(c.table, query, *failure);
        raise_interp_error(Direction::Forward, failure->error, failure->index);
        if (!note.empty()) add_note(note);
        return nullptr;
    }
    return result.release();
}

// _forward_columns(x, xp, values, columns, *, workers, left, right, missing,
// _nat): the forward over `columns` value columns of xp's length, one after
// another in `values` (int64 or float64), as evaluate_columns gives it (the
// front end's value columns).
bool is_typed(PyObject* obj, Element element);

constexpr const char* kColumnsParams[] = {"x", "xp", "values", "columns", "workers", "left", "right", "missing",
                                          "_nat"};

template <class F>
PyObject* forward_columns(PyObject* const* bound) {
    View query, xp, values;
    if (!accept(bound[0], Element::U64, "x", query) || !accept(bound[1], Element::U64, "xp", xp) ||
        !accept(bound[2], value_element<F>, "values", values))
        return nullptr;
    const Py_ssize_t columns = PyLong_AsSsize_t(bound[3]);
    if (columns == -1 && PyErr_Occurred()) return nullptr;
    Threads<true> threads{};
    piecewise::Rules<F> rules;
    bool given = false;
    if (!parse_workers(bound[4], threads.workers) || !parse_rules<Direction::Forward>(bound + 5, InverseMethod::Exact,
                                                                                      rules, given))
        return nullptr;
    return evaluate_columns(make_columns<F>(xp, values, columns, threads), query, threads, rules);
}

PyObject* columns_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature sig{"_forward_columns", kColumnsParams, 9, 4, 4};
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        if (is_typed(bound[2], Element::F64)) return forward_columns<f64>(bound);
        return forward_columns<i64>(bound);
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
    {"_forward_columns", function(&columns_entry), METH_FASTCALL | METH_KEYWORDS,
     "_forward_columns(x, xp, values, columns, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     "The forward over value columns, one after another in `values`, into columns·len(x) elements."},
    {"forward", function(&front_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward(x, xp, fp, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     RUST_DOC_forward},
    {"inverse", function(&front_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse(f, xp, fp, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     RUST_DOC_inverse},
    {nullptr, nullptr, 0, nullptr},
};

// ---- Table ------------------------------------------------------------------

// The typed table under exact_interp.Interpolator: uint64 positions with
// int64 or float64 values, copied and checked once, immutable: calls from any
// number of threads only read it. It knows nothing of the caller's kinds
// (exact_interp.Interpolator keeps them); a query of another kind than the
// typed one goes through the conversions. Its values may be several columns
// over the same positions (the forward only).
using TableVariant = std::variant<Columned<i64>, Columned<f64>>;

struct Table {
    PyObject_HEAD
    TableVariant* table;  // owned; never null once tp_new has returned the object
};

TableVariant& table_of(PyObject* self) { return *reinterpret_cast<Table*>(self)->table; }

constexpr const char* kTableParams[] = {"xp", "fp", "columns"};
constexpr const char* kForwardMethodParams[] = {"x", "workers", "left", "right", "missing", "_nat"};
constexpr const char* kInverseMethodParams[] = {"f", "method", "workers", "left", "right", "missing", "_nat"};

// Table(xp, fp, columns=1): the typed functions' arguments and messages; fp's
// dtype chooses the scheme, and holds `columns` columns of xp's length, one
// after another.
PyObject* table_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature sig{"Table", kTableParams, 3, 3, 2};
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
        PyObject* bound[3] = {};
        if (!bind(sig, flat.get(), nargs, kwnames.get(), bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        View xp, fp;
        if (!accept(bound[0], Element::U64, "xp", xp)) return nullptr;
        const bool is_float = is_typed(bound[1], Element::F64);
        if (!accept(bound[1], is_float ? Element::F64 : Element::I64, "fp", fp)) return nullptr;
        const Py_ssize_t columns = bound[2] != nullptr ? PyLong_AsSsize_t(bound[2]) : 1;
        if (columns == -1 && PyErr_Occurred()) return nullptr;
        const Threads<true> threads{0};
        std::unique_ptr<TableVariant> table(is_float ? new TableVariant(make_columns<f64>(xp, fp, columns, threads))
                                                     : new TableVariant(make_columns<i64>(xp, fp, columns, threads)));
        Ref self(PyType_GenericAlloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<Table*>(self.get())->table = table.release();
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
// dtype as the typed functions take it, any other through the conversions
// (exact_interp._convert.table_forward / table_inverse).
template <Direction D>
PyObject* table_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature forward{"forward", kForwardMethodParams, 6, 1, 1};
        static constexpr Signature inverse{"inverse", kInverseMethodParams, 7, 2, 1};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[Signature::kMaxParams] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        const Ref keep = Ref::borrow(self);
        const bool is_int = std::holds_alternative<Columned<i64>>(table_of(self));
        const Element query = D == Direction::Forward ? Element::U64 : (is_int ? Element::I64 : Element::F64);
        if (!is_typed(bound[0], query)) {
            if constexpr (D == Direction::Forward)
                return convert("table_forward", {self, bound[0], bound[1], bound[2], bound[3], bound[4]});
            else
                return convert("table_inverse", {self, bound[0], bound[1], bound[2], bound[3], bound[4], bound[5]});
        }
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
    return guarded(
        [&] { return std::visit([&](const auto& c) { return knots_view(self, c.table.xp()); }, table_of(self)); });
}

PyObject* table_fp(PyObject* self, void*) {
    return guarded(
        [&] { return std::visit([&](const auto& c) { return knots_view(self, c.columns == 1 ? c.table.fp() : c.values); },
                          table_of(self));
    });
}

PyObject* table_columns(PyObject* self, void*) {
    return PyLong_FromSize_t(std::visit([](const auto& c) { return c.columns; }, table_of(self)));
}

// Pickled as the call that rebuilds it: Table(xp, fp, columns).
PyObject* table_reduce(PyObject* self, PyObject*) {
    const Ref xp(table_xp(self, nullptr));
    if (!xp) return nullptr;
    const Ref fp(table_fp(self, nullptr));
    if (!fp) return nullptr;
    const Ref columns(table_columns(self, nullptr));
    if (!columns) return nullptr;
    return Py_BuildValue("O(OOO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), xp.get(), fp.get(), columns.get());
}

template <Direction D>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return table_call<D>(self, args, nargs, kwnames);
}

PyMethodDef table_methods[] = {
    {"forward", function(&method_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward($self, x, *, workers=None, left='raise', right='raise', missing='raise')\n--\n\n"
     "forward_int or forward_float with these knots; over value columns, columns·len(x) elements, column after "
     "column."},
    {"inverse", function(&method_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse($self, f, method=None, *, workers=None, left=None, right=None, missing='raise')\n--\n\n"
     "inverse_int or inverse_float with these knots."},
    {"__reduce__", table_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"xp", table_xp, nullptr, "The positions (uint64): a read-only view of the table's copy.", nullptr},
    {"fp", table_fp, nullptr,
     "The values (int64 or float64), every column one after another: a read-only view of the table's copy.", nullptr},
    {"columns", table_columns, nullptr, "The number of value columns.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(table_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {Py_tp_doc, const_cast<char*>("Table(xp, fp, columns=1)\n--\n\nThe typed knots of an exact_interp.Interpolator.")},
    {0, nullptr},
};

PyType_Spec table_spec = {"exact_interp._native.Table", sizeof(Table), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, table_slots};

// ---- the module -------------------------------------------------------------

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "exact_interp._native", "", 0, functions, nullptr, nullptr,
                          nullptr, nullptr};

PyObject* fatal_type = nullptr;  // exact_interp.FatalError, looked up at the first fatal error

PyObject* initialise() {
    Ref module(PyModule_Create(&definition));
    if (!module) return nullptr;
    const Ref type(PyType_FromSpec(&table_spec));
    if (!type || PyModule_AddObjectRef(module.get(), "Table", type.get()) < 0) return nullptr;
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
