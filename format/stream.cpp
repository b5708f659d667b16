// SPDX-License-Identifier: BSD-3-Clause
// In-memory stream.
#include "stream.h"

#include <algorithm>
#include <cstring>

namespace kpz {

int32_t MemoryStream::read(void* buffer, uint32_t count) {
    size_t available = data.size() - std::min(readPosition, data.size());
    size_t n = std::min<size_t>(count, available);
    if (n) std::memcpy(buffer, data.data() + readPosition, n);
    readPosition += n;
    return static_cast<int32_t>(n);
}

uint32_t MemoryStream::write(const void* bytes, uint32_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), p, p + count);
    return count;
}

int32_t ByteReader::read(void* buffer, uint32_t count) {
    const size_t n = std::min<size_t>(count, size_ - position_);
    if (n) std::memcpy(buffer, bytes_ + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
}

} // namespace kpz
