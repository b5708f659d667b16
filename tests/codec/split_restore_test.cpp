// SPDX-License-Identifier: BSD-3-Clause
// A large member restored on two threads gives the one-thread restore's verdict and bytes
// whatever the file holds (a password, a check value or none, damage, more members, data
// after them) and whatever fails (a read or a write on either thread, a cancel, a source
// rewritten during the run).
#include "check_trailer.h"
#include "container.h"
#include "file_io.h"
#include "file_job.h"
#include "split_coder.h"
#include "split_restore.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kChunk = kpz::kChunkBytes;
constexpr uint64_t kThreshold = 96 * kChunk; // the smallest member restored on two threads
constexpr uint16_t kCode = 0x5A3C;

kpz::Replace yes(const std::string&) {
    return kpz::Replace::Yes;
}

// Positional reads of a whole piece or more: only the two-thread restore makes them.
std::atomic<int> pieceReads{0};
void countPieceReads(uint64_t, void*, uint32_t count) {
    if (count >= 128 * 1024) ++pieceReads;
}

// What a restore of every member of a file gave.
struct Restored {
    kpz::Problem problem = kpz::Problem::None; // the first failure, or None
    int error = 0;
    std::vector<std::vector<uint8_t>> outputs; // each member restored, in order
    std::vector<bool> checked;
    uint64_t trailing = 0;
    bool leftOutput = false; // a failed member's output was left under its name
    bool twoThreads = false; // positional reads of whole pieces were made

    bool sameAs(const Restored& o) const {
        return problem == o.problem && error == o.error && outputs == o.outputs &&
               checked == o.checked && trailing == o.trailing && !leftOutput && !o.leftOutput;
    }
};

class SplitRestore : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
    }
    void TearDown() override {
        kpz::clearFaultPlan();
        fs::remove_all(dir_);
    }

    // The compressed bytes of source, made on one thread.
    std::vector<uint8_t> compressed(const std::vector<uint8_t>& source, bool check, bool password) {
        kpztest::writeAll(dir_ + "/a.wav", source);
        kpz::CompressJob job(*state_);
        job.setPassword({password, kCode});
        kpz::Outcome o = job.open(dir_ + "/a.wav");
        if (o.ok()) o = job.prepareOutput(dir_ + "/c.kpz", yes);
        if (o.ok()) o = job.run(check);
        if (o.ok()) o = job.finish({});
        EXPECT_TRUE(o.ok());
        fs::remove(dir_ + "/a.wav");
        std::vector<uint8_t> bytes = kpztest::readAll(dir_ + "/c.kpz");
        fs::remove(dir_ + "/c.kpz");
        return bytes;
    }

    // Restores every member of the file holding bytes on threads threads, with the plan's
    // faults (and a file size limit, when given) in place.
    Restored restore(const std::vector<uint8_t>& bytes, unsigned threads,
                     kpz::Password password = {}, kpz::FaultPlan plan = {},
                     rlim_t sizeLimit = RLIM_INFINITY) {
        const std::string path = dir_ + "/in.kpz";
        kpztest::writeAll(path, bytes);
        Restored r;
        pieceReads = 0;
        if (!plan.rewriteRead) plan.rewriteRead = countPieceReads;
        kpz::installFaultPlan(plan);
        struct rlimit saved {};
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit capped = saved;
        capped.rlim_cur = sizeLimit;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &capped), 0);
        {
            kpz::RestoreJob job(*state_);
            job.setPassword(password);
            job.setThreads(threads);
            job.takeEveryMember();
            kpz::Outcome o = job.open(path);
            if (o.ok()) o = job.readHeader();
            for (int member = 0; o.ok(); ++member) {
                const std::string name = "out" + std::to_string(member);
                o = job.prepareOutputIn(dir_, yes, name);
                if (o.ok()) o = job.run();
                if (o.ok()) o = job.finish({});
                if (!o.ok()) {
                    r.leftOutput = fs::exists(dir_ + "/" + name);
                    break;
                }
                r.outputs.push_back(kpztest::readAll(dir_ + "/" + name));
                fs::remove(dir_ + "/" + name);
                r.checked.push_back(job.checked());
                if (!job.moreMembers()) {
                    r.trailing = job.trailingBytes();
                    break;
                }
                o = job.nextMember();
            }
            r.problem = o.problem;
            r.error = o.error;
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        kpz::clearFaultPlan();
        r.twoThreads = pieceReads > 0;
        return r;
    }

    // Restores bytes on one thread and on two, and expects the same outcome; returns the
    // two-thread one.
    Restored restoreBoth(const std::vector<uint8_t>& bytes, kpz::Password password = {},
                         kpz::FaultPlan plan = {}, rlim_t sizeLimit = RLIM_INFINITY) {
        const Restored one = restore(bytes, 1, password, plan, sizeLimit);
        const Restored two = restore(bytes, 2, password, plan, sizeLimit);
        EXPECT_FALSE(one.twoThreads);
        EXPECT_TRUE(two.sameAs(one))
            << "one thread: problem " << int(one.problem) << ", " << one.outputs.size()
            << " members; two threads: problem " << int(two.problem) << ", " << two.outputs.size()
            << " members";
        return two;
    }

    bool twoThreadsHere() const { return kpz::restoreCut(kThreshold, 2) != 0; }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
};

constexpr size_t kPayloadStart = kpz::kHeaderFixedBytes + 5; // the stored name "a.wav"

} // namespace

TEST_F(SplitRestore, TwoThreadsRestoreTheOneThreadBytes) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    struct Case {
        uint64_t size;
        bool check, password;
        uint32_t seed; // 0: noise, every block at its widest
    };
    // Around the smallest member split, a last block cut short, odd tails, noise.
    const Case cases[] = {
        {kThreshold - 1, true, false, 1},
        {kThreshold, true, false, 2},
        {kThreshold + 1, false, true, 3},
        {kThreshold + 37, true, true, 4},
        {kThreshold + 2 * kChunk + 1, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + ", check " + std::to_string(c.check) +
                     ", password " + std::to_string(c.password));
        const std::vector<uint8_t> source =
            c.seed == 0 ? kpztest::randomBytes(c.size, 9) : kpztest::audioLike(c.size, c.seed);
        const std::vector<uint8_t> file = compressed(source, c.check, c.password);
        const Restored r = restoreBoth(file, {c.password, kCode});
        EXPECT_EQ(r.problem, kpz::Problem::None);
        EXPECT_EQ(r.twoThreads, c.size >= kThreshold);
        ASSERT_EQ(r.outputs.size(), 1u);
        EXPECT_TRUE(r.outputs[0] == source);
        EXPECT_EQ(r.checked[0], c.check);
        // A wrong password gives the one-thread verdict too: with the check value a
        // mismatch and no output, without it what the scrambled payload decodes to.
        if (c.password) {
            const Restored wrong = restoreBoth(file, {true, kCode ^ 0x0101});
            if (c.check) {
                EXPECT_NE(wrong.problem, kpz::Problem::None);
            }
        }
    }
}

// Damage anywhere in the payload: the verdict (or, without a check value, the bytes the
// damaged payload restores to) is the one thread's.
TEST_F(SplitRestore, ADamagedPayloadGivesTheOneThreadVerdict) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const std::vector<uint8_t> source = kpztest::audioLike(kThreshold + 4 * kChunk + 3, 21);
    for (const bool check : {true, false}) {
        const std::vector<uint8_t> good = compressed(source, check, false);
        const size_t payload = good.size() - kPayloadStart - (check ? kpz::kTrailerBytes : 0);
        struct Damage {
            const char* what;
            size_t at; // byte changed (XOR 0x10), or the length cut to when cut is set
            bool cut;
        };
        const Damage damages[] = {
            {"a residual in the first part", kPayloadStart + payload / 10 + 1, false},
            {"a block in the second part", kPayloadStart + payload * 9 / 10, false},
            {"the payload cut in the second part", kPayloadStart + payload * 8 / 10, true},
            {"the end pad cut", kPayloadStart + payload - 1, true},
        };
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(d.what) + (check ? ", check" : ", no check"));
            std::vector<uint8_t> bad = good;
            if (d.cut)
                bad.resize(d.at);
            else
                bad[d.at] ^= 0x10;
            const Restored r = restoreBoth(bad);
            EXPECT_TRUE(r.twoThreads);
            if (check || d.cut) {
                EXPECT_NE(r.problem, kpz::Problem::None);
            }
        }
    }
}

// Members one after another, large and small, with and without the check value and a
// password, then data that is no member: each member as one thread restores it. A file
// whose last member has no check trailer while the first has one restores its first
// member on one thread after all (the first thread did not hash what it wrote).
TEST_F(SplitRestore, EveryMemberOfAFileAsOneThreadRestoresIt) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const std::vector<uint8_t> a = kpztest::audioLike(kThreshold + 2 * kChunk + 5, 31);
    const std::vector<uint8_t> b = kpztest::audioLike(3 * kChunk + 2, 32);
    const std::vector<uint8_t> c = kpztest::audioLike(2 * kChunk + 64, 33);
    for (const bool lastChecked : {true, false}) {
        SCOPED_TRACE(lastChecked ? "last member checked" : "last member unchecked");
        std::vector<uint8_t> file = compressed(a, true, true);
        const std::vector<uint8_t> mb = compressed(b, false, true);
        const std::vector<uint8_t> mc = compressed(c, lastChecked, true);
        file.insert(file.end(), mb.begin(), mb.end());
        file.insert(file.end(), mc.begin(), mc.end());
        const std::string junk = "no member here";
        file.insert(file.end(), junk.begin(), junk.end());
        const Restored r = restoreBoth(file, {true, kCode});
        EXPECT_TRUE(r.twoThreads);
        EXPECT_EQ(r.problem, kpz::Problem::None);
        ASSERT_EQ(r.outputs.size(), 3u);
        EXPECT_TRUE(r.outputs[0] == a && r.outputs[1] == b && r.outputs[2] == c);
        EXPECT_EQ(r.checked, (std::vector<bool>{true, false, lastChecked}));
        EXPECT_EQ(r.trailing, junk.size());
    }
}

// A read or a write that fails on either thread, or both: the one-thread verdict, the
// system's reason for a write, and nothing left.
TEST_F(SplitRestore, AFailedReadOrWriteOnEitherThreadGivesTheOneThreadVerdict) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const uint64_t size = kThreshold + 6 * kChunk + 11;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 41);
    const std::vector<uint8_t> file = compressed(source, true, false);
    const uint64_t cut = kpz::restoreCut(size, 2);
    const size_t payload = file.size() - kPayloadStart - kpz::kTrailerBytes;
    struct Fault {
        const char* what;
        int64_t readsFailFrom; // -1: reads succeed
        rlim_t sizeLimit;      // RLIM_INFINITY: writes succeed
        kpz::Problem problem;
    };
    const Fault faults[] = {
        {"a read in the first part", int64_t(kPayloadStart + payload / 4), RLIM_INFINITY,
         kpz::Problem::SourceRead},
        {"a read in the second part", int64_t(kPayloadStart + payload * 9 / 10), RLIM_INFINITY,
         kpz::Problem::SourceRead},
        {"a read of the check trailer", int64_t(file.size() - 4), RLIM_INFINITY,
         kpz::Problem::SourceRead},
        {"writes on both threads", -1, 1000, kpz::Problem::WriteFailed},
        {"the first part's last write", -1, cut - 1, kpz::Problem::WriteFailed},
        {"the second part's first write", -1, cut + 1000, kpz::Problem::WriteFailed},
        {"the last write", -1, size - 1, kpz::Problem::WriteFailed},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        kpz::FaultPlan plan;
        plan.readsFailFrom = f.readsFailFrom;
        const Restored r = restoreBoth(file, {}, plan, f.sizeLimit);
        EXPECT_TRUE(r.twoThreads);
        EXPECT_EQ(r.problem, f.problem);
        if (f.problem == kpz::Problem::WriteFailed) {
            EXPECT_EQ(r.error, EFBIG);
        }
        EXPECT_TRUE(r.outputs.empty());
    }
}

namespace {

// A rewrite of the compressed file in place that only one thread's reads see: the calling
// thread's, or the other's.
std::thread::id callingThread;
bool callerSeesIt = false;
uint64_t rewriteAt = 0;
std::atomic<int> rewrites{0};

void rewriteForOneThread(uint64_t offset, void* bytes, uint32_t count) {
    countPieceReads(offset, bytes, count);
    if ((std::this_thread::get_id() == callingThread) != callerSeesIt) return;
    if (rewriteAt < offset || rewriteAt >= offset + count) return;
    static_cast<uint8_t*>(bytes)[rewriteAt - offset] ^= 0x04;
    ++rewrites;
}

} // namespace

// The first part read differently by the two threads: the reads disagree, and the member is
// restored again on one thread, which gives the file's bytes. Only where the calling thread
// saw the change and went on alone into the rest (the other thread still in its pass) is
// the restore the changed file's, as one thread that read the change would give it.
TEST_F(SplitRestore, ASourceRewrittenDuringTheRunIsRestoredOnOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const uint64_t size = kThreshold + 4 * kChunk + 7;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 51);
    // The first part alone codes to the same blocks, followed by the 4-byte end pad.
    const uint64_t cut = kpz::restoreCut(size, 2);
    const std::vector<uint8_t> firstPart(source.begin(), source.begin() + cut);
    const size_t lastBlock = compressed(firstPart, false, false).size() - 4 - 3;
    for (const bool check : {true, false}) {
        const std::vector<uint8_t> file = compressed(source, check, false);
        // Early in the first part, and in its last blocks (the frame the rest starts from).
        for (const size_t at : {kPayloadStart + 1000, lastBlock})
            for (const bool caller : {false, true}) {
                SCOPED_TRACE("byte " + std::to_string(at) + (check ? ", check" : ", no check") +
                             (caller ? ", seen by the calling thread" : ", seen by the other"));
                std::vector<uint8_t> changed = file;
                changed[at] ^= 0x04;
                const Restored asChanged = caller ? restore(changed, 1) : Restored{};
                callingThread = std::this_thread::get_id();
                callerSeesIt = caller;
                rewriteAt = at;
                rewrites = 0;
                kpz::FaultPlan plan;
                plan.rewriteRead = rewriteForOneThread;
                const Restored r = restore(file, 2, {}, plan);
                const bool restoredSource = r.problem == kpz::Problem::None &&
                                            r.outputs.size() == 1 && r.outputs[0] == source;
                if (caller) {
                    EXPECT_TRUE(restoredSource || r.sameAs(asChanged));
                } else {
                    EXPECT_TRUE(restoredSource);
                }
            }
    }
}

// The hooks run on the caller's thread, progress never goes back, and a cancel set there
// (or before the run) ends the run as on one thread.
TEST_F(SplitRestore, TheCallersHooksRunOnItsThreadAndACancelEndsTheRun) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const uint64_t size = kThreshold + 8 * kChunk + 5;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 61);
    const std::vector<uint8_t> file = compressed(source, true, false);
    for (const int cancelAt : {0, 1, 3}) { // 0: never; 1: set before the run
        SCOPED_TRACE("cancel at " + std::to_string(cancelAt));
        const auto caller = std::this_thread::get_id();
        int calls = 0;
        uint32_t lastSeen = 0;
        bool otherThread = false, backwards = false;
        if (cancelAt == 1) state_->cancelRequested = true;
        state_->hooks.showProgress = [&](kpz::Direction) {
            ++calls;
            otherThread = otherThread || std::this_thread::get_id() != caller;
            backwards = backwards || state_->destWritten < lastSeen;
            lastSeen = state_->destWritten;
            if (calls == cancelAt) state_->cancelRequested = true;
        };
        const Restored r = restore(file, 2);
        state_->hooks = {};
        EXPECT_TRUE(r.twoThreads || cancelAt == 1);
        EXPECT_FALSE(otherThread);
        EXPECT_FALSE(backwards);
        EXPECT_FALSE(state_->cancelRequested);
        if (cancelAt != 0) {
            EXPECT_EQ(r.problem, kpz::Problem::Cancelled);
            EXPECT_TRUE(r.outputs.empty() && !r.leftOutput);
        } else {
            EXPECT_EQ(r.problem, kpz::Problem::None);
            EXPECT_GE(calls, 3);
            EXPECT_LE(lastSeen, size);
        }
    }
}

// Without the second thread the calling thread goes on from the first part into the rest,
// its own hash covering everything it wrote when it kept one.
TEST_F(SplitRestore, TheCallingThreadRestoresTheRestWhenItGetsThereFirst) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const uint64_t size = 17 * kChunk + 4099;
    const std::vector<uint8_t> source = kpztest::audioLike(size, 71);
    for (const bool password : {false, true})
        for (const bool hashed : {false, true}) {
            SCOPED_TRACE("password " + std::to_string(password) + ", hashed " +
                         std::to_string(hashed));
            kpztest::writeAll(dir_ + "/in.kpz", compressed(source, hashed, password));
            kpz::File in, out;
            ASSERT_TRUE(in.openRead(dir_ + "/in.kpz"));
            ASSERT_TRUE(out.create(dir_ + "/out"));
            const kpz::TwoThreadRestore run{in,
                                            out,
                                            kPayloadStart,
                                            size,
                                            kpz::splitPoint(size, 640),
                                            password ? kCode : uint16_t{0},
                                            state_->outputBuffer,
                                            reinterpret_cast<uint16_t*>(state_->sampleBuffer),
                                            hashed};
            const bool cancel = false;
            const kpz::TwoThreadRestoreResult r = kpz::restoreOnTwoThreads(run, cancel, {}, false);
            ASSERT_TRUE(out.close());
            EXPECT_TRUE(r.ran);
            EXPECT_EQ(r.problem, kpz::Problem::None);
            EXPECT_EQ(r.hashConfirmed, hashed);
            EXPECT_EQ(kPayloadStart + r.payloadLength + (hashed ? kpz::kTrailerBytes : 0),
                      in.length());
            EXPECT_TRUE(kpztest::readAll(dir_ + "/out") == source);
        }
}

// Real music, when the corpus folder is given (KPZ_CORPUS_DIR): its smallest file that is
// restored on two threads.
TEST_F(SplitRestore, ACorpusFileRestoresAsOnOneThread) {
    if (!twoThreadsHere()) GTEST_SKIP() << "no positional reads and writes from threads here";
    const char* dir = std::getenv("KPZ_CORPUS_DIR");
    if (!dir) GTEST_SKIP() << "KPZ_CORPUS_DIR is not set";
    fs::path chosen;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".wav" && e.file_size() >= kThreshold &&
            (chosen.empty() || e.file_size() < fs::file_size(chosen)))
            chosen = e.path();
    if (chosen.empty()) GTEST_SKIP() << "no .wav file of 8 MiB or more in " << dir;
    SCOPED_TRACE(chosen.string());
    const std::vector<uint8_t> source = kpztest::readAll(chosen.string());
    const Restored r = restoreBoth(compressed(source, true, false));
    EXPECT_TRUE(r.twoThreads);
    ASSERT_EQ(r.outputs.size(), 1u);
    EXPECT_TRUE(r.outputs[0] == source);
}
