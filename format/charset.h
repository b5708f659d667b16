// SPDX-License-Identifier: BSD-3-Clause
// The 8-bit character set of stored names and passwords (Windows-1252), converted to and
// from the UTF-8 used on this system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kpz {

bool isValidUtf8(std::string_view text);
// Each byte read as Windows-1252, written as UTF-8.
std::string cp1252ToUtf8(std::string_view bytes);
// UTF-8 text as Windows-1252 bytes; a character with no byte there becomes '?'.
std::string utf8ToCp1252(std::string_view text);
// Upper-cases one Windows-1252 byte.
uint8_t upperCp1252(uint8_t byte);

} // namespace kpz
