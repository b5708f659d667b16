// SPDX-License-Identifier: BSD-3-Clause
// The .kpz file type in the Windows registry, without Qt: the four keys below the classes
// root and their default values, and the order and failure rules of writing them. The
// window program's Windows build uses it; its tests use it with a registry of their own.
#pragma once

#include <string>
#include <vector>

namespace platform {

// One key below the root and the text of its default (unnamed) value.
struct RegistryEntry {
    std::string key;
    std::string value;
};

// The entries for the program at programPath, in the order they are written: the
// extension, the type's display name, its icon (the program's first) and the command that
// opens a file, with the file's path as the one argument.
std::vector<RegistryEntry> fileTypeEntries(const std::string& programPath);

// The registry operations that registration needs.
class RegistryWriter {
  public:
    virtual ~RegistryWriter() = default;
    // Opens key below the root, creating it when missing; false when that is refused.
    virtual bool openKey(const std::string& key) = 0;
    // Sets the open key's default value to a string; false when that fails.
    virtual bool setDefaultValue(const std::string& value) = 0;
    // Closes the open key, if any.
    virtual void closeKey() = 0;
};

// Writes every entry, overwriting whatever was there. A key that cannot be opened is
// skipped silently (no rights to the root); a value that cannot be set ends the
// registration with the message to show, which is returned. Empty when nothing failed.
std::string registerFileType(RegistryWriter& registry, const std::string& programPath);

#ifdef _WIN32
// The running program's full path, in UTF-8.
std::string thisProgramPath();

// Writes the entries, given in UTF-8, below HKEY_CLASSES_ROOT as UTF-16 strings with
// RegCreateKeyExW, RegSetValueExW and RegCloseKey; returns what registerFileType returns.
std::string registerFileTypeInClassesRoot(const std::string& programPath);
#endif

} // namespace platform
