// SPDX-License-Identifier: BSD-3-Clause
// Block coding kernels for processors with AVX2 and BMI2, chosen at run time. Only the
// functions marked with the target attribute use those instructions, and only the dispatcher
// calls them, after asking the processor.
//
// Both kernels rest on two facts of the format: every block is a whole number of bytes,
// and each channel's 16 fields of n bits fill exactly 2n bytes. So a block starts on a byte
// of the stream, its channels do too, and a channel can be packed or unpacked on its own.
// Stream byte b lies at memory byte b ^ 1, because every 16-bit word is stored low byte
// first while its high byte comes first in the stream.
#include "block_coder.h"
#include "kernels.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define KPZ_AVX2 __attribute__((target("avx2,bmi2")))

namespace kpz::detail {

namespace {

// Room a block needs from its first byte to be written straight into the output: the
// widest block is 65 bytes, and the last 8-byte store of a channel reaches 7 bytes past it.
constexpr int64_t kBlockRoom = 80;

// Shift counts and masks for packing a block whose channels have ns and nr bits per field,
// laid out for registers that hold [side, right, side, right] in their quadwords: the
// field mask in every 16-bit lane, n per 32-bit lane and 2n per quadword for joining
// fields, and for storing chunks of 4n bits: 4n, 64 - 4n, the last four bits of the
// chunk before that an odd n carries along, and the shift that puts them on top.
// 256 bytes each, so that finding one is a shift.
struct alignas(256) PairLayout {
    alignas(32) uint64_t mask[4];
    alignas(32) uint32_t join16[8];
    alignas(32) uint64_t join32[4];
    alignas(32) uint64_t bits[4];
    alignas(32) uint64_t top[4];
    alignas(32) uint64_t carried[4];
    alignas(32) uint64_t lead[4];
};

// Indexed by the block's header byte: side width code plus 16 times the right's.
using PairTable = std::array<PairLayout, 256>;

PairTable buildPairs() {
    PairTable t{};
    for (int header = 0; header < 256; ++header) {
        PairLayout& l = t[header];
        for (int q = 0; q < 4; ++q) {
            const int n = 1 + ((q & 1) ? header >> 4 : header & 15);
            l.mask[q] = 0x0001000100010001ull * ((1ull << n) - 1);
            l.join16[2 * q] = l.join16[2 * q + 1] = static_cast<uint32_t>(n);
            l.join32[q] = static_cast<uint64_t>(2 * n);
            l.bits[q] = static_cast<uint64_t>(4 * n);
            l.top[q] = static_cast<uint64_t>(64 - 4 * n);
            l.carried[q] = (n & 1) ? 0xF : 0;
            l.lead[q] = static_cast<uint64_t>(64 - 4 * n - 4 * (n & 1));
        }
    }
    return t;
}

const PairTable& pairs() {
    static const PairTable t = buildPairs();
    return t;
}

KPZ_AVX2 inline __m256i load256(const void* p) {
    return _mm256_load_si256(static_cast<const __m256i*>(p));
}

// Stores both channels of a block as stream bytes: the side's 2 * ns bytes at p, the
// right's 2 * nr bytes after them. Each channel comes as four chunks of 4n bits (first
// field on top): 'even' holds chunks 0 and 2 of the side and of the right as
// [side 0, right 0, side 2, right 2], 'odd' chunks 1 and 3 alike. Chunks 0 and 2 start on
// the bytes 0 and n of their channel; chunks 1 and 3 start n / 2 bytes after them, half
// way through a byte when n is odd, and then take along the last four bits of the chunk
// before them. 'l' holds the shift counts for n. Every store writes 8 bytes, of which
// those past its chunk are zeros that the next store overwrites, so the stores must stay
// in this order; the last reaches up to 7 bytes past the block.
KPZ_AVX2 inline void putChannels(uint8_t* p, __m256i even, __m256i odd, const PairLayout& l,
                                 size_t ns, size_t nr) {
    const __m256i bits = load256(l.bits), top = load256(l.top);
    const __m256i carried = load256(l.carried), lead = load256(l.lead);
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    // A shift by 64 (n = 16) gives zero, as wanted.
    const __m256i first = _mm256_shuffle_epi8(_mm256_sllv_epi64(even, top), reverse);
    const __m256i second = _mm256_shuffle_epi8(
        _mm256_sllv_epi64(
            _mm256_or_si256(_mm256_sllv_epi64(_mm256_and_si256(even, carried), bits), odd), lead),
        reverse);
    // Chunk k of the side in the low quadword, of the right in the high one.
    const __m128i chunk0 = _mm256_castsi256_si128(first);
    const __m128i chunk2 = _mm256_extracti128_si256(first, 1);
    const __m128i chunk1 = _mm256_castsi256_si128(second);
    const __m128i chunk3 = _mm256_extracti128_si256(second, 1);
    // Through memcpy: a byte address has no alignment to promise.
    auto low = [](uint8_t* at, __m128i v) KPZ_AVX2 {
        const auto word = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
        std::memcpy(at, &word, 8);
    };
    auto high = [](uint8_t* at, __m128i v) KPZ_AVX2 {
        const auto word = static_cast<uint64_t>(_mm_extract_epi64(v, 1));
        std::memcpy(at, &word, 8);
    };
    uint8_t* q = p + 2 * ns;
    low(p, chunk0);
    low(p + (ns >> 1), chunk1);
    low(p + ns, chunk2);
    low(p + ns + (ns >> 1), chunk3);
    high(q, chunk0);
    high(q + (nr >> 1), chunk1);
    high(q + nr, chunk2);
    high(q + nr + (nr >> 1), chunk3);
}

// Swaps the bytes of words [from, to): stream order to memory order.
KPZ_AVX2 void swapWordBytes(uint16_t* words, int64_t from, int64_t to) {
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1,
                                          0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    int64_t i = from;
    for (; i + 16 <= to; i += 16) {
        auto* p = reinterpret_cast<__m256i*>(words + i);
        _mm256_storeu_si256(p, _mm256_shuffle_epi8(_mm256_loadu_si256(p), swap));
    }
    for (; i < to; ++i)
        words[i] = static_cast<uint16_t>((words[i] >> 8) | (words[i] << 8));
}

// Per-width tables for unpacking one channel whose first byte has stream parity p: where
// its four groups of four fields are loaded from (offsets from the even memory byte at or
// before the channel), how each 32-bit lane gathers the four stream bytes that hold its
// field (first byte on top), and how far that field then sits below the top. Register A
// holds groups 0 and 2 and register B groups 1 and 3, so that packing the two to 16 bits
// lines the fields up in order.
struct ChannelLayout {
    alignas(32) uint8_t shuffleA[32];
    alignas(32) uint8_t shuffleB[32];
    alignas(32) uint32_t shiftA[8];
    alignas(32) uint32_t shiftB[8];
    int32_t offset[4];
};

using LayoutTable = std::array<std::array<ChannelLayout, 17>, 2>;

LayoutTable buildLayouts() {
    LayoutTable t{};
    for (int p = 0; p < 2; ++p) {
        for (int n = 1; n <= 16; ++n) {
            ChannelLayout& l = t[p][n];
            for (int k = 0; k < 4; ++k)
                l.offset[k] = (p + (4 * k * n) / 8) & ~1;
            for (int f = 0; f < 16; ++f) {
                const int k = f / 4, lane = (k >> 1) * 4 + f % 4;
                uint8_t* shuffle = (k & 1) ? l.shuffleB : l.shuffleA;
                uint32_t* shift = (k & 1) ? l.shiftB : l.shiftA;
                const int first = (f * n) / 8;
                for (int b = 0; b < 4; ++b)
                    shuffle[4 * lane + 3 - b] =
                        static_cast<uint8_t>(((p + first + b) ^ 1) - l.offset[k]);
                shift[lane] = static_cast<uint32_t>((f * n) % 8);
            }
        }
    }
    return t;
}

const LayoutTable& layouts() {
    static const LayoutTable t = buildLayouts();
    return t;
}

// Restores one channel: the 16 fields of n bits starting at stream byte s, sign-extended,
// summed onto 'previous' (the last value before them, in every lane).
KPZ_AVX2 inline __m256i channelValues(const uint8_t* mem, int64_t s, int n, __m256i previous,
                                      const LayoutTable& table) {
    const ChannelLayout& l = table[s & 1][n];
    const uint8_t* base = mem + (s & ~int64_t{1});
    auto load = [&](int k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + l.offset[k]));
    };
    __m256i a = _mm256_inserti128_si256(_mm256_castsi128_si256(load(0)), load(2), 1);
    __m256i b = _mm256_inserti128_si256(_mm256_castsi128_si256(load(1)), load(3), 1);
    a = _mm256_shuffle_epi8(a, load256(l.shuffleA));
    b = _mm256_shuffle_epi8(b, load256(l.shuffleB));
    a = _mm256_sllv_epi32(a, load256(l.shiftA));
    b = _mm256_sllv_epi32(b, load256(l.shiftB));
    const __m128i down = _mm_cvtsi32_si128(32 - n);
    __m256i v = _mm256_packs_epi32(_mm256_sra_epi32(a, down), _mm256_sra_epi32(b, down));
    // Running sum over the 16 lanes, then onto the previous value.
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
    const __m256i last = _mm256_set1_epi16(0x0F0E);
    v = _mm256_add_epi16(v, _mm256_shuffle_epi8(_mm256_permute2x128_si256(v, v, 0x08), last));
    return _mm256_add_epi16(v, previous);
}

// The last lane of v in every lane.
KPZ_AVX2 inline __m256i lastInEveryLane(__m256i v) {
    return _mm256_shuffle_epi8(_mm256_permute2x128_si256(v, v, 0x11), _mm256_set1_epi16(0x0F0E));
}

// Residuals of eight frames at 'at', stored back in place and returned. Subtracting each
// frame's right from its left (the right moved down within its 32-bit lane) gives side and
// right side by side; subtracting the same vector moved up one frame, with 'carry' (the
// frame before, in the lowest lane) shifted in, gives both residuals at once. On return
// 'carry' holds the last of the eight frames.
KPZ_AVX2 inline __m256i residuals(int16_t* at, __m256i& carry) {
    auto* p = reinterpret_cast<__m256i*>(at);
    const __m256i v = _mm256_loadu_si256(p);
    const __m256i x = _mm256_sub_epi16(v, _mm256_srli_epi32(v, 16));
    const __m256i before =
        _mm256_alignr_epi8(x, _mm256_permute2x128_si256(x, x, 0x08), 12); // 0, x0 .. x6
    const __m256i res = _mm256_sub_epi16(x, _mm256_or_si256(before, carry));
    carry = _mm256_srli_si256(_mm256_permute2x128_si256(x, x, 0x81), 12);
    _mm256_storeu_si256(p, res);
    return res;
}

} // namespace

KPZ_AVX2 uint32_t encodeBlocksAvx2(int16_t* samples, int32_t nSamples, int16_t& prevSide,
                                   int16_t& prevRight, FastWriter& writer) {
    // The writer's words up to 'index' are finished; from there the output is built in
    // stream order and put into memory order before every flush and on the way out. Between
    // blocks the writer holds no bits or one byte.
    auto* bytes = reinterpret_cast<uint8_t*>(writer.out);
    int64_t swapFrom = writer.index;
    int64_t pos = 2 * int64_t{writer.index};
    if (writer.count == 8) bytes[pos++] = static_cast<uint8_t>(writer.pending);
    const int64_t end = 2 * int64_t{writer.capacity};

    // Frames f..f+3 of a lane are s0 r0 s1 r1 s2 r2 s3 r3; this gives s3 s2 s1 s0 in the low
    // quadword and r3 r2 r1 r0 in the high one, so that packing puts the first on top.
    const __m256i split = _mm256_setr_epi8(12, 13, 8, 9, 4, 5, 0, 1, 14, 15, 10, 11, 6, 7, 2, 3, 12,
                                           13, 8, 9, 4, 5, 0, 1, 14, 15, 10, 11, 6, 7, 2, 3);
    const PairTable& pairTable = pairs();
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFF);
    uint8_t scratch[kBlockRoom];
    uint32_t widths = 0;

    // The last frame's side and right, in the lowest 32-bit lane.
    __m256i carry = _mm256_setr_epi32(
        static_cast<int>(static_cast<uint16_t>(prevSide) |
                         (static_cast<uint32_t>(static_cast<uint16_t>(prevRight)) << 16)),
        0, 0, 0, 0, 0, 0, 0);

    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        int16_t* block = samples + i;
        const __m256i a = residuals(block, carry);
        const __m256i b = residuals(block + 16, carry);
        __m256i f = _mm256_or_si256(_mm256_xor_si256(a, _mm256_srai_epi16(a, 15)),
                                    _mm256_xor_si256(b, _mm256_srai_epi16(b, 15)));
        __m128i folds = _mm_or_si128(_mm256_castsi256_si128(f), _mm256_extracti128_si256(f, 1));
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 8));
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 4));
        // Width codes are bit lengths of the folds: the exponent of each fold converted to
        // a float (exact below 2^24) less 126, or 0 for a fold of 0.
        const __m128i pair = _mm_unpacklo_epi16(folds, _mm_setzero_si128()); // side, right
        const __m128i exponent = _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(pair)), 23);
        const __m128i widths2 =
            _mm_max_epi32(_mm_sub_epi32(exponent, _mm_set1_epi32(126)), _mm_setzero_si128());
        const auto sw = static_cast<uint32_t>(_mm_cvtsi128_si32(widths2));
        const auto rw = static_cast<uint32_t>(_mm_extract_epi32(widths2, 1));
        const size_t ns = sw + 1, nr = rw + 1;

        // Four fields of a channel per quadword: mask each to its width, then join pairs
        // of 16-bit lanes into 2n bits and pairs of those into 4n bits.
        const PairLayout& layout = pairTable[sw + 16 * rw];
        const __m256i mask = load256(layout.mask);
        const __m256i n32 = load256(layout.join16), n2 = load256(layout.join32);
        auto pack = [&](__m256i x) KPZ_AVX2 {
            x = _mm256_and_si256(_mm256_shuffle_epi8(x, split), mask);
            x = _mm256_or_si256(_mm256_and_si256(x, low16),
                                _mm256_sllv_epi32(_mm256_srli_epi32(x, 16), n32));
            return _mm256_or_si256(_mm256_and_si256(x, low32),
                                   _mm256_sllv_epi64(_mm256_srli_epi64(x, 32), n2));
        };
        const __m256i lowHalf = pack(a), highHalf = pack(b); // chunks 0 and 1, 2 and 3
        const __m256i even = _mm256_permute2x128_si256(lowHalf, highHalf, 0x20);
        const __m256i odd = _mm256_permute2x128_si256(lowHalf, highHalf, 0x31);

        const int64_t blockBytes = 1 + 2 * ns + 2 * nr;
        const bool direct = pos + kBlockRoom <= end;
        uint8_t* p = direct ? bytes + pos : scratch;
        p[0] = static_cast<uint8_t>(sw + 16 * rw);
        putChannels(p + 1, even, odd, layout, ns, nr);
        if (direct) {
            pos += blockBytes;
        } else {
            // Near the end of the buffer: byte by byte, flushing the moment it is full.
            for (int64_t k = 0; k < blockBytes; ++k) {
                bytes[pos++] = scratch[k];
                if (pos == end) {
                    swapWordBytes(writer.out, swapFrom, writer.capacity);
                    writer.index = writer.capacity;
                    writer.flushFull();
                    swapFrom = 0;
                    pos = 0;
                }
            }
        }
        widths = static_cast<uint32_t>(sw | (rw << 8));
    }

    const auto last = static_cast<uint32_t>(_mm256_cvtsi256_si32(carry));
    prevSide = static_cast<int16_t>(last & 0xFFFF);
    prevRight = static_cast<int16_t>(last >> 16);
    swapWordBytes(writer.out, swapFrom, pos / 2);
    writer.index = static_cast<int32_t>(pos / 2);
    writer.count = (pos & 1) ? 8 : 0;
    writer.pending = (pos & 1) ? bytes[pos - 1] : 0;
    return widths;
}

KPZ_AVX2 int32_t decodeRunAvx2(const uint16_t* in, DecodeCursor& c, uint16_t* out,
                               int32_t maxBlocks, int64_t limit) {
    // Blocks are whole bytes, so a run always starts on a byte; anything else is not a
    // position this decoder can take.
    if (c.pos & 7) return decodeRunPortable(in, c, out, maxBlocks, limit);
    const LayoutTable& table = layouts();
    const auto* mem = reinterpret_cast<const uint8_t*>(in);
    // The loads of the last group of a channel reach a few bytes further than the portable
    // reader does, so stop a little earlier.
    const int64_t lastStart = (limit - 128) >> 3;
    int64_t h = c.pos >> 3;
    __m256i side = _mm256_set1_epi16(static_cast<int16_t>(c.side));
    __m256i right = _mm256_set1_epi16(static_cast<int16_t>(c.right));
    int sw = c.sideWidth, rw = c.rightWidth;
    int32_t done = 0;
    for (; done < maxBlocks && h <= lastStart; ++done, out += 32) {
        const uint32_t header = mem[h ^ 1];
        sw = static_cast<int>(header & 15);
        rw = static_cast<int>(header >> 4);
        const int64_t sideStart = h + 1, rightStart = sideStart + 2 * (sw + 1);
        const __m256i s = channelValues(mem, sideStart, sw + 1, side, table);
        const __m256i r = channelValues(mem, rightStart, rw + 1, right, table);
        const __m256i l = _mm256_add_epi16(s, r);
        const __m256i lo = _mm256_unpacklo_epi16(l, r), hi = _mm256_unpackhi_epi16(l, r);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
        side = lastInEveryLane(s);
        right = lastInEveryLane(r);
        h = rightStart + 2 * (rw + 1);
    }
    c.pos = h << 3;
    c.side = static_cast<uint16_t>(_mm256_extract_epi16(side, 0));
    c.right = static_cast<uint16_t>(_mm256_extract_epi16(right, 0));
    c.sideWidth = sw;
    c.rightWidth = rw;
    return done;
}

// Each frame's side and right (left - right in the low half of its 32-bit lane, right in
// the high half) for the eight frames at 'at'.
KPZ_AVX2 static inline __m256i sideRight(const int16_t* at) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_sub_epi16(v, _mm256_srli_epi32(v, 16));
}

KPZ_AVX2 static inline __m256i fold(__m256i r) {
    return _mm256_xor_si256(r, _mm256_srai_epi16(r, 15));
}

KPZ_AVX2 uint64_t widthSumAvx2(const int16_t* samples, int32_t nSamples) {
    // The residuals against the frame before, loaded from memory one frame back: no carry
    // passes from vector to vector.
    __m128i sum = _mm_setzero_si128();
    for (int32_t i = 0; i < nSamples; i += kBlockLength) {
        const int16_t* block = samples + i;
        const __m256i a = _mm256_sub_epi16(sideRight(block), sideRight(block - 2));
        const __m256i b = _mm256_sub_epi16(sideRight(block + 16), sideRight(block + 14));
        const __m256i f = _mm256_or_si256(fold(a), fold(b));
        __m128i folds = _mm_or_si128(_mm256_castsi256_si128(f), _mm256_extracti128_si256(f, 1));
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 8));
        folds = _mm_or_si128(folds, _mm_srli_si128(folds, 4));
        // Bit lengths from the exponents, as the encoder finds them.
        const __m128i pair = _mm_unpacklo_epi16(folds, _mm_setzero_si128());
        const __m128i exponent = _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(pair)), 23);
        sum = _mm_add_epi32(
            sum, _mm_max_epi32(_mm_sub_epi32(exponent, _mm_set1_epi32(126)), _mm_setzero_si128()));
    }
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(sum))) +
           static_cast<uint32_t>(_mm_extract_epi32(sum, 1));
}

} // namespace kpz::detail

#else

namespace kpz::detail {

// Never chosen where the processor family has no AVX2.
uint32_t encodeBlocksAvx2(int16_t* samples, int32_t nSamples, int16_t& prevSide, int16_t& prevRight,
                          FastWriter& writer) {
    return encodeBlocksPortable(samples, nSamples, prevSide, prevRight, writer);
}

int32_t decodeRunAvx2(const uint16_t* in, DecodeCursor& c, uint16_t* out, int32_t maxBlocks,
                      int64_t limit) {
    return decodeRunPortable(in, c, out, maxBlocks, limit);
}

uint64_t widthSumAvx2(const int16_t* samples, int32_t nSamples) {
    return widthSumPortable(samples, nSamples);
}

} // namespace kpz::detail

#endif
