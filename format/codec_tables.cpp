// SPDX-License-Identifier: BSD-3-Clause
// The four lookup tables shared by the encoder and the decoder.
#include "encoder.h"

namespace kpz {

CodecTables::CodecTables() {
    for (int i = 0; i < 16; ++i) {
        powersOfTwo[i] = static_cast<uint16_t>(1u << i);
        lowMasks[i] = static_cast<uint16_t>((1u << (i + 1)) - 1);
    }
    for (int v = -32768; v <= 32767; ++v)
        bitsNeeded[v + 32768] = static_cast<uint8_t>(widthCode(static_cast<int16_t>(v)));
    for (int p = 0; p < 16; ++p) {
        for (int w = 0; w < 16; ++w) {
            uint32_t m = ((1u << (w + 1)) - 1) << (16 + p - w);
            fieldMasks[p][w] = FieldMask{m >> 16, m & 0xFFFFu};
        }
    }
}

void buildCodecTables(CodecState& s) {
    s.tables = CodecTables();
}

} // namespace kpz
