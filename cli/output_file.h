// Outputs are written under a temporary name in their destination folder and renamed to
// their final name only when complete, so a final name never holds a partial file.
#pragma once

#include "file_io.h"
#include "report.h"

#include <string>
#include <sys/stat.h>

namespace kpzcli {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new, empty temporary file in folder. On failure errno tells why.
    bool create(const std::string& folder);

    // Checks that the output made from input may go to destination, then creates the
    // temporary file beside destination. Refuses, reporting why, when destination is input
    // itself (also through a link), a folder, or an existing file while replace is off.
    bool openFor(const std::string& input, const std::string& destination, bool replace,
                 const Reporter& report);

    kpz::File& file() { return file_; }
    const std::string& temporaryPath() const { return tempPath_; }

    // Gives the file the permission bits and times of attributes, flushes it to disk and
    // renames it to finalPath. Without replace an existing finalPath is kept and the
    // commit fails. On failure the temporary file is removed and error says why.
    bool commit(const std::string& finalPath, const struct stat& attributes, bool replace,
                std::string& error);

    // Closes and removes the temporary file, if any.
    void discard();

  private:
    kpz::File file_;
    std::string tempPath_;
};

// Makes SIGINT, SIGTERM and SIGHUP remove every temporary file in progress and put terminal
// echo back before the program ends by that signal. Call before starting any thread.
void installCleanupHandlers();

} // namespace kpzcli
