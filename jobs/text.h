// SPDX-License-Identifier: BSD-3-Clause
// The codec's rules about text that the front ends need to show or ask for something: names
// as they may be shown, the 8-bit character set of stored names and passwords, and the
// password's code. The functions are the format layer's own, named here for the layers
// above it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kpz {

// A name or path from a file or the system, made safe to show: bytes that are not valid
// UTF-8 and control characters are escaped, so they can neither hide nor forge text.
std::string displayText(std::string_view bytes);

// Only this many characters of a password count.
extern const int kPasswordCharacters;
// The code a password given as UTF-8 text scrambles with; characters outside
// Windows-1252 count as '?'.
uint16_t passwordCodeUtf8(std::string_view utf8Text);
// UTF-8 text as Windows-1252 bytes ('?' for what that set lacks), and back.
std::string utf8ToCp1252(std::string_view text);
std::string cp1252ToUtf8(std::string_view bytes);
// The upper-case form of a Windows-1252 byte, as the password's code takes it.
uint8_t upperCp1252(uint8_t byte);

} // namespace kpz
