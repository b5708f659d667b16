// SPDX-License-Identifier: BSD-3-Clause
// The block coding kernels and the choice between them. Every kernel stores and restores
// exactly the same bytes; they differ only in the instructions they use. The portable one
// needs nothing past SSE2 and is the reference the others are tested against.
#pragma once

#include <cstdint>

namespace kpz {

enum class Kernels { Portable, Avx2 };

// Whether this processor can run the kernels.
bool kernelsSupported(Kernels k);

// The fastest kernels this processor can run.
Kernels fastestKernels();

// The kernels the codec uses: the fastest this processor supports, unless selectKernels
// has chosen others.
Kernels activeKernels();

// Chooses the kernels for every later call on any thread; returns false, changing
// nothing, when the processor lacks them. The programs choose from their own settings
// (kpz from KPZ_KERNELS); tests and benchmarks choose directly.
bool selectKernels(Kernels k);
// The kernels called name ("portable" or "avx2"); false for another name.
bool kernelsNamed(const char* name, Kernels& k);

const char* kernelsName(Kernels k);

namespace detail {

struct FastWriter;

// Where the block decoder stands between runs: the stream position in bits from the start
// of the input buffer (always on a byte boundary between blocks), the last restored side
// and right, and the last block's width codes.
struct DecodeCursor {
    int64_t pos;
    uint16_t side, right;
    int sideWidth, rightWidth;
};

// Decodes up to maxBlocks blocks from the input words 'in' into 'out' while the block
// start stays at or before 'limit' (a bit position from which a block of the widest kind
// can be read without passing the buffer's last word but one). Returns the blocks decoded.
int32_t decodeRun(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                  int64_t limit);
// The same with one kernel set each; decodeRun picks the active one.
int32_t decodeRunPortable(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                          int64_t limit);
int32_t decodeRunAvx2(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                      int64_t limit);

// The width pass: the sum over the blocks of nSamples samples (a whole number of blocks,
// the first of them at index 1 or later, so that the frame before each block lies in
// memory) of the block's width codes, side and right, as the encoder would choose them.
// The samples are only read.
uint64_t widthSumPortable(const int16_t* samples, int32_t nSamples);
uint64_t widthSumAvx2(const int16_t* samples, int32_t nSamples);

uint32_t encodeBlocksPortable(int16_t* samples, int32_t nSamples, int16_t& prevSide,
                              int16_t& prevRight, FastWriter& writer);
uint32_t encodeBlocksAvx2(int16_t* samples, int32_t nSamples, int16_t& prevSide, int16_t& prevRight,
                          FastWriter& writer);

} // namespace detail

} // namespace kpz
