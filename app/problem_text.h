// SPDX-License-Identifier: BSD-3-Clause
// The window program's words for what stopped a file.
#pragma once

#include "file_job.h"

#include <QString>

// The message box and status text for outcome; passwordOn tells whether the file was
// marked for a password, which makes damage most likely a wrong password; otherFile is the
// name to show for the file that outcome.detail names. Empty for a cancel, which the batch
// shows as "Aborted!".
QString problemText(const kpz::Outcome& outcome, bool passwordOn, const QString& otherFile);
