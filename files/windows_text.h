// SPDX-License-Identifier: BSD-3-Clause
// Windows only: paths and texts cross between the program's UTF-8 strings and the UTF-16
// of the system's wide functions here, and the system's error codes become errno values.
#pragma once

#include <string>
#include <string_view>

namespace kpz::win {

// UTF-8 to UTF-16; false for bytes that are not UTF-8, which name no file.
bool widen(std::string_view utf8, std::wstring& wide);
// A path for the wide file functions: widen()'s text, in the extended form ("\\?\C:\...",
// "\\?\UNC\server\...") when it is too long for the plain one, which stops at MAX_PATH
// unless the system has long paths switched on.
bool widenPath(std::string_view utf8, std::wstring& wide);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view wide);
// The errno value closest to a GetLastError() code.
int errnoFor(unsigned long windowsError);
// Sets errno from GetLastError() and returns false, for one-line failure returns.
bool failWithLastError();

} // namespace kpz::win
