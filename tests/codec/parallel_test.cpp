// The parallel coder and the vector kernels store exactly what the plain ones do.
#include "block_coder.h"
#include "container.h"
#include "encoder.h"
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
