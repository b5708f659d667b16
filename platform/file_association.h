// SPDX-License-Identifier: BSD-3-Clause
// Recording the .kpz file type with the system, so that opening such a file starts this
// program with the file's path as its one argument.
#pragma once

#include <QString>

namespace platform {

// Associates "*.kpz" with the program at programPath: the type's name "Brisko Packer",
// its display name "Brisko Packer File", the program's icon and the command that opens a
// file. What the system already holds for the program is kept: an installed association
// is not shadowed by the user's own, and a program chosen by the user for the type stays
// the default; the user's own association follows the program when it has moved.
// Places that cannot be written are skipped silently. Returns a message for the user when
// the system reports a failure that must be shown, else an empty string.
QString registerFileType(const QString& programPath);

// Freedesktop systems: the name of the desktop entry that stands for this program, without
// ".desktop" (the installed one when there is one); its icon has the same name.
QString desktopEntryName();

} // namespace platform
