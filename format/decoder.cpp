// SPDX-License-Identifier: BSD-3-Clause
// Block decoder: reads the fields back, undoes the prediction and restores the samples.
#include "decoder.h"

#include "container.h"
#include "kernels.h"
#include "scramble.h"

#include <algorithm>
#include <cstring>

namespace kpz {

void resetDecoder(CodecState& s) {
    // The header's fixed part is read first; the caller adds the stored name's bytes.
    s.sourceProcessed = kHeaderFixedBytes;
    s.destWritten = 0;
    s.reader.inputIndex = 1;
    s.outputIndex = 0;
    s.reader.currentWord = 0;
    s.reader.readBitPosition = 15;
    s.previousSide = 0;
    s.previousRight = 0;
    s.reader.inputWordsValid = 0;
    s.reader.inputReadFailed = false;
    s.reader.payloadBytesRead = 0;
    s.reader.inputEnded = false;
    s.reader.wordsBeforeBuffer = 0;
    s.reader.payloadLength = 0;
}

void refillInput(CodecState& s) {
    s.bytesRead = s.source->read(s.sampleBuffer, 2u * static_cast<uint32_t>(s.bufferLength));
    if (s.bytesRead < 0) {
        // The buffer keeps its old words; the decoder reports the failure.
        s.reader.inputReadFailed = true;
        s.reader.inputWordsValid = 0;
        return;
    }
    s.sourceProcessed += static_cast<uint32_t>(s.bytesRead);
    s.reader.payloadBytesRead += static_cast<uint64_t>(s.bytesRead);
    s.reader.inputEnded = s.bytesRead < 2 * s.bufferLength;
    // A lone trailing byte is the low half of a word whose high half never came: its
    // stream bits are not valid payload.
    s.reader.inputWordsValid = s.bytesRead / 2;
    if (s.passwordOn)
        scramble(reinterpret_cast<uint16_t*>(s.sampleBuffer),
                 static_cast<size_t>((s.bytesRead + 1) / 2), s.passwordCode);
}

static inline uint16_t inputWord(const CodecState& s, int32_t index) {
    return static_cast<uint16_t>(s.sampleBuffer[index]);
}

static inline void advanceReadBits(CodecState& s, int count) {
    BitReader& r = s.reader;
    r.readBitPosition -= count;
    if (r.readBitPosition < 0) {
        // Copy the next word out before a refill can overwrite the buffer it lies in.
        r.currentWord = inputWord(s, r.inputIndex);
        ++r.inputIndex;
        if (r.inputIndex == s.bufferLength) {
            refillInput(s);
            r.inputIndex = 0;
            r.wordsBeforeBuffer += static_cast<uint64_t>(s.bufferLength);
        }
        r.readBitPosition += 16;
    }
}

// The field of width code w at the reader's position, as the low w + 1 bits.
// A field has at most 16 bits, so it lies within currentWord and the word after it.
static inline uint32_t peekBits(const CodecState& s, int w) {
    const BitReader& r = s.reader;
    const FieldMask& m = s.tables.fieldMasks[r.readBitPosition][w];
    uint32_t window = ((r.currentWord & m.high) << 16) | (inputWord(s, r.inputIndex) & m.low);
    return window >> (r.readBitPosition + 16 - w);
}

uint32_t getByte(CodecState& s) {
    uint32_t value = peekBits(s, 7) & 0xFFu;
    advanceReadBits(s, 8);
    return value;
}

int16_t getField(CodecState& s, int w) {
    uint16_t value = static_cast<uint16_t>(peekBits(s, w));
    if (value & s.tables.powersOfTwo[w])
        value = static_cast<uint16_t>(value | ~s.tables.lowMasks[w]);
    else
        value = static_cast<uint16_t>(value & s.tables.lowMasks[w]);
    advanceReadBits(s, w + 1);
    return static_cast<int16_t>(value);
}

void flushRestored(CodecState& s) {
    const uint32_t bytes = 2u * static_cast<uint32_t>(s.outputIndex);
    const uint32_t stored = bytes ? s.destination->write(s.outputBuffer, bytes) : 0;
    if (stored < bytes) {
        if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
        s.cancelRequested = true;
    }
    s.destWritten += bytes;
    if (s.hooks.showProgress) s.hooks.showProgress(Direction::Decompressing);
}

namespace {

constexpr int kMaxBlockBits = 8 + 32 * 16;

// Decodes one block through the word-by-word reader (used near the end of a buffer,
// where the reader may have to refill).
void decodeBlockSlow(CodecState& s, uint16_t* out) {
    uint32_t header = getByte(s);
    s.reader.readSideWidth = static_cast<uint8_t>(header & 15);
    s.reader.readRightWidth = static_cast<uint8_t>((header >> 4) & 15);
    int16_t side = s.previousSide, right = s.previousRight;
    for (int f = 0; f < 16; ++f) {
        side = static_cast<int16_t>(side + getField(s, s.reader.readSideWidth));
        out[2 * f] = static_cast<uint16_t>(side);
    }
    for (int f = 0; f < 16; ++f) {
        right = static_cast<int16_t>(right + getField(s, s.reader.readRightWidth));
        out[2 * f + 1] = static_cast<uint16_t>(right);
        out[2 * f] = static_cast<uint16_t>(out[2 * f] + right);
    }
    s.previousSide = side;
    s.previousRight = right;
}

// The 32 stream bits starting at word i, first word on top.
inline uint32_t window32(const uint16_t* in, uint32_t i) {
    uint32_t w;
    std::memcpy(&w, in + i, 4);
    return (w << 16) | (w >> 16);
}

// The field of n bits at stream bit p, sign-extended.
inline int32_t fieldAt(const uint16_t* in, uint32_t p, int n) {
    return static_cast<int32_t>(window32(in, p >> 4) << (p & 15)) >> (32 - n);
}

} // namespace

namespace detail {

// Field positions within a channel follow from the width alone, so the fields are read
// independently of each other.
int32_t decodeRunPortable(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                          int64_t limit) {
    int64_t pos = c.pos;
    uint16_t side = c.side, right = c.right;
    int sw = c.sideWidth, rw = c.rightWidth;
    int32_t done = 0;
    for (; done < maxBlocks && pos <= limit; ++done, out += 32) {
        const auto p = static_cast<uint32_t>(pos);
        const uint32_t header = static_cast<uint32_t>(fieldAt(in, p, 8)) & 0xFFu;
        sw = static_cast<int>(header & 15);
        rw = static_cast<int>(header >> 4);
        const int ns = sw + 1, nr = rw + 1;
        const uint32_t sideStart = p + 8, rightStart = sideStart + 16u * ns;
        for (int f = 0; f < 16; ++f) {
            side = static_cast<uint16_t>(side + fieldAt(in, sideStart + f * ns, ns));
            out[2 * f] = side;
        }
        for (int f = 0; f < 16; ++f) {
            right = static_cast<uint16_t>(right + fieldAt(in, rightStart + f * nr, nr));
            out[2 * f + 1] = right;
            out[2 * f] = static_cast<uint16_t>(out[2 * f] + right);
        }
        pos = rightStart + 16u * nr;
    }
    c.pos = pos;
    c.side = side;
    c.right = right;
    c.sideWidth = sw;
    c.rightWidth = rw;
    return done;
}

int32_t decodeRun(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                  int64_t limit) {
    if (activeKernels() == Kernels::Avx2) return decodeRunAvx2(in, c, out, maxBlocks, limit);
    return decodeRunPortable(in, c, out, maxBlocks, limit);
}

} // namespace detail

namespace {

// Decodes up to maxBlocks blocks through the kernels chosen for this processor, with the
// stream position as one bit index into the buffer, stopping before a block could reach
// the buffer's last word (where the reader has to refill). Returns the blocks decoded.
int32_t decodeBlocksFast(CodecState& s, uint16_t* out, int32_t maxBlocks, int64_t limit) {
    const auto* in = reinterpret_cast<const uint16_t*>(s.sampleBuffer);
    BitReader& r = s.reader;
    // The current word is word inputIndex - 1 of the buffer (the caller has made sure it
    // is still there), so the reader's place is one bit index.
    detail::DecodeCursor c{(static_cast<int64_t>(r.inputIndex) - 1) * 16 + (15 - r.readBitPosition),
                           static_cast<uint16_t>(s.previousSide),
                           static_cast<uint16_t>(s.previousRight), r.readSideWidth,
                           r.readRightWidth};
    const int32_t done = detail::decodeRun(in, c, out, maxBlocks, limit);
    r.readSideWidth = static_cast<uint8_t>(c.sideWidth);
    r.readRightWidth = static_cast<uint8_t>(c.rightWidth);
    s.previousSide = static_cast<int16_t>(c.side);
    s.previousRight = static_cast<int16_t>(c.right);
    // Back to the word-by-word reader's form: the word holding bit pos is the current one.
    r.inputIndex = static_cast<int32_t>(c.pos >> 4) + 1;
    r.readBitPosition = 15 - static_cast<int32_t>(c.pos & 15);
    r.currentWord = in[r.inputIndex - 1];
    return done;
}

// Whether the payload holds the whole end pad after dataBits stream bits of blocks: the
// payload is floor(dataBits / 16) + 2 words long. Reads on (into the now unneeded input
// buffer) when the pad lies past what has been read.
bool payloadHasEndPad(CodecState& s, uint64_t dataBits) {
    const uint64_t needed = 2 * (dataBits / 16 + 2); // bytes
    const BitReader& r = s.reader;
    while (r.payloadBytesRead < needed && !r.inputEnded && !r.inputReadFailed)
        refillInput(s);
    return r.payloadBytesRead >= needed;
}

// Stream bits consumed past the start of the current buffer (negative while the reader
// is still in the previous buffer's last word).
int64_t consumedBits(const CodecState& s) {
    return (static_cast<int64_t>(s.reader.inputIndex) - 1) * 16 + (15 - s.reader.readBitPosition);
}

} // namespace

DecodeOutcome decodeFile(CodecState& s) {
    // Take word 0 as the current word; resetDecoder left inputIndex on the word after it.
    s.reader.currentWord = inputWord(s, 0);
    const uint64_t original = s.originalSize;
    const int32_t blockLength = s.blockLength;
    const uint64_t blockBytes = 2u * static_cast<uint64_t>(blockLength);
    // Blocks that carry source bytes; those must come from real payload bits.
    const uint64_t requiredBlocks = (original + blockBytes - 1) / blockBytes;
    uint64_t blocksDone = 0;
    uint64_t written = s.destWritten; // the same count as destWritten, without wrap-around
    // Stream bits up to the end of the last block that carries data.
    uint64_t dataBits = 0;
    // Last stream position from which a whole block can be read without reaching the
    // buffer's last word.
    const int64_t fastLimit = static_cast<int64_t>(s.bufferLength - 2) * 16 - kMaxBlockBits;

    while (written <= original && !s.cancelRequested) {
        // Blocks until the next flush is due: the buffer is full, or the data decoded
        // passes the stored size by more than one block.
        const uint64_t decoded = written + 2u * static_cast<uint64_t>(s.outputIndex);
        uint64_t untilFlush = static_cast<uint64_t>(s.bufferLength - s.outputIndex) / blockLength;
        const uint64_t threshold = original + blockBytes;
        if (decoded + untilFlush * blockBytes > threshold)
            untilFlush = decoded >= threshold ? 1 : (threshold - decoded) / blockBytes + 1;
        // A run of blocks stays on one side of the last required block, so one check
        // after the run tells whether any required block read past the payload.
        const bool required = blocksDone < requiredBlocks;
        uint64_t run = required ? std::min(untilFlush, requiredBlocks - blocksDone) : untilFlush;

        uint16_t* out = s.outputBuffer + s.outputIndex;
        int32_t n = 0;
        // Right after a refill (inputIndex 0) the current word exists only as the reader's
        // copy, so the next block goes through the word-by-word reader.
        if (s.reader.inputIndex >= 1)
            n = decodeBlocksFast(s, out, static_cast<int32_t>(run), fastLimit);
        if (n == 0) {
            decodeBlockSlow(s, out);
            n = 1;
            if (s.reader.inputReadFailed) return DecodeOutcome::ReadError;
        }
        if (required && consumedBits(s) > int64_t{s.reader.inputWordsValid} * 16)
            return DecodeOutcome::Damaged;
        blocksDone += static_cast<uint64_t>(n);
        if (required && blocksDone == requiredBlocks)
            dataBits = s.reader.wordsBeforeBuffer * 16 + static_cast<uint64_t>(consumedBits(s));
        s.outputIndex += n * blockLength;
        const uint64_t pending = 2u * static_cast<uint64_t>(s.outputIndex);
        if (s.outputIndex == s.bufferLength || written + pending > threshold) {
            flushRestored(s);
            written += pending;
            s.outputIndex = 0;
        }
    }
    if (s.cancelRequested) return DecodeOutcome::Cancelled;
    // The encoder ends every payload with the two pad words that follow the data blocks;
    // a payload without them has been cut short, even though no data is missing.
    s.reader.payloadLength = 2 * (dataBits / 16 + 2);
    if (!payloadHasEndPad(s, dataBits))
        return s.reader.inputReadFailed ? DecodeOutcome::ReadError : DecodeOutcome::Damaged;
    return DecodeOutcome::Complete;
}

} // namespace kpz
