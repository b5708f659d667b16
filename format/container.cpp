// SPDX-License-Identifier: BSD-3-Clause
// The container header and the naming rules for compressed and restored files.
#include "container.h"

#include "charset.h"

namespace kpz {

namespace {

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t getLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr std::string_view kSeparators = "/\\:";

// Longest file name, in bytes, that common file systems take.
constexpr size_t kMaxFileNameBytes = 255;

// Cuts a UTF-8 name to at most limit bytes on a character boundary, keeping a short
// extension, so that a long stored name still restores.
std::string shortenName(const std::string& name, size_t limit) {
    if (name.size() <= limit) return name;
    const size_t dot = name.rfind('.');
    const std::string extension =
        dot != std::string::npos && dot > 0 && name.size() - dot <= 32 ? name.substr(dot) : "";
    size_t keep = limit - extension.size();
    // Back up to the first byte of a character.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + extension;
}

// Replaces what cannot stand in a file name on every system the files travel to: the
// separators and drive colon, and control characters (C0, DEL and, in UTF-8, C1).
std::string portableName(std::string_view utf8Name) {
    std::string result;
    result.reserve(utf8Name.size());
    for (size_t i = 0; i < utf8Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8Name[i]);
        if (c == 0xC2 && i + 1 < utf8Name.size() &&
            static_cast<unsigned char>(utf8Name[i + 1]) < 0xA0) {
            result += '_'; // U+0080 to U+009F
            ++i;
        } else if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') {
            result += '_';
        } else {
            result += static_cast<char>(c);
        }
    }
    return result;
}

} // namespace

HeaderStatus readHeader(Stream& in, Header& header) {
    uint8_t fixed[kHeaderFixedBytes];
    int32_t n = in.read(fixed, 1);
    if (n < 0) return HeaderStatus::ReadError;
    if (n < 1 || (fixed[0] != kMarkerPlain && fixed[0] != kMarkerPassword))
        return HeaderStatus::UnknownFormat;
    n = in.read(fixed + 1, kHeaderFixedBytes - 1);
    if (n < 0) return HeaderStatus::ReadError;
    if (n < static_cast<int32_t>(kHeaderFixedBytes - 1)) return HeaderStatus::UnknownFormat;
    header.passwordOn = fixed[0] == kMarkerPassword;
    header.originalSize = getLe32(fixed + 1);
    header.nameLength = getLe32(fixed + 5);
    if (header.nameLength > kMaxNameLength) return HeaderStatus::UnknownFormat;
    char name[kMaxNameLength];
    n = header.nameLength ? in.read(name, header.nameLength) : 0;
    if (n < 0) return HeaderStatus::ReadError;
    if (static_cast<uint32_t>(n) < header.nameLength) return HeaderStatus::UnknownFormat;
    std::string_view stored(name, header.nameLength);
    header.storedName = std::string(stored.substr(0, stored.find('\0')));
    return HeaderStatus::Ok;
}

bool writeHeader(Stream& out, bool passwordOn, uint32_t originalSize, std::string_view name) {
    const uint8_t marker = passwordOn ? kMarkerPassword : kMarkerPlain;
    uint8_t size[4], length[4];
    putLe32(size, originalSize);
    putLe32(length, static_cast<uint32_t>(name.size()));
    bool ok = out.write(&marker, 1) == 1;
    ok = out.write(size, 4) == 4 && ok;
    ok = out.write(length, 4) == 4 && ok;
    if (!name.empty())
        ok = out.write(name.data(), static_cast<uint32_t>(name.size())) == name.size() && ok;
    return ok;
}

std::string_view namePart(std::string_view path) {
    const size_t cut = path.find_last_of(kSeparators);
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string compressedName(std::string_view sourcePath) {
    const size_t cut = sourcePath.find_last_of(".\\/:");
    std::string result(sourcePath);
    if (cut != std::string_view::npos && sourcePath[cut] == '.') result.resize(cut);
    return result + ".kpz";
}

std::string safeOutputName(std::string_view storedName) {
    const std::string_view name = namePart(storedName);
    if (name.empty() || name == "." || name == "..") return {};
    return shortenName(isValidUtf8(name) ? std::string(name) : cp1252ToUtf8(name),
                       kMaxFileNameBytes);
}

std::string storedNameFor(std::string_view name) {
    const std::string utf8Name = portableName(name);
    if (!isValidUtf8(utf8Name)) return utf8Name;
    std::string narrow = utf8ToCp1252(utf8Name);
    if (cp1252ToUtf8(narrow) == utf8Name && !isValidUtf8(narrow)) return narrow;
    return utf8Name;
}

uint64_t minimumPayloadBytes(uint32_t originalSize) {
    const uint64_t blocks = (uint64_t{originalSize} + 63) / 64;
    const uint64_t words = blocks * 40 / 16 + 2;
    return 2 * words;
}

} // namespace kpz
