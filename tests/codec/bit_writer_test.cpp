// SPDX-License-Identifier: BSD-3-Clause
// The word-by-word bit writer and reader on known fields: fixed 16-bit words out, the same
// values back, with the full 512 KiB buffer and with a two-word buffer whose fills and
// refills land inside the fields.
#include "decoder.h"
#include "encoder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kByte = -1; // a putByte/getByte step instead of a field

struct Step {
    int w;         // width code of the field, or kByte
    int32_t value; // handed to the writer
    int32_t back;  // what the reader returns: the kept low bits, sign-extended for fields
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<uint16_t> words; // the stream, first bit on bit 15 of the first word
};

const Case kCases[] = {
    {"two bytes fill one word, only the low 8 bits kept",
     {{kByte, 0xA5, 0xA5}, {kByte, 0x13C, 0x3C}},
     {0xA53C}},
    {"narrow fields of either sign",
     {{0, -1, -1}, {1, -2, -2}, {3, 5, 5}, {3, -5, -5}, {4, 0, 0}},
     {0xCB60}},
    {"bits above the field are dropped, the top kept bit is the sign",
     {{3, 0x1F3, 3}, {3, 8, -8}, {7, -129, 127}},
     {0x387F}},
    {"a 16-bit field straddling two words",
     {{kByte, 0xFF, 0xFF}, {15, 0x1234, 0x1234}, {kByte, 0x00, 0x00}},
     {0xFF12, 0x3400}},
    // Ones spill into the next word; the zeros after them must not keep any of them.
    {"widest field from the last bit of a word, then zeros",
     {{14, 0, 0}, {15, -1, -1}, {14, 0, 0}, {1, 0, 0}},
     {0x0001, 0xFFFE, 0x0000}},
    {"extremes at width code 15",
     {{15, -32768, -32768},
      {15, 32767, 32767},
      {kByte, 0x81, 0x81},
      {15, 0x55AA, 0x55AA},
      {kByte, 0x7E, 0x7E}},
     {0x8000, 0x7FFF, 0x8155, 0xAA7E}},
};

std::string hexWords(const uint16_t* w, size_t n) {
    std::string out;
    char buf[8];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, " %04X", w[i]);
        out += buf;
    }
    return out;
}

std::string hexWords(const std::vector<uint16_t>& w) {
    return hexWords(w.data(), w.size());
}

std::string writerState(const kpz::CodecState& s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "outputIndex %d, bitPosition %d, pendingWord %04X, words",
                  s.outputIndex, s.writer.bitPosition, s.writer.pendingWord);
    return buf + hexWords(s.outputBuffer, static_cast<size_t>(s.outputIndex) + 1);
}

std::string readerState(const kpz::CodecState& s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "inputIndex %d, readBitPosition %d, currentWord %04X",
                  s.reader.inputIndex, s.reader.readBitPosition, s.reader.currentWord);
    return buf;
}

// Words as the payload stores them: low byte first.
std::vector<uint16_t> wordsOf(const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return words;
}

std::vector<uint8_t> bytesOf(const std::vector<uint16_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w & 0xFF));
        bytes.push_back(static_cast<uint8_t>(w >> 8));
    }
    return bytes;
}

} // namespace

TEST(BitWriter, KnownFieldsGiveFixedWordsAndReadBack) {
    auto s = kpztest::makeState();
    for (int32_t bufferLength : {kpz::kBufferLength, 2}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + ", buffer of " + std::to_string(bufferLength) +
                         " words");
            // A state reused after another file: the buffer still holds its words.
            std::fill(std::begin(s->outputBuffer), std::end(s->outputBuffer), 0xFFFF);
            kpz::MemoryStream out;
            kpz::resetEncoder(*s);
            s->bufferLength = bufferLength;
            s->destination = &out;
            for (const Step& st : c.steps) {
                if (st.w == kByte)
                    kpz::putByte(*s, static_cast<uint32_t>(st.value));
                else
                    kpz::putField(*s, st.value, st.w);
            }
            // Every case ends on a word boundary, so nothing is left unfinished.
            EXPECT_EQ(s->writer.bitPosition, 15) << writerState(*s);
            const std::string state = writerState(*s);
            kpz::flushOutput(*s);
            EXPECT_EQ(hexWords(wordsOf(out.data)), hexWords(c.words)) << state;

            // The reader starts from the expected words, not from what the writer gave.
            const std::vector<uint8_t> payload = bytesOf(c.words);
            kpz::ByteReader in(payload.data(), payload.size());
            kpz::resetDecoder(*s);
            s->bufferLength = bufferLength;
            s->source = &in;
            kpz::refillInput(*s);
            // The reader takes the first word before the first field, as the decoder does.
            s->reader.currentWord = static_cast<uint16_t>(s->sampleBuffer[0]);
            for (size_t k = 0; k < c.steps.size(); ++k) {
                const Step& st = c.steps[k];
                const int32_t got = st.w == kByte ? static_cast<int32_t>(kpz::getByte(*s))
                                                  : kpz::getField(*s, st.w);
                EXPECT_EQ(got, st.back) << "step " << k << ", " << readerState(*s);
            }
            EXPECT_EQ(s->reader.readBitPosition, 15) << readerState(*s);
            s->source = s->destination = nullptr;
        }
    }
    s->bufferLength = kpz::kBufferLength;
}
