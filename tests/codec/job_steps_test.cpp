// SPDX-License-Identifier: BSD-3-Clause
// The jobs' own rules, whoever calls them: steps in order, no step after a failure, the
// replace question, and a source removed only while its name still holds it.
#include "file_job.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {

kpz::Replace yes(const std::string&) {
    return kpz::Replace::Yes;
}

class JobSteps : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        state_ = kpztest::makeState();
        source_ = kpztest::audioLike(5000, 3);
        kpztest::writeAll(dir_ + "/a.wav", source_);
    }
    // A compression of a.wav to a.kpz, run and proven; the job stays for its finish.
    void compress(kpz::CompressJob& job) {
        ASSERT_TRUE(job.open(dir_ + "/a.wav").ok());
        ASSERT_TRUE(job.prepareOutput(dir_ + "/a.kpz", yes).ok());
        ASSERT_TRUE(job.run(true).ok());
        ASSERT_TRUE(job.verify().ok());
    }

    std::string dir_;
    std::unique_ptr<kpz::CodecState> state_;
    std::vector<uint8_t> source_;
};

} // namespace

TEST_F(JobSteps, AStepOutOfOrderOrAfterAFailureIsRefused) {
    using kpz::Problem;
    struct Case {
        const char* label;
        std::function<kpz::Outcome(kpz::CompressJob&)> steps;
    };
    const std::string a = dir_ + "/a.wav", out = dir_ + "/a.kpz";
    const Case cases[] = {
        {"RunBeforeOpen", [](kpz::CompressJob& j) { return j.run(); }},
        {"RunBeforeTheOutput",
         [&](kpz::CompressJob& j) {
             (void)j.open(a);
             return j.run();
         }},
        {"FinishBeforeRun",
         [&](kpz::CompressJob& j) {
             (void)j.open(a);
             (void)j.prepareOutput(out, yes);
             return j.finish({});
         }},
        {"AfterAFailedOpen",
         [&](kpz::CompressJob& j) {
             (void)j.open(dir_ + "/missing.wav");
             return j.prepareOutput(out, yes);
         }},
        {"AfterARefusedOutput",
         [&](kpz::CompressJob& j) {
             (void)j.open(a);
             (void)j.prepareOutput(a, yes); // its own source
             return j.run();
         }},
        {"OpenTwice",
         [&](kpz::CompressJob& j) {
             (void)j.open(a);
             return j.open(a);
         }},
        {"RemoveBeforeRun",
         [&](kpz::CompressJob& j) {
             (void)j.open(a);
             return j.finish({.removeSource = true});
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        kpz::CompressJob job(*state_);
        const kpz::Outcome o = c.steps(job);
        EXPECT_EQ(o.problem, Problem::StepOutOfOrder);
        // The refusal names the step asked for and where the job stood.
        EXPECT_FALSE(o.detail.empty());
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(fs::exists(a));
    }
}

TEST_F(JobSteps, TheRefusalNamesTheStepAndTheStage) {
    kpz::CompressJob job(*state_);
    ASSERT_TRUE(job.open(dir_ + "/a.wav").ok());
    EXPECT_EQ(job.finish({}).detail, "finish with the source open");
    EXPECT_EQ(job.run().detail, "run after a failed step");
}

TEST_F(JobSteps, TheReplaceQuestionDecides) {
    struct Case {
        kpz::Replace answer;
        kpz::Problem problem;
    };
    for (const Case& c : {Case{kpz::Replace::Yes, kpz::Problem::None},
                          Case{kpz::Replace::No, kpz::Problem::OutputExists},
                          Case{kpz::Replace::Cancel, kpz::Problem::Cancelled}}) {
        kpztest::writeAll(dir_ + "/a.kpz", {1, 2, 3});
        kpz::CompressJob job(*state_);
        ASSERT_TRUE(job.open(dir_ + "/a.wav").ok());
        int asked = 0;
        const kpz::Outcome o = job.prepareOutput(dir_ + "/a.kpz", [&](const std::string&) {
            ++asked;
            return c.answer;
        });
        EXPECT_EQ(o.problem, c.problem);
        EXPECT_EQ(asked, 1);
        if (o.ok()) {
            ASSERT_TRUE(job.run().ok());
            ASSERT_TRUE(job.finish({}).ok());
        }
        EXPECT_EQ(kpztest::readAll(dir_ + "/a.kpz").size() == 3, !o.ok());
    }
}

// The source goes only while its name holds the very file that was read.
TEST_F(JobSteps, RemovingTheSourceChecksItIsTheSameFile) {
    struct Case {
        const char* label;
        std::function<void()> meanwhile;
        kpz::Problem problem;
    };
    const std::string a = dir_ + "/a.wav";
    // A save in place, as an editor makes it: the same size, and the modification time
    // put back to its very nanosecond or to another moment of the same second.
    auto rewriteInPlace = [&](bool sameNanosecond) {
        const fs::file_time_type before = fs::last_write_time(a);
        std::FILE* f = std::fopen(a.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fputc(source_[0] ^ 0xFF, f);
        std::fclose(f);
        fs::file_time_type after = before;
        if (!sameNanosecond) {
            using namespace std::chrono;
            const auto second = floor<seconds>(before.time_since_epoch());
            const auto fraction = before.time_since_epoch() - second;
            after = fs::file_time_type(
                second + (fraction == milliseconds(500) ? milliseconds(250) : milliseconds(500)));
        }
        fs::last_write_time(a, after);
    };
    const Case cases[] = {
        {"Unchanged", [] {}, kpz::Problem::None},
        {"RewrittenInPlaceWithinTheSecond", [&] { rewriteInPlace(false); },
         kpz::Problem::SourceChanged},
        {"RewrittenInPlaceKeepingItsTimes", [&] { rewriteInPlace(true); },
         kpz::Problem::SourceChanged},
#ifndef _WIN32
        // Windows refuses to replace a file the job still holds open.
        {"ReplacedByAnotherFile",
         [&] {
             kpztest::writeAll(dir_ + "/new.wav", source_);
             fs::rename(dir_ + "/new.wav", a);
         },
         kpz::Problem::SourceChanged},
#endif
        {"GrownInPlace",
         [&] {
             std::FILE* f = std::fopen(a.c_str(), "ab");
             std::fputc(1, f);
             std::fclose(f);
         },
         kpz::Problem::SourceChanged},
        {"Gone", [&] { fs::remove(a); }, kpz::Problem::SourceChanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
#ifdef _WIN32
        // Windows refuses to replace a file that is open, as the job's source is here.
        if (std::string(c.label) == "ReplacedByAnotherFile") continue;
#endif
        kpztest::writeAll(a, source_);
        kpz::CompressJob job(*state_);
        compress(job);
        c.meanwhile();
        EXPECT_EQ(job.finish({.copyAttributes = true, .removeSource = true}).problem, c.problem);
        EXPECT_EQ(fs::exists(a), c.problem != kpz::Problem::None && std::string(c.label) != "Gone");
    }
}
