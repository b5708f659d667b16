// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target: arbitrary bytes, header included, checked and decoded by the same steps
// `kpz -t` takes on a file. Any input must end in a clean verdict: no crash, no undefined
// behaviour, no hang, and the decoder never produces more than the stored size plus the rest
// of its last blocks.
#include "file_job.h"
#include "fuzz_state.h"
#include "password.h"
#include "payload.h"
#include "sinks.h"
#include "stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kpz::CodecState& s = kpzfuzz::sharedState();
    // A password-marked file is unscrambled with a fixed code: any other code is just
    // another XOR of the same payload, so the input already covers it.
    static const uint16_t code = kpz::passwordCode("fuzz");

    kpz::MemoryStream in(std::vector<uint8_t>(data, data + size));
    kpz::Header header;
    const kpz::Outcome checked = kpz::readCompressedHeader(in, size, header);
    if (!checked.ok()) {
        // A header is refused only as unknown, unreadable or too short for its size.
        if (checked.problem != kpz::Problem::UnknownFormat &&
            checked.problem != kpz::Problem::SourceRead && checked.problem != kpz::Problem::Damaged)
            std::abort();
        return 0;
    }
    kpz::CountingSink sink;
    kpz::MemberInput members(in);
    kpz::MemberEnd end;
    uint64_t produced = 0;
    const kpz::Outcome decoded = kpz::decodePayload(s, members, header, sink, code, end, &produced);
    // The decoder stops within two blocks (128 bytes) past the stored size, and the sink
    // never receives more than the stored size.
    if (produced > uint64_t{header.originalSize} + 128 || sink.written > header.originalSize ||
        (decoded.ok() && sink.written != header.originalSize)) {
        std::fprintf(stderr, "decoded %llu bytes (%llu passed on) for a stored size of %u\n",
                     static_cast<unsigned long long>(produced),
                     static_cast<unsigned long long>(sink.written), header.originalSize);
        std::abort();
    }
    // A memory stream cannot fail to read and a counting sink cannot refuse a write; the
    // only verdicts are complete, damaged, and a check value that does not match.
    if (!decoded.ok() && decoded.problem != kpz::Problem::Damaged &&
        decoded.problem != kpz::Problem::CheckMismatch)
        std::abort();
    if (decoded.ok() && produced < header.originalSize) std::abort();
    return 0;
}
