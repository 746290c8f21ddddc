// The module exact_interp._native: its definition, its state and the class
// of its fatal errors. Its functions are in entries.cpp, the Table type in
// table.cpp, the kernel controls in kernel_controls.cpp. Fatal errors are
// exact_interp.FatalError, an ordinary exception, which the package hands
// over as it imports the module.
// The module never calls the package's Python: the front end converts every
// other kind of argument and calls in here with typed arrays. Where the front
// end's entries and the Table's methods are given anything else, they answer
// NotImplemented, and the front end converts.
// A multi-phase module: each import has its own state (State).
#include "module/native.hpp"

namespace rust::module {

thread_local State* entered = nullptr;

namespace {

// The module loads in the main interpreter only: NumPy's API table is one per
// process, and so is NumPy's own module.
int exec_module(PyObject* module) {
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) != 0) {
        PyErr_SetString(PyExc_ImportError,
                        "exact_interp._native cannot be loaded in a subinterpreter: it runs in the main interpreter "
                        "only, as NumPy does");
        return -1;
    }
    State& state = state_of(module);
    state.fatal_error = Ref::borrow(PyExc_RuntimeError).release();  // until exact_interp hands its class over
    if (PyModule_AddFunctions(module, kernel_control_functions) < 0) return -1;
    state.table_type = new_table_type(module);
    if (state.table_type == nullptr) return -1;
    return PyModule_AddObjectRef(module, "Table", state.table_type);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    State& state = state_of(module);
    Py_VISIT(state.fatal_error);
    Py_VISIT(state.table_type);
    return 0;
}

int clear_module(PyObject* module) {
    State& state = state_of(module);
    Py_CLEAR(state.fatal_error);
    Py_CLEAR(state.table_type);
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    // Safe without a GIL (free-threaded CPython): a Table is immutable once
    // made; the NumPy table is published once for all; the kernel choice is
    // atomic; the fatal-error class is set as exact_interp is imported.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "exact_interp._native", "",
                          sizeof(State),         entry_functions,        slots,
                          traverse_module,       clear_module,           free_module};

}  // namespace

PyObject* fatal_error_type() {
    if (entered == nullptr || entered->fatal_error == nullptr) return PyExc_RuntimeError;
    return entered->fatal_error;
}

}  // namespace rust::module

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&rust::module::definition); }
