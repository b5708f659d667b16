// SPDX-License-Identifier: BSD-3-Clause
// Byte streams the codec reads from and writes to: files on disk, or memory in tests and
// benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kpz {

// What the codec needs of an open file. read() fills as much of the request as the
// stream holds (a short count means end of data) and returns -1 on error; write()
// returns how many bytes were stored.
class Stream {
  public:
    virtual ~Stream() = default;
    virtual int32_t read(void* buffer, uint32_t count) = 0;
    virtual uint32_t write(const void* data, uint32_t count) = 0;
};

// A growable in-memory stream: reads from the front, appends on write.
class MemoryStream final : public Stream {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> contents) : data(std::move(contents)) {}
    int32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void* bytes, uint32_t count) override;

    std::vector<uint8_t> data;
    size_t readPosition = 0;
};

// Reads bytes that the caller owns and keeps alive, without copying them first; refuses
// every write.
class ByteReader final : public Stream {
  public:
    ByteReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
    int32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void*, uint32_t) override { return 0; }
    size_t position() const { return position_; }

  private:
    const uint8_t* bytes_;
    size_t size_;
    size_t position_ = 0;
};

} // namespace kpz
