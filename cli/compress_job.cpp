// SPDX-License-Identifier: BSD-3-Clause
// Compressing one file: the shared job's steps, the optional verification pass, and the
// tool's reports. Standard input is kept in a temporary file first (the header needs the
// size); with it, or with -c, the compressed file goes to standard output.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "progress_meter.h"
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
        const kpz::Outcome prepared =
            file.prepareOutput(destination, replaceAnswer(o), job.ledger, job.order);
        if (!prepared.ok()) {
            reportProblem(job, prepared, path, destination);
            return false;
        }
    }

    const uint64_t size = file.progressTotal();
    // --rm takes away the source: the new file is decoded and compared with it first.
    const bool verify = o.verify || (o.removeInputs && !fromStdin);
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, verify ? 2 * size : size);
    // Without a meter to draw (-q, no terminal) no hook: that leaves the job free to code
    // a large file on two threads.
    if (job.showProgress || job.sharedProgress)
        job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(file.progressDone()); };
    kpz::Outcome outcome = file.run(job.password.given, job.password.code, o.check);
    if (outcome.ok() && verify) {
        // The decode counts restored bytes.
        job.state.hooks.showProgress = [&](kpz::Direction) {
            meter.update(size + job.state.destWritten);
        };
        outcome = file.verify(job.password.code);
    }
    meter.finish();
    job.state.hooks = {};
    const bool remove = o.removeInputs && !fromStdin;
    if (outcome.ok() && !toStdout) outcome = file.commit(true, remove);
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, destination);
        return false;
    }
    job.report.info(path, ratioText(file.compressedSize(), size) + " -> " +
                              kpz::displayText(destination) + (verify ? " (verified)" : ""));
    return !remove || toStdout || removeInput(job, file, path);
}

} // namespace kpzcli
