// SPDX-License-Identifier: BSD-3-Clause
// The codec's working record as the front ends hold it: one per thread that runs files,
// owned by the caller and passed to every job by reference. It builds its own tables, so
// a record is ready to use as soon as it exists. Its counters and flags are what the
// window program shows and sets (bytes read and written, sizes, the cancel flag, hooks).
#pragma once

#include "codec_state.h"
#include "stream.h"

#include <cstdint>

namespace kpz {

// The piece the programs read and write in, and the block length, as the codec defines
// them.
inline constexpr int32_t kProgramBufferLength = kBufferLength;
inline constexpr int32_t kProgramBlockLength = kBlockLength;

// Chooses the block coding kernels for the whole process by name ("portable", "avx2");
// false, changing nothing, for another name or a set this processor cannot run. Every set
// codes the same bytes.
bool useKernels(const char* name);

} // namespace kpz
