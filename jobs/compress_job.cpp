// SPDX-License-Identifier: BSD-3-Clause
// Compressing one file: the source's checks, the coder's run, the optional verification.
#include "file_job.h"

#include "encoder.h"
#include "job_parts.h"
#include "job_streams.h"
#include "paths.h"
#include "payload.h"
#include "sinks.h"
#include "split_run.h"

#include <cerrno>

namespace kpz {

Outcome CompressJob::open(const std::string& path) {
    if (!at({Stage::Fresh})) return refuse("open");
    resetEncoder(s_);
    if (Outcome o = openSource(path); !o.ok()) return settle(o, Stage::Failed);
    // The header holds 32-bit sizes and at most 255 name bytes: refuse what it cannot
    // describe before anything is written.
    if (sourceLength() > kMaxSourceSize) return settle(problem(Problem::TooLarge), Stage::Failed);
    // The file's own name: on this system only "/" separates folders, and a ":" or "\\" in
    // the name is part of it (the stored form replaces them).
    storedName_ = storedNameFor(baseNameOf(path));
    if (storedName_.size() > kMaxNameLength)
        return settle(problem(Problem::NameTooLong), Stage::Failed);
    return settle({}, Stage::Opened);
}

std::string CompressJob::outputFor(const std::string& folder) const {
    const std::string beside = compressedName(sourcePath_);
    // The file's own name: only "/" separates folders here, whatever the name holds.
    return folder.empty() ? beside : joinPath(folder, baseNameOf(beside));
}

Outcome CompressJob::openStream(Stream& in, const std::string& name) {
    if (!at({Stage::Fresh})) return refuse("open");
    const Outcome o = spool(in);
    if (!o.ok()) return settle(o, Stage::Failed);
    resetEncoder(s_);
    stage_ = Stage::Opened;
    return setStoredName(name);
}

Outcome CompressJob::spool(Stream& in) {
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
    if (!descriptorInfo(source_.descriptor(), files_->attributes))
        return problem(Problem::SpoolFailed, errno);
    sourceLength_ = files_->attributes.size;
    return {};
}

Outcome CompressJob::setStoredName(const std::string& name) {
    if (!at({Stage::Opened})) return refuse("naming");
    storedName_ = storedNameFor(name);
    if (storedName_.size() > kMaxNameLength)
        return settle(problem(Problem::NameTooLong), Stage::Failed);
    return {};
}

Outcome CompressJob::run(bool withCheck) {
    const bool ready = destination_ ? at({Stage::Opened}) : at({Stage::OutputReady});
    if (!ready) return refuse("run");
    return settle(encode(withCheck), Stage::Ran);
}

Outcome CompressJob::encode(bool withCheck) {
    // The source may have changed while the caller asked questions.
    const int64_t sizeNow = source_.length();
    if (sizeNow < 0) return problem(Problem::SourceRead, errno);
    if (static_cast<uint64_t>(sizeNow) > kMaxSourceSize) return problem(Problem::TooLarge);
    s_.sourceSize = static_cast<uint32_t>(sizeNow);
    s_.passwordOn = password_.given;
    s_.passwordCode = password_.given ? password_.code : 0;
    withCheck_ = withCheck;

    // A large file read from disk into an output file codes on two threads when the caller
    // gave two.
    const uint64_t cut = destination_ || spooled_ ? 0 : twoThreadCut(s_, s_.sourceSize, threads_);
    ContentHash hash;
    HashedSource hashed(source_, hash);
    Stream& in = withCheck ? static_cast<Stream&>(hashed) : source_;
    RunScope scope(s_, in, destination());
    // A failing output shows up at the first flush, which reports it.
    if (!writeHeader(scope.destination(), s_.passwordOn, s_.sourceSize, storedName_))
        scope.writeFailed = true;
    s_.destWritten += static_cast<uint32_t>(storedName_.size());
    if (cut != 0 && !scope.writeFailed) {
        const uint32_t headerBytes = s_.destWritten;
        // The hooks run on this thread, after each piece it codes, as after each flush.
        const TwoThreadProgress progress = [&](uint64_t sourceDone, uint64_t outputDone) {
            s_.sourceProcessed = static_cast<uint32_t>(sourceDone);
            s_.destWritten = headerBytes + static_cast<uint32_t>(outputDone);
            if (s_.hooks.showProgress) s_.hooks.showProgress(Direction::Compressing);
        };
        const TwoThreadResult r = codeOnTwoThreads(
            {source_, output_.file(), s_.sourceSize, cut, headerBytes, s_.passwordCode, withCheck},
            s_.cancelRequested, progress);
        if (r.ran) {
            s_.cancelRequested = false;
            if (r.problem == Problem::WriteFailed && s_.hooks.reportWriteFailure)
                s_.hooks.reportWriteFailure();
            if (r.problem != Problem::None) return problem(r.problem, r.error);
            s_.sourceProcessed = s_.sourceSize;
            s_.destWritten = static_cast<uint32_t>(r.outputEnd);
            compressedSize_ = s_.destWritten;
            return {};
        }
        // Coded again on one thread, from the start: the progress starts over too.
        s_.sourceProcessed = 0;
        s_.destWritten = headerBytes;
    }
    const EncodeOutcome outcome = scope.writeFailed ? EncodeOutcome::Cancelled : encodeFile(s_);
    const bool cancelled = s_.cancelRequested;
    s_.cancelRequested = false;

    if (outcome == EncodeOutcome::ReadError) return problem(Problem::SourceRead);
    if (scope.writeFailed) return problem(Problem::WriteFailed, scope.writeError());
    // The closing flush may have let the user confirm a cancel.
    if (outcome == EncodeOutcome::Cancelled || cancelled) return problem(Problem::Cancelled);
    // A file that grew or shrank while it was read would restore to the wrong length.
    if (s_.sourceProcessed != s_.sourceSize) return problem(Problem::SizeChanged);
    if (withCheck) {
        Stream& out = scope.destination();
        if (!writeCheckTrailer(hash.value(),
                               [&](const void* t, uint32_t n) { return out.write(t, n); }))
            return problem(Problem::WriteFailed, scope.writeError());
        s_.destWritten += kTrailerBytes;
    }
    compressedSize_ = s_.destWritten;
    return {};
}

Outcome CompressJob::verify() {
    if (destination_ || !at({Stage::Ran})) return refuse("verification");
    const Outcome o = compareWithSource();
    proven_ = o.ok();
    return settle(o, Stage::Ran);
}

Outcome CompressJob::finish(const Finish& how) {
    if (!at({Stage::Ran})) return refuse("finish");
    // Standard output: nothing to name, and the source is never removed.
    if (destination_) {
        stage_ = Stage::Committed;
        return {};
    }
    if (how.removeSource && !proven_)
        if (Outcome o = verify(); !o.ok()) return o;
    if (Outcome o = commit(how.copyAttributes, how.removeSource); !o.ok()) return o;
    return how.removeSource ? removeSource() : Outcome{};
}

Outcome CompressJob::compareWithSource() {
    File reader;
    if (!output_.openReader(reader)) return problem(Problem::SourceRead, errno);
    Header h;
    const int64_t length = reader.length();
    if (readHeader(reader, h) != HeaderStatus::Ok || length < 0)
        return problem(Problem::VerifyHeader);
    const uint64_t payload = static_cast<uint64_t>(length) - kHeaderFixedBytes - h.nameLength;
    if (h.originalSize != s_.sourceSize || h.passwordOn != password_.given ||
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
    MemberInput input(reader);
    MemberEnd end;
    const Outcome decoded = decodePayload(s_, input, h, sink, password_.code, end);
    if (decoded.problem == Problem::SourceRead || sink.referenceReadFailed())
        return problem(Problem::SourceRead);
    if ((!decoded.ok() && decoded.problem != Problem::Cancelled) || !sink.matched())
        return problem(Problem::VerifyMismatch);
    // The new file ends exactly with its check trailer, or with its end pad.
    if (end.checked != withCheck_ || end.trailingBytes != 0 || end.nextMember)
        return problem(Problem::VerifyMismatch);
    return {};
}

} // namespace kpz
