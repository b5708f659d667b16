// SPDX-License-Identifier: BSD-3-Clause
// The compressed bytes, exact to the format: worked examples, whole files, scrambling, and
// the fast encoder against the plain reference on many sizes and signals.
#include "container.h"
#include "encoder.h"
#include "memory_codec.h"
#include "password.h"
#include "test_support.h"

#include <gtest/gtest.h>

using kpztest::makeState;
using kpztest::referencePayload;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes withZeros(Bytes head, size_t zeros) {
    head.insert(head.end(), zeros, 0);
    return head;
}

// Payload of a file written under the name "a.wav" (14 header bytes).
Bytes payloadOf(const Bytes& file) {
    return Bytes(file.begin() + 14, file.end());
}

} // namespace

TEST(Format, WorkedPayloads) {
    struct Case {
        Bytes source;
        Bytes payload;
    } cases[] = {
        {{}, {0, 0, 0, 0}},
        {{0x01, 0x00, 0x00, 0x00}, withZeros({0x70, 0x01}, 8)},
        {{0x05}, withZeros({0x5B, 0x03}, 12)},
        {{0x00, 0x80, 0xFF, 0x7F},
         withZeros({0x70, 0xF1, 0x00, 0x00, 0x7F, 0x00, 0x80, 0xFF, 0x00, 0x01}, 30)},
        {Bytes(64, 0), Bytes(8, 0)},
    };
    auto s = makeState();
    for (const auto& c : cases) {
        EXPECT_EQ(payloadOf(kpz::compressToMemory(*s, c.source, "a.wav")), c.payload)
            << "source of " << c.source.size() << " bytes";
        // The reference encoder is checked against the same examples.
        EXPECT_EQ(referencePayload(c.source), c.payload);
    }
}

TEST(Format, CompleteFiles) {
    auto s = makeState();
    const Bytes header = {0x43, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00,
                          0x00, 0x00, 0x61, 0x2E, 0x77, 0x61, 0x76};
    Bytes expected = header;
    for (uint8_t b : {0x70, 0x01, 0, 0, 0, 0, 0, 0, 0, 0})
        expected.push_back(b);
    EXPECT_EQ(kpz::compressToMemory(*s, {0x01, 0x00, 0x00, 0x00}, "a.wav"), expected);

    const Bytes empty = {0x43, 0, 0, 0, 0, 0x05, 0, 0, 0, 0x61, 0x2E, 0x77, 0x61, 0x76, 0, 0, 0, 0};
    EXPECT_EQ(kpz::compressToMemory(*s, {}, "a.wav"), empty);

    // A nine-byte name: 18 header bytes before the payload.
    Bytes take = kpz::compressToMemory(*s, Bytes(10, 7), "take1.wav");
    const Bytes takeHeader = {0x43, 10,  0,   0,   0,   9,   0,   0,   0,
                              't',  'a', 'k', 'e', '1', '.', 'w', 'a', 'v'};
    EXPECT_TRUE(std::equal(takeHeader.begin(), takeHeader.end(), take.begin()));
}

TEST(Format, ScramblingXorsEveryPayloadWordAndNoHeaderByte) {
    const uint16_t code = kpz::passwordCode("ABC");
    ASSERT_EQ(code, 48709);
    auto s = makeState();
    for (const Bytes& source :
         {Bytes{}, Bytes{0x00, 0x80, 0xFF, 0x7F}, kpztest::audioLike(70001)}) {
        const Bytes plain = kpz::compressToMemory(*s, source, "a.wav");
        const Bytes locked = kpz::compressToMemory(*s, source, "a.wav", true, code);
        ASSERT_EQ(plain.size(), locked.size());
        EXPECT_EQ(locked[0], 0x3F);
        EXPECT_TRUE(std::equal(plain.begin() + 1, plain.begin() + 14, locked.begin() + 1));
        for (size_t i = 14; i < plain.size(); i += 2) {
            EXPECT_EQ(locked[i], plain[i] ^ 0x45) << "byte " << i;
            EXPECT_EQ(locked[i + 1], plain[i + 1] ^ 0xBE) << "byte " << i + 1;
        }
        EXPECT_EQ(payloadOf(locked), referencePayload(source, true, code));
    }
}

// The fast encoder must store exactly what the plain definition gives, including chunk
// boundaries where the last block is padded with residuals left by the previous chunk.
TEST(Format, EncoderMatchesReference) {
    const size_t sizes[] = {1,      2,      3,      63,     65,      129,    4095,
                            524287, 524288, 524289, 524290, 1048577, 1572899};
    auto s = makeState();
    for (size_t size : sizes) {
        for (int kind = 0; kind < 2; ++kind) {
            const Bytes source = kind ? kpztest::randomBytes(size, static_cast<uint32_t>(size))
                                      : kpztest::audioLike(size, static_cast<uint32_t>(size));
            EXPECT_EQ(payloadOf(kpz::compressToMemory(*s, source, "a.wav")),
                      referencePayload(source))
                << (kind ? "random" : "audio") << " source of " << size << " bytes";
        }
    }
}

TEST(Format, WrapAroundExtremes) {
    // Full-scale swings between frames need every field at width code 15 and wrap in
    // the side and in the residuals.
    Bytes source;
    const int16_t pattern[][2] = {{-32768, 32767}, {32767, -32768}, {-32768, -32768},
                                  {32767, 32767},  {0, -32768},     {-1, 32767}};
    for (int rep = 0; rep < 50; ++rep)
        for (const auto& frame : pattern)
            for (int16_t v : frame) {
                source.push_back(static_cast<uint8_t>(v & 0xFF));
                source.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
            }
    auto s = makeState();
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav");
    EXPECT_EQ(payloadOf(file), referencePayload(source));
    EXPECT_EQ(kpz::restoreFromMemory(*s, file).data, source);
}

// A source of zero samples whose payload is exactly one 512 KiB buffer: the end pad fills
// the buffer, so the last flush writes nothing, and the length still follows the rule.
TEST(Format, EndPadFillingTheBufferLeavesAnEmptyLastFlush) {
    const Bytes source(104857u * 64u, 0);
    auto s = makeState();
    std::vector<uint32_t> flushes;
    uint32_t before = 0;
    s->hooks.showProgress = [&](kpz::Direction) {
        flushes.push_back(s->destWritten - before);
        before = s->destWritten;
    };
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav");
    EXPECT_EQ(file.size() - 14, 524288u);
    ASSERT_EQ(flushes.size(), 2u);
    EXPECT_EQ(flushes[0], 524288u + 14u); // the first count includes the header
    EXPECT_EQ(flushes[1], 0u);
    EXPECT_EQ(s->destWritten, file.size());
    EXPECT_EQ(kpz::restoreFromMemory(*s, file).data, source);
}

TEST(Format, TablesFollowTheirRules) {
    auto s = makeState();
    const struct {
        int value, width;
    } widths[] = {{0, 0}, {-1, 0}, {1, 1}, {-2, 1}, {5, 3}, {-5, 3}, {32767, 15}, {-32768, 15}};
    for (auto c : widths)
        EXPECT_EQ(s->tables.bitsNeeded[c.value + 32768], c.width) << c.value;
    EXPECT_EQ(s->tables.powersOfTwo[15], 32768);
    EXPECT_EQ(s->tables.lowMasks[0], 1);
    EXPECT_EQ(s->tables.lowMasks[15], 65535);
    // Width code 15 at bit 0: one bit in the current word, fifteen spill over.
    EXPECT_EQ(s->tables.fieldMasks[0][15].high, 0x0001u);
    EXPECT_EQ(s->tables.fieldMasks[0][15].low, 0xFFFEu);
    EXPECT_EQ(s->tables.fieldMasks[15][7].high, 0xFF00u);
    EXPECT_EQ(s->tables.fieldMasks[15][7].low, 0u);
}
