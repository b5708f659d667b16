// SPDX-License-Identifier: BSD-3-Clause
// What kpz does when its surroundings work against it: a standard output that cannot be
// written, names made to steer the terminal, a password file without end, and passwords
// whose characters the password code cannot tell apart.
#include "kpz_harness.h"

#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kpztest;

namespace {

class Hardening : public KpzTest {
  protected:
    // Like run, but kills kpz (SIGKILL) if it has not ended within limit.
    RunResult runWithin(std::chrono::milliseconds limit, const std::vector<std::string>& args,
                        const RunSettings& settings = {}) const {
        const pid_t pid = start(args, settings);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        // WNOWAIT leaves the process unreaped, so its id cannot be reused before the kill.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid, SIGKILL);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return waitFor(pid);
    }

    // Like run, with stdout on the file at stdoutPath, or closed when it is empty.
    RunResult runWithStdout(const std::vector<std::string>& args,
                            const std::string& stdoutPath) const {
        std::vector<std::string> argStore{KPZ_BINARY};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string parent = dir_.substr(0, dir_.rfind('/'));
        const std::string errPath = parent + "/stderr.txt";
        ::unlink((parent + "/stdout.txt").c_str());

        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();
            const int in = ::open("/dev/null", O_RDONLY);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int out = stdoutPath.empty() ? -1 : ::open(stdoutPath.c_str(), O_WRONLY);
            if (::chdir(dir_.c_str()) != 0 || in < 0 || err < 0 || (out < 0 && !stdoutPath.empty()))
                ::_exit(126);
            ::dup2(in, 0);
            ::dup2(err, 2);
            if (out >= 0)
                ::dup2(out, 1);
            else
                ::close(1);
            for (int fd : {in, err, out})
                if (fd > 2) ::close(fd);
            ::unsetenv("KPZ_PASSWORD");
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return waitFor(pid);
    }
};

struct StdoutCase {
    std::vector<std::string> args;
    const char* stdoutPath; // "": closed
    int exitCode;
    const char* reason; // the system's text for the failed write, when it fails
};

const StdoutCase kStdoutCases[] = {
    {{"-l", "a.kpz"}, "/dev/full", 1, "No space left on device"},
    {{"--help"}, "/dev/full", 1, "No space left on device"},
    {{"-V"}, "/dev/full", 1, "No space left on device"},
    {{"-l", "a.kpz"}, "", 1, "Bad file descriptor"},
    {{"--help"}, "", 1, "Bad file descriptor"},
    {{"-V"}, "", 1, "Bad file descriptor"},
    // Nothing is written to stdout here, so its state does not matter.
    {{"-f", "a.wav"}, "/dev/full", 0, nullptr},
    {{"-f", "a.wav"}, "", 0, nullptr},
};

TEST_F(Hardening, AFailedWriteToStandardOutputIsAFailure) {
    writeBytes(path("a.wav"), audioLike(5000));
    ASSERT_EQ(run({"a.wav"}).exitCode, 0);
    for (const auto& c : kStdoutCases) {
        SCOPED_TRACE(c.args[0] + " > " + (*c.stdoutPath ? c.stdoutPath : "(closed)"));
        const RunResult r = runWithStdout(c.args, c.stdoutPath);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.reason)
            EXPECT_NE(
                r.err.find(std::string("kpz: couldn't write to standard output: ") + c.reason),
                std::string::npos)
                << r.err;
        else
            EXPECT_EQ(r.err, "");
    }
}

// Bytes that would act on a terminal or reorder the text if they reached it raw: ESC and
// BEL of a title sequence, any C1 control in UTF-8 (C2 80 to C2 9F) and U+202E.
bool holdsControls(const std::string& text) {
    if (text.find_first_of("\x1B\x07") != std::string::npos) return true;
    if (text.find("\xE2\x80\xAE") != std::string::npos) return true;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\xC2' && (static_cast<uint8_t>(text[i + 1]) & 0xE0) == 0x80) return true;
    return false;
}

struct HostileNameCase {
    const char* label;
    std::vector<std::string> args; // "@" stands for the hostile .kpz file
    bool onStdout;                 // where the name is expected, escaped
    int exitCode;
};

const HostileNameCase kHostileNameCases[] = {
    {"list", {"-l", "@"}, true, 0},
    {"test verbosely", {"-v", "-t", "@"}, false, 0},
    {"restore onto an existing file", {"-d", "@"}, false, 1},
    {"restore verbosely", {"-v", "-d", "-f", "@"}, false, 0},
};

TEST_F(Hardening, NamesFromFilesReachTheTerminalEscaped) {
    // A title-setting sequence, the C1 CSI and a right-to-left override.
    const std::string stem = "a\x1B]0;x\x07\xC2\x9B\xE2\x80\xAE"
                             "b";
    const std::string shownStem = "a\\u001b]0;x\\u0007\\u009b\\u202eb";
    const std::string packed = stem + ".kpz";
    writeBytes(path(packed), packInMemory(audioLike(3000), stem + ".wav"));
    writeBytes(path(stem + ".wav"), {}); // so that restoring refuses and names the destination
    for (const auto& c : kHostileNameCases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args = c.args;
        for (auto& a : args)
            if (a == "@") a = packed;
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_FALSE(holdsControls(r.out)) << r.out;
        EXPECT_FALSE(holdsControls(r.err)) << r.err;
        EXPECT_NE((c.onStdout ? r.out : r.err).find(shownStem), std::string::npos)
            << r.out << r.err;
    }
}

struct PasswordFileCase {
    const char* label;
    std::string file; // a path, or "@" for a file written with contents
    std::string contents;
    int exitCode;
    const char* sameAs; // when accepted: the password that gives identical output
};

const PasswordFileCase kPasswordFiles[] = {
    {"endless", "/dev/zero", "", 1, nullptr},
    {"first line one byte too long", "@", std::string(4097, 'x') + "\n", 1, nullptr},
    {"longest first line", "@", std::string(4096, 'x') + "\n", 0, "xxxxxxxxxxxxxxxx"},
    {"long second line", "@", "pw\n" + std::string(1 << 20, 'y'), 0, "pw"},
};

TEST_F(Hardening, PasswordFileIsReadOnlyToItsFirstShortLine) {
    writeBytes(path("a.wav"), audioLike(3000));
    for (const auto& c : kPasswordFiles) {
        SCOPED_TRACE(c.label);
        ::unlink(path("a.kpz").c_str());
        std::string file = c.file;
        if (file == "@") {
            file = path("pw.txt");
            writeBytes(file, {c.contents.begin(), c.contents.end()});
        }
        const RunResult r =
            runWithin(std::chrono::seconds(3), {"-f", "--password-file", file, "a.wav"});
        EXPECT_EQ(r.signal, 0) << "still reading after 3 s";
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (!c.sameAs) {
            EXPECT_NE(r.err.find("password file's first line is too long"), std::string::npos)
                << r.err;
            EXPECT_NE(::access(path("a.kpz").c_str(), F_OK), 0) << "nothing is written";
            continue;
        }
        const auto made = readBytes(path("a.kpz"));
        ASSERT_EQ(run({"-f", "a.wav"}, passwordInEnvironment(c.sameAs)).exitCode, 0);
        EXPECT_EQ(made, readBytes(path("a.kpz")));
    }
}

struct NarrowPasswordCase {
    const char* label;
    std::string password;
    bool quiet;
    bool warns;
    const char* sameAs; // a password that must give identical output
};

const NarrowPasswordCase kNarrowPasswords[] = {
    {"CJK", "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", false, true, "???"},
    {"CJK, quiet", "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", true, false, "???"},
    {"not UTF-8", "ab\xFF", false, true, "ab?"},
    {"Windows-1252 letters", "P\xC3\xA4ss\xE2\x82\xAC\xC5\x92", false, false, nullptr},
    {"past the 16 that count", "abcdefghijklmnop\xE6\x97\xA5", false, false, "abcdefghijklmnop"},
};

TEST_F(Hardening, PasswordsOutsideWindows1252AreWarnedAbout) {
    writeBytes(path("a.wav"), audioLike(3000));
    for (const auto& c : kNarrowPasswords) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args{"-f", "a.wav"};
        if (c.quiet) args.insert(args.begin(), "-q");
        const RunResult r = run(args, passwordInEnvironment(c.password));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("kpz: warning: the password has characters outside Windows-1252") !=
                      std::string::npos,
                  c.warns)
            << r.err;
        if (!c.sameAs) continue;
        const auto made = readBytes(path("a.kpz"));
        ASSERT_EQ(run({"-f", "a.wav"}, passwordInEnvironment(c.sameAs)).exitCode, 0);
        EXPECT_EQ(made, readBytes(path("a.kpz"))) << "the password code must not change";
    }
}

} // namespace

namespace {

// One run writes each output once and never over one of its own inputs; stored names
// restore to usable names; a wrong password is named as a likely cause.
struct OutputCase {
    const char* label;
    std::vector<std::pair<std::string, std::string>> files; // name, stored name ("" = data)
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> expectInErr;                     // texts stderr must hold
    std::vector<std::pair<std::string, std::string>> outputs; // output, the source it restores
};

const OutputCase kOutputCases[] = {
    {"two sources, one output name",
     {{"song.wav", ""}, {"song.aiff", ""}},
     {"-f", "song.wav", "song.aiff"},
     1,
     {"song.kpz: is already the output of song.wav"},
     {{"song.kpz", "song.wav"}}},
    {"side by side, the first given is the one written",
     {{"song.wav", ""}, {"song.aiff", ""}, {"song.flac", ""}},
     {"-j", "3", "song.wav", "song.aiff", "song.flac"},
     1,
     {"song.kpz: is already the output of song.wav"},
     {{"song.kpz", "song.wav"}}},
    {"same names from two folders into one",
     {{"d1/x.wav", ""}, {"d2/x.wav", ""}},
     {"-o", "out", "d1/x.wav", "d2/x.wav"},
     1,
     {"is already the output of d1/x.wav"},
     {{"out/x.kpz", "d1/x.wav"}}},
    {"dot files",
     {{".bashrc", ""}, {".profile", ""}},
     {".bashrc", ".profile"},
     1,
     {"is already the output of .bashrc"},
     {{".kpz", ".bashrc"}}},
    {"a stored name that is another input",
     {{"a.kpz", "b.kpz"}, {"b.kpz", "b.wav"}},
     {"-d", "-f", "a.kpz", "b.kpz"},
     1,
     {"b.kpz: is an input of this run"},
     {{"b.wav", "b.kpz"}}},
};

class Outputs : public KpzTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(Outputs, NeverTwiceNorOverAnInput) {
    const OutputCase& c = GetParam();
    std::map<std::string, std::vector<uint8_t>> sources;
    ::mkdir(path("d1").c_str(), 0755);
    ::mkdir(path("d2").c_str(), 0755);
    ::mkdir(path("out").c_str(), 0755);
    unsigned seed = 1;
    for (const auto& [name, stored] : c.files) {
        sources[name] = audioLike(5000 + 333 * seed, seed);
        ++seed;
        writeBytes(path(name),
                   stored.empty() ? sources[name] : packInMemory(sources[name], stored));
    }
    const auto inputsBefore = sources;
    const RunResult r = run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    for (const std::string& text : c.expectInErr)
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    // Each output holds the source it should: restored aside, it gives those bytes back.
    ::mkdir(path("back").c_str(), 0755);
    for (const auto& [output, source] : c.outputs) {
        const bool compressed = output.size() >= 4 && output.substr(output.size() - 4) == ".kpz";
        if (!compressed) {
            EXPECT_EQ(readBytes(path(output)), sources[source]) << output;
            continue;
        }
        const RunResult back = run({"-d", "-f", "-o", "back", output});
        EXPECT_EQ(back.exitCode, 0) << output << ": " << back.err;
        const std::string restored = "back/" + source.substr(source.rfind('/') + 1);
        EXPECT_EQ(readBytes(path(restored)), sources[source]) << output;
    }
    // Inputs are never changed.
    for (const auto& [name, stored] : c.files)
        if (stored.empty()) {
            EXPECT_EQ(readBytes(path(name)), inputsBefore.at(name)) << name;
        }
}

INSTANTIATE_TEST_SUITE_P(Cli, Outputs, ::testing::ValuesIn(kOutputCases), [](const auto& info) {
    std::string name = info.param.label;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

TEST_F(Hardening, StoredNamesRestoreUnderUsableNames) {
    // Source names that cannot stand on other systems, and a pair that used to meet.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x:", "x_"}, {"tr\\", "tr_"}, {"a:b.wav", "a_b.wav"}, {"b.wav", "b.wav"}};
    ::mkdir(path("back").c_str(), 0755);
    for (const auto& [name, restored] : cases) {
        SCOPED_TRACE(name);
        const auto data = audioLike(4000 + name.size(), 3);
        writeBytes(path(name), data);
        const RunResult packed = run({"--verify", "-o", "back", name});
        ASSERT_EQ(packed.exitCode, 0) << packed.err;
    }
    // Every compressed file restores, each under its own name.
    std::vector<std::string> args = {"-d", "-o", "back"};
    for (const std::string& f : listFolder("back"))
        args.push_back("back/" + f);
    const RunResult r = run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const auto& [name, restored] : cases)
        EXPECT_EQ(readBytes(path("back/" + restored)), readBytes(path(name))) << restored;
}

TEST_F(Hardening, LongStoredNameRestoresShortened) {
    // 250 e-acute bytes in Windows-1252: 500 bytes once read back as UTF-8.
    const std::string stored = std::string(250, '\xE9') + ".wav";
    const auto data = audioLike(3000, 5);
    writeBytes(path("long.kpz"), packInMemory(data, stored));
    const RunResult r = run({"-d", "long.kpz"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> names = listFolder();
    ASSERT_EQ(names.size(), 2u);
    const std::string& restored = names[0] == "long.kpz" ? names[1] : names[0];
    EXPECT_LE(restored.size(), 255u);
    EXPECT_EQ(restored.substr(restored.size() - 4), ".wav");
    EXPECT_EQ(readBytes(path(restored)), data);
}

TEST_F(Hardening, NameOptionRestoresUnderTheGivenName) {
    const auto data = audioLike(3000, 7);
    writeBytes(path("dots.kpz"), packInMemory(data, ".."));
    const RunResult refused = run({"-d", "dots.kpz"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("--name"), std::string::npos) << refused.err;
    const RunResult named = run({"-d", "--name=take.wav", "dots.kpz"});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    EXPECT_EQ(readBytes(path("take.wav")), data);
    // Only one file, only when restoring, and only a name.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-d", "--name=x.wav", "dots.kpz", "dots.kpz"},
          {"-t", "--name=x.wav", "dots.kpz"},
          {"-d", "--name=../x.wav", "dots.kpz"}})
        EXPECT_EQ(run(args).exitCode, 2) << args[1];
}

TEST_F(Hardening, WrongPasswordIsNamedAsTheLikelyCause) {
    // Silence codes to narrow blocks; scrambled with another code, their headers ask for
    // wide ones, and the payload runs out long before the stored size.
    writeBytes(path("a.wav"), std::vector<uint8_t>(200000, 0));
    const RunResult packed = run({"a.wav"}, passwordInEnvironment("right"));
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    for (const char* mode : {"-t", "-d"}) {
        const RunResult r = run({mode, "-f", "a.kpz"}, passwordInEnvironment("wrong"));
        EXPECT_EQ(r.exitCode, 1) << mode;
        EXPECT_NE(r.err.find("Wrong password"), std::string::npos) << mode << ": " << r.err;
    }
}

} // namespace
