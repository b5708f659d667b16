// SPDX-License-Identifier: BSD-3-Clause
// Messages to the user on stderr, in the form "kpz: FILE: message", and the end of stdout.
#include "report.h"

#include "terminal.h"
#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kpzcli {

void Reporter::emit(std::string_view text) const {
    if (buffer_) {
        buffer_->append(text);
        return;
    }
    // A progress line may be on screen; wipe it so the message starts at the margin.
    clearProgressLine();
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void Reporter::error(std::string_view file, std::string_view message) const {
    std::string text = "kpz: ";
    text.append(kpz::displayText(file)).append(": ").append(message).append("\n");
    emit(text);
}

void Reporter::error(std::string_view message) const {
    std::string text = "kpz: ";
    text.append(message).append("\n");
    emit(text);
}

void Reporter::warning(std::string_view message) const {
    if (verbosity_ >= 1) error("warning: " + std::string(message));
}

void Reporter::info(std::string_view file, std::string_view message) const {
    if (verbosity_ >= 2) error(file, message);
}

std::string ratioText(uint64_t compressed, uint64_t original) {
    if (original == 0) return "--";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(compressed) / original);
    return text;
}

std::string systemError(int errorNumber) {
    return std::strerror(errorNumber);
}

namespace {

int firstStdoutError = 0;

} // namespace

void flushStandardOutput() {
    if (std::fflush(stdout) != 0 && firstStdoutError == 0) firstStdoutError = errno;
}

int finishStandardOutput(bool wroteData) {
    flushStandardOutput();
    if (std::ferror(stdout) && firstStdoutError == 0) firstStdoutError = EIO;
    // With nothing left to write, the only way fclose fails on a stdout closed from the
    // start is EBADF from close(), and then nothing was lost. Nor is anything lost when
    // the run wrote nothing there, whatever close() says.
    errno = 0;
    if (std::fclose(stdout) != 0 && wroteData && errno != EBADF && firstStdoutError == 0)
        firstStdoutError = errno != 0 ? errno : EIO;
    return firstStdoutError;
}

} // namespace kpzcli
