// Compressing one file: the shared job's steps, the optional verification pass, and the
// tool's reports.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "terminal.h"

namespace kpzcli {

bool compressOne(JobContext& job, const std::string& path) {
    const Options& o = job.options;
    kpz::CompressJob file(job.state);
    if (kpz::Outcome opened = file.open(path); !opened.ok()) {
        reportProblem(job, opened, path, {});
        return false;
    }
    const std::string destination = file.outputFor(o.outputDir);
    if (!prepareOutput(job, file, path, destination)) return false;

    const uint64_t size = file.sourceSize();
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, size);
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.sourceProcessed); };
    kpz::Outcome outcome = file.run(job.password.given, job.password.code);
    meter.finish();
    const uint64_t compressedSize = job.state.destWritten;
    if (outcome.ok() && o.verify) {
        meter.start(path + " (verifying)", size);
        job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.destWritten); };
        outcome = file.verify(job.password.code);
        meter.finish();
    }
    job.state.hooks = {};
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, destination);
        return false;
    }
    if (!commitOutput(job, file, path, destination)) return false;
    job.report.info(path, ratioText(compressedSize, size) + " -> " + kpz::displayText(destination) +
                              (o.verify ? " (verified)" : ""));
    return true;
}

} // namespace kpzcli
