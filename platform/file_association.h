// Recording the .kpz file type with the system, so that opening such a file starts this
// program with the file's path as its one argument.
#pragma once

#include <QString>

namespace platform {

// Associates "*.kpz" with the program at programPath: the type's name "Brisko Packer",
// its display name "Brisko Packer File", the program's icon and the command that opens a
// file. Everything is rewritten on each call, so a program that has moved takes over.
// Places that cannot be written are skipped silently. Returns a message for the user when
// the system reports a failure that must be shown, else an empty string.
QString registerFileType(const QString& programPath);

} // namespace platform
