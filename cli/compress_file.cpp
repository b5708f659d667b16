// SPDX-License-Identifier: BSD-3-Clause
// Compressing one file: the job's steps, the optional verification pass, and the tool's
// reports. Standard input is kept in a temporary file first (the header needs the size);
// with it, or with -c, the compressed file goes to standard output.
#include "file_tasks.h"
#include "host.h"
#include "progress_meter.h"
#include "terminal.h"
#include "text.h"

#include <cerrno>
#include <unistd.h>

namespace kpzcli {

namespace {

// The name stored for standard input when --name gives none.
constexpr const char* kStandardInputName = "stdin";

} // namespace

bool compressOne(TaskContext& task, const std::string& path) {
    const Options& o = task.options;
    kpz::CompressJob file(task.state);
    file.setPassword(task.password);
    file.setLedger(task.ledger, task.order);
    const bool fromStdin = isStandardInput(path);
    kpz::Outcome opened;
    std::unique_ptr<kpz::Stream> in;
    if (fromStdin) {
        in = kpz::standardStream(STDIN_FILENO, false);
        opened =
            !in ? kpz::Outcome{kpz::Problem::OpenSource, errno, {}}
                : file.openStream(*in, o.outputName.empty() ? kStandardInputName : o.outputName);
    } else {
        opened = file.open(path);
        if (opened.ok() && !o.outputName.empty()) opened = file.setStoredName(o.outputName);
    }
    if (!opened.ok()) {
        reportProblem(task, opened, path, {});
        return false;
    }
    const bool toStdout = fromStdin || o.toStdout;
    std::unique_ptr<kpz::Stream> standardOutput;
    std::string destination = "(standard output)";
    if (toStdout) {
        standardOutput = kpz::standardStream(STDOUT_FILENO, true);
        if (!standardOutput) {
            reportProblem(task, {kpz::Problem::WriteFailed, errno, {}}, path, destination);
            return false;
        }
        file.sendOutputTo(*standardOutput);
    } else {
        if (!makeOutputFolder(task.input, task.report)) return false;
        destination = file.outputFor(task.input.outputDir);
        const kpz::Outcome prepared = file.prepareOutput(destination, replaceAnswer(o));
        if (!prepared.ok()) {
            reportProblem(task, prepared, path, destination);
            return false;
        }
    }

    const uint64_t size = file.progressTotal();
    // --rm takes away the source: the job decodes the new file and compares it first.
    const bool remove = o.removeInputs && !toStdout;
    const bool verify = o.verify || remove;
    ProgressMeter meter(task.showProgress, task.sharedProgress);
    meter.start(path, verify ? 2 * size : size);
    task.state.hooks.showProgress = [&](kpz::Direction) { meter.update(file.progressDone()); };
    file.setThreads(compressionThreads(task));
    kpz::Outcome outcome = file.run(o.check);
    if (outcome.ok() && verify) {
        // The decode counts restored bytes.
        task.state.hooks.showProgress = [&](kpz::Direction) {
            meter.update(size + task.state.destWritten);
        };
        if (o.verify) outcome = file.verify();
    }
    if (outcome.ok()) outcome = file.finish({.copyAttributes = true, .removeSource = remove});
    meter.finish();
    task.state.hooks = {};
    // A source kept after its output was put in place: the output is there all the same.
    if (outcome.ok() || sourceKept(outcome))
        task.report.info(path, ratioText(file.compressedSize(), size) + " -> " +
                                   kpz::displayText(destination) + (verify ? " (verified)" : ""));
    reportProblem(task, outcome, path, destination);
    return outcome.ok();
}

} // namespace kpzcli
