// SPDX-License-Identifier: BSD-3-Clause
// Messages to the user on stderr, in the form "kpz: FILE: message", and the end of stdout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kpzcli {

class Reporter {
  public:
    explicit Reporter(int verbosity) : verbosity_(verbosity) {}
    // A reporter that collects its messages in buffer instead of printing them, so that
    // files handled side by side can still be reported in the order they were given.
    Reporter(int verbosity, std::string* buffer) : verbosity_(verbosity), buffer_(buffer) {}

    // A failure of one file: always shown. file is shown through kpz::displayText, so any
    // name may be passed as it is; a name inside message must be passed through it first.
    void error(std::string_view file, std::string_view message) const;
    // A failure not tied to a file: always shown.
    void error(std::string_view message) const;
    // Something the user may want to know, shown as "kpz: warning: message", hidden by -q.
    void warning(std::string_view message) const;
    // A per-file report shown with -v; file is shown as in error.
    void info(std::string_view file, std::string_view message) const;

    int verbosity() const { return verbosity_; }

  private:
    void emit(std::string_view text) const;

    int verbosity_;
    std::string* buffer_ = nullptr;
};

// Compressed size as a percentage of the original ("62.4%"), or "--" for an empty original.
std::string ratioText(uint64_t compressed, uint64_t original);

// The text of errno, for messages about system calls.
std::string systemError(int errorNumber);

// Flushes stdout, remembering the first failed write so that finishStandardOutput can
// still report it after later writes.
void flushStandardOutput();

// Flushes and closes stdout at the end of the run. Returns 0, or the error number of the
// first write to it that failed. A stdout that was closed from the start counts as a
// failure only when something was written to it; a failure of the final close counts
// only when wroteData says the run sent data there.
int finishStandardOutput(bool wroteData);

} // namespace kpzcli
