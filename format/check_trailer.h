// SPDX-License-Identifier: BSD-3-Clause
// The optional check trailer: a hash of the restored bytes stored after a payload's end
// pad. Decoders stop at the stored size and never read past the end pad, so a reader that
// knows nothing of the trailer skips it.
//
// Layout, 16 bytes:
//   0..3   "KPZc"
//   4      version, 1
//   5..7   zero
//   8..15  XXH3-64 of the restored bytes (the original file), least significant byte first
#pragma once

#include <cstddef>
#include <cstdint>

namespace kpz {

inline constexpr uint32_t kTrailerBytes = 16;

// Writes the trailer for a file whose bytes hash to hash.
void encodeTrailer(uint64_t hash, uint8_t (&out)[kTrailerBytes]);
// Whether bytes, exactly what follows a payload, are one trailer this version knows;
// hash receives its value then.
bool decodeTrailer(const uint8_t* bytes, size_t size, uint64_t& hash);

// XXH3-64 over bytes fed in pieces. The state is allocated once, when constructed.
class ContentHash {
  public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    void reset();
    void add(const void* data, size_t size);
    uint64_t value() const;

  private:
    struct State;
    State* state_;
};

} // namespace kpz
