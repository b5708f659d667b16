// SPDX-License-Identifier: BSD-3-Clause
// The terminal: the progress line on stderr and the password prompt on /dev/tty.
#include "terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kpzcli {

namespace {

bool progressLineVisible = false;

// Prompt state that the signal handler needs to put echo back.
volatile sig_atomic_t echoDisabled = 0;
int promptFd = -1;
struct termios savedTermios {};

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

bool progressWanted(int verbosity) {
    return verbosity >= 1 && ::isatty(STDERR_FILENO) == 1;
}

void clearProgressLine() {
    if (!progressLineVisible) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressLineVisible = false;
}

int terminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void drawProgressLine(const std::string& line) {
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    progressLineVisible = true;
}

std::optional<std::string> askPassword(const char* prompt, std::string& error) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "no terminal to ask for the password on (use --password-file or KPZ_PASSWORD)";
        return std::nullopt;
    }
    struct termios original {};
    const bool haveTermios = ::tcgetattr(fd, &original) == 0;
    if (haveTermios) {
        savedTermios = original;
        promptFd = fd;
        struct termios quiet = original;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        echoDisabled = 1;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    clearProgressLine();
    writeAll(fd, prompt, std::strlen(prompt));

    std::string line;
    bool gotNewline = false;
    for (;;) {
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (c == '\n') {
            gotNewline = true;
            break;
        }
        line += c;
    }
    if (haveTermios) {
        ::tcsetattr(fd, TCSAFLUSH, &original);
        echoDisabled = 0;
        promptFd = -1;
    }
    if (!gotNewline) writeAll(fd, "\n", 1);
    ::close(fd);
    if (!gotNewline && line.empty()) {
        error = "no password entered";
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void restoreTerminalAfterSignal() {
    if (echoDisabled && promptFd >= 0) ::tcsetattr(promptFd, TCSANOW, &savedTermios);
}

} // namespace kpzcli
