// SPDX-License-Identifier: BSD-3-Clause
// Compressing a large file on two threads. Each thread reads, codes and writes its own part
// of the file at its own offsets, so that no piece of it passes between processors: the
// first thread codes the first part; the second finds where the second part's payload
// starts from a width pass over the first part, then codes the second part. The output is
// byte for byte the one-thread coder's.
#pragma once

#include "codec_state.h"
#include "file_io.h"
#include "outcome.h"

#include <cstdint>
#include <functional>

namespace kpz {

// Where the compression of a source of sourceBytes is cut for two threads, or 0 when it
// runs on one: threads below 2 (the caller decides how many the machine can spare), a
// source too small to gain from it, a state whose buffer is not the usual 512 KiB, a fault
// plan installed, or a system whose positional reads and writes cannot be shared by
// threads.
uint64_t twoThreadCut(const CodecState& s, uint64_t sourceBytes, unsigned threads);

// Whether two threads may read and write one file at once here: the system's positional
// reads and writes can be shared by threads, and no fault plan counts them (its counts
// follow one thread's order).
bool filesShareableByThreads();

struct TwoThreadRun {
    File& source;
    File& output;
    uint64_t sourceBytes;  // the source's length, as the header states it
    uint64_t cut;          // from twoThreadCut
    uint64_t payloadStart; // the header's length: where the payload starts in the output
    uint16_t passwordCode; // 0 without a password
    bool withCheck;        // the check trailer follows the payload
};

struct TwoThreadResult {
    // false: nothing is left past the header and the caller codes the file on one thread:
    // there was no memory for the buffers, or the source changed between the two reads of
    // its first part (one thread's and the width pass's).
    bool ran = true;
    Problem problem = Problem::None; // SourceRead, SizeChanged, WriteFailed or Cancelled
    int error = 0;                   // errno of a failed read or write
    uint64_t outputEnd = 0;          // the output's length, trailer included
};

// Called on the calling thread after each piece it codes: source bytes coded and payload
// bytes written so far by both threads.
using TwoThreadProgress = std::function<void(uint64_t sourceDone, uint64_t outputDone)>;

// Codes the source into the output after its header, which the caller has written, with
// the end pad and the check trailer when asked for. The calling thread codes the first
// part; a second thread runs the width pass and codes the second part, unless the calling
// thread is through the first part before that thread is through its width pass (the
// machine is busy, or helper is false): the calling thread then codes the second part too.
// cancel is read on the calling thread between its pieces, as the one-thread coder reads
// it between reads. A failure stops both threads; the problem is the one met first in the
// source's order, as one thread would have met it.
TwoThreadResult codeOnTwoThreads(const TwoThreadRun& run, const bool& cancel,
                                 const TwoThreadProgress& progress = {}, bool helper = true);

} // namespace kpz
