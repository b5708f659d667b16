// SPDX-License-Identifier: BSD-3-Clause
// Compress and restore through the real binary: sizes around the 512 KiB buffer, empty and
// odd-length files, and each way of giving a password.
#include "kpz_harness.h"

#include <sys/stat.h>

using namespace kpztest;

namespace {

enum class PasswordVia { None, Environment, File };

struct RoundTripCase {
    const char* label;
    size_t size;
    PasswordVia password;
    bool verify;
};

constexpr size_t kBuffer = 524288;

const RoundTripCase kRoundTrips[] = {
    {"Empty", 0, PasswordVia::None, false},
    {"OneByte", 1, PasswordVia::None, true},
    {"OddLength", 100001, PasswordVia::Environment, false},
    {"SeveralBuffers", 3 * kBuffer + 777, PasswordVia::None, true},
    {"SeveralBuffersPasswordFile", 2 * kBuffer + 3, PasswordVia::File, true},
    {"ExactBuffer", kBuffer, PasswordVia::Environment, false},
};

const std::string kPassword = "Tr0ub4dor&3";

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.label;
}

class RoundTrip : public KpzTest, public ::testing::WithParamInterface<RoundTripCase> {
  protected:
    // Arguments and settings that give the password through the chosen channel.
    void givePassword(PasswordVia via, std::vector<std::string>& args, RunSettings& settings) {
        if (via == PasswordVia::Environment) {
            settings.env["KPZ_PASSWORD"] = kPassword;
        } else if (via == PasswordVia::File) {
            // Only the first line counts.
            writeBytes(path("pw.txt"), {kPassword.begin(), kPassword.end()});
            auto bytes = readBytes(path("pw.txt"));
            const std::string rest = "\nnot part of it\n";
            bytes.insert(bytes.end(), rest.begin(), rest.end());
            writeBytes(path("pw.txt"), bytes);
            args.insert(args.begin(), {"--password-file", "pw.txt"});
        }
    }
};

TEST_P(RoundTrip, RestoresExactBytesUnderStoredName) {
    const RoundTripCase& c = GetParam();
    const auto data = audioLike(c.size, 7);
    writeBytes(path("take.wav"), data);

    std::vector<std::string> args{"take.wav"};
    if (c.verify) args.insert(args.begin(), "--verify");
    RunSettings settings;
    givePassword(c.password, args, settings);
    RunResult r = run(args, settings);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readBytes(path("take.wav")), data) << "the source must stay untouched";

    const auto packed = readBytes(path("take.kpz"));
    ASSERT_GE(packed.size(), 17u);
    EXPECT_EQ(packed[0], c.password == PasswordVia::None ? 'C' : '?');
    EXPECT_EQ(std::string(packed.begin() + 9, packed.begin() + 17), "take.wav");

    ::mkdir(path("out").c_str(), 0755);
    if (c.password != PasswordVia::None) {
        const std::vector<std::string> refused[] = {{"-d", "-o", "out", "take.kpz"},
                                                    {"-t", "take.kpz"}};
        for (const auto& refusedArgs : refused) {
            r = run(refusedArgs);
            EXPECT_EQ(r.exitCode, 1) << refusedArgs[0];
            EXPECT_NE(r.err.find("take.kpz: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("password"), std::string::npos) << r.err;
            EXPECT_TRUE(listFolder("out").empty());
        }
    }

    // Restore with the password given the other way: both ways must yield the same code.
    std::vector<std::string> restoreArgs{"-d", "-o", "out", "take.kpz"};
    RunSettings restoreSettings;
    givePassword(c.password == PasswordVia::File          ? PasswordVia::Environment
                 : c.password == PasswordVia::Environment ? PasswordVia::File
                                                          : PasswordVia::None,
                 restoreArgs, restoreSettings);
    r = run(restoreArgs, restoreSettings);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listFolder("out"), std::vector<std::string>{"take.wav"});
    EXPECT_EQ(readBytes(path("out/take.wav")), data);

    r = run({"-t", "take.kpz"}, restoreSettings.env.empty() ? settings : restoreSettings);
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, RoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.label); });

class Passwords : public KpzTest {};

TEST_F(Passwords, OnlyTheFirstSixteenCharactersCount) {
    const auto data = audioLike(40000, 3);
    writeBytes(path("a.wav"), data);
    RunResult r = run({"a.wav"}, passwordInEnvironment("abcdefghijklmnopTAIL"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("first 16 characters"), std::string::npos) << r.err;

    ::mkdir(path("out").c_str(), 0755);
    r = run({"-d", "-o", "out", "a.kpz"}, passwordInEnvironment("abcdefghijklmnop"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(path("out/a.wav")), data);
}

TEST_F(Passwords, PromptWithoutTerminalFailsAtOnce) {
    writeBytes(path("a.wav"), audioLike(1000));
    // The harness runs kpz in a session of its own, so there is no terminal to ask on.
    const RunResult r = run({"-p", "a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no terminal"), std::string::npos) << r.err;
    EXPECT_EQ(listFolder(), std::vector<std::string>{"a.wav"});
}

TEST_F(Passwords, UnreadableOrEmptyPasswordFileIsAnError) {
    writeBytes(path("a.wav"), audioLike(1000));
    writeBytes(path("empty.txt"), {});
    for (const char* file : {"missing.txt", "empty.txt"}) {
        const RunResult r = run({"--password-file", file, "a.wav"});
        EXPECT_EQ(r.exitCode, 1) << file;
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(listFolder(), (std::vector<std::string>{"a.wav", "empty.txt"})) << file;
    }
}

} // namespace
