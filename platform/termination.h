// SPDX-License-Identifier: BSD-3-Clause
// What runs when the system or the user ends the window program from outside.
#pragma once

namespace platform {

// Makes the requests that end the program from outside (SIGTERM, SIGINT from a terminal,
// SIGHUP, SIGQUIT; on Windows the console's Ctrl+C and close) run cleanup first, then end
// the program the way the request would have, so its parent sees why it stopped. A file
// size limit fails the write that meets it instead of ending the program. Call first in
// main(), before any thread exists.
void cleanUpOnTermination(void (*cleanup)());

} // namespace platform
