// What kpz does when its surroundings work against it: a standard output that cannot be
// written, names made to steer the terminal, a password file without end, and passwords
// whose characters the password code cannot tell apart.
#include "kpz_harness.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
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
