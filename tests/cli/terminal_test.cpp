// SPDX-License-Identifier: BSD-3-Clause
// kpz on a real (pseudo-)terminal: the password prompt without echo, and the progress line.
#include "kpz_harness.h"
#include "progress_text.h"

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

bool havePseudoTerminals() {
    const int probe = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) return false;
    ::close(probe);
    return true;
}

class OnTerminal : public KpzTest {};

TEST(ProgressLine, FitsTheWidthGivenWithoutSplittingCharacters) {
    const std::string numbers = " 42.0%    512.0 MB/s  0:03 left"; // 31 columns
    const std::string wide = "録音/交響曲第九番の第四楽章.wav";    // 2 columns a character
    struct Case {
        const char* label;
        std::string name;
        int columns;
        std::string expected; // empty: only the width is checked
    };
    const Case cases[] = {
        {"RoomEnough", "song.wav", 80, "kpz: song.wav  " + numbers},
        {"PathKeepsItsEnd", "music/albums/2026/live/track-07.wav", 50,
         "kpz: ...k-07.wav  " + numbers},
        {"WideCharacters", wide, 50, ""},
        {"NumbersGiveWay", "song.wav", 30, "kpz: song.wav   42.0%    512."},
        {"UnknownWidth", std::string(60, 'x'), 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string line = kpzcli::progressLine(c.name, numbers, c.columns);
        const size_t room = c.columns > 0 ? static_cast<size_t>(c.columns) - 1 : 5 + 40 + 2 + 31;
        EXPECT_LE(kpzcli::displayWidth(line), room) << line;
        if (!c.expected.empty()) {
            EXPECT_EQ(line, c.expected);
        }
    }
    // A cut never falls inside a character: what is kept of the wide name is its end.
    const std::string line = kpzcli::progressLine(wide, numbers, 50);
    const std::string kept = line.substr(5, line.find("  ") - 5);
    EXPECT_EQ(kept.rfind("...", 0), 0u) << line;
    EXPECT_EQ(wide.substr(wide.size() - (kept.size() - 3)), kept.substr(3));
    EXPECT_EQ(kpzcli::displayWidth(wide), 2 * 13 + 5);
}

TEST_F(OnTerminal, ProgressLineIsShownAndNeverWraps) {
    if (!havePseudoTerminals()) GTEST_SKIP() << "this machine offers no pseudo-terminals";
    // Testing standard input that arrives slowly keeps kpz busy past the first redraws on
    // any machine. The name cut is shown by the table above; here the figures give way.
    writeBytes(path("a.wav"), audioLike(4000000, 3));
    ASSERT_EQ(run({"a.wav"}).exitCode, 0);
    const auto packed = readBytes(path("a.kpz"));
    for (const int columns : {30, 132}) {
        SCOPED_TRACE(columns);
        int terminal = -1;
        const pid_t pid = startOnTerminal({"-t", "-"}, terminal, columns, &packed);
        ASSERT_GT(pid, 0);
        int prompts = 0;
        const std::string screen = converse(terminal, "", prompts);
        ::close(terminal);
        const RunResult r = waitFor(pid);
        ASSERT_EQ(r.exitCode, 0) << screen;
        // The figures lose their tail before the line would wrap; a wide terminal has all.
        ASSERT_NE(screen.find("MB/s"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("left") != std::string::npos, columns > 30) << screen;
        // Each redraw starts with a carriage return and ends by clearing the rest of the line.
        size_t at = 0, lines = 0;
        while ((at = screen.find("\rkpz: ", at)) != std::string::npos) {
            const size_t end = screen.find("\033[K", at);
            ASSERT_NE(end, std::string::npos);
            EXPECT_LE(kpzcli::displayWidth(screen.substr(at + 1, end - at - 1)),
                      static_cast<size_t>(columns - 1));
            at = end;
            ++lines;
        }
        EXPECT_GT(lines, 0u) << screen;
    }
}

TEST_F(OnTerminal, PasswordIsAskedTwiceWithoutEcho) {
    if (!havePseudoTerminals()) GTEST_SKIP() << "this machine offers no pseudo-terminals";
    const auto data = audioLike(60000, 8);
    writeBytes(path("a.wav"), data);
    int terminal = -1;
    const pid_t pid = startOnTerminal({"-p", "a.wav"}, terminal);
    ASSERT_GT(pid, 0);
    int prompts = 0;
    const std::string screen = converse(terminal, "s3cret-word", prompts);
    ::close(terminal);
    const RunResult r = waitFor(pid);
    ASSERT_EQ(r.exitCode, 0) << screen;
    EXPECT_EQ(prompts, 2) << screen;
    EXPECT_NE(screen.find("Repeat password: "), std::string::npos) << screen;
    EXPECT_EQ(screen.find("s3cret-word"), std::string::npos) << "the password was echoed";

    // The typed password is the one that protects the file.
    ASSERT_EQ(readBytes(path("a.kpz")).at(0), '?');
    ::unlink(path("a.wav").c_str());
    const RunResult restored = run({"-d", "a.kpz"}, passwordInEnvironment("s3cret-word"));
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(readBytes(path("a.wav")), data);
}

} // namespace
