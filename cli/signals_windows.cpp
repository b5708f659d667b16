// SPDX-License-Identifier: BSD-3-Clause
// Cleanup when the console ends kpz (Ctrl+C, Ctrl+Break, the console closing, log-off or
// shut-down): outputs in progress are removed and the console's echo is put back. Outputs
// are marked for deletion while they are written, so even a killed kpz leaves none; the
// handler also covers file systems where that mark is not available.
#include "signals.h"

#include "host.h"
#include "terminal.h"

#include <windows.h>

namespace kpzcli {

namespace {

// The system runs this on a thread of its own, so the cleanup is ordinary code.
BOOL WINAPI cleanupOnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        kpz::removePendingOutputs();
        restoreTerminalAfterSignal();
        // The status a program ended by Ctrl+C has, so that the caller sees why we stopped.
        ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
        return FALSE;
    }
}

} // namespace

void installCleanupHandlers() {
    SetConsoleCtrlHandler(cleanupOnConsoleEvent, TRUE);
}

} // namespace kpzcli
