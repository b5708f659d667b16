// SPDX-License-Identifier: BSD-3-Clause
// Where the password comes from: the terminal (-p), a file (--password-file) or the
// environment variable KPZ_PASSWORD.
#include "password_input.h"

#include "terminal.h"
#include "text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace kpzcli {

namespace {

size_t characterCount(const std::string& utf8) {
    size_t count = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::optional<std::string> fromTerminal(const Options& options, const Reporter& report) {
    std::string error;
    auto first = askPassword("Password: ", error);
    if (!first) {
        report.error(error);
        return std::nullopt;
    }
    // A typing error while compressing would lock the data away, so ask twice.
    if (options.mode == Mode::Compress) {
        auto second = askPassword("Repeat password: ", error);
        if (!second) {
            report.error(error);
            return std::nullopt;
        }
        if (*first != *second) {
            report.error("the passwords do not match");
            return std::nullopt;
        }
    }
    return first;
}

// Longest first line taken from a password file. Reading stops there, so a device or a
// huge file without a newline cannot fill the memory.
constexpr size_t kMaxPasswordLine = 4096;

std::optional<std::string> fromFile(const std::string& path, const Reporter& report) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        report.error(path, "couldn't read the password file (" + systemError(errno) + ")");
        return std::nullopt;
    }
    // One byte past the limit tells a line of exactly the limit from a longer one.
    std::string text(kMaxPasswordLine + 1, '\0');
    size_t have = 0;
    size_t lineEnd = std::string::npos;
    while (have < text.size() && lineEnd == std::string::npos) {
        const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            report.error(path, "couldn't read the password file (" + systemError(error) + ")");
            return std::nullopt;
        }
        if (n == 0) break;
        lineEnd = text.find('\n', have);
        if (lineEnd >= have + static_cast<size_t>(n)) lineEnd = std::string::npos;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    if (lineEnd == std::string::npos) {
        if (have > kMaxPasswordLine) {
            report.error(path, "the password file's first line is too long (more than " +
                                   std::to_string(kMaxPasswordLine) + " bytes)");
            return std::nullopt;
        }
        lineEnd = have;
    }
    text.resize(lineEnd);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

// Whether every character that makes the code (the first 16) has a Windows-1252 byte.
// The code is made from those bytes, and any other character, like a byte that is not
// UTF-8, counts as '?'; then the converted text no longer reads back as the start of the
// given one.
bool fitsWindows1252(const std::string& text) {
    const std::string bytes = kpz::utf8ToCp1252(text);
    return text.starts_with(kpz::cp1252ToUtf8(
        std::string_view(bytes).substr(0, static_cast<size_t>(kpz::kPasswordCharacters))));
}

} // namespace

bool obtainPassword(const Options& options, const Reporter& report, Password& password) {
    password = {};
    std::optional<std::string> text;
    if (options.prompt) {
        text = fromTerminal(options, report);
    } else if (!options.passwordFile.empty()) {
        text = fromFile(options.passwordFile, report);
    } else if (const char* env = std::getenv("KPZ_PASSWORD"); env && *env) {
        text = env;
    } else {
        return true;
    }
    if (!text) return false;
    if (text->empty()) {
        report.error("the password is empty");
        return false;
    }
    if (characterCount(*text) > static_cast<size_t>(kpz::kPasswordCharacters))
        report.warning("only the first 16 characters of the password are used");
    if (!fitsWindows1252(*text))
        report.warning("the password has characters outside Windows-1252; each counts as '?', "
                       "so other passwords may open these files");
    password.given = true;
    password.code = kpz::passwordCodeUtf8(*text);
    return true;
}

} // namespace kpzcli
