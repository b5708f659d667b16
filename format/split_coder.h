// SPDX-License-Identifier: BSD-3-Clause
// A source coded as two halves at once and joined: every block takes a whole number of
// bytes and its prediction needs only the frame before it, so once the first half's coded
// length is known the second half can be coded from its own place in the payload.
#pragma once

#include "block_coder.h"
#include "codec_state.h"

#include <cstdint>

namespace kpz {

// Where a source of sourceBytes is cut into two halves, the first taking about
// firstPermille thousandths of it: a whole number of chunks from its start, so that each
// half reads the chunks the one-thread coder reads, and at least one full chunk before the
// end, so that the short last chunk (whose padding is the previous chunk's residuals)
// follows a full chunk of the same half. 0 when the source is too small to be worth two
// threads.
uint64_t splitPoint(uint64_t sourceBytes, uint32_t firstPermille = 500);

// Payload bytes that the blocks of nSamples source samples code to (nSamples a whole
// number of blocks), leaving the samples untouched and carrying the frame before them in
// prevSide/prevRight as the encoder does: the width pass that places the second half.
uint64_t codedBlockBytes(const int16_t* samples, int32_t nSamples, int16_t& prevSide,
                         int16_t& prevRight);

// The frame before byte 'at' of a source (at a whole number of frames), as the encoder's
// prediction state: side = left - right, and right.
void frameBefore(const uint8_t* frame, int16_t& prevSide, int16_t& prevRight);

// Codes one half, chunk by chunk, into words of its own. Every block takes an odd number of
// bytes (a header byte and two channels of whole 16-bit groups), so an even number of
// blocks, and so every whole chunk, takes whole words: the second half starts on a word
// of the payload and the halves join without sharing one.
struct HalfCoder {
    // Room for one chunk's words: every block of 64 source bytes takes at most 65.
    static constexpr int32_t kWordRoom = kBufferLength / 64 * 65 + 64;

    int16_t prevSide = 0, prevRight = 0;
    detail::FastWriter writer{nullptr, 0, kWordRoom, 0, 0, nullptr};

    // A coder that writes into 'words' and predicts its first frame from side and right.
    HalfCoder(uint16_t* words, int16_t side, int16_t right);

    // Codes nSamples samples (turned into residuals in place) and returns how many whole
    // words are ready at the start of the word buffer; the unfinished byte, if any, moves
    // on to the next call.
    int32_t code(int16_t* samples, int32_t nSamples);
    // Appends the 32-bit end pad and returns the whole words ready, as code() does; the
    // bits past the last whole word are not stored.
    int32_t finish();
};

} // namespace kpz
