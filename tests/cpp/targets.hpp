// The kernel targets a test runs on: every one this build holds that the
// processor runs.
#pragma once

#include <vector>

#include "kernels/kernels.hpp"

namespace kernel_targets {

inline std::vector<rust::kernels::Target> supported() {
    std::vector<rust::kernels::Target> v;
    for (const rust::kernels::Target t : rust::kernels::compiled())
        if (rust::kernels::supported(t)) v.push_back(t);
    return v;
}

}  // namespace kernel_targets
