// SPDX-License-Identifier: BSD-3-Clause
// Failures while coding: reads and writes that fail part-way, damaged and truncated files.
#include "container.h"
#include "decoder.h"
#include "encoder.h"
#include "file_io.h"
#include "file_job.h"
#include "memory_codec.h"
#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

using Bytes = std::vector<uint8_t>;

namespace {

struct FaultGuard {
    explicit FaultGuard(const kpz::FaultPlan& plan) { kpz::installFaultPlan(plan); }
    ~FaultGuard() { kpz::clearFaultPlan(); }
};

struct Events {
    int failures = 0;
    std::vector<uint32_t> progressAt; // destWritten seen by each progress call
};

void watch(kpz::CodecState& s, Events& e) {
    s.hooks.reportWriteFailure = [&e, &s] {
        ++e.failures;
        EXPECT_FALSE(s.cancelRequested) << "the failure is reported before the flag is set";
    };
    s.hooks.showProgress = [&e, &s](kpz::Direction) { e.progressAt.push_back(s.destWritten); };
}

kpz::Replace replace(const std::string&) {
    return kpz::Replace::Yes;
}

// Compresses a file through the job, as the programs do; the output is committed when the
// run succeeds.
kpz::Problem compressFile(kpz::CodecState& s, const std::string& from, const std::string& to) {
    kpz::CompressJob job(s);
    kpz::Outcome o = job.open(from);
    if (o.ok()) o = job.prepareOutput(to, replace);
    if (o.ok()) o = job.run();
    if (o.ok()) o = job.finish({});
    return o.problem;
}

// Restores a compressed file through the job.
kpz::Problem restoreFile(kpz::CodecState& s, const std::string& from, const std::string& to) {
    kpz::RestoreJob job(s);
    kpz::Outcome o = job.open(from);
    if (o.ok()) o = job.readHeader();
    if (o.ok()) o = job.prepareOutput(to, replace);
    if (o.ok()) o = job.run();
    if (o.ok()) o = job.finish({});
    return o.problem;
}

} // namespace

TEST(Faults, ShortWriteIsReportedThenCancelsAndStillCounts) {
    const std::string dir = kpztest::makeTempDir();
    kpztest::writeAll(dir + "/a.wav", kpztest::randomBytes(3 * 524288, 5));
    auto s = kpztest::makeState();
    Events e;
    watch(*s, e);
    FaultGuard guard({.writeStopsAt = 700000});
    // Coding goes on to the end of the chunk, and the next read finds the flag.
    EXPECT_EQ(compressFile(*s, dir + "/a.wav", dir + "/a.kpz"), kpz::Problem::WriteFailed);
    EXPECT_GE(e.failures, 1);
    ASSERT_FALSE(e.progressAt.empty());
    // Every flush is counted in full even when it was stored short.
    EXPECT_EQ(e.progressAt.back() % 524288, 14u);
    // What was written is dropped.
    EXPECT_FALSE(std::filesystem::exists(dir + "/a.kpz"));
}

TEST(Faults, ShortWriteInTheLastFlushStillFailsTheFile) {
    const std::string dir = kpztest::makeTempDir();
    kpztest::writeAll(dir + "/a.wav", kpztest::audioLike(1000));
    auto s = kpztest::makeState();
    Events e;
    watch(*s, e);
    FaultGuard guard({.writeStopsAt = 20});
    // The coder completes; the failure in its last flush still fails the file.
    EXPECT_EQ(compressFile(*s, dir + "/a.wav", dir + "/a.kpz"), kpz::Problem::WriteFailed);
    EXPECT_EQ(e.failures, 1);
}

TEST(Faults, SourceReadErrorOnAnyChunk) {
    const std::string dir = kpztest::makeTempDir();
    kpztest::writeAll(dir + "/a.wav", kpztest::audioLike(3 * 524288));
    for (int failingRead : {1, 3}) {
        auto s = kpztest::makeState();
        FaultGuard guard({.readFailsAt = failingRead});
        EXPECT_EQ(compressFile(*s, dir + "/a.wav", dir + "/a.kpz"), kpz::Problem::SourceRead)
            << "read " << failingRead;
    }
}

TEST(Faults, CompressedReadErrorOnALaterRefillIsReported) {
    const std::string dir = kpztest::makeTempDir();
    auto s = kpztest::makeState();
    kpztest::writeAll(dir + "/a.kpz",
                      kpz::compressToMemory(*s, kpztest::randomBytes(4 * 524288, 3), "a.wav"));
    // Header reads: marker, fixed part, name; then the first refill, then the second.
    FaultGuard guard({.readFailsAt = 5});
    EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::SourceRead);
}

TEST(Faults, TruncatedOrShortenedPayloadIsDamaged) {
    const std::string dir = kpztest::makeTempDir();
    auto s = kpztest::makeState();
    const Bytes source = kpztest::audioLike(3 * 524288 + 1001, 4);
    const Bytes file = kpz::compressToMemory(*s, source, "a.wav");
    const size_t cuts[] = {file.size() - 6, file.size() / 2, 14 + 524288, 14 + 10, 15};
    for (size_t cut : cuts) {
        kpztest::writeAll(dir + "/a.kpz", Bytes(file.begin(), file.begin() + cut));
        EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::Damaged)
            << "cut at " << cut;
    }
    // Only part of the end pad missing: no data is lost, but the file was cut all the same.
    kpztest::writeAll(dir + "/a.kpz", Bytes(file.begin(), file.end() - 2));
    EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::Damaged);
    // Bytes after the end pad are trailing data, warned about by the programs.
    Bytes longer = file;
    longer.insert(longer.end(), {1, 2, 3});
    kpztest::writeAll(dir + "/a.kpz", longer);
    EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::None);
    EXPECT_TRUE(kpztest::readAll(dir + "/out") == source);
}

TEST(Faults, RestoreWriteFailureStopsBeforeTheNextBlock) {
    const std::string dir = kpztest::makeTempDir();
    auto s = kpztest::makeState();
    kpztest::writeAll(dir + "/a.kpz",
                      kpz::compressToMemory(*s, kpztest::audioLike(3 * 524288), "a.wav"));
    Events e;
    watch(*s, e);
    FaultGuard guard({.writeStopsAt = 1000});
    EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::WriteFailed);
    EXPECT_EQ(e.failures, 1);
    EXPECT_EQ(e.progressAt, std::vector<uint32_t>{524288});
}

TEST(Faults, PayloadEndingExactlyAtAChunkRestores) {
    const std::string dir = kpztest::makeTempDir();
    auto s = kpztest::makeState();
    const Bytes source(104857u * 64u, 0); // payload of exactly 524,288 bytes
    kpztest::writeAll(dir + "/a.kpz", kpz::compressToMemory(*s, source, "a.wav"));
    EXPECT_EQ(restoreFile(*s, dir + "/a.kpz", dir + "/out"), kpz::Problem::None);
    EXPECT_TRUE(kpztest::readAll(dir + "/out") == source);
}

TEST(Faults, ImplausibleStoredSizes) {
    // The smallest payloads: the end pad alone, then 40 bits per 64 source bytes.
    EXPECT_EQ(kpz::minimumPayloadBytes(0), 4u);
    EXPECT_EQ(kpz::minimumPayloadBytes(1), 8u);
    EXPECT_EQ(kpz::minimumPayloadBytes(64 * 2), 2u * (80 / 16 + 2));
    auto s = kpztest::makeState();
    for (size_t size : {0ul, 1ul, 64ul, 65ul, 1000ul}) {
        const Bytes zeros(size, 0); // the most compressible source of its size
        EXPECT_EQ(kpz::compressToMemory(*s, zeros, "a.wav").size() - 14,
                  kpz::minimumPayloadBytes(uint32_t(size)));
    }
    EXPECT_GT(kpz::minimumPayloadBytes(0xFFFFFFFFu), 0xFFFFFFFFull / 64 * 5);
}

// Damaged files of every kind end in a clean outcome: no crash, no read outside the
// buffers, and a completed restore always has exactly the stored size.
TEST(Faults, MutatedFilesEndCleanly) {
    auto s = kpztest::makeState();
    const Bytes source = kpztest::audioLike(600000, 11);
    const Bytes good = kpz::compressToMemory(*s, source, "a.wav");
    std::mt19937 rng(2024);
    int damaged = 0, complete = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        Bytes file = good;
        switch (round % 4) {
        case 0: // flipped bytes anywhere, the header included
            for (int k = 0; k < 4; ++k)
                file[rng() % file.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1: // cut anywhere
            file.resize(rng() % file.size());
            break;
        case 2: // a stored size that does not match the payload
            for (int k = 1; k < 5; ++k)
                file[k] = static_cast<uint8_t>(rng());
            break;
        default: // garbage payload of random length
            file.resize(14);
            for (uint32_t k = rng() % 200000; k > 0; --k)
                file.push_back(static_cast<uint8_t>(rng()));
        }
        const auto r = kpz::restoreFromMemory(*s, file);
        if (r.header != kpz::HeaderStatus::Ok) {
            ++refused;
        } else if (r.outcome == kpz::DecodeOutcome::Complete) {
            ++complete;
            EXPECT_EQ(r.data.size(), r.info.originalSize);
        } else {
            ++damaged;
            EXPECT_EQ(r.outcome, kpz::DecodeOutcome::Damaged);
        }
    }
    EXPECT_GT(damaged, 0);
    EXPECT_GT(complete, 0);
}
