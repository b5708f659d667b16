// SPDX-License-Identifier: BSD-3-Clause
// What a front end does about outputs in progress when it has to end at once.
#pragma once

namespace kpz {

// Removes every output in progress that already has a name of its own (the temporary names
// used on file systems without unnamed files); for the handlers of signals that end a
// program. Unnamed outputs need nothing: the system drops them with the process.
void removeOutputsInProgress();

} // namespace kpz
