// The parts of the module exact_interp._native (native.cpp) shared by its
// files: the state of one module object and the entry guard that sets it for
// a call, and the test of the arguments that the typed path takes as they
// are. entries.cpp holds the module's functions, table.cpp the Table type,
// kernel_controls.cpp the controls of the kernel targets.
#pragma once

#include <utility>

#include "module/arrays.hpp"
#include "module/errors.hpp"
#include "module/python.hpp"

namespace rust::module {

// The state of one module object (one per import: a module removed from
// sys.modules and imported again has its own): the class of fatal errors,
// which exact_interp hands over when it imports this module (RuntimeError
// until then), and the Table type. NumPy's API table stays one per process, as
// NumPy's own module is: the module loads in the main interpreter only.
struct State {
    PyObject* fatal_error;
    PyObject* table_type;
};

inline State& state_of(PyObject* module) { return *static_cast<State*>(PyModule_GetState(module)); }

// The state of the module whose function this thread runs, for the errors
// raised deep inside a call (fatal_error_type): set by
// each entry for its call, nested calls restoring the caller's.
extern thread_local State* entered;

class Entered {
public:
    explicit Entered(State& state) : saved_(std::exchange(entered, &state)) {}
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;
    ~Entered() { entered = saved_; }

private:
    State* saved_;
};

// body() for the module's function, guarded.
template <class Body>
PyObject* in_module(PyObject* module, Body&& body) {
    const Entered scope(state_of(module));
    return guarded(std::forward<Body>(body));
}

// The module of a Table method's object.
inline PyObject* module_of_type(PyTypeObject* type) { return PyType_GetModule(type); }

template <class Fn>
constexpr PyCFunction function(Fn* fn) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// Whether obj is an array the typed functions take as it is: an ndarray, not
// a subclass, of one dimension and the element's dtype.
bool is_typed(PyObject* obj, Element element);

// Whether the rules left, right and missing (bound[0 … 2]) are words, None,
// Python ints or floats, which the typed path reads as they are.
bool plain_rules(PyObject* const* bound);

// The module's functions (entries.cpp) and the kernel controls
// (kernel_controls.cpp), each a table ending in an empty entry.
extern PyMethodDef entry_functions[];
extern PyMethodDef kernel_control_functions[];

// The Table type of a module object (table.cpp): a new reference, or null
// with an exception set.
PyObject* new_table_type(PyObject* module);

}  // namespace rust::module
