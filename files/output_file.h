// SPDX-License-Identifier: BSD-3-Clause
// How every output is written: under a name nobody can predict or address, and under its
// final name only once it is complete. An existing file under the final name stays as it
// was until then, whatever fails in between.
#pragma once

#include "file.h"
#include "file_info.h"

#include <functional>
#include <string>

namespace kpz {

// What lies under an output's final name before anything is written.
enum class OutputTarget {
    Absent,     // nothing: the output will be new
    File,       // a regular file (or a symbolic link, which is replaced, never followed)
    Folder,     // refused
    Special,    // a FIFO, device or socket: refused, without opening it
    Unreadable, // the folder could not be searched; errno tells why
};
OutputTarget inspectOutput(const std::string& finalPath);

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates an empty output for finalPath without giving it a name: an unnamed file in
    // finalPath's folder where the file system has them, otherwise a new file under a
    // random name there, opened exclusively. False with errno set on failure.
    bool create(const std::string& finalPath);

    File& file() { return file_; }
    bool isOpen() const { return file_.isOpen(); }
    // Opens the output for reading from its start, before it is committed (for
    // verification). Nothing may be written to the output after this.
    bool openReader(File& reader) const;

    struct Attributes {
        bool copy = false; // give the output from's permission bits and times
        FileInfo from;
        bool durable = false; // the output and its folder on disk before commit returns
    };

    enum class Commit {
        Done,
        Exists,      // a file is under the name and replace was not given: kept
        Failed,      // nothing was named, and an existing file is untouched
        NamedUnsure, // the output has its name, but a flush or close after it failed
    };
    // Gives the output its final name, once every check that can fail has passed: the
    // output flushed to disk first when it replaces a file or attributes.durable is set
    // (the folder too then, after the name). Without replace an existing file is kept
    // (Exists). error receives errno for Failed and NamedUnsure; on Failed the output is
    // removed and an existing file is untouched.
    Commit commit(bool replace, const Attributes& attributes, int& error);

    // Closes and removes the output, if any.
    void discard();

  private:
    // Tries random names in folder until take(name) succeeds, or fails otherwise than by
    // the name being taken (errno tells); the name taken becomes tempPath_.
    bool takeRandomName(const std::string& folder,
                        const std::function<bool(const std::string&)>& take);
    // Makes the output one that outlives its close: an unnamed one takes a random name,
    // a named one marked to drop on close loses the mark.
    bool keepWhenClosed();

    File file_;
    std::string finalPath_;
    std::string tempPath_;      // set when the output has a (random) name of its own
    bool dropsOnClose_ = false; // the system removes the output when it is closed
};

// Removes every named temporary output still in progress; for the handlers of signals
// that end the program. Unnamed outputs need nothing: the system drops them.
void removePendingOutputs();

} // namespace kpz
