// SPDX-License-Identifier: BSD-3-Clause
// The processor and load probes on POSIX systems.
#include "processors.h"

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace kpz {

bool positionalIoFromThreads() {
    // pread and pwrite take the offset with the call and leave the descriptor's alone.
    return true;
}

unsigned usableProcessors() {
#ifdef __linux__
    // The affinity mask, not the processors online: a run pinned to one processor (taskset,
    // a container's cpuset) has only that one.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        return n > 0 ? static_cast<unsigned>(n) : 1u;
    }
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

unsigned otherRunnableThreads() {
#ifdef __linux__
    // The fourth field of /proc/loadavg: "runnable/existing" scheduling entities, now.
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned long runnable = 0;
    int field = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ') {
            if (++field == 3) {
                runnable = std::strtoul(p + 1, nullptr, 10);
                break;
            }
        }
    }
    return runnable > 1 ? static_cast<unsigned>(runnable - 1) : 0u;
#else
    return 0;
#endif
}

} // namespace kpz
