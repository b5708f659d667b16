// SPDX-License-Identifier: BSD-3-Clause
// The pure half of coding a source as two halves: where to cut, the width pass that
// places the second half, and the per-half word coder.
#include "split_coder.h"

#include <algorithm>
#include <cstring>

namespace kpz {

namespace {
// Below this a second thread costs more than it saves.
constexpr uint64_t kMinSplitChunks = 16;
} // namespace

uint64_t splitPoint(uint64_t sourceBytes, uint32_t firstPermille) {
    const uint64_t fullChunks = sourceBytes / kChunkBytes;
    if (fullChunks < kMinSplitChunks) return 0;
    const uint64_t first = fullChunks * std::min<uint32_t>(firstPermille, 1000) / 1000;
    return std::clamp<uint64_t>(first, 1, fullChunks - 1) * kChunkBytes;
}

uint64_t codedBlockBytes(const int16_t* samples, int32_t nSamples, int16_t& prevSide,
                         int16_t& prevRight) {
    uint64_t bytes = 0;
    alignas(16) int16_t block[kBlockLength];
    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        std::memcpy(block, samples + i, sizeof block);
        const uint32_t folds = detail::blockResiduals(block, prevSide, prevRight);
        const uint32_t foldSide = folds & 0xFFFF, foldRight = folds >> 16;
        const int sw = foldSide ? 32 - __builtin_clz(foldSide) : 0;
        const int rw = foldRight ? 32 - __builtin_clz(foldRight) : 0;
        // One header byte, then 16 fields of sw + 1 bits and 16 of rw + 1.
        bytes += 1 + 2 * static_cast<uint64_t>(sw + 1) + 2 * static_cast<uint64_t>(rw + 1);
    }
    return bytes;
}

void frameBefore(const uint8_t* frame, int16_t& prevSide, int16_t& prevRight) {
    const auto left = static_cast<int16_t>(frame[0] | (frame[1] << 8));
    const auto right = static_cast<int16_t>(frame[2] | (frame[3] << 8));
    prevSide = static_cast<int16_t>(left - right);
    prevRight = right;
}

HalfCoder::HalfCoder(uint16_t* words, int16_t side, int16_t right)
    : prevSide(side), prevRight(right) {
    writer.out = words;
}

int32_t HalfCoder::code(int16_t* samples, int32_t nSamples) {
    writer.index = 0;
    detail::encodeBlocks(samples, nSamples, prevSide, prevRight, writer);
    return writer.index;
}

int32_t HalfCoder::finish() {
    writer.index = 0;
    for (int k = 0; k < 4; ++k)
        writer.putByte(0);
    return writer.index;
}

} // namespace kpz
