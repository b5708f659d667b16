// SPDX-License-Identifier: BSD-3-Clause
// Files as the program reads and writes them: the File class over a system descriptor, a
// file's identity on disk, and the small operations on names (exists, remove).
#pragma once

#include "stream.h"

#include <compare>
#include <cstdint>
#include <string>

namespace kpz {

class File final : public Stream {
  public:
    File() = default;
    ~File() override;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading.
    bool openRead(const std::string& path);
    // Creates or truncates a file for writing, with the usual permissions under the umask.
    bool create(const std::string& path, unsigned mode = 0666);
    // Creates a new file for writing; fails if the name exists (used for temporary files).
    bool createNew(const std::string& path, unsigned mode = 0600);

    // Creates an unnamed file for reading and writing in the folder for temporary files
    // ($TMPDIR, else /tmp); the system drops it when it is closed.
    bool createTemporary();
    // Another descriptor on the file other has open, reading from its start. The two share
    // one offset, so other must not be read while this one is.
    bool duplicate(const File& other);
    // Moves back to the start, for reading what was written.
    bool rewind();

    // Takes over an open descriptor, for reading or for writing from its current offset.
    void adopt(int fd, bool forWriting);
    // Opens a copy of a descriptor the caller keeps (standard input or output), so that
    // closing this file leaves the caller's open.
    bool adoptCopy(int fd, bool forWriting);
    // Reads count bytes at offset without moving the file's position; the bytes read, or
    // -1 on error.
    int64_t readAt(uint64_t offset, void* buffer, uint32_t count);
    // Writes all of data at offset without moving the file's position, unless the device
    // refuses; returns the bytes stored. Takes no part in the fault plan.
    uint32_t writeAt(uint64_t offset, const void* data, uint32_t count);
    // Bytes from the start of the file to the current position, or -1 (a pipe).
    int64_t position() const;

    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // Reads until count bytes are in or the file ends; -1 on error.
    int32_t read(void* buffer, uint32_t count) override;
    // Writes all of data unless the device refuses; returns the bytes stored.
    uint32_t write(const void* data, uint32_t count) override;
    // Length of the open file in bytes, or -1.
    int64_t length() const;
    // Cuts or extends the open file to exactly size bytes.
    bool setLength(uint64_t size);
    // Closes the file; false when the system reports that buffered data was lost.
    bool close();

  private:
    // Takes fd (or -1) as a new file opened for writing from its start.
    bool startWriting(int fd);

    int fd_ = -1;
    bool writing_ = false;
    uint64_t writeOffset_ = 0;
};

// A file's place on disk (device and inode, or volume and file index): equal for two
// paths exactly when they name the same file.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    auto operator<=>(const FileIdentity&) const = default;
};
// The identity of the file at path, through links; false when it does not exist.
bool fileIdentity(const std::string& path, FileIdentity& id);

// The identity of the file open on descriptor fd; false when it cannot be told.
bool descriptorIdentity(int fd, FileIdentity& id);
// Whether two paths name the same file on disk (same device and inode). False when
// either does not exist.
bool sameFile(const std::string& a, const std::string& b);
bool fileExists(const std::string& path);
// Opens the null device onto any of the standard descriptors (0, 1, 2) that is closed, so
// that no file the program opens later takes their place and receives its messages or its
// output; each still refuses what the closed one refused. Called first thing in main().
void ensureStandardDescriptors();

// Removes a file (not a folder); false with errno set when that failed.
bool removeFile(const std::string& path);

} // namespace kpz
