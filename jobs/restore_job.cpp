// SPDX-License-Identifier: BSD-3-Clause
// Restoring one compressed file, member after member: the header's checks, the decode,
// and the whole verdict on it, so that no caller can leave a part of it out.
#include "file_job.h"

#include "decoder.h"
#include "encoder.h"
#include "job_streams.h"
#include "paths.h"
#include "sinks.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kpz {

namespace {

// Compares what is written with the bytes of a stretch of a file, and stops the coder at
// the first difference through the cancel flag.
class StretchComparer final : public Stream {
  public:
    StretchComparer(File& file, uint64_t from, uint64_t length, bool* stop)
        : file_(file), at_(from), end_(from + length), stop_(stop) {}
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(data);
        uint32_t done = 0;
        while (done < count && same_) {
            uint8_t piece[65536];
            const uint32_t want = std::min<uint32_t>(count - done, sizeof piece);
            if (at_ + want > end_ || file_.readAt(at_, piece, want) != want ||
                std::memcmp(piece, bytes + done, want) != 0) {
                same_ = false;
                *stop_ = true;
                break;
            }
            at_ += want;
            done += want;
        }
        return count;
    }
    bool matched() const { return same_ && at_ == end_; }

  private:
    File& file_;
    uint64_t at_;
    uint64_t end_;
    bool* stop_;
    bool same_ = true;
};

} // namespace

RestoreJob::RestoreJob(CodecState& state) : FileJob(state) {}
RestoreJob::~RestoreJob() = default;

Outcome RestoreJob::open(const std::string& path) {
    if (!at({Stage::Fresh})) return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    resetDecoder(s_);
    markerRead_ = false;
    streamed_ = false;
    const Outcome o = openSource(path);
    input_ = std::make_unique<MemberInput>(source_);
    return settle(o, Stage::Opened);
}

Outcome RestoreJob::openDescriptor(int fd, const std::string& label) {
    if (!at({Stage::Fresh})) return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    resetDecoder(s_);
    markerRead_ = false;
    sourcePath_ = label;
    input_ = std::make_unique<MemberInput>(source_);
    if (!source_.adoptCopy(fd, false))
        return settle(problem(Problem::OpenSource, errno), Stage::Failed);
    if (::fstat(source_.descriptor(), &attributes_) != 0)
        return settle(problem(Problem::SourceRead, errno), Stage::Failed);
    if (S_ISDIR(attributes_.st_mode))
        return settle(problem(Problem::SourceIsFolder), Stage::Failed);
    // The header's size checks need the payload's length, known only for a regular file
    // read from its start.
    streamed_ = !S_ISREG(attributes_.st_mode) || source_.position() != 0;
    sourceLength_ = streamed_ ? 0 : static_cast<uint64_t>(attributes_.st_size);
    return settle({}, Stage::Opened);
}

Outcome RestoreJob::openStream(Stream& in, uint64_t length, const std::string& label) {
    if (!at({Stage::Fresh})) return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    resetDecoder(s_);
    markerRead_ = false;
    sourcePath_ = label;
    input_ = std::make_unique<MemberInput>(in);
    streamed_ = length == kUnknownLength;
    sourceLength_ = streamed_ ? 0 : length;
    return settle({}, Stage::Opened);
}

Outcome RestoreJob::readMarker(bool& passwordOn) {
    if (markerRead_ || !at({Stage::Opened}))
        return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    const int32_t got = input_->read(&marker_, 1);
    if (got < 0) return settle(problem(Problem::SourceRead, errno), Stage::Failed);
    if (got == 0 || (marker_ != kMarkerPlain && marker_ != kMarkerPassword))
        return settle(problem(Problem::UnknownFormat), Stage::Failed);
    markerRead_ = true;
    passwordOn = marker_ == kMarkerPassword;
    return {};
}

Outcome RestoreJob::readHeader() {
    if (!markerRead_) {
        bool passwordOn = false;
        if (Outcome o = readMarker(passwordOn); !o.ok()) return o;
    }
    if (!at({Stage::Opened})) return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    ReplayedByte headerStream(marker_, *input_);
    memberStart_ = 0;
    return settle(
        readCompressedHeader(headerStream, streamed_ ? UINT64_MAX : sourceLength(), header_),
        Stage::HeaderRead);
}

bool RestoreJob::hasCheck() {
    if (streamed_ || !source_.isOpen()) return false;
    const uint64_t length = sourceLength();
    if (length < kHeaderFixedBytes + header_.nameLength + 4 + kTrailerBytes) return false;
    uint8_t tail[kTrailerBytes];
    uint64_t hash = 0;
    return source_.readAt(length - kTrailerBytes, tail, kTrailerBytes) == kTrailerBytes &&
           decodeTrailer(tail, kTrailerBytes, hash);
}

bool RestoreJob::endsWithCheck() {
    if (!streamed_) return hasCheck();
    if (!input_ || stage_ != Stage::Failed) return false;
    // The input's last bytes are kept as they are read: read the rest.
    uint8_t rest[65536];
    int32_t n;
    while ((n = input_->read(rest, sizeof rest)) > 0) {
    }
    uint64_t hash = 0;
    return n == 0 && input_->total() >= kTrailerBytes &&
           decodeTrailer(input_->tail(), kTrailerBytes, hash);
}

std::string RestoreJob::restoredPath(const std::string& folder, const std::string& name) const {
    // Only the name part of the stored name counts, so a stored "../x" or "/etc/x" still
    // lands in the folder.
    const std::string file = name.empty() ? outputName() : name;
    if (file.empty()) return {};
    if (!folder.empty()) return joinPath(folder, file);
    // Beside the compressed file; a path without a folder stays without one.
    if (baseNameOf(sourcePath_) == sourcePath_) return file;
    return joinPath(folderOf(sourcePath_), file);
}

Outcome RestoreJob::decodeInto(Stream& sink, uint16_t passwordCode) {
    const uint64_t payloadStart = memberStart_ + kHeaderFixedBytes + header_.nameLength;
    Outcome o = decodePayload(s_, *input_, header_, sink, passwordCode, end_);
    payloadLength_ = s_.reader.payloadLength;
    if (!o.ok()) return o;
    if (end_.nextMember && !everyMember_) return problem(Problem::MoreMembers);
    // The next member starts right after this one and its trailer.
    if (end_.nextMember)
        nextStart_ = payloadStart + payloadLength_ + (end_.checked ? kTrailerBytes : 0);
    moreToRead_ = end_.nextMember;
    return o;
}

Outcome RestoreJob::run(uint16_t passwordCode) {
    const bool ready = destination_ ? at({Stage::HeaderRead}) : at({Stage::OutputReady});
    if (!ready) return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    return settle(decodeInto(destination(), passwordCode), Stage::Ran);
}

Outcome RestoreJob::test(uint16_t passwordCode) {
    if (destination_ || !at({Stage::HeaderRead}))
        return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    CountingSink sink;
    return settle(decodeInto(sink, passwordCode), Stage::Ran);
}

Outcome RestoreJob::nextMember() {
    if (!end_.nextMember || !at({Stage::Ran, Stage::Committed}))
        return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    header_ = end_.next;
    memberStart_ = nextStart_;
    end_ = {};
    output_.discard();
    mayReplace_ = false;
    stage_ = Stage::HeaderRead;
    return {};
}

Outcome RestoreJob::prove(uint16_t passwordCode) {
    if (destination_ || streamed_ || !source_.isOpen() || !at({Stage::Ran}))
        return settle(problem(Problem::StepOutOfOrder), Stage::Failed);
    if (end_.checked) return {};
    // Code the restored bytes again, as the member was coded, and compare with the member
    // in the compressed file.
    File restored;
    if (!output_.openReader(restored))
        return settle(problem(Problem::SourceRead, errno), Stage::Failed);
    const uint64_t payloadStart = memberStart_ + kHeaderFixedBytes + header_.nameLength;
    StretchComparer comparer(source_, payloadStart, payloadLength_, &s_.cancelRequested);
    resetEncoder(s_);
    s_.sourceSize = header_.originalSize;
    s_.passwordOn = header_.passwordOn;
    s_.passwordCode = header_.passwordOn ? passwordCode : 0;
    EncodeOutcome outcome;
    {
        RunScope scope(s_, restored, comparer);
        outcome = encodeFile(s_);
    }
    const bool stopped = s_.cancelRequested;
    s_.cancelRequested = false;
    if (outcome == EncodeOutcome::ReadError)
        return settle(problem(Problem::SourceRead), Stage::Failed);
    if (stopped || outcome != EncodeOutcome::Complete || !comparer.matched())
        return settle(problem(Problem::NotProven), Stage::Failed);
    return {};
}

} // namespace kpz
