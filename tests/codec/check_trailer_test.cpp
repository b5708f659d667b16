// SPDX-License-Identifier: BSD-3-Clause
// The check trailer: what the job writes, that a reader knowing nothing of it still
// restores the file exactly, and what the job makes of damage and of other trailing bytes.
#include "check_trailer.h"
#include "file_job.h"
#include "password.h"
#include "payload.h"
#include "sinks.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using kpztest::readAll;
using kpztest::writeAll;

// A restore written from the format alone, one bit at a time, that stops once the stored
// size is restored and looks at nothing after the blocks it needs; nullopt when the file
// ends before them.
std::optional<std::vector<uint8_t>> plainRestore(const std::vector<uint8_t>& file, uint16_t code) {
    if (file.size() < 9) return std::nullopt;
    auto le32 = [&](size_t at) {
        return uint32_t{file[at]} | uint32_t{file[at + 1]} << 8 | uint32_t{file[at + 2]} << 16 |
               uint32_t{file[at + 3]} << 24;
    };
    const bool scrambled = file[0] == '?';
    const uint32_t size = le32(1);
    const size_t payload = 9 + le32(5);
    uint64_t bit = 0;
    bool shortOfData = false;
    auto take = [&](int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++bit) {
            const size_t at = payload + 2 * (bit / 16);
            if (at + 1 >= file.size()) {
                shortOfData = true;
                return 0u;
            }
            uint16_t word = static_cast<uint16_t>(file[at] | file[at + 1] << 8);
            if (scrambled) word ^= code;
            value = value << 1 | ((word >> (15 - bit % 16)) & 1u);
        }
        return value;
    };
    auto signedField = [&](int bits) {
        const uint32_t v = take(bits);
        return static_cast<int16_t>(v & (1u << (bits - 1)) ? v | ~((1u << bits) - 1) : v);
    };
    std::vector<uint8_t> out;
    int16_t side = 0, right = 0;
    while (out.size() < size) {
        const uint32_t header = take(8);
        const int sideBits = static_cast<int>(header & 15) + 1;
        const int rightBits = static_cast<int>(header >> 4) + 1;
        int16_t sides[16], rights[16];
        for (int16_t& s : sides)
            s = side = static_cast<int16_t>(side + signedField(sideBits));
        for (int16_t& r : rights)
            r = right = static_cast<int16_t>(right + signedField(rightBits));
        if (shortOfData) return std::nullopt;
        for (int f = 0; f < 16; ++f) {
            const auto left = static_cast<uint16_t>(sides[f] + rights[f]);
            const auto r = static_cast<uint16_t>(rights[f]);
            for (uint16_t sample : {left, r}) {
                out.push_back(static_cast<uint8_t>(sample));
                out.push_back(static_cast<uint8_t>(sample >> 8));
            }
        }
    }
    out.resize(size);
    return out;
}

class CheckTrailer : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
    }

    // Compresses source into dir_/out.kpz, scrambled with code unless it is 0, and gives the
    // file's bytes.
    std::vector<uint8_t> compress(const std::vector<uint8_t>& source, bool check,
                                  uint16_t code = 0) {
        const std::string in = dir_ + "/music.wav";
        writeAll(in, source);
        kpz::CompressJob job(*state_);
        EXPECT_TRUE(job.open(in).ok());
        EXPECT_TRUE(job.prepareOutput(dir_ + "/out.kpz",
                                      [](const std::string&) { return kpz::Replace::Yes; })
                        .ok());
        job.setPassword({code != 0, code});
        EXPECT_TRUE(job.run(check).ok());
        EXPECT_TRUE(job.verify().ok());
        EXPECT_TRUE(job.finish({}).ok());
        return readAll(dir_ + "/out.kpz");
    }

    // Tests file through the job; gives the outcome and what followed the payload.
    kpz::Outcome test(const std::vector<uint8_t>& file, uint16_t code, kpz::MemberEnd& end,
                      bool* hasCheck = nullptr) {
        writeAll(dir_ + "/in.kpz", file);
        kpz::RestoreJob job(*state_);
        job.setPassword({true, code});
        kpz::Outcome o = job.open(dir_ + "/in.kpz");
        if (o.ok()) o = job.readHeader();
        if (hasCheck) *hasCheck = o.ok() && job.hasCheck();
        if (o.ok()) o = job.test();
        end = kpz::MemberEnd{};
        end.checked = job.checked();
        end.nextMember = job.moreMembers();
        end.trailingBytes = job.trailingBytes();
        return o;
    }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
};

TEST_F(CheckTrailer, OnlyAddsSixteenBytesThatAPlainReaderNeverReads) {
    const uint16_t code = kpz::passwordCode("secret");
    // Odd sizes end inside a block; the empty file is the end pad alone.
    for (size_t size : {size_t{0}, size_t{1}, size_t{64}, size_t{100001}, size_t{1} << 20}) {
        for (const bool scrambled : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (scrambled ? " scrambled" : ""));
            const auto source = kpztest::audioLike(size, static_cast<uint32_t>(size));
            const uint16_t key = scrambled ? code : 0;
            const auto plain = compress(source, false, key);
            const auto checked = compress(source, true, key);
            ASSERT_EQ(checked.size(), plain.size() + kpz::kTrailerBytes);
            EXPECT_TRUE(std::equal(plain.begin(), plain.end(), checked.begin()));
            uint64_t hash = 0;
            EXPECT_TRUE(
                kpz::decodeTrailer(checked.data() + plain.size(), kpz::kTrailerBytes, hash));

            EXPECT_EQ(plainRestore(checked, code), source);
            kpz::MemberEnd end;
            bool hasCheck = false;
            EXPECT_TRUE(test(checked, code, end, &hasCheck).ok());
            EXPECT_TRUE(end.checked && hasCheck);
            EXPECT_EQ(end.trailingBytes, 0u);
        }
    }
}

TEST_F(CheckTrailer, DamageWrongPasswordAndOtherTrailingBytes) {
    const auto source = kpztest::audioLike(300000, 7);
    const uint16_t code = kpz::passwordCode("secret");
    const auto checked = compress(source, true, code);
    const size_t payloadEnd = checked.size() - kpz::kTrailerBytes;
    auto flipped = [&](size_t at) {
        auto bytes = checked;
        bytes[at] ^= 0x10;
        return bytes;
    };
    auto appended = [](std::vector<uint8_t> bytes, size_t count) {
        bytes.insert(bytes.end(), count, 0x5A);
        return bytes;
    };
    auto cut = [](std::vector<uint8_t> bytes, size_t from, size_t count) {
        bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(from),
                    bytes.begin() + static_cast<ptrdiff_t>(from + count));
        return bytes;
    };
    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        uint16_t code;
        kpz::Problem problem;
        uint64_t trailingBytes;
    };
    const Case cases[] = {
        // A residual bit: the blocks still decode, only the hash can tell.
        {"PayloadBitFlipped", flipped(payloadEnd / 2), code, kpz::Problem::CheckMismatch, 0},
        {"StoredHashChanged", flipped(checked.size() - 1), code, kpz::Problem::CheckMismatch, 0},
        {"WrongPassword", checked, kpz::passwordCode("Secret!"), kpz::Problem::CheckMismatch, 0},
        // The trailer is looked for where the payload ends, whatever follows it.
        {"BytesAfterTheTrailer", appended(checked, 3), code, kpz::Problem::None, 3},
        {"BytesAfterAPlainFile", appended(compress(source, false, code), 40), code,
         kpz::Problem::None, 40},
        // A trailer the payload does not end at is damage, however the end moved.
        {"DamagedAndBytesAppended", appended(flipped(payloadEnd / 2), 3), code,
         kpz::Problem::CheckMismatch, 0},
        {"WrongPasswordAndBytesAppended", appended(checked, 3), kpz::passwordCode("Secret!"),
         kpz::Problem::CheckMismatch, 0},
        {"CutInsideTheTrailer", cut(checked, checked.size() - 5, 5), code,
         kpz::Problem::CheckMismatch, 0},
        {"CutToTheTrailersFirstBytes", cut(checked, payloadEnd + 3, kpz::kTrailerBytes - 3), code,
         kpz::Problem::CheckMismatch, 0},
        {"EndPadCutTrailerKept", cut(checked, payloadEnd - 2, 2), code, kpz::Problem::Damaged, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        kpz::MemberEnd end;
        const kpz::Outcome o = test(c.file, c.code, end);
        if (c.problem == kpz::Problem::Damaged)
            EXPECT_TRUE(o.problem == kpz::Problem::Damaged ||
                        o.problem == kpz::Problem::CheckMismatch)
                << static_cast<int>(o.problem);
        else
            EXPECT_EQ(o.problem, c.problem);
        if (c.problem == kpz::Problem::None) {
            EXPECT_EQ(end.trailingBytes, c.trailingBytes);
        }
    }
}

// Every code but the right one, on a small checked file: none restores. The file is read
// as every reader reads it, through the job's decode and its verdict on the payload's end.
TEST_F(CheckTrailer, NoWrongCodePasses) {
    const uint16_t right = kpz::passwordCode("secret");
    const auto checked = compress(kpztest::audioLike(500, 5), true, right);
    kpz::MemoryStream whole(checked);
    kpz::Header header;
    ASSERT_TRUE(kpz::readCompressedHeader(whole, checked.size(), header).ok());
    const std::vector<uint8_t> payload(checked.begin() + kpz::kHeaderFixedBytes + header.nameLength,
                                       checked.end());
    int passed = 0;
    for (uint32_t code = 0; code < 65536; ++code) {
        kpz::MemoryStream in(payload);
        kpz::MemberInput members(in);
        kpz::CountingSink sink;
        kpz::MemberEnd end;
        const kpz::Outcome o =
            kpz::decodePayload(*state_, members, header, sink, static_cast<uint16_t>(code), end);
        if (o.ok()) ++passed;
        if (code == right) {
            EXPECT_TRUE(o.ok() && end.checked);
        }
    }
    EXPECT_EQ(passed, 1);
}

// Every single flipped bit of a small checked file: whatever still restores, restores the
// right bytes (a flip in the stored name, the end pad or the unused end of the last block
// changes no restored byte).
TEST_F(CheckTrailer, NoFlippedBitRestoresWrongBytes) {
    const auto source = kpztest::audioLike(1200, 9);
    const auto checked = compress(source, true);
    int restored = 0;
    for (size_t bit = 0; bit < checked.size() * 8; ++bit) {
        auto file = checked;
        file[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        kpz::MemoryStream in(file);
        kpz::Header header;
        if (!kpz::readCompressedHeader(in, file.size(), header).ok()) continue;
        kpz::MemberInput members(in);
        kpz::MemoryStream out;
        kpz::MemberEnd end;
        if (!kpz::decodePayload(*state_, members, header, out, 0, end).ok()) continue;
        ++restored;
        EXPECT_TRUE(out.data == source) << "bit " << bit;
    }
    EXPECT_GT(restored, 0);
}

} // namespace
