// The controls of the kernel targets of exact_interp._native: which target
// each function's run kernels use, and a target forced for benchmarks.
#include <cstring>

#include "kernels/kernels.hpp"
#include "module/native.hpp"

namespace rust::module {

namespace {

// The instruction set each function's run kernels use on this processor,
// chosen at load (for benchmarks and bug reports).
PyObject* kernel_targets(PyObject*, PyObject*) {
    PyObject* d = PyDict_New();
    if (d == nullptr) return nullptr;
    const struct {
        const char* function;
        bool float_values, inverse;
    } kernels[] = {{"forward_int", false, false},
                   {"inverse_int", false, true},
                   {"forward_float", true, false},
                   {"inverse_float", true, true}};
    for (const auto& k : kernels) {
        PyObject* name = PyUnicode_FromString(rust::kernels::name(rust::kernels::active(k.float_values, k.inverse)));
        if (name == nullptr || PyDict_SetItemString(d, k.function, name) < 0) {
            Py_XDECREF(name);
            Py_DECREF(d);
            return nullptr;
        }
        Py_DECREF(name);
    }
    return d;
}

// _force_kernel_target(name): every kernel of this module on the named
// target from now on (None: the choice made at load), for benchmarks that
// time each target the processor runs. Not for use while calls run.
PyObject* force_kernel_target(PyObject*, PyObject* arg) {
    if (arg == Py_None) {
        rust::kernels::choose_automatically();
        Py_RETURN_NONE;
    }
    const char* text = PyUnicode_Check(arg) ? PyUnicode_AsUTF8AndSize(arg, nullptr) : nullptr;
    if (text == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a target name or None is required");
        return nullptr;
    }
    for (const rust::kernels::Target t : rust::kernels::compiled()) {
        if (std::strcmp(rust::kernels::name(t), text) == 0 && rust::kernels::supported(t)) {
            rust::kernels::force(t);
            Py_RETURN_NONE;
        }
    }
    PyErr_Format(PyExc_ValueError, "kernel target %R is not one this build holds and this processor runs", arg);
    return nullptr;
}

}  // namespace

PyMethodDef kernel_control_functions[] = {
    {"_kernel_targets", kernel_targets, METH_NOARGS,
     "_kernel_targets()\n--\n\nThe instruction set of each function's run kernels on this processor."},
    {"_force_kernel_target", force_kernel_target, METH_O,
     "_force_kernel_target(name)\n--\n\nEvery kernel on the named target from now on (None: the choice made at "
     "load); for benchmarks."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace rust::module
