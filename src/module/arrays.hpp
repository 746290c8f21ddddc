// Array arguments, read in place or copied into owned vectors, and the result
// array.
#pragma once

#include <cstring>
#include <vector>

#include "module/numpy_api.hpp"
#include "module/python.hpp"
#include "piecewise/piecewise.hpp"

namespace rust::module {

// A read-only one-dimensional view of an accepted argument, holding a new
// reference to the array for the whole call. Element i is the 8 bytes at
// start + i·stride; the stride may be negative, zero or unaligned.
struct View {
    Ref array;
    const unsigned char* start = nullptr;
    npy_intp length = 0;
    npy_intp stride = 0;

    template <class T>
    piecewise::Strided<T> strided() const {
        return {start, static_cast<std::ptrdiff_t>(stride), static_cast<std::size_t>(length)};
    }
};

// Accepts an ndarray (or subclass) with exactly one dimension whose dtype is
// equivalent to the element's. Otherwise raises TypeError
// "argument '{param}': '{type}' object cannot be converted to 'PyArray<T, D>'"
// and returns false.
bool accept(PyObject* obj, Element element, const char* param, View& view);

// A contiguous copy of the view's elements in logical order: one block copy
// when the stride is 8 (or there are fewer than two elements), else element
// by element. Throws std::bad_alloc or std::length_error when memory runs out.
template <class T>
piecewise::Knots<T> copy(const View& v) {
    static_assert(sizeof(T) == 8);
    piecewise::Knots<T> out(static_cast<std::size_t>(v.length));
    if (v.length < 2 || v.stride == 8) {
        if (v.length > 0) std::memcpy(out.data(), v.start, static_cast<std::size_t>(v.length) * 8);
    } else {
        const piecewise::Strided<T> s = v.strided<T>();
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = s[i];
    }
    return out;
}

// A new one-dimensional, C-contiguous, aligned, writeable array of `length`
// elements whose memory NumPy allocates and owns. Null with MemoryError set
// when it cannot be had; for any other failure of NumPy the pending error is
// printed and PanicException "Python API call failed" is raised.
PyObject* new_result(Element element, npy_intp length);

// A new one-dimensional, read-only array over `length` elements at `data`,
// memory that `owner` keeps alive: the array holds a reference to it as its
// base. Null with an exception set when NumPy fails.
PyObject* read_only_view(Element element, const void* data, npy_intp length, PyObject* owner);

}  // namespace rust::module
