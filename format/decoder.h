// SPDX-License-Identifier: BSD-3-Clause
// Block decoder: the bit reader with its refills, reconstruction and the restore flush.
#pragma once

#include "codec_state.h"

namespace kpz {

// Per-file reset; call before the compressed file is opened.
void resetDecoder(CodecState& s);

// Reads the next chunk of payload into sampleBuffer and unscrambles it.
void refillInput(CodecState& s);

uint32_t getByte(CodecState& s);
int16_t getField(CodecState& s, int w);

enum class DecodeOutcome { Complete, Cancelled, ReadError, Damaged };

// Decodes blocks until the restored data has passed originalSize (Complete; the caller
// then cuts the output to originalSize), cancelRequested is found set before a block
// (Cancelled), a refill fails (ReadError), or the payload ends before the blocks that
// cover originalSize (Damaged). Call after a first refillInput that did not fail.
DecodeOutcome decodeFile(CodecState& s);

// Writes the restored samples in outputBuffer, then shows progress.
void flushRestored(CodecState& s);

} // namespace kpz
