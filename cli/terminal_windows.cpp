// SPDX-License-Identifier: BSD-3-Clause
// The console on Windows: the progress line on stderr and the password prompt on the
// console itself (CONIN$ and CONOUT$), with echo off while the password is typed.
#include "terminal.h"

#include "host.h"
#include "progress_text.h"

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

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void drawProgressLine(const std::string& line) {
    std::fprintf(stderr, "\r%s%s", line.c_str(), eraseAfter(line).c_str());
    std::fflush(stderr);
    progressLineVisible = true;
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
