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
struct FaultPlan {
    int readFailsAt = 0;
    int64_t writeStopsAt = -1;
    bool noUnnamedFiles = false;
};
void installFaultPlan(const FaultPlan& plan);
void clearFaultPlan();
const FaultPlan& activeFaultPlan();

// For File: whether the plan fails this read() call (each call counts once).
bool plannedReadFails();
// For File: how many of count bytes a write at offset may store under the plan.
uint32_t plannedWriteAllowance(uint64_t offset, uint32_t count);

} // namespace kpz
