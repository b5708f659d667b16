// SPDX-License-Identifier: BSD-3-Clause
// The pure half of coding a source as two halves: where to cut, the width pass that
// places the second half, and the per-half word coder.
#include "split_coder.h"

#include "kernels.h"

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

namespace detail {

uint64_t widthSumPortable(const int16_t* samples, int32_t nSamples) {
    uint64_t sum = 0;
#if defined(__SSE2__)
    // Four frames per vector: each frame's side and right (left - right in the low half of
    // its 32-bit lane, right in the high half) less those of the frame before it, loaded
    // from memory one frame back.
    auto sideRight = [](const int16_t* at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return _mm_sub_epi16(v, _mm_srli_epi32(v, 16));
    };
    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        const int16_t* block = samples + i;
        __m128i folds = _mm_setzero_si128();
        for (int k = 0; k < 4; ++k) {
            const __m128i r = _mm_sub_epi16(sideRight(block + 8 * k), sideRight(block + 8 * k - 2));
            folds = _mm_or_si128(folds, _mm_xor_si128(r, _mm_srai_epi16(r, 15)));
        }
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 8));
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 4));
        const auto both = static_cast<uint32_t>(_mm_cvtsi128_si32(folds));
        const uint32_t foldSide = both & 0xFFFF, foldRight = both >> 16;
        sum += static_cast<uint64_t>(foldSide ? 32 - __builtin_clz(foldSide) : 0) +
               static_cast<uint64_t>(foldRight ? 32 - __builtin_clz(foldRight) : 0);
    }
#else
    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        const int16_t* block = samples + i;
        uint32_t foldSide = 0, foldRight = 0;
        for (int f = 0; f < 16; ++f) {
            const int16_t prevLeft = block[2 * f - 2], prevRight = block[2 * f - 1];
            const int16_t left = block[2 * f], right = block[2 * f + 1];
            const auto sideRes = static_cast<int16_t>(static_cast<int16_t>(left - right) -
                                                      static_cast<int16_t>(prevLeft - prevRight));
            const auto rightRes = static_cast<int16_t>(right - prevRight);
            foldSide |= static_cast<uint16_t>(sideRes ^ (sideRes >> 15));
            foldRight |= static_cast<uint16_t>(rightRes ^ (rightRes >> 15));
        }
        sum += static_cast<uint64_t>(foldSide ? 32 - __builtin_clz(foldSide) : 0) +
               static_cast<uint64_t>(foldRight ? 32 - __builtin_clz(foldRight) : 0);
    }
#endif
    return sum;
}

} // namespace detail

uint64_t codedBlockBytes(const int16_t* samples, int32_t nSamples, int16_t& prevSide,
                         int16_t& prevRight) {
    if (nSamples <= 0) return 0;
    // The first block against the frame carried in; the others against the frame before
    // them in memory, which the kernels read without a carry.
    alignas(16) int16_t block[kBlockLength];
    std::memcpy(block, samples, sizeof block);
    const uint32_t folds = detail::blockResiduals(block, prevSide, prevRight);
    const uint32_t foldSide = folds & 0xFFFF, foldRight = folds >> 16;
    uint64_t widths = static_cast<uint64_t>(foldSide ? 32 - __builtin_clz(foldSide) : 0) +
                      static_cast<uint64_t>(foldRight ? 32 - __builtin_clz(foldRight) : 0);
    const int32_t rest = nSamples - kBlockLength;
    if (rest > 0) {
        const int16_t* from = samples + kBlockLength;
        widths += activeKernels() == Kernels::Avx2 ? detail::widthSumAvx2(from, rest)
                                                   : detail::widthSumPortable(from, rest);
        const int16_t left = samples[nSamples - 2], right = samples[nSamples - 1];
        prevSide = static_cast<int16_t>(left - right);
        prevRight = right;
    }
    // One header byte per block, then 16 fields of sw + 1 bits and 16 of rw + 1.
    const auto blocks = static_cast<uint64_t>(nSamples / kBlockLength);
    return 5 * blocks + 2 * widths;
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
    detail::writeEndPad(writer);
    return writer.index;
}

} // namespace kpz
