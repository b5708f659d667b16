// SPDX-License-Identifier: BSD-3-Clause
// Progress line text: display widths through the C library's wcwidth in a UTF-8 locale,
// taken for this thread only, so the rest of the program keeps the "C" locale.
#include "progress_text.h"

#include <clocale>
#include <cwchar>
#include <vector>
#if !defined(_WIN32)
#include <locale.h>
#endif

namespace kpzcli {

namespace {

constexpr size_t kUnknownWidthLabel = 40;

// Code points of valid UTF-8 (an invalid byte counts as one column on its own), with the
// byte offset each starts at.
struct CodePoint {
    char32_t value;
    size_t offset;
};

std::vector<CodePoint> decode(std::string_view text) {
    std::vector<CodePoint> points;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80         ? 1
                           : (lead >> 5) == 6  ? 2
                           : (lead >> 4) == 14 ? 3
                           : (lead >> 3) == 30 ? 4
                                               : 1;
        char32_t value = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            value = (value << 6) | (next & 0x3F);
        }
        if (!valid) {
            points.push_back({U'?', i});
            ++i;
            continue;
        }
        points.push_back({value, i});
        i += static_cast<size_t>(length);
    }
    return points;
}

int columnsOf(char32_t c) {
#if defined(_WIN32)
    return c < 0x20 ? 0 : 1;
#else
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!utf8) return 1;
    const locale_t before = uselocale(utf8);
    const int width = ::wcwidth(static_cast<wchar_t>(c));
    uselocale(before);
    // Unassigned or control characters still take a column once escaped or printed.
    return width < 0 ? 1 : width;
#endif
}

// The end of text that fits in width columns, after "..." when anything was cut.
std::string keepEnd(std::string_view text, size_t width) {
    if (displayWidth(text) <= width) return std::string(text);
    if (width <= 3) return std::string(width, '.');
    const std::vector<CodePoint> points = decode(text);
    size_t used = 3;
    size_t from = text.size();
    for (size_t k = points.size(); k-- > 0;) {
        const auto w = static_cast<size_t>(columnsOf(points[k].value));
        if (used + w > width) break;
        used += w;
        from = points[k].offset;
    }
    return "..." + std::string(text.substr(from));
}

// The start of text that fits in width columns.
std::string keepStart(std::string_view text, size_t width) {
    size_t used = 0;
    for (const CodePoint& p : decode(text)) {
        const auto w = static_cast<size_t>(columnsOf(p.value));
        if (used + w > width) return std::string(text.substr(0, p.offset));
        used += w;
    }
    return std::string(text);
}

} // namespace

size_t displayWidth(std::string_view utf8) {
    size_t width = 0;
    for (const CodePoint& p : decode(utf8))
        width += static_cast<size_t>(columnsOf(p.value));
    return width;
}

std::string progressLine(const std::string& label, const std::string& numbers, int columns) {
    const std::string prefix = "kpz: ";
    if (columns <= 0) return prefix + keepEnd(label, kUnknownWidthLabel) + "  " + numbers;
    const size_t room = static_cast<size_t>(columns) - 1;
    const size_t fixed = prefix.size() + 2 + displayWidth(numbers);
    // The label keeps at least a few columns before the numbers give way.
    constexpr size_t kLeastLabel = 8;
    if (fixed + kLeastLabel <= room) return prefix + keepEnd(label, room - fixed) + "  " + numbers;
    const std::string shortLabel = keepEnd(label, kLeastLabel);
    return keepStart(prefix + shortLabel + "  " + numbers, room);
}

} // namespace kpzcli
