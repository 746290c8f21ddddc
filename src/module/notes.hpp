// What exact_interp's errors add to the messages they share with `rust`, as a
// note (the messages and args stay as they are): the element at fault and its
// value, the table's range, and the keyword that would answer it; for a
// rejected array, the array wanted and the one given. In the typed arrays'
// terms, each a Note whose facts (the elements it names) the front end
// writes again in the caller's terms.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>

#include "module/arrays.hpp"
#include "module/binding.hpp"
#include "module/errors.hpp"
#include "piecewise/piecewise.hpp"

namespace rust::module {

inline std::string note_text(u64 v) { return std::to_string(v); }
inline std::string note_text(i64 v) { return std::to_string(v); }
inline std::string note_text(f64 v) {  // Python's repr: the shortest text that reads back as v
    const Ref number(PyFloat_FromDouble(v));
    const Ref text(number ? PyObject_Repr(number.get()) : nullptr);
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "?";
    }
    return utf8;
}

inline const char* element_name(Element e) {
    switch (e) {
        case Element::U64: return "uint64";
        case Element::I64: return "int64";
        case Element::F64: return "float64";
    }
    return "?";
}

// "{param} must be a one-dimensional NumPy array of {dtype}; given …".
inline std::string rejected_note(PyObject* obj, Element want, const char* param) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);  // the TypeError stays pending around the note's calls
    std::string given;
    if (PyArray_Check(obj)) {
        const Ref dtype(PyObject_GetAttrString(obj, "dtype"));
        const Ref name(dtype ? PyObject_Str(dtype.get()) : nullptr);
        const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
        const int ndim = PyArray_NDIM(reinterpret_cast<PyArrayObject*>(obj));
        given = "an array of " + std::string(utf8 != nullptr ? utf8 : "?") + " with " + std::to_string(ndim) +
                (ndim == 1 ? " dimension" : " dimensions");
    } else {
        const Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
        const char* utf8 = name && PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
        given = "an object of type '" + std::string(utf8 != nullptr ? utf8 : "?") + "'";
    }
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return std::string(param) + " must be a one-dimensional NumPy array of " + element_name(want) + "; given " + given +
           ". exact_interp.forward and exact_interp.inverse convert other kinds exactly.";
}

// "{a}[k] = … is not below {a}[k + 1] = …" of the first pair out of order.
template <class T>
Note order_note(const piecewise::Knots<T>& axis, const char* a, const char* why) {
    std::size_t k = 0;
    while (k + 1 < axis.size() && axis[k] < axis[k + 1]) ++k;
    if (k + 1 >= axis.size()) return {};
    Note note;
    note.named(a, k, note_text(axis[k])) << " is not below ";
    return note.named(a, k + 1, note_text(axis[k + 1])) << why;
}

// The note of the first failing element `failure` of a query of the table
// (made before its exception is raised: it calls into Python).
template <Direction D, class F>
Note failure_note(const piecewise::Interp<u64, F>& table, const View& query, piecewise::Failure failure) {
    using piecewise::InterpError;
    constexpr bool forward = D == Direction::Forward;
    using Q = std::conditional_t<forward, u64, F>;
    const char* const q = forward ? "x" : "f";
    const char* const a = forward ? "xp" : "fp";
    const char* const what = forward ? "positions" : "values";
    const auto& axis = [&]() -> const piecewise::Knots<Q>& {
        if constexpr (forward)
            return table.xp();
        else
            return table.fp();
    }();
    const std::size_t n = axis.size();
    if (failure.error == InterpError::NotStrictlyIncreasing)
        return order_note(
            axis, a,
            forward ? ": the positions must increase strictly" : ": the inverse needs values that increase strictly");
    if (failure.index >= static_cast<std::size_t>(query.length)) return {};
    const Q key = query.strided<Q>()[failure.index];
    Note note;
    note.named(q, failure.index, note_text(key));
    if (n == 0) return note << ": the table has no knots";
    if (failure.error == InterpError::NotFound) {  // the exact inverse, inside the table or extrapolated
        const std::size_t j = static_cast<std::size_t>(std::upper_bound(axis.begin(), axis.end(), key) - axis.begin());
        if (j == 0 || j >= n) {
            note << (j == 0 ? " lies below" : " lies above") << " the table, whose values run from ";
            note.value("fp", 0, note_text(axis.front())) << " to ";
            return note.value("fp", n - 1, note_text(axis.back()))
                   << ", and extrapolates to no whole position; method='nearest', 'ffill' or 'bfill', or "
                      "missing=<a fill position>, answers it";
        }
        note << " lies between ";
        note.named("fp", j - 1, note_text(axis[j - 1])) << " and ";
        note.named("fp", j, note_text(axis[j])) << ", at no whole position from ";
        note.named("xp", j - 1, note_text(table.xp()[j - 1])) << " to ";
        return note.named("xp", j, note_text(table.xp()[j]))
               << "; method='nearest', 'ffill' or 'bfill', or missing=<a fill position>, answers it";
    }
    const bool below = key < axis.front();
    const std::string kw = below ? "left" : "right";
    note << (below ? " lies below the table, " : " lies above the table, ");
    if (n == 1) {
        note << "whose only knot has ";
        note.named(a, 0, note_text(axis[0]));
    } else {
        note << "whose " + std::string(what) + " run from ";
        note.value(a, 0, note_text(axis.front())) << " to ";
        note.value(a, n - 1, note_text(axis.back())) << " (" + std::to_string(n) + " knots)";
    }
    const std::string fill = forward ? "<a fill value>" : "<a fill position>";
    if (failure.error == InterpError::OutOfBounds && n >= 2)
        return note << "; " + kw + "='clamp', " + kw + "='extrapolate' or " + kw + "=" + fill + " answers it";
    return note << "; " + kw + "='clamp' or " + kw + "=" + fill + " answers it";  // Overflow, TooFewKnots
}

// The note of a non-finite float that ended a call: the first element, in
// index order, that met one (a NaN the inverse searched for, or a key inside
// a segment with a non-finite knot, which the note names), else the table's
// first non-finite value.
template <Direction D, class F>
Note non_finite_note(const piecewise::Interp<u64, F>& table, const View& query) {
    if constexpr (std::is_same_v<F, f64>) {
        const auto& xp = table.xp();
        const auto& fp = table.fp();
        const std::size_t n = fp.size();
        const char* const finite = ": the values of a float table must be finite in every segment a query falls in";
        // key i, inside segment j (1 … n-1) whose knot k is not finite: the note, if either is
        const auto segment = [&](const char* q, std::size_t i, std::string shown, std::size_t j) -> Note {
            for (const std::size_t k : {j - 1, j})
                if (!std::isfinite(fp[k])) {
                    Note note;
                    note.named(q, i, std::move(shown))
                        << " lies between xp[" + std::to_string(j - 1) + "] and xp[" + std::to_string(j) + "], whose ";
                    return note.named("fp", k, note_text(fp[k])) << finite;
                }
            return {};
        };
        if constexpr (D == Direction::Inverse) {
            const auto keys = query.strided<f64>();
            for (std::size_t i = 0; i < keys.length; ++i) {
                if (std::isnan(keys[i]))
                    return Note().named("f", i, "nan")
                           << " cannot be searched for; missing=<a fill position> answers it";
                const std::size_t j =
                    static_cast<std::size_t>(std::upper_bound(fp.begin(), fp.end(), keys[i]) - fp.begin());
                if (j >= 1 && j < n && !(fp[j - 1] == keys[i]))
                    if (Note s = segment("f", i, note_text(keys[i]), j); !s.empty()) return s;
            }
        } else {
            const auto keys = query.strided<u64>();
            for (std::size_t i = 0; i < keys.length; ++i) {
                const std::size_t j =
                    static_cast<std::size_t>(std::upper_bound(xp.begin(), xp.end(), keys[i]) - xp.begin());
                if (j >= 1 && j < n && xp[j - 1] != keys[i])
                    if (Note s = segment("x", i, note_text(keys[i]), j); !s.empty()) return s;
            }
        }
        for (std::size_t k = 0; k < n; ++k)
            if (!std::isfinite(fp[k])) return Note().named("fp", k, note_text(fp[k])) << finite;
    }
    return {};
}

// `method` parsed as parse_method does; a word that is none of the three
// gets the note of what was given.
inline bool parse_method_noted(PyObject* value, InverseMethod& method) {
    if (parse_method(value, method)) return true;
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return false;
    PyObject *type = nullptr, *error = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &error, &traceback);
    const Ref text(PyObject_Repr(value));
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    const std::string note = utf8 != nullptr ? std::string("given method=") + utf8 +
                                                   ": None (a whole position only), 'nearest', 'ffill' (down) or "
                                                   "'bfill' (up)"
                                             : std::string();
    PyErr_Clear();
    PyErr_Restore(type, error, traceback);
    if (!note.empty()) add_note(note);
    return false;
}

}  // namespace rust::module
