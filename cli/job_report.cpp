// The tool's words for a file job's problems, and the output step both directions share.
#include "jobs.h"

#include "display_text.h"
#include "messages.h"

namespace kpzcli {

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
                     std::string(kpz::msg::kOpenSourceFailed) + " (" + systemError(o.error) + ")");
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
        // Scrambled with the wrong code, a payload almost always runs out early.
        report.error(path, passwordOn ? kpz::msg::kWrongPasswordOrDamaged : kpz::msg::kDamaged);
        return;
    case Problem::NoUsableName:
        report.error(path, std::string(kpz::msg::kOpenDestinationFailed) +
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
        report.error(destination, std::string(kpz::msg::kOpenDestinationFailed) + " (" +
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
    default:
        report.error(o.aboutOutput() ? destination : path, o.message());
        return;
    }
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
