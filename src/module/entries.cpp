// The functions of exact_interp._native: the four typed functions of `rust`
// with the same arguments, results and messages, which release the GIL and
// take `workers` and the rules outside the table; _forward and _inverse, the
// front end's evaluation of typed arrays with its checks (NotImplemented for
// any other argument, which the front end converts); and _set_fatal_error.
#include <cstring>
#include <utility>

#include "module/docstrings.hpp"  // generated from _native.pyi
#include "module/binding.hpp"
#include "module/driver.hpp"
#include "module/native.hpp"
#include "module/numpy_api.hpp"

namespace rust::module {

namespace {

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

}  // namespace

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
// fill (a NumPy scalar, a 0-d array, a time), and the word "null" (a missing
// result, which the container holds), is the front end's to convert, and it
// hands on only such plain fills.
bool plain_rules(PyObject* const* bound) {
    for (int k = 0; k < 3; ++k) {
        PyObject* v = bound[k];
        if (v == nullptr || v == Py_None || PyLong_Check(v) || PyFloat_Check(v)) continue;
        if (!PyUnicode_Check(v) || (PyUnicode_GetLength(v) == 4 && PyUnicode_CompareWithASCIIString(v, "null") == 0))
            return false;
    }
    return true;
}

namespace {

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

}  // namespace

PyMethodDef entry_functions[] = {
    {"_set_fatal_error", set_fatal_error, METH_O,
     "_set_fatal_error(type)\n--\n\nThe class of this module's fatal errors (exact_interp.FatalError)."},
    {"forward_int", function(&entry<Direction::Forward, i64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_int(x, xp, fp, *, workers=None, left='raise', right='raise', "
     "missing='raise')\n--\n\n" RUST_DOC_forward_int},
    {"forward_float", function(&entry<Direction::Forward, f64>), METH_FASTCALL | METH_KEYWORDS,
     "forward_float(x, xp, fp, *, workers=None, left='raise', right='raise', "
     "missing='raise')\n--\n\n" RUST_DOC_forward_float},
    {"inverse_int", function(&entry<Direction::Inverse, i64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_int(f, xp, fp, method=None, *, workers=None, left=None, right=None, "
     "missing='raise')\n--\n\n" RUST_DOC_inverse_int},
    {"inverse_float", function(&entry<Direction::Inverse, f64>), METH_FASTCALL | METH_KEYWORDS,
     "inverse_float(f, xp, fp, method=None, *, workers=None, left=None, right=None, "
     "missing='raise')\n--\n\n" RUST_DOC_inverse_float},
    {"_forward", function(&front_entry<Direction::Forward>), METH_FASTCALL | METH_KEYWORDS,
     "_forward(x, xp, fp, workers=None, left=None, right=None, missing=None)\n--\n\n"
     "exact_interp.forward of typed arrays and plain rules; NotImplemented for any other argument."},
    {"_inverse", function(&front_entry<Direction::Inverse>), METH_FASTCALL | METH_KEYWORDS,
     "_inverse(f, xp, fp, method=None, workers=None, left=None, right=None, missing=None)\n--\n\n"
     "exact_interp.inverse of typed arrays and plain rules; NotImplemented for any other argument."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace rust::module
