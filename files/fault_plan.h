// SPDX-License-Identifier: BSD-3-Clause
// A fault plan that tests install to make reads and writes of every File fail at chosen
// points, and outputs take the path of file systems without unnamed files.
#pragma once

#include <cstdint>

namespace kpz {

// Faults injected into every File, for tests. readFailsAt counts read() calls on files
// opened for reading since the plan was installed (1 = the first read fails); 0 = never.
// writeStopsAt is a byte offset in every file opened for writing past which nothing more
// is stored (the write reports a short count); negative = never.
// noUnnamedFiles makes outputs take the path of file systems without unnamed files.
// rewriteRead, where set, is called after each positional read (readAt, POSIX) with the
// bytes it read, which it may change as a file rewritten in place between two reads would
// be.
struct FaultPlan {
    int readFailsAt = 0;
    int64_t writeStopsAt = -1;
    bool noUnnamedFiles = false;
    void (*rewriteRead)(uint64_t offset, void* bytes, uint32_t count) = nullptr;
};
void installFaultPlan(const FaultPlan& plan);
void clearFaultPlan();
const FaultPlan& activeFaultPlan();

// For File: whether the plan fails this read() call (each call counts once).
bool plannedReadFails();
// For File: lets the plan change the count bytes a positional read at offset gave.
void plannedReadRewrite(uint64_t offset, void* bytes, int64_t count);
// For File: how many of count bytes a write at offset may store under the plan.
uint32_t plannedWriteAllowance(uint64_t offset, uint32_t count);

} // namespace kpz
