// SPDX-License-Identifier: BSD-3-Clause
// The processor and load probes on Windows.
#include "processors.h"

#include <windows.h>

namespace kpz {

bool positionalIoFromThreads() {
    // readAt and writeAt move the handle's one position and put it back: two threads at
    // once would each put back the other's.
    return false;
}

unsigned usableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
    unsigned n = 0;
    for (; process; process &= process - 1)
        ++n;
    return n;
}

unsigned otherRunnableThreads() {
    // Windows keeps no such count at hand.
    return 0;
}

} // namespace kpz
