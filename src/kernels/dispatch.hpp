// The choice of kernel target: which vector kernels, if any, take a run.
#pragma once

#include <cstddef>

#include "kernels/kernels.hpp"
#include "kernels/target.hpp"

namespace rust::kernels {

// The kernels whose target is chosen each on its own.
enum class Kernel { ForwardFloat, InverseFloat, ForwardInt, InverseInt, Scan, ForwardRounded, InverseRounded };
inline constexpr int kKernels = 7;

// The vector kernels of the target chosen for a kernel, for a run of count
// keys; null for the scalar target and for runs too short for its vectors.
const Table* vector_kernels(Kernel kernel, std::size_t count);

}  // namespace rust::kernels
