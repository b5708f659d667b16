// SPDX-License-Identifier: BSD-3-Clause
// Compressing one file: the shared job's steps, the optional verification pass, and the
// tool's reports. Standard input is kept in a temporary file first (the header needs the
// size); with it, or with -c, the compressed file goes to standard output.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "terminal.h"

#include <cerrno>
#include <unistd.h>

namespace kpzcli {

namespace {

// The name stored for standard input when --name gives none.
constexpr const char* kStandardInputName = "stdin";

} // namespace

bool compressOne(JobContext& job, const std::string& path) {
    const Options& o = job.options;
    kpz::CompressJob file(job.state);
    const bool fromStdin = isStandardInput(path);
    kpz::Outcome opened;
    if (fromStdin) {
        kpz::File in;
        opened =
            !in.adoptCopy(STDIN_FILENO, false)
                ? kpz::Outcome{kpz::Problem::OpenSource, errno, {}}
                : file.openStream(in, o.outputName.empty() ? kStandardInputName : o.outputName);
    } else {
        opened = file.open(path);
        if (opened.ok() && !o.outputName.empty()) opened = file.setStoredName(o.outputName);
    }
    if (!opened.ok()) {
        reportProblem(job, opened, path, {});
        return false;
    }
    const bool toStdout = fromStdin || o.toStdout;
    StandardOutput standardOutput;
    std::string destination = "(standard output)";
    if (toStdout) {
        file.sendOutputTo(standardOutput);
    } else {
        if (!makeOutputFolder(job.input, job.report)) return false;
        destination = file.outputFor(job.input.outputDir);
        if (!prepareOutput(job, file, path, destination)) return false;
    }

    const uint64_t size = file.sourceSize();
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, o.verify ? 2 * size : size);
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.sourceProcessed); };
    kpz::Outcome outcome = file.run(job.password.given, job.password.code, o.check);
    const uint64_t compressedSize = job.state.destWritten;
    if (outcome.ok() && o.verify) {
        job.state.hooks.showProgress = [&](kpz::Direction) {
            meter.update(size + job.state.destWritten);
        };
        outcome = file.verify(job.password.code);
    }
    meter.finish();
    job.state.hooks = {};
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, destination);
        return false;
    }
    if (!toStdout && !commitOutput(job, file, path, destination)) return false;
    job.report.info(path, ratioText(compressedSize, size) + " -> " + kpz::displayText(destination) +
                              (o.verify ? " (verified)" : ""));
    return !o.removeInputs || fromStdin || removeInput(job, path);
}

} // namespace kpzcli
