// SPDX-License-Identifier: BSD-3-Clause
// Memory for a large buffer, on Windows: committed at once.
#include "pages.h"

#include <windows.h>

namespace kpz {

void* allocatePages(size_t bytes) {
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void freePages(void* pages, size_t) {
    if (pages) ::VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace kpz
