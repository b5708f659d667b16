// SPDX-License-Identifier: BSD-3-Clause
// Path helpers for Windows paths: "\" and "/" both separate, and a drive ("C:") may lead.
#include "paths.h"

#include "windows_text.h"

#include <windows.h>

namespace kpz {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Length of a leading drive ("C:"), 0 when there is none.
size_t driveLength(std::string_view path) {
    const bool letter = !path.empty() && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
    return letter && path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

} // namespace

std::string folderOf(std::string_view path) {
    const size_t drive = driveLength(path);
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string_view::npos || cut < drive)
        return drive ? std::string(path.substr(0, drive)) : std::string(".");
    // A file in a root keeps the root's separator: "\", "C:\".
    if (cut == drive) return std::string(path.substr(0, cut + 1));
    return std::string(path.substr(0, cut));
}

std::string baseNameOf(std::string_view path) {
    const size_t cut = path.find_last_of("\\/");
    const size_t from = cut == std::string_view::npos ? driveLength(path) : cut + 1;
    return std::string(path.substr(std::max(from, driveLength(path))));
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    // "C:" alone means the drive's current folder: nothing goes between. Otherwise the
    // folder's own separator: "\" after a folder written with it, else "/", which Windows
    // takes as well, so a name reads the same in messages on every system.
    const size_t last = result.find_last_of("\\/");
    const char separator = last != std::string::npos && result[last] == '\\' ? '\\' : '/';
    if (!result.empty() && !isSeparator(result.back()) && result.size() != driveLength(result))
        result += separator;
    result += name;
    return result;
}

bool isDirectory(const std::string& path) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string comparableName(std::string_view name) {
    std::wstring wide;
    if (!win::widen(name, wide)) return std::string(name);
    // The system's own case mapping, as its file systems use it.
    ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return win::narrow(wide);
}

} // namespace kpz
