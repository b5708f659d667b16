// SPDX-License-Identifier: BSD-3-Clause
// A source coded as two halves and joined gives the payload the one-thread coder gives.
#include "kernels.h"
#include "split_coder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kChunk = kpz::kChunkBytes;

// Codes source[from, to) chunk by chunk through one chunk buffer of its own, as a thread
// of the split run reads it, appending whole words to 'words'.
void codeHalf(const Bytes& source, size_t from, size_t to, kpz::HalfCoder& coder,
              std::vector<uint16_t>& words, bool last) {
    std::vector<int16_t> chunk(kpz::kBufferLength);
    std::vector<uint16_t> out(kpz::HalfCoder::kWordRoom);
    coder.writer.out = out.data();
    for (size_t at = from; at < to; at += kChunk) {
        const size_t n = std::min(kChunk, to - at);
        std::memcpy(chunk.data(), source.data() + at, n);
        const int32_t ready = coder.code(chunk.data(), static_cast<int32_t>((n + 1) / 2));
        words.insert(words.end(), out.begin(), out.begin() + ready);
        // The unfinished byte stays in the coder; the next call starts at word 0 again.
    }
    if (last) {
        const int32_t ready = coder.finish();
        words.insert(words.end(), out.begin(), out.begin() + ready);
    }
}

// The payload of source coded as [0, cut) and [cut, end) and joined.
Bytes splitPayload(const Bytes& source, size_t cut) {
    int16_t side = 0, right = 0;
    uint64_t firstBytes = 0;
    std::vector<int16_t> samples(kpz::kBufferLength);
    for (size_t at = 0; at < cut; at += kChunk) {
        std::memcpy(samples.data(), source.data() + at, kChunk);
        firstBytes += kpz::codedBlockBytes(samples.data(), kpz::kBufferLength, side, right);
    }
    std::vector<uint16_t> first, second;
    kpz::HalfCoder a(nullptr, 0, 0);
    codeHalf(source, 0, cut, a, first, false);
    kpz::frameBefore(source.data() + cut - 4, side, right);
    kpz::HalfCoder b(nullptr, side, right);
    codeHalf(source, cut, source.size(), b, second, true);

    // The first half ends on a word, at the place the width pass gave the second.
    EXPECT_EQ(2 * first.size(), firstBytes);
    first.insert(first.end(), second.begin(), second.end());
    Bytes bytes(2 * first.size());
    std::memcpy(bytes.data(), first.data(), bytes.size());
    return bytes;
}

} // namespace

TEST(SplitCoder, HalvesJoinToTheOneThreadPayload) {
    // The cut is a whole number of chunks; the second half holds at least one full chunk,
    // then nothing or a short chunk of odd and block-edge lengths.
    struct Case {
        size_t cut, rest;
    };
    const Case cases[] = {{kChunk, kChunk},
                          {kChunk, kChunk + 1},
                          {kChunk, kChunk + 63},
                          {kChunk, kChunk + 64},
                          {kChunk, kChunk + 65},
                          {2 * kChunk, 2 * kChunk - 1},
                          {2 * kChunk, kChunk + 4097},
                          {3 * kChunk, 3 * kChunk}};
    for (const Case& c : cases)
        for (uint32_t seed : {1u, 2u, 3u}) {
            // Audio-like sources and noise give first halves of both odd and even length.
            const size_t size = c.cut + c.rest;
            const Bytes source =
                seed == 3 ? kpztest::randomBytes(size, seed) : kpztest::audioLike(size, seed);
            EXPECT_TRUE(splitPayload(source, c.cut) == kpztest::referencePayload(source))
                << "cut " << c.cut << ", rest " << c.rest << ", seed " << seed;
        }
}

TEST(SplitCoder, SplitPointIsAChunkEdgeNearTheMiddleOfLargeSources) {
    EXPECT_EQ(kpz::splitPoint(0), 0u);
    EXPECT_EQ(kpz::splitPoint(16 * kChunk - 1), 0u);
    for (uint64_t size : {16 * kChunk, 16 * kChunk + 1, 17 * kChunk + 63, 337 * kChunk + 4096}) {
        const uint64_t cut = kpz::splitPoint(size);
        EXPECT_EQ(cut % kChunk, 0u) << size;
        EXPECT_GE(size - cut, cut) << size;
        EXPECT_LE(size - cut, cut + 2 * kChunk) << size;
    }
    // An uneven cut still leaves a full chunk to each side.
    for (uint32_t permille : {0u, 1u, 700u, 999u, 1000u, 5000u}) {
        const uint64_t size = 20 * kChunk + 3;
        const uint64_t cut = kpz::splitPoint(size, permille);
        EXPECT_EQ(cut % kChunk, 0u) << permille;
        EXPECT_GE(cut, kChunk) << permille;
        EXPECT_GE(size - cut, kChunk + 3) << permille;
    }
    EXPECT_EQ(kpz::splitPoint(20 * kChunk, 700), 14 * kChunk);
}

TEST(SplitCoder, WidthPassMatchesTheBlocksWithEveryKernel) {
    // The plainest count: each block's residuals one by one, and the bytes it takes.
    auto plain = [](std::vector<int16_t> samples, int16_t& side, int16_t& right) {
        uint64_t bytes = 0;
        for (size_t i = 0; i < samples.size(); i += kpz::kBlockLength) {
            const uint32_t folds = kpz::detail::blockResidualsScalar(&samples[i], side, right);
            const uint32_t fs = folds & 0xFFFF, fr = folds >> 16;
            bytes +=
                1 + 2 * (fs ? 33 - __builtin_clz(fs) : 1) + 2 * (fr ? 33 - __builtin_clz(fr) : 1);
        }
        return bytes;
    };
    std::mt19937 random(5);
    const kpz::Kernels saved = kpz::activeKernels();
    for (kpz::Kernels k : {kpz::Kernels::Portable, kpz::Kernels::Avx2}) {
        if (!kpz::selectKernels(k)) continue;
        for (size_t blocks : {size_t{1}, size_t{2}, size_t{3}, size_t{8192}})
            for (int kind = 0; kind < 4; ++kind) {
                // Audio-like, noise, the widest swings (every width code up to 15), silence.
                std::vector<int16_t> samples(blocks * kpz::kBlockLength);
                const Bytes audio = kpztest::audioLike(2 * samples.size(), kind + 1);
                for (size_t i = 0; i < samples.size(); ++i)
                    samples[i] =
                        kind == 0   ? static_cast<int16_t>(audio[2 * i] | audio[2 * i + 1] << 8)
                        : kind == 1 ? static_cast<int16_t>(random())
                        : kind == 2 ? static_cast<int16_t>((i / 2 + i / 64) % 2 ? 32767 : -32768)
                                    : 0;
                const auto carrySide = static_cast<int16_t>(random()),
                           carryRight = static_cast<int16_t>(random());
                int16_t side = carrySide, right = carryRight, s2 = carrySide, r2 = carryRight;
                EXPECT_EQ(kpz::codedBlockBytes(samples.data(), static_cast<int32_t>(samples.size()),
                                               side, right),
                          plain(samples, s2, r2))
                    << kpz::kernelsName(k) << ", " << blocks << " blocks, kind " << kind;
                EXPECT_EQ(side, s2);
                EXPECT_EQ(right, r2);
            }
    }
    kpz::selectKernels(saved);
}
