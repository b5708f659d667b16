// SPDX-License-Identifier: BSD-3-Clause
// Names made safe to show: read as UTF-8 or Windows-1252, with the characters that steer a
// display written as escapes.
#include "display_text.h"

#include "charset.h"

#include <cstdint>

namespace kpz {

namespace {

bool steersDisplay(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Length of the UTF-8 sequence that starts with lead; the text is known to be valid.
size_t sequenceLength(uint8_t lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

char32_t decode(std::string_view sequence) {
    const auto lead = static_cast<uint8_t>(sequence[0]);
    if (sequence.size() == 1) return lead;
    char32_t cp = lead & (0x7F >> sequence.size());
    for (size_t k = 1; k < sequence.size(); ++k)
        cp = (cp << 6) | (static_cast<uint8_t>(sequence[k]) & 0x3F);
    return cp;
}

} // namespace

std::string displayText(std::string_view bytes) {
    const std::string text = isValidUtf8(bytes) ? std::string(bytes) : cp1252ToUtf8(bytes);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceLength(static_cast<uint8_t>(text[i]));
        const std::string_view sequence(text.data() + i, length);
        i += length;
        const char32_t cp = decode(sequence);
        if (!steersDisplay(cp)) {
            shown.append(sequence);
            continue;
        }
        // Every character escaped lies below U+10000, so four digits always suffice.
        shown += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            shown += kHex[(cp >> shift) & 0xF];
    }
    return shown;
}

} // namespace kpz
