// kpz on a real (pseudo-)terminal: the password prompt without echo, and the progress line.
#include "kpz_harness.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace kpztest;

namespace {

// Reads what kpz shows on its terminal until it closes it, typing answer after each
// prompt that ends in ": ".
std::string converse(int terminal, const std::string& answer, int& promptsAnswered) {
    std::string screen;
    size_t answeredUpTo = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        struct pollfd p {
            terminal, POLLIN, 0
        };
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break; // the other side is closed: kpz has ended
        screen.append(buffer, static_cast<size_t>(n));
        const size_t prompt = screen.find("assword: ", answeredUpTo);
        if (prompt != std::string::npos) {
            answeredUpTo = prompt + 9;
            const std::string line = answer + "\n";
            if (::write(terminal, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
                ++promptsAnswered;
        }
    }
    return screen;
}

class OnTerminal : public KpzTest {};

TEST_F(OnTerminal, PasswordIsAskedTwiceWithoutEchoAndProgressIsShown) {
    const int probe = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) GTEST_SKIP() << "this machine offers no pseudo-terminals";
    ::close(probe);
    const auto data = audioLike(60000, 8);
    writeBytes(path("a.wav"), data);
    // A large sparse source keeps the coder busy long enough for progress updates.
    {
        const int fd = ::open(path("long.raw").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{768} << 20), 0);
        ::close(fd);
    }
    int terminal = -1;
    const pid_t pid = startOnTerminal({"-p", "a.wav", "long.raw"}, terminal);
    ASSERT_GT(pid, 0);
    int prompts = 0;
    const std::string screen = converse(terminal, "s3cret-word", prompts);
    ::close(terminal);
    const RunResult r = waitFor(pid);
    ASSERT_EQ(r.exitCode, 0) << screen;
    EXPECT_EQ(prompts, 2) << screen;
    EXPECT_NE(screen.find("Repeat password: "), std::string::npos) << screen;
    EXPECT_EQ(screen.find("s3cret-word"), std::string::npos) << "the password was echoed";
    EXPECT_NE(screen.find("MB/s"), std::string::npos) << screen;
    EXPECT_NE(screen.find("left"), std::string::npos) << screen;

    // The typed password is the one that protects the file.
    ASSERT_EQ(readBytes(path("a.kpz")).at(0), '?');
    ::unlink(path("a.wav").c_str());
    const RunResult restored = run({"-d", "a.kpz"}, passwordInEnvironment("s3cret-word"));
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(readBytes(path("a.wav")), data);
}

} // namespace
