// Block encoder: first-order prediction of side and right, two width codes per block,
// fields packed most significant bit first into 16-bit words.
#include "encoder.h"

#include <bit>
#include <cstring>

namespace kpz {

// Buffers are filled and written as raw bytes, so a word in memory must be low byte first.
static_assert(std::endian::native == std::endian::little, "the codec assumes a little-endian host");

void resetEncoder(CodecState& s) {
    s.sourceProcessed = 0;
    s.destWritten = 9;
    s.outputIndex = 0;
    s.pendingWord = 0;
    s.bitPosition = 15;
    s.previousSide = 0;
    s.previousRight = 0;
    std::memset(s.sampleBuffer, 0, sizeof s.sampleBuffer);
}

// Word-by-word writer, exactly as the format is defined: merge the field into the word
// being filled and the pending word through one mask pair.
static void putBits(CodecState& s, uint32_t value, int w, int shift, int count) {
    const FieldMask& m = s.fieldMasks[s.bitPosition][w];
    uint32_t shifted = value << shift;
    uint16_t& word = s.outputBuffer[s.outputIndex];
    word = static_cast<uint16_t>((word & ~m.high) | ((shifted >> 16) & m.high));
    s.pendingWord = static_cast<uint16_t>((s.pendingWord & ~m.low) | (shifted & m.low));
    s.bitPosition -= count;
    if (s.bitPosition < 0) {
        ++s.outputIndex;
        if (s.outputIndex == s.bufferLength) {
            flushOutput(s);
            s.outputIndex = 0;
        }
        s.outputBuffer[s.outputIndex] = s.pendingWord;
        s.bitPosition += 16;
    }
}

void putByte(CodecState& s, uint32_t value) {
    putBits(s, value & 0xFFu, 7, s.bitPosition + 9, 8);
}

void putField(CodecState& s, int32_t value, int w) {
    uint32_t bits = static_cast<uint32_t>(value) & ((2u << w) - 1);
    putBits(s, bits, w, 16 - w + s.bitPosition, w + 1);
}

void flushOutput(CodecState& s) {
    const int32_t words = s.outputIndex;
    if (s.passwordOn) {
        const uint16_t code = s.passwordCode;
        for (int32_t i = 0; i < words; ++i)
            s.outputBuffer[i] ^= code;
    }
    const uint32_t bytes = 2u * static_cast<uint32_t>(words);
    const uint32_t stored = bytes ? s.destination->write(s.outputBuffer, bytes) : 0;
    if (stored < bytes) {
        if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
        s.cancelRequested = true;
    }
    s.destWritten += bytes;
    if (s.hooks.showProgress) s.hooks.showProgress(Direction::Compressing);
}

namespace {

// The same writer with its unfinished word held in a register. 'pending' holds the
// 'count' bits (0..15) written to the word at outputIndex so far, in its low bits.
struct FastWriter {
    CodecState& s;
    uint16_t* out;
    int32_t index;
    uint64_t pending;
    int count;

    explicit FastWriter(CodecState& state)
        : s(state), out(state.outputBuffer), index(state.outputIndex),
          count(15 - state.bitPosition) {
        pending = count ? (out[index] >> (16 - count)) : 0;
    }

    // Hands the state back to the word-by-word writer.
    void store() {
        s.outputIndex = index;
        s.bitPosition = 15 - count;
        if (count) out[index] = static_cast<uint16_t>(pending << (16 - count));
    }

    void emit() {
        out[index] = static_cast<uint16_t>(pending >> count);
        if (++index == s.bufferLength) {
            s.outputIndex = index;
            flushOutput(s);
            index = 0;
        }
    }

    // Appends the low n bits of v (n in 1..16).
    void put(uint32_t v, int n) {
        pending = (pending << n) | (v & ((1u << n) - 1));
        count += n;
        if (count >= 16) {
            count -= 16;
            emit();
        }
    }

    // Appends 16 fields of n bits each.
    void put16(const int16_t* v, int n) {
        const uint32_t mask = (1u << n) - 1;
        for (int f = 0; f < 16; f += 2) {
            // Two fields at once: at most 15 + 32 bits, so up to two words come out.
            pending = (pending << (2 * n)) | ((static_cast<uint32_t>(v[f]) & mask) << n) |
                      (static_cast<uint32_t>(v[f + 1]) & mask);
            count += 2 * n;
            while (count >= 16) {
                count -= 16;
                emit();
            }
        }
    }
};

// Codes the blocks of one chunk of nSamples samples (padding the last block with whatever
// the buffer holds past them), turning sampleBuffer into residuals in place.
void encodeChunk(CodecState& s, int32_t nSamples) {
    FastWriter writer(s);
    int16_t prevSide = s.previousSide;
    int16_t prevRight = s.previousRight;
    const int32_t blockLength = s.blockLength;
    for (int32_t i = 0; i < nSamples; i += blockLength) {
        int16_t* block = s.sampleBuffer + i;
        int16_t side[17], right[17], sideRes[16], rightRes[16];
        side[0] = prevSide;
        right[0] = prevRight;
        for (int f = 0; f < 16; ++f) {
            side[f + 1] = static_cast<int16_t>(block[2 * f] - block[2 * f + 1]);
            right[f + 1] = block[2 * f + 1];
        }
        uint16_t foldSide = 0, foldRight = 0;
        for (int f = 0; f < 16; ++f) {
            sideRes[f] = static_cast<int16_t>(side[f + 1] - side[f]);
            rightRes[f] = static_cast<int16_t>(right[f + 1] - right[f]);
            foldSide |= static_cast<uint16_t>(sideRes[f] ^ (sideRes[f] >> 15));
            foldRight |= static_cast<uint16_t>(rightRes[f] ^ (rightRes[f] >> 15));
        }
        for (int f = 0; f < 16; ++f) {
            block[2 * f] = sideRes[f];
            block[2 * f + 1] = rightRes[f];
        }
        prevSide = side[16];
        prevRight = right[16];
        const int sw = foldSide ? 32 - __builtin_clz(foldSide) : 0;
        const int rw = foldRight ? 32 - __builtin_clz(foldRight) : 0;
        s.sideWidth = static_cast<uint8_t>(sw);
        s.rightWidth = static_cast<uint8_t>(rw);
        writer.put(static_cast<uint32_t>(sw + 16 * rw), 8);
        writer.put16(sideRes, sw + 1);
        writer.put16(rightRes, rw + 1);
    }
    s.previousSide = prevSide;
    s.previousRight = prevRight;
    writer.store();
}

} // namespace

EncodeOutcome encodeFile(CodecState& s) {
    for (;;) {
        s.bytesRead = s.source->read(s.sampleBuffer, 2u * static_cast<uint32_t>(s.bufferLength));
        if (s.bytesRead == 0 || s.cancelRequested) break;
        if (s.bytesRead < 0) return EncodeOutcome::ReadError;
        s.sourceProcessed += static_cast<uint32_t>(s.bytesRead);
        encodeChunk(s, (s.bytesRead + 1) / 2);
    }
    if (s.cancelRequested) return EncodeOutcome::Cancelled;
    putField(s, 0, 15);
    putField(s, 0, 15);
    flushOutput(s);
    return EncodeOutcome::Complete;
}

} // namespace kpz
