// SPDX-License-Identifier: BSD-3-Clause
// The parallel coder and the vector kernels store exactly what the plain ones do.
#include "block_coder.h"
#include "container.h"
#include "encoder.h"
#include "memory_codec.h"
#include "parallel_decoder.h"
#include "parallel_encoder.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <random>

using Bytes = std::vector<uint8_t>;

namespace {

Bytes encodeWith(kpz::CodecState& s, const Bytes& source, int threads, bool password) {
    kpz::MemoryStream in(source), out;
    kpz::resetEncoder(s);
    s.source = &in;
    s.destination = &out;
    s.sourceSize = static_cast<uint32_t>(source.size());
    s.passwordOn = password;
    s.passwordCode = password ? 0xBE45 : 0;
    const auto outcome = threads ? kpz::encodeFileParallel(s, threads) : kpz::encodeFile(s);
    EXPECT_EQ(outcome, kpz::EncodeOutcome::Complete);
    return out.data;
}

} // namespace

TEST(Parallel, SameBytesAsOneThread) {
    constexpr size_t chunk = 524288;
    // Short last chunks after one, two and three full ones (the padding then comes from the
    // chunk before, which must be coded by the same thread), odd lengths, whole chunks.
    const size_t sizes[] = {0,
                            1,
                            63,
                            chunk,
                            chunk + 1,
                            2 * chunk + 1,
                            3 * chunk + 4097,
                            4 * chunk,
                            5 * chunk + 3,
                            9 * chunk + 64};
    auto s = kpztest::makeState();
    for (size_t size : sizes) {
        const Bytes source = size % 2 ? kpztest::randomBytes(size, static_cast<uint32_t>(size))
                                      : kpztest::audioLike(size, static_cast<uint32_t>(size));
        for (bool password : {false, true}) {
            const Bytes one = encodeWith(*s, source, 0, password);
            for (int threads : {1, 2, 3})
                EXPECT_TRUE(encodeWith(*s, source, threads, password) == one)
                    << size << " bytes, " << threads << " threads, password " << password;
        }
    }
}

TEST(Parallel, SourceOfAnotherLengthIsAReadError) {
    auto s = kpztest::makeState();
    const Bytes source = kpztest::audioLike(3 * 524288);
    kpz::MemoryStream in(source), out;
    kpz::resetEncoder(*s);
    s->source = &in;
    s->destination = &out;
    for (uint32_t claimed : {3u * 524288 - 10, 3u * 524288 + 10}) {
        in.readPosition = 0;
        s->sourceSize = claimed;
        EXPECT_EQ(kpz::encodeFileParallel(*s, 2), kpz::EncodeOutcome::ReadError) << claimed;
    }
}

TEST(Parallel, VectorResidualsMatchThePlainOnes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        int16_t a[32], b[32];
        for (int k = 0; k < 32; ++k) // full-scale and small values mixed
            a[k] = b[k] = static_cast<int16_t>(round % 3 ? rng() : rng() % 64);
        int16_t sa = static_cast<int16_t>(rng()), ra = static_cast<int16_t>(rng());
        int16_t sb = sa, rb = ra;
        ASSERT_EQ(kpz::detail::blockResiduals(a, sa, ra),
                  kpz::detail::blockResidualsScalar(b, sb, rb));
        ASSERT_TRUE(std::equal(a, a + 32, b));
        ASSERT_EQ(sa, sb);
        ASSERT_EQ(ra, rb);
    }
}

namespace {

// Restores a compressed file held in memory through the parallel decoder.
kpz::RestoreResult restoreParallel(kpz::CodecState& s, const Bytes& file, int threads,
                                   uint16_t code = 0) {
    kpz::RestoreResult r;
    kpz::MemoryStream in(file), out;
    kpz::resetDecoder(s);
    r.header = kpz::readHeader(in, r.info);
    if (r.header != kpz::HeaderStatus::Ok) return r;
    s.source = &in;
    s.destination = &out;
    s.originalSize = r.info.originalSize;
    s.passwordOn = r.info.passwordOn;
    s.passwordCode = code;
    r.outcome = kpz::decodeFileParallel(s, threads);
    r.data = std::move(out.data);
    return r;
}

} // namespace

TEST(Parallel, RestoresWhatTheOneThreadDecoderRestores) {
    constexpr size_t chunk = 524288;
    const size_t sizes[] = {0, 1, 64, 65, 2 * chunk + 1, 5 * chunk + 3, 9 * chunk + 64};
    auto s = kpztest::makeState();
    for (size_t size : sizes) {
        const Bytes source = size % 2 ? kpztest::randomBytes(size, static_cast<uint32_t>(size))
                                      : kpztest::audioLike(size, static_cast<uint32_t>(size));
        for (bool password : {false, true}) {
            const Bytes file = kpz::compressToMemory(*s, source, "a.wav", password, 0xBE45);
            for (int threads : {1, 2, 3}) {
                const auto r = restoreParallel(*s, file, threads, 0xBE45);
                EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Complete);
                EXPECT_TRUE(r.data == source) << size << " bytes, " << threads << " threads";
            }
        }
    }
}

TEST(Parallel, CutPayloadIsDamagedExactlyWhenTheOneThreadDecoderSaysSo) {
    auto s = kpztest::makeState();
    const Bytes source = kpztest::audioLike(3 * 524288 + 999, 5);
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav");
    std::mt19937 rng(3);
    std::vector<size_t> cuts = {
        file.size() - 1, file.size() - 2,    file.size() - 3, file.size() - 6, 15,
        14 + 524288,     14 + 2 * 524288 + 1};
    for (int k = 0; k < 20; ++k)
        cuts.push_back(14 + rng() % (file.size() - 14));
    for (size_t cut : cuts) {
        const Bytes cutFile(file.begin(), file.begin() + static_cast<long>(cut));
        const auto one = kpz::restoreFromMemory(*s, cutFile);
        const auto two = restoreParallel(*s, cutFile, 2);
        // The memory helper refuses implausibly short payloads before decoding; the
        // parallel decoder finds the same files damaged while decoding.
        EXPECT_EQ(two.outcome, one.outcome) << "cut at " << cut;
        if (one.outcome == kpz::DecodeOutcome::Complete) {
            EXPECT_TRUE(two.data == one.data);
        }
    }
}
