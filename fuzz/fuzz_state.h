// SPDX-License-Identifier: BSD-3-Clause
// The codec state shared by the fuzz targets: one per process, tables built once, reused
// by every input the way the programs reuse theirs across a batch.
#pragma once

#include "codec_state.h"
#include "encoder.h"

#include <memory>

namespace kpzfuzz {

inline kpz::CodecState& sharedState() {
    static const std::unique_ptr<kpz::CodecState> state = [] {
        auto s = std::make_unique<kpz::CodecState>();
        kpz::buildCodecTables(*s);
        return s;
    }();
    return *state;
}

} // namespace kpzfuzz
