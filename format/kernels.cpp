// SPDX-License-Identifier: BSD-3-Clause
// Picks the block coding kernels once per process from what the processor reports.
#include "kernels.h"

#include <atomic>
#include <cstring>

namespace kpz {

namespace {

std::atomic<Kernels>& chosen() {
    static std::atomic<Kernels> k{fastestKernels()};
    return k;
}

} // namespace

bool kernelsSupported(Kernels k) {
    switch (k) {
    case Kernels::Portable:
        return true;
    case Kernels::Avx2:
#if defined(__x86_64__) || defined(__i386__)
        // Safe even when called before the runtime has read the processor's features.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
#else
        return false;
#endif
    }
    return false;
}

Kernels fastestKernels() {
    return kernelsSupported(Kernels::Avx2) ? Kernels::Avx2 : Kernels::Portable;
}

Kernels activeKernels() {
    return chosen().load(std::memory_order_relaxed);
}

bool selectKernels(Kernels k) {
    if (!kernelsSupported(k)) return false;
    chosen().store(k, std::memory_order_relaxed);
    return true;
}

bool kernelsNamed(const char* name, Kernels& k) {
    if (std::strcmp(name, "portable") == 0) {
        k = Kernels::Portable;
        return true;
    }
    if (std::strcmp(name, "avx2") == 0) {
        k = Kernels::Avx2;
        return true;
    }
    return false;
}

const char* kernelsName(Kernels k) {
    return k == Kernels::Avx2 ? "avx2" : "portable";
}

} // namespace kpz
