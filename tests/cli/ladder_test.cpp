// SPDX-License-Identifier: BSD-3-Clause
// Every mode of kpz over the sizes where the code changes path: nothing, one byte, less
// than a frame, one 512 KiB buffer and a byte either side, the two-thread threshold and a
// byte either side, and a file of real music; each with and without the check value and a
// password. Every file kpz writes is compared with the one the codec makes in memory, and
// every restore with the source, so a mode that takes its own path on large files (as the
// listing once did) cannot drift from the others.
#include "check_trailer.h"
#include "codec_state.h"
#include "kpz_harness.h"
#include "memory_codec.h"
#include "password.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace kpztest {
namespace {

constexpr uint64_t kBuffer = 524288;
constexpr uint64_t kTwoThreads = 16 * kBuffer;
constexpr uint64_t kCorpus = UINT64_MAX; // the corpus file, when there is one

struct Rung {
    uint64_t size;
    bool check;
    bool password;
};

std::string rungName(const testing::TestParamInfo<Rung>& info) {
    const Rung& r = info.param;
    return (r.size == kCorpus ? std::string("Corpus") : "Bytes" + std::to_string(r.size)) +
           (r.check ? "Checked" : "Unchecked") + (r.password ? "Password" : "Plain");
}

std::vector<Rung> ladder() {
    std::vector<Rung> rungs;
    for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{4}, kBuffer - 1, kBuffer, kBuffer + 1,
                          kTwoThreads - 1, kTwoThreads, kTwoThreads + 1, kCorpus})
        for (bool check : {true, false})
            for (bool password : {false, true})
                rungs.push_back({size, check, password});
    return rungs;
}

// The smallest file of the corpus: real music, above the two-thread threshold.
std::optional<std::vector<uint8_t>> corpusFile() {
    const char* dir = std::getenv("KPZ_CORPUS_DIR");
    if (!dir) return std::nullopt;
    std::optional<fs::path> smallest;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".wav" && e.file_size() > kTwoThreads &&
            (!smallest || e.file_size() < fs::file_size(*smallest)))
            smallest = e.path();
    if (!smallest) return std::nullopt;
    return readBytes(smallest->string());
}

class Ladder : public KpzTest, public testing::WithParamInterface<Rung> {
  protected:
    void SetUp() override {
        KpzTest::SetUp();
        const Rung& r = GetParam();
        if (r.size == kCorpus) {
            auto music = corpusFile();
            if (!music) GTEST_SKIP() << "no corpus (KPZ_CORPUS_DIR)";
            source_ = std::move(*music);
        } else {
            source_ = audioLike(r.size, static_cast<uint32_t>(r.size % 1000 + 1));
        }
        writeBytes(path("a.wav"), source_);
        if (r.password) settings_.env["KPZ_PASSWORD"] = "pw";
        if (!r.check) checkOption_ = "--no-check";
    }

    // The file the codec makes in memory for source stored as name.
    std::vector<uint8_t> reference(const std::string& name) const {
        auto state = std::make_unique<kpz::CodecState>();
        const bool pw = GetParam().password;
        std::vector<uint8_t> file =
            kpz::compressToMemory(*state, source_, name, pw, pw ? kpz::passwordCodeUtf8("pw") : 0);
        if (GetParam().check) {
            kpz::ContentHash hash;
            hash.add(source_.data(), source_.size());
            uint8_t trailer[kpz::kTrailerBytes];
            kpz::encodeTrailer(hash.value(), trailer);
            file.insert(file.end(), trailer, trailer + kpz::kTrailerBytes);
        }
        return file;
    }

    // kpz with the rung's options before args (args[0] names the mode); fails the test on
    // another exit status.
    RunResult kpz(std::vector<std::string> args, RunSettings settings, int status = 0) const {
        // The check value is chosen when compressing; the other modes refuse the option.
        const bool compressing =
            args[0] != "-d" && args[0] != "-dc" && args[0] != "-t" && args[0] != "-l";
        if (compressing && !checkOption_.empty()) args.insert(args.begin(), checkOption_);
        for (const auto& [k, v] : settings_.env)
            settings.env[k] = v;
        RunResult r = run(args, settings);
        EXPECT_EQ(r.exitCode, status) << r.err;
        return r;
    }
    RunResult kpz(std::vector<std::string> args) const { return kpz(std::move(args), {}); }
    static RunSettings threads(const char* n) {
        RunSettings s;
        s.env["KPZ_THREADS"] = n;
        return s;
    }
    static std::vector<uint8_t> bytesOf(const std::string& text) {
        return std::vector<uint8_t>(text.begin(), text.end());
    }

    std::vector<uint8_t> source_;
    RunSettings settings_;
    std::string checkOption_;
};

// The same bytes whichever way kpz compresses: into a file on one thread or two, to
// standard output, from standard input, with verification.
TEST_P(Ladder, EveryWayOfCompressingWritesTheSameFile) {
    const std::vector<uint8_t> ref = reference("a.wav");
    for (const char* n : {"1", "2"}) {
        SCOPED_TRACE(std::string("KPZ_THREADS=") + n);
        kpz({"-f", "a.wav"}, threads(n));
        EXPECT_TRUE(readBytes(path("a.kpz")) == ref);
    }
    EXPECT_TRUE(bytesOf(kpz({"-c", "a.wav"}).out) == ref);
    RunSettings piped;
    piped.input = source_;
    EXPECT_TRUE(bytesOf(kpz({"--name=a.wav"}, piped).out) == ref);
    kpz({"-f", "--verify", "a.wav"});
    EXPECT_TRUE(readBytes(path("a.kpz")) == ref);
}

// Restoring to a file, to standard output, from standard input, testing and listing: all
// read the same file and agree.
TEST_P(Ladder, EveryWayOfReadingAgrees) {
    const std::vector<uint8_t> ref = reference("a.wav");
    writeBytes(path("a.kpz"), ref);
    fs::create_directory(path("out"));
    for (const char* n : {"1", "2"}) {
        SCOPED_TRACE(std::string("KPZ_THREADS=") + n);
        kpz({"-d", "-f", "-o", "out", "a.kpz"}, threads(n));
        EXPECT_TRUE(readBytes(path("out/a.wav")) == source_);
    }
    EXPECT_TRUE(bytesOf(kpz({"-dc", "a.kpz"}).out) == source_);
    RunSettings piped;
    piped.input = ref;
    EXPECT_TRUE(bytesOf(kpz({"-d"}, piped).out) == source_);
    kpz({"-t", "a.kpz"});

    std::istringstream rows(kpz({"-l", "a.kpz"}).out);
    std::string header, mark, original, compressed, ratio, check, name;
    std::getline(rows, header);
    rows >> mark >> original >> compressed >> ratio >> check >> name;
    EXPECT_EQ(mark, GetParam().password ? "?" : "-");
    EXPECT_EQ(original, std::to_string(source_.size()));
    EXPECT_EQ(compressed, std::to_string(ref.size()));
    EXPECT_EQ(check, GetParam().check ? "xxh3" : "-");
    EXPECT_EQ(name, "a.wav");
}

// --rm both ways: each input goes only once its output is proven and in place.
TEST_P(Ladder, RemovingInputsLeavesTheOtherFileWhole) {
    fs::create_directory(path("rm"));
    fs::rename(path("a.wav"), path("rm/a.wav"));
    kpz({"--rm", "rm/a.wav"});
    EXPECT_FALSE(fs::exists(path("rm/a.wav")));
    EXPECT_TRUE(readBytes(path("rm/a.kpz")) == reference("a.wav"));
    kpz({"-d", "--rm", "rm/a.kpz"});
    EXPECT_FALSE(fs::exists(path("rm/a.kpz")));
    EXPECT_TRUE(readBytes(path("rm/a.wav")) == source_);
}

// Two files in one stream, and back: each member as it would be alone.
TEST_P(Ladder, MembersFollowOneAnother) {
    writeBytes(path("b.wav"), source_);
    std::vector<uint8_t> both = reference("a.wav");
    const std::vector<uint8_t> b = reference("b.wav");
    both.insert(both.end(), b.begin(), b.end());
    const RunResult packed = kpz({"-c", "a.wav", "b.wav"});
    ASSERT_TRUE(bytesOf(packed.out) == both);
    writeBytes(path("ab.kpz"), both);
    fs::create_directory(path("m"));
    kpz({"-d", "-o", "m", "ab.kpz"});
    EXPECT_TRUE(readBytes(path("m/a.wav")) == source_);
    EXPECT_TRUE(readBytes(path("m/b.wav")) == source_);
    kpz({"-t", "ab.kpz"});
    const RunResult listed = kpz({"-l", "ab.kpz"});
    EXPECT_NE(listed.out.find("(totals, 2 files)"), std::string::npos) << listed.out;
}

INSTANTIATE_TEST_SUITE_P(Sizes, Ladder, testing::ValuesIn(ladder()), rungName);

} // namespace
} // namespace kpztest
