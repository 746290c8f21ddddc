// The module `rust`: its initialisation, its four functions and the call
// driver they share.
#include <optional>

#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/errors.hpp"
#include "module/numpy_api.hpp"
#include "module/python.hpp"

namespace rust::module {

namespace {

constexpr const char* kForwardParams[] = {"x", "xp", "fp"};
constexpr const char* kInverseParams[] = {"f", "xp", "fp", "method"};

// The element types of one function: the query's, fp's and the result's.
template <Direction D, class F>
struct Kind;
template <class F>
struct Kind<Direction::Forward, F> {
    static constexpr Element query = Element::U64;
    static constexpr Element result = std::is_same_v<F, i64> ? Element::I64 : Element::F64;
};
template <class F>
struct Kind<Direction::Inverse, F> {
    static constexpr Element query = std::is_same_v<F, i64> ? Element::I64 : Element::F64;
    static constexpr Element result = Element::U64;
};

// Binds and accepts the arguments, builds the table from copies of xp and fp,
// evaluates every query element in order into a new array, and maps the first
// evaluation error to its exception. Every reference is released on every path.
template <Direction D, class F>
PyObject* call(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr Element query_element = Kind<D, F>::query;
    constexpr Element value_element = std::is_same_v<F, i64> ? Element::I64 : Element::F64;
    PyObject* bound[4] = {};
    if (!bind(sig, args, nargs, kwnames, bound)) return nullptr;
    if (!ensure_numpy_api()) return nullptr;
    View query, xp, fp;
    if (!accept(bound[0], query_element, sig.names[0], query)) return nullptr;
    if (!accept(bound[1], Element::U64, "xp", xp)) return nullptr;
    if (!accept(bound[2], value_element, "fp", fp)) return nullptr;
    InverseMethod method = InverseMethod::Exact;
    if constexpr (D == Direction::Inverse) {
        if (!parse_method(bound[3], method)) return nullptr;
    }
    const piecewise::Interp<u64, F> table(copy<u64>(xp), copy<F>(fp));
    Ref result(new_result(Kind<D, F>::result, query.length));
    if (!result) return nullptr;
    void* out = PyArray_DATA(reinterpret_cast<PyArrayObject*>(result.get()));
    std::optional<piecewise::Failure> failure;
    if constexpr (D == Direction::Forward)
        failure = table.forward_all(query.strided<u64>(), static_cast<F*>(out));
    else
        failure = table.inverse_all(query.strided<F>(), method, static_cast<u64*>(out));
    if (failure) {
        raise_interp_error(D, failure->error);
        return nullptr;
    }
    return result.release();
}

template <Direction D, class F>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature forward_int{"forward_int", kForwardParams, 3};
    static constexpr Signature forward_float{"forward_float", kForwardParams, 3};
    static constexpr Signature inverse_int{"inverse_int", kInverseParams, 4};
    static constexpr Signature inverse_float{"inverse_float", kInverseParams, 4};
    constexpr bool is_int = std::is_same_v<F, i64>;
    const Signature& sig = D == Direction::Forward ? (is_int ? forward_int : forward_float)
                                                   : (is_int ? inverse_int : inverse_float);
    return guarded([&] { return call<D, F>(sig, args, nargs, kwnames); });
}

template <Direction D, class F>
constexpr PyCFunction function() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<D, F>));
}

PyMethodDef functions[] = {
    {"forward_int", function<Direction::Forward, i64>(), METH_FASTCALL | METH_KEYWORDS, "forward_int(x, xp, fp)\n--\n\n"},
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
    Ref module(PyModule_Create(&definition));
    if (!module) return nullptr;
    const Ref module_name(PyModule_GetNameObject(module.get()));
    if (!module_name) return nullptr;
    for (PyMethodDef& def : functions)
        if (!add_function(module.get(), module_name.get(), &def)) return nullptr;
    the_module = Ref::borrow(module.get()).release();
    return module.release();
}

}  // namespace

}  // namespace rust::module

PyMODINIT_FUNC PyInit_rust() {
    return rust::module::guarded([] { return rust::module::initialise(); });
}
