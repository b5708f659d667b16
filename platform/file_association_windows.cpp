// SPDX-License-Identifier: BSD-3-Clause
// The .kpz file type in the Windows registry, under HKEY_CLASSES_ROOT: the extension, the
// type's display name, its icon and the command that opens a file. The keys and the rules
// of writing them live in the Qt-free file_type_registry unit.
#include "file_association.h"

#include "file_type_registry.h"

#include <QDir>

namespace platform {

QString registerFileType(const QString& programPath) {
    // UTF-8 on the way to the registry's UTF-16 calls, so that every character of the path
    // is kept.
    const std::string program = QDir::toNativeSeparators(programPath).toUtf8().toStdString();
    return QString::fromStdString(registerFileTypeInClassesRoot(program));
}

} // namespace platform
