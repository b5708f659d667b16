// SPDX-License-Identifier: BSD-3-Clause
// Names shown to the user: kept when harmless, escaped when they could steer the display.
#include "display_text.h"

#include <gtest/gtest.h>

namespace {

struct DisplayCase {
    const char* what;
    std::string bytes;
    std::string shown;
};

const DisplayCase kDisplayCases[] = {
    {"empty", "", ""},
    {"plain", "take 1.wav", "take 1.wav"},
    {"UTF-8 letters", "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC.wav",
     "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC.wav"},
    {"four-byte character", "\xF0\x9F\x8E\xB5.wav", "\xF0\x9F\x8E\xB5.wav"},
    {"backslash kept", "C:\\music\\a.wav", "C:\\music\\a.wav"},
    {"Windows-1252 when not UTF-8", "M\xFCller \x80.wav", "M\xC3\xBCller \xE2\x82\xAC.wav"},
    {"title sequence", "a\x1B]0;x\x07.wav", "a\\u001b]0;x\\u0007.wav"},
    {"newline, tab, CR", "a\nb\tc\r", "a\\u000ab\\u0009c\\u000d"},
    {"zero byte", std::string("a\0b", 3), "a\\u0000b"},
    {"DEL", "a\x7F", "a\\u007f"},
    {"C1 in UTF-8", "a\xC2\x80\xC2\x9B\xC2\x9F", "a\\u0080\\u009b\\u009f"},
    {"C1 from a Windows-1252 hole", "\x81\xFC", "\\u0081\xC3\xBC"},
    {"bidi overrides", "a\xE2\x80\xAA\xE2\x80\xAE", "a\\u202a\\u202e"},
    {"bidi isolates", "\xE2\x81\xA6\xE2\x81\xA9", "\\u2066\\u2069"},
    {"bidi marks", "\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", "\\u200e\\u200f\\u061c"},
    {"line and paragraph separators", "\xE2\x80\xA8\xE2\x80\xA9", "\\u2028\\u2029"},
    {"neighbours kept", "\xC2\xA0\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xB0",
     "\xC2\xA0\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xB0"},
};

TEST(DisplayText, EscapesOnlyWhatSteersTheDisplay) {
    for (const auto& c : kDisplayCases)
        EXPECT_EQ(kpz::displayText(c.bytes), c.shown) << c.what;
}

} // namespace
