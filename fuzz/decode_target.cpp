// Fuzz target: arbitrary bytes, header included, tested as `kpz -t` tests a file. Any
// input must end in a clean verdict: no crash, no undefined behaviour, no hang, and the
// decoder never produces more than the stored size plus the rest of its last blocks.
#include "codec_runs.h"
#include "fuzz_state.h"
#include "password.h"
#include "stream.h"
#include "terminal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kpz::CodecState& s = kpzfuzz::sharedState();
    // A password-marked file is unscrambled with a fixed code: any other code is just
    // another XOR of the same payload, so the input already covers it.
    static const uint16_t code = kpz::passwordCode("fuzz");

    kpz::resetDecoder(s);
    kpz::MemoryStream in(std::vector<uint8_t>(data, data + size));
    kpz::Header header;
    std::string error;
    if (!kpzcli::readCompressedHeader(in, size, header, error)) {
        if (error.empty()) std::abort(); // a refusal always says why
        return 0;
    }
    kpzcli::ProgressMeter meter(false);
    kpzcli::DecodeRun run;
    uint64_t written = 0;
    // Two threads, as kpz -t uses on a two-core machine: large stored sizes take the
    // parallel decoder.
    const bool complete = kpzcli::testDecode(s, in, header, code, meter, run, written, 2);
    // The decoder stops within two blocks (128 bytes) past the stored size.
    if (written > uint64_t{header.originalSize} + 128) {
        std::fprintf(stderr, "decoded %llu bytes for a stored size of %u\n",
                     static_cast<unsigned long long>(written), header.originalSize);
        std::abort();
    }
    // A memory stream cannot fail to read and a counting sink cannot refuse a write.
    if (run.outcome == kpz::DecodeOutcome::ReadError || run.writeFailed) std::abort();
    if (complete != (run.outcome == kpz::DecodeOutcome::Complete)) std::abort();
    return 0;
}
