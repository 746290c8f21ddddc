// The run kernels compiled for one instruction set (its flags set by the
// build for this file alone).
#include "kernels/target.hpp"

#if RUST_KERNELS_X86
#define RUST_KERNEL_NS avx512
#define RUST_KERNEL_LANES 8
#include "kernels/runs.hpp"

RUST_KERNEL_DECLARE(avx512)
#endif
