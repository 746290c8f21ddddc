#include "base/base.hpp"

namespace rust {

// Out of line so that callers on hot paths carry only a call, not the
// construction of an exception.
void panic(const char* message) { throw Panic(message); }

// Known answers of the wide primitives, portable bodies and the type in use.
namespace {
constexpr bool product_is(u64 a, u64 b, u64 hi, u64 lo) {
    u64 h = 0, l = 0;
    wide::mul_portable(a, b, h, l);
    return h == hi && l == lo && wide::mul(a, b) == wide::make(hi, lo);
}
}  // namespace
static_assert(product_is(~u64{0}, ~u64{0}, ~u64{0} - 1, 1));
static_assert(product_is(u64{1} << 32, u64{1} << 32, 1, 0));
static_assert(product_is(0xFFFFFFFF, 0xFFFFFFFF, 0, 0xFFFFFFFE00000001));
static_assert(wide::div_portable(0, 10, 3).q == 3 && wide::div_portable(0, 10, 3).r == 1);
static_assert(wide::div_portable(1, 0, 2).q == (u64{1} << 63) && wide::div_portable(1, 0, 2).r == 0);
static_assert(wide::div_portable(~u64{0} - 1, ~u64{0}, ~u64{0}).q == ~u64{0});
static_assert(wide::div_portable(0x7FFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x80000000).q == 0xFFFFFFFFFFFFFFFF);
static_assert(wide::make(3, 5) / u128(2) == wide::make(1, (u64{1} << 63) | 2));
static_assert(wide::make(3, 5) % wide::make(1, 0) == u128(5) && wide::make(3, 5) / wide::make(1, 1) == u128(3) &&
              wide::make(3, 5) % wide::make(1, 1) == u128(2));
static_assert((wide::make(1, 0) - 1) == u128(~u64{0}) && (~u128(0) >> 127) == u128(1));

}  // namespace rust
