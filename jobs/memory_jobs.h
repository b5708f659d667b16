// SPDX-License-Identifier: BSD-3-Clause
// Whole compressed files made in memory from bytes the caller holds, and the check value
// that may follow a file's payload, as the front ends need them without a file on disk:
// the format layer's work, named here for the layers above it.
#pragma once

#include "codec_record.h"
#include "file_job.h"
#include "outcome.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kpz {

// The check value's length at the end of a file.
inline constexpr size_t kCheckValueBytes = 16;
// The shortest file that can end with a check value: the fixed header, the smallest
// payload and the check value.
inline constexpr uint64_t kShortestCheckedFile = 9 + 4 + kCheckValueBytes;

// Why size bytes stored under name cannot be compressed into one file (TooLarge,
// NameTooLong), or no problem.
Outcome checkMemorySource(uint64_t size, std::string_view name);

// The whole compressed file for size bytes at bytes, stored under name (in its stored
// form), protected by password when one is given, and followed by the check value of the
// bytes when withCheck. Call checkMemorySource first.
std::vector<uint8_t> compressMemory(CodecState& s, const uint8_t* bytes, size_t size,
                                    std::string_view name, const Password& password,
                                    bool withCheck);

// Whether bytes, exactly kCheckValueBytes long, are a check value this version knows.
bool isCheckValue(const uint8_t* bytes, size_t size);
// Whether the last bytes of a whole file of size bytes are a check value.
bool endsWithCheckValue(const uint8_t* file, size_t size);

} // namespace kpz
