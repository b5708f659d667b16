// SPDX-License-Identifier: BSD-3-Clause
// The console on Windows: the progress line on stderr and the password prompt on the
// console itself (CONIN$ and CONOUT$), with echo off while the password is typed.
#include "terminal.h"

#include "display_text.h"
#include "progress_text.h"
#include "windows_text.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

namespace kpzcli {

namespace {

bool progressLineVisible = false;

// Prompt state that the console handler needs to put echo back.
volatile LONG echoDisabled = 0;
HANDLE promptInput = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
// Whether stderr's console takes "\033[K" (erase to the end of the line).
bool consoleErases = false;

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
// Columns of the console stderr shows on, or 0 when it cannot tell; asked at every
// redraw, so a resized window gets lines of its new width.
int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
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

void writeConsole(HANDLE console, const std::string& utf8) {
    std::wstring wide;
    if (!kpz::win::widen(utf8, wide)) return;
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// What follows text on the line: an erase to the end where the console knows the
// sequence, else blanks over the rest of a line of the console's width.
std::string eraseAfter(const std::string& text) {
    if (consoleErases) return "\033[K";
    const size_t columns = static_cast<size_t>(terminalColumns());
    const size_t used = displayWidth(text);
    return columns > used + 1 ? std::string(columns - used - 1, ' ') : std::string();
}

} // namespace

bool progressWanted(int verbosity) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (verbosity < 1 || !GetConsoleMode(err, &mode)) return false;
    consoleErases = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                    SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}

void clearProgressLine() {
    if (!progressLineVisible) return;
    std::fputs(("\r" + eraseAfter("") + "\r").c_str(), stderr);
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
    std::fprintf(stderr, "\r%s%s", line.c_str(), eraseAfter(line).c_str());
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
    const HANDLE in =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE out =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD original = 0;
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE ||
        !GetConsoleMode(in, &original)) {
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        error = "no terminal to ask for the password on (use --password-file or KPZ_PASSWORD)";
        return std::nullopt;
    }
    savedInputMode = original;
    promptInput = in;
    echoDisabled = 1;
    SetConsoleMode(in, (original & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                           ENABLE_PROCESSED_INPUT);
    clearProgressLine();
    writeConsole(out, prompt);

    std::wstring line;
    bool gotNewline = false;
    for (;;) {
        wchar_t c;
        DWORD n = 0;
        if (!ReadConsoleW(in, &c, 1, &n, nullptr) || n == 0) break;
        if (c == L'\n') {
            gotNewline = true;
            break;
        }
        if (c != L'\r') line += c;
    }
    SetConsoleMode(in, original);
    echoDisabled = 0;
    promptInput = INVALID_HANDLE_VALUE;
    // Echo was off, so the line end typed did not show.
    writeConsole(out, "\r\n");
    CloseHandle(in);
    CloseHandle(out);
    if (!gotNewline && line.empty()) {
        error = "no password entered";
        return std::nullopt;
    }
    return kpz::win::narrow(line);
}

void restoreTerminalAfterSignal() {
    if (echoDisabled && promptInput != INVALID_HANDLE_VALUE)
        SetConsoleMode(promptInput, savedInputMode);
}

} // namespace kpzcli
