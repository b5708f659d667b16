// Block decoder: reads the fields back, undoes the prediction and restores the samples.
#include "decoder.h"

#include "kernels.h"

#include <algorithm>
#include <cstring>

namespace kpz {

void resetDecoder(CodecState& s) {
    s.sourceProcessed = 9;
    s.destWritten = 0;
    s.inputIndex = 1;
    s.outputIndex = 0;
    s.currentWord = 0;
    s.readBitPosition = 15;
    s.previousSide = 0;
    s.previousRight = 0;
    s.inputWordsValid = 0;
    s.inputReadFailed = false;
    s.payloadBytesRead = 0;
    s.inputEnded = false;
    s.wordsBeforeBuffer = 0;
}

void refillInput(CodecState& s) {
    s.bytesRead = s.source->read(s.sampleBuffer, 2u * static_cast<uint32_t>(s.bufferLength));
    if (s.bytesRead < 0) {
        // The buffer keeps its old words; the decoder reports the failure.
        s.inputReadFailed = true;
        s.inputWordsValid = 0;
        return;
    }
    s.sourceProcessed += static_cast<uint32_t>(s.bytesRead);
    s.payloadBytesRead += static_cast<uint64_t>(s.bytesRead);
    s.inputEnded = s.bytesRead < 2 * s.bufferLength;
    // A lone trailing byte is the low half of a word whose high half never came: its
    // stream bits are not valid payload.
    s.inputWordsValid = s.bytesRead / 2;
    if (s.passwordOn) {
        auto* words = reinterpret_cast<uint16_t*>(s.sampleBuffer);
        const uint16_t code = s.passwordCode;
        const int32_t n = (s.bytesRead + 1) / 2;
        for (int32_t i = 0; i < n; ++i)
            words[i] ^= code;
    }
}

static inline uint16_t inputWord(const CodecState& s, int32_t index) {
    return static_cast<uint16_t>(s.sampleBuffer[index]);
}

static inline void advanceReadBits(CodecState& s, int count) {
    s.readBitPosition -= count;
    if (s.readBitPosition < 0) {
        s.currentWord = inputWord(s, s.inputIndex);
        ++s.inputIndex;
        if (s.inputIndex == s.bufferLength) {
            refillInput(s);
            s.inputIndex = 0;
            s.wordsBeforeBuffer += static_cast<uint64_t>(s.bufferLength);
        }
        s.readBitPosition += 16;
    }
}

// The field of width code w at the reader's position, as the low w + 1 bits.
static inline uint32_t peekBits(const CodecState& s, int w) {
    const FieldMask& m = s.fieldMasks[s.readBitPosition][w];
    uint32_t window = ((s.currentWord & m.high) << 16) | (inputWord(s, s.inputIndex) & m.low);
    return window >> (s.readBitPosition + 16 - w);
}

uint32_t getByte(CodecState& s) {
    uint32_t value = peekBits(s, 7) & 0xFFu;
    advanceReadBits(s, 8);
    return value;
}

int16_t getField(CodecState& s, int w) {
    uint16_t value = static_cast<uint16_t>(peekBits(s, w));
    if (value & s.powersOfTwo[w])
        value = static_cast<uint16_t>(value | ~s.lowMasks[w]);
    else
        value = static_cast<uint16_t>(value & s.lowMasks[w]);
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
    s.readSideWidth = static_cast<uint8_t>(header & 15);
    s.readRightWidth = static_cast<uint8_t>((header >> 4) & 15);
    int16_t side = s.previousSide, right = s.previousRight;
    for (int f = 0; f < 16; ++f) {
        side = static_cast<int16_t>(side + getField(s, s.readSideWidth));
        out[2 * f] = static_cast<uint16_t>(side);
    }
    for (int f = 0; f < 16; ++f) {
        right = static_cast<int16_t>(right + getField(s, s.readRightWidth));
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
    detail::DecodeCursor c{(static_cast<int64_t>(s.inputIndex) - 1) * 16 + (15 - s.readBitPosition),
                           static_cast<uint16_t>(s.previousSide),
                           static_cast<uint16_t>(s.previousRight), s.readSideWidth,
                           s.readRightWidth};
    const int32_t done = detail::decodeRun(in, c, out, maxBlocks, limit);
    s.readSideWidth = static_cast<uint8_t>(c.sideWidth);
    s.readRightWidth = static_cast<uint8_t>(c.rightWidth);
    s.previousSide = static_cast<int16_t>(c.side);
    s.previousRight = static_cast<int16_t>(c.right);
    s.inputIndex = static_cast<int32_t>(c.pos >> 4) + 1;
    s.readBitPosition = 15 - static_cast<int32_t>(c.pos & 15);
    s.currentWord = in[s.inputIndex - 1];
    return done;
}

// Whether the payload holds the whole end pad after dataBits stream bits of blocks: the
// payload is floor(dataBits / 16) + 2 words long. Reads on (into the now unneeded input
// buffer) when the pad lies past what has been read.
bool payloadHasEndPad(CodecState& s, uint64_t dataBits) {
    const uint64_t needed = 2 * (dataBits / 16 + 2);
    while (s.payloadBytesRead < needed && !s.inputEnded && !s.inputReadFailed)
        refillInput(s);
    return s.payloadBytesRead >= needed;
}

// Stream bits consumed past the start of the current buffer (negative while the reader
// is still in the previous buffer's last word).
int64_t consumedBits(const CodecState& s) {
    return (static_cast<int64_t>(s.inputIndex) - 1) * 16 + (15 - s.readBitPosition);
}

} // namespace

DecodeOutcome decodeFile(CodecState& s) {
    s.currentWord = inputWord(s, 0);
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
        if (s.inputIndex >= 1) n = decodeBlocksFast(s, out, static_cast<int32_t>(run), fastLimit);
        if (n == 0) {
            decodeBlockSlow(s, out);
            n = 1;
            if (s.inputReadFailed) return DecodeOutcome::ReadError;
        }
        if (required && consumedBits(s) > int64_t{s.inputWordsValid} * 16)
            return DecodeOutcome::Damaged;
        blocksDone += static_cast<uint64_t>(n);
        if (required && blocksDone == requiredBlocks)
            dataBits = s.wordsBeforeBuffer * 16 + static_cast<uint64_t>(consumedBits(s));
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
    if (!payloadHasEndPad(s, dataBits))
        return s.inputReadFailed ? DecodeOutcome::ReadError : DecodeOutcome::Damaged;
    return DecodeOutcome::Complete;
}

} // namespace kpz
