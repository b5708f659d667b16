// SPDX-License-Identifier: BSD-3-Clause
// One file's checks, output and coder run, for both directions.
#include "file_job.h"

#include "check_trailer.h"
#include "decoder.h"
#include "encoder.h"
#include "paths.h"
#include "sinks.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kpz {

namespace {

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

// Installs the job's streams for one coder run and notes a failed write, while the hooks
// the caller installed still run; puts everything back afterwards.
class RunScope {
  public:
    RunScope(CodecState& s, Stream& source, Stream& destination) : s_(s), saved_(s.hooks) {
        s.source = &source;
        s.destination = &destination;
        s.hooks.reportWriteFailure = [this] {
            writeFailed = true;
            if (saved_.reportWriteFailure) saved_.reportWriteFailure();
        };
    }
    ~RunScope() {
        s_.hooks = saved_;
        s_.source = s_.destination = nullptr;
    }
    bool writeFailed = false;

  private:
    CodecState& s_;
    CodecHooks saved_;
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

// Passes reads on, counting every byte and keeping the last kTrailerBytes of them: what
// follows the payload is told apart once the decoder knows where the payload ends.
class TailKeeper final : public Stream {
  public:
    explicit TailKeeper(Stream& from) : from_(from) {}
    int32_t read(void* buffer, uint32_t count) override {
        const int32_t n = from_.read(buffer, count);
        if (n <= 0) return n;
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        const auto got = static_cast<size_t>(n);
        if (got >= kTrailerBytes) {
            std::memcpy(tail_, bytes + got - kTrailerBytes, kTrailerBytes);
        } else {
            std::memmove(tail_, tail_ + got, kTrailerBytes - got);
            std::memcpy(tail_ + kTrailerBytes - got, bytes, got);
        }
        total_ += got;
        return n;
    }
    uint32_t write(const void*, uint32_t) override { return 0; }
    uint64_t total() const { return total_; }
    // The last min(total, kTrailerBytes) bytes read, at the end of the array.
    const uint8_t* tail() const { return tail_; }

  private:
    Stream& from_;
    uint64_t total_ = 0;
    uint8_t tail_[kTrailerBytes] = {};
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

Outcome problem(Problem p, int error = 0) {
    return Outcome{p, error, {}};
}

// The folder part of a path, resolved through links, so that two spellings of one folder
// compare equal; the path itself when the folder cannot be resolved.
std::string resolvedOutput(const std::string& path) {
    const std::string folder = resolvedFolder(folderOf(path));
    if (folder.empty()) return path;
    return joinPath(folder, baseNameOf(path));
}

} // namespace

Outcome readCompressedHeader(Stream& in, uint64_t length, Header& header) {
    // A header that ends early or names more than 255 bytes is no header of ours.
    switch (readHeader(in, header)) {
    case HeaderStatus::Ok:
        break;
    case HeaderStatus::UnknownFormat:
        return problem(Problem::UnknownFormat);
    case HeaderStatus::ReadError:
        return problem(Problem::SourceRead);
    }
    // A payload too short for the stored size cannot restore it; refuse the file before
    // any output is created or replaced.
    const uint64_t headerBytes = kHeaderFixedBytes + header.nameLength;
    const uint64_t payload = length > headerBytes ? length - headerBytes : 0;
    if (payload < minimumPayloadBytes(header.originalSize)) return problem(Problem::Damaged);
    return {};
}

Outcome decodePayload(CodecState& s, Stream& in, const Header& header, Stream& sink,
                      uint16_t passwordCode, PayloadEnd& end, bool hashRestored) {
    end = {};
    resetDecoder(s);
    s.sourceProcessed += header.nameLength;
    s.originalSize = header.originalSize;
    s.passwordOn = header.passwordOn;
    s.passwordCode = header.passwordOn ? passwordCode : 0;
    s.blockLength = kBlockLength;
    ContentHash hash;
    TailKeeper payload(in);
    RestoredBytes restored(sink, header.originalSize, hashRestored ? &hash : nullptr);
    DecodeOutcome outcome;
    bool writeFailed;
    {
        RunScope scope(s, payload, restored);
        refillInput(s);
        outcome = s.bytesRead < 0 ? DecodeOutcome::ReadError : decodeFile(s);
        writeFailed = scope.writeFailed;
    }
    end.produced = restored.written;
    const bool cancelled = s.cancelRequested;
    s.cancelRequested = false;
    if (outcome == DecodeOutcome::ReadError) return problem(Problem::SourceRead);
    if (outcome == DecodeOutcome::Damaged) return problem(Problem::Damaged);
    if (writeFailed) return problem(Problem::WriteFailed);
    if (outcome == DecodeOutcome::Cancelled || cancelled) return problem(Problem::Cancelled);
    // Every stored byte must have come out.
    if (end.produced < header.originalSize) return problem(Problem::Damaged);

    // What follows the end pad: read to the end of the input (the decoder's buffer is free
    // now), then judge the bytes past the payload.
    for (;;) {
        const int32_t n = payload.read(s.sampleBuffer, kChunkBytes);
        if (n < 0) return problem(Problem::SourceRead, errno);
        if (n == 0) break;
    }
    const uint64_t after = payload.total() - s.reader.payloadLength;
    uint64_t stored = 0;
    if (after >= kTrailerBytes && decodeTrailer(payload.tail(), kTrailerBytes, stored)) {
        // The input ends with a check trailer, so it must follow the payload at once and
        // match: a wrong password or damage in the block headers moves the payload's end,
        // and the trailer then no longer lines up. A trailer found although the caller
        // ruled one out means the file changed meanwhile.
        if (after != kTrailerBytes || !hashRestored || stored != hash.value())
            return problem(Problem::CheckMismatch);
        end.checked = true;
    } else {
        end.trailingBytes = after;
    }
    return {};
}

Outcome FileJob::openSource(const std::string& path) {
    sourcePath_ = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return problem(Problem::OpenSource, errno);
    if (S_ISDIR(st.st_mode)) return problem(Problem::SourceIsFolder);
    if (!S_ISREG(st.st_mode)) return problem(Problem::SourceNotRegular);
    if (!source_.openRead(path)) return problem(Problem::OpenSource, errno);
    // The file opened may not be the one looked at: judge the open one.
    if (::fstat(source_.descriptor(), &attributes_) != 0)
        return problem(Problem::SourceRead, errno);
    if (!S_ISREG(attributes_.st_mode)) return problem(Problem::SourceNotRegular);
    return {};
}

Outcome FileJob::checkOutput(const std::string& finalPath, bool& exists) {
    outputPath_ = finalPath;
    exists = false;
    // Creating the output over its own source (a .kpz compressed beside itself, a stored
    // name equal to its own file, or a link to it) would lose the source.
    if (finalPath == sourcePath_ || sameFile(sourcePath_, finalPath))
        return problem(Problem::SameFile);
    switch (inspectOutput(finalPath)) {
    case OutputTarget::Absent:
        return {};
    case OutputTarget::File:
        exists = true;
        return {};
    case OutputTarget::Folder:
        return problem(Problem::OutputIsFolder);
    case OutputTarget::Special:
        return problem(Problem::OutputIsSpecial);
    case OutputTarget::Unreadable:
        return problem(Problem::OpenDestination, errno);
    }
    return {};
}

Outcome FileJob::createOutput() {
    if (!output_.create(outputPath_)) return problem(Problem::OpenDestination, errno);
    return {};
}

Outcome FileJob::commit(bool replace, bool copyAttributes) {
    source_.close();
    OutputFile::Attributes attributes;
    attributes.copy = copyAttributes;
    attributes.from = attributes_;
    std::string error;
    switch (output_.commit(replace, attributes, error)) {
    case OutputFile::Commit::Done:
        return {};
    case OutputFile::Commit::Exists:
        return problem(Problem::OutputExists);
    case OutputFile::Commit::Failed:
        break;
    }
    return Outcome{Problem::CommitFailed, 0, error};
}

void FileJob::abandon() {
    source_.close();
    output_.discard();
}

Outcome CompressJob::open(const std::string& path) {
    resetEncoder(s_);
    if (Outcome o = openSource(path); !o.ok()) return o;
    // The header holds 32-bit sizes and at most 255 name bytes: refuse what it cannot
    // describe before anything is written.
    if (sourceLength() > kMaxSourceSize) return problem(Problem::TooLarge);
    // The file's own name: on this system only "/" separates folders, and a ":" or "\\" in
    // the name is part of it (the stored form replaces them).
    storedName_ = storedNameFor(baseNameOf(path));
    if (storedName_.size() > kMaxNameLength) return problem(Problem::NameTooLong);
    return {};
}

std::string CompressJob::outputFor(const std::string& folder) const {
    const std::string beside = compressedName(sourcePath_);
    // The file's own name: only "/" separates folders here, whatever the name holds.
    return folder.empty() ? beside : joinPath(folder, baseNameOf(beside));
}

Outcome CompressJob::openStream(Stream& in, const std::string& name) {
    sourcePath_.assign(1, '-'); // not = "-": GCC 12 warns wrongly (-Wrestrict) there
    spooled_ = true;
    if (!source_.createTemporary()) return problem(Problem::SpoolFailed, errno);
    // The encoder's input buffer carries the bytes across; the encoder is reset after it.
    uint64_t total = 0;
    for (;;) {
        const int32_t n = in.read(s_.sampleBuffer, kChunkBytes);
        if (n < 0) return problem(Problem::SourceRead, errno);
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        // Stop keeping bytes the header could not describe anyway.
        if (total > kMaxSourceSize) return problem(Problem::TooLarge);
        if (source_.write(s_.sampleBuffer, static_cast<uint32_t>(n)) != static_cast<uint32_t>(n))
            return problem(Problem::SpoolFailed, errno);
        if (n < static_cast<int32_t>(kChunkBytes)) break;
    }
    if (!source_.rewind()) return problem(Problem::SpoolFailed, errno);
    if (::fstat(source_.descriptor(), &attributes_) != 0)
        return problem(Problem::SpoolFailed, errno);
    resetEncoder(s_);
    return setStoredName(name);
}

Outcome CompressJob::setStoredName(const std::string& name) {
    storedName_ = storedNameFor(name);
    if (storedName_.size() > kMaxNameLength) return problem(Problem::NameTooLong);
    return {};
}

Outcome CompressJob::run(bool passwordOn, uint16_t passwordCode, bool withCheck) {
    // The source may have changed while the caller asked questions.
    const int64_t sizeNow = source_.length();
    if (sizeNow < 0) return problem(Problem::SourceRead, errno);
    if (static_cast<uint64_t>(sizeNow) > kMaxSourceSize) return problem(Problem::TooLarge);
    s_.sourceSize = static_cast<uint32_t>(sizeNow);
    s_.passwordOn = passwordOn;
    s_.passwordCode = passwordOn ? passwordCode : 0;
    passwordOn_ = passwordOn;
    withCheck_ = withCheck;

    ContentHash hash;
    HashedSource hashed(source_, hash);
    Stream& in = withCheck ? static_cast<Stream&>(hashed) : source_;
    RunScope scope(s_, in, destination());
    // A failing output shows up at the first flush, which reports it.
    if (!writeHeader(destination(), passwordOn, s_.sourceSize, storedName_))
        scope.writeFailed = true;
    s_.destWritten += static_cast<uint32_t>(storedName_.size());
    const EncodeOutcome outcome = scope.writeFailed ? EncodeOutcome::Cancelled : encodeFile(s_);
    const bool cancelled = s_.cancelRequested;
    s_.cancelRequested = false;

    if (outcome == EncodeOutcome::ReadError) return problem(Problem::SourceRead);
    if (scope.writeFailed) return problem(Problem::WriteFailed);
    // The closing flush may have let the user confirm a cancel.
    if (outcome == EncodeOutcome::Cancelled || cancelled) return problem(Problem::Cancelled);
    // A file that grew or shrank while it was read would restore to the wrong length.
    if (s_.sourceProcessed != s_.sourceSize) return problem(Problem::SizeChanged);
    if (withCheck) {
        uint8_t trailer[kTrailerBytes];
        encodeTrailer(hash.value(), trailer);
        if (destination().write(trailer, kTrailerBytes) != kTrailerBytes)
            return problem(Problem::WriteFailed);
        s_.destWritten += kTrailerBytes;
    }
    return {};
}

Outcome CompressJob::verify(uint16_t passwordCode) {
    File reader;
    if (!output_.openReader(reader)) return problem(Problem::SourceRead, errno);
    Header h;
    const int64_t length = reader.length();
    if (readHeader(reader, h) != HeaderStatus::Ok || length < 0)
        return problem(Problem::VerifyHeader);
    const uint64_t payload = static_cast<uint64_t>(length) - kHeaderFixedBytes - h.nameLength;
    if (h.originalSize != s_.sourceSize || h.passwordOn != passwordOn_ ||
        h.storedName != storedName_.substr(0, storedName_.find('\0')) ||
        payload < minimumPayloadBytes(h.originalSize))
        return problem(Problem::VerifyHeader);
    // The stored name must restore to a usable name, or the file could not be restored.
    if (safeOutputName(h.storedName).empty()) return problem(Problem::VerifyHeader);

    File reference;
    if (spooled_) {
        // Standard input's bytes are only in the spool: read them again from its start.
        if (!reference.duplicate(source_)) return problem(Problem::SourceRead, errno);
    } else if (!reference.openRead(sourcePath_)) {
        return problem(Problem::OpenSource, errno);
    }
    // The sink stops the decoder at the first difference, through the cancel flag.
    ComparingSink sink(reference, h.originalSize, &s_.cancelRequested);
    PayloadEnd end;
    const Outcome decoded = decodePayload(s_, reader, h, sink, passwordCode, end, withCheck_);
    if (decoded.problem == Problem::SourceRead || sink.referenceReadFailed())
        return problem(Problem::SourceRead);
    if ((!decoded.ok() && decoded.problem != Problem::Cancelled) || !sink.matched())
        return problem(Problem::VerifyMismatch);
    // The new file ends exactly with its check trailer, or with its end pad.
    if (end.checked != withCheck_ || end.trailingBytes != 0)
        return problem(Problem::VerifyMismatch);
    return {};
}

Outcome RestoreJob::open(const std::string& path) {
    resetDecoder(s_);
    markerRead_ = false;
    streamed_ = false;
    return openSource(path);
}

Outcome RestoreJob::openDescriptor(int fd, const std::string& label) {
    resetDecoder(s_);
    markerRead_ = false;
    sourcePath_ = label;
    if (!source_.adoptCopy(fd, false)) return problem(Problem::OpenSource, errno);
    if (::fstat(source_.descriptor(), &attributes_) != 0)
        return problem(Problem::SourceRead, errno);
    if (S_ISDIR(attributes_.st_mode)) return problem(Problem::SourceIsFolder);
    // The header's size checks need the payload's length, known only for a regular file
    // read from its start.
    streamed_ = !S_ISREG(attributes_.st_mode) || source_.position() != 0;
    return {};
}

Outcome RestoreJob::readMarker(bool& passwordOn) {
    const int32_t got = source_.read(&marker_, 1);
    if (got < 0) return problem(Problem::SourceRead, errno);
    if (got == 0 || (marker_ != kMarkerPlain && marker_ != kMarkerPassword))
        return problem(Problem::UnknownFormat);
    markerRead_ = true;
    passwordOn = marker_ == kMarkerPassword;
    return {};
}

Outcome RestoreJob::readHeader() {
    if (!markerRead_) {
        bool passwordOn = false;
        if (Outcome o = readMarker(passwordOn); !o.ok()) return o;
    }
    ReplayedByte headerStream(marker_, source_);
    return readCompressedHeader(headerStream, streamed_ ? UINT64_MAX : sourceLength(), header_);
}

bool RestoreJob::hasCheck() {
    if (streamed_) return false;
    const uint64_t length = sourceLength();
    if (length < kHeaderFixedBytes + header_.nameLength + 4 + kTrailerBytes) return false;
    uint8_t tail[kTrailerBytes];
    uint64_t hash = 0;
    return source_.readAt(length - kTrailerBytes, tail, kTrailerBytes) == kTrailerBytes &&
           decodeTrailer(tail, kTrailerBytes, hash);
}

Outcome RestoreJob::run(uint16_t passwordCode) {
    // A stream's end is not known in advance: hash it in case a trailer ends it.
    const bool hashRestored = streamed_ || hasCheck();
    return decodePayload(s_, source_, header_, destination(), passwordCode, end_, hashRestored);
}

Outcome RestoreJob::test(uint16_t passwordCode) {
    CountingSink sink;
    const bool hashRestored = streamed_ || hasCheck();
    return decodePayload(s_, source_, header_, sink, passwordCode, end_, hashRestored);
}

void RunLedger::addInput(const std::string& path) {
    FileIdentity id;
    if (!fileIdentity(path, id)) return;
    std::lock_guard<std::mutex> guard(lock_);
    inputs_.insert(id);
}

Outcome RunLedger::claimLocked(const std::string& key, bool exists, const FileIdentity& id,
                               const std::string& source) {
    if (exists && inputs_.count(id)) return problem(Problem::OutputIsInput);
    const auto [at, inserted] = outputs_.emplace(key, source);
    if (!inserted) return Outcome{Problem::OutputClaimed, 0, at->second};
    return {};
}

Outcome RunLedger::claim(const std::string& finalPath, const std::string& source) {
    const std::string key = resolvedOutput(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    std::lock_guard<std::mutex> guard(lock_);
    return claimLocked(key, exists, id, source);
}

Outcome RunLedger::claim(const std::string& finalPath, const std::string& source, size_t order) {
    const std::string key = resolvedOutput(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    std::unique_lock<std::mutex> guard(lock_);
    turn_.wait(guard, [&] { return firstUnsettled_ >= order; });
    const Outcome o = claimLocked(key, exists, id, source);
    settleLocked(order);
    return o;
}

void RunLedger::settle(size_t order) {
    std::lock_guard<std::mutex> guard(lock_);
    settleLocked(order);
}

void RunLedger::settleLocked(size_t order) {
    if (settled_.size() <= order) settled_.resize(order + 1, false);
    settled_[order] = true;
    const size_t before = firstUnsettled_;
    while (firstUnsettled_ < settled_.size() && settled_[firstUnsettled_])
        ++firstUnsettled_;
    if (firstUnsettled_ != before) turn_.notify_all();
}

} // namespace kpz
