// SPDX-License-Identifier: BSD-3-Clause
// The comparing destination behind --verify: every kind of difference must be caught.
#include "kpz_harness.h"
#include "sinks.h"

using namespace kpztest;

namespace {

struct CompareCase {
    const char* label;
    size_t expected;       // the original size the header announces
    size_t decodedExtra;   // bytes the decoder writes past it (the rest of a last block)
    long referenceDelta;   // the reference is this much longer (or shorter)
    long flipAt;           // byte of the decoded data to change, -1 for none
    size_t decodedShortBy; // bytes the decoder fails to deliver
    bool matches;
    bool stopsEarly; // the difference shows while decoding, so decoding can end there
};

const CompareCase kCompare[] = {
    {"Equal", 300000, 62, 0, -1, 0, true, false},
    {"EqualEmpty", 0, 64, 0, -1, 0, true, false},
    {"DifferenceInLaterPiece", 300000, 62, 0, 200001, 0, false, true},
    {"DifferenceInLastByte", 300000, 0, 0, 299999, 0, false, true},
    {"ReferenceLonger", 300000, 62, 1, -1, 0, false, false},
    {"ReferenceShorter", 300000, 62, -1, -1, 0, false, true},
    {"DecodedShort", 300000, 0, 0, -1, 10, false, false},
};

void PrintTo(const CompareCase& c, std::ostream* os) {
    *os << c.label;
}

class ComparingSinkTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(ComparingSinkTest, MatchesOnlyAnExactCopy) {
    const CompareCase& c = GetParam();
    const auto original = audioLike(c.expected + 100, 11);
    std::vector<uint8_t> reference(
        original.begin(), original.begin() + static_cast<long>(c.expected) + c.referenceDelta);
    std::vector<uint8_t> decoded(original.begin(),
                                 original.begin() + static_cast<long>(c.expected + c.decodedExtra));
    decoded.resize(decoded.size() - c.decodedShortBy);
    if (c.flipAt >= 0) decoded[static_cast<size_t>(c.flipAt)] ^= 0x10;

    kpz::MemoryStream referenceStream(reference);
    bool stop = false;
    kpz::ComparingSink sink(referenceStream, c.expected, &stop);
    // Pieces larger than the sink's own read size, as the decoder's flushes are.
    for (size_t at = 0; at < decoded.size(); at += 100000) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(100000, decoded.size() - at));
        EXPECT_EQ(sink.write(decoded.data() + at, n), n);
    }
    EXPECT_EQ(sink.matched(), c.matches);
    EXPECT_EQ(stop, c.stopsEarly);
}

INSTANTIATE_TEST_SUITE_P(Cli, ComparingSinkTest, ::testing::ValuesIn(kCompare),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
