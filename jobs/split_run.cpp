// SPDX-License-Identifier: BSD-3-Clause
// The two-thread compression run: a width pass places the second part, each thread codes
// its part through positional reads and writes, and the second thread hashes the source in
// order for the check trailer.
#include "split_run.h"

#include "check_trailer.h"
#include "job_streams.h"
#include "pages.h"
#include "scramble.h"
#include "split_coder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace kpz {

namespace {

// The first thread's share of the source, in thousandths. The second thread runs the width
// pass over the first part before it codes its own, so the first part is the larger one
// and both threads end at about the same time.
constexpr uint32_t kFirstPermille = 680;

// One thread's buffers, placed as the codec state places its own (samples half way into a
// page; see CodecState), so that reads into them copy at full speed.
struct alignas(4096) ThreadBuffers {
    char before[2048];
    int16_t samples[kBufferLength];
    uint16_t words[HalfCoder::kWordRoom];
};

// The first failure one thread met, and where in the source.
struct Failure {
    Problem problem = Problem::None;
    uint64_t at = UINT64_MAX;
    int error = 0; // the system's reason, for a failed read or write
};

class TwoThreads {
  public:
    TwoThreads(const TwoThreadRun& run, const bool& cancel, const TwoThreadProgress& progress)
        : run_(run), cancel_(cancel), progress_(progress) {}

    // The first part, on the calling thread. True when the second thread had not started
    // on the second part by then (still in its width pass, short of a processor, or not
    // running at all): the calling thread then takes the second part over, since it can
    // start on it at once.
    bool codeFirst(ThreadBuffers& b) {
        firstCoder_.writer.out = b.words;
        uint64_t pos = run_.payloadStart;
        for (uint64_t at = 0; at < run_.cut; at += kChunkBytes) {
            if (stop_.load(std::memory_order_relaxed)) return false;
            if (cancel_) {
                fail(first_, Problem::Cancelled, at);
                return false;
            }
            if (!readPiece(first_, at, b.samples, kChunkBytes)) return false;
            // What this thread codes, to compare with what the check value covers: coding
            // turns the samples into residuals in place, so before it.
            if (run_.withCheck) coded_.add(b.samples, kChunkBytes);
            if (!writeWords(first_, at, b.words, firstCoder_.code(b.samples, kBufferLength), pos))
                return false;
            coded(kChunkBytes);
        }
        firstEnd_ = pos;
        firstSide_ = firstCoder_.prevSide;
        firstRight_ = firstCoder_.prevRight;
        int expected = kScanning;
        return phase_.compare_exchange_strong(expected, kFirstTakesAll);
    }

    // The rest after codeFirst took it over, once the second thread has stopped: the part
    // of the source its width pass did not hash, then the second part.
    void codeRest(ThreadBuffers& b) {
        if (run_.withCheck) {
            for (uint64_t at = hashedUpTo_; at < run_.cut; at += kChunkBytes) {
                if (stop_.load(std::memory_order_relaxed)) return;
                if (!readPiece(first_, at, b.samples, kChunkBytes)) return;
                hash_.add(b.samples, kChunkBytes);
            }
            // The check value covers the first part as read for it, which must be what
            // was coded.
            seenValue_ = hash_.value();
            compareFirstPart_ = true;
        }
        secondStart_ = firstEnd_;
        codeToTheEnd(first_, b, firstCoder_, firstEnd_);
    }

    // The width pass over the first part (hashing it on the way), then the second part,
    // unless the calling thread took it over first.
    void codeSecond(ThreadBuffers& b) {
        int16_t side = 0, right = 0;
        uint64_t firstBytes = 0;
        for (uint64_t at = 0; at < run_.cut; at += kChunkBytes) {
            if (stop_.load(std::memory_order_relaxed)) return;
            if (phase_.load(std::memory_order_acquire) == kFirstTakesAll) {
                hashedUpTo_ = at;
                return;
            }
            if (!readPiece(second_, at, b.samples, kChunkBytes)) return;
            if (run_.withCheck) hash_.add(b.samples, kChunkBytes);
            firstBytes += codedBlockBytes(b.samples, kBufferLength, side, right);
        }
        int expected = kScanning;
        if (!phase_.compare_exchange_strong(expected, kSecondCodes)) {
            hashedUpTo_ = run_.cut;
            return;
        }
        if (run_.withCheck) {
            seenValue_ = hash_.value();
            compareFirstPart_ = true;
        }
        seenSide_ = side;
        seenRight_ = right;
        // Every whole chunk codes to whole words, so the second part starts on a word of the
        // payload, with the prediction state the first part ends in.
        HalfCoder coder(b.words, side, right);
        secondStart_ = run_.payloadStart + firstBytes;
        codeToTheEnd(second_, b, coder, secondStart_);
    }

    TwoThreadResult result() const {
        TwoThreadResult r;
        const Failure& f = first_.at <= second_.at ? first_ : second_;
        if (f.problem != Problem::None) {
            r.problem = f.problem;
            r.error = f.error;
        } else if (!firstPartAgrees()) {
            r.ran = false;
        } else {
            r.outputEnd = outputEnd_;
        }
        return r;
    }

  private:
    // Whether the output restores to the bytes its coders read, as one thread's always
    // does, although the first part was read twice: by the calling thread that coded it
    // and by the width pass (or, after a takeover, by the reads that hashed it for the
    // check value). A source rewritten in place between the two reads could otherwise
    // join a first part of one version with a second part placed or predicted from
    // another, or with a check value of another, where no block width changed. What the
    // width pass gives the output is where the second part starts and the frame it is
    // predicted from; with the check value, also the hash of the first part, which must be
    // the hash of what was coded.
    bool firstPartAgrees() const {
        if (firstEnd_ != secondStart_) return false;
        if (phase_.load(std::memory_order_acquire) == kSecondCodes &&
            (firstSide_ != seenSide_ || firstRight_ != seenRight_))
            return false;
        return !compareFirstPart_ || coded_.value() == seenValue_;
    }

    // Counts a piece coded by either thread, and shows the progress of both when the
    // piece was the calling thread's: the caller's hooks run on its own thread only.
    void coded(uint64_t sourceBytes) {
        const uint64_t done = sourceDone_.fetch_add(sourceBytes, std::memory_order_relaxed);
        if (progress_ && std::this_thread::get_id() == caller_)
            progress_(done + sourceBytes, outputDone_.load(std::memory_order_relaxed));
    }

    void fail(Failure& mine, Problem p, uint64_t at, int error = 0) {
        mine = {p, at, error};
        stop_.store(true, std::memory_order_relaxed);
    }

    bool readPiece(Failure& mine, uint64_t at, int16_t* samples, uint32_t count) {
        const int64_t n = run_.source.readAt(at, samples, count);
        if (n == count) return true;
        // A piece cut short: the source ended before the length taken at the start.
        if (n < 0)
            fail(mine, Problem::SourceRead, at, errno);
        else
            fail(mine, Problem::SizeChanged, at);
        return false;
    }

    bool writeWords(Failure& mine, uint64_t at, uint16_t* words, int32_t count, uint64_t& pos) {
        scramble(words, static_cast<size_t>(count), run_.passwordCode);
        const uint32_t bytes = 2u * static_cast<uint32_t>(count);
        if (run_.output.writeAt(pos, words, bytes) != bytes) {
            fail(mine, Problem::WriteFailed, at, errno);
            return false;
        }
        pos += bytes;
        outputDone_.fetch_add(bytes, std::memory_order_relaxed);
        return true;
    }

    // Codes the second part from its place pos in the output, then the end pad and the
    // check trailer.
    void codeToTheEnd(Failure& mine, ThreadBuffers& b, HalfCoder& coder, uint64_t pos) {
        for (uint64_t at = run_.cut; at < run_.sourceBytes; at += kChunkBytes) {
            if (stop_.load(std::memory_order_relaxed)) return;
            const auto want =
                static_cast<uint32_t>(std::min<uint64_t>(kChunkBytes, run_.sourceBytes - at));
            if (!readPiece(mine, at, b.samples, want)) return;
            if (run_.withCheck) hash_.add(b.samples, want);
            // The short last piece codes as the one-thread coder codes it: its odd byte and
            // its last block padded with what the previous piece left in the buffer.
            const auto samples = static_cast<int32_t>((want + 1) / 2);
            if (!writeWords(mine, at, b.words, coder.code(b.samples, samples), pos)) return;
            coded(want);
        }
        // A source that grew since its length was taken: one thread would read on and find
        // the size changed.
        uint8_t more;
        const int64_t extra = run_.source.readAt(run_.sourceBytes, &more, 1);
        if (extra != 0)
            return fail(mine, extra < 0 ? Problem::SourceRead : Problem::SizeChanged,
                        run_.sourceBytes, extra < 0 ? errno : 0);
        if (!writeWords(mine, run_.sourceBytes, b.words, coder.finish(), pos)) return;
        if (run_.withCheck) {
            const bool stored = writeCheckTrailer(hash_.value(), [&](const void* t, uint32_t n) {
                return run_.output.writeAt(pos, t, n);
            });
            if (!stored) return fail(mine, Problem::WriteFailed, run_.sourceBytes, errno);
            pos += kTrailerBytes;
        }
        outputEnd_ = pos;
    }

    // Who codes the second part: undecided while the second thread runs its width pass.
    static constexpr int kScanning = 0, kSecondCodes = 1, kFirstTakesAll = 2;

    const TwoThreadRun& run_;
    const bool& cancel_;
    const TwoThreadProgress& progress_;
    const std::thread::id caller_ = std::this_thread::get_id();
    std::atomic<uint64_t> sourceDone_{0}, outputDone_{0};
    std::atomic<bool> stop_{false};
    std::atomic<int> phase_{kScanning};
    Failure first_, second_;
    HalfCoder firstCoder_{nullptr, 0, 0};
    // The source's hash in order: the second thread's until it stops or takes the second
    // part, then the first's when that takes over (from hashedUpTo_ on).
    ContentHash hash_;
    uint64_t hashedUpTo_ = 0;
    // With the check value: the first part as the calling thread coded it, and the check
    // value's hash at the end of the first part: they must agree.
    ContentHash coded_;
    uint64_t seenValue_ = 0;
    bool compareFirstPart_ = false;
    int16_t firstSide_ = 0, firstRight_ = 0, seenSide_ = 0, seenRight_ = 0;
    uint64_t firstEnd_ = 0, secondStart_ = 1, outputEnd_ = 0;
};

} // namespace

uint64_t twoThreadCut(const CodecState& s, uint64_t sourceBytes, unsigned threads) {
    if (threads < 2) return 0;
    const uint64_t cut = splitPoint(sourceBytes, kFirstPermille);
    if (cut == 0) return 0;
    // The halves read the usual 512 KiB chunks; a state set to other pieces codes a
    // different end of payload.
    if (s.bufferLength != kBufferLength || s.blockLength != kBlockLength) return 0;
    return filesShareableByThreads() ? cut : 0;
}

bool filesShareableByThreads() {
    const FaultPlan& plan = activeFaultPlan();
    if (plan.readFailsAt != 0 || plan.writeStopsAt >= 0 || plan.noUnnamedFiles) return false;
    return positionalIoFromThreads();
}

TwoThreadResult codeOnTwoThreads(const TwoThreadRun& run, const bool& cancel,
                                 const TwoThreadProgress& progress, bool helper) {
    // Both threads' buffers in pages mapped present at once: on a virtual machine a fault
    // on the first touch of each new page costs about 10 us, some 5 ms for these 2 MiB.
    struct Release {
        void operator()(ThreadBuffers* b) const { freePages(b, 2 * sizeof(ThreadBuffers)); }
    };
    void* pages = allocatePages(2 * sizeof(ThreadBuffers));
    std::unique_ptr<ThreadBuffers, Release> owned(pages ? ::new (pages) ThreadBuffers : nullptr);
    ThreadBuffers* first = owned.get();
    ThreadBuffers* second =
        pages ? ::new (static_cast<char*>(pages) + sizeof(ThreadBuffers)) ThreadBuffers : nullptr;
    if (!first || !second) {
        TwoThreadResult none;
        none.ran = false;
        return none;
    }
    TwoThreads work(run, cancel, progress);
    std::thread thread;
    if (helper) {
        try {
            thread = std::thread([&] { work.codeSecond(*second); });
        } catch (const std::system_error&) {
            // No second thread: the calling thread codes everything.
        }
    }
    const bool takesOver = work.codeFirst(*first);
    if (thread.joinable()) thread.join();
    if (takesOver) work.codeRest(*first);
    TwoThreadResult r = work.result();
    // The source changed between two reads of its first part: nothing written is kept,
    // and the caller codes the file again on one thread, which reads each byte once.
    if (!r.ran && !run.output.setLength(run.payloadStart)) {
        r.ran = true;
        r.problem = Problem::WriteFailed;
        r.error = errno;
    }
    return r;
}

} // namespace kpz
