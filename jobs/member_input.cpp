// SPDX-License-Identifier: BSD-3-Clause
// A restore's input, member after member, and the verdict on what follows each payload.
#include "member_input.h"

#include "codec_state.h"
#include "scramble.h"
#include "sinks.h"

#include <algorithm>
#include <cstring>

namespace kpz {

namespace {

// The trailer's first eight bytes: its tag, version 1 and three zero bytes.
constexpr uint8_t kTrailerSignature[8] = {'K', 'P', 'Z', 'c', 1, 0, 0, 0};

bool startsLikeTrailer(const uint8_t* bytes, size_t count) {
    const size_t n = std::min<size_t>(count, sizeof kTrailerSignature);
    return n > 0 && std::memcmp(bytes, kTrailerSignature, n) == 0;
}

} // namespace

int32_t MemberInput::read(void* buffer, uint32_t count) {
    // The previous read's buffer is about to be reused: keep its last bytes.
    if (tracking_ && last_ && lastCount_ > 0) {
        uint8_t joined[2 * kRecent];
        const size_t fromLast = std::min(lastCount_, kRecent);
        const size_t fromRecent = std::min(recentCount_, kRecent - fromLast);
        std::memcpy(joined, recent_ + recentCount_ - fromRecent, fromRecent);
        std::memcpy(joined + fromRecent, last_ + lastCount_ - fromLast, fromLast);
        rescramble(joined + fromRecent, fromLast, lastCount_ - fromLast);
        recentCount_ = fromRecent + fromLast;
        std::memcpy(recent_, joined, recentCount_);
    }
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    const size_t waiting = pending_.size() - pendingAt_;
    if (waiting > 0) {
        done = std::min<size_t>(waiting, count);
        std::memcpy(out, pending_.data() + pendingAt_, done);
        pendingAt_ += done;
        if (pendingAt_ == pending_.size()) {
            pending_.clear();
            pendingAt_ = 0;
        }
    }
    if (done < count) {
        const int32_t n = source_.read(out + done, static_cast<uint32_t>(count - done));
        if (n < 0) return -1;
        const auto got = static_cast<size_t>(n);
        // The last kTrailerBytes bytes of the source.
        if (got >= kTrailerBytes) {
            std::memcpy(tail_, out + done + got - kTrailerBytes, kTrailerBytes);
        } else if (got > 0) {
            std::memmove(tail_, tail_ + got, kTrailerBytes - got);
            std::memcpy(tail_ + kTrailerBytes - got, out + done, got);
        }
        total_ += got;
        done += got;
    }
    if (tracking_) {
        last_ = out;
        lastCount_ = done;
        payloadRead_ += done;
    }
    return static_cast<int32_t>(done);
}

bool MemberInput::rewindTo(uint64_t length) {
    tracking_ = false;
    if (length > payloadRead_) return false;
    const uint64_t over = payloadRead_ - length;
    if (over > lastCount_ + recentCount_) return false;
    std::vector<uint8_t> back(static_cast<size_t>(over));
    const size_t fromLast = std::min<size_t>(back.size(), lastCount_);
    const size_t fromRecent = back.size() - fromLast;
    if (fromRecent > 0) std::memcpy(back.data(), recent_ + recentCount_ - fromRecent, fromRecent);
    if (fromLast > 0) {
        std::memcpy(back.data() + fromRecent, last_ + lastCount_ - fromLast, fromLast);
        rescramble(back.data() + fromRecent, fromLast, lastCount_ - fromLast);
    }
    payloadRead_ = length;
    last_ = nullptr;
    lastCount_ = recentCount_ = 0;
    putBack(back.data(), back.size());
    return true;
}

void MemberInput::rescramble(uint8_t* bytes, size_t count, size_t offset) const {
    scrambleBytes(bytes, count, offset, code_);
}

void MemberInput::putBack(const uint8_t* bytes, size_t count) {
    if (count == 0) return;
    std::vector<uint8_t> joined(bytes, bytes + count);
    joined.insert(joined.end(), pending_.begin() + static_cast<ptrdiff_t>(pendingAt_),
                  pending_.end());
    pending_ = std::move(joined);
    pendingAt_ = 0;
    // Bytes handed back are not part of the previous read any more.
    last_ = nullptr;
    lastCount_ = recentCount_ = 0;
}

EndVerdict judgeMemberEnd(MemberInput& in, uint64_t restoredHash, MemberEnd& end) {
    const Header none;
    end.checked = end.nextMember = false;
    end.trailingBytes = 0;
    end.next = none;

    uint8_t trailer[kTrailerBytes];
    const int32_t got = in.read(trailer, kTrailerBytes);
    if (got < 0) return EndVerdict::ReadError;
    uint64_t stored = 0;
    if (got == static_cast<int32_t>(kTrailerBytes) && decodeTrailer(trailer, got, stored)) {
        if (stored != restoredHash) return EndVerdict::CheckMismatch;
        end.checked = true;
    } else {
        in.putBack(trailer, static_cast<size_t>(got));
    }

    // Another member: a header that reads whole. Looked at on a copy, so that bytes that
    // are no header are judged as trailing data below.
    uint8_t head[kHeaderFixedBytes + 255];
    const int32_t headBytes = in.read(head, sizeof head);
    if (headBytes < 0) return EndVerdict::ReadError;
    in.putBack(head, static_cast<size_t>(headBytes));
    if (headBytes > 0 && (head[0] == kMarkerPlain || head[0] == kMarkerPassword)) {
        MemoryStream copy(std::vector<uint8_t>(head, head + headBytes));
        Header next;
        if (readHeader(copy, next) == HeaderStatus::Ok) {
            uint8_t skip[kHeaderFixedBytes + 255];
            if (in.read(skip, kHeaderFixedBytes + next.nameLength) < 0)
                return EndVerdict::ReadError;
            end.nextMember = true;
            end.next = next;
            return EndVerdict::Good;
        }
    }

    // Anything else runs to the end of the input. A trailer there, whole or cut, means the
    // payload did not end where its writer ended it.
    const uint64_t start = in.position();
    std::vector<uint8_t> chunk(65536 + sizeof kTrailerSignature);
    size_t carried = 0;
    bool signature = false;
    bool first = true;
    for (;;) {
        const int32_t n = in.read(chunk.data() + carried, 65536);
        if (n < 0) return EndVerdict::ReadError;
        if (n == 0) break;
        const size_t have = carried + static_cast<size_t>(n);
        if (first && have < kTrailerBytes && startsLikeTrailer(chunk.data(), have))
            signature = true;
        first = false;
        if (std::search(chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(have),
                        std::begin(kTrailerSignature), std::end(kTrailerSignature)) !=
            chunk.begin() + static_cast<ptrdiff_t>(have))
            signature = true;
        carried = std::min(have, sizeof kTrailerSignature - 1);
        std::memmove(chunk.data(), chunk.data() + have - carried, carried);
    }
    end.trailingBytes = in.total() - start;
    if (signature) return EndVerdict::CheckMismatch;
    if (!end.checked && in.total() >= kTrailerBytes &&
        decodeTrailer(in.tail(), kTrailerBytes, stored))
        return EndVerdict::CheckMismatch;
    return EndVerdict::Good;
}

} // namespace kpz
