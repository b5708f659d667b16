// SPDX-License-Identifier: BSD-3-Clause
// Streams the jobs put between the coder and their files: a byte handed back, a source
// hashed as it is read, the restored bytes cut to the stored size, and the scope of one
// coder run.
#pragma once

#include "check_trailer.h"
#include "codec_state.h"
#include "outcome.h"
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace kpz {

// Hands back a byte already taken from a stream before the rest of it, so the header
// reader sees the whole header although the marker was read (and answered) first.
class ReplayedByte final : public Stream {
  public:
    ReplayedByte(uint8_t byte, Stream& rest) : byte_(byte), rest_(rest) {}

    int32_t read(void* buffer, uint32_t count) override {
        if (!pending_ || count == 0) return rest_.read(buffer, count);
        pending_ = false;
        auto* bytes = static_cast<uint8_t*>(buffer);
        bytes[0] = byte_;
        if (count == 1) return 1;
        const int32_t n = rest_.read(bytes + 1, count - 1);
        return n < 0 ? -1 : n + 1;
    }
    uint32_t write(const void*, uint32_t) override { return 0; }

  private:
    uint8_t byte_;
    Stream& rest_;
    bool pending_ = true;
};

// Passes writes on and keeps the system's reason (errno) for the first one that came back
// short, before later calls can overwrite it; 0 when the destination gave none.
class NotedWrites final : public Stream {
  public:
    explicit NotedWrites(Stream& to) : to_(to) {}
    int32_t read(void* buffer, uint32_t count) override { return to_.read(buffer, count); }
    uint32_t write(const void* data, uint32_t count) override {
        errno = 0;
        const uint32_t n = to_.write(data, count);
        if (n < count && error == 0) error = errno;
        return n;
    }
    int error = 0;

  private:
    Stream& to_;
};

// Installs the job's streams for one coder run and notes a failed write and its reason,
// while the hooks the caller installed still run; puts everything back afterwards.
class RunScope {
  public:
    RunScope(CodecState& s, Stream& source, Stream& destination)
        : s_(s), saved_(s.hooks), destination_(destination) {
        s.source = &source;
        s.destination = &destination_;
        s.hooks.reportWriteFailure = [this] {
            writeFailed = true;
            if (saved_.reportWriteFailure) saved_.reportWriteFailure();
        };
    }
    ~RunScope() {
        s_.hooks = saved_;
        s_.source = s_.destination = nullptr;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
    // The destination as the coder sees it: writes outside the coder (a header, a trailer)
    // go through here too, so that their failure keeps its reason.
    Stream& destination() { return destination_; }
    // errno of the first write that came back short (0: none, or no reason given).
    int writeError() const { return destination_.error; }
    bool writeFailed = false;

  private:
    CodecState& s_;
    CodecHooks saved_;
    NotedWrites destination_;
};

// Passes reads on and hashes what they deliver: the source of a compression with a check.
class HashedSource final : public Stream {
  public:
    HashedSource(Stream& from, ContentHash& hash) : from_(from), hash_(hash) {}
    int32_t read(void* buffer, uint32_t count) override {
        const int32_t n = from_.read(buffer, count);
        if (n > 0) hash_.add(buffer, static_cast<size_t>(n));
        return n;
    }
    uint32_t write(const void*, uint32_t) override { return 0; }

  private:
    Stream& from_;
    ContentHash& hash_;
};

// Passes on the first limit bytes written and drops the rest (the decoder's surplus past
// the stored size), hashing what it passes when asked to.
class RestoredBytes final : public Stream {
  public:
    RestoredBytes(Stream& to, uint64_t limit, ContentHash* hash)
        : to_(to), limit_(limit), hash_(hash) {}
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override {
        const auto wanted = static_cast<uint32_t>(std::min<uint64_t>(count, limit_ - passed_));
        written += count;
        if (wanted == 0) return count;
        if (hash_) hash_->add(data, wanted);
        const uint32_t stored = to_.write(data, wanted);
        passed_ += stored;
        return stored == wanted ? count : stored;
    }
    uint64_t written = 0; // every byte the decoder produced

  private:
    Stream& to_;
    uint64_t limit_;
    uint64_t passed_ = 0;
    ContentHash* hash_;
};

// Writes the check trailer for a source whose bytes hash to hash, through write (a
// stream's write, or a write at a place in a file): every compression ends its checked
// payload here. False when fewer than all its bytes were stored.
template <class Write> bool writeCheckTrailer(uint64_t hash, Write&& write) {
    uint8_t trailer[kTrailerBytes];
    encodeTrailer(hash, trailer);
    return write(static_cast<const void*>(trailer), kTrailerBytes) == kTrailerBytes;
}

inline Outcome problem(Problem p, int error = 0) {
    return Outcome{p, error, {}};
}

} // namespace kpz
