// Argument binding for METH_FASTCALL | METH_KEYWORDS functions, walked by
// hand so that every error has exactly the module's message, and the parsing
// of `method`.
#pragma once

#include <cstddef>
#include <string>

#include "base/base.hpp"
#include "piecewise/piecewise.hpp"
#include "module/python.hpp"

namespace rust::module {

// The parameters in order: the first `positional` may be given by position or
// by keyword, the rest by keyword only; the first `required` must be given.
struct Signature {
    const char* function;      // "forward_int"
    const char* const* names;  // parameter names in order
    int count;                 // parameters in all, at most kMaxParams
    int positional;            // required <= positional <= count
    int required;
    static constexpr int kMaxParams = 10;
};

// Fills bound[0 … count-1] with borrowed references (null where an optional
// parameter was not given). Returns false with TypeError set on a binding error.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound);

// `method`: absent or None is Exact; a str (or subclass) must be one of
// "nearest", "ffill", "bfill", compared byte for byte in UTF-8. Returns false
// with TypeError, UnicodeEncodeError or ValueError set otherwise.
bool parse_method(PyObject* value, InverseMethod& method);

// `workers`: absent or None is 0 (as many threads as pay, up to the cores
// available); an int (or an object with __index__, not a bool) of at least 1
// is a bound on the threads, values beyond the address space meaning no
// bound. Returns false with TypeError or ValueError set otherwise.
bool parse_workers(PyObject* value, std::size_t& workers);

// `left`, `right` (outside=true) and `missing` (false): absent or None
// leaves `side` as it is (the caller's default); "raise", and for the outside
// "clamp" and "extrapolate", are the rules; any other value is the fill, which
// must convert exactly to the result's type: an int for int64 results and
// for positions (uint64), any float or an int float64 holds exactly for
// float64 results. Returns false with TypeError, ValueError or OverflowError
// set, the message naming the keyword, otherwise.
bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<i64>& side);
bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<u64>& side);
bool parse_side(PyObject* value, const char* keyword, bool outside, piecewise::Side<f64>& side);

// TypeError "argument '{param}': '{type}' object cannot be converted to
// '{target}'", where {type} is the __qualname__ of the object's type, whole
// (formatted from the str itself), or "<failed to extract type name>".
void raise_conversion_error(const char* param, PyObject* obj, const char* target);

}  // namespace rust::module
