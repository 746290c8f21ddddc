// The exceptions of the module: PanicException for violated invariants, the
// fixed messages of the evaluation errors, and the boundary that keeps C++
// exceptions out of CPython.
#pragma once

#include <array>
#include <cassert>
#include <chrono>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <span>
#include <string_view>
#include <thread>
#include <utility>

#include "base/base.hpp"
#include "base/platform.hpp"
#include "module/python.hpp"
#include "piecewise/piecewise.hpp"

namespace rust::module {

// The exception type of fatal errors, a borrowed reference, or null with an
// exception set when it cannot be had. Each module defines its own: `rust`
// its PanicException, exact_interp._native exact_interp.FatalError.
PyObject* fatal_error_type();

// Raises the module's fatal error with the message as its only argument.
void raise_panic(const char* message);

// "{type name}: {str(value)}" of the pending exception, which it clears.
std::string describe_pending_error();

enum class Direction { Forward, Inverse };

// A note for the caller that keeps the elements it names as facts: its text,
// in the typed arrays' terms, and the same as a template whose fields {0},
// {1}, … stand for those elements, each an array ("x", "f", "xp" or "fp"),
// an index, a value column where the values hold several, and the element's
// value as the text shows it. An element is either named ("x[3] = 17") or
// given by its value alone ("17"). The front end writes the note again from
// the template and the elements, in the caller's kinds, shape and zone
// (exact_interp._notes): no message is parsed.
class Note {
public:
    struct Field {  // initialised whole: the array's unused fields are copied with a note
        const char* array = "";
        std::size_t index = 0;
        std::ptrdiff_t column = -1;  // -1: the values are one column
        bool named = false;
        std::string shown;
    };

    Note() = default;
    Note(std::string text) { *this << text; }  // NOLINT: a plain text is a note without elements
    Note(const char* text) { *this << text; }  // NOLINT

    Note& operator<<(std::string_view text) {
        text_ += text;
        for (const char c : text) {
            format_ += c;
            if (c == '{' || c == '}') format_ += c;  // doubled: the template's literal braces
        }
        return *this;
    }
    // name[index] = shown, or name[index, column c] = shown for a value column.
    Note& named(const char* array, std::size_t index, std::string shown, std::ptrdiff_t column = -1) {
        const std::size_t from = text_.size();
        text_ += array;
        text_ += '[';
        text_ += std::to_string(index);
        if (column >= 0) text_.append(", column ").append(std::to_string(column));
        text_.append("] = ").append(shown);
        return field({array, index, column, true, std::move(shown)}, from);
    }
    // The value of array[index] alone.
    Note& value(const char* array, std::size_t index, std::string shown) {
        const std::size_t from = text_.size();
        text_ += shown;
        return field({array, index, -1, false, std::move(shown)}, from);
    }

    bool empty() const { return text_.empty(); }
    const std::string& text() const { return text_; }
    const std::string& format() const { return format_; }
    std::span<const Field> fields() const { return {fields_.data(), count_}; }

private:
    // The element whose text starts at text_[from]: a field of the template, or, beyond kMaxFields (never in
    // the notes written today), its text as it is.
    Note& field(Field f, std::size_t from) {
        assert(count_ < kMaxFields);
        if (count_ == kMaxFields) {
            for (std::size_t k = from; k < text_.size(); ++k) {
                format_ += text_[k];
                if (text_[k] == '{' || text_[k] == '}') format_ += text_[k];
            }
            return *this;
        }
        format_ += '{';
        format_ += std::to_string(count_);
        format_ += '}';
        fields_[count_++] = std::move(f);
        return *this;
    }

    std::string text_, format_;
    // A note names a handful of elements (five at the most today): a fixed array, which keeps the module off the
    // C++ runtime's newer array allocation (GCC 11's bad_array_new_length, beyond manylinux_2_24).
    static constexpr std::size_t kMaxFields = 8;
    std::array<Field, kMaxFields> fields_;
    std::size_t count_ = 0;
};

// Adds a note to the pending exception (PEP 678: add_note, on CPython 3.10 the
// __notes__ list), its type, message and args unchanged, and the note's facts
// as the exception's attribute _note_facts: (template, ((array, index, column
// or None, named, shown), …)). A failure to add them leaves the exception as
// it was.
void add_note(const Note& note);

// A violated invariant with a note for the caller (exact_interp only): what
// the message leaves out, such as the index of the element at fault.
class NotedPanic : public Panic {
public:
    NotedPanic(const char* message, Note note) : Panic(message), note_(std::move(note)) {}
    const Note& note() const { return note_; }

private:
    Note note_;
};

// Knots the front end refuses (exact_interp.forward, inverse, Interpolator):
// a ValueError with the message and a note naming the knot at fault.
class Refused : public std::exception {
public:
    Refused(const char* message, Note note) : message_(message), note_(std::move(note)) {}
    const char* what() const noexcept override { return message_; }
    const Note& note() const { return note_; }

private:
    const char* message_;
    Note note_;
};

// IndexError / KeyError / ValueError with the fixed single-argument message;
// for the errors of extrapolation (exact_interp only) an OverflowError or
// ValueError naming the element `index`.
void raise_interp_error(Direction direction, piecewise::InterpError error, std::size_t index);

// Runs body (which returns a new reference or null with an exception set) and
// turns any C++ exception into a Python one: Panic into PanicException with
// its message, exhausted memory into MemoryError.
// A thread that a finalising interpreter refuses the GIL (inside a call of
// ours or of Python code such a call made) is ended by CPython 3.10-3.13 with
// pthread_exit; CPython 3.14 parks it for good. The thread then holds no GIL
// and may touch no Python object, and its unwind must not be ended by a
// handler: it sleeps here until the process ends, as 3.14 has it.
[[noreturn]] inline void park_forever() noexcept {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
#if RUST_HAVE_FORCED_UNWIND
    } catch (abi::__forced_unwind&) {
        park_forever();
#endif
    } catch (const NotedPanic& p) {
        raise_panic(p.what());
        add_note(p.note());
    } catch (const Refused& r) {
        PyErr_SetString(PyExc_ValueError, r.what());
        if (!r.note().empty()) add_note(r.note());
    } catch (const Panic& p) {
        raise_panic(p.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {  // a vector larger than memory can hold
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
    return nullptr;
}

}  // namespace rust::module
