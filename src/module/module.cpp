// The module `rust`: its initialisation and its four functions, each a call
// of the shared driver on the caller's thread with the GIL held.
#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/errors.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"

namespace rust::module {

namespace {

constexpr const char* kForwardParams[] = {"x", "xp", "fp"};
constexpr const char* kInverseParams[] = {"f", "xp", "fp", "method"};

PyObject* panic_type = nullptr;  // created with the module, kept for the process

constexpr const char* kPanicDoc =
    "The exception raised when a call of the native module meets a violated invariant: "
    "knot arrays of different lengths, a non-finite value where a finite one is required, "
    "NaN in a float search, or NumPy that cannot be loaded.\n\n"
    "Like SystemExit, it derives from BaseException and not from Exception, so that it "
    "typically propagates through the whole stack and ends the interpreter instead of "
    "being caught by an `except Exception` handler.";

template <Direction D, class F>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature forward_int{"forward_int", kForwardParams, 3, 3, 3};
    static constexpr Signature forward_float{"forward_float", kForwardParams, 3, 3, 3};
    static constexpr Signature inverse_int{"inverse_int", kInverseParams, 4, 4, 3};
    static constexpr Signature inverse_float{"inverse_float", kInverseParams, 4, 4, 3};
    constexpr bool is_int = std::is_same_v<F, i64>;
    const Signature& sig =
        D == Direction::Forward ? (is_int ? forward_int : forward_float) : (is_int ? inverse_int : inverse_float);
    return guarded([&] { return call<D, F, false>(sig, args, nargs, kwnames); });
}

template <Direction D, class F>
constexpr PyCFunction function() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<D, F>));
}

PyMethodDef functions[] = {
    {"forward_int", function<Direction::Forward, i64>(), METH_FASTCALL | METH_KEYWORDS,
     "forward_int(x, xp, fp)\n--\n\n"},
    {"forward_float", function<Direction::Forward, f64>(), METH_FASTCALL | METH_KEYWORDS,
     "forward_float(x, xp, fp)\n--\n\n"},
    {"inverse_int", function<Direction::Inverse, i64>(), METH_FASTCALL | METH_KEYWORDS,
     "inverse_int(f, xp, fp, method=None)\n--\n\n"},
    {"inverse_float", function<Direction::Inverse, f64>(), METH_FASTCALL | METH_KEYWORDS,
     "inverse_float(f, xp, fp, method=None)\n--\n\n"},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "rust", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

PyObject* the_module = nullptr;  // created once per process

// Adds one function: bound to the module, its name appended to __all__.
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* def) {
    const Ref fn(PyCFunction_NewEx(def, module, module_name));
    if (!fn) return false;
    const Ref name(PyObject_GetAttrString(fn.get(), "__name__"));
    if (!name) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (PyList_Append(all.get(), name.get()) < 0) return false;
    return PyObject_SetAttr(module, name.get(), fn.get()) == 0;
}

PyObject* initialise() {
    if (the_module != nullptr) {
        PyErr_SetString(PyExc_ImportError,
                        "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter "
                        "process");
        return nullptr;
    }
    // The exception class before any call can need it: calls may run at once
    // on several threads where there is no GIL.
    if (fatal_error_type() == nullptr) return nullptr;
    Ref module(PyModule_Create(&definition));
    if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
    // Without a GIL too: the functions keep nothing between calls but the
    // NumPy table and the exception class, both published once for all.
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    const Ref module_name(PyModule_GetNameObject(module.get()));
    if (!module_name) return nullptr;
    for (PyMethodDef& def : functions)
        if (!add_function(module.get(), module_name.get(), &def)) return nullptr;
    the_module = Ref::borrow(module.get()).release();
    return module.release();
}

}  // namespace

PyObject* fatal_error_type() {
    if (panic_type == nullptr)
        panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
    return panic_type;  // null: the error of the type's creation stands
}

}  // namespace rust::module

PyMODINIT_FUNC PyInit_rust() {
    return rust::module::guarded([] { return rust::module::initialise(); });
}
