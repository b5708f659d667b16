// SPDX-License-Identifier: BSD-3-Clause
// Standard input and output, the check value as the tool shows it, and the options other
// compressors have taught scripts to use: -k, --rm, -r, abbreviated long options.
#include "kpz_harness.h"

#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace kpztest;

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

class Pipes : public KpzTest {
  protected:
    void SetUp() override {
        KpzTest::SetUp();
        music_ = audioLike(150001, 4);
        writeBytes(path("a.wav"), music_);
        ASSERT_EQ(run({"a.wav"}).exitCode, 0);
        packed_ = readBytes(path("a.kpz"));
        fs::remove(path("a.kpz"));
    }
    std::vector<uint8_t> music_;
    std::vector<uint8_t> packed_; // what `kpz a.wav` writes
};

TEST_F(Pipes, EveryDirectionGivesTheBytesOfTheFileRun) {
    struct Case {
        const char* label;
        std::vector<std::string> args;
        bool feedPacked; // standard input holds a.kpz (else a.wav)
        bool feed;       // anything on standard input at all
        bool expectPacked;
    };
    const Case cases[] = {
        {"CompressFileToStdout", {"-c", "a.wav"}, false, false, true},
        {"CompressStdinNamed", {"--name=a.wav"}, false, true, true},
        {"CompressDashNamed", {"-c", "--name", "a.wav", "-"}, false, true, true},
        {"RestoreFileToStdout", {"-dc", "a.kpz"}, false, false, false},
        {"RestoreStdin", {"-d"}, true, true, false},
        {"RestoreDash", {"--decompress", "-"}, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        writeBytes(path("a.kpz"), packed_);
        RunSettings settings;
        if (c.feed) settings.input = c.feedPacked ? packed_ : music_;
        const RunResult r = run(c.args, settings);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(bytesOf(r.out) == (c.expectPacked ? packed_ : music_));
        // Nothing is written beside the inputs, and they are kept.
        EXPECT_EQ(listFolder(), (std::vector<std::string>{"a.kpz", "a.wav"}));
    }
}

TEST_F(Pipes, StandardInputStoresItsNameAndTestsFromAPipe) {
    RunSettings in;
    in.input = music_;
    const RunResult packed = run({}, in);
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    writeBytes(path("x.kpz"), bytesOf(packed.out));
    ASSERT_EQ(run({"-d", "x.kpz"}).exitCode, 0);
    EXPECT_EQ(readBytes(path("stdin")), music_);

    in.input = bytesOf(packed.out);
    const RunResult tested = run({"-tv", "-"}, in);
    EXPECT_EQ(tested.exitCode, 0) << tested.err;
    EXPECT_NE(tested.err.find("kpz: -: OK"), std::string::npos) << tested.err;
}

TEST_F(Pipes, CompressedDataNeverGoesToATerminalUnlessForced) {
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "forced" : "refused");
        int terminal = -1;
        std::vector<std::string> args{"-c", "a.wav"};
        if (force) args.insert(args.begin(), "-f");
        const pid_t pid = startOnTerminal(args, terminal);
        ASSERT_GT(pid, 0);
        std::string seen;
        char buffer[65536];
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
            seen.append(buffer, static_cast<size_t>(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(terminal);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), force ? 0 : 1);
        EXPECT_EQ(seen.find("not written to a terminal") != std::string::npos, !force) << seen;
        EXPECT_EQ(seen.size() > packed_.size(), force);
    }
}

TEST_F(Pipes, CheckValueCatchesDamageAndWrongPasswords) {
    const RunSettings secret = passwordInEnvironment("secret");
    ASSERT_EQ(run({"a.wav"}, secret).exitCode, 0); // the check value is the default
    const auto checked = readBytes(path("a.kpz"));
    ASSERT_EQ(checked.size(), packed_.size());
    auto damaged = checked;
    damaged[damaged.size() / 2] ^= 0x04; // a residual bit: only the check value can tell
    auto garbage = packed_;
    garbage.insert(garbage.end(), {'j', 'u', 'n', 'k'});

    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        const char* password;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"Intact", checked, "secret", 0, "OK (check value matched)"},
        {"Damaged", damaged, "secret", 1, "Wrong password, or compressed file is damaged"},
        {"WrongPassword", checked, "wrong", 1, "Wrong password, or compressed file is damaged"},
        {"TrailingGarbage", garbage, "", 0, "warning: trailing data ignored (4 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove(path("a.wav"));
        writeBytes(path("f.kpz"), c.file);
        const RunSettings settings = passwordInEnvironment(c.password);
        const RunResult tested = run({"-tv", "f.kpz"}, settings);
        EXPECT_EQ(tested.exitCode, c.exitCode);
        EXPECT_NE(tested.err.find(c.message), std::string::npos) << tested.err;
        // Restoring writes nothing that does not match, and warns like the test.
        const RunResult restored = run({"-dv", "f.kpz"}, settings);
        EXPECT_EQ(restored.exitCode, c.exitCode);
        const std::string said =
            c.exitCode == 0 && c.file == checked ? "(check value matched)" : c.message;
        EXPECT_NE(restored.err.find(said), std::string::npos) << restored.err;
        EXPECT_EQ(fs::exists(path("a.wav")), c.exitCode == 0);
        if (c.exitCode == 0) {
            EXPECT_EQ(readBytes(path("a.wav")), music_);
        }
    }

    // -l shows which files carry a check value.
    writeBytes(path("plain.wav"), music_);
    ASSERT_EQ(run({"--no-check", "plain.wav"}).exitCode, 0);
    const RunResult listed = run({"-l", "plain.kpz", "f.kpz"});
    std::istringstream lines(listed.out);
    std::string header, plain, withCheck;
    std::getline(lines, header);
    std::getline(lines, plain);
    std::getline(lines, withCheck);
    EXPECT_NE(header.find("Check"), std::string::npos) << listed.out;
    EXPECT_EQ(plain.find("xxh3"), std::string::npos) << listed.out;
    writeBytes(path("f.kpz"), checked);
    EXPECT_NE(run({"-l", "f.kpz"}, secret).out.find("xxh3"), std::string::npos);
}

TEST_F(Pipes, RemovingInputsOnlyAfterACompleteOutput) {
    struct Case {
        const char* label;
        std::vector<std::string> args;
        bool blockOutput; // a file already holds the output's name
        int exitCode;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"Compress", {"--rm", "a.wav"}, false, 0, {"a.kpz"}},
        {"CompressOutputExists", {"--rm", "a.wav"}, true, 1, {"a.kpz", "a.wav"}},
        {"KeepIsAccepted", {"-k", "a.wav"}, false, 0, {"a.kpz", "a.wav"}},
        {"Restore", {"-d", "--rm", "p.kpz"}, false, 0, {"a.wav"}},
        {"RestoreOutputExists", {"-d", "--rm", "p.kpz"}, true, 1, {"a.wav", "p.kpz"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (const auto& name : listFolder())
            fs::remove(path(name));
        const bool restoring = c.args[0] == "-d";
        if (restoring) {
            writeBytes(path("p.kpz"), packed_);
            if (c.blockOutput) writeBytes(path("a.wav"), {1, 2, 3});
        } else {
            writeBytes(path("a.wav"), music_);
            if (c.blockOutput) writeBytes(path("a.kpz"), {1, 2, 3});
        }
        const RunResult r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(listFolder(), c.left);
        if (c.exitCode == 0) {
            EXPECT_EQ(readBytes(path(restoring ? "a.wav" : "a.kpz")), restoring ? music_ : packed_);
        }
    }
}

TEST_F(Pipes, RecursiveRunsKeepTheTreeBelowTheOutputFolder) {
    fs::create_directories(path("album/disc 2"));
    fs::create_directories(path("out"));
    writeBytes(path("album/one.wav"), audioLike(9000, 1));
    writeBytes(path("album/disc 2/two.wav"), audioLike(7001, 2));
    writeBytes(path("album/old.kpz"), packed_);
    fs::create_symlink(path("a.wav"), path("album/link.wav"));

    RunResult r = run({"-r", "album", "-o", "out"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listFolder("out"), (std::vector<std::string>{"disc 2", "one.kpz"}));
    EXPECT_EQ(listFolder("out/disc 2"), (std::vector<std::string>{"two.kpz"}));

    // Restoring takes only the .kpz files, beside themselves without -o.
    r = run({"-dr", "out"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readBytes(path("out/disc 2/two.wav")), audioLike(7001, 2));
    EXPECT_EQ(readBytes(path("out/one.wav")), audioLike(9000, 1));
    // Without -r a folder is still refused.
    r = run({"album"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;
}

TEST_F(Pipes, LongOptionsMayBeShortenedWhileUnambiguous) {
    writeBytes(path("a.kpz"), packed_);
    const RunResult r = run({"--decomp", "--stdo", "a.kpz"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(bytesOf(r.out) == music_);
}

} // namespace
