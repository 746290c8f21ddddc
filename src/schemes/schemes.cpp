#include "schemes/schemes.hpp"

namespace rust::schemes {

static_assert(ForwardScheme<Forward<u64, i64>, u64, i64>);
static_assert(ForwardScheme<Forward<u64, f64>, u64, f64>);
static_assert(InverseScheme<Inverse<i64, u64>, i64, u64>);
static_assert(InverseScheme<Inverse<f64, u64>, f64, u64>);

static_assert(biased(INT64_MIN) == 0 && biased(0) == u64{1} << 63 && biased(INT64_MAX) == ~u64{0});
static_assert(unbiased(biased(-12345)) == -12345);

}  // namespace rust::schemes
