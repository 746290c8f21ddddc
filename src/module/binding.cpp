#include "module/binding.hpp"

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
            PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: %s", sig.function, list.c_str());
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

}  // namespace rust::module
