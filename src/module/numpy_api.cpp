#define RUST_NUMPY_API_DEFINE
#include "module/numpy_api.hpp"

#include <atomic>
#include <mutex>
#include <string>

#include "module/errors.hpp"

namespace rust::module {

namespace {

PyArray_Descr* descriptors[3] = {};

// Set once the table and the descriptors are in place. Without a GIL
// (free-threaded CPython) two threads may make the first call at once: each
// finds the capsule, one publishes the table under the lock, and no thread
// uses the table before it and the descriptors are all there.
std::atomic<bool> loaded{false};
std::mutex publishing;

// "Failed to access NumPy array API capsule: {type}: {message}" from the
// pending Python error, which it clears.
void fail_with_pending_error() {
    std::string text = "Failed to access NumPy array API capsule: ";
    text += describe_pending_error();
    raise_panic(text.c_str());
}

// Steps 1 to 4 of the load; a new reference to the capsule, or null with a
// Python error set.
Ref find_capsule() {
    const Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return Ref();
    const Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return Ref();
    const Ref lib(PyImport_ImportModule("numpy.lib"));
    if (!lib) return Ref();
    const Ref parsed(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
    if (!parsed) return Ref();
    const Ref major_obj(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_obj) return Ref();
    const long major = PyLong_AsLong(major_obj.get());
    if (major == -1 && PyErr_Occurred()) return Ref();
    const Ref multiarray(PyImport_ImportModule(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray"));
    if (!multiarray) return Ref();
    return Ref(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
}

}  // namespace

bool ensure_numpy_api() {
    if (loaded.load(std::memory_order_acquire)) [[likely]]
        return true;
    const Ref capsule = find_capsule();
    if (!capsule) {
        fail_with_pending_error();
        return false;
    }
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (table == nullptr) {
        fail_with_pending_error();
        return false;
    }
    // No Python code runs under the lock: only NumPy's table lookups.
    const std::lock_guard<std::mutex> hold(publishing);
    if (loaded.load(std::memory_order_relaxed)) return true;
    PyArray_API = static_cast<void**>(table);
    PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
    // Built-in descriptors are immortal singletons in NumPy; one reference
    // each is kept for the process.
    const int types[3] = {NPY_UINT64, NPY_INT64, NPY_DOUBLE};
    for (int k = 0; k < 3; ++k) {
        descriptors[k] = PyArray_DescrFromType(types[k]);
        if (descriptors[k] == nullptr) {
            for (PyArray_Descr*& d : descriptors) Py_CLEAR(d);
            PyArray_API = nullptr;
            fail_with_pending_error();
            return false;
        }
    }
    loaded.store(true, std::memory_order_release);
    return true;
}

PyArray_Descr* descriptor(Element e) { return descriptors[static_cast<int>(e)]; }

}  // namespace rust::module
