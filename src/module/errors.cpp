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

namespace {

// (template, ((array, index, column or None, named, shown), …)): a new reference, or null with an exception set.
PyObject* note_facts(const Note& note) {
    const Ref fields(PyTuple_New(static_cast<Py_ssize_t>(note.fields().size())));
    if (!fields) return nullptr;
    Py_ssize_t k = 0;
    for (const Note::Field& f : note.fields()) {
        PyObject* column = f.column < 0 ? Py_None : nullptr;
        PyObject* field =
            column != nullptr
                ? Py_BuildValue("(snOOs#)", f.array, static_cast<Py_ssize_t>(f.index), Py_None,
                                f.named ? Py_True : Py_False, f.shown.data(), static_cast<Py_ssize_t>(f.shown.size()))
                : Py_BuildValue("(snnOs#)", f.array, static_cast<Py_ssize_t>(f.index),
                                static_cast<Py_ssize_t>(f.column), f.named ? Py_True : Py_False, f.shown.data(),
                                static_cast<Py_ssize_t>(f.shown.size()));
        if (field == nullptr) return nullptr;
        PyTuple_SetItem(fields.get(), k++, field);  // steals the new reference
    }
    return Py_BuildValue("(s#O)", note.format().data(), static_cast<Py_ssize_t>(note.format().size()), fields.get());
}

}  // namespace

void add_note(const Note& note) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        const std::string& written = note.text();
        const Ref text(PyUnicode_FromStringAndSize(written.data(), static_cast<Py_ssize_t>(written.size())));
        bool added = false;
        if (text && PyObject_HasAttrString(value, "add_note")) {
            const Ref done(PyObject_CallMethod(value, "add_note", "O", text.get()));
            added = static_cast<bool>(done);
        } else if (text) {  // CPython 3.10: the list the traceback printer of 3.11+ reads
            Ref notes(PyObject_GetAttrString(value, "__notes__"));
            if (!notes) {
                PyErr_Clear();
                notes = Ref(PyList_New(0));
                if (notes && PyObject_SetAttrString(value, "__notes__", notes.get()) < 0) notes = Ref();
            }
            added = notes && PyList_Check(notes.get()) && PyList_Append(notes.get(), text.get()) == 0;
        }
        if (added) {
            const Ref facts(note_facts(note));
            if (!facts || PyObject_SetAttrString(value, "_note_facts", facts.get()) < 0) PyErr_Clear();
        }
        PyErr_Clear();  // a note that could not be added leaves the exception as it was
    }
    PyErr_Restore(type, value, traceback);
}

void raise_interp_error(Direction direction, piecewise::InterpError error, std::size_t index) {
    const bool forward = direction == Direction::Forward;
    switch (error) {
        case piecewise::InterpError::OutOfBounds:
            PyErr_SetString(forward ? PyExc_IndexError : PyExc_KeyError,
                            forward ? "x out of bounds" : "f out of bounds");
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
