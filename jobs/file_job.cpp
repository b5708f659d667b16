// SPDX-License-Identifier: BSD-3-Clause
// What both directions share: the source, the output step and its commit, the order of
// the steps; and the decode of one member with the verdict on what follows it.
#include "file_job.h"

#include "decoder.h"
#include "job_parts.h"
#include "job_streams.h"
#include "paths.h"
#include "payload.h"

#include <cerrno>

namespace kpz {

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

Outcome decodePayload(CodecState& s, MemberInput& input, const Header& header, Stream& sink,
                      uint16_t passwordCode, MemberEnd& end, uint64_t* produced) {
    end = {};
    resetDecoder(s);
    s.sourceProcessed += header.nameLength;
    s.originalSize = header.originalSize;
    s.passwordOn = header.passwordOn;
    s.passwordCode = header.passwordOn ? passwordCode : 0;
    s.blockLength = kBlockLength;
    ContentHash hash;
    RestoredBytes restored(sink, header.originalSize, &hash);
    input.startPayload(s.passwordCode);
    DecodeOutcome outcome;
    bool writeFailed;
    int writeError;
    {
        RunScope scope(s, input, restored);
        refillInput(s);
        outcome = s.bytesRead < 0 ? DecodeOutcome::ReadError : decodeFile(s);
        writeFailed = scope.writeFailed;
        writeError = scope.writeError();
    }
    if (produced) *produced = restored.written;
    const bool cancelled = s.cancelRequested;
    s.cancelRequested = false;
    if (outcome == DecodeOutcome::ReadError) return problem(Problem::SourceRead);
    if (outcome == DecodeOutcome::Damaged) return problem(Problem::Damaged);
    if (writeFailed) return problem(Problem::WriteFailed, writeError);
    if (outcome == DecodeOutcome::Cancelled || cancelled) return problem(Problem::Cancelled);
    // Every stored byte must have come out.
    if (restored.written < header.originalSize) return problem(Problem::Damaged);

    // What follows the payload is read from where the payload ends, not from where the
    // decoder's last read stopped.
    if (!input.rewindTo(s.reader.payloadLength)) return problem(Problem::Damaged);
    switch (judgeMemberEnd(input, hash.value(), end)) {
    case EndVerdict::Good:
        return {};
    case EndVerdict::CheckMismatch:
        return problem(Problem::CheckMismatch);
    case EndVerdict::ReadError:
        return problem(Problem::SourceRead, errno);
    }
    return problem(Problem::Damaged);
}

FileJob::FileJob(CodecState& state)
    : files_(std::make_unique<Files>()), source_(files_->source), output_(files_->output),
      s_(state) {}

FileJob::~FileJob() = default;

Stream& FileJob::destination() {
    return destination_ ? *destination_ : output_.file();
}

const char* FileJob::stageName(Stage stage) {
    switch (stage) {
    case Stage::Fresh:
        return "before the source was opened";
    case Stage::Opened:
        return "with the source open";
    case Stage::HeaderRead:
        return "with the header read";
    case Stage::OutputReady:
        return "with the output ready";
    case Stage::Ran:
        return "after the run";
    case Stage::Committed:
        return "after the commit";
    case Stage::Failed:
        return "after a failed step";
    }
    return "at an unknown stage";
}

bool FileJob::at(std::initializer_list<Stage> stages) const {
    for (Stage s : stages)
        if (stage_ == s) return true;
    return false;
}

Outcome FileJob::refuse(const char* step) {
    Outcome o = problem(Problem::StepOutOfOrder);
    o.detail = std::string(step) + " " + stageName(stage_);
    return settle(o, Stage::Failed);
}

Outcome FileJob::settle(Outcome o, Stage next) {
    stage_ = o.ok() ? next : Stage::Failed;
    if (!o.ok()) output_.discard();
    return o;
}

Outcome FileJob::openSource(const std::string& path) {
    sourcePath_ = path;
    FileInfo& attributes = files_->attributes;
    if (!pathInfo(path, attributes)) return problem(Problem::OpenSource, errno);
    if (attributes.type == FileInfo::Type::Folder) return problem(Problem::SourceIsFolder);
    if (attributes.type != FileInfo::Type::Regular) return problem(Problem::SourceNotRegular);
    if (!source_.openRead(path)) return problem(Problem::OpenSource, errno);
    // The file opened may not be the one looked at: judge the open one.
    if (!descriptorInfo(source_.descriptor(), attributes))
        return problem(Problem::SourceRead, errno);
    if (attributes.type != FileInfo::Type::Regular) return problem(Problem::SourceNotRegular);
    sourceLength_ = attributes.size;
    files_->haveIdentity = attributes.haveIdentity;
    return {};
}

void FileJob::sendOutputTo(Stream& out) {
    destination_ = &out;
}

Outcome FileJob::prepareOutput(const std::string& finalPath, const ReplaceQuestion& mayReplace) {
    if (destination_ || !at({Stage::Opened, Stage::HeaderRead})) return refuse("output");
    outputPath_ = finalPath;
    // Creating the output over its own source (a .kpz compressed beside itself, a stored
    // name equal to its own file, or a link to it) would lose the source.
    if (finalPath == sourcePath_ || sameFile(sourcePath_, finalPath))
        return settle(problem(Problem::SameFile), Stage::Failed);
    bool exists = false;
    switch (inspectOutput(finalPath)) {
    case OutputTarget::Absent:
        break;
    case OutputTarget::File:
        exists = true;
        break;
    case OutputTarget::Folder:
        return settle(problem(Problem::OutputIsFolder), Stage::Failed);
    case OutputTarget::Special:
        return settle(problem(Problem::OutputIsSpecial), Stage::Failed);
    case OutputTarget::Unreadable:
        return settle(problem(Problem::OpenDestination, errno), Stage::Failed);
    }
    // Before the question: a file the run itself wrote is not the user's to replace.
    if (ledger_) {
        Outcome claimed = order_ == kNoOrder ? ledger_->claim(finalPath, sourcePath_)
                                             : ledger_->claim(finalPath, sourcePath_, order_);
        // Only the first member of a file takes the file's place in the run's order.
        order_ = kNoOrder;
        if (!claimed.ok()) return settle(claimed, Stage::Failed);
    }
    mayReplace_ = false;
    if (exists) {
        switch (mayReplace ? mayReplace(finalPath) : Replace::No) {
        case Replace::Yes:
            mayReplace_ = true;
            break;
        case Replace::No:
            return settle(problem(Problem::OutputExists), Stage::Failed);
        case Replace::Cancel:
            return settle(problem(Problem::Cancelled), Stage::Failed);
        }
    }
    // The existing file stays as it is until the new one is complete.
    if (!output_.create(finalPath))
        return settle(problem(Problem::OpenDestination, errno), Stage::Failed);
    return settle({}, Stage::OutputReady);
}

Outcome FileJob::commit(bool copyAttributes, bool durable) {
    if (destination_ || !at({Stage::Ran})) return refuse("commit");
    if (!moreToRead_) source_.close();
    OutputFile::Attributes attributes;
    attributes.copy = copyAttributes;
    attributes.from = files_->attributes;
    attributes.durable = durable;
    int error = 0;
    switch (output_.commit(mayReplace_, attributes, error)) {
    case OutputFile::Commit::Done:
        stage_ = Stage::Committed;
        return {};
    case OutputFile::Commit::Exists:
        return settle(problem(Problem::OutputAppeared), Stage::Failed);
    case OutputFile::Commit::Failed:
        return settle(problem(Problem::CommitFailed, error), Stage::Failed);
    case OutputFile::Commit::NamedUnsure:
        break;
    }
    // The output stays under its name; the job is over, so its source is not removed.
    stage_ = Stage::Failed;
    return problem(Problem::OutputUnsure, error);
}

Outcome FileJob::removeSource() {
    if (destination_ || !at({Stage::Committed})) return refuse("removal");
    // Only a proven output may take the source's place.
    if (!proven_) return problem(Problem::NotProven);
    FileInfo now;
    if (!files_->haveIdentity || !pathInfo(sourcePath_, now) ||
        now.type != FileInfo::Type::Regular || !sameVersion(now, files_->attributes))
        return problem(Problem::SourceChanged);
    if (!removeFile(sourcePath_)) return problem(Problem::RemoveFailed, errno);
    return {};
}

} // namespace kpz
