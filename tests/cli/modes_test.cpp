// SPDX-License-Identifier: BSD-3-Clause
// Usage errors, help and version, -o and -f, -t on good and damaged files, and -l.
#include "kpz_harness.h"
#include "version.h"

#include <cstdio>
#include <sstream>
#include <sys/stat.h>

using namespace kpztest;

namespace {

std::string text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

struct UsageCase {
    const char* label;
    std::vector<std::string> args;
};

const UsageCase kUsageErrors[] = {
    {"UnknownShort", {"-x", "a.wav"}},
    {"UnknownLong", {"--fast", "a.wav"}},
    {"TwoModes", {"-d", "-t", "a.kpz"}},
    {"ListAndDecompress", {"-l", "--decompress", "a.kpz"}},
    {"MissingOutputDir", {"a.wav", "-o"}},
    {"ValueOnFlag", {"--force=yes", "a.wav"}},
    {"VerifyWhileRestoring", {"-d", "--verify", "a.kpz"}},
    {"PromptAndPasswordFile", {"-p", "--password-file", "pw", "a.wav"}},
    {"AmbiguousAbbreviation", {"--ver", "a.wav"}},
    {"StandardInputTwice", {"-", "-"}},
    {"StdoutAndOutputDir", {"-c", "-o", ".", "a.wav"}},
    {"VerifyToStdout", {"-c", "--verify", "a.wav"}},
    {"RemoveWithStdout", {"-c", "--rm", "a.wav"}},
    {"CheckWhileTesting", {"-t", "--check", "a.kpz"}},
    {"NameForTwoFiles", {"--name=x.wav", "a.wav", "a.wav"}},
    {"RecursiveWithoutFolders", {"-r"}},
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.label;
}

class UsageErrors : public KpzTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageErrors, ExitTwoWithHintAndTouchNothing) {
    writeBytes(path("a.wav"), audioLike(5000));
    const RunResult r = run(GetParam().args);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(r.err.rfind("kpz: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("kpz --help"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(listFolder(), std::vector<std::string>{"a.wav"});
}

INSTANTIATE_TEST_SUITE_P(Cli, UsageErrors, ::testing::ValuesIn(kUsageErrors),
                         [](const auto& info) { return std::string(info.param.label); });

class Modes : public KpzTest {};

TEST_F(Modes, HelpAndVersionGoToStdout) {
    RunResult r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: kpz", 0), 0u) << r.out;
    for (const char* option : {"-d", "-t", "-l", "-o", "-f", "--verify", "-p", "--password-file",
                               "KPZ_PASSWORD", "-q", "-v", "-V"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = run({"-V"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("kpz (Brisko Packer) " BRISKO_VERSION "\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("License BSD-3-Clause"), std::string::npos);
    // No address to report bugs to until the project has a home of its own.
    EXPECT_EQ(r.out.find("Report bugs"), std::string::npos);
}

TEST_F(Modes, ExistingOutputIsRefusedUnlessForcedAndTheNextFileStillRuns) {
    const auto a = audioLike(70000, 1), b = audioLike(50001, 2);
    writeBytes(path("a.wav"), a);
    writeBytes(path("b.wav"), b);
    ::mkdir(path("packed").c_str(), 0755);
    writeBytes(path("packed/a.kpz"), {'o', 'l', 'd'});

    RunResult r = run({"-o", "packed", "a.wav", "b.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("kpz: packed/a.kpz: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
    EXPECT_EQ(text(readBytes(path("packed/a.kpz"))), "old");
    EXPECT_EQ(listFolder("packed"), (std::vector<std::string>{"a.kpz", "b.kpz"}));
    EXPECT_EQ(listFolder(), (std::vector<std::string>{"a.wav", "b.wav", "packed"}));

    r = run({"-f", "-o", "packed", "a.wav", "b.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listFolder("packed"), (std::vector<std::string>{"a.kpz", "b.kpz"}));

    // Restoring beside the compressed files, then again onto the existing outputs.
    r = run({"-d", "packed/a.kpz", "packed/b.kpz"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(path("packed/a.wav")), a);
    EXPECT_EQ(readBytes(path("packed/b.wav")), b);
    writeBytes(path("packed/a.wav"), {'k', 'e', 'e', 'p'});
    r = run({"-d", "packed/a.kpz", "packed/b.kpz"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("kpz: packed/a.wav: "), std::string::npos) << r.err;
    EXPECT_EQ(text(readBytes(path("packed/a.wav"))), "keep");
    r = run({"-d", "-f", "packed/a.kpz"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(path("packed/a.wav")), a);

    r = run({"-o", "no-such-folder", "a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no-such-folder"), std::string::npos) << r.err;
}

// Damage applied to a good compressed file, and what -t and -d must say about it.
struct DamageCase {
    const char* label;
    void (*damage)(std::vector<uint8_t>&);
    const char* message;
};

void setLe32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr const char* kDamagedText = "Compressed file is damaged or truncated!";
constexpr const char* kUnknownText = "Unknown file format!";

const DamageCase kDamage[] = {
    {"CutInPayload", [](auto& f) { f.resize(f.size() * 6 / 10); }, kDamagedText},
    {"CutAfterHeader", [](auto& f) { f.resize(9 + 5); }, kDamagedText},
    {"CutInHeader", [](auto& f) { f.resize(6); }, kUnknownText},
    {"Empty", [](auto& f) { f.clear(); }, kUnknownText},
    {"WrongMarker", [](auto& f) { f[0] = 'X'; }, kUnknownText},
    {"NameLengthOver255", [](auto& f) { setLe32(f, 5, 300); }, kUnknownText},
    {"SizeClaimsMore", [](auto& f) { setLe32(f, 1, 4 * 200000); }, kDamagedText},
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.label;
}

class Damaged : public KpzTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(Damaged, TestAndRestoreReportItAndWriteNothing) {
    writeBytes(path("x.wav"), audioLike(200000, 5));
    ASSERT_EQ(run({"x.wav"}).exitCode, 0);
    ::rename(path("x.kpz").c_str(), path("good.kpz").c_str());
    auto bytes = readBytes(path("good.kpz"));
    GetParam().damage(bytes);
    writeBytes(path("bad.kpz"), bytes);
    ::mkdir(path("out").c_str(), 0755);
    const auto before = listFolder();

    // The good file after the bad one is still handled.
    RunResult r = run({"-v", "-t", "bad.kpz", "good.kpz"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(std::string("kpz: bad.kpz: ") + GetParam().message), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kpz: good.kpz: OK"), std::string::npos) << r.err;

    r = run({"-d", "-o", "out", "bad.kpz"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_TRUE(listFolder("out").empty()) << "no partial output, no temporary file";
    EXPECT_EQ(listFolder(), before);
}

INSTANTIATE_TEST_SUITE_P(Cli, Damaged, ::testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.label); });

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string w; in >> w;)
        result.push_back(w);
    return result;
}

std::string percent(uint64_t part, uint64_t whole) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f%%", 100.0 * part / whole);
    return buffer;
}

TEST_F(Modes, ListShowsOneRowPerFileAndTotals) {
    // Compressed to more than one 512 KiB buffer: each listed member is decoded to its end,
    // through the refills a small file never needs.
    const uint64_t musicBytes = 3 * 524288 + 1;
    const std::string music = std::to_string(musicBytes);
    writeBytes(path("music.wav"), audioLike(musicBytes, 9));
    writeBytes(path("silence.raw"), {});
    ASSERT_EQ(run({"music.wav"}).exitCode, 0);
    ASSERT_EQ(run({"silence.raw"}, passwordInEnvironment("pw")).exitCode, 0);
    writeBytes(path("junk.kpz"), {'n', 'o', 'p', 'e'});
    const uint64_t musicSize = readBytes(path("music.kpz")).size();
    ASSERT_GT(musicSize, 524288u);
    const uint64_t silenceSize = readBytes(path("silence.kpz")).size();

    const RunResult r = run({"-l", "music.kpz", "junk.kpz", "silence.kpz"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("kpz: junk.kpz: Unknown file format!"), std::string::npos) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(words(line));
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Pw", "Original", "Compressed", "Ratio", "Check",
                                                 "Stored", "name"}));
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{"-", music, std::to_string(musicSize),
                                        percent(musicSize, musicBytes), "xxh3", "music.wav"}));
    // Without its password a scrambled file's end cannot be found, nor its check value.
    EXPECT_EQ(rows[2], (std::vector<std::string>{"?", "0", std::to_string(silenceSize), "--", "?",
                                                 "silence.raw"}));
    const uint64_t total = musicSize + silenceSize;
    EXPECT_EQ(rows[3],
              (std::vector<std::string>{music, std::to_string(total), percent(total, musicBytes),
                                        "(totals,", "2", "files)"}));
}

} // namespace
