// SPDX-License-Identifier: BSD-3-Clause
// A large file compressed on two threads gives the one-thread file byte for byte, fails as
// one thread fails, and runs on one thread wherever two would change what a caller sees.
#include "file_job.h"
#include "split_coder.h"
#include "split_run.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kChunk = kpz::kChunkBytes;

kpz::Replace yes(const std::string&) {
    return kpz::Replace::Yes;
}

// KPZ_THREADS=n while it lives, then 2 again (as every test here runs).
class Threads {
  public:
    explicit Threads(const char* n) { ::setenv("KPZ_THREADS", n, 1); }
    ~Threads() { ::setenv("KPZ_THREADS", "2", 1); }
};

class SplitRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
        // Other work on the machine would keep a file on one thread.
        ::setenv("KPZ_THREADS", "2", 1);
    }
    void TearDown() override {
        ::unsetenv("KPZ_THREADS");
        fs::remove_all(dir_);
    }

    // Compresses source (written to a.wav) into a.kpz; the run's outcome, and the file's
    // bytes when it was committed.
    kpz::Outcome compress(const std::vector<uint8_t>& source, bool withCheck, bool password,
                          std::vector<uint8_t>* bytes = nullptr) {
        kpztest::writeAll(dir_ + "/a.wav", source);
        kpz::CompressJob job(*state_);
        kpz::Outcome o = job.open(dir_ + "/a.wav");
        if (o.ok()) o = job.prepareOutput(dir_ + "/a.kpz", yes);
        if (o.ok()) o = job.run(password, 0x5A3C, withCheck);
        if (o.ok()) o = job.commit(false);
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

    bool twoThreadsHere() const { return kpz::twoThreadCut(*state_, 16 * kChunk) != 0; }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
};

} // namespace

TEST_F(SplitRun, TwoThreadsWriteTheOneThreadFile) {
    if (!twoThreadsHere()) GTEST_SKIP() << "one processor here: every file codes on one thread";
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
        EXPECT_EQ(kpz::twoThreadCut(*state_, c.size) != 0, c.size >= 16 * kChunk);
        std::vector<uint8_t> one, two;
        {
            Threads only("1");
            ASSERT_TRUE(compress(source, c.check, c.password, &one).ok());
        }
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
    if (!twoThreadsHere()) GTEST_SKIP() << "one processor here: every file codes on one thread";
    const uint64_t size = 18 * kChunk + 777;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 6);
    std::vector<uint8_t> whole;
    ASSERT_TRUE(compress(source, true, false, &whole).ok());
    fs::remove(dir_ + "/a.kpz");
    // Where the second thread starts writing: after the first part's coded bytes.
    int16_t side = 0, right = 0;
    uint64_t firstBytes = 0;
    const uint64_t cut = kpz::twoThreadCut(*state_, size);
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
            o = job.open(dir_ + "/a.wav");
            if (o.ok()) o = job.prepareOutput(dir_ + "/a.kpz", yes);
            if (o.ok()) o = job.run(false, 0, true);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_EQ(o.problem, kpz::Problem::WriteFailed);
        EXPECT_EQ(o.error, EFBIG); // the reason reaches the message
        EXPECT_EQ(leftOver(), std::vector<std::string>{"a.wav"});
    }
}

TEST_F(SplitRun, WhatACallerCouldSeeKeepsOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "one processor here: every file codes on one thread";
    const uint64_t size = 40 * kChunk;
    // Hooks run after every 512 KiB flush on the caller's thread, and may cancel there.
    state_->hooks.showProgress = [](kpz::Direction) {};
    EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    state_->hooks = {};
    state_->hooks.reportWriteFailure = [] {};
    EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    state_->hooks = {};
    // Pieces of another size code another end of payload.
    state_->bufferLength = kpz::kBufferLength / 2;
    EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    state_->bufferLength = kpz::kBufferLength;
    // A fault plan counts the one thread's reads and writes.
    kpz::FaultPlan plan;
    plan.writeStopsAt = 1 << 20;
    kpz::installFaultPlan(plan);
    EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    kpz::clearFaultPlan();
    {
        Threads only("1");
        EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    }
    {
        // Files handled side by side, one per processor.
        std::vector<std::unique_ptr<kpz::BusyThread>> others;
        for (unsigned k = 0; k < kpz::usableProcessors(); ++k)
            others.push_back(std::make_unique<kpz::BusyThread>());
        EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
        others.pop_back();
        EXPECT_NE(kpz::twoThreadCut(*state_, size), 0u);
    }
    // One processor to run on: a second thread would only take turns with the first.
    cpu_set_t saved, one;
    ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(kpz::twoThreadCut(*state_, size), 0u);
    ASSERT_EQ(::sched_setaffinity(0, sizeof saved, &saved), 0);
    EXPECT_NE(kpz::twoThreadCut(*state_, size), 0u);
}

TEST_F(SplitRun, ACancelFoundSetEndsTheRunAsOnOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "one processor here: every file codes on one thread";
    kpztest::writeAll(dir_ + "/a.wav", kpztest::audioLike(20 * kChunk, 7));
    kpz::CompressJob job(*state_);
    ASSERT_TRUE(job.open(dir_ + "/a.wav").ok());
    ASSERT_TRUE(job.prepareOutput(dir_ + "/a.kpz", yes).ok());
    state_->cancelRequested = true;
    EXPECT_EQ(job.run(false, 0, true).problem, kpz::Problem::Cancelled);
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
            {
                Threads only("1");
                ASSERT_TRUE(compress(source, check, password, &one).ok());
            }
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
            const kpz::TwoThreadResult r = kpz::codeOnTwoThreads(run, cancel, false);
            ASSERT_TRUE(out.close());
            EXPECT_EQ(r.problem, kpz::Problem::None);
            EXPECT_EQ(r.outputEnd, one.size());
            EXPECT_TRUE(kpztest::readAll(dir_ + "/b.kpz") == one);
        }
}
