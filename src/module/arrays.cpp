#include "module/arrays.hpp"

#include "module/binding.hpp"
#include "module/errors.hpp"

namespace rust::module {

bool accept(PyObject* obj, Element element, const char* param, View& view) {
    if (PyArray_Check(obj)) {
        PyArrayObject* arr = reinterpret_cast<PyArrayObject*>(obj);
        PyArray_Descr* want = descriptor(element);
        if (PyArray_NDIM(arr) == 1 && (PyArray_DESCR(arr) == want || PyArray_EquivTypes(PyArray_DESCR(arr), want))) {
            view.array = Ref::borrow(obj);
            view.start = static_cast<const unsigned char*>(PyArray_DATA(arr));
            view.length = PyArray_DIM(arr, 0);
            view.stride = PyArray_STRIDE(arr, 0);
            return true;
        }
    }
    raise_conversion_error(param, obj, "PyArray<T, D>");
    return false;
}

PyObject* new_result(Element element, npy_intp length) {
    if (length > PY_SSIZE_T_MAX / 8) return PyErr_NoMemory();  // more bytes than an address space holds
    PyArray_Descr* descr = descriptor(element);
    Py_INCREF(descr);  // PyArray_NewFromDescr steals a reference
    npy_intp dims[1] = {length};
    PyObject* result = PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, nullptr, nullptr, 0, nullptr);
    if (result == nullptr && !(PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_MemoryError))) {
        if (PyErr_Occurred()) PyErr_Print();
        raise_panic("Python API call failed");
    }
    return result;
}

PyObject* read_only_view(Element element, const void* data, npy_intp length, PyObject* owner) {
    static const unsigned char nothing[8] = {};  // an empty vector may have no storage: NumPy must not allocate any
    PyArray_Descr* descr = descriptor(element);
    Py_INCREF(descr);  // stolen
    npy_intp dims[1] = {length};
    void* start = const_cast<void*>(data != nullptr ? data : static_cast<const void*>(nothing));
    Ref view(PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, nullptr, start, 0, nullptr));
    if (!view) return nullptr;
    Py_INCREF(owner);  // stolen, also on failure
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(view.get()), owner) < 0) return nullptr;
    return view.release();
}

}  // namespace rust::module
