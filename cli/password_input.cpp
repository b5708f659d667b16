// Where the password comes from: the terminal (-p), a file (--password-file) or the
// environment variable KPZ_PASSWORD.
#include "password_input.h"

#include "password.h"
#include "terminal.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>

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

std::optional<std::string> fromFile(const std::string& path, const Reporter& report) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        report.error(path, "couldn't read the password file (" + systemError(errno) + ")");
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (in.bad()) {
        report.error(path, "couldn't read the password file");
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace

bool obtainPassword(const Options& options, const Reporter& report, Password& password) {
    password = {};
    // Listing reads only headers, which are never scrambled.
    if (options.mode == Mode::List) return true;
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
    if (characterCount(*text) > static_cast<size_t>(kpz::kMaxPasswordLength))
        report.warning("only the first 16 characters of the password are used");
    password.given = true;
    password.code = kpz::passwordCodeUtf8(*text);
    return true;
}

} // namespace kpzcli
