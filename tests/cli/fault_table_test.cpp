// SPDX-License-Identifier: BSD-3-Clause
// Faults and hostile inputs met by the kpz binary, as tables: stored names that try to leave
// the output folder, outputs that are the input under another name, signals in the middle of
// a large file in either direction, writes that stop at each stage, a file cut at every
// byte, and the saved seed files.
#include "kpz_harness.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kpztest;

namespace {

constexpr const char* kSameFileText = "Destination would replace the source file!";

struct HostileName {
    const char* label;
    std::string stored;
    std::string restoredAs; // empty: refused
};

const HostileName kHostileNames[] = {
    {"ParentsInsideAPath", "a/../../x.wav", "x.wav"},
    {"BackslashParent", "..\\x.wav", "x.wav"},
    {"DriveAndBackslash", "C:\\x.wav", "x.wav"},
    {"DriveAndParent", "C:..", ""},
    {"Dot", ".", ""},
    {"SlashDot", "a/.", ""},
    {"Newline", "a\nb.wav", "a\nb.wav"},
    {"LongestName", std::string(255, 'n'), std::string(255, 'n')},
};

void PrintTo(const HostileName& c, std::ostream* os) {
    *os << c.label;
}

class HostileNames : public KpzTest, public ::testing::WithParamInterface<HostileName> {};

// Whatever the name, the only thing that can appear is one file inside the output folder.
TEST_P(HostileNames, RestoreOnlyInsideTheOutputFolder) {
    const auto data = audioLike(3000, 2);
    ::mkdir(path("in").c_str(), 0755);
    ::mkdir(path("in/out").c_str(), 0755);
    writeBytes(path("in/x.kpz"), packInMemory(data, GetParam().stored));
    const RunResult r = run({"-d", "-o", "in/out", "in/x.kpz"});
    if (!GetParam().restoredAs.empty()) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(listFolder("in/out"), std::vector<std::string>{GetParam().restoredAs});
        EXPECT_EQ(readBytes(path("in/out/") + GetParam().restoredAs), data);
    } else {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("Couldn't open destination file!"), std::string::npos) << r.err;
        EXPECT_TRUE(listFolder("in/out").empty());
    }
    EXPECT_EQ(listFolder("in"), (std::vector<std::string>{"out", "x.kpz"}));
    EXPECT_EQ(listFolder(), std::vector<std::string>{"in"});
    EXPECT_EQ(listFolder(".."), (std::vector<std::string>{"stderr.txt", "stdout.txt", "work"}));
}

INSTANTIATE_TEST_SUITE_P(Cli, HostileNames, ::testing::ValuesIn(kHostileNames),
                         [](const auto& info) { return std::string(info.param.label); });

struct LinkedOutput {
    const char* label;
    void (*setup)(const std::string& dir);
    std::vector<std::string> args;
    const char* guarded;
};

const LinkedOutput kLinkedOutputs[] = {
    {"RestoredNameIsHardLinkToCompressedFile",
     [](const std::string& d) {
         ::mkdir((d + "/out").c_str(), 0755);
         writeBytes(d + "/song.kpz", packInMemory(audioLike(9000), "song.wav"));
         ASSERT_EQ(::link((d + "/song.kpz").c_str(), (d + "/out/song.wav").c_str()), 0);
     },
     {"-d", "-f", "-o", "out", "song.kpz"},
     "song.kpz"},
    {"OutputFolderIsSymlinkToInputFolder",
     [](const std::string& d) {
         ::mkdir((d + "/in").c_str(), 0755);
         writeBytes(d + "/in/self.kpz", packInMemory(audioLike(9000), "self.kpz"));
         ASSERT_EQ(::symlink("in", (d + "/out").c_str()), 0);
     },
     {"-d", "-f", "-o", "out", "in/self.kpz"},
     "in/self.kpz"},
    {"InputGivenThroughSymlinkBesideItsOutput",
     [](const std::string& d) {
         writeBytes(d + "/take.wav", audioLike(9000));
         ASSERT_EQ(::symlink("take.wav", (d + "/alias.wav").c_str()), 0);
         ASSERT_EQ(::link((d + "/take.wav").c_str(), (d + "/alias.kpz").c_str()), 0);
     },
     {"-f", "alias.wav"},
     "take.wav"},
};

void PrintTo(const LinkedOutput& c, std::ostream* os) {
    *os << c.label;
}

class LinkedOutputs : public KpzTest, public ::testing::WithParamInterface<LinkedOutput> {};

TEST_P(LinkedOutputs, AreRefusedEvenWithForce) {
    GetParam().setup(dir_);
    const auto before = readBytes(path(GetParam().guarded));
    const RunResult r = run(GetParam().args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(kSameFileText), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(path(GetParam().guarded)), before);
}

INSTANTIATE_TEST_SUITE_P(Cli, LinkedOutputs, ::testing::ValuesIn(kLinkedOutputs),
                         [](const auto& info) { return std::string(info.param.label); });

// Size, inode and modification time: enough to see a file replaced, cut or rewritten.
struct Identity {
    off_t size = -1;
    ino_t inode = 0;
    struct timespec modified {};
    bool operator==(const Identity& o) const {
        return size == o.size && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

Identity identityOf(const std::string& path) {
    struct stat st {};
    Identity id;
    if (::stat(path.c_str(), &st) == 0) id = {st.st_size, st.st_ino, st.st_mtim};
    return id;
}

// A sparse file of size bytes, cheap to make at any size.
void makeSparse(const std::string& path, off_t size, const std::vector<uint8_t>& head = {}) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    if (!head.empty()) {
        ASSERT_EQ(::write(fd, head.data(), head.size()), ssize_t(head.size()));
    }
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

struct Interruption {
    const char* label;
    int signal;
    bool restoring;
};

const Interruption kInterruptions[] = {
    {"SigintCompressing", SIGINT, false},
    {"SigtermCompressing", SIGTERM, false},
    {"SigintRestoring", SIGINT, true},
    {"SigtermRestoring", SIGTERM, true},
    // Signals that used to leave a temporary file behind; SIGKILL cannot be handled at all,
    // so only an output without a name survives it cleanly.
    {"SigkillCompressing", SIGKILL, false},
    {"SigkillRestoring", SIGKILL, true},
    {"SigquitCompressing", SIGQUIT, false},
    {"SigpipeRestoring", SIGPIPE, true},
    {"Sigusr1Compressing", SIGUSR1, false},
};

void PrintTo(const Interruption& c, std::ostream* os) {
    *os << c.label;
}

class Interruptions : public KpzTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(Interruptions, LeaveNoFinalNameAndTheSourceIntact) {
    constexpr off_t kSize = off_t{1} << 30;
    std::string input = "long.raw";
    if (GetParam().restoring) {
        // Silence codes to zero bits, so the compressed file of 1 GiB of silence is its
        // header followed by zeros: sparse too.
        const uint64_t blocks = (uint64_t(kSize) + 63) / 64;
        const off_t payload = off_t(2 * (blocks * 40 / 16 + 2));
        std::vector<uint8_t> header = {'C', 0, 0, 0, 0x40, 8, 0, 0, 0};
        for (char c : std::string("long.raw"))
            header.push_back(static_cast<uint8_t>(c));
        input = "long.kpz";
        makeSparse(path(input), off_t(header.size()) + payload, header);
    } else {
        makeSparse(path(input), kSize);
    }
    const Identity before = identityOf(path(input));
    const pid_t pid = start({GetParam().restoring ? "-d" : "-z", input});
    ASSERT_GT(pid, 0);
    // Wait until the output under way holds a few megabytes.
    const bool underWay = waitForOutputUnderWay(pid, input, 4 << 20);
    // The output under way has no name anyone could open, replace or guess.
    const std::vector<std::string> whileRunning = listFolder();
    ::kill(pid, GetParam().signal);
    const RunResult r = waitFor(pid);
    ASSERT_TRUE(underWay) << "the output never grew";
    EXPECT_EQ(r.signal, GetParam().signal) << "exit code " << r.exitCode << ": " << r.err;
    EXPECT_EQ(whileRunning, std::vector<std::string>{input}) << "a named temporary while running";
    EXPECT_EQ(listFolder(), std::vector<std::string>{input}) << "no final name, no temporary";
    EXPECT_TRUE(identityOf(path(input)) == before);
}

INSTANTIATE_TEST_SUITE_P(Cli, Interruptions, ::testing::ValuesIn(kInterruptions),
                         [](const auto& info) { return std::string(info.param.label); });

struct ShortWrite {
    const char* label;
    bool restoring;
    int64_t fromEnd;       // the file-size limit, counted back from the output's full size
    bool parallel = false; // one file large enough to be coded on two threads
};

const ShortWrite kShortWrites[] = {
    {"CompressingMidFile", false, 700000}, // inside the second of four flushes
    {"CompressingFinalFlush", false, 100}, // inside the last, partial flush
    {"CompressingLastByte", false, 1},
    {"RestoringMidFile", true, 700000},
    {"RestoringFinalFlush", true, 100},
    {"RestoringLastByte", true, 1},
    {"CompressingParallelMidFile", false, 2'000'000, true},
    {"CompressingParallelFinalFlush", false, 100, true},
    {"RestoringParallelMidFile", true, 2'000'000, true},
    {"RestoringParallelFinalFlush", true, 100, true},
};

void PrintTo(const ShortWrite& c, std::ostream* os) {
    *os << c.label;
}

class ShortWrites : public KpzTest, public ::testing::WithParamInterface<ShortWrite> {};

// Writes past a file-size limit fail as on a full disk: the file is reported, no output
// and no temporary file stays behind, the input keeps its bytes, and the next file is done.
TEST_P(ShortWrites, FailTheFileAndLeaveNothing) {
    const ShortWrite& c = GetParam();
    const auto big = audioLike(c.parallel ? 4'500'000 : 1'600'000, 3);
    const auto small = audioLike(10'000, 4);
    writeBytes(path("big.wav"), big);
    writeBytes(path("small.wav"), small);
    if (c.restoring) {
        ASSERT_EQ(run({"big.wav", "small.wav"}).exitCode, 0);
        ::unlink(path("big.wav").c_str());
        ::unlink(path("small.wav").c_str());
    }
    const std::string bigIn = c.restoring ? "big.kpz" : "big.wav";
    const std::string smallIn = c.restoring ? "small.kpz" : "small.wav";
    const auto input = readBytes(path(bigIn));
    const int64_t full =
        c.restoring ? int64_t(big.size()) : int64_t(packInMemory(big, "big.wav").size());
    RunSettings limited;
    // The limit holds for every file the process writes, its messages too: the cuts stay
    // well past the size of the messages.
    limited.fileSizeLimit = uint64_t(full - c.fromEnd);
    ::mkdir(path("out").c_str(), 0755);

    // Two threads on one file code it side by side; two files go one per thread.
    std::vector<std::string> args = {"-j2", "-o", "out", bigIn};
    if (!c.parallel) args.push_back(smallIn);
    if (c.restoring) args.insert(args.begin(), "-d");
    const RunResult r = run(args, limited);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string bigOut = c.restoring ? "out/big.wav" : "out/big.kpz";
    EXPECT_NE(r.err.find("kpz: " + bigOut + ": Couldn't write to destination file!"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readBytes(path(bigIn)), input);
    if (c.parallel) {
        EXPECT_TRUE(listFolder("out").empty());
    } else {
        EXPECT_EQ(listFolder("out"),
                  std::vector<std::string>{c.restoring ? "small.wav" : "small.kpz"});
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, ShortWrites, ::testing::ValuesIn(kShortWrites),
                         [](const auto& info) { return std::string(info.param.label); });

class Truncated : public KpzTest {};

// Every cut of a small file, tested in one run: each is reported as an error, a cut that
// takes only end pad or part of the check value too. A cut that takes the whole check value
// leaves a whole file without one, which no reader can tell from any other.
TEST_F(Truncated, AtEveryByteOffsetTestReportsAnError) {
    writeBytes(path("a.wav"), audioLike(1001, 7));
    for (const char* check : {"--no-check", "--check"}) {
        SCOPED_TRACE(check);
        ASSERT_EQ(run({"-f", check, "a.wav"}).exitCode, 0);
        const auto file = readBytes(path("a.kpz"));
        const size_t whole = std::string(check) == "--check" ? file.size() - 16 : file.size();
        ::mkdir(path("cuts").c_str(), 0755);
        std::vector<std::string> args = {"-v", "-t"};
        for (size_t cut = 0; cut < file.size(); ++cut) {
            if (cut == whole) continue;
            args.push_back("cuts/" + std::to_string(cut));
            writeBytes(path(args.back()), std::vector<uint8_t>(file.begin(), file.begin() + cut));
        }
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, 1);
        for (size_t cut = 0; cut < file.size(); ++cut) {
            if (cut == whole) continue;
            const std::string name = "kpz: cuts/" + std::to_string(cut) + ": ";
            const char* expected =
                cut < 14 ? "Unknown file format!\n" : "Compressed file is damaged or truncated!\n";
            EXPECT_NE(r.err.find(name + expected), std::string::npos) << "cut at " << cut;
        }
        EXPECT_EQ(r.err.find(": OK"), std::string::npos) << r.err;
    }
}

class SeedFiles : public KpzTest {};

// The seed files kept for the fuzzers: the valid ones pin the format (they test OK and keep
// their stored names), the damaged ones are refused with their message.
TEST_F(SeedFiles, TestGivesTheExpectedVerdicts) {
    namespace fs = std::filesystem;
    const std::string folder = std::string(KPZ_TEST_DATA) + "/decode";
    int good = 0, bad = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        const RunResult r = run({"-v", "-t", entry.path().string()}, passwordInEnvironment("fuzz"));
        if (name.rfind("bad_", 0) == 0) {
            ++bad;
            EXPECT_EQ(r.exitCode, 1) << name;
            EXPECT_EQ(r.err.find(": OK"), std::string::npos) << name << ": " << r.err;
        } else {
            ++good;
            EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        }
    }
    EXPECT_GE(good, 3);
    EXPECT_GE(bad, 3);
}

} // namespace
