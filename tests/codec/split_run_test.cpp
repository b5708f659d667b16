// SPDX-License-Identifier: BSD-3-Clause
// A large file compressed on two threads gives the one-thread file byte for byte, fails as
// one thread fails, shows its progress and takes a cancel on the caller's thread, and runs
// on one thread wherever two would code other bytes. The front ends' choice of a thread
// count is tested here too.
#include "check_trailer.h"
#include "container.h"
#include "file_io.h"
#include "file_job.h"
#include "split_coder.h"
#include "split_run.h"
#include "test_support.h"
#include "threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <sys/resource.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kChunk = kpz::kChunkBytes;

kpz::Replace yes(const std::string&) {
    return kpz::Replace::Yes;
}

class SplitRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Compresses source (written to a.wav) into a.kpz; the run's outcome, and the file's
    // bytes when it was committed.
    kpz::Outcome compress(const std::vector<uint8_t>& source, bool withCheck, bool password,
                          std::vector<uint8_t>* bytes = nullptr, unsigned threads = 2) {
        kpztest::writeAll(dir_ + "/a.wav", source);
        kpz::CompressJob job(*state_);
        job.setPassword({password, 0x5A3C});
        job.setThreads(threads);
        kpz::Outcome o = job.open(dir_ + "/a.wav");
        if (o.ok()) o = job.prepareOutput(dir_ + "/a.kpz", yes);
        if (o.ok()) o = job.run(withCheck);
        if (o.ok()) o = job.finish({});
        if (o.ok() && bytes) {
            *bytes = kpztest::readAll(dir_ + "/a.kpz");
            EXPECT_EQ(job.compressedSize(), bytes->size());
        }
        return o;
    }

    // Every name left in the test's folder.
    std::vector<std::string> leftOver() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        return names;
    }

    bool twoThreadsHere() const { return kpz::twoThreadCut(*state_, 16 * kChunk, 2) != 0; }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
};

} // namespace

TEST_F(SplitRun, TwoThreadsWriteTheOneThreadFile) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    struct Case {
        uint64_t size;
        bool check, password;
        uint32_t seed;
    };
    // Around the smallest file that is split, odd and block-edge tails, a whole number of
    // chunks, noise (wide blocks); each option on and off.
    const Case cases[] = {
        {16 * kChunk - 1, true, false, 1},    {16 * kChunk, true, false, 1},
        {16 * kChunk + 1, false, false, 2},   {16 * kChunk + 3, true, true, 3},
        {17 * kChunk + 4097, false, true, 4}, {20 * kChunk, true, false, 5},
        {21 * kChunk + 65, false, false, 0},  {21 * kChunk + 65, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + ", check " + std::to_string(c.check) +
                     ", password " + std::to_string(c.password) + ", seed " +
                     std::to_string(c.seed));
        const std::vector<uint8_t> source =
            c.seed == 0 ? kpztest::randomBytes(c.size, 9) : kpztest::audioLike(c.size, c.seed);
        EXPECT_EQ(kpz::twoThreadCut(*state_, c.size, 2) != 0, c.size >= 16 * kChunk);
        std::vector<uint8_t> one, two;
        ASSERT_TRUE(compress(source, c.check, c.password, &one, 1).ok());
        ASSERT_TRUE(compress(source, c.check, c.password, &two).ok());
        EXPECT_TRUE(one == two);
        // The one-thread file is the format's, by the plainest coder.
        const size_t payloadStart = kpz::kHeaderFixedBytes + 5; // the stored name "a.wav"
        const std::vector<uint8_t> payload =
            kpztest::referencePayload(source, c.password, c.password ? 0x5A3C : 0);
        ASSERT_EQ(two.size(), payloadStart + payload.size() + (c.check ? kpz::kTrailerBytes : 0));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), two.begin() + payloadStart));
    }
}

TEST_F(SplitRun, AFailedWriteOnEitherThreadLeavesNothing) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    const uint64_t size = 18 * kChunk + 777;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 6);
    std::vector<uint8_t> whole;
    ASSERT_TRUE(compress(source, true, false, &whole).ok());
    fs::remove(dir_ + "/a.kpz");
    // Where the second thread starts writing: after the first part's coded bytes.
    int16_t side = 0, right = 0;
    uint64_t firstBytes = 0;
    const uint64_t cut = kpz::twoThreadCut(*state_, size, 2);
    std::vector<int16_t> samples(kpz::kBufferLength);
    for (uint64_t at = 0; at < cut; at += kChunk) {
        std::memcpy(samples.data(), source.data() + at, kChunk);
        firstBytes += kpz::codedBlockBytes(samples.data(), kpz::kBufferLength, side, right);
    }
    const uint64_t secondStart = kpz::kHeaderFixedBytes + 5 + firstBytes;

    // A file size limit makes every write past it fail, as a full disk does.
    const rlim_t limits[] = {kChunk,             // both threads fail
                             secondStart - 1,    // the first part's last write
                             secondStart + 1000, // the second part's first write
                             whole.size() - 8,   // the check trailer
                             whole.size() - 20}; // the end pad
    for (rlim_t limit : limits) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        kpztest::writeAll(dir_ + "/a.wav", source);
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit capped = saved;
        capped.rlim_cur = limit;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &capped), 0);
        kpz::Outcome o;
        {
            kpz::CompressJob job(*state_);
            job.setThreads(2);
            o = job.open(dir_ + "/a.wav");
            if (o.ok()) o = job.prepareOutput(dir_ + "/a.kpz", yes);
            if (o.ok()) o = job.run(true);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(o.problem, kpz::Problem::WriteFailed);
        EXPECT_EQ(o.error, EFBIG); // the reason reaches the message
        EXPECT_EQ(leftOver(), std::vector<std::string>{"a.wav"});
    }
}

TEST_F(SplitRun, WhatWouldCodeOtherBytesKeepsOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    const uint64_t size = 40 * kChunk;
    // The caller's count decides first.
    EXPECT_EQ(kpz::twoThreadCut(*state_, size, 1), 0u);
    EXPECT_EQ(kpz::twoThreadCut(*state_, size, 0), 0u);
    // Pieces of another size code another end of payload.
    state_->bufferLength = kpz::kBufferLength / 2;
    EXPECT_EQ(kpz::twoThreadCut(*state_, size, 2), 0u);
    state_->bufferLength = kpz::kBufferLength;
    // A fault plan counts the one thread's reads and writes.
    kpz::FaultPlan plan;
    plan.writeStopsAt = 1 << 20;
    kpz::installFaultPlan(plan);
    EXPECT_EQ(kpz::twoThreadCut(*state_, size, 2), 0u);
    kpz::clearFaultPlan();
    EXPECT_NE(kpz::twoThreadCut(*state_, size, 2), 0u);
}

// The hooks a caller installs run on its own thread while two threads code: progress
// after each piece, up to the whole source, and a cancel set there ends the run.
TEST_F(SplitRun, TheCallersHooksRunOnItsThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    const uint64_t size = 24 * kChunk + 5;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 8);
    std::vector<uint8_t> one;
    ASSERT_TRUE(compress(source, true, false, &one, 1).ok());
    for (const bool cancelMidway : {false, true}) {
        SCOPED_TRACE(cancelMidway ? "cancelled" : "to the end");
        fs::remove(dir_ + "/a.kpz");
        const auto caller = std::this_thread::get_id();
        uint64_t calls = 0, lastSeen = 0;
        bool otherThread = false, backwards = false;
        state_->hooks.showProgress = [&](kpz::Direction) {
            ++calls;
            otherThread = otherThread || std::this_thread::get_id() != caller;
            backwards = backwards || state_->sourceProcessed < lastSeen;
            lastSeen = state_->sourceProcessed;
            if (cancelMidway && calls == 3) state_->cancelRequested = true;
        };
        std::vector<uint8_t> two;
        const kpz::Outcome o = compress(source, true, false, &two, 2);
        state_->hooks = {};
        EXPECT_GE(calls, 3u);
        EXPECT_FALSE(otherThread);
        EXPECT_FALSE(backwards);
        if (cancelMidway) {
            EXPECT_EQ(o.problem, kpz::Problem::Cancelled);
            EXPECT_EQ(leftOver(), std::vector<std::string>{"a.wav"});
        } else {
            ASSERT_TRUE(o.ok());
            EXPECT_TRUE(two == one);
            EXPECT_LE(lastSeen, size);
        }
    }
}

// The front ends' choice: two threads only while a processor is free for the second, beside
// the program's other busy threads and, unless two are asked for, the machine's other work.
TEST(ThreadChoice, ASecondThreadOnlyOnAFreeProcessor) {
    using kpz::ThreadSetting;
    struct Case {
        ThreadSetting setting;
        unsigned busy, processors, others, threads;
    };
    const Case cases[] = {
        {ThreadSetting::Auto, 1, 2, 0, 2}, {ThreadSetting::Auto, 1, 1, 0, 1},
        {ThreadSetting::Auto, 1, 2, 1, 1}, {ThreadSetting::Auto, 2, 4, 1, 2},
        {ThreadSetting::Auto, 2, 2, 0, 1}, {ThreadSetting::Auto, 0, 2, 0, 2},
        {ThreadSetting::Two, 1, 2, 5, 2},  {ThreadSetting::Two, 2, 2, 0, 1},
        {ThreadSetting::Two, 1, 1, 0, 1},  {ThreadSetting::One, 1, 8, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kpz::threadsForFile(c.setting, c.busy, c.processors, c.others), c.threads)
            << static_cast<int>(c.setting) << " busy " << c.busy << " processors " << c.processors
            << " others " << c.others;
    // The probe the front ends ask: one processor to run on, and a second thread would only
    // take turns with the first.
    cpu_set_t saved, one;
    ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(kpz::usableProcessors(), 1u);
    ASSERT_EQ(::sched_setaffinity(0, sizeof saved, &saved), 0);
    EXPECT_EQ(kpz::usableProcessors(), static_cast<unsigned>(CPU_COUNT(&saved)));
}

TEST_F(SplitRun, ACancelFoundSetEndsTheRunAsOnOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    kpztest::writeAll(dir_ + "/a.wav", kpztest::audioLike(20 * kChunk, 7));
    kpz::CompressJob job(*state_);
    job.setThreads(2);
    ASSERT_TRUE(job.open(dir_ + "/a.wav").ok());
    ASSERT_TRUE(job.prepareOutput(dir_ + "/a.kpz", yes).ok());
    state_->cancelRequested = true;
    EXPECT_EQ(job.run(true).problem, kpz::Problem::Cancelled);
    EXPECT_FALSE(state_->cancelRequested);
    EXPECT_EQ(leftOver(), std::vector<std::string>{"a.wav"});
}

TEST_F(SplitRun, TheCallingThreadTakesTheSecondPartOverWhenItGetsThereFirst) {
    // Without the second thread the calling thread goes on from the first part into the
    // second, hashing what no width pass hashed: still the one-thread file.
    for (const bool check : {false, true})
        for (const bool password : {false, true}) {
            SCOPED_TRACE("check " + std::to_string(check) + ", password " +
                         std::to_string(password));
            const uint64_t size = 17 * kChunk + 4099;
            const std::vector<uint8_t> source = kpztest::audioLike(size, 11);
            std::vector<uint8_t> one;
            ASSERT_TRUE(compress(source, check, password, &one, 1).ok());
            const size_t payloadStart = kpz::kHeaderFixedBytes + 5;
            kpz::File in, out;
            ASSERT_TRUE(in.openRead(dir_ + "/a.wav"));
            ASSERT_TRUE(out.create(dir_ + "/b.kpz"));
            ASSERT_EQ(out.write(one.data(), payloadStart), payloadStart);
            const kpz::TwoThreadRun run{in,           out,
                                        size,         kpz::splitPoint(size, 680),
                                        payloadStart, password ? uint16_t{0x5A3C} : uint16_t{0},
                                        check};
            const bool cancel = false;
            const kpz::TwoThreadResult r = kpz::codeOnTwoThreads(run, cancel, {}, false);
            ASSERT_TRUE(out.close());
            EXPECT_EQ(r.problem, kpz::Problem::None);
            EXPECT_EQ(r.outputEnd, one.size());
            EXPECT_TRUE(kpztest::readAll(dir_ + "/b.kpz") == one);
        }
}

namespace {

// A rewrite of the source in place that one of the two reads of a piece sees and the other
// does not: the first read of the bytes at kRewriteAt gets kRewriteMask XORed into them.
std::atomic<uint64_t> rewriteAt{0};
std::atomic<bool> rewritten{false};
constexpr uint8_t kRewriteMask = 0x01;

void rewriteOnce(uint64_t offset, void* bytes, uint32_t count) {
    const uint64_t at = rewriteAt.load();
    if (at < offset || at >= offset + count || rewritten.exchange(true)) return;
    static_cast<uint8_t*>(bytes)[at - offset] ^= kRewriteMask;
}

} // namespace

// A source rewritten in place while it is coded, where no block width changes: whichever
// thread reads the new bytes, the file written restores to the bytes its coders read (the
// unchanged ones, read again on one thread, or the changed ones where only the coding
// thread read them), never a first part of one version joined to a second part or a check
// value of another.
TEST_F(SplitRun, ASourceRewrittenBetweenTheTwoReadsIsCodedOnOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional writes from threads on this system";
    const uint64_t size = 20 * kChunk + 321;
    const uint64_t cut = kpz::twoThreadCut(*state_, size, 2);
    ASSERT_NE(cut, 0u);
    // Noise: every block is at its widest, so flipping a bit keeps every width. The bytes
    // changed: the first part's last frame (the second part's prediction) and one inside it.
    const std::vector<uint8_t> source = kpztest::randomBytes(size, 13);
    for (const uint64_t at : {cut - 4, cut - 1, 5 * kChunk + 1000})
        for (const bool check : {true, false}) {
            SCOPED_TRACE("byte " + std::to_string(at) + ", check " + std::to_string(check));
            std::vector<uint8_t> changed = source;
            changed[at] ^= kRewriteMask;
            int16_t side = 0, right = 0, side2 = 0, right2 = 0;
            std::vector<int16_t> a(cut / 2), b(cut / 2);
            std::memcpy(a.data(), source.data(), cut);
            std::memcpy(b.data(), changed.data(), cut);
            ASSERT_EQ(kpz::codedBlockBytes(a.data(), static_cast<int32_t>(cut / 2), side, right),
                      kpz::codedBlockBytes(b.data(), static_cast<int32_t>(cut / 2), side2, right2));
            std::vector<uint8_t> one, oneChanged, two;
            ASSERT_TRUE(compress(changed, check, false, &oneChanged, 1).ok());
            ASSERT_TRUE(compress(source, check, false, &one, 1).ok());
            rewriteAt = at;
            rewritten = false;
            kpz::FaultPlan plan;
            plan.rewriteRead = rewriteOnce;
            kpz::installFaultPlan(plan);
            const kpz::Outcome o = compress(source, check, false, &two, 2);
            kpz::clearFaultPlan();
            EXPECT_TRUE(rewritten);
            ASSERT_TRUE(o.ok());
            // Without the check value, a change that the calling thread read and coded is
            // kept, as one thread that read it would keep it: the file is then the changed
            // source's. A second part placed or predicted from the other read would make it
            // neither.
            EXPECT_TRUE(two == one || (!check && two == oneChanged));

            // The calling thread alone, reading the first part a second time for the check
            // value: the run leaves nothing past the header and hands the file back to be
            // coded on one thread. Without the check value it reads each byte once.
            kpz::File in, out;
            ASSERT_TRUE(in.openRead(dir_ + "/a.wav"));
            ASSERT_TRUE(out.create(dir_ + "/b.kpz"));
            const size_t payloadStart = kpz::kHeaderFixedBytes + 5;
            ASSERT_EQ(out.write(one.data(), payloadStart), payloadStart);
            const kpz::TwoThreadRun run{in, out, size, cut, payloadStart, 0, check};
            const bool cancel = false;
            rewritten = false;
            kpz::installFaultPlan(plan);
            const kpz::TwoThreadResult r = kpz::codeOnTwoThreads(run, cancel, {}, false);
            kpz::clearFaultPlan();
            EXPECT_EQ(r.problem, kpz::Problem::None);
            EXPECT_EQ(r.ran, !check);
            EXPECT_EQ(out.length(), check ? int64_t(payloadStart) : int64_t(one.size()));
        }
}
