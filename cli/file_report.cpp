// SPDX-License-Identifier: BSD-3-Clause
// The tool's words for a file job's problems, and the output step both directions share.
#include "file_tasks.h"
#include "host.h"
#include "text.h"
#include "threads.h"

#include <cstdlib>
#include <cstring>

namespace kpzcli {

namespace {

// The texts users know from the window program, where the tool has no better words.
constexpr const char* kOpenSourceFailed = "Couldn't open source file!";
constexpr const char* kOpenDestinationFailed = "Couldn't open destination file!";
constexpr const char* kSourceReadError = "Source read error!";

} // namespace

void reportProblem(const TaskContext& task, const kpz::Outcome& o, const std::string& path,
                   const std::string& destination, bool passwordOn) {
    const Reporter& report = task.report;
    using kpz::Problem;
    switch (o.problem) {
    case Problem::None:
    case Problem::Cancelled:
        return;
    case Problem::OpenSource:
        report.error(path, std::string(kOpenSourceFailed) + " (" + systemError(o.error) + ")");
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
        report.error(path, passwordOn
                               ? "Wrong password, or compressed file is damaged or truncated!"
                               : "Compressed file is damaged or truncated!");
        return;
    case Problem::SpoolFailed:
        report.error("couldn't keep standard input in a temporary file (" + systemError(o.error) +
                     ")");
        return;
    case Problem::PasswordNeeded:
        report.error(
            path, "is protected by a password; give it with -p, --password-file or KPZ_PASSWORD");
        return;
    case Problem::SourceHoldsMore:
        report.error(path, "kept, since it holds more than its restored files");
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
        report.error(destination,
                     std::string(kOpenDestinationFailed) + " (" + systemError(o.error) + ")");
        return;
    case Problem::CommitFailed:
        report.error(destination, "couldn't put the finished output in place (" +
                                      systemError(o.error) + "); nothing replaced");
        return;
    case Problem::OutputUnsure:
        report.error(destination, "is in place, but the system reported an error finishing it (" +
                                      systemError(o.error) + "); the input is kept");
        return;
    case Problem::OutputAppeared:
        report.error(destination, "appeared while writing; kept (use -f to replace it)");
        return;
    case Problem::MoreMembers:
        report.error(path, "holds more than one compressed file");
        return;
    case Problem::NotProven:
        report.error(path, "kept: its restore has no check value, and compressing the restored "
                           "file again does not give it back");
        return;
    case Problem::SourceChanged:
        report.error(path, "kept: it changed since it was read");
        return;
    case Problem::RemoveFailed:
        report.error(path,
                     "couldn't be removed (" + systemError(o.error) + "); its output is complete");
        return;
    case Problem::StepOutOfOrder:
        report.error(path, "internal error: a step was taken out of order (" + o.detail +
                               "); nothing written");
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

bool sourceKept(const kpz::Outcome& outcome) {
    using kpz::Problem;
    return outcome.problem == Problem::SourceChanged || outcome.problem == Problem::RemoveFailed ||
           outcome.problem == Problem::SourceHoldsMore;
}

bool reportMemberEnd(const TaskContext& task, const std::string& path,
                     const kpz::RestoreJob& file) {
    if (file.trailingBytes() == 0) return false;
    // Other readers skip such bytes too; they are worth a warning, not a failure.
    if (task.report.verbosity() >= 1)
        task.report.error(path, "warning: trailing data ignored (" +
                                    std::to_string(file.trailingBytes()) +
                                    " bytes after the compressed data)");
    return true;
}

unsigned compressionThreads(const TaskContext& task) {
    // KPZ_THREADS=1: always one thread; 2: two whatever else the machine runs.
    kpz::ThreadSetting setting = kpz::ThreadSetting::Auto;
    if (const char* n = std::getenv("KPZ_THREADS")) {
        if (std::strcmp(n, "1") == 0) setting = kpz::ThreadSetting::One;
        if (std::strcmp(n, "2") == 0) setting = kpz::ThreadSetting::Two;
    }
    if (setting == kpz::ThreadSetting::One) return 1;
    // The load is read only when it counts.
    const unsigned others = setting == kpz::ThreadSetting::Auto ? kpz::otherRunnableThreads() : 0;
    return kpz::threadsForFile(setting, task.busyThreads, kpz::usableProcessors(), others);
}

kpz::ReplaceQuestion replaceAnswer(const Options& options) {
    const bool force = options.force;
    return [force](const std::string&) { return force ? kpz::Replace::Yes : kpz::Replace::No; };
}

} // namespace kpzcli
