// SPDX-License-Identifier: BSD-3-Clause
// The check trailer's bytes and its hash. XXH3 comes from the xxHash header, compiled in
// here (XXH_INLINE_ALL), so the codec needs no library at run time and builds the same on
// every system the header supports.
#include "check_trailer.h"

#include "kernels.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <cstring>
#include <new>

namespace kpz {

#if defined(KPZ_HASH_AVX2)
namespace detail {
void updateHashAvx2(void* state, const void* data, size_t size);
}
#endif

namespace {
constexpr uint8_t kMagic[4] = {'K', 'P', 'Z', 'c'};
constexpr uint8_t kVersion = 1;
} // namespace

void encodeTrailer(uint64_t hash, uint8_t (&out)[kTrailerBytes]) {
    std::memset(out, 0, kTrailerBytes);
    std::memcpy(out, kMagic, 4);
    out[4] = kVersion;
    for (int i = 0; i < 8; ++i)
        out[8 + i] = static_cast<uint8_t>(hash >> (8 * i));
}

bool decodeTrailer(const uint8_t* bytes, size_t size, uint64_t& hash) {
    if (size != kTrailerBytes || std::memcmp(bytes, kMagic, 4) != 0 || bytes[4] != kVersion ||
        bytes[5] != 0 || bytes[6] != 0 || bytes[7] != 0)
        return false;
    hash = 0;
    for (int i = 0; i < 8; ++i)
        hash |= static_cast<uint64_t>(bytes[8 + i]) << (8 * i);
    return true;
}

struct ContentHash::State {
    XXH3_state_t xxh;
};

ContentHash::ContentHash() : state_(new State) {
    reset();
}

ContentHash::~ContentHash() {
    delete state_;
}

void ContentHash::reset() {
    XXH3_64bits_reset(&state_->xxh);
}

void ContentHash::add(const void* data, size_t size) {
#if defined(KPZ_HASH_AVX2)
    // The same kernels choice as the block coder's, so choosing the portable ones covers both.
    if (activeKernels() == Kernels::Avx2) {
        detail::updateHashAvx2(&state_->xxh, data, size);
        return;
    }
#endif
    XXH3_64bits_update(&state_->xxh, data, size);
}

uint64_t ContentHash::value() const {
    return XXH3_64bits_digest(&state_->xxh);
}

} // namespace kpz
