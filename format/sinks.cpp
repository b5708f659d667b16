// SPDX-License-Identifier: BSD-3-Clause
// A decoder destination that compares the restored bytes with the original file.
#include "sinks.h"

#include <algorithm>
#include <cstring>

namespace kpz {

namespace {
constexpr uint32_t kComparePiece = 64 * 1024;
}

ComparingSink::ComparingSink(Stream& reference, uint64_t expectedSize, bool* stop)
    : reference_(reference), expected_(expectedSize), stop_(stop), buffer_(kComparePiece) {}

uint32_t ComparingSink::write(const void* data, uint32_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint64_t wanted = std::min<uint64_t>(count, expected_ - compared_);
    while (wanted > 0 && !differs_) {
        const auto piece = static_cast<uint32_t>(std::min<uint64_t>(wanted, kComparePiece));
        const int32_t got = reference_.read(buffer_.data(), piece);
        if (got < 0) readFailed_ = true;
        if (got != static_cast<int32_t>(piece) || std::memcmp(buffer_.data(), bytes, piece) != 0)
            differs_ = true;
        compared_ += piece;
        bytes += piece;
        wanted -= piece;
    }
    if (differs_ && stop_) *stop_ = true;
    return count;
}

bool ComparingSink::matched() {
    if (differs_ || compared_ != expected_) return false;
    uint8_t extra;
    const int32_t got = reference_.read(&extra, 1);
    if (got < 0) readFailed_ = true;
    return got == 0;
}

} // namespace kpz
