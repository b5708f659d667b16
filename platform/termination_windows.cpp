// SPDX-License-Identifier: BSD-3-Clause
// Cleanup when the console the window program was started from ends it (Ctrl+C,
// Ctrl+Break, the console closing, log-off or shut-down). Outputs are marked for deletion
// while they are written, so a program ended any other way leaves none either; this covers
// the file systems where that mark is not available.
#include "termination.h"

#include <windows.h>

namespace platform {

namespace {

void (*cleanupToRun)() = nullptr;

// The system runs this on a thread of its own, so the cleanup is ordinary code.
BOOL WINAPI cleanUpOnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (cleanupToRun) cleanupToRun();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
        return FALSE;
    }
}

} // namespace

void cleanUpOnTermination(void (*cleanup)()) {
    cleanupToRun = cleanup;
    SetConsoleCtrlHandler(cleanUpOnConsoleEvent, TRUE);
}

} // namespace platform
