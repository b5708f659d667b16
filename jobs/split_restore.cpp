// SPDX-License-Identifier: BSD-3-Clause
// The two-thread restore: both threads decode the payload through positional reads with the
// block kernels; the first writes the first part, the second passes over it and writes the
// rest. The first part is read twice, so the two reads must agree before the output counts.
#include "split_restore.h"

#include "check_trailer.h"
#include "codec_state.h"
#include "kernels.h"
#include "scramble.h"
#include "split_coder.h"
#include "split_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace kpz {

namespace {

// The first thread's share of the restored bytes, in thousandths: the second thread decodes
// the first part before it restores its own, so the first part is the larger one and both
// threads end at about the same time (measured on all.wav: 640 gives the shortest run).
constexpr uint32_t kFirstPermille = 640;

// Below this a second thread costs more than it saves: starting it, waking the other
// processor and waiting for it take about 1.5 ms, and the restore gains about 0.07 ms per
// MiB (measured with kpz -d on both thread counts side by side: two threads were 0.5 ms
// slower at 32 MiB, 0.5 ms faster at 48 MiB, 2.3 ms at 64 MiB, 11 ms on all.wav).
constexpr uint64_t kMinTwoThreadBytes = 48u << 20;

constexpr int kMaxBlockBits = 8 + 32 * 16;
constexpr uint64_t kBlockBytes = 2 * kBlockLength;
// Blocks of one piece: 512 KiB restored, the one-thread restore's flush.
constexpr int32_t kBlocksPerPiece = kBufferLength / kBlockLength;
// A reader's buffer holds kBufferLength words: the payload words read, and zero words past
// them that a block decoded at the payload's end may read beyond its last valid word.
constexpr size_t kSlackWords = 64;
constexpr size_t kReadWords = kBufferLength - kSlackWords;

// One thread's buffers: restored samples, and payload words.
struct Buffers {
    uint16_t* samples;
    uint16_t* words;
};

// The second thread's buffers, placed half way into a page as the codec state places its
// own, so that reads into them and writes from them copy at full speed.
struct alignas(4096) SecondBuffers {
    char before[2048];
    uint16_t samples[kBufferLength];
    uint16_t words[kBufferLength];
};

// Reads a member's payload through positional reads, unscrambles it and decodes its blocks.
class PayloadReader {
  public:
    enum class Status { Ok, ReadFailed, Damaged };

    PayloadReader(File& file, uint64_t payloadStart, uint16_t code, uint16_t* words)
        : file_(file), start_(payloadStart), next_(payloadStart), code_(code), words_(words) {}

    // Decodes count blocks into out (32 samples each). Damaged when one of them reaches
    // past the payload's last whole word: every block that carries stored bytes must come
    // from real payload bits.
    Status decode(uint16_t* out, int32_t count) {
        int32_t done = 0;
        while (done < count) {
            const int64_t validBits = static_cast<int64_t>(valid_) * 16;
            const int64_t limit =
                ended_ ? validBits : (static_cast<int64_t>(valid_) - 2) * 16 - kMaxBlockBits;
            int32_t n = 0;
            if (cursor_.pos <= limit)
                n = detail::decodeRun(words_, cursor_, out + kBlockLength * done, count - done,
                                      limit);
            done += n;
            if (ended_ && (n == 0 || cursor_.pos > validBits)) return Status::Damaged;
            if (n == 0 && !refill()) return Status::ReadFailed;
        }
        return Status::Ok;
    }

    // Whether the payload holds bytes payload bytes (its blocks and end pad): the reads so
    // far tell, or one more read at its last byte. ReadFailed when that read fails.
    Status holds(uint64_t bytes) {
        if (next_ - start_ >= bytes) return Status::Ok;
        if (ended_) return Status::Damaged;
        uint8_t last;
        const int64_t n = file_.readAt(start_ + bytes - 1, &last, 1);
        if (n < 0) return Status::ReadFailed;
        return n == 1 ? Status::Ok : Status::Damaged;
    }

    // Stream bits of the payload decoded so far, and the last frame restored.
    uint64_t bitPosition() const { return dropped_ * 16 + static_cast<uint64_t>(cursor_.pos); }
    uint16_t side() const { return cursor_.side; }
    uint16_t right() const { return cursor_.right; }

  private:
    // Drops the words decoded and reads on to a full buffer, or to the source's end.
    bool refill() {
        const auto drop = static_cast<size_t>(cursor_.pos >> 4);
        std::memmove(words_, words_ + drop, (valid_ - drop) * 2);
        valid_ -= drop;
        dropped_ += drop;
        cursor_.pos -= static_cast<int64_t>(drop) * 16;
        auto* bytes = reinterpret_cast<uint8_t*>(words_ + valid_);
        const size_t want = (kReadWords - valid_) * 2;
        size_t got = 0;
        while (got < want) {
            const int64_t n = file_.readAt(next_, bytes + got, static_cast<uint32_t>(want - got));
            if (n < 0) return false;
            if (n == 0) {
                ended_ = true;
                break;
            }
            got += static_cast<size_t>(n);
            next_ += static_cast<uint64_t>(n);
        }
        // A lone last byte is not a whole word: its stream bits are no payload.
        scramble(words_ + valid_, got / 2, code_);
        valid_ += got / 2;
        if (ended_) std::fill(words_ + valid_, words_ + kReadWords + kSlackWords, 0);
        return true;
    }

    File& file_;
    const uint64_t start_;
    uint64_t next_; // where the next read starts in the file
    uint16_t code_; // the password's scramble code
    // kReadWords payload words, then (once the source has ended) zero words to the buffer's
    // end. Before that a block never reaches past the words read, so nothing else is cleared.
    uint16_t* words_;
    size_t valid_ = 0;
    uint64_t dropped_ = 0; // words dropped from the buffer's front so far
    bool ended_ = false;
    detail::DecodeCursor cursor_{0, 0, 0, 0, 0};
};

// The first failure one thread met, and at which block.
struct Failure {
    Problem problem = Problem::None;
    uint64_t at = UINT64_MAX;
    int error = 0;
};

class TwoRestores {
  public:
    TwoRestores(const TwoThreadRestore& run, const bool& cancel,
                const TwoThreadRestoreProgress& progress)
        : run_(run), cancel_(cancel), progress_(progress), cutBlocks_(run.cut / kBlockBytes),
          blocks_((run.originalSize + kBlockBytes - 1) / kBlockBytes) {}

    // The first part, on the calling thread. True when the second thread had not started
    // on its own part by then (still in its pass, short of a processor, or not running):
    // the calling thread then restores the rest, since it can go on at once.
    bool restoreFirst(PayloadReader& reader, const Buffers& b) {
        for (uint64_t block = 0; block < cutBlocks_; block += kBlocksPerPiece) {
            if (cancel_) {
                fail(first_, Problem::Cancelled, block);
                return false;
            }
            const auto n =
                static_cast<int32_t>(std::min<uint64_t>(kBlocksPerPiece, cutBlocks_ - block));
            if (!restorePiece(first_, reader, b.samples, block, n,
                              run_.hashFirstPart ? &firstHash_ : nullptr))
                return false;
        }
        firstEnd_ = reader.bitPosition();
        firstSide_ = reader.side();
        firstRight_ = reader.right();
        int expected = kScanning;
        return phase_.compare_exchange_strong(expected, kFirstTakesAll);
    }

    // The rest, after restoreFirst took it over: the first thread's hash, when it kept one,
    // covers everything written.
    void restoreRest(PayloadReader& reader, const Buffers& b) {
        hash_ = run_.hashFirstPart ? &firstHash_ : nullptr;
        restoreToTheEnd(first_, reader, b);
    }

    // The pass over the first part (hashing what it decodes), then the rest, unless the
    // calling thread took it over first. A pass that cannot decode the first part leaves
    // it to the calling thread, which meets the same failure in its place, or none if the
    // source changed under the pass.
    void restoreSecond(const Buffers& b) {
        PayloadReader reader(run_.source, run_.payloadStart, run_.passwordCode, b.words);
        for (uint64_t block = 0; block < cutBlocks_; block += kBlocksPerPiece) {
            if (stop_.load(std::memory_order_relaxed) ||
                phase_.load(std::memory_order_acquire) == kFirstTakesAll)
                return;
            const auto n =
                static_cast<int32_t>(std::min<uint64_t>(kBlocksPerPiece, cutBlocks_ - block));
            if (reader.decode(b.samples, n) != PayloadReader::Status::Ok) return;
            secondHash_.add(b.samples, static_cast<size_t>(n) * kBlockBytes);
        }
        int expected = kScanning;
        if (!phase_.compare_exchange_strong(expected, kSecondRestores)) return;
        seenEnd_ = reader.bitPosition();
        seenSide_ = reader.side();
        seenRight_ = reader.right();
        if (run_.hashFirstPart) seenValue_ = secondHash_.value();
        hash_ = &secondHash_;
        restoreToTheEnd(second_, reader, b);
    }

    // Waits for the second thread, showing progress and taking a cancel meanwhile.
    void waitForSecond() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!secondDone_) {
            done_.wait_for(lock, std::chrono::milliseconds(50));
            lock.unlock();
            showProgress();
            if (cancel_ && first_.problem == Problem::None)
                fail(first_, Problem::Cancelled, cutBlocks_);
            lock.lock();
        }
    }
    void secondDone() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            secondDone_ = true;
        }
        done_.notify_one();
    }

    TwoThreadRestoreResult result() const {
        TwoThreadRestoreResult r;
        const bool secondRestored = phase_.load(std::memory_order_acquire) == kSecondRestores;
        // The first thread's failure comes first in the payload's order; the second thread's
        // part counts only once the two reads of the first part agree.
        if (first_.problem != Problem::None) {
            r.problem = first_.problem;
            r.error = first_.error;
        } else if (secondRestored && !firstPartAgrees()) {
            r.ran = false;
        } else if (second_.problem != Problem::None) {
            r.problem = second_.problem;
            r.error = second_.error;
        } else {
            r.payloadLength = payloadLength_;
            r.hashConfirmed = run_.hashFirstPart;
            r.hash = hash_ ? hash_->value() : 0;
        }
        return r;
    }

  private:
    // Whether the second thread's part follows the first as written: the pass ended where
    // the first thread did, with its frame, and (with the check value) its hash of the first
    // part is the hash of what the first thread wrote. A source rewritten in place between
    // the two reads of the first part could otherwise join a first part of one version with
    // a second part or a check value of another.
    bool firstPartAgrees() const {
        if (firstEnd_ != seenEnd_ || firstSide_ != seenSide_ || firstRight_ != seenRight_)
            return false;
        return !run_.hashFirstPart || firstHash_.value() == seenValue_;
    }

    void showProgress() {
        if (progress_) progress_(restored_.load(std::memory_order_relaxed));
    }

    void fail(Failure& mine, Problem p, uint64_t at, int error = 0) {
        mine = {p, at, error};
        // The first thread's failure comes before anything of the second part; the second
        // thread's stops only itself, as the first part may still hold an earlier one.
        if (&mine == &first_) stop_.store(true, std::memory_order_relaxed);
    }

    // Decodes n blocks from block on, hashes and writes the stored bytes among them.
    bool restorePiece(Failure& mine, PayloadReader& reader, uint16_t* samples, uint64_t block,
                      int32_t n, ContentHash* hash) {
        switch (reader.decode(samples, n)) {
        case PayloadReader::Status::Ok:
            break;
        case PayloadReader::Status::ReadFailed:
            fail(mine, Problem::SourceRead, block);
            return false;
        case PayloadReader::Status::Damaged:
            fail(mine, Problem::Damaged, block);
            return false;
        }
        const uint64_t at = block * kBlockBytes;
        const auto bytes = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t(n) * kBlockBytes, run_.originalSize - at));
        if (hash) hash->add(samples, bytes);
        if (run_.output.writeAt(at, samples, bytes) != bytes) {
            fail(mine, Problem::WriteFailed, block, errno);
            return false;
        }
        restored_.fetch_add(bytes, std::memory_order_relaxed);
        if (&mine == &first_) showProgress();
        return true;
    }

    // Restores the blocks from the cut to the last one that holds stored bytes, then checks
    // that the payload holds its end pad.
    void restoreToTheEnd(Failure& mine, PayloadReader& reader, const Buffers& b) {
        const bool caller = &mine == &first_;
        for (uint64_t block = cutBlocks_; block < blocks_; block += kBlocksPerPiece) {
            if (!caller && stop_.load(std::memory_order_relaxed)) return;
            if (caller && cancel_) return fail(mine, Problem::Cancelled, block);
            const auto n =
                static_cast<int32_t>(std::min<uint64_t>(kBlocksPerPiece, blocks_ - block));
            if (!restorePiece(mine, reader, b.samples, block, n, hash_)) return;
        }
        // The encoder ends every payload with two pad words after the data blocks; a payload
        // without them has been cut short, although no stored byte is missing.
        const uint64_t length = 2 * (reader.bitPosition() / 16 + 2);
        switch (reader.holds(length)) {
        case PayloadReader::Status::Ok:
            payloadLength_ = length;
            return;
        case PayloadReader::Status::ReadFailed:
            return fail(mine, Problem::SourceRead, blocks_);
        case PayloadReader::Status::Damaged:
            return fail(mine, Problem::Damaged, blocks_);
        }
    }

    // Who restores the rest: undecided while the second thread passes over the first part.
    static constexpr int kScanning = 0, kSecondRestores = 1, kFirstTakesAll = 2;

    const TwoThreadRestore& run_;
    const bool& cancel_;
    const TwoThreadRestoreProgress& progress_;
    const uint64_t cutBlocks_, blocks_;
    std::atomic<uint64_t> restored_{0};
    std::atomic<bool> stop_{false};
    std::atomic<int> phase_{kScanning};
    std::mutex mutex_;
    std::condition_variable done_;
    bool secondDone_ = false;
    Failure first_, second_;
    uint64_t payloadLength_ = 0;
    // The first part as the first thread wrote it (with the check value), and as the second
    // thread's pass found it: where it ends in the payload, its last frame, its hash.
    ContentHash firstHash_, secondHash_;
    ContentHash* hash_ = nullptr; // the hash of everything restored, in order
    uint64_t firstEnd_ = 0, seenEnd_ = 1, seenValue_ = 0;
    uint16_t firstSide_ = 0, firstRight_ = 0, seenSide_ = 0, seenRight_ = 0;
};

} // namespace

uint64_t restoreCut(uint64_t originalSize, unsigned threads) {
    if (threads < 2 || originalSize < kMinTwoThreadBytes) return 0;
    const uint64_t cut = splitPoint(originalSize, kFirstPermille);
    if (cut == 0) return 0;
    return filesShareableByThreads() ? cut : 0;
}

TwoThreadRestoreResult restoreOnTwoThreads(const TwoThreadRestore& run, const bool& cancel,
                                           const TwoThreadRestoreProgress& progress, bool helper) {
    // The calling thread's buffers are the caller's, already in memory, and the second
    // thread's pages are mapped present at once: on a virtual machine a fault on each new
    // page would cost about as long as restoring 10 KB (2.7 ms for 1 MiB, measured).
    struct Release {
        void operator()(SecondBuffers* b) const { freePages(b, sizeof(SecondBuffers)); }
    };
    void* pages = allocatePages(sizeof(SecondBuffers));
    std::unique_ptr<SecondBuffers, Release> owned(pages ? ::new (pages) SecondBuffers : nullptr);
    if (!owned) {
        TwoThreadRestoreResult none;
        none.ran = false;
        return none;
    }
    TwoRestores work(run, cancel, progress);
    const Buffers first{run.samples, run.words}, second{owned->samples, owned->words};
    PayloadReader reader(run.source, run.payloadStart, run.passwordCode, first.words);
    std::thread thread;
    if (helper) {
        try {
            thread = std::thread([&] {
                work.restoreSecond(second);
                work.secondDone();
            });
        } catch (const std::system_error&) {
            // No second thread: the calling thread restores everything.
        }
    }
    // After a takeover the second thread only stops: the calling thread goes on at once.
    if (work.restoreFirst(reader, first)) work.restoreRest(reader, first);
    if (thread.joinable()) {
        work.waitForSecond();
        thread.join();
    }
    TwoThreadRestoreResult r = work.result();
    // The two reads of the first part disagreed: nothing written is kept, and the caller
    // restores on one thread, which reads each byte once.
    if (!r.ran && !run.output.setLength(0)) {
        r.ran = true;
        r.problem = Problem::WriteFailed;
        r.error = errno;
    }
    return r;
}

} // namespace kpz
