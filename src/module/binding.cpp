#include "module/binding.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace rust::module {

namespace {

// 'a', 'a' and 'b', or 'a', 'b', and 'c'.
std::string quoted_list(const char* const* names, const int* which, int n) {
    std::string s;
    for (int k = 0; k < n; ++k) {
        if (k > 0) s += n == 2 ? " and " : (k == n - 1 ? ", and " : ", ");
        s += '\'';
        s += names[which[k]];
        s += '\'';
    }
    return s;
}

}  // namespace

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
    if (nargs > sig.positional) {
        if (sig.positional == sig.required)
            PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd were given", sig.function,
                         sig.positional, sig.positional == 1 ? "" : "s", nargs);
        else
            PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd were given",
                         sig.function, sig.required, sig.positional, nargs);
        return false;
    }
    for (int k = 0; k < sig.count; ++k) bound[k] = k < nargs ? args[k] : nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t j = 0; j < nkw; ++j) {
        PyObject* key = PyTuple_GetItem(kwnames, j);  // borrowed; j is in range
        int slot = -1;
        for (int k = 0; k < sig.count && slot < 0; ++k)
            if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, sig.names[k]) == 0) slot = k;
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", sig.function, key);
            return false;
        }
        if (bound[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function, sig.names[slot]);
            return false;
        }
        bound[slot] = args[nargs + j];
    }
    int missing[Signature::kMaxParams], n_missing = 0;
    for (int k = 0; k < sig.required; ++k)
        if (bound[k] == nullptr) missing[n_missing++] = k;
    if (n_missing > 0) {
        const std::string list = quoted_list(sig.names, missing, n_missing);
        if (n_missing == 1)
            PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: %s", sig.function,
                         list.c_str());
        else
            PyErr_Format(PyExc_TypeError, "%s() missing %d required positional arguments: %s", sig.function, n_missing,
                         list.c_str());
        return false;
    }
    return true;
}

void raise_conversion_error(const char* param, PyObject* obj, const char* target) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        name = Ref(PyUnicode_FromString("<failed to extract type name>"));
        if (!name) return;  // MemoryError stands
    }
    PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", param, name.get(), target);
}

bool parse_method(PyObject* value, InverseMethod& method) {
    if (value == nullptr || value == Py_None) {
        method = InverseMethod::Exact;
        return true;
    }
    if (!PyUnicode_Check(value)) {
        raise_conversion_error("method", value, "PyString");
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &size);
    if (text == nullptr) return false;  // a lone surrogate: UnicodeEncodeError, unchanged
    struct Word {
        const char* text;
        Py_ssize_t size;
        InverseMethod method;
    };
    static constexpr Word words[] = {
        {"nearest", 7, InverseMethod::Nearest}, {"ffill", 5, InverseMethod::Ffill}, {"bfill", 5, InverseMethod::Bfill}};
    for (const Word& w : words) {
        if (size == w.size && std::memcmp(text, w.text, static_cast<std::size_t>(size)) == 0) {
            method = w.method;
            return true;
        }
    }
    PyErr_SetString(PyExc_ValueError, "method must be either None, 'nearest', 'ffill' or 'bfill'");
    return false;
}

bool parse_workers(PyObject* value, std::size_t& workers) {
    if (value == nullptr || value == Py_None) {
        workers = 0;
        return true;
    }
    if (PyBool_Check(value) || !PyIndex_Check(value)) {
        Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
        if (!name) return false;
        PyErr_Format(PyExc_TypeError, "workers must be None or an int, not '%S'", name.get());
        return false;
    }
    const Ref index(PyNumber_Index(value));
    if (!index) return false;
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (n == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && n < 1)) {
        PyErr_Format(PyExc_ValueError, "workers must be None or at least 1, not %S", index.get());
        return false;
    }
    workers = overflow > 0 || static_cast<unsigned long long>(n) > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(n);
    return true;
}

namespace {

const char* result_name(i64) { return "int64"; }
const char* result_name(u64) { return "uint64"; }

// "{keyword} must be …, not '{type}'" as TypeError.
bool refuse_type(PyObject* value, const char* keyword, bool outside, const char* what) {
    const Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
    if (!name) return false;
    PyErr_Format(PyExc_TypeError, "%s must be %s or %s, not '%S'", keyword,
                 outside ? "'raise', 'clamp', 'extrapolate'" : "'raise'", what, name.get());
    return false;
}

// An exact integer fill: an int, an object with __index__, or a float that is
// a whole number; within [lo, hi] of the result's type.
template <class V>
bool integer_fill(PyObject* value, const char* keyword, bool outside, V& out) {
    Ref number;
    if (PyFloat_Check(value)) {
        const double d = PyFloat_AsDouble(value);
        if (!std::isfinite(d) || std::floor(d) != d) {
            PyErr_Format(PyExc_ValueError, "%s=%R is not a whole number: the %s result cannot hold it", keyword, value,
                         result_name(V{}));
            return false;
        }
        number = Ref(PyLong_FromDouble(d));
    } else if (PyIndex_Check(value)) {
        number = Ref(PyNumber_Index(value));
    } else {
        return refuse_type(value, keyword, outside, "an int");
    }
    if (!number) return false;
    bool fits;
    if constexpr (std::is_same_v<V, i64>) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        fits = overflow == 0;
        out = v;
    } else {
        // negative or beyond 2^64 - 1: OverflowError from the conversion
        const unsigned long long v = PyLong_AsUnsignedLongLong(number.get());
        fits = !(v == static_cast<unsigned long long>(-1) && PyErr_Occurred());
        if (!fits) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
            PyErr_Clear();
        }
        out = v;
    }
    if (!fits) {
        PyErr_Format(PyExc_OverflowError, "%s=%S does not fit the %s result", keyword, number.get(), result_name(V{}));
        return false;
    }
    return true;
}

// An exact float64 fill: a float, or an int that float64 holds exactly.
bool float_fill(PyObject* value, const char* keyword, bool outside, f64& out) {
    if (PyFloat_Check(value)) {
        out = PyFloat_AsDouble(value);
        return true;
    }
    if (!PyIndex_Check(value)) return refuse_type(value, keyword, outside, "a float");
    const Ref number(PyNumber_Index(value));
    if (!number) return false;
    const double d = PyLong_AsDouble(number.get());
    if (d == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
    } else {
        const Ref back(PyLong_FromDouble(d));
        if (!back) return false;
        const int same = PyObject_RichCompareBool(back.get(), number.get(), Py_EQ);
        if (same < 0) return false;
        if (same) {
            out = d;
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError, "%s=%S is not exactly a float64: the float64 result cannot hold it", keyword,
                 number.get());
    return false;
}

template <class V>
bool parse_any_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<V>& side) {
    using piecewise::Rule;
    if (value == nullptr || value == Py_None) return true;
    if (PyUnicode_Check(value)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(value, &size);
        if (text == nullptr) return false;
        const std::string word(text, static_cast<std::size_t>(size));
        if (word == "raise")
            side.rule = Rule::Raise;
        else if (outside && word == "clamp")
            side.rule = Rule::Clamp;
        else if (outside && word == "extrapolate")
            side.rule = Rule::Extrapolate;
        else {
            PyErr_Format(PyExc_ValueError, "%s must be %s or a fill value of the result's kind, not %R", keyword,
                         outside ? "'raise', 'clamp', 'extrapolate'" : "'raise'", value);
            return false;
        }
        return true;
    }
    if (PyBool_Check(value)) return refuse_type(value, keyword, outside, std::is_same_v<V, f64> ? "a float" : "an int");
    V fill{};
    bool ok;
    if constexpr (std::is_same_v<V, f64>)
        ok = float_fill(value, keyword, outside, fill);
    else
        ok = integer_fill(value, keyword, outside, fill);
    if (!ok) return false;
    side.rule = Rule::Fill;
    side.fill = fill;
    return true;
}

}  // namespace

bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<i64>& side) {
    return parse_any_side(value, keyword, outside, side);
}
bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<u64>& side) {
    return parse_any_side(value, keyword, outside, side);
}
bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<f64>& side) {
    return parse_any_side(value, keyword, outside, side);
}

}  // namespace rust::module
