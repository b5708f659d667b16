// SPDX-License-Identifier: BSD-3-Clause
// Restoring a large member on two threads. Each thread reads its own part of the payload
// and writes its own part of the output at their offsets: the first thread restores the
// first part; the second decodes that part too without writing it, which gives it where
// its own part starts in the payload, the frame it is predicted from and the check value's
// hash in order, then restores the rest. The bytes are the one-thread restore's.
#pragma once

#include "file_io.h"
#include "outcome.h"

#include <cstdint>
#include <functional>

namespace kpz {

// Restored bytes the first thread restores of a member of originalSize bytes on threads
// threads, or 0 when the member is restored on one thread: one thread asked for, a member
// under 48 MiB, a fault plan that counts one thread's reads and writes, or a system where
// threads cannot read and write at their own offsets.
uint64_t restoreCut(uint64_t originalSize, unsigned threads);

struct TwoThreadRestore {
    File& source;          // the compressed file
    File& output;          // the restored file, written from its start
    uint64_t payloadStart; // where the member's payload starts in source
    uint64_t originalSize; // the stored size
    uint64_t cut;          // from restoreCut
    uint16_t passwordCode; // 0 without a password
    // The calling thread's buffers, kBufferLength words each (the codec state's): restored
    // samples, and payload words.
    uint16_t* samples;
    uint16_t* words;
    // A check trailer is expected after the payload: the first thread hashes what it
    // writes, so that the check value is known to cover the bytes written although the
    // first part was read twice.
    bool hashFirstPart;
};

struct TwoThreadRestoreResult {
    // false: nothing is left in the output and the caller restores on one thread: there
    // was no memory for the buffers, or the two reads of the first part disagreed (the
    // source was rewritten during the run).
    bool ran = true;
    Problem problem = Problem::None; // SourceRead, Damaged, WriteFailed or Cancelled
    int error = 0;                   // errno of a failed write
    uint64_t payloadLength = 0;      // the payload's bytes, blocks and end pad
    uint64_t hash = 0;               // the restored bytes' hash, when hashConfirmed
    // Whether hash is the hash of the bytes written. Without it the restore cannot be
    // checked: a caller that finds a check trailer restores on one thread.
    bool hashConfirmed = false;
};

// Called on the calling thread after each piece it restores and while it waits for the
// second thread: bytes restored so far by both threads.
using TwoThreadRestoreProgress = std::function<void(uint64_t restored)>;

// Restores the member's payload into the output, both threads checking that the payload
// reaches as far as its blocks and end pad do, as one thread does; what follows the payload
// is the caller's to judge. The calling thread restores the first part; a second thread
// decodes it and restores the rest, unless the calling thread is through the first part
// before the second thread is through its pass (the machine is busy, or helper is false):
// the calling thread then restores the rest too. cancel is read on the calling thread
// between its pieces. The problem is the one met first in the payload's order, as one
// thread would have met it.
TwoThreadRestoreResult restoreOnTwoThreads(const TwoThreadRestore& run, const bool& cancel,
                                           const TwoThreadRestoreProgress& progress = {},
                                           bool helper = true);

} // namespace kpz
