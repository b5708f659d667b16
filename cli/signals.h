// SPDX-License-Identifier: BSD-3-Clause
// What happens when a signal ends kpz: no temporary output and no silenced terminal are
// left behind.
#pragma once

namespace kpzcli {

// Makes the signals that end a program remove every named temporary output in progress
// and put terminal echo back first. A file size limit fails the write instead of ending
// the program. Call before starting any thread.
void installCleanupHandlers();

} // namespace kpzcli
