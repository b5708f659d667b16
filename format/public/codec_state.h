// SPDX-License-Identifier: BSD-3-Clause
// The codec's part of the packer state: buffers, counters and flags, with the bit writer,
// the bit reader and the tables as named parts, in one record that callers own and pass by
// reference.
#pragma once

#include "stream.h"

#include <cstdint>
#include <functional>

namespace kpz {

inline constexpr int32_t kBufferLength = 262144; // words in each buffer (512 KiB)
inline constexpr int32_t kBlockLength = 32;      // samples per block (16 stereo frames)
inline constexpr uint32_t kChunkBytes = 2u * kBufferLength;

enum class Direction { Compressing, Decompressing };

// Mask pair for a field of width code w whose first bit lands on bit p of a word:
// high selects its bits in that word, low the bits that spill into the next one.
struct FieldMask {
    uint32_t high;
    uint32_t low;
};

// Installed by the caller. showProgress runs after every flush, once destWritten has
// counted the flushed bytes; it refreshes the caller's display and may let the caller
// handle input, including setting cancelRequested. reportWriteFailure runs when a flush
// stores fewer bytes than it asked to, before cancelRequested is set.
struct CodecHooks {
    std::function<void(Direction)> showProgress;
    std::function<void()> reportWriteFailure;
};

// Bit writer: packs fields most significant bit first into the words of outputBuffer.
// Its position is the word at outputIndex (kept in the record beside the buffer, which the
// decoder also fills) and a bit within that word.
struct BitWriter {
    // Bit of outputBuffer[outputIndex] that the next field bit goes to, counting down from
    // 15 (the top bit: the word holds nothing yet) to 0. It is 0..15 between calls, as the
    // mask table is indexed by it; a field that passes bit 0 moves the writer to the next
    // word. The bits above it are written; the bits at and below it are left from earlier
    // words and are overwritten before the word is complete.
    int32_t bitPosition = 15;
    // Gathers the bits of a field that spill past bit 0 of its word; the field completes
    // the word, and the writer copies this into the next one at once. So between calls it
    // holds nothing still needed (the fast block packer ignores it). Its other bits are
    // stale: they land below bitPosition in the next word and are overwritten there.
    uint16_t pendingWord = 0;
    // Width codes of the last block coded (side and right); nothing reads them back.
    uint8_t sideWidth = 0, rightWidth = 0;
};

// Bit reader: takes fields back out of the payload words in sampleBuffer, refilling the
// buffer from the source when it runs out, and keeps the count of what the refills
// delivered so that the decoder can tell real payload from the end of the file.
struct BitReader {
    // The word the next field starts in; while inputIndex >= 1 it equals word
    // inputIndex - 1 of sampleBuffer. A copy, not an index: when the reader moves onto a
    // buffer's last word it refills the buffer at once, so that word survives only here
    // while the fields in it are read.
    uint16_t currentWord = 0;
    // The word after currentWord in sampleBuffer: where a field's spill past bit 0 comes
    // from. It starts at 1 because the decoder takes word 0 into currentWord before the
    // first field; it is 0 only right after a refill, while currentWord still holds the
    // previous buffer's last word (the fast block decoder cannot start from there).
    int32_t inputIndex = 1;
    // Bit of currentWord where the next field starts, counting down from 15 to 0 like the
    // writer's bitPosition.
    int32_t readBitPosition = 15;
    // Width codes from the header of the last block decoded (side and right).
    uint8_t readSideWidth = 0, readRightWidth = 0;

    // Words of sampleBuffer that the last refill delivered; a lone trailing byte is not a
    // whole word and does not count. 0 after a failed refill.
    int32_t inputWordsValid = 0;
    // Set by a failed refill and never cleared while decoding the file; the buffer keeps
    // its old words, so what is decoded after it is not payload.
    bool inputReadFailed = false;
    // Payload bytes read so far, and whether the last read came short: the file has ended
    // and further refills deliver nothing.
    uint64_t payloadBytesRead = 0;
    bool inputEnded = false;
    // Words of the buffers the reader has moved past, so that a position in the current
    // buffer has an absolute place in the payload. Counted when the reader moves on, not by
    // the refills themselves.
    uint64_t wordsBeforeBuffer = 0;
    // Bytes the payload takes, its blocks and end pad: known once decodeFile completes, so
    // that what follows the payload (a check trailer, or other data) can be told apart.
    uint64_t payloadLength = 0;
};

// Lookup tables shared by the encoder and the decoder. They build themselves, so no codec
// record exists without them (buildCodecTables builds them again).
struct CodecTables {
    CodecTables();

    // powersOfTwo[w] = 2^w: the sign bit of a field of width code w (w + 1 bits).
    uint16_t powersOfTwo[16] = {};
    // bitsNeeded[v + 32768]: the width code of v, for every 16-bit value.
    uint8_t bitsNeeded[65536] = {};
    // fieldMasks[p][w]: the masks of a field of width code w whose first bit is bit p of a
    // word (p as bitPosition counts it).
    FieldMask fieldMasks[16][16] = {};
    // lowMasks[w]: the low w + 1 bits.
    uint16_t lowMasks[16] = {};
};

// Both buffers sit half way into a 4 KiB page. Files are read into them and written from
// them at offsets that are whole chunks past the start of the data, which itself starts at
// byte 0 of a source or at the short header's end in a compressed file. Copies whose
// destination lies 1 to 15 bytes past their source within a page run several times slower
// on common processors (measured: a read() of a cached file into a buffer 8 bytes off
// took 3.5 times as long); half a page away from every such offset, no copy comes close.
struct alignas(4096) CodecState {
    int32_t bufferLength = kBufferLength;
    int32_t blockLength = kBlockLength;

    // Encoder: source samples, turned into residuals in place. Decoder: the input words.
    alignas(2048) int16_t sampleBuffer[kBufferLength] = {};
    // Encoder: coded words waiting to be written. Decoder: restored samples.
    alignas(2048) uint16_t outputBuffer[kBufferLength] = {};

    // Words of outputBuffer in use, written out at the next flush. Encoder: the word the bit
    // writer is filling; the words before it are complete. It stays below bufferLength
    // between calls, since a full buffer is flushed the moment its last word completes.
    // Decoder: restored samples waiting to be written.
    int32_t outputIndex = 0;
    // Bytes the last read of the source delivered (-1 when it failed).
    int32_t bytesRead = 0;

    CodecTables tables;
    BitWriter writer;
    BitReader reader;

    // The last frame's side and right: the encoder takes the next block's residuals
    // against them, the decoder adds that block's fields back to them.
    int16_t previousSide = 0, previousRight = 0;

    uint32_t sourceSize = 0;      // compression: length of the source
    uint32_t originalSize = 0;    // decompression: length stored in the header
    uint32_t sourceProcessed = 0; // bytes of the input read so far
    uint32_t destWritten = 0;     // bytes of the output written so far

    bool passwordOn = false;
    uint16_t passwordCode = 0;
    bool cancelRequested = false;

    Stream* source = nullptr;
    Stream* destination = nullptr;
    CodecHooks hooks;
};

} // namespace kpz
