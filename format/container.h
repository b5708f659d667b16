// SPDX-License-Identifier: BSD-3-Clause
// The container header in front of every payload, and the naming rules for outputs.
#pragma once

#include "stream.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kpz {

inline constexpr uint8_t kMarkerPlain = 0x43;    // 'C': payload stored as coded
inline constexpr uint8_t kMarkerPassword = 0x3F; // '?': payload words XORed with the code
inline constexpr uint32_t kMaxNameLength = 255;
inline constexpr uint32_t kHeaderFixedBytes = 9; // marker, size and name length

struct Header {
    bool passwordOn = false;
    uint32_t originalSize = 0;
    uint32_t nameLength = 0; // as stored
    std::string storedName;  // raw stored bytes, up to the first zero byte
};

enum class HeaderStatus { Ok, UnknownFormat, ReadError };

// Reads and checks a header. A missing or unknown marker, a header that ends early and a
// name length above 255 are UnknownFormat; nothing past the fixed part is read then.
HeaderStatus readHeader(Stream& in, Header& header);

// Writes the header; returns false if any part was stored short.
bool writeHeader(Stream& out, bool passwordOn, uint32_t originalSize, std::string_view name);

// The part of a path after its last separator ("/", and the "\" and ":" of stored names).
std::string_view namePart(std::string_view path);

// The source path with its extension replaced by ".kpz", or ".kpz" appended when the
// name part has no dot.
std::string compressedName(std::string_view sourcePath);

// Turns a stored name into a safe file name for this system: its name part, read as
// UTF-8 when valid and as Windows-1252 otherwise, cut to 255 bytes (keeping a short
// extension) when longer. Empty for names that cannot name a file in a folder ("", "."
// and "..").
std::string safeOutputName(std::string_view storedName);

// The bytes to store for a source's name (UTF-8 on this system), with separators, the drive
// colon and control characters replaced by "_" so that it restores under the same name on
// Linux and Windows: Windows-1252 when every
// character has a byte there and the result cannot be mistaken for UTF-8 when read back,
// so files restore under the same name on systems that use that character set; the UTF-8
// bytes otherwise, which safeOutputName reads back unchanged.
std::string storedNameFor(std::string_view utf8Name);

// Smallest payload, in bytes, that can hold the blocks for originalSize source bytes.
uint64_t minimumPayloadBytes(uint32_t originalSize);

// Largest source the 32-bit header can describe.
inline constexpr uint64_t kMaxSourceSize = 0xFFFFFFFFull;

} // namespace kpz
