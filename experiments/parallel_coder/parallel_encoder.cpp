// SPDX-License-Identifier: BSD-3-Clause
// Parallel compression of one file. The source is read in rounds of whole 512 KiB chunks;
// each round is cut into segments of a few chunks, coded side by side into word streams of
// their own while the next round is read and the last one written, and the streams are
// joined at their byte offsets (a block always ends on a byte boundary, so a segment starts
// either on a word or in the middle of one).
#include "parallel_encoder.h"

#include "block_coder.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace kpz {

namespace {

constexpr uint64_t kChunk = 524288;
constexpr uint64_t kChunksPerSegment = 2;
constexpr size_t kSlack = 128; // room past the data for the last block's padding

struct Segment {
    uint64_t firstChunk = 0;
    uint64_t chunkCount = 0;
    int16_t prevSide = 0, prevRight = 0;
    std::vector<uint16_t> words;
    int32_t wordCount = 0;
    bool hasTail = false; // the segment ends half way through a word
    uint8_t tail = 0;
};

int16_t sampleAt(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// Codes one segment whose chunks start at 'data' (the round buffer at the segment's first
// chunk). Chunks are coded in order and in place, as the one-thread coder does with its
// sample buffer; a short last chunk is padded with what that buffer would hold there: the
// previous chunk's residuals, or zeros in a file's only chunk.
void codeSegment(Segment& seg, uint8_t* data, uint64_t sourceSize) {
    const uint64_t bytes = std::min(seg.chunkCount * kChunk, sourceSize - seg.firstChunk * kChunk);
    seg.words.resize(static_cast<size_t>(bytes / 64 + 1) * 33 + 8);
    detail::FastWriter writer{seg.words.data(), 0, static_cast<int32_t>(seg.words.size()), 0, 0,
                              nullptr};
    int16_t prevSide = seg.prevSide, prevRight = seg.prevRight;
    for (uint64_t c = 0; c < seg.chunkCount; ++c) {
        uint8_t* chunk = data + c * kChunk;
        const uint64_t nb = std::min(kChunk, sourceSize - (seg.firstChunk + c) * kChunk);
        const int32_t samples = static_cast<int32_t>((nb + 1) / 2);
        if (nb < kChunk && c > 0) {
            const uint8_t* previous = chunk - kChunk;
            const uint64_t padEnd = (static_cast<uint64_t>(samples) + 31) / 32 * 32 * 2;
            // From the first byte past the data: a lone last byte is the low half of its
            // sample, and the high half is stale like the samples after it.
            std::memcpy(chunk + nb, previous + nb, padEnd - nb);
        }
        detail::encodeBlocks(reinterpret_cast<int16_t*>(chunk), samples, prevSide, prevRight,
                             writer);
    }
    seg.wordCount = writer.index;
    seg.hasTail = writer.count == 8;
    seg.tail = static_cast<uint8_t>(writer.pending & 0xFF);
}

// A round's source bytes, starting half way into a page for the reason the codec state's
// buffers do: the source is read at whole chunks from its start, and a copy to a few bytes
// past its source's place in a page runs several times slower.
class RoundBuffer {
  public:
    explicit RoundBuffer(size_t bytes) : storage_(bytes + 4096) {
        const auto at = reinterpret_cast<uintptr_t>(storage_.data());
        start_ = storage_.data() + ((2048 - at % 4096) + 4096) % 4096;
    }
    uint8_t* data() { return start_; }

  private:
    std::vector<uint8_t> storage_;
    uint8_t* start_;
};

// Joins coded streams at byte offsets: 'carry' is a pending first half of a word.
struct Joiner {
    std::vector<uint16_t> out;
    bool hasCarry = false;
    uint8_t carry = 0;

    void append(const Segment& seg) {
        const uint16_t* w = seg.words.data();
        if (!hasCarry) {
            out.insert(out.end(), w, w + seg.wordCount);
            if (seg.hasTail) {
                hasCarry = true;
                carry = seg.tail;
            }
            return;
        }
        const size_t base = out.size();
        out.resize(base + static_cast<size_t>(seg.wordCount));
        uint16_t* o = out.data() + base;
        uint8_t c = carry;
        for (int32_t i = 0; i < seg.wordCount; ++i) {
            o[i] = static_cast<uint16_t>((c << 8) | (w[i] >> 8));
            c = static_cast<uint8_t>(w[i] & 0xFF);
        }
        carry = c;
        if (seg.hasTail) {
            out.push_back(static_cast<uint16_t>((carry << 8) | seg.tail));
            hasCarry = false;
        }
    }
};

// Scrambles, writes and counts the joined words, then shows progress.
void writeWords(CodecState& s, std::vector<uint16_t>& words) {
    if (s.passwordOn)
        for (uint16_t& w : words)
            w ^= s.passwordCode;
    const uint64_t bytes = 2 * static_cast<uint64_t>(words.size());
    const uint32_t stored =
        bytes ? s.destination->write(words.data(), static_cast<uint32_t>(bytes)) : 0;
    if (stored < bytes) {
        if (s.hooks.reportWriteFailure) s.hooks.reportWriteFailure();
        s.cancelRequested = true;
    }
    s.destWritten += static_cast<uint32_t>(bytes);
    if (s.hooks.showProgress) s.hooks.showProgress(Direction::Compressing);
    words.clear();
}

} // namespace

EncodeOutcome encodeFileParallel(CodecState& s, int threads) {
    threads = std::max(1, threads);
    const uint64_t size = s.sourceSize;
    const uint64_t chunks = (size + kChunk - 1) / kChunk;

    // Segments of a few chunks; a short last chunk never starts one, so that its padding
    // comes from the chunk before it, coded by the same thread.
    std::vector<Segment> plan;
    for (uint64_t c = 0; c < chunks; c += kChunksPerSegment) {
        Segment seg;
        seg.firstChunk = c;
        seg.chunkCount = std::min(kChunksPerSegment, chunks - c);
        plan.push_back(std::move(seg));
    }
    if (plan.size() >= 2 && size % kChunk != 0 && plan.back().chunkCount == 1) {
        plan.pop_back();
        ++plan.back().chunkCount;
    }

    // Two round buffers: the workers code one while this thread reads the next into the
    // other and writes what the last round gave.
    const size_t roundBytes = static_cast<size_t>(threads) * (kChunksPerSegment + 1) * kChunk;
    RoundBuffer rounds[2] = {RoundBuffer(roundBytes + kSlack), RoundBuffer(roundBytes + kSlack)};
    Joiner joiner;
    // Word buffers of the segments already joined, handed to the next round's segments, so
    // that memory stays at two rounds' worth and no round faults in fresh pages.
    std::vector<std::vector<uint16_t>> spare;
    int16_t lastSide = 0, lastRight = 0; // the frame before the next round
    const auto step = static_cast<size_t>(threads);

    // Reads the round whose first segment is plan[first] into 'buffer' and gives each of its
    // segments the source frame before it, taken before any thread turns the samples into
    // residuals. False when the source cannot give the bytes planned.
    auto readRound = [&](size_t first, RoundBuffer& buffer) {
        const size_t last = std::min(plan.size(), first + step);
        const uint64_t begin = plan[first].firstChunk * kChunk;
        const uint64_t end =
            std::min(size, (plan[last - 1].firstChunk + plan[last - 1].chunkCount) * kChunk);
        const uint64_t bytes = end - begin;
        const int32_t got = s.source->read(buffer.data(), static_cast<uint32_t>(bytes));
        if (got < 0 || static_cast<uint64_t>(got) != bytes) return false;
        s.sourceProcessed += static_cast<uint32_t>(bytes);
        std::memset(buffer.data() + bytes, 0, kSlack);
        for (size_t i = first; i < last; ++i) {
            const uint64_t offset = plan[i].firstChunk * kChunk - begin;
            if (i == first) {
                plan[i].prevSide = lastSide;
                plan[i].prevRight = lastRight;
            } else {
                const int16_t left = sampleAt(buffer.data() + offset - 4);
                const int16_t right = sampleAt(buffer.data() + offset - 2);
                plan[i].prevSide = static_cast<int16_t>(left - right);
                plan[i].prevRight = right;
            }
        }
        if (bytes >= 4) {
            const int16_t left = sampleAt(buffer.data() + bytes - 4);
            const int16_t right = sampleAt(buffer.data() + bytes - 2);
            lastSide = static_cast<int16_t>(left - right);
            lastRight = right;
        }
        return true;
    };

    if (!plan.empty() && !readRound(0, rounds[0])) return EncodeOutcome::ReadError;
    for (size_t first = 0, r = 0; first < plan.size(); first += step, r ^= 1) {
        const size_t last = std::min(plan.size(), first + step);
        for (size_t i = first; i < last && !spare.empty(); ++i) {
            plan[i].words = std::move(spare.back());
            spare.pop_back();
        }
        std::vector<std::thread> workers;
        for (size_t i = first; i < last; ++i)
            workers.emplace_back(
                codeSegment, std::ref(plan[i]),
                rounds[r].data() + (plan[i].firstChunk - plan[first].firstChunk) * kChunk, size);
        // Meanwhile: the last round's words go out and the next round comes in.
        if (!joiner.out.empty()) writeWords(s, joiner.out);
        const bool readOk =
            last >= plan.size() || s.cancelRequested || readRound(last, rounds[r ^ 1]);
        for (std::thread& t : workers)
            t.join();
        if (!readOk) return EncodeOutcome::ReadError;
        if (s.cancelRequested) return EncodeOutcome::Cancelled;
        for (size_t i = first; i < last; ++i) {
            joiner.append(plan[i]);
            spare.push_back(std::move(plan[i].words));
        }
    }
    if (!joiner.out.empty()) writeWords(s, joiner.out);
    if (s.cancelRequested) return EncodeOutcome::Cancelled;

    // The source must end where it was measured.
    uint8_t extra;
    const int32_t more = s.source->read(&extra, 1);
    if (more != 0) return EncodeOutcome::ReadError;

    // End pad: 32 zero bits, of which only whole words are stored.
    joiner.out.push_back(joiner.hasCarry ? static_cast<uint16_t>(joiner.carry << 8) : 0);
    joiner.out.push_back(0);
    writeWords(s, joiner.out);
    return EncodeOutcome::Complete;
}

} // namespace kpz
