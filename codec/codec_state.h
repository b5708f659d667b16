// The codec's part of the packer state: buffers, tables, bit-writer and bit-reader fields,
// counters and flags, in one record that callers own and pass by reference.
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

    // Tables, built once by buildCodecTables.
    uint16_t powersOfTwo[16] = {};
    uint8_t bitsNeeded[65536] = {};
    FieldMask fieldMasks[16][16] = {};
    uint16_t lowMasks[16] = {};

    // Bit writer.
    int32_t outputIndex = 0;
    int32_t bitPosition = 15;
    uint16_t pendingWord = 0;

    // Bit reader.
    uint16_t currentWord = 0;
    int32_t inputIndex = 1;
    int32_t readBitPosition = 15;

    int32_t bytesRead = 0;
    uint8_t sideWidth = 0, rightWidth = 0;
    uint8_t readSideWidth = 0, readRightWidth = 0;
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

    // Decoder bookkeeping beyond the word-by-word reader: how many words of the input
    // buffer the last refill delivered, and whether a refill failed.
    int32_t inputWordsValid = 0;
    bool inputReadFailed = false;
    // Payload bytes read so far, whether the last read reached the end of the file, and the
    // words of earlier buffers, so that the end of the data blocks has an absolute place.
    uint64_t payloadBytesRead = 0;
    bool inputEnded = false;
    uint64_t wordsBeforeBuffer = 0;
};

} // namespace kpz
