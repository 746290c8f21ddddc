// The run kernels compiled for one instruction set (its flags set by the
// build for this file alone).
#include "kernels/target.hpp"

#if RUST_KERNELS_NEON
#define RUST_KERNEL_NS neon
#define RUST_KERNEL_LANES 2
#include "kernels/runs.hpp"

RUST_KERNEL_DECLARE(neon)
#endif
