#include "divop/divop.hpp"

namespace rust::divop {

// Known answers of the portable primitive, checked where it is defined.
static_assert(div_wide_portable(0, 10, 3).q == 3 && div_wide_portable(0, 10, 3).r == 1);
static_assert(div_wide_portable(1, 0, 2).q == (u64{1} << 63) && div_wide_portable(1, 0, 2).r == 0);
static_assert(div_wide_portable(~u64{0} - 1, ~u64{0}, ~u64{0}).q == ~u64{0});

}  // namespace rust::divop
