// SPDX-License-Identifier: BSD-3-Clause
// Restoring one compressed file, member after member: the header's checks, the decode,
// and the whole verdict on it, so that no caller can leave a part of it out.
#include "file_job.h"

#include "decoder.h"
#include "encoder.h"
#include "job_parts.h"
#include "job_streams.h"
#include "paths.h"
#include "payload.h"
#include "sinks.h"

#include <cerrno>
#include <cstring>

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

RestoreJob::RestoreJob(CodecState& state)
    : FileJob(state), member_(std::make_unique<Member>()), header_(member_->header),
      end_(member_->end) {}
RestoreJob::~RestoreJob() = default;

bool RestoreJob::passwordOn() const {
    return header_.passwordOn;
}
uint64_t RestoreJob::originalSize() const {
    return header_.originalSize;
}
const std::string& RestoreJob::storedName() const {
    return header_.storedName;
}
bool RestoreJob::checked() const {
    return end_.checked;
}
bool RestoreJob::moreMembers() const {
    return end_.nextMember;
}
uint64_t RestoreJob::trailingBytes() const {
    return end_.trailingBytes;
}
uint64_t RestoreJob::memberLength() const {
    return kHeaderFixedBytes + header_.nameLength + payloadLength_ +
           (end_.checked ? kTrailerBytes : 0);
}

Outcome RestoreJob::open(const std::string& path) {
    if (!at({Stage::Fresh})) return refuse("open");
    resetDecoder(s_);
    markerRead_ = false;
    streamed_ = false;
    const Outcome o = openSource(path);
    input_ = std::make_unique<MemberInput>(source_);
    return settle(o, Stage::Opened);
}

Outcome RestoreJob::openDescriptor(int fd, const std::string& label) {
    if (!at({Stage::Fresh})) return refuse("open");
    resetDecoder(s_);
    markerRead_ = false;
    sourcePath_ = label;
    input_ = std::make_unique<MemberInput>(source_);
    if (!source_.adoptCopy(fd, false))
        return settle(problem(Problem::OpenSource, errno), Stage::Failed);
    if (!descriptorInfo(source_.descriptor(), files_->attributes))
        return settle(problem(Problem::SourceRead, errno), Stage::Failed);
    if (files_->attributes.type == FileInfo::Type::Folder)
        return settle(problem(Problem::SourceIsFolder), Stage::Failed);
    // The header's size checks need the payload's length, known only for a regular file
    // read from its start.
    streamed_ = files_->attributes.type != FileInfo::Type::Regular || source_.position() != 0;
    sourceLength_ = streamed_ ? 0 : files_->attributes.size;
    return settle({}, Stage::Opened);
}

Outcome RestoreJob::openStream(Stream& in, uint64_t length, const std::string& label) {
    if (!at({Stage::Fresh})) return refuse("open");
    resetDecoder(s_);
    markerRead_ = false;
    sourcePath_ = label;
    input_ = std::make_unique<MemberInput>(in);
    streamed_ = length == kUnknownLength;
    sourceLength_ = streamed_ ? 0 : length;
    return settle({}, Stage::Opened);
}

Outcome RestoreJob::readMarker(bool& passwordOn) {
    const int32_t got = input_->read(&marker_, 1);
    if (got < 0) return settle(problem(Problem::SourceRead, errno), Stage::Failed);
    if (got == 0 || (marker_ != kMarkerPlain && marker_ != kMarkerPassword))
        return settle(problem(Problem::UnknownFormat), Stage::Failed);
    markerRead_ = true;
    passwordOn = marker_ == kMarkerPassword;
    return {};
}

Outcome RestoreJob::obtainPassword() {
    if (password_.given || !askPassword_) return {};
    const PasswordReply reply = askPassword_(sourcePath_);
    switch (reply.kind) {
    case PasswordReply::Kind::Given:
        password_ = Password{true, reply.code};
        return {};
    case PasswordReply::Kind::Missing:
        return {};
    case PasswordReply::Kind::Cancel:
        break;
    }
    return settle(problem(Problem::Cancelled), Stage::Failed);
}

Outcome RestoreJob::readHeader() {
    if (markerRead_ || !at({Stage::Opened})) return refuse("header");
    bool protectedFile = false;
    if (Outcome o = readMarker(protectedFile); !o.ok()) return o;
    // The password is asked for before the rest of the header is read.
    if (protectedFile)
        if (Outcome o = obtainPassword(); !o.ok()) return o;
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

std::string RestoreJob::outputName() const {
    return safeOutputName(header_.storedName);
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

Outcome RestoreJob::prepareOutputIn(const std::string& folder, const ReplaceQuestion& mayReplace,
                                    const std::string& name) {
    if (destination_ || !at({Stage::HeaderRead})) return refuse("output");
    // No output is made for a protected member that cannot be decoded.
    if (header_.passwordOn && !password_.given)
        return settle(problem(Problem::PasswordNeeded), Stage::Failed);
    const std::string path = restoredPath(folder, name);
    if (path.empty()) return settle(problem(Problem::NoUsableName), Stage::Failed);
    return prepareOutput(path, mayReplace);
}

Outcome RestoreJob::decodeInto(Stream& sink) {
    // A protected member is never decoded without a password: its bytes would be noise.
    if (header_.passwordOn && !password_.given) return problem(Problem::PasswordNeeded);
    const uint64_t payloadStart = memberStart_ + kHeaderFixedBytes + header_.nameLength;
    Outcome o = decodePayload(s_, *input_, header_, sink, password_.code, end_);
    payloadLength_ = s_.reader.payloadLength;
    if (!o.ok()) return o;
    if (end_.nextMember && !everyMember_) return problem(Problem::MoreMembers);
    // The next member starts right after this one and its trailer.
    if (end_.nextMember)
        nextStart_ = payloadStart + payloadLength_ + (end_.checked ? kTrailerBytes : 0);
    moreToRead_ = end_.nextMember;
    return o;
}

Outcome RestoreJob::run() {
    const bool ready = destination_ ? at({Stage::HeaderRead}) : at({Stage::OutputReady});
    if (!ready) return refuse("run");
    proven_ = false;
    return settle(decodeInto(destination()), Stage::Ran);
}

Outcome RestoreJob::test() {
    if (destination_ || !at({Stage::HeaderRead})) return refuse("test");
    CountingSink sink;
    return settle(decodeInto(sink), Stage::Ran);
}

Outcome RestoreJob::nextMember() {
    if (!end_.nextMember || !at({Stage::Ran, Stage::Committed})) return refuse("next member");
    header_ = end_.next;
    memberStart_ = nextStart_;
    end_ = MemberEnd{};
    output_.discard();
    mayReplace_ = false;
    proven_ = false;
    stage_ = Stage::HeaderRead;
    if (header_.passwordOn) return obtainPassword();
    return {};
}

Outcome RestoreJob::prove() {
    if (destination_ || streamed_ || !source_.isOpen() || !at({Stage::Ran})) return refuse("proof");
    if (end_.checked) {
        proven_ = true;
        return {};
    }
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
    s_.passwordCode = header_.passwordOn ? password_.code : 0;
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
    proven_ = true;
    return {};
}

Outcome RestoreJob::finish(const Finish& how) {
    if (!at({Stage::Ran})) return refuse("finish");
    // Standard output: nothing to name, and the source is never removed.
    if (destination_) {
        stage_ = Stage::Committed;
        return {};
    }
    if (how.removeSource && !proven_)
        if (Outcome o = prove(); !o.ok()) return o;
    everyMemberProven_ = everyMemberProven_ && proven_;
    if (Outcome o = commit(how.copyAttributes, how.removeSource); !o.ok()) return o;
    if (!how.removeSource || end_.nextMember) return {};
    // The source holds more than its restored files: they would be lost with it.
    if (end_.trailingBytes != 0) return problem(Problem::SourceHoldsMore);
    proven_ = everyMemberProven_;
    return removeSource();
}

} // namespace kpz
