// SPDX-License-Identifier: BSD-3-Clause
// The registry operations of the file type on Windows, below HKEY_CLASSES_ROOT.
#include "file_type_registry.h"

#include <windows.h>

namespace platform {

namespace {

class ClassesRoot final : public RegistryWriter {
  public:
    ~ClassesRoot() override { closeKey(); }
    bool openKey(const std::string& key) override {
        closeKey();
        return RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    bool setDefaultValue(const std::string& value) override {
        // The text with its terminating zero byte.
        return key_ &&
               RegSetValueExA(key_, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    void closeKey() override {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }

  private:
    HKEY key_ = nullptr;
};

} // namespace

std::string thisProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        // A full buffer may hold a cut path: try again with more room.
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::string registerFileTypeInClassesRoot(const std::string& programPath) {
    ClassesRoot root;
    return registerFileType(root, programPath);
}

} // namespace platform
