// SPDX-License-Identifier: BSD-3-Clause
// Windows-1252 <-> UTF-8. Written out here because the mapping is tiny and fixed, and the
// codec links nothing but the standard library.
#include "charset.h"

namespace kpz {

namespace {

// Code points of bytes 0x80..0x9F; the five bytes Windows-1252 leaves undefined map to
// the C1 controls of the same value, so every byte survives a round trip.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t toCodePoint(uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char32_t{byte};
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is malformed
// (overlong forms, surrogates and values past U+10FFFF included).
size_t decodeUtf8(std::string_view text, size_t i, char32_t& cp) {
    const auto b0 = static_cast<uint8_t>(text[i]);
    size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<uint8_t>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        size_t len = decodeUtf8(text, i, cp);
        if (!len) return false;
        i += len;
    }
    return true;
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        appendUtf8(out, toCodePoint(static_cast<uint8_t>(c)));
    return out;
}

std::string utf8ToCp1252(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        size_t len = decodeUtf8(text, i, cp);
        if (!len) {
            out += '?';
            ++i;
            continue;
        }
        i += len;
        char byte = '?';
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            byte = static_cast<char>(cp);
        } else {
            for (int k = 0; k < 32; ++k)
                if (kHighControls[k] == cp) byte = static_cast<char>(0x80 + k);
        }
        out += byte;
    }
    return out;
}

uint8_t upperCp1252(uint8_t byte) {
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
        return static_cast<uint8_t>(byte - 0x20);
    switch (byte) {
    case 0x9A:
        return 0x8A;
    case 0x9C:
        return 0x8C;
    case 0x9E:
        return 0x8E;
    case 0xFF:
        return 0x9F;
    default:
        return byte;
    }
}

} // namespace kpz
