// The CPython and NumPy headers, configured once for every unit of the module,
// and small owners of references.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Built against NumPy 2.x headers, loadable on NumPy 1.23 and later. The API
// table is loaded by hand (numpy_api.cpp), not by import_array().
#define NPY_NO_DEPRECATED_API NPY_1_23_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL rust_numpy_api_table
#ifndef RUST_NUMPY_API_DEFINE
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#include <utility>

namespace rust::module {

// An owned reference, released when it goes out of scope.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    static Ref borrow(PyObject* p) {
        Py_XINCREF(p);
        return Ref(p);
    }
    PyObject* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    PyObject* release() { return std::exchange(p_, nullptr); }

private:
    PyObject* p_ = nullptr;
};

}  // namespace rust::module
