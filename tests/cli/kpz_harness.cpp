// SPDX-License-Identifier: BSD-3-Clause
// Runs the kpz binary in a scratch folder and gives the tests small file helpers.
#include "kpz_harness.h"

#include "encoder.h"
#include "memory_codec.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kpztest {

namespace fs = std::filesystem;

namespace {

// The null-terminated pointer array that exec wants; valid while strings lives.
std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

RunSettings passwordInEnvironment(const std::string& password) {
    RunSettings settings;
    settings.env["KPZ_PASSWORD"] = password;
    return settings;
}

std::vector<uint8_t> packInMemory(const std::vector<uint8_t>& source,
                                  const std::string& storedName) {
    auto state = std::make_unique<kpz::CodecState>();
    kpz::buildCodecTables(*state);
    return kpz::compressToMemory(*state, source, storedName);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

void KpzTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "kpz-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ + "/work");
    dir_ += "/work";
}

void KpzTest::TearDown() {
    if (!dir_.empty()) fs::remove_all(fs::path(dir_).parent_path());
}

namespace {

// The kpz the tests run: the one built beside them, or KPZ_TEST_BINARY (the Windows build
// started through Wine, for one).
std::string kpzBinary() {
    const char* given = std::getenv("KPZ_TEST_BINARY");
    return given && *given ? given : KPZ_BINARY;
}

// Writes bytes into the pipe fd on a thread of its own, in 64 KiB pieces pauseMs apart
// (all at once for 0), then closes it. A reader that stops early closes the pipe; the
// EPIPE that follows is ignored.
void feedPipe(int fd, std::vector<uint8_t> bytes, int pauseMs) {
    std::thread([fd, bytes = std::move(bytes), pauseMs] {
        ::signal(SIGPIPE, SIG_IGN);
        const size_t piece = pauseMs > 0 ? 65536 : bytes.size();
        size_t done = 0;
        while (done < bytes.size()) {
            const size_t want = std::min(piece, bytes.size() - done);
            const ssize_t n = ::write(fd, bytes.data() + done, want);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
            if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        ::close(fd);
    }).detach();
}

} // namespace

pid_t KpzTest::start(const std::vector<std::string>& args, const RunSettings& settings) const {
    // Everything the child needs is prepared before fork.
    std::vector<std::string> argStore{kpzBinary()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    const std::vector<char*> argv = pointersTo(argStore);

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).substr(0, 13) != "KPZ_PASSWORD=") envStore.emplace_back(*e);
    for (const auto& [key, value] : settings.env)
        envStore.push_back(key + "=" + value);
    const std::vector<char*> envp = pointersTo(envStore);

    const std::string parent = fs::path(dir_).parent_path().string();
    const std::string outPath = parent + "/stdout.txt";
    const std::string errPath = parent + "/stderr.txt";

    int feed[2] = {-1, -1};
    if (settings.input && ::pipe2(feed, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            ::signal(sig, SIG_DFL);
        if (::chdir(dir_.c_str()) != 0) ::_exit(126);
        const int in = settings.input ? ::dup(feed[0]) : ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (settings.fileSizeLimit) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {
                *settings.fileSizeLimit, *settings.fileSizeLimit
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (settings.input) {
        ::close(feed[0]);
        // The child's output goes to files, so feeding it all before waiting cannot block
        // for long.
        feedPipe(feed[1], *settings.input, 0);
    }
    return pid;
}

pid_t KpzTest::startOnTerminal(const std::vector<std::string>& args, int& terminal, int columns,
                               const std::vector<uint8_t>* slowInput) const {
    int feed[2] = {-1, -1};
    if (slowInput && ::pipe2(feed, O_CLOEXEC) != 0) return -1;
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) return -1;
    if (columns > 0) {
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        if (::ioctl(terminal, TIOCSWINSZ, &size) != 0) return -1;
    }
    const std::string side = ::ptsname(terminal);
    std::vector<std::string> argStore{kpzBinary()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    const std::vector<char*> argv = pointersTo(argStore);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        ::close(terminal);
        // The first terminal a session leader opens becomes its controlling terminal.
        const int tty = ::open(side.c_str(), O_RDWR);
        if (tty < 0 || ::chdir(dir_.c_str()) != 0) ::_exit(126);
        ::dup2(slowInput ? feed[0] : tty, 0);
        ::dup2(tty, 1);
        ::dup2(tty, 2);
        ::unsetenv("KPZ_PASSWORD");
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (slowInput) {
        ::close(feed[0]);
        feedPipe(feed[1], *slowInput, 20);
    }
    return pid;
}

RunResult KpzTest::waitFor(pid_t pid) const {
    RunResult result;
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return result;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    const std::string parent = fs::path(dir_).parent_path().string();
    auto out = readBytes(parent + "/stdout.txt");
    auto err = readBytes(parent + "/stderr.txt");
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

RunResult KpzTest::run(const std::vector<std::string>& args, const RunSettings& settings) const {
    return waitFor(start(args, settings));
}

bool KpzTest::waitForOutputUnderWay(pid_t pid, const std::string& input, uint64_t bytes,
                                    int seconds) const {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    const std::string inputPath = path(input);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (DIR* d = ::opendir(fds.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string fd = fds + "/" + e->d_name;
                char target[4096];
                const ssize_t n = ::readlink(fd.c_str(), target, sizeof target - 1);
                if (n <= 0) continue;
                const std::string t(target, static_cast<size_t>(n));
                struct stat st {};
                if (t.rfind(dir_ + "/", 0) == 0 && t != inputPath && ::stat(fd.c_str(), &st) == 0 &&
                    static_cast<uint64_t>(st.st_size) > bytes) {
                    ::closedir(d);
                    return true;
                }
            }
            ::closedir(d);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::vector<std::string> KpzTest::listFolder(const std::string& name) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path(name)))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kpztest
