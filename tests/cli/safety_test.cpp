// SPDX-License-Identifier: BSD-3-Clause
// What must never happen: an input replaced, a file written outside the output folder, a
// partial or temporary file left behind, attributes lost.
#include "kpz_harness.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kpztest;

namespace {

constexpr const char* kSameFileText = "Destination would replace the source file!";

struct OwnInputCase {
    const char* label;
    void (*setup)(const std::string& dir);
    std::vector<std::string> args;
    const char* guarded; // the input that must keep its bytes
};

const OwnInputCase kOwnInput[] = {
    {"CompressedFileBesideItself",
     [](const std::string& d) { writeBytes(d + "/take.kpz", packInMemory(audioLike(9000), "x")); },
     {"-f", "take.kpz"},
     "take.kpz"},
    {"OutputNameIsSymlinkToSource",
     [](const std::string& d) {
         writeBytes(d + "/take.wav", audioLike(9000));
         ASSERT_EQ(::symlink("take.wav", (d + "/take.kpz").c_str()), 0);
     },
     {"-f", "take.wav"},
     "take.wav"},
    {"OutputNameIsHardLinkToSource",
     [](const std::string& d) {
         writeBytes(d + "/take.wav", audioLike(9000));
         ASSERT_EQ(::link((d + "/take.wav").c_str(), (d + "/take.kpz").c_str()), 0);
     },
     {"-f", "take.wav"},
     "take.wav"},
    {"StoredNameIsTheCompressedFile",
     [](const std::string& d) {
         writeBytes(d + "/self.kpz", packInMemory(audioLike(9000), "self.kpz"));
     },
     {"-d", "-f", "self.kpz"},
     "self.kpz"},
    {"RestoredNameLinksToCompressedFile",
     [](const std::string& d) {
         ::mkdir((d + "/in").c_str(), 0755);
         ::mkdir((d + "/out").c_str(), 0755);
         writeBytes(d + "/in/song.kpz", packInMemory(audioLike(9000), "song.wav"));
         ASSERT_EQ(::symlink("../in/song.kpz", (d + "/out/song.wav").c_str()), 0);
     },
     {"-d", "-f", "-o", "out", "in/song.kpz"},
     "in/song.kpz"},
};

void PrintTo(const OwnInputCase& c, std::ostream* os) {
    *os << c.label;
}

class OwnInput : public KpzTest, public ::testing::WithParamInterface<OwnInputCase> {};

TEST_P(OwnInput, IsNeverReplacedEvenWithForce) {
    GetParam().setup(dir_);
    const auto before = readBytes(path(GetParam().guarded));
    const auto files = listFolder();
    const RunResult r = run(GetParam().args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(kSameFileText), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(path(GetParam().guarded)), before);
    EXPECT_EQ(listFolder(), files);
}

INSTANTIATE_TEST_SUITE_P(Cli, OwnInput, ::testing::ValuesIn(kOwnInput),
                         [](const auto& info) { return std::string(info.param.label); });

struct StoredNameCase {
    const char* label;
    const char* stored;
    const char* restoredAs; // nullptr: refused
};

const StoredNameCase kStoredNames[] = {
    {"ParentFolder", "../escape.wav", "escape.wav"},
    {"ManyParents", "../../../../../../tmp/deep.wav", "deep.wav"},
    {"Absolute", "/etc/absolute.wav", "absolute.wav"},
    {"BackslashFolder", "folder\\windows.wav", "windows.wav"},
    {"DriveLetter", "C:drive.wav", "drive.wav"},
    {"EndsInSlash", "sub/", nullptr},
    {"DotDot", "..", nullptr},
    {"Empty", "", nullptr},
};

void PrintTo(const StoredNameCase& c, std::ostream* os) {
    *os << c.label;
}

class StoredName : public KpzTest, public ::testing::WithParamInterface<StoredNameCase> {};

TEST_P(StoredName, RestoresInsideTheOutputFolderOnly) {
    const auto data = audioLike(5000, 4);
    ::mkdir(path("in").c_str(), 0755);
    ::mkdir(path("in/out").c_str(), 0755);
    writeBytes(path("in/x.kpz"), packInMemory(data, GetParam().stored));
    const RunResult r = run({"-d", "-o", "in/out", "in/x.kpz"});
    if (GetParam().restoredAs) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(listFolder("in/out"), std::vector<std::string>{GetParam().restoredAs});
        EXPECT_EQ(readBytes(path("in/out/") + GetParam().restoredAs), data);
    } else {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("kpz: in/x.kpz: Couldn't open destination file!"), std::string::npos)
            << r.err;
        EXPECT_TRUE(listFolder("in/out").empty());
    }
    EXPECT_EQ(listFolder("in"), (std::vector<std::string>{"out", "x.kpz"}));
    EXPECT_EQ(listFolder(), std::vector<std::string>{"in"});
    EXPECT_EQ(listFolder(".."), (std::vector<std::string>{"stderr.txt", "stdout.txt", "work"}));
}

INSTANTIATE_TEST_SUITE_P(Cli, StoredName, ::testing::ValuesIn(kStoredNames),
                         [](const auto& info) { return std::string(info.param.label); });

class Failures : public KpzTest {};

TEST_F(Failures, FailedWriteLeavesNoOutputAndTheNextFileIsDone) {
    const auto big = audioLike(2'000'000, 1), small = audioLike(10'000, 2);
    writeBytes(path("big.wav"), big);
    writeBytes(path("small.wav"), small);
    // The file-size limit makes every write past 200 kB fail, as a full disk would.
    RunSettings limited;
    limited.fileSizeLimit = 200'000;
    RunResult r = run({"big.wav", "small.wav"}, limited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("kpz: big.kpz: Couldn't write to destination file!"), std::string::npos)
        << r.err;
    EXPECT_EQ(listFolder(), (std::vector<std::string>{"big.wav", "small.kpz", "small.wav"}));

    ASSERT_EQ(run({"big.wav"}).exitCode, 0);
    ::mkdir(path("out").c_str(), 0755);
    r = run({"-d", "-o", "out", "big.kpz", "small.kpz"}, limited);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("kpz: out/big.wav: Couldn't write to destination file!"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(listFolder("out"), std::vector<std::string>{"small.wav"});
    EXPECT_EQ(readBytes(path("out/small.wav")), small);
}

TEST_F(Failures, UnusableInputsAreSkippedWithoutOutputAndTheRestIsDone) {
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0); // opening it would block
    ::mkdir(path("folder").c_str(), 0755);
    {
        // One byte past what the header's 32-bit size can describe; sparse, so cheap.
        const int fd = ::open(path("huge.raw").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
        ::close(fd);
    }
    writeBytes(path("fine.wav"), audioLike(3000));
    const RunResult r = run({"pipe", "folder", "missing.wav", "huge.raw", "fine.wav"});
    EXPECT_EQ(r.exitCode, 1);
    for (const char* expected : {"kpz: pipe: is not a regular file", "kpz: folder: is a directory",
                                 "kpz: missing.wav: Couldn't open source file!",
                                 "kpz: huge.raw: Source file is too large (4 GB or more)!"})
        EXPECT_NE(r.err.find(expected), std::string::npos) << expected << "\n" << r.err;
    EXPECT_EQ(listFolder(),
              (std::vector<std::string>{"fine.kpz", "fine.wav", "folder", "huge.raw", "pipe"}));
}

class Interrupted : public KpzTest, public ::testing::WithParamInterface<int> {};

TEST_P(Interrupted, SignalRemovesTheTemporaryFile) {
    // A large sparse source reads fast but takes long enough to code to be interrupted.
    {
        const int fd = ::open(path("long.raw").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
        ::close(fd);
    }
    const pid_t pid = start({"long.raw"});
    ASSERT_GT(pid, 0);
    // Wait until the output under way holds a few megabytes.
    const bool underWay = waitForOutputUnderWay(pid, "long.raw", 4 << 20, 30);
    ::kill(pid, GetParam());
    const RunResult r = waitFor(pid);
    ASSERT_TRUE(underWay) << "the output never grew";
    EXPECT_EQ(r.signal, GetParam()) << "exit code " << r.exitCode << ": " << r.err;
    EXPECT_EQ(listFolder(), std::vector<std::string>{"long.raw"});
}

INSTANTIATE_TEST_SUITE_P(Cli, Interrupted, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT ? "Sigint" : "Sigterm");
                         });

TEST_F(Failures, PermissionBitsAndModificationTimeAreKept) {
    const auto data = audioLike(30000, 6);
    writeBytes(path("a.wav"), data);
    ASSERT_EQ(::chmod(path("a.wav").c_str(), 0604), 0);
    const struct timespec times[2] = {{1'100'000'000, 0}, {1'000'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path("a.wav").c_str(), times, 0), 0);

    ASSERT_EQ(run({"a.wav"}).exitCode, 0);
    ::mkdir(path("out").c_str(), 0755);
    ASSERT_EQ(run({"-d", "-o", "out", "a.kpz"}).exitCode, 0);
    EXPECT_EQ(readBytes(path("out/a.wav")), data);
    for (const char* name : {"a.kpz", "out/a.wav"}) {
        struct stat st {};
        ASSERT_EQ(::stat(path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0604u) << name;
        EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000) << name;
        EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789) << name;
    }
}

} // namespace
