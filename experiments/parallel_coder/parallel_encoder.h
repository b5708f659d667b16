// SPDX-License-Identifier: BSD-3-Clause
// Compression of one file on several threads, byte for byte the same as encodeFile.
#pragma once

#include "encoder.h"

namespace kpz {

// Codes s.source into s.destination (whose header is already written) exactly as
// encodeFile does, spreading each round of a few megabytes over `threads` threads. Every
// block is a whole number of bytes and its prediction needs only the frame before it,
// which the source itself holds, so stretches of the source can be coded apart and joined.
// s.sourceSize must be the source's length: the chunk layout is planned from it, and a
// source that turns out shorter or longer is a ReadError. Progress, write failures and
// cancel requests are handled once per round.
EncodeOutcome encodeFileParallel(CodecState& s, int threads);

} // namespace kpz
