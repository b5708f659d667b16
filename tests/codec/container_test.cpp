// SPDX-License-Identifier: BSD-3-Clause
// The header, the naming rules, stored names and the password code.
#include "charset.h"
#include "container.h"
#include "password.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

TEST(Header, ReadChecks) {
    const Bytes good = {0x3F, 0x10, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'a', 0, 'c', 0xAA};
    struct Case {
        const char* what;
        Bytes bytes;
        kpz::HeaderStatus status;
    } cases[] = {
        {"empty file", {}, kpz::HeaderStatus::UnknownFormat},
        {"other marker", {'W', 0, 0, 0, 0, 0, 0, 0, 0}, kpz::HeaderStatus::UnknownFormat},
        {"ends in the size", {'C', 1, 2}, kpz::HeaderStatus::UnknownFormat},
        {"name length 256", {'C', 0, 0, 0, 0, 0, 1, 0, 0}, kpz::HeaderStatus::UnknownFormat},
        {"negative name length",
         {'C', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
         kpz::HeaderStatus::UnknownFormat},
        {"ends in the name",
         {'C', 0, 0, 0, 0, 4, 0, 0, 0, 'a', 'b'},
         kpz::HeaderStatus::UnknownFormat},
        {"good", good, kpz::HeaderStatus::Ok},
    };
    for (const auto& c : cases) {
        kpz::MemoryStream in(c.bytes);
        kpz::Header h;
        EXPECT_EQ(kpz::readHeader(in, h), c.status) << c.what;
    }
    kpz::MemoryStream in(good);
    kpz::Header h;
    ASSERT_EQ(kpz::readHeader(in, h), kpz::HeaderStatus::Ok);
    EXPECT_TRUE(h.passwordOn);
    EXPECT_EQ(h.originalSize, 16u);
    EXPECT_EQ(h.nameLength, 3u);
    EXPECT_EQ(h.storedName, "a"); // ends at the first zero byte
    EXPECT_EQ(in.readPosition, 12u) << "the payload starts right after the name";
}

TEST(Header, WriteThenReadBack) {
    kpz::MemoryStream out;
    ASSERT_TRUE(kpz::writeHeader(out, false, 0x01020304, std::string(255, 'n')));
    EXPECT_EQ(out.data.size(), 9u + 255u);
    kpz::MemoryStream in(out.data);
    kpz::Header h;
    ASSERT_EQ(kpz::readHeader(in, h), kpz::HeaderStatus::Ok);
    EXPECT_FALSE(h.passwordOn);
    EXPECT_EQ(h.originalSize, 0x01020304u);
    EXPECT_EQ(h.storedName, std::string(255, 'n'));
}

TEST(Naming, CompressedName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/music/take1.wav", "/music/take1.kpz"},
        {"/music.old/take1", "/music.old/take1.kpz"},
        {"mix.final.wav", "mix.final.kpz"},
        {"C:\\Audio\\take1.wav", "C:\\Audio\\take1.kpz"},
        {"C:\\Audio.old\\take1", "C:\\Audio.old\\take1.kpz"},
        {"/a/.hidden", "/a/.kpz"},
        {"song.kpz", "song.kpz"},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(kpz::compressedName(in), out) << in;
}

TEST(Naming, StoredNamesBecomeSafeOutputNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"take1.wav", "take1.wav"},
        {"../../etc/passwd", "passwd"},
        {"/etc/cron.d/x", "x"},
        {"C:\\Windows\\win.ini", "win.ini"},
        {"D:evil.wav", "evil.wav"},
        {"", ""},
        {".", ""},
        {"..", ""},
        {"dir/..", ""},
        {"dir\\", ""},
        {"caf\xc3\xa9.wav", "caf\xc3\xa9.wav"},       // valid UTF-8 stays
        {"caf\xe9.wav", "caf\xc3\xa9.wav"},           // Windows-1252 e-acute
        {"\x80\x81.wav", "\xe2\x82\xac\xc2\x81.wav"}, // euro sign; undefined byte kept
        // Too long once read as UTF-8: cut to 255 bytes on a character, extension kept.
        {std::string(250, '\xe9') + ".wav",
         [] {
             std::string cut;
             for (int i = 0; i < 125; ++i)
                 cut += "\xc3\xa9";
             return cut + ".wav";
         }()},
    };
    for (const auto& [stored, safe] : cases)
        EXPECT_EQ(kpz::safeOutputName(stored), safe) << stored;
}

TEST(Naming, StoredNameForm) {
    EXPECT_EQ(kpz::storedNameFor("take1.wav"), "take1.wav");
    EXPECT_EQ(kpz::storedNameFor("caf\xc3\xa9.wav"), "caf\xe9.wav");
    // No Windows-1252 byte for these: kept as UTF-8, which reads back unchanged.
    EXPECT_EQ(kpz::storedNameFor("\xe6\x97\xa5.wav"), "\xe6\x97\xa5.wav");
    for (std::string name :
         {"take1.wav", "caf\xc3\xa9.wav", "\xe6\x97\xa5.wav", "\xe2\x82\xac 5.wav"})
        EXPECT_EQ(kpz::safeOutputName(kpz::storedNameFor(name)), name);
    // What would cut a stored name short or steer a terminal on the way back is replaced,
    // so every stored name restores, and under a name of its own.
    const std::pair<std::string, std::string> replaced[] = {
        {"x:", "x_"},
        {"tr\\", "tr_"},
        {"a:b.wav", "a_b.wav"},
        {"a\x1b]0;t\x07.wav", "a_]0;t_.wav"},
        {"c\xc2\x9b.wav", "c_.wav"}, // the C1 control U+009B
    };
    for (const auto& [name, stored] : replaced) {
        EXPECT_EQ(kpz::storedNameFor(name), stored) << name;
        EXPECT_EQ(kpz::safeOutputName(kpz::storedNameFor(name)), stored) << name;
    }
}

TEST(Password, Codes) {
    const struct {
        std::string text;
        uint16_t code;
    } cases[] = {
        {"", 0},
        {"ABC", 48709},
        {"abc", 48709},
        {"A", 65},
        {"\xe9", static_cast<uint16_t>(0xC9 - 256)}, // e-acute upper-cases to 0xC9, negative
        {"0123456789ABCDEFGHIJ", kpz::passwordCode("0123456789ABCDEF")}, // only 16 count
    };
    for (const auto& c : cases)
        EXPECT_EQ(kpz::passwordCode(c.text), c.code) << c.text;
    EXPECT_EQ(kpz::passwordCodeUtf8("\xc3\xa9"), kpz::passwordCode("\xe9"));
    EXPECT_EQ(kpz::passwordCodeUtf8("\xe6\x97\xa5"), kpz::passwordCode("?"));
}

TEST(Password, UpperCasing) {
    const std::pair<uint8_t, uint8_t> cases[] = {
        {'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'1', '1'},   {0xE0, 0xC0},
        {0xFE, 0xDE}, {0xF7, 0xF7}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9E, 0x8E},
        {0xFF, 0x9F}, {0xB5, 0xB5}, {0xDF, 0xDF}, {0x83, 0x83},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(kpz::upperCp1252(in), out) << int(in);
}

TEST(Charset, Conversions) {
    EXPECT_TRUE(kpz::isValidUtf8("plain"));
    EXPECT_FALSE(kpz::isValidUtf8("\xc0\xaf"));     // overlong slash
    EXPECT_FALSE(kpz::isValidUtf8("\xed\xa0\x80")); // surrogate
    EXPECT_FALSE(kpz::isValidUtf8("\xe9t\xe9"));
    for (int b = 1; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(kpz::utf8ToCp1252(kpz::cp1252ToUtf8(byte)), byte) << b;
    }
}
