// Argument binding for METH_FASTCALL | METH_KEYWORDS functions, walked by
// hand so that every error has exactly the module's message, and the parsing
// of `method`.
#pragma once

#include <string>

#include "base/base.hpp"
#include "module/python.hpp"

namespace rust::module {

// Every parameter may be given by position or by keyword; the first three
// are required.
struct Signature {
    const char* function;      // "forward_int"
    const char* const* names;  // parameter names in order
    int count;                 // 3, or 4 with `method`
    static constexpr int kRequired = 3;
};

// Fills bound[0 … count-1] with borrowed references (null where an optional
// parameter was not given). Returns false with TypeError set on a binding error.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound);

// `method`: absent or None is Exact; a str (or subclass) must be one of
// "nearest", "ffill", "bfill", compared byte for byte in UTF-8. Returns false
// with TypeError, UnicodeEncodeError or ValueError set otherwise.
bool parse_method(PyObject* value, InverseMethod& method);

// TypeError "argument '{param}': '{type}' object cannot be converted to
// '{target}'", where {type} is the __qualname__ of the object's type, whole
// (formatted from the str itself), or "<failed to extract type name>".
void raise_conversion_error(const char* param, PyObject* obj, const char* target);

}  // namespace rust::module
