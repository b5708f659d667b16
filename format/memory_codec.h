// SPDX-License-Identifier: BSD-3-Clause
// Whole compressed files built from and restored to memory: for tests, benchmarks and
// any caller that holds the data already.
#pragma once

#include "codec_state.h"
#include "container.h"
#include "decoder.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kpz {

// A complete compressed file (header and payload) for source, stored under name.
// The state's tables must be built.
std::vector<uint8_t> compressToMemory(CodecState& s, const std::vector<uint8_t>& source,
                                      std::string_view name, bool passwordOn = false,
                                      uint16_t code = 0);

struct RestoreResult {
    HeaderStatus header = HeaderStatus::UnknownFormat;
    DecodeOutcome outcome = DecodeOutcome::Damaged;
    Header info;
    std::vector<uint8_t> data; // exactly originalSize bytes when outcome is Complete
};

// Restores a compressed file held in memory, unscrambling with code when it is marked.
RestoreResult restoreFromMemory(CodecState& s, const std::vector<uint8_t>& file, uint16_t code = 0);

} // namespace kpz
