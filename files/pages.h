// SPDX-License-Identifier: BSD-3-Clause
// Memory for a large buffer taken straight from the system, its pages present from the
// start: on a virtual machine the first touch of each new page costs a fault (about 10 us
// measured, as long as restoring 10 KB), while mapping them present at once costs a tenth.
#pragma once

#include <cstddef>

namespace kpz {

// bytes of zeroed memory, aligned to a page; nullptr when the system has none to give.
void* allocatePages(size_t bytes);
// Returns memory from allocatePages (nullptr is ignored).
void freePages(void* pages, size_t bytes);

} // namespace kpz
