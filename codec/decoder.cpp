// Block decoder: reads the fields back, undoes the prediction and restores the samples.
#include "decoder.h"

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

// The same with the stream position as one bit index into the buffer, for blocks that
// lie wholly before the buffer's last word. Each field is one 32-bit window and a shift.
void decodeBlockFast(CodecState& s, uint16_t* out) {
    const auto* in = reinterpret_cast<const uint16_t*>(s.sampleBuffer);
    uint32_t pos = static_cast<uint32_t>(s.inputIndex - 1) * 16u + (15u - s.readBitPosition);
    auto take = [&](int n) -> int32_t {
        const uint32_t i = pos >> 4;
        const uint32_t window = (static_cast<uint32_t>(in[i]) << 16) | in[i + 1];
        pos += static_cast<uint32_t>(n);
        return static_cast<int32_t>(window << ((pos - n) & 15)) >> (32 - n);
    };
    uint32_t header = static_cast<uint32_t>(take(8)) & 0xFFu;
    const int sw = static_cast<int>(header & 15), rw = static_cast<int>(header >> 4);
    s.readSideWidth = static_cast<uint8_t>(sw);
    s.readRightWidth = static_cast<uint8_t>(rw);
    uint16_t side = static_cast<uint16_t>(s.previousSide);
    uint16_t right = static_cast<uint16_t>(s.previousRight);
    for (int f = 0; f < 16; ++f) {
        side = static_cast<uint16_t>(side + take(sw + 1));
        out[2 * f] = side;
    }
    for (int f = 0; f < 16; ++f) {
        right = static_cast<uint16_t>(right + take(rw + 1));
        out[2 * f + 1] = right;
        out[2 * f] = static_cast<uint16_t>(out[2 * f] + right);
    }
    s.previousSide = static_cast<int16_t>(side);
    s.previousRight = static_cast<int16_t>(right);
    s.inputIndex = static_cast<int32_t>(pos >> 4) + 1;
    s.readBitPosition = 15 - static_cast<int32_t>(pos & 15);
    s.currentWord = in[s.inputIndex - 1];
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
    const uint64_t blockBytes = 2u * static_cast<uint64_t>(s.blockLength);
    // Blocks that carry source bytes; those must come from real payload bits.
    const uint64_t requiredBlocks = (original + blockBytes - 1) / blockBytes;
    uint64_t blocksDone = 0;
    uint64_t written = s.destWritten; // the same count as destWritten, without wrap-around
    // Last buffer index from which a whole block can be read without touching the last word.
    const int64_t fastLimit = static_cast<int64_t>(s.bufferLength - 1) * 16 - kMaxBlockBits - 16;

    while (written <= original && !s.cancelRequested) {
        uint16_t* out = s.outputBuffer + s.outputIndex;
        if (s.inputIndex >= 1 && consumedBits(s) <= fastLimit)
            decodeBlockFast(s, out);
        else
            decodeBlockSlow(s, out);
        if (s.inputReadFailed) return DecodeOutcome::ReadError;
        if (blocksDone < requiredBlocks && consumedBits(s) > int64_t{s.inputWordsValid} * 16)
            return DecodeOutcome::Damaged;
        ++blocksDone;
        s.outputIndex += s.blockLength;
        const uint64_t pending = 2u * static_cast<uint64_t>(s.outputIndex);
        if (s.outputIndex == s.bufferLength || written + pending > original + blockBytes) {
            flushRestored(s);
            written += pending;
            s.outputIndex = 0;
        }
    }
    return s.cancelRequested ? DecodeOutcome::Cancelled : DecodeOutcome::Complete;
}

} // namespace kpz
