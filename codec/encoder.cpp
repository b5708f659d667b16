// Block encoder: first-order prediction of side and right, two width codes per block,
// fields packed most significant bit first into 16-bit words.
#include "encoder.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kpz {

// Buffers are filled and written as raw bytes, so a word in memory must be low byte first.
static_assert(std::endian::native == std::endian::little, "the codec assumes a little-endian host");

void resetEncoder(CodecState& s) {
    s.sourceProcessed = 0;
    s.destWritten = 9;
    s.outputIndex = 0;
    s.pendingWord = 0;
    s.bitPosition = 15;
    s.previousSide = 0;
    s.previousRight = 0;
    std::memset(s.sampleBuffer, 0, sizeof s.sampleBuffer);
}

// Word-by-word writer, exactly as the format is defined: merge the field into the word
// being filled and the pending word through one mask pair.
static void putBits(CodecState& s, uint32_t value, int w, int shift, int count) {
    const FieldMask& m = s.fieldMasks[s.bitPosition][w];
    uint32_t shifted = value << shift;
    uint16_t& word = s.outputBuffer[s.outputIndex];
    word = static_cast<uint16_t>((word & ~m.high) | ((shifted >> 16) & m.high));
    s.pendingWord = static_cast<uint16_t>((s.pendingWord & ~m.low) | (shifted & m.low));
    s.bitPosition -= count;
    if (s.bitPosition < 0) {
        ++s.outputIndex;
        if (s.outputIndex == s.bufferLength) {
            flushOutput(s);
            s.outputIndex = 0;
        }
        s.outputBuffer[s.outputIndex] = s.pendingWord;
        s.bitPosition += 16;
    }
}

void putByte(CodecState& s, uint32_t value) {
    putBits(s, value & 0xFFu, 7, s.bitPosition + 9, 8);
}

void putField(CodecState& s, int32_t value, int w) {
    uint32_t bits = static_cast<uint32_t>(value) & ((2u << w) - 1);
    putBits(s, bits, w, 16 - w + s.bitPosition, w + 1);
}

void flushOutput(CodecState& s) {
    const int32_t words = s.outputIndex;
    if (s.passwordOn) {
        const uint16_t code = s.passwordCode;
        for (int32_t i = 0; i < words; ++i)
            s.outputBuffer[i] ^= code;
    }
    const uint32_t bytes = 2u * static_cast<uint32_t>(words);
    const uint32_t stored = bytes ? s.destination->write(s.outputBuffer, bytes) : 0;
    if (stored < bytes) {
        if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
        s.cancelRequested = true;
    }
    s.destWritten += bytes;
    if (s.hooks.showProgress) s.hooks.showProgress(Direction::Compressing);
}

namespace {

// The same writer with its unfinished bits held in a register: 'pending' holds 'count'
// bits (0..15 between calls) not yet stored as a whole word, in its low bits; the bits
// above them are stale.
struct FastWriter {
    CodecState& s;
    uint16_t* out;
    int32_t index;
    uint64_t pending;
    int count;

    explicit FastWriter(CodecState& state)
        : s(state), out(state.outputBuffer), index(state.outputIndex),
          count(15 - state.bitPosition) {
        pending = count ? (out[index] >> (16 - count)) : 0;
    }

    // Hands the state back to the word-by-word writer.
    void store() {
        s.outputIndex = index;
        s.bitPosition = 15 - count;
        if (count) out[index] = static_cast<uint16_t>(pending << (16 - count));
    }

    void flushFull() {
        s.outputIndex = index;
        flushOutput(s);
        index = 0;
    }

    // Stores every complete word of pending (count is 1..64). Away from the end of the
    // buffer they all go out in one 64-bit store; the words past the complete ones are
    // rewritten later. Near the end they go one by one, so that the buffer is flushed
    // exactly when it fills.
    void emit() {
        const int words = count >> 4;
        if (index + 4 <= s.bufferLength) {
            uint64_t top = pending << (64 - count); // first pending bit on bit 63
            top = (top >> 32) | (top << 32);
            top = ((top & 0xFFFF0000FFFF0000ull) >> 16) | ((top & 0x0000FFFF0000FFFFull) << 16);
            std::memcpy(out + index, &top, 8);
            index += words;
            count -= 16 * words;
            if (index == s.bufferLength) flushFull();
            return;
        }
        for (int k = 0; k < words; ++k) {
            count -= 16;
            out[index] = static_cast<uint16_t>(pending >> count);
            if (++index == s.bufferLength) flushFull();
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

    void put16(const int16_t* v, int n) {
        switch (n) {
        case 1:
            return put16<1>(v);
        case 2:
            return put16<2>(v);
        case 3:
            return put16<3>(v);
        case 4:
            return put16<4>(v);
        case 5:
            return put16<5>(v);
        case 6:
            return put16<6>(v);
        case 7:
            return put16<7>(v);
        case 8:
            return put16<8>(v);
        case 9:
            return put16<9>(v);
        case 10:
            return put16<10>(v);
        case 11:
            return put16<11>(v);
        case 12:
            return put16<12>(v);
        case 13:
            return put16<13>(v);
        case 14:
            return put16<14>(v);
        case 15:
            return put16<15>(v);
        default:
            return put16<16>(v);
        }
    }
};

// Turns one block of 16 frames into residuals in place and returns the OR of their
// sign-folded values (v ^ (v >> 15)) for the side (low half) and the right (high half).
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
#endif
}

// Codes the blocks of one chunk of nSamples samples (padding the last block with whatever
// the buffer holds past them), turning sampleBuffer into residuals in place.
void encodeChunk(CodecState& s, int32_t nSamples) {
    FastWriter writer(s);
    int16_t prevSide = s.previousSide;
    int16_t prevRight = s.previousRight;
    const int32_t blockLength = s.blockLength;
    for (int32_t i = 0; i < nSamples; i += blockLength) {
        int16_t* block = s.sampleBuffer + i;
        const uint32_t folds = blockResiduals(block, prevSide, prevRight);
        const uint32_t foldSide = folds & 0xFFFF, foldRight = folds >> 16;
        const int sw = foldSide ? 32 - __builtin_clz(foldSide) : 0;
        const int rw = foldRight ? 32 - __builtin_clz(foldRight) : 0;
        s.sideWidth = static_cast<uint8_t>(sw);
        s.rightWidth = static_cast<uint8_t>(rw);
        writer.putByte(static_cast<uint32_t>(sw + 16 * rw));
        writer.put16(block, sw + 1);
        writer.put16(block + 1, rw + 1);
    }
    s.previousSide = prevSide;
    s.previousRight = prevRight;
    writer.store();
}

} // namespace

EncodeOutcome encodeFile(CodecState& s) {
    for (;;) {
        s.bytesRead = s.source->read(s.sampleBuffer, 2u * static_cast<uint32_t>(s.bufferLength));
        if (s.bytesRead == 0 || s.cancelRequested) break;
        if (s.bytesRead < 0) return EncodeOutcome::ReadError;
        s.sourceProcessed += static_cast<uint32_t>(s.bytesRead);
        encodeChunk(s, (s.bytesRead + 1) / 2);
    }
    if (s.cancelRequested) return EncodeOutcome::Cancelled;
    putField(s, 0, 15);
    putField(s, 0, 15);
    flushOutput(s);
    return EncodeOutcome::Complete;
}

} // namespace kpz
