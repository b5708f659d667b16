// SPDX-License-Identifier: BSD-3-Clause
#include "memory_jobs.h"

#include "check_trailer.h"
#include "container.h"
#include "memory_codec.h"

#include <string>

namespace kpz {

static_assert(kCheckValueBytes == kTrailerBytes);
static_assert(kShortestCheckedFile == kHeaderFixedBytes + 4 + kTrailerBytes);

Outcome checkMemorySource(uint64_t size, std::string_view name) {
    if (size > kMaxSourceSize) return Outcome{Problem::TooLarge, 0, {}};
    if (storedNameFor(name).size() > kMaxNameLength) return Outcome{Problem::NameTooLong, 0, {}};
    return {};
}

std::vector<uint8_t> compressMemory(CodecState& s, const uint8_t* bytes, size_t size,
                                    std::string_view name, const Password& password,
                                    bool withCheck) {
    std::vector<uint8_t> file =
        compressToMemory(s, std::vector<uint8_t>(bytes, bytes + size), storedNameFor(name),
                         password.given, password.code);
    if (withCheck) {
        ContentHash hash;
        hash.add(bytes, size);
        uint8_t trailer[kTrailerBytes];
        encodeTrailer(hash.value(), trailer);
        file.insert(file.end(), trailer, trailer + kTrailerBytes);
    }
    return file;
}

bool isCheckValue(const uint8_t* bytes, size_t size) {
    uint64_t hash = 0;
    return decodeTrailer(bytes, size, hash);
}

bool endsWithCheckValue(const uint8_t* file, size_t size) {
    return size >= kCheckValueBytes &&
           isCheckValue(file + size - kCheckValueBytes, kCheckValueBytes);
}

} // namespace kpz
