// SPDX-License-Identifier: BSD-3-Clause
// Password code: a 16-bit value built from the upper-cased password, one character at a time.
#include "password.h"

#include "charset.h"

namespace kpz {

uint16_t passwordCode(std::string_view bytes) {
    uint16_t code = 0;
    const size_t n = bytes.size() < kMaxPasswordLength ? bytes.size() : kMaxPasswordLength;
    for (size_t i = 1; i <= n; ++i) {
        const int c = static_cast<int8_t>(upperCp1252(static_cast<uint8_t>(bytes[i - 1])));
        const int q = c / static_cast<int>(i);
        code = static_cast<uint16_t>(q * static_cast<int16_t>(code) + c);
    }
    return code;
}

uint16_t passwordCodeUtf8(std::string_view utf8Text) {
    return passwordCode(utf8ToCp1252(utf8Text));
}

} // namespace kpz
