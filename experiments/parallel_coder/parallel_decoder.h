// SPDX-License-Identifier: BSD-3-Clause
// Restoring one file on several threads, byte for byte the same as decodeFile and the cut.
#pragma once

#include "decoder.h"

namespace kpz {

// Restores the payload of s.source (read up to the end of its header) into s.destination,
// writing exactly s.originalSize bytes, with rounds of blocks decoded side by side. Blocks
// start on byte boundaries and their lengths follow from their headers, so one quick pass
// finds where each starts; each stretch is then decoded from a prediction of zero and
// shifted by the true last frame of the stretch before it, since restoring only adds
// residuals. Outcomes as decodeFile's: Damaged when the payload ends before the blocks
// that cover originalSize. Progress, write failures and cancel requests are handled once
// per round.
DecodeOutcome decodeFileParallel(CodecState& s, int threads);

} // namespace kpz
