// SPDX-License-Identifier: BSD-3-Clause
// The terminal: the progress line on stderr and the password prompt on /dev/tty.
#include "terminal.h"

#include "display_text.h"
#include "progress_text.h"

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

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

// Columns of the terminal stderr shows on, or 0 when it cannot tell; asked at every
// redraw, so a resized window gets lines of its new width.
int terminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

std::string clockText(double seconds) {
    if (seconds < 0 || seconds > 99 * 3600.0) return "--:--";
    const auto total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

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

void ProgressMeter::start(const std::string& label, uint64_t total) {
    if (!enabled_) return;
    reported_ = 0;
    label_ = kpz::displayText(label);
    total_ = total;
    started_ = lastDrawn_ = Clock::now();
    running_ = true;
}

void ProgressMeter::update(uint64_t done) {
    if (!running_) return;
    if (shared_) {
        if (done > total_) done = total_;
        if (done > reported_) shared_->fetch_add(done - reported_);
        reported_ = done;
        return;
    }
    const auto now = Clock::now();
    // The first redraw waits too, so short files do not flicker a line at all.
    if (now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    if (done > total_) done = total_;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double percent = total_ ? 100.0 * static_cast<double>(done) / total_ : 100.0;
    const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : -1;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%5.1f%%  %7.1f MB/s  %s left", percent, rate / 1e6,
                  clockText(left).c_str());
    const std::string line = progressLine(label_, numbers, terminalColumns());
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    progressLineVisible = true;
}

void ProgressMeter::finish() {
    if (!running_) return;
    running_ = false;
    if (shared_) {
        // Whatever the file did not report counts as handled once it is over.
        if (total_ > reported_) shared_->fetch_add(total_ - reported_);
        return;
    }
    clearProgressLine();
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
