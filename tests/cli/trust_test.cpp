// SPDX-License-Identifier: BSD-3-Clause
// What kpz believes and what it removes: wrong passwords and damage never pass, every
// member of a file is read, and --rm takes an input away only after a proven output.
#include "kpz_harness.h"

#include "file_job.h"
#include "memory_codec.h"
#include "password.h"

#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace kpztest;

namespace {

class Trust : public KpzTest {
  protected:
    void SetUp() override {
        KpzTest::SetUp();
        music_ = audioLike(3001, 11);
        other_ = audioLike(777, 12);
        writeBytes(path("a.wav"), music_);
        writeBytes(path("b.bin"), other_);
    }
    // Removes everything in the test folder, then writes the named files.
    void only(const std::map<std::string, std::vector<uint8_t>>& files) {
        for (const auto& name : listFolder())
            fs::remove_all(path(name));
        for (const auto& [name, bytes] : files)
            writeBytes(path(name), bytes);
    }

    std::vector<uint8_t> music_, other_;
};

// A file scrambled with any code but the right one: with a check value, its restore is
// never believed, whatever the code.
TEST_F(Trust, NoWrongPasswordPassesACheckedFile) {
    const RunSettings secret = passwordInEnvironment("secret");
    writeBytes(path("t.raw"), audioLike(400, 3));
    ASSERT_EQ(run({"t.raw"}, secret).exitCode, 0);
    const auto right = readBytes(path("t.kpz"));
    const uint16_t rightCode = kpz::passwordCode("secret");
    // The file as scrambled with code c, read with "secret": the same as reading the right
    // file with a wrong password, for every code in one run of kpz.
    ::mkdir(path("w").c_str(), 0755);
    const uint32_t step = 7; // about 9,400 codes, odd so every bit pattern is met
    int files = 0;
    for (uint32_t c = 1; c < 65536; c += step) {
        if (c == rightCode) continue;
        auto bytes = right;
        // Payload words are XORed with the code: undo the right one, apply this one.
        const uint16_t change = static_cast<uint16_t>(c ^ rightCode);
        const size_t payloadStart = 9 + right[5]; // marker, size, name length, name
        for (size_t at = payloadStart; at + 1 < right.size() - 16; at += 2) {
            bytes[at] ^= static_cast<uint8_t>(change & 0xFF);
            bytes[at + 1] ^= static_cast<uint8_t>(change >> 8);
        }
        writeBytes(path("w/" + std::to_string(c) + ".kpz"), bytes);
        ++files;
    }
    ::mkdir(path("out").c_str(), 0755);
    // The folder rather than its files: a command line of every name is too long for some
    // systems.
    const RunResult tested = run({"-t", "-q", "-r", "w"}, secret);
    EXPECT_EQ(tested.exitCode, 1);
    size_t refused = 0;
    for (size_t at = tested.err.find("Wrong password"); at != std::string::npos;
         at = tested.err.find("Wrong password", at + 1))
        ++refused;
    EXPECT_EQ(refused, static_cast<size_t>(files));
    const RunResult restored = run({"-d", "-q", "-r", "-o", "out", "w"}, secret);
    EXPECT_EQ(restored.exitCode, 1);
    for (const auto& entry : fs::recursive_directory_iterator(path("out")))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

// Several files compressed into one stream come back as several files.
TEST_F(Trust, EveryMemberIsRead) {
    const RunResult packed = run({"-c", "a.wav", "b.bin"});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    const std::vector<uint8_t> stream(packed.out.begin(), packed.out.end());
    std::vector<uint8_t> both = music_;
    both.insert(both.end(), other_.begin(), other_.end());

    only({{"ab.kpz", stream}});
    const RunResult toStdout = run({"-dc", "ab.kpz"});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(std::vector<uint8_t>(toStdout.out.begin(), toStdout.out.end()), both);
    RunSettings piped;
    piped.input = stream;
    const RunResult fromPipe = run({"-d"}, piped);
    EXPECT_EQ(std::vector<uint8_t>(fromPipe.out.begin(), fromPipe.out.end()), both);

    const RunResult tested = run({"-tv", "ab.kpz"});
    EXPECT_EQ(tested.exitCode, 0);
    EXPECT_NE(tested.err.find("OK (check value matched)\nkpz: ab.kpz: OK (check value matched)"),
              std::string::npos)
        << tested.err;
    const RunResult listed = run({"-l", "ab.kpz"});
    EXPECT_NE(listed.out.find("a.wav"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("b.bin"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("(totals, 2 files)"), std::string::npos) << listed.out;

    const RunResult restored = run({"-d", "--rm", "ab.kpz"});
    EXPECT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(listFolder(), (std::vector<std::string>{"a.wav", "b.bin"}));
    EXPECT_EQ(readBytes(path("a.wav")), music_);
    EXPECT_EQ(readBytes(path("b.bin")), other_);
}

// --rm after a restore: the .kpz goes only when what was restored is proven.
TEST_F(Trust, RestoreRemovesOnlyAProvenInput) {
    ASSERT_EQ(run({"--no-check", "-o", ".", "a.wav"}, passwordInEnvironment("right")).exitCode, 0);
    const auto plainScrambled = readBytes(path("a.kpz"));
    ASSERT_EQ(run({"-f", "a.wav"}, passwordInEnvironment("right")).exitCode, 0);
    const auto checkedScrambled = readBytes(path("a.kpz"));
    ASSERT_EQ(run({"-f", "--no-check", "a.wav"}).exitCode, 0);
    const auto plain = readBytes(path("a.kpz"));
    auto withJunk = checkedScrambled;
    withJunk.insert(withJunk.end(), {'j', 'u', 'n', 'k'});
    auto damagedPlain = plain;
    damagedPlain[plain.size() / 2] ^= 0x04;

    struct Case {
        const char* label;
        std::vector<uint8_t> file;
        const char* password;
        int exitCode;
        bool kept; // the .kpz is still there
    };
    const Case cases[] = {
        {"Checked", checkedScrambled, "right", 0, false},
        {"CheckedWrongPassword", checkedScrambled, "wrong", 1, true},
        {"NoCheckValueProvenByCodingAgain", plainScrambled, "right", 0, false},
        {"NoCheckValueWrongPassword", plainScrambled, "wrong", 1, true},
        {"TrailingData", withJunk, "right", 1, true},
        // Without a check value, damage that still decodes is found when the restored
        // bytes do not code back to the member (as here): the input stays.
        {"DamagedWithoutCheckValue", damagedPlain, "", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        only({{"s.kpz", c.file}});
        const RunResult r = run({"-d", "--rm", "-q", "s.kpz"}, passwordInEnvironment(c.password));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(fs::exists(path("s.kpz")), c.kept);
        if (c.kept) {
            EXPECT_EQ(readBytes(path("s.kpz")), c.file);
        }
        if (c.exitCode == 1) {
            EXPECT_FALSE(r.err.empty());
        }
    }
}

// The run's outputs are told apart as files on disk, however their paths are spelt.
TEST_F(Trust, OneFolderUnderTwoNamesIsOneFolder) {
    ::mkdir(path("d").c_str(), 0755);
    writeBytes(path("d/a.wav"), music_);
    writeBytes(path("d/a.flac"), other_);
    ::symlink("d", path("link").c_str());
    std::vector<std::string> spellings = {"link"};
    // A bind mount, where the system allows one: other path text, other device number.
    ::mkdir(path("d2").c_str(), 0755);
    if (::mount(path("d").c_str(), path("d2").c_str(), nullptr, MS_BIND, nullptr) == 0)
        spellings.push_back("d2");
    for (const std::string& second : spellings) {
        SCOPED_TRACE(second);
        fs::remove(path("d/a.kpz"));
        const RunResult r = run({"-f", "--rm", "d/a.wav", second + "/a.flac"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("is already the output of"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::exists(path("d/a.flac")));
        EXPECT_FALSE(fs::exists(path("d/a.wav")));
        ASSERT_EQ(run({"-d", "-c", "d/a.kpz"}).out, std::string(music_.begin(), music_.end()));
        writeBytes(path("d/a.wav"), music_);
    }
    if (spellings.size() > 1) ::umount(path("d2").c_str());
}

TEST_F(Trust, StandardOutputAndInputsAreKeptApart) {
    // Standard output that is one of the inputs would grow until the disk is full.
    const std::string shell = "cd '" + dir_ + "' && '" + KPZ_BINARY + "' -c a.wav >> a.wav";
    EXPECT_NE(std::system(shell.c_str()), 0);
    EXPECT_EQ(readBytes(path("a.wav")), music_);

    // --rm with standard input has no input file to remove, and succeeds.
    RunSettings piped;
    piped.input = music_;
    const RunResult fromStdin = run({"--rm"}, piped);
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    RunSettings back;
    back.input = std::vector<uint8_t>(fromStdin.out.begin(), fromStdin.out.end());
    EXPECT_EQ(run({"-d"}, back).out, std::string(music_.begin(), music_.end()));

    // The same with both ends on files, which can be seen as files: still nothing to
    // remove, the input untouched, and the output whole.
    const std::string files = "cd '" + dir_ + "' && '" + KPZ_BINARY + "' --rm < a.wav > o.kpz";
    EXPECT_EQ(std::system(files.c_str()), 0);
    EXPECT_EQ(readBytes(path("a.wav")), music_);
    EXPECT_EQ(run({"-dc", "o.kpz"}).out, std::string(music_.begin(), music_.end()));
}

// Closed standard descriptors: the files kpz opens must not take their places, or its
// messages would land in an output.
TEST_F(Trust, ClosedStandardDescriptorsReceiveNothing) {
    auto shell = [&](const std::string& line) {
        return std::system(("cd '" + dir_ + "' && " + line).c_str());
    };
    const std::string kpz = std::string("'") + KPZ_BINARY + "'";
    // A restore whose warning (trailing data) has nowhere to go.
    ASSERT_EQ(run({"a.wav"}).exitCode, 0);
    auto withJunk = readBytes(path("a.kpz"));
    withJunk.insert(withJunk.end(), {'j', 'u', 'n', 'k'});
    only({{"s2.kpz", withJunk}});
    shell(kpz + " -d s2.kpz >&- 2>&-");
    EXPECT_EQ(readBytes(path("a.wav")), music_);

    // Files side by side, with messages and no standard error: each file's message is
    // printed while other files are being written, whose outputs would take descriptor 2.
    std::map<std::string, std::vector<uint8_t>> files;
    for (unsigned i = 0; i < 24; ++i)
        files["f" + std::to_string(i) + ".wav"] = audioLike(1000 + 40000 * (i % 7), i);
    // Which output takes the descriptor depends on timing: two rounds.
    for (int round = 0; round < 2; ++round) {
        only(files);
        EXPECT_EQ(shell(kpz + " -v -j2 -r . 2>&-"), 0);
        for (const auto& [name, bytes] : files) {
            const RunResult back = run({"-dc", name.substr(0, name.size() - 4) + ".kpz"});
            EXPECT_EQ(back.exitCode, 0) << name << ": " << back.err;
            EXPECT_EQ(back.out, std::string(bytes.begin(), bytes.end())) << name;
        }
    }
}

} // namespace
