// SPDX-License-Identifier: BSD-3-Clause
// The input of a restore, member after member: the decoder reads ahead in whole chunks, so
// the bytes it took past a payload's end are handed back before the rest of the source.
// What follows each payload is judged here: its check trailer, the next member, or other
// data.
#pragma once

#include "check_trailer.h"
#include "container.h"
#include "stream.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace kpz {

class MemberInput final : public Stream {
  public:
    explicit MemberInput(Stream& source) : source_(source) {}
    // An input that goes on at byte position of a longer source, the first byte source
    // gives: before holds the kTrailerBytes bytes before it. What follows a payload read by
    // other means is judged from there as from the input that read the whole source.
    MemberInput(Stream& source, uint64_t position, const uint8_t (&before)[kTrailerBytes])
        : source_(source), total_(position) {
        std::memcpy(tail_, before, kTrailerBytes);
    }

    int32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void*, uint32_t) override { return 0; }

    // Starts counting the bytes of a new payload at the next byte read. The decoder
    // unscrambles each buffer it reads in place, word by word from the buffer's start, with
    // scrambleCode (0: not scrambled): bytes taken back from its buffer are scrambled
    // again, so that what follows the payload is read as it is stored.
    void startPayload(uint16_t scrambleCode) {
        payloadRead_ = 0;
        code_ = scrambleCode;
        tracking_ = true;
        last_ = nullptr;
        lastCount_ = recentCount_ = 0;
    }
    // Hands back the bytes read past a payload of length bytes, so that the next read
    // starts right after it. The buffer of the last read must still hold what it was
    // given (the decoder's input buffer does, once decoding is over). False when the
    // payload ended further back than that read (the decoder never reads that far ahead).
    bool rewindTo(uint64_t length);
    // Hands back bytes just read, to be read again first.
    void putBack(const uint8_t* bytes, size_t count);
    // Bytes handed out so far, counting those handed back as not handed out.
    uint64_t position() const { return total_ - (pending_.size() - pendingAt_); }
    // Bytes taken from the source so far, and the last kTrailerBytes of them (fewer when
    // the source held fewer), at the end of the array.
    uint64_t total() const { return total_; }
    const uint8_t* tail() const { return tail_; }

  private:
    static constexpr size_t kRecent = 256;
    // Puts back the scrambling of count bytes that lay at offset in the decoder's buffer.
    void rescramble(uint8_t* bytes, size_t count, size_t offset) const;

    Stream& source_;
    std::vector<uint8_t> pending_; // handed back, read before the source
    size_t pendingAt_ = 0;
    uint64_t payloadRead_ = 0; // bytes returned since startPayload
    // The last read's buffer, and a copy of the kRecent bytes returned before it: a
    // payload ends at most a few words before the read that found its end.
    const uint8_t* last_ = nullptr;
    size_t lastCount_ = 0;
    uint8_t recent_[kRecent] = {};
    size_t recentCount_ = 0;
    uint16_t code_ = 0;
    bool tracking_ = false; // between startPayload and rewindTo: reads are the decoder's
    uint64_t total_ = 0;
    uint8_t tail_[kTrailerBytes] = {};
};

// What follows a member's payload.
struct MemberEnd {
    bool checked = false;       // a check trailer followed the payload and matched
    bool nextMember = false;    // another member follows; its header is in next
    uint64_t trailingBytes = 0; // bytes after the last member that are no member
    Header next;
};

enum class EndVerdict {
    Good,
    CheckMismatch, // the trailer after the payload does not match, or a trailer lies
                   // where the payload does not reach: a wrong password or damage
    ReadError,
};

// Reads what follows a payload whose restored bytes hash to restoredHash: a check trailer
// right at its end is compared; then another member's header, or other bytes to the end of
// the input. A trailer anywhere else, or one at the input's end that no payload reached,
// means the payload did not end where it was written to end.
EndVerdict judgeMemberEnd(MemberInput& in, uint64_t restoredHash, MemberEnd& end);

} // namespace kpz
