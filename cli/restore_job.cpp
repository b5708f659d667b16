// Restoring one compressed file under its stored name, and testing one without writing.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "terminal.h"

namespace kpzcli {

namespace {

constexpr const char* kNeedsPassword =
    "is protected by a password; give it with -p, --password-file or KPZ_PASSWORD";

// Opens path and reads its header; refuses password-marked files when no password was given.
bool openForDecoding(JobContext& job, kpz::RestoreJob& file, const std::string& path) {
    kpz::Outcome o = file.open(path);
    if (o.ok()) o = file.readHeader();
    if (!o.ok()) {
        reportProblem(job, o, path, {});
        return false;
    }
    if (file.header().passwordOn && !job.password.given) {
        job.report.error(path, kNeedsPassword);
        return false;
    }
    return true;
}

} // namespace

bool restoreOne(JobContext& job, const std::string& path) {
    const Options& o = job.options;
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;

    // Only the name part of the stored name counts, so a stored "../x" or "/etc/x" still
    // lands inside the output folder; --name stands in for a stored name.
    const std::string name = o.outputName.empty() ? file.outputName() : o.outputName;
    if (name.empty()) {
        reportProblem(job, {kpz::Problem::NoUsableName, 0, {}}, path, {});
        return false;
    }
    const std::string destination = !o.outputDir.empty() ? kpz::joinPath(o.outputDir, name)
                                    : path.find('/') == std::string::npos
                                        ? name
                                        : kpz::joinPath(kpz::folderOf(path), name);
    if (!prepareOutput(job, file, path, destination)) return false;

    const kpz::Header& header = file.header();
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, header.originalSize);
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.destWritten); };
    const kpz::Outcome outcome = file.run(job.password.code);
    job.state.hooks = {};
    meter.finish();
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, destination, header.passwordOn);
        return false;
    }
    if (!commitOutput(job, file, path, destination)) return false;
    job.report.info(path, "-> " + kpz::displayText(destination));
    return true;
}

bool testOne(JobContext& job, const std::string& path) {
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, file.header().originalSize);
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.destWritten); };
    const kpz::Outcome outcome = file.test(job.password.code);
    job.state.hooks = {};
    meter.finish();
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, {}, file.header().passwordOn);
        return false;
    }
    job.report.info(path, "OK");
    return true;
}

} // namespace kpzcli
