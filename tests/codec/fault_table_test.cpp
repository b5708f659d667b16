// SPDX-License-Identifier: BSD-3-Clause
// Tables of faults met while coding through kpz::File: writes that stop at each stage of a
// file, a full disk, reads that fail at each stage, and a file cut at every byte.
#include "container.h"
#include "decoder.h"
#include "encoder.h"
#include "file_io.h"
#include "memory_codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kChunk = kpz::kChunkBytes;
constexpr uint32_t kHeader = kpz::kHeaderFixedBytes + 5; // "a.wav"

struct FaultGuard {
    explicit FaultGuard(const kpz::FaultPlan& plan) { kpz::installFaultPlan(plan); }
    ~FaultGuard() { kpz::clearFaultPlan(); }
};

// What a pass through the codec ended in, as the programs judge it.
struct Pass {
    bool headerOk = true;
    int writeFailures = 0;
    bool cancelled = false; // cancelRequested after the pass
    int outcome = -1;       // EncodeOutcome or DecodeOutcome, -1 when the header failed
};

Pass compressFile(kpz::CodecState& s, const std::string& from, const std::string& to) {
    Pass p;
    kpz::resetEncoder(s);
    s.cancelRequested = false;
    kpz::File in, out;
    EXPECT_TRUE(in.openRead(from));
    EXPECT_TRUE(out.create(to));
    s.source = &in;
    s.destination = &out;
    s.sourceSize = static_cast<uint32_t>(in.length());
    s.passwordOn = false;
    s.hooks.reportWriteFailure = [&p] { ++p.writeFailures; };
    p.headerOk = kpz::writeHeader(out, false, s.sourceSize, "a.wav");
    s.destWritten += 5;
    if (p.headerOk) p.outcome = static_cast<int>(kpz::encodeFile(s));
    p.cancelled = s.cancelRequested;
    s.hooks = {};
    return p;
}

Pass restoreFile(kpz::CodecState& s, const std::string& from, const std::string& to) {
    Pass p;
    kpz::resetDecoder(s);
    s.cancelRequested = false;
    kpz::File in, out;
    EXPECT_TRUE(in.openRead(from));
    kpz::Header h;
    p.headerOk = kpz::readHeader(in, h) == kpz::HeaderStatus::Ok;
    if (!p.headerOk) return p;
    EXPECT_TRUE(out.create(to));
    s.source = &in;
    s.destination = &out;
    s.originalSize = h.originalSize;
    s.passwordOn = h.passwordOn;
    s.sourceProcessed += h.nameLength;
    s.hooks.reportWriteFailure = [&p] { ++p.writeFailures; };
    kpz::refillInput(s);
    p.outcome =
        static_cast<int>(s.bytesRead < 0 ? kpz::DecodeOutcome::ReadError : kpz::decodeFile(s));
    p.cancelled = s.cancelRequested;
    s.hooks = {};
    return p;
}

class FaultTable : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
        // Noise, so the payload spans three chunks as well as the source.
        source_ = kpztest::randomBytes(2 * kChunk + 1000, 8);
        compressed_ = kpz::compressToMemory(*state_, source_, "a.wav");
        kpztest::writeAll(dir_ + "/a.wav", source_);
        kpztest::writeAll(dir_ + "/a.kpz", compressed_);
    }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
    Bytes source_, compressed_;
};

} // namespace

// A write that stops at any point, the header and the final flush included, is reported and
// cancels the pass; a disk that is full from the start likewise. Nothing reports success.
TEST_F(FaultTable, WriteStopsAtEveryStage) {
    const int64_t packed = static_cast<int64_t>(compressed_.size());
    const int64_t restored = static_cast<int64_t>(source_.size());
    struct Case {
        const char* what;
        bool compressing;
        int64_t stopAt; // -1: the destination is /dev/full
    } cases[] = {
        {"header marker", true, 0},
        {"stored name", true, 10},
        {"first payload word", true, kHeader},
        {"inside the first flush", true, kHeader + 1000},
        {"last byte of the first flush", true, kHeader + kChunk - 1},
        {"second flush", true, kHeader + kChunk},
        {"final flush", true, packed - 100},
        {"last word of the final flush", true, packed - 2},
        {"last byte", true, packed - 1},
        {"full disk", true, -1},
        {"first restored byte", false, 0},
        {"inside the first flush", false, 1000},
        {"second flush", false, kChunk},
        {"final flush", false, restored - 100},
        {"last restored byte", false, restored - 1},
        {"full disk", false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.compressing ? "compress: " : "restore: ") + c.what);
#ifdef _WIN32
        // Windows has no device that refuses every write as a full disk does.
        if (c.stopAt < 0) continue;
#endif
        const std::string to = c.stopAt < 0 ? "/dev/full" : dir_ + "/out";
        FaultGuard guard({.writeStopsAt = c.stopAt < 0 ? -1 : c.stopAt});
        const Pass p = c.compressing ? compressFile(*state_, dir_ + "/a.wav", to)
                                     : restoreFile(*state_, dir_ + "/a.kpz", to);
        // The header goes first, so a disk full from the start fails it.
        if (c.compressing && c.stopAt < kHeader) {
            EXPECT_FALSE(p.headerOk);
            continue;
        }
        EXPECT_TRUE(p.headerOk);
        EXPECT_GE(p.writeFailures, 1);
        EXPECT_TRUE(p.cancelled);
        if (!c.compressing) {
            EXPECT_EQ(p.outcome, static_cast<int>(kpz::DecodeOutcome::Cancelled));
        } else {
            EXPECT_NE(p.outcome, static_cast<int>(kpz::EncodeOutcome::ReadError));
        }
    }
    // The same passes without a fault complete and report nothing.
    for (bool compressing : {true, false}) {
        const Pass p = compressing ? compressFile(*state_, dir_ + "/a.wav", dir_ + "/out")
                                   : restoreFile(*state_, dir_ + "/a.kpz", dir_ + "/out");
        EXPECT_EQ(p.writeFailures, 0);
        EXPECT_FALSE(p.cancelled);
        EXPECT_EQ(p.outcome, 0) << "Complete";
    }
}

// A read error at any read of the source or of the compressed file ends the pass with a
// read error, whether it hits the header, the first refill or a later one.
TEST_F(FaultTable, ReadFailsAtEveryStage) {
    const int kReadError = static_cast<int>(kpz::EncodeOutcome::ReadError);
    static_assert(static_cast<int>(kpz::EncodeOutcome::ReadError) ==
                  static_cast<int>(kpz::DecodeOutcome::ReadError));
    struct Case {
        const char* what;
        bool compressing;
        int failingRead;
        bool headerFails;
    } cases[] = {
        {"first chunk", true, 1, false},          {"second chunk", true, 2, false},
        {"third chunk", true, 3, false},          {"marker", false, 1, true},
        {"size and name length", false, 2, true}, {"stored name", false, 3, true},
        {"first refill", false, 4, false},        {"second refill", false, 5, false},
        {"third refill", false, 6, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.compressing ? "compress: " : "restore: ") + c.what);
        FaultGuard guard({.readFailsAt = c.failingRead});
        const Pass p = c.compressing ? compressFile(*state_, dir_ + "/a.wav", dir_ + "/out")
                                     : restoreFile(*state_, dir_ + "/a.kpz", dir_ + "/out");
        EXPECT_EQ(p.headerOk, !c.headerFails);
        if (!c.headerFails) {
            EXPECT_EQ(p.outcome, kReadError);
        }
    }
}

// A small file cut at each byte: a cut in the header is an unknown format, any other cut is
// damage, the end pad included.
TEST(Truncation, EveryByteOffsetOfASmallFile) {
    auto s = kpztest::makeState();
    for (size_t size : {1001ul, 2048ul}) {
        const Bytes file = kpz::compressToMemory(*s, kpztest::audioLike(size, 3), "a.wav");
        for (size_t cut = 0; cut < file.size(); ++cut) {
            SCOPED_TRACE(std::to_string(size) + " bytes cut at " + std::to_string(cut));
            const auto r = kpz::restoreFromMemory(*s, Bytes(file.begin(), file.begin() + cut));
            if (cut < kHeader) {
                EXPECT_EQ(r.header, kpz::HeaderStatus::UnknownFormat);
            } else {
                EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Damaged);
            }
        }
    }
}

// The encoder always ends the payload with the pad words after the last block's bits, so a
// payload without them has been cut, even when no data is missing.
TEST(Truncation, CutInTheEndPadIsDamage) {
    auto s = kpztest::makeState();
    for (size_t size : {0ul, 1ul, 64ul, 1001ul, 4000ul}) {
        const Bytes file = kpz::compressToMemory(*s, kpztest::audioLike(size, 5), "a.wav");
        for (size_t cut : {file.size() - 1, file.size() - 2})
            EXPECT_EQ(kpz::restoreFromMemory(*s, Bytes(file.begin(), file.begin() + cut)).outcome,
                      kpz::DecodeOutcome::Damaged)
                << size << " bytes, cut at " << cut;
    }
}
