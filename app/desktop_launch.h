// SPDX-License-Identifier: BSD-3-Clause
// Runs started from the desktop entry, as when a .kpz file is opened in a file manager:
// the entry passes a marker argument before the file's path, so the program can tell such
// a run from one typed in a terminal.
#pragma once

#include <QString>

class TMainForm;

namespace desktop_launch {

// What the desktop entry's Exec line puts before the file (or alone, when the entry is
// started from a menu without a file).
inline constexpr char kMarker[] = "--from-desktop";

// Removes the marker from argv when it is the first argument, before the application
// reads its arguments; returns whether it was there.
bool takeMarker(int& argc, char** argv);

// For a command-line run started from the desktop: moves the working directory to the
// folder of the file to restore and hands the window that file by its full path, so the
// restored file lands beside it rather than in the launcher's working folder. Returns the
// file's full path; empty when the run restores nothing.
QString restoreBesideSource(TMainForm& form);

// After that run: tells the desktop's notification service what was restored and where,
// or what failed. Returns whether a notification was shown.
bool reportOutcome(TMainForm& form, const QString& source);

} // namespace desktop_launch
