// SPDX-License-Identifier: BSD-3-Clause
// The thread count for one file, from the setting and what the machine has free.
#include "threads.h"

namespace kpz {

unsigned threadsForFile(ThreadSetting setting, unsigned busyThreads, unsigned processors,
                        unsigned otherRunnable) {
    if (setting == ThreadSetting::One) return 1;
    // Every busy thread has a processor, and this file needs one more.
    const unsigned running = busyThreads > 0 ? busyThreads : 1;
    if (processors < running + 1) return 1;
    // Two: whatever else the machine runs.
    if (setting == ThreadSetting::Auto && processors < running + 1 + otherRunnable) return 1;
    return 2;
}

} // namespace kpz
