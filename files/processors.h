// SPDX-License-Identifier: BSD-3-Clause
// What the machine offers a run that would use more than one thread: positional reads and
// writes that threads may share, the processors this process may use, and the load now.
#pragma once

namespace kpz {

// Whether readAt and writeAt may run on one file from several threads at once, each at
// its own offset, without disturbing one another.
bool positionalIoFromThreads();
// Processors this process may run on (its affinity mask where the system has one); at
// least 1.
unsigned usableProcessors();
// Threads on the whole machine that are running or ready to run at this moment, the
// calling one left out (other programs' and this one's); 0 where the system does not tell.
unsigned otherRunnableThreads();

} // namespace kpz
