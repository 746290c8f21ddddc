// NumPy's API table, loaded at the first call of any function and kept for
// the process; the three element descriptors, cached with it.
#pragma once

#include "module/python.hpp"

namespace rust::module {

// Loads the table if it is not loaded yet. On failure raises PanicException
// "Failed to access NumPy array API capsule: …", caches nothing and returns
// false; the next call tries again.
bool ensure_numpy_api();

enum class Element { U64, I64, F64 };

// The descriptor of an element type (a borrowed reference, valid for the
// process once the API is loaded).
PyArray_Descr* descriptor(Element e);

}  // namespace rust::module
