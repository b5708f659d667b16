// The .kpz file type in the Windows registry, under HKEY_CLASSES_ROOT: the extension, the
// type's display name, its icon and the command that opens a file.
#include "file_association.h"

#include <QDir>

#include <windows.h>

namespace {

enum class KeyResult { Skipped, Written, Failed };

// Opens or creates the key below the classes root and sets its default value.
KeyResult writeDefaultValue(const char* keyPath, const QByteArray& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return KeyResult::Skipped;
    // The text with its terminating zero byte.
    const LONG status =
        RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.constData()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? KeyResult::Written : KeyResult::Failed;
}

} // namespace

namespace platform {

QString registerFileType(const QString& programPath) {
    const QByteArray program = QDir::toNativeSeparators(programPath).toLocal8Bit();
    const struct {
        const char* key;
        QByteArray value;
    } entries[] = {
        {".kpz", "Brisko Packer"},
        {"Brisko Packer", "Brisko Packer File"},
        {"Brisko Packer\\DefaultIcon", program + ",0"},
        {"Brisko Packer\\shell\\open\\command", '"' + program + "\" \"%1\""},
    };
    // A key that cannot be opened (no rights to the classes root) is passed over; a value
    // that cannot be set in a key that did open ends the registration with a message.
    for (const auto& entry : entries)
        if (writeDefaultValue(entry.key, entry.value) == KeyResult::Failed)
            return "Failed to set data for ''";
    return {};
}

} // namespace platform
