// SPDX-License-Identifier: BSD-3-Clause
// The registry operations of the file type on Windows, below HKEY_CLASSES_ROOT. Keys and
// values are UTF-8 here and UTF-16 for the system, so a program path in any script is
// recorded as it is.
#include "file_type_registry.h"

#include <windows.h>

namespace platform {

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string narrow(const wchar_t* wide, size_t length) {
    if (length == 0) return {};
    const int size = static_cast<int>(length);
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

class ClassesRoot final : public RegistryWriter {
  public:
    ~ClassesRoot() override { closeKey(); }
    bool openKey(const std::string& key) override {
        closeKey();
        return RegCreateKeyExW(HKEY_CLASSES_ROOT, widen(key).c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                               nullptr) == ERROR_SUCCESS;
    }
    bool setDefaultValue(const std::string& value) override {
        // The text with its terminating zero character.
        const std::wstring wide = widen(value);
        return key_ &&
               RegSetValueExW(key_, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                              static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) ==
                   ERROR_SUCCESS;
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
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        // A full buffer may hold a cut path: try again with more room.
        if (n < path.size()) return narrow(path.data(), n);
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::string registerFileTypeInClassesRoot(const std::string& programPath) {
    ClassesRoot root;
    return registerFileType(root, programPath);
}

} // namespace platform
