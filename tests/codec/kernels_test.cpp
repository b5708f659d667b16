// SPDX-License-Identifier: BSD-3-Clause
// Every set of block kernels this processor can run stores exactly the bytes of the plain
// reference and restores them: all 256 pairs of widths at both byte parities, chunk
// boundaries, scrambling, and real music when the corpus is there.
#include "kernels.h"
#include "memory_codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

std::vector<kpz::Kernels> runnableKernels() {
    std::vector<kpz::Kernels> all;
    for (kpz::Kernels k : {kpz::Kernels::Portable, kpz::Kernels::Avx2})
        if (kpz::kernelsSupported(k)) all.push_back(k);
    return all;
}

// Restores the kernels chosen before the test, whatever it selects.
struct KernelsGuard {
    kpz::Kernels saved = kpz::activeKernels();
    ~KernelsGuard() { kpz::selectKernels(saved); }
};

Bytes payloadOf(const Bytes& file) {
    return Bytes(file.begin() + 14, file.end()); // header of a file named "a.wav"
}

// Blocks whose residuals need width codes (b % 16, b / 16 % 16) for block b, so that every
// pair of widths occurs, after blocks of an odd and of an even number of bytes alike.
Bytes everyWidthPair(int repeats) {
    std::mt19937 rng(7);
    Bytes out;
    int16_t side = 0, right = 0;
    auto put = [&](int16_t v) {
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    };
    auto residual = [&](int w, int f) {
        // The first frame takes an extreme of the range, so the block needs exactly w.
        const int lo = -(1 << w), hi = (1 << w) - 1;
        if (f == 0) return (rng() & 1) ? lo : hi;
        return lo + static_cast<int>(rng() % static_cast<uint32_t>(hi - lo + 1));
    };
    for (int b = 0; b < 256 * repeats; ++b) {
        const int sw = b % 16, rw = b / 16 % 16;
        for (int f = 0; f < 16; ++f) {
            side = static_cast<int16_t>(side + residual(sw, f));
            right = static_cast<int16_t>(right + residual(rw, f));
            put(static_cast<int16_t>(side + right));
            put(right);
        }
    }
    return out;
}

} // namespace

TEST(Kernels, SameBytesAsTheReferenceAndBackAgain) {
    KernelsGuard guard;
    struct Case {
        std::string name;
        Bytes source;
    };
    const Case cases[] = {
        {"every width pair", everyWidthPair(3)},
        {"audio across chunks", kpztest::audioLike(1572899, 3)},
        {"random across chunks", kpztest::randomBytes(1048577, 4)},
        {"one odd byte", {0x05}},
        {"a block and a bit", kpztest::audioLike(65, 5)},
    };
    auto s = kpztest::makeState();
    for (kpz::Kernels k : runnableKernels()) {
        ASSERT_TRUE(kpz::selectKernels(k));
        for (const Case& c : cases) {
            for (bool scramble : {false, true}) {
                const uint16_t code = scramble ? 0xBE45 : 0;
                const Bytes file = kpz::compressToMemory(*s, c.source, "a.wav", scramble, code);
                EXPECT_EQ(payloadOf(file), kpztest::referencePayload(c.source, scramble, code))
                    << kpz::kernelsName(k) << ", " << c.name << (scramble ? ", scrambled" : "");
                const kpz::RestoreResult r = kpz::restoreFromMemory(*s, file, code);
                EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Complete);
                EXPECT_TRUE(r.data == c.source)
                    << kpz::kernelsName(k) << " restores " << c.name << " wrongly";
            }
        }
    }
}

// Small input buffers put block starts at every distance from a refill, where the fast
// decoders hand over to the word-by-word reader.
TEST(Kernels, RestoreWithSmallBuffers) {
    KernelsGuard guard;
    const Bytes source = everyWidthPair(2);
    auto s = kpztest::makeState();
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav");
    for (kpz::Kernels k : runnableKernels()) {
        ASSERT_TRUE(kpz::selectKernels(k));
        for (int32_t words : {64, 96, 544, 2048}) {
            s->bufferLength = words;
            const kpz::RestoreResult r = kpz::restoreFromMemory(*s, file);
            s->bufferLength = kpz::kBufferLength;
            EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Complete);
            EXPECT_TRUE(r.data == source) << kpz::kernelsName(k) << ", " << words << " words";
        }
    }
}

TEST(Kernels, RealAudioGivesTheSameFileWithEveryKernel) {
    const char* dir = std::getenv("KPZ_CORPUS_DIR");
    if (!dir) GTEST_SKIP() << "KPZ_CORPUS_DIR is not set";
    KernelsGuard guard;
    Bytes source = kpztest::readAll(std::string(dir) + "/knolls.wav");
    source.resize(std::min<size_t>(source.size(), 6u << 20));
    auto s = kpztest::makeState();
    ASSERT_TRUE(kpz::selectKernels(kpz::Kernels::Portable));
    const Bytes reference = kpz::compressToMemory(*s, source, "a.wav");
    for (kpz::Kernels k : runnableKernels()) {
        ASSERT_TRUE(kpz::selectKernels(k));
        EXPECT_TRUE(kpz::compressToMemory(*s, source, "a.wav") == reference) << kpz::kernelsName(k);
        const kpz::RestoreResult r = kpz::restoreFromMemory(*s, reference);
        EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Complete);
        EXPECT_TRUE(r.data == source) << kpz::kernelsName(k);
    }
}
