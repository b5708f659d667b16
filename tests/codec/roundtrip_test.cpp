// SPDX-License-Identifier: BSD-3-Clause
// Restoring gives back every byte, at every size that meets a block, chunk or buffer edge.
#include "encoder.h"
#include "memory_codec.h"
#include "password.h"
#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

TEST(RoundTrip, SizesWithAndWithoutPassword) {
    const size_t sizes[] = {0, 1, 2, 63, 64, 65, 129, 524287, 524288, 524289, 1048577};
    auto s = kpztest::makeState();
    for (size_t size : sizes) {
        const Bytes source = kpztest::audioLike(size, static_cast<uint32_t>(size) + 7);
        for (bool password : {false, true}) {
            const uint16_t code = password ? kpz::passwordCode("ABC") : 0;
            const Bytes file = kpz::compressToMemory(*s, source, "clip.wav", password, code);
            const auto restored = kpz::restoreFromMemory(*s, file, code);
            ASSERT_EQ(restored.outcome, kpz::DecodeOutcome::Complete) << size;
            EXPECT_EQ(restored.info.passwordOn, password);
            EXPECT_EQ(restored.info.storedName, "clip.wav");
            EXPECT_TRUE(restored.data == source) << size << " bytes, password " << password;
        }
    }
}

TEST(RoundTrip, WrongPasswordGivesRightLengthAndWrongContent) {
    auto s = kpztest::makeState();
    const Bytes source = kpztest::audioLike(100000);
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav", true, kpz::passwordCode("ABC"));
    const auto restored = kpz::restoreFromMemory(*s, file, kpz::passwordCode("ABD"));
    EXPECT_EQ(restored.outcome, kpz::DecodeOutcome::Complete);
    EXPECT_EQ(restored.data.size(), source.size());
    EXPECT_NE(restored.data, source);
}

// Several chunks of real music: the corpus folder is given by KPZ_CORPUS_DIR
// (scripts/test builds it).
TEST(RoundTrip, RealAudioClip) {
    const char* dir = std::getenv("KPZ_CORPUS_DIR");
    if (!dir) GTEST_SKIP() << "KPZ_CORPUS_DIR is not set";
    const std::string path = std::string(dir) + "/knolls.wav";
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    Bytes source = kpztest::readAll(path);
    source.resize(std::min<size_t>(source.size(), 5 * 524288 + 12345));
    auto s = kpztest::makeState();
    for (bool password : {false, true}) {
        const Bytes file = kpz::compressToMemory(*s, source, "knolls.wav", password, 0xBE45);
        EXPECT_LT(file.size(), source.size() * 3 / 4) << "music should compress";
        const auto restored = kpz::restoreFromMemory(*s, file, 0xBE45);
        ASSERT_EQ(restored.outcome, kpz::DecodeOutcome::Complete);
        EXPECT_TRUE(restored.data == source);
    }
}

TEST(RoundTrip, RandomBytesAcrossChunks) {
    auto s = kpztest::makeState();
    const Bytes source = kpztest::randomBytes(3 * 524288 + 77, 99);
    const Bytes file = kpz::compressToMemory(*s, source, "noise.bin");
    EXPECT_GT(file.size(), source.size()) << "noise cannot shrink";
    EXPECT_TRUE(kpz::restoreFromMemory(*s, file).data == source);
}
