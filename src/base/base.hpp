// Types shared by every layer of the core: the fatal-error path and the
// rounding rule of the inverse maps.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "base/wide.hpp"

namespace rust {

using u64 = std::uint64_t;
using i64 = std::int64_t;
using f64 = double;
using u128 = wide::u128;  // native where the compiler has it, else a pair of words

// A violated invariant. The message is the invariant's exact text; the module
// layer turns it into PanicException and no other layer catches it.
class Panic : public std::logic_error {
public:
    explicit Panic(const char* message) : std::logic_error(message) {}
};

[[noreturn]] void panic(const char* message);

// How a position between or outside the knots becomes a whole position.
// Inside a segment it is a numeric rounding rule; outside the table it decides
// clamping. One byte, numbered as the Python method words are parsed.
enum class InverseMethod : std::uint8_t {
    Exact = 0,    // method None: only a whole position is an answer
    Nearest = 1,  // "nearest": to nearest, ties to even
    Ffill = 2,    // "ffill": down
    Bfill = 3,    // "bfill": up
};

}  // namespace rust
