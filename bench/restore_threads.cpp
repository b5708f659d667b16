// SPDX-License-Identifier: BSD-3-Clause
// Measures ways of restoring one .kpz file on two threads, to decide which to build:
//   restore_threads one IN OUT [--hash]             positional reads and writes, one thread
//   restore_threads split IN OUT [PERMILLE] [--hash] the same on two threads: the first
//       restores the first PERMILLE thousandths of the blocks; the second decodes them too,
//       writing nothing (that gives it the frame its own part starts from, where its part
//       starts in the payload, and the check value's hash in order), then restores the rest
//   restore_threads exp IN OUT                       experiments/parallel_coder's restore
//       on two threads (one reader and one writer shared by the threads), when built
// --hash hashes the restored bytes as the check value needs. Prints the wall time of the
// restore alone. Files without a password only; no verdicts: a measuring tool.
#include "check_trailer.h"
#include "codec_state.h"
#include "container.h"
#include "encoder.h"
#include "file_io.h"
#include "kernels.h"

#ifdef KPZ_BENCH_EXPERIMENT
#include "parallel_decoder.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kpz;

constexpr int kMaxBlockBits = 8 + 32 * 16;
constexpr int32_t kBlocksPerPiece = kBufferLength / 32; // 512 KiB of output
constexpr size_t kWords = kBufferLength + 64;           // payload words held

// Reads a payload through positional reads and decodes it with the block kernels.
struct PayloadReader {
    File& file;
    uint64_t next;
    std::vector<uint16_t> buf = std::vector<uint16_t>(kWords + 64, 0);
    size_t valid = 0;
    bool ended = false;
    detail::DecodeCursor c{0, 0, 0, 0, 0};

    PayloadReader(File& f, uint64_t payloadStart) : file(f), next(payloadStart) {}

    bool refill() {
        const size_t drop = static_cast<size_t>(c.pos >> 4);
        std::memmove(buf.data(), buf.data() + drop, (valid - drop) * 2);
        valid -= drop;
        c.pos -= static_cast<int64_t>(drop) * 16;
        const int64_t n = file.readAt(next, buf.data() + valid, (kWords - valid) * 2);
        if (n < 0) return false;
        next += static_cast<uint64_t>(n);
        valid += static_cast<size_t>(n) / 2;
        if (static_cast<size_t>(n) < (kWords - valid) * 2 || n == 0) ended = true;
        std::fill(buf.begin() + static_cast<ptrdiff_t>(valid), buf.end(), 0);
        return true;
    }

    // Decodes count blocks into out (32 samples each).
    bool decode(uint16_t* out, int32_t count) {
        int32_t done = 0;
        while (done < count) {
            const int64_t limit = ended ? static_cast<int64_t>(valid) * 16
                                        : (static_cast<int64_t>(valid) - 2) * 16 - kMaxBlockBits;
            int32_t n = 0;
            if (c.pos <= limit)
                n = detail::decodeRun(buf.data(), c, out + 32 * done, count - done, limit);
            done += n;
            if (n == 0) {
                if (ended) return false;
                if (!refill()) return false;
            }
        }
        return true;
    }
};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Job {
    File in, out;
    uint64_t payloadStart = 0;
    uint64_t original = 0;
    uint64_t blocks = 0;
};

// Restores blocks [from, to) with reader r into the output, writing what lies below the
// stored size.
bool restoreBlocks(Job& j, PayloadReader& r, uint64_t from, uint64_t to, uint16_t* out,
                   ContentHash* hash) {
    for (uint64_t b = from; b < to; b += kBlocksPerPiece) {
        const auto n = static_cast<int32_t>(std::min<uint64_t>(kBlocksPerPiece, to - b));
        if (!r.decode(out, n)) return false;
        const uint64_t at = b * 64;
        const uint64_t bytes = std::min<uint64_t>(uint64_t(n) * 64, j.original - at);
        if (hash) hash->add(out, bytes);
        if (j.out.writeAt(at, out, static_cast<uint32_t>(bytes)) != bytes) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: restore_threads one|split|exp IN OUT [PERMILLE] [--hash]\n");
        return 2;
    }
    const std::string mode = argv[1];
    bool withHash = false;
    uint32_t permille = 640;
    for (int i = 4; i < argc; ++i) {
        if (std::string(argv[i]) == "--hash")
            withHash = true;
        else
            permille = static_cast<uint32_t>(std::stoul(argv[i]));
    }
    auto s = std::make_unique<CodecState>();
    buildCodecTables(*s);
    Job j;
    if (!j.in.openRead(argv[2]) || !j.out.create(argv[3])) return 1;
    Header h;
    if (readHeader(j.in, h) != HeaderStatus::Ok || h.passwordOn) return 1;
    j.payloadStart = kHeaderFixedBytes + h.nameLength;
    j.original = h.originalSize;
    j.blocks = (j.original + 63) / 64;
    const double t0 = now();
    bool ok = true;
    if (mode == "exp") {
#ifdef KPZ_BENCH_EXPERIMENT
        s->source = &j.in;
        s->destination = &j.out;
        s->originalSize = h.originalSize;
        s->passwordOn = false;
        ok = decodeFileParallel(*s, 2) == DecodeOutcome::Complete;
#else
        std::fprintf(stderr, "built without the experiment\n");
        return 2;
#endif
    } else if (mode == "one") {
        PayloadReader r(j.in, j.payloadStart);
        std::vector<uint16_t> out(kBufferLength);
        ContentHash hash;
        ok = restoreBlocks(j, r, 0, j.blocks, out.data(), withHash ? &hash : nullptr);
    } else {
        const uint64_t cut =
            std::max<uint64_t>(1, j.blocks * permille / 1000 / kBlocksPerPiece) * kBlocksPerPiece;
        bool secondOk = true;
        double secondAt = 0, firstAt = 0;
        std::thread second([&] {
            PayloadReader r(j.in, j.payloadStart);
            std::vector<uint16_t> out(kBufferLength);
            ContentHash hash;
            for (uint64_t b = 0; b < cut && secondOk; b += kBlocksPerPiece) {
                const auto n = static_cast<int32_t>(std::min<uint64_t>(kBlocksPerPiece, cut - b));
                secondOk = r.decode(out.data(), n);
                if (withHash) hash.add(out.data(), uint64_t(n) * 64);
            }
            secondAt = now() - t0;
            if (secondOk)
                secondOk =
                    restoreBlocks(j, r, cut, j.blocks, out.data(), withHash ? &hash : nullptr);
        });
        PayloadReader r(j.in, j.payloadStart);
        std::vector<uint16_t> out(kBufferLength);
        ok = restoreBlocks(j, r, 0, cut, out.data(), nullptr);
        firstAt = now() - t0;
        second.join();
        ok = ok && secondOk;
        std::fprintf(stderr, "first part done %.4f, second's pass done %.4f\n", firstAt, secondAt);
    }
    const double t1 = now();
    if (!ok || !j.out.close()) {
        std::fprintf(stderr, "restore failed\n");
        return 1;
    }
    std::printf("%.4f\n", t1 - t0);
    return 0;
}
