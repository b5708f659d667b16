// SPDX-License-Identifier: BSD-3-Clause
// Text and error conversions for the Windows file layer.
#include "windows_text.h"

#include <cerrno>
#include <climits>

#include <windows.h>

namespace kpz::win {

bool widen(std::string_view utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > INT_MAX) return false;
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n) ==
           n;
}

bool widenPath(std::string_view utf8, std::wstring& wide) {
    if (!widen(utf8, wide)) return false;
    // Room below MAX_PATH for a name that a folder call adds (8.3 names, 12 characters).
    constexpr size_t kPlainLimit = MAX_PATH - 12;
    if (wide.size() < kPlainLimit || wide.starts_with(L"\\\\?\\")) return true;
    // The extended form takes no "." or "..", nor "/": the full path first.
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return true; // the plain form then fails as it would have
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n) return true;
    full.resize(written);
    if (full.starts_with(L"\\\\"))
        wide = L"\\\\?\\UNC\\" + full.substr(2);
    else
        wide = L"\\\\?\\" + full;
    return true;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX / 4) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

int errnoFor(unsigned long windowsError) {
    switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NO_UNICODE_TRANSLATION:
        return EINVAL;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    default:
        return EIO;
    }
}

bool failWithLastError() {
    errno = errnoFor(GetLastError());
    return false;
}

} // namespace kpz::win
