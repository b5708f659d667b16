// SPDX-License-Identifier: BSD-3-Clause
// The kernel choice, by name, for the front ends' settings.
#include "codec_record.h"

#include "kernels.h"

namespace kpz {

bool useKernels(const char* name) {
    Kernels k;
    return kernelsNamed(name, k) && selectKernels(k);
}

} // namespace kpz
