// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: any bytes compress and restore to themselves, and the portable kernels and
// the fastest ones this processor runs give the same file and restore it alike. The first byte
// picks the variant: bit 0 turns the password on (its code taken from the next two bytes), bit 1
// the kernels of the second restore. Inputs past the 512 KiB chunk are left to the codec tests:
// coding that much per input would slow the search a hundredfold. The buffer size only matters to
// the encoder (it is the chunk the format pads within); the decoder is also run with small buffers.
#include "container.h"
#include "fuzz_state.h"
#include "kernels.h"
#include "memory_codec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "round trip: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kpz::CodecState& s = kpzfuzz::sharedState();
    const uint8_t flags = size > 0 ? data[0] : 0;
    const bool passwordOn = flags & 1;
    const uint16_t code = size > 2 ? static_cast<uint16_t>(data[1] | data[2] << 8) : 0;

    static const kpz::Kernels fastest = kpz::fastestKernels();

    const std::vector<uint8_t> source(data, data + size);
    kpz::selectKernels(kpz::Kernels::Portable);
    const std::vector<uint8_t> first = kpz::compressToMemory(s, source, "a.wav", passwordOn, code);
    kpz::selectKernels(fastest);
    const std::vector<uint8_t> second = kpz::compressToMemory(s, source, "a.wav", passwordOn, code);
    if (first != second) fail("the kernels gave different files");
    const uint64_t payload = first.size() - kpz::kHeaderFixedBytes - 5;
    if (payload < kpz::minimumPayloadBytes(static_cast<uint32_t>(source.size())))
        fail("payload smaller than the stored size allows");

    const kpz::RestoreResult r = kpz::restoreFromMemory(s, first, code);
    if (r.header != kpz::HeaderStatus::Ok) fail("header not read back");
    if (r.info.passwordOn != passwordOn || r.info.originalSize != source.size() ||
        r.info.storedName != "a.wav")
        fail("header fields differ");
    if (r.outcome != kpz::DecodeOutcome::Complete) fail("restore did not complete");
    if (r.data != source) fail("restored bytes differ");

    // Restored again with small input buffers (64 to 2048 words, from the last byte), so
    // that even short files cross the reader's refills and its flushes, by the kernels that
    // bit 1 of the first byte picks.
    s.bufferLength = kpz::kBlockLength * (2 + (size > 0 ? data[size - 1] % 63 : 0));
    kpz::selectKernels((flags & 2) ? kpz::Kernels::Portable : fastest);
    const kpz::RestoreResult small = kpz::restoreFromMemory(s, first, code);
    kpz::selectKernels(fastest);
    s.bufferLength = kpz::kBufferLength;
    if (small.outcome != kpz::DecodeOutcome::Complete || small.data != source)
        fail("restoring with small buffers gave other bytes");
    return 0;
}
