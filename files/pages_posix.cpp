// SPDX-License-Identifier: BSD-3-Clause
// Memory with its pages present from the start, on POSIX systems.
#include "pages.h"

#include <sys/mman.h>

namespace kpz {

void* allocatePages(size_t bytes) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void freePages(void* pages, size_t bytes) {
    if (pages) ::munmap(pages, bytes);
}

} // namespace kpz
