// SPDX-License-Identifier: BSD-3-Clause
// Path helpers for this system's "/" separated paths.
#include "paths.h"

#include <sys/stat.h>

namespace kpz {

std::string folderOf(std::string_view path) {
    const size_t cut = path.find_last_of('/');
    if (cut == std::string_view::npos) return ".";
    if (cut == 0) return "/";
    return std::string(path.substr(0, cut));
}

std::string baseNameOf(std::string_view path) {
    const size_t cut = path.find_last_of('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string result(folder);
    if (!result.empty() && result.back() != '/') result += '/';
    result += name;
    return result;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string comparableName(std::string_view name) {
    return std::string(name);
}

} // namespace kpz
