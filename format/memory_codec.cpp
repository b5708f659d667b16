// SPDX-License-Identifier: BSD-3-Clause
// In-memory compression and restoration through the same encoder and decoder as files.
#include "memory_codec.h"

#include "encoder.h"

namespace kpz {

std::vector<uint8_t> compressToMemory(CodecState& s, const std::vector<uint8_t>& source,
                                      std::string_view name, bool passwordOn, uint16_t code) {
    ByteReader in(source.data(), source.size());
    MemoryStream out;
    // Room for the largest payload (65 bytes for every 64) and the header, so that the
    // output never moves while it grows.
    out.data.reserve(source.size() + source.size() / 32 + name.size() + 128);
    resetEncoder(s);
    s.source = &in;
    s.destination = &out;
    s.sourceSize = static_cast<uint32_t>(source.size());
    s.passwordOn = passwordOn;
    s.passwordCode = passwordOn ? code : 0;
    writeHeader(out, passwordOn, s.sourceSize, name);
    s.destWritten += static_cast<uint32_t>(name.size());
    encodeFile(s);
    s.source = s.destination = nullptr;
    return std::move(out.data);
}

RestoreResult restoreFromMemory(CodecState& s, const std::vector<uint8_t>& file, uint16_t code) {
    RestoreResult r;
    ByteReader in(file.data(), file.size());
    resetDecoder(s);
    r.header = readHeader(in, r.info);
    if (r.header != HeaderStatus::Ok) return r;
    // A stored size that the payload cannot hold is refused before anything is decoded.
    const uint64_t payload = file.size() - in.position();
    if (payload < minimumPayloadBytes(r.info.originalSize)) {
        r.outcome = DecodeOutcome::Damaged;
        return r;
    }
    MemoryStream out;
    out.data.reserve(r.info.originalSize + 256);
    s.source = &in;
    s.destination = &out;
    s.passwordOn = r.info.passwordOn;
    s.passwordCode = r.info.passwordOn ? code : 0;
    s.originalSize = r.info.originalSize;
    s.sourceProcessed += r.info.nameLength;
    s.blockLength = kBlockLength;
    refillInput(s);
    if (s.bytesRead < 0) {
        r.outcome = DecodeOutcome::ReadError;
    } else {
        r.outcome = decodeFile(s);
        if (r.outcome == DecodeOutcome::Complete) out.data.resize(r.info.originalSize);
    }
    r.data = std::move(out.data);
    s.source = s.destination = nullptr;
    return r;
}

} // namespace kpz
