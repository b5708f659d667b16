// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: the decoder that restores one file on several threads must agree with the
// plain decoder on any input: the same verdict, and when both complete the same bytes up to
// the stored size. Both run on arbitrary bytes, header included, after the checks kpz makes
// before decoding. The number of threads (1 to 4) comes from the last input byte. The plain
// decoder runs with buffers of 64 to 2048 words (from the byte before), so that its refills,
// its switch to the word-by-word reader near a buffer's end and its flushes are all met by
// small inputs; the parallel decoder reads in rounds of its own, so the two share no
// buffer boundaries.
#include "decoder.h"
#include "file_job.h"
#include "fuzz_state.h"
#include "parallel_decoder.h"
#include "payload.h"
#include "stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Decoded {
    kpz::DecodeOutcome outcome = kpz::DecodeOutcome::Damaged;
    std::vector<uint8_t> bytes;
};

Decoded decode(const uint8_t* data, size_t size, int threads, int32_t bufferWords) {
    kpz::CodecState& s = kpzfuzz::sharedState();
    kpz::resetDecoder(s);
    kpz::MemoryStream in(std::vector<uint8_t>(data, data + size));
    kpz::Header header;
    Decoded d;
    if (!kpz::readCompressedHeader(in, size, header).ok()) return d;
    kpz::MemoryStream out;
    s.cancelRequested = false;
    s.source = &in;
    s.destination = &out;
    s.sourceProcessed += header.nameLength;
    s.originalSize = header.originalSize;
    s.passwordOn = header.passwordOn;
    s.passwordCode = header.passwordOn ? 0x5A3C : 0;
    s.blockLength = kpz::kBlockLength;
    if (threads > 0) {
        d.outcome = kpz::decodeFileParallel(s, threads);
    } else {
        s.bufferLength = bufferWords; // a whole number of blocks, as the flush expects
        kpz::refillInput(s);
        d.outcome = kpz::decodeFile(s);
        s.bufferLength = kpz::kBufferLength;
    }
    s.source = s.destination = nullptr;
    d.bytes = std::move(out.data);
    if (d.outcome == kpz::DecodeOutcome::Complete) {
        if (d.bytes.size() < header.originalSize) {
            std::fprintf(stderr, "complete with %zu of %u bytes\n", d.bytes.size(),
                         header.originalSize);
            std::abort();
        }
        d.bytes.resize(header.originalSize);
    }
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int threads = size > 0 ? 1 + data[size - 1] % 4 : 1;
    const int32_t bufferWords = kpz::kBlockLength * (2 + (size > 1 ? data[size - 2] % 63 : 0));
    const Decoded plain = decode(data, size, 0, bufferWords);
    const Decoded parallel = decode(data, size, threads, 0);
    if (plain.outcome != parallel.outcome) {
        std::fprintf(stderr, "plain decoder: outcome %d, parallel (%d threads): outcome %d\n",
                     static_cast<int>(plain.outcome), threads, static_cast<int>(parallel.outcome));
        std::abort();
    }
    if (plain.outcome == kpz::DecodeOutcome::Complete && plain.bytes != parallel.bytes) {
        std::fprintf(stderr, "the decoders restore different bytes (%d threads)\n", threads);
        std::abort();
    }
    return 0;
}
