#include "module/errors.hpp"

#include <cstring>

namespace rust::module {

void raise_panic(const char* message) {
    if (PyObject* type = fatal_error_type()) PyErr_SetString(type, message);
}

std::string describe_pending_error() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const Ref t(type), v(value), tb(traceback);
    std::string text = "unknown error";
    if (t) {  // the type's name without its module
        const Ref name(PyObject_GetAttrString(t.get(), "__name__"));
        Py_ssize_t size = 0;
        const char* utf8 = name && PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
        if (utf8 != nullptr) text.assign(utf8, static_cast<std::size_t>(size));
        PyErr_Clear();
    }
    if (v) {
        const Ref s(PyObject_Str(v.get()));
        Py_ssize_t size = 0;
        const char* utf8 = s ? PyUnicode_AsUTF8AndSize(s.get(), &size) : nullptr;
        if (utf8 != nullptr && size > 0) {
            text += ": ";
            text.append(utf8, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();  // anything raised while describing
    return text;
}

void raise_interp_error(Direction direction, piecewise::InterpError error, std::size_t index) {
    const bool forward = direction == Direction::Forward;
    switch (error) {
        case piecewise::InterpError::OutOfBounds:
            PyErr_SetString(forward ? PyExc_IndexError : PyExc_KeyError, forward ? "x out of bounds" : "f out of bounds");
            return;
        case piecewise::InterpError::NotFound:
            PyErr_SetString(forward ? PyExc_IndexError : PyExc_KeyError, forward ? "x not found" : "f not found");
            return;
        case piecewise::InterpError::NotStrictlyIncreasing:
            PyErr_SetString(PyExc_ValueError,
                            forward ? "xp must be strictly increasing" : "fp must be strictly increasing");
            return;
        case piecewise::InterpError::Overflow:
            PyErr_Format(PyExc_OverflowError, "%s[%zu] extrapolates to a %s outside the range of the result",
                         forward ? "x" : "f", index, forward ? "value" : "position");
            return;
        case piecewise::InterpError::TooFewKnots:
            PyErr_Format(PyExc_ValueError, "%s[%zu] lies outside a table of one knot, which cannot extrapolate",
                         forward ? "x" : "f", index);
            return;
    }
}

}  // namespace rust::module
