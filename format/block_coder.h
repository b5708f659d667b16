// SPDX-License-Identifier: BSD-3-Clause
// The encoder's inner kernels, shared by the one-file coding loop and the parallel coder:
// residuals of one block, and the bit packer with its unfinished word in a register.
#pragma once

#include "codec_state.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kpz::detail {

// Turns one block of 16 frames into residuals in place and returns the OR of their
// sign-folded values (v ^ (v >> 15)) for the side (low half) and the right (high half).
// The plain version is the reference for the vector one.
inline uint32_t blockResidualsScalar(int16_t* block, int16_t& prevSide, int16_t& prevRight) {
    uint32_t foldSide = 0, foldRight = 0;
    for (int f = 0; f < 16; ++f) {
        const int16_t left = block[2 * f], right = block[2 * f + 1];
        const auto side = static_cast<int16_t>(left - right);
        const auto sideRes = static_cast<int16_t>(side - prevSide);
        const auto rightRes = static_cast<int16_t>(right - prevRight);
        block[2 * f] = sideRes;
        block[2 * f + 1] = rightRes;
        foldSide |= static_cast<uint16_t>(sideRes ^ (sideRes >> 15));
        foldRight |= static_cast<uint16_t>(rightRes ^ (rightRes >> 15));
        prevSide = side;
        prevRight = right;
    }
    return foldSide | (foldRight << 16);
}

inline uint32_t blockResiduals(int16_t* block, int16_t& prevSide, int16_t& prevRight) {
#if defined(__SSE2__)
    // Four frames per vector: subtracting each frame's right from its left (the right
    // shifted down within each 32-bit lane) gives side and right side by side, and
    // subtracting the vector moved up by one frame gives both residuals at once.
    __m128i carry = _mm_cvtsi32_si128(
        static_cast<int>(static_cast<uint16_t>(prevSide) |
                         (static_cast<uint32_t>(static_cast<uint16_t>(prevRight)) << 16)));
    __m128i folds = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        auto* p = reinterpret_cast<__m128i*>(block + 8 * k);
        const __m128i v = _mm_loadu_si128(p);
        const __m128i x = _mm_sub_epi16(v, _mm_srli_epi32(v, 16));
        const __m128i res = _mm_sub_epi16(x, _mm_or_si128(_mm_slli_si128(x, 4), carry));
        carry = _mm_srli_si128(x, 12);
        _mm_storeu_si128(p, res);
        folds = _mm_or_si128(folds, _mm_xor_si128(res, _mm_srai_epi16(res, 15)));
    }
    folds = _mm_or_si128(folds, _mm_srli_si128(folds, 8));
    folds = _mm_or_si128(folds, _mm_srli_si128(folds, 4));
    const auto last = static_cast<uint32_t>(_mm_cvtsi128_si32(carry));
    prevSide = static_cast<int16_t>(last & 0xFFFF);
    prevRight = static_cast<int16_t>(last >> 16);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(folds));
#else
    return blockResidualsScalar(block, prevSide, prevRight);
#endif
}

// Packs fields into 16-bit words (stream order, each word in memory order) with the
// unfinished bits held in a register: 'pending' holds 'count' bits (0..15 between calls)
// not yet stored as a whole word, in its low bits; the bits above them are stale. When
// 'flushState' is set, a full buffer is flushed through it exactly when it fills;
// otherwise the caller guarantees room for every word plus four.
struct FastWriter {
    uint16_t* out;
    int32_t index;
    int32_t capacity;
    uint64_t pending;
    int count;
    CodecState* flushState;

    void flushFull();

    // Stores every complete word of pending (count is 1..64). Away from the end of the
    // buffer they all go out in one 64-bit store; the words past the complete ones are
    // rewritten later. Near the end they go one by one.
    void emit() {
        const int words = count >> 4;
        if (index + 4 <= capacity) {
            uint64_t top = pending << (64 - count); // first pending bit on bit 63
            top = (top >> 32) | (top << 32);
            top = ((top & 0xFFFF0000FFFF0000ull) >> 16) | ((top & 0x0000FFFF0000FFFFull) << 16);
            std::memcpy(out + index, &top, 8);
            index += words;
            count -= 16 * words;
            if (index == capacity) flushFull();
            return;
        }
        for (int k = 0; k < words; ++k) {
            count -= 16;
            out[index] = static_cast<uint16_t>(pending >> count);
            if (++index == capacity) flushFull();
        }
    }

    void putByte(uint32_t v) {
        pending = (pending << 8) | (v & 0xFFu);
        count += 8;
        if (count >= 16) emit();
    }

    // Appends the 16 values v[0], v[2], ... in N bits each, as many at a time as fit
    // beside the pending bits in 64. N is a template argument so that each width gets its
    // own fully unrolled loop.
    template <int N> void put16(const int16_t* v) {
        constexpr uint64_t mask = (uint64_t{1} << N) - 1;
        constexpr int group = 48 / N;
#pragma GCC unroll 16
        for (int f = 0; f < 16; f += group) {
            const int end = f + group < 16 ? f + group : 16;
#pragma GCC unroll 16
            for (int k = f; k < end; ++k)
                pending = (pending << N) | (static_cast<uint16_t>(v[2 * k]) & mask);
            count += N * (end - f);
            emit();
        }
    }

    void put16(const int16_t* v, int n);
};

// Every payload ends with 32 zero bits after its last block, so that a decoder reading a
// field ahead never runs off the data; the bits past the last whole word are not stored.
inline constexpr int kEndPadBytes = 4;
// Appends the end pad: the one place both the one-thread coder and the split coder end a
// payload.
void writeEndPad(FastWriter& writer);

// Codes the blocks of nSamples samples at 'samples' (blocks of kBlockLength samples, the
// last one padded with whatever lies past them), turning them into residuals in place,
// with the kernels chosen for this processor. Between blocks the writer holds no bits or
// one byte. Returns the last block's width codes (side in the low byte, right in the next).
uint32_t encodeBlocks(int16_t* samples, int32_t nSamples, int16_t& prevSide, int16_t& prevRight,
                      FastWriter& writer);

} // namespace kpz::detail
