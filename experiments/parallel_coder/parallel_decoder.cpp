// SPDX-License-Identifier: BSD-3-Clause
// Parallel restoration of one file: read a round of payload, turn its words into a plain
// big-endian byte stream, walk the block headers to find where each block starts, decode
// stretches of blocks on several threads, then shift each stretch by the frame before it.
#include "parallel_decoder.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace kpz {

namespace {

constexpr size_t kReadBytes = 2 * 524288; // payload read per round
constexpr size_t kSlack = 8;              // readable bytes past the data for the windows
constexpr uint64_t kBlockBytes = 64;      // restored bytes per block

inline uint32_t load32be(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return __builtin_bswap32(w);
}

// The n-bit field at stream bit p, sign-extended.
inline int32_t fieldAt(const uint8_t* stream, uint64_t p, int n) {
    return static_cast<int32_t>(load32be(stream + (p >> 3)) << (p & 7)) >> (32 - n);
}

// Bytes of the block whose header byte is h.
inline size_t blockBytes(uint8_t h) {
    return 1 + 2 * ((h & 15) + (h >> 4) + 2);
}

struct Stretch {
    const uint8_t* stream = nullptr; // first block's header byte
    size_t blocks = 0;
    uint16_t* out = nullptr;      // 32 samples per block
    uint16_t side = 0, right = 0; // last frame, as decoded from a zero prediction
};

void decodeStretch(Stretch& st) {
    uint64_t p = 0;
    uint16_t side = 0, right = 0;
    uint16_t* out = st.out;
    for (size_t b = 0; b < st.blocks; ++b, out += 32) {
        const uint8_t h = st.stream[p >> 3];
        const int ns = (h & 15) + 1, nr = (h >> 4) + 1;
        const uint64_t sideStart = p + 8, rightStart = sideStart + 16u * ns;
        for (int f = 0; f < 16; ++f) {
            side = static_cast<uint16_t>(side + fieldAt(st.stream, sideStart + f * ns, ns));
            out[2 * f] = side;
        }
        for (int f = 0; f < 16; ++f) {
            right = static_cast<uint16_t>(right + fieldAt(st.stream, rightStart + f * nr, nr));
            out[2 * f + 1] = right;
            out[2 * f] = static_cast<uint16_t>(out[2 * f] + right);
        }
        p = rightStart + 16u * nr;
    }
    st.side = side;
    st.right = right;
}

// Adds the true frame before a stretch: side and right shift by it, so left (their sum)
// shifts by both.
void shiftStretch(uint16_t* out, size_t samples, uint16_t side, uint16_t right) {
    const auto leftShift = static_cast<uint16_t>(side + right);
    for (size_t i = 0; i < samples; i += 2) {
        out[i] = static_cast<uint16_t>(out[i] + leftShift);
        out[i + 1] = static_cast<uint16_t>(out[i + 1] + right);
    }
}

template <class Work> void runSideBySide(size_t count, Work work) {
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < count; ++i)
        helpers.emplace_back(work, i);
    if (count) work(0);
    for (std::thread& t : helpers)
        t.join();
}

} // namespace

DecodeOutcome decodeFileParallel(CodecState& s, int threads) {
    threads = std::max(1, threads);
    const uint64_t required = (uint64_t{s.originalSize} + kBlockBytes - 1) / kBlockBytes;
    // The payload as a byte stream in bit order, with a partly used round carried over.
    std::vector<uint8_t> stream(kReadBytes + 4096 + kSlack);
    std::vector<uint8_t> raw(kReadBytes);
    size_t have = 0;  // valid stream bytes
    size_t start = 0; // where the next block starts
    bool ended = false;
    uint64_t blocksDone = 0;
    uint64_t written = 0;
    uint16_t side = 0, right = 0; // the last restored frame
    std::vector<size_t> starts;
    std::vector<uint16_t> out;
    uint64_t streamBefore = 0; // stream bytes dropped from the front in earlier rounds
    uint64_t streamRead = 0;   // whole-word stream bytes read in all

    while (blocksDone < required) {
        if (s.cancelRequested) return DecodeOutcome::Cancelled;
        // Keep what is not decoded yet, then read the next part of the payload.
        std::memmove(stream.data(), stream.data() + start, have - start);
        have -= start;
        streamBefore += start;
        start = 0;
        if (!ended) {
            const int32_t got = s.source->read(raw.data(), static_cast<uint32_t>(raw.size()));
            if (got < 0) return DecodeOutcome::ReadError;
            s.sourceProcessed += static_cast<uint32_t>(got);
            ended = static_cast<size_t>(got) < raw.size();
            // Whole words only: a lone last byte is half a word that never came.
            const size_t words = static_cast<size_t>(got) / 2;
            if (stream.size() < have + 2 * words + kSlack) stream.resize(have + 2 * words + kSlack);
            uint8_t* dst = stream.data() + have;
            const uint16_t code = s.passwordOn ? s.passwordCode : 0;
            for (size_t i = 0; i < words; ++i) {
                const auto w = static_cast<uint16_t>((raw[2 * i] | (raw[2 * i + 1] << 8)) ^ code);
                dst[2 * i] = static_cast<uint8_t>(w >> 8);
                dst[2 * i + 1] = static_cast<uint8_t>(w & 0xFF);
            }
            have += 2 * words;
            streamRead += 2 * words;
        }
        std::memset(stream.data() + have, 0, kSlack);

        // Where each block of this round starts, as far as whole blocks are in.
        starts.clear();
        size_t p = start;
        while (blocksDone + starts.size() < required && p < have) {
            const size_t length = blockBytes(stream[p]);
            if (p + length > have) break;
            starts.push_back(p);
            p += length;
        }
        if (starts.empty()) {
            if (ended) return DecodeOutcome::Damaged;
            continue; // a block longer than what is in: read on
        }
        start = p;

        const size_t blocks = starts.size();
        const size_t parts = std::min<size_t>(static_cast<size_t>(threads), blocks);
        out.resize(blocks * 32);
        std::vector<Stretch> stretches(parts);
        for (size_t i = 0; i < parts; ++i) {
            const size_t first = blocks * i / parts, last = blocks * (i + 1) / parts;
            stretches[i].stream = stream.data() + starts[first];
            stretches[i].blocks = last - first;
            stretches[i].out = out.data() + first * 32;
        }
        runSideBySide(parts, [&](size_t i) { decodeStretch(stretches[i]); });
        // The frame before each stretch, from the true last frame of the one before it.
        std::vector<std::pair<uint16_t, uint16_t>> before(parts);
        for (size_t i = 0; i < parts; ++i) {
            before[i] = {side, right};
            side = static_cast<uint16_t>(side + stretches[i].side);
            right = static_cast<uint16_t>(right + stretches[i].right);
        }
        runSideBySide(parts, [&](size_t i) {
            shiftStretch(stretches[i].out, stretches[i].blocks * 32, before[i].first,
                         before[i].second);
        });
        blocksDone += blocks;

        // The last round stops at the stored size.
        uint64_t bytes = blocks * kBlockBytes;
        if (written + bytes > s.originalSize) bytes = s.originalSize - written;
        const uint32_t stored =
            bytes ? s.destination->write(out.data(), static_cast<uint32_t>(bytes)) : 0;
        if (stored < bytes) {
            if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
            s.cancelRequested = true;
        }
        written += bytes;
        s.destWritten += static_cast<uint32_t>(bytes);
        if (s.hooks.showProgress) s.hooks.showProgress(Direction::Decompressing);
    }
    s.previousSide = static_cast<int16_t>(side);
    s.previousRight = static_cast<int16_t>(right);
    if (s.cancelRequested) return DecodeOutcome::Cancelled;
    // The payload must go on for the two pad words after the data blocks (it is
    // floor(bits / 16) + 2 words long); without them it has been cut short.
    const uint64_t dataBytes = streamBefore + start;
    const uint64_t needed = 2 * (dataBytes / 2 + 2);
    while (streamRead < needed && !ended) {
        const int32_t got = s.source->read(raw.data(), static_cast<uint32_t>(raw.size()));
        if (got < 0) return DecodeOutcome::ReadError;
        s.sourceProcessed += static_cast<uint32_t>(got);
        ended = static_cast<size_t>(got) < raw.size();
        streamRead += static_cast<uint64_t>(got) / 2 * 2;
    }
    return streamRead >= needed ? DecodeOutcome::Complete : DecodeOutcome::Damaged;
}

} // namespace kpz
