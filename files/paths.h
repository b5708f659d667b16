// SPDX-License-Identifier: BSD-3-Clause
// Path helpers for this system's "/" separated paths.
#pragma once

#include <string>
#include <string_view>

namespace kpz {

// The folder part of a path ("." when it has none, "/" for a file in the root).
std::string folderOf(std::string_view path);
// The part after the last "/".
std::string baseNameOf(std::string_view path);
// folder + "/" + name, without doubling a trailing "/".
std::string joinPath(std::string_view folder, std::string_view name);

bool isDirectory(const std::string& path);
// A file name as this system compares names: unchanged where case matters, folded to one
// case where it does not (Windows).
std::string comparableName(std::string_view name);

} // namespace kpz
