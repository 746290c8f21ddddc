// The module exact_interp._native: the four functions of `rust` with the same
// arguments, results and messages, which release the GIL while they copy the
// knots and evaluate and can split one query across threads (keyword
// `workers`), and Interpolator, a table copied and checked once. Fatal errors
// are exact_interp.FatalError, an ordinary exception.
#include <cinttypes>
#include <memory>
#include <new>
#include <variant>

#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/errors.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"

namespace rust::module {

namespace {

// ---- the functions ----------------------------------------------------------

constexpr const char* kForwardParams[] = {"x", "xp", "fp", "workers"};
constexpr const char* kInverseParams[] = {"f", "xp", "fp", "method", "workers"};

template <Direction D, class F>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature forward_int{"forward_int", kForwardParams, 4, 3, 3};
    static constexpr Signature forward_float{"forward_float", kForwardParams, 4, 3, 3};
    static constexpr Signature inverse_int{"inverse_int", kInverseParams, 5, 4, 3};
    static constexpr Signature inverse_float{"inverse_float", kInverseParams, 5, 4, 3};
    constexpr bool is_int = std::is_same_v<F, i64>;
    const Signature& sig = D == Direction::Forward ? (is_int ? forward_int : forward_float)
                                                   : (is_int ? inverse_int : inverse_float);
    return guarded([&] { return call<D, F, true>(sig, args, nargs, kwnames); });
}

template <class Fn>
constexpr PyCFunction function(Fn* fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

PyMethodDef functions[] = {
    {"forward_int", function(&entry<Direction::Forward, i64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_int(x, xp, fp, *, workers=None)\n--\n\n"},
    {"forward_float", function(&entry<Direction::Forward, f64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_float(x, xp, fp, *, workers=None)\n--\n\n"},
    {"inverse_int", function(&entry<Direction::Inverse, i64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_int(f, xp, fp, method=None, *, workers=None)\n--\n\n"},
    {"inverse_float", function(&entry<Direction::Inverse, f64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_float(f, xp, fp, method=None, *, workers=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// ---- Interpolator -----------------------------------------------------------

// The table, immutable once built: calls from any number of threads only
// read it.
using Table = std::variant<piecewise::Interp<u64, i64>, piecewise::Interp<u64, f64>>;

struct Interpolator {
    PyObject_HEAD
    Table* table;  // owned; never null once tp_new has returned the object
};

Table& table_of(PyObject* self) { return *reinterpret_cast<Interpolator*>(self)->table; }

constexpr const char* kInterpolatorParams[] = {"xp", "fp"};
constexpr const char* kForwardMethodParams[] = {"x", "workers"};
constexpr const char* kInverseMethodParams[] = {"f", "method", "workers"};

// Interpolator(xp, fp): fp's dtype chooses the scheme (int64 or float64); the
// messages are those of the functions.
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
        View xp, fp;
        if (!accept(bound[0], Element::U64, "xp", xp)) return nullptr;
        const bool is_float = PyArray_Check(bound[1]) && PyArray_NDIM(reinterpret_cast<PyArrayObject*>(bound[1])) == 1 &&
                              PyArray_EquivTypes(PyArray_DESCR(reinterpret_cast<PyArrayObject*>(bound[1])),
                                                 descriptor(Element::F64));
        if (!accept(bound[1], is_float ? Element::F64 : Element::I64, "fp", fp)) return nullptr;
        const Threads<true> threads{0};
        std::unique_ptr<Table> table(is_float ? new Table(make_table<f64>(xp, fp, threads))
                                              : new Table(make_table<i64>(xp, fp, threads)));
        Ref self(PyType_GenericAlloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<Interpolator*>(self.get())->table = table.release();
        return self.release();
    });
}

void interpolator_dealloc(PyObject* self) {
    delete reinterpret_cast<Interpolator*>(self)->table;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// The call of one method on the table, holding a reference to the object for
// the whole call, as the GIL is released while it runs.
template <Direction D>
PyObject* interpolator_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr Signature forward{"forward", kForwardMethodParams, 2, 1, 1};
        static constexpr Signature inverse{"inverse", kInverseMethodParams, 3, 2, 1};
        const Signature& sig = D == Direction::Forward ? forward : inverse;
        PyObject* bound[3] = {};
        if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
        if (!ensure_numpy_api()) return nullptr;
        const Ref keep = Ref::borrow(self);
        return std::visit(
            [&]<class F>(const piecewise::Interp<u64, F>& table) -> PyObject* {
                View query;
                if (!accept(bound[0], Kind<D, F>::query, sig.names[0], query)) return nullptr;
                InverseMethod method = InverseMethod::Exact;
                if constexpr (D == Direction::Inverse) {
                    if (!parse_method(bound[1], method)) return nullptr;
                }
                Threads<true> threads{0};
                if (!parse_workers(bound[sig.count - 1], threads.workers)) return nullptr;
                return evaluate<D, F>(table, query, method, threads);
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

PyObject* interpolator_xp(PyObject* self, void*) {
    return guarded([&] { return std::visit([&](const auto& t) { return knots_view(self, t.xp()); }, table_of(self)); });
}

PyObject* interpolator_fp(PyObject* self, void*) {
    return guarded([&] { return std::visit([&](const auto& t) { return knots_view(self, t.fp()); }, table_of(self)); });
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

template <Direction D>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return interpolator_call<D>(self, args, nargs, kwnames);
}

PyMethodDef interpolator_methods[] = {
    {"forward", function(&method_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "forward($self, x, *, workers=None)\n--\n\n"
     "Positions (uint64) to values (the table's dtype), as forward_int or forward_float with these knots."},
    {"inverse", function(&method_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "inverse($self, f, method=None, *, workers=None)\n--\n\n"
     "Values (the table's dtype) to positions (uint64) under `method`, as inverse_int or inverse_float with "
     "these knots."},
    {"__reduce__", interpolator_reduce, METH_NOARGS, nullptr},
    // Interpolator[numpy.int64] in annotations, as the type stubs write it
    {"__class_getitem__", Py_GenericAlias, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef interpolator_getset[] = {
    {"xp", interpolator_xp, nullptr, "The positions of the knots: a read-only uint64 view of the table's copy.",
     nullptr},
    {"fp", interpolator_fp, nullptr, "The values of the knots: a read-only int64 or float64 view of the table's copy.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kInterpolatorDoc =
    "Interpolator(xp, fp)\n--\n\n"
    "The table of knots (xp, fp), copied and checked once: positions uint64, values int64 (the integer scheme) "
    "or float64 (the float scheme), accepted as the functions accept them. Immutable and safe to share between "
    "threads; each call costs the same whatever the table's size. forward(x) and inverse(f, method) give the "
    "results and errors of the functions with these knots.";

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
