// SPDX-License-Identifier: BSD-3-Clause
// Block encoder: prediction, width choice, the bit writer and the compress-side flush.
#pragma once

#include "codec_state.h"

namespace kpz {

void buildCodecTables(CodecState& s);

// Per-file reset; call before the source is opened.
void resetEncoder(CodecState& s);

enum class EncodeOutcome { Complete, Cancelled, ReadError };

// Codes s.source into s.destination (whose header is already written) until the source
// ends, a read fails, or cancelRequested is found set after a read. On Complete the end
// pad is written and flushed; the caller still has to test cancelRequested, which the
// final flush may have set.
EncodeOutcome encodeFile(CodecState& s);

// Appends the low 8 bits of value.
void putByte(CodecState& s, uint32_t value);
// Appends the low w + 1 bits of value (two's complement), w in 0..15.
void putField(CodecState& s, int32_t value, int w);
// Scrambles and writes the complete words of outputBuffer, then shows progress.
void flushOutput(CodecState& s);

// Width code of v: the smallest w with -2^w <= v <= 2^w - 1.
inline int widthCode(int16_t v) {
    uint32_t folded = static_cast<uint16_t>(v ^ (v >> 15));
    return folded ? 32 - __builtin_clz(folded) : 0;
}

} // namespace kpz
