// SPDX-License-Identifier: BSD-3-Clause
// Block encoder: first-order prediction of side and right, two width codes per block,
// fields packed most significant bit first into 16-bit words.
#include "encoder.h"

#include "block_coder.h"
#include "container.h"
#include "kernels.h"
#include "scramble.h"

#include <bit>
#include <cstring>

namespace kpz {

// Buffers are filled and written as raw bytes, so a word in memory must be low byte first.
static_assert(std::endian::native == std::endian::little, "the codec assumes a little-endian host");

void resetEncoder(CodecState& s) {
    s.sourceProcessed = 0;
    // The header's fixed part goes out first; the caller adds the stored name's bytes.
    s.destWritten = kHeaderFixedBytes;
    s.outputIndex = 0;
    s.writer.pendingWord = 0;
    s.writer.bitPosition = 15;
    s.previousSide = 0;
    s.previousRight = 0;
    std::memset(s.sampleBuffer, 0, sizeof s.sampleBuffer);
}

// Word-by-word writer, exactly as the format is defined: merge the field into the word
// being filled and the pending word through one mask pair.
static void putBits(CodecState& s, uint32_t value, int w, int shift, int count) {
    BitWriter& bw = s.writer;
    const FieldMask& m = s.tables.fieldMasks[bw.bitPosition][w];
    uint32_t shifted = value << shift;
    uint16_t& word = s.outputBuffer[s.outputIndex];
    word = static_cast<uint16_t>((word & ~m.high) | ((shifted >> 16) & m.high));
    bw.pendingWord = static_cast<uint16_t>((bw.pendingWord & ~m.low) | (shifted & m.low));
    bw.bitPosition -= count;
    if (bw.bitPosition < 0) {
        // The word is complete. A full buffer goes out at once, so that outputIndex never
        // rests on bufferLength and every flush but the last writes one whole buffer.
        ++s.outputIndex;
        if (s.outputIndex == s.bufferLength) {
            flushOutput(s);
            s.outputIndex = 0;
        }
        s.outputBuffer[s.outputIndex] = bw.pendingWord;
        bw.bitPosition += 16;
    }
}

void putByte(CodecState& s, uint32_t value) {
    putBits(s, value & 0xFFu, 7, s.writer.bitPosition + 9, 8);
}

void putField(CodecState& s, int32_t value, int w) {
    uint32_t bits = static_cast<uint32_t>(value) & ((2u << w) - 1);
    putBits(s, bits, w, 16 - w + s.writer.bitPosition, w + 1);
}

void flushOutput(CodecState& s) {
    const int32_t words = s.outputIndex;
    if (s.passwordOn) scramble(s.outputBuffer, static_cast<size_t>(words), s.passwordCode);
    const uint32_t bytes = 2u * static_cast<uint32_t>(words);
    const uint32_t stored = bytes ? s.destination->write(s.outputBuffer, bytes) : 0;
    if (stored < bytes) {
        if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
        s.cancelRequested = true;
    }
    s.destWritten += bytes;
    if (s.hooks.showProgress) s.hooks.showProgress(Direction::Compressing);
}

namespace detail {

void FastWriter::flushFull() {
    flushState->outputIndex = index;
    flushOutput(*flushState);
    index = 0;
}

void FastWriter::put16(const int16_t* v, int n) {
    switch (n) {
    case 1:
        return put16<1>(v);
    case 2:
        return put16<2>(v);
    case 3:
        return put16<3>(v);
    case 4:
        return put16<4>(v);
    case 5:
        return put16<5>(v);
    case 6:
        return put16<6>(v);
    case 7:
        return put16<7>(v);
    case 8:
        return put16<8>(v);
    case 9:
        return put16<9>(v);
    case 10:
        return put16<10>(v);
    case 11:
        return put16<11>(v);
    case 12:
        return put16<12>(v);
    case 13:
        return put16<13>(v);
    case 14:
        return put16<14>(v);
    case 15:
        return put16<15>(v);
    default:
        return put16<16>(v);
    }
}

void writeEndPad(FastWriter& writer) {
    for (int k = 0; k < kEndPadBytes; ++k)
        writer.putByte(0);
}

uint32_t encodeBlocksPortable(int16_t* samples, int32_t nSamples, int16_t& prevSide,
                              int16_t& prevRight, FastWriter& writer) {
    uint32_t widths = 0;
    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        int16_t* block = samples + i;
        const uint32_t folds = blockResiduals(block, prevSide, prevRight);
        const uint32_t foldSide = folds & 0xFFFF, foldRight = folds >> 16;
        const int sw = foldSide ? 32 - __builtin_clz(foldSide) : 0;
        const int rw = foldRight ? 32 - __builtin_clz(foldRight) : 0;
        writer.putByte(static_cast<uint32_t>(sw + 16 * rw));
        writer.put16(block, sw + 1);
        writer.put16(block + 1, rw + 1);
        widths = static_cast<uint32_t>(sw | (rw << 8));
    }
    return widths;
}

uint32_t encodeBlocks(int16_t* samples, int32_t nSamples, int16_t& prevSide, int16_t& prevRight,
                      FastWriter& writer) {
    if (activeKernels() == Kernels::Avx2)
        return encodeBlocksAvx2(samples, nSamples, prevSide, prevRight, writer);
    return encodeBlocksPortable(samples, nSamples, prevSide, prevRight, writer);
}

} // namespace detail

namespace {

// The block packer, taking over the word the word-by-word writer left unfinished: its bits
// are the top ones of the word at outputIndex (pendingWord holds nothing still needed
// between calls).
detail::FastWriter packerFor(CodecState& s) {
    const int count = 15 - s.writer.bitPosition;
    return detail::FastWriter{
        s.outputBuffer,
        s.outputIndex,
        s.bufferLength,
        count ? static_cast<uint64_t>(s.outputBuffer[s.outputIndex] >> (16 - count)) : 0u,
        count,
        &s};
}

// Hands the unfinished word back to the word-by-word writer.
void handBack(CodecState& s, const detail::FastWriter& packer) {
    s.outputIndex = packer.index;
    s.writer.bitPosition = 15 - packer.count;
    if (packer.count)
        s.outputBuffer[packer.index] = static_cast<uint16_t>(packer.pending << (16 - packer.count));
}

// Codes one chunk of the open file through the state's output buffer.
void encodeChunk(CodecState& s, int32_t nSamples) {
    detail::FastWriter packer = packerFor(s);
    const uint32_t widths =
        detail::encodeBlocks(s.sampleBuffer, nSamples, s.previousSide, s.previousRight, packer);
    s.writer.sideWidth = static_cast<uint8_t>(widths & 0xFF);
    s.writer.rightWidth = static_cast<uint8_t>(widths >> 8);
    handBack(s, packer);
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
    detail::FastWriter packer = packerFor(s);
    detail::writeEndPad(packer);
    handBack(s, packer);
    flushOutput(s);
    return EncodeOutcome::Complete;
}

} // namespace kpz
