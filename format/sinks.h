// SPDX-License-Identifier: BSD-3-Clause
// Destinations for the decoder that write no file: one that only counts (for -t) and one
// that compares with the original (for --verify).
#pragma once

#include "stream.h"

#include <cstdint>
#include <vector>

namespace kpz {

// Accepts and counts everything.
class CountingSink final : public Stream {
  public:
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void*, uint32_t count) override {
        written += count;
        return count;
    }
    uint64_t written = 0;
};

// Compares the first expectedSize bytes written with the bytes read from reference, in
// pieces, so memory stays bounded whatever the file size. The decoder may write a little
// past the original length (the rest of the last block); that part is not compared. On
// the first difference it sets *stop, so decoding ends early.
class ComparingSink final : public Stream {
  public:
    ComparingSink(Stream& reference, uint64_t expectedSize, bool* stop);

    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override;

    // True when every expected byte arrived and matched and the reference has no more.
    bool matched();
    bool referenceReadFailed() const { return readFailed_; }

  private:
    Stream& reference_;
    uint64_t expected_;
    uint64_t compared_ = 0;
    bool differs_ = false;
    bool readFailed_ = false;
    bool* stop_;
    std::vector<uint8_t> buffer_;
};

} // namespace kpz
