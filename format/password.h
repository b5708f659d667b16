// SPDX-License-Identifier: BSD-3-Clause
// The 16-bit password code that scrambles payload words.
#pragma once

#include <cstdint>
#include <string_view>

namespace kpz {

inline constexpr int kMaxPasswordLength = 16;

// Code of a password given as Windows-1252 bytes (at most 16 are used): each byte is
// upper-cased and read as a signed 8-bit value c; at position i (from 1) the code becomes
// (c / i) * code + c, wrapping at 16 bits, with the old code taken as signed.
uint16_t passwordCode(std::string_view cp1252Bytes);

// The same for UTF-8 text, converted to Windows-1252 first.
uint16_t passwordCodeUtf8(std::string_view utf8Text);

} // namespace kpz
