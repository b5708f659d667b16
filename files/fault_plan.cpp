// SPDX-License-Identifier: BSD-3-Clause
// The fault plan tests install, and how File asks it about each read and write.
#include "fault_plan.h"

#include <algorithm>

namespace kpz {

namespace {
FaultPlan faultPlan;
int readCalls = 0;
} // namespace

void installFaultPlan(const FaultPlan& plan) {
    faultPlan = plan;
    readCalls = 0;
}

const FaultPlan& activeFaultPlan() {
    return faultPlan;
}

void clearFaultPlan() {
    installFaultPlan(FaultPlan{});
}

bool plannedReadFails() {
    return faultPlan.readFailsAt > 0 && ++readCalls == faultPlan.readFailsAt;
}

void plannedReadRewrite(uint64_t offset, void* bytes, int64_t count) {
    if (count > 0 && faultPlan.rewriteRead)
        faultPlan.rewriteRead(offset, bytes, static_cast<uint32_t>(count));
}

uint32_t plannedWriteAllowance(uint64_t offset, uint32_t count) {
    if (faultPlan.writeStopsAt < 0) return count;
    const auto stop = static_cast<uint64_t>(faultPlan.writeStopsAt);
    return offset >= stop ? 0 : static_cast<uint32_t>(std::min<uint64_t>(count, stop - offset));
}

} // namespace kpz
