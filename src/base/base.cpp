#include "base/base.hpp"

namespace rust {

// Out of line so that callers on hot paths carry only a call, not the
// construction of an exception.
void panic(const char* message) { throw Panic(message); }

}  // namespace rust
