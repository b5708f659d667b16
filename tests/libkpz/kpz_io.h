// SPDX-License-Identifier: BSD-3-Clause
// What the libkpz tests share: files and folders, the caller's functions over memory,
// pipes fed or drained by a thread, and a reader read to its end.
#pragma once

#include "kpz.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace kpztest {

using Bytes = std::vector<uint8_t>;

// A new empty folder under $TMPDIR (or /tmp), removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string path(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
// The bytes from the descriptor's position to its end.
Bytes readDescriptor(int fd);

// Bytes behind the read, write and seek callbacks: reads come from in, writes go to out.
// most caps what one read or write takes, to exercise short ones (0: no cap).
struct MemoryIo {
    const Bytes* in = nullptr;
    size_t position = 0;
    size_t most = 0;
    Bytes out;
};
int64_t memoryRead(void* io, void* buffer, size_t size);
int64_t memoryWrite(void* io, const void* data, size_t size);
int64_t memorySeek(void* io, int64_t offset, int whence);

// A pipe whose writing end a thread fills with bytes (which must outlive the feed) and then
// closes. The thread blocks SIGPIPE for itself, so a reader that stops early does not end
// the test.
class PipeFeed {
  public:
    explicit PipeFeed(const Bytes& bytes);
    ~PipeFeed();
    PipeFeed(const PipeFeed&) = delete;
    PipeFeed& operator=(const PipeFeed&) = delete;
    int fd() const { return read_; }

  private:
    int read_ = -1;
    std::thread writer_;
};

// A pipe whose reading end a thread drains into memory.
class PipeDrain {
  public:
    PipeDrain();
    ~PipeDrain();
    PipeDrain(const PipeDrain&) = delete;
    PipeDrain& operator=(const PipeDrain&) = delete;
    int fd() const { return write_; }
    // Closes the writing end and gives what came through.
    Bytes finish();

  private:
    int write_ = -1;
    std::thread reader_;
    Bytes got_;
};

// Reads a reader to its end in pieces of step bytes; the last result (0 at the end, or
// an error code) goes to *last.
Bytes readToEnd(kpz_reader* reader, int64_t* last, size_t step = 1 << 20);

} // namespace kpztest
