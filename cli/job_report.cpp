// SPDX-License-Identifier: BSD-3-Clause
// The tool's words for a file job's problems, and the output step both directions share.
#include "jobs.h"

#include "display_text.h"

#include <cerrno>
#include <unistd.h>

namespace kpzcli {

namespace {

// The texts users know from the window program, where the tool has no better words.
constexpr const char* kOpenSourceFailed = "Couldn't open source file!";
constexpr const char* kOpenDestinationFailed = "Couldn't open destination file!";
constexpr const char* kSourceReadError = "Source read error!";

} // namespace

void reportProblem(const JobContext& job, const kpz::Outcome& o, const std::string& path,
                   const std::string& destination, bool passwordOn) {
    const Reporter& report = job.report;
    using kpz::Problem;
    switch (o.problem) {
    case Problem::None:
    case Problem::Cancelled:
        return;
    case Problem::OpenSource:
        report.error(path,
                     std::string(kOpenSourceFailed) + " (" + systemError(o.error) + ")");
        return;
    case Problem::SourceIsFolder:
        report.error(path, "is a directory; skipped");
        return;
    case Problem::SourceNotRegular:
        report.error(path, "is not a regular file; skipped");
        return;
    case Problem::SizeChanged:
        report.error(path, "changed size while being compressed; no output written");
        return;
    case Problem::Damaged:
    case Problem::CheckMismatch:
        // Scrambled with the wrong code, a payload almost always runs out early, and never
        // matches its check value.
        report.error(path, passwordOn ? "Wrong password, or compressed file is damaged or truncated!"
                                      : "Compressed file is damaged or truncated!");
        return;
    case Problem::SpoolFailed:
        report.error("couldn't keep standard input in a temporary file (" + systemError(o.error) +
                     ")");
        return;
    case Problem::NoUsableName:
        report.error(path, std::string(kOpenDestinationFailed) +
                               " (no usable name is stored in it; give one with --name)");
        return;
    case Problem::OutputIsFolder:
        report.error(destination, "is a directory; not replaced");
        return;
    case Problem::OutputIsSpecial:
        report.error(destination, "is not a regular file; not replaced");
        return;
    case Problem::OutputExists:
        report.error(destination, "already exists; not replaced (use -f to replace it)");
        return;
    case Problem::OutputClaimed:
        report.error(destination, "is already the output of " + kpz::displayText(o.detail) +
                                      "; not written twice");
        return;
    case Problem::OutputIsInput:
        report.error(destination, "is an input of this run; not replaced");
        return;
    case Problem::OpenDestination:
        report.error(destination, std::string(kOpenDestinationFailed) + " (" +
                                      systemError(o.error) + ")");
        return;
    case Problem::CommitFailed:
        report.error(destination, o.detail);
        return;
    case Problem::VerifyHeader:
        report.error(path, "verification failed: the new file's header does not match the source");
        return;
    case Problem::VerifyMismatch:
        report.error(path, "verification failed: the new file does not restore to the source");
        return;
    case Problem::SourceRead:
        report.error(path, kSourceReadError);
        return;
    case Problem::TooLarge:
        report.error(path, "Source file is too large (4 GB or more)!");
        return;
    case Problem::NameTooLong:
        report.error(path, "Source file name is too long!");
        return;
    case Problem::UnknownFormat:
        report.error(path, "Unknown file format!");
        return;
    case Problem::SameFile:
        report.error(path, "Destination would replace the source file!");
        return;
    case Problem::WriteFailed:
        report.error(destination, "Couldn't write to destination file!");
        return;
    }
}

StandardOutput::StandardOutput() {
    // A copy of descriptor 1, so that the job's end leaves standard output open for the
    // next file and for the final flush.
    out_.adoptCopy(STDOUT_FILENO, true);
}

bool removeInput(const JobContext& job, const std::string& path) {
    if (kpz::removeFile(path)) return true;
    job.report.error(path,
                     "couldn't be removed (" + systemError(errno) + "); its output is complete");
    return false;
}

void reportPayloadEnd(const JobContext& job, const std::string& path, const kpz::PayloadEnd& end) {
    if (end.trailingBytes == 0) return;
    // Other readers skip such bytes too; they are worth a warning, not a failure.
    if (job.report.verbosity() >= 1)
        job.report.error(path, "warning: trailing data ignored (" +
                                   std::to_string(end.trailingBytes) +
                                   " bytes after the compressed data)");
}

bool prepareOutput(JobContext& job, kpz::FileJob& file, const std::string& path,
                   const std::string& destination) {
    bool exists = false;
    kpz::Outcome o = file.checkOutput(destination, exists);
    // Before the existing file: that may be the run's own doing, which is the clearer reason.
    if (o.ok() && job.ledger) o = job.ledger->claim(destination, path, job.order);
    if (o.ok() && exists && !job.options.force) o.problem = kpz::Problem::OutputExists;
    if (o.ok()) o = file.createOutput();
    if (o.ok()) return true;
    reportProblem(job, o, path, destination);
    return false;
}

bool commitOutput(JobContext& job, kpz::FileJob& file, const std::string& path,
                  const std::string& destination) {
    const kpz::Outcome o = file.commit(job.options.force, true);
    if (o.problem == kpz::Problem::OutputExists)
        job.report.error(destination, "appeared while writing; kept (use -f to replace it)");
    else
        reportProblem(job, o, path, destination);
    return o.ok();
}

} // namespace kpzcli
