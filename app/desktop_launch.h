// SPDX-License-Identifier: BSD-3-Clause
// Runs started from the desktop entries, as when files are opened in a file manager: the
// entries pass a marker argument before the files' paths, so the program can tell such a
// run from one typed in a terminal.
#pragma once

#include <QString>
#include <QStringList>

class TMainForm;

namespace desktop_launch {

// What the restoring entry's Exec line puts before the files (or alone, when the entry is
// started from a menu without a file).
inline constexpr char kMarker[] = "--from-desktop";
// What the "Compress with" entry puts before the files.
inline constexpr char kCompressMarker[] = "--compress";

enum class Action { None, Restore, Compress };

// Removes a marker from argv when it is the first argument, before the application reads
// its arguments; returns the run it asks for.
Action takeMarker(int& argc, char** argv);

// For a run started from the desktop with files: hands the window the batch to run on its
// first activation, every file in one run, each output beside its file (a compression
// leaves out .kpz files). Returns the files' full paths; empty when the run has no file.
QStringList prepareRun(TMainForm& form, Action action);

// After that run: tells the desktop's notification service, in one notification, how many
// files were done and into which folders, which one failed and why, that the user
// cancelled, and which files the run did not reach or left out. Returns whether it was
// shown.
bool reportOutcome(TMainForm& form, const QStringList& sources, Action action);

} // namespace desktop_launch
