// SPDX-License-Identifier: BSD-3-Clause
// Restoring a compressed file, every member under its own stored name, and testing one
// without writing. Standard input, or -c, restores to standard output.
#include "file_tasks.h"
#include "host.h"
#include "progress_meter.h"
#include "terminal.h"
#include "text.h"

#include <cerrno>
#include <unistd.h>

namespace kpzcli {

namespace {

// Opens path (standard input for "-") and reads its header.
bool openForDecoding(TaskContext& task, kpz::RestoreJob& file, const std::string& path) {
    file.setPassword(task.password);
    file.setLedger(task.ledger, task.order);
    kpz::Outcome o =
        isStandardInput(path) ? file.openDescriptor(STDIN_FILENO, path) : file.open(path);
    if (o.ok()) o = file.readHeader();
    if (!o.ok()) {
        reportProblem(task, o, path, {});
        return false;
    }
    file.takeEveryMember();
    return true;
}

// Decodes with a progress line, into the output set on file or nowhere (testing).
kpz::Outcome decodeWithProgress(TaskContext& task, kpz::RestoreJob& file, const std::string& path,
                                bool testing) {
    ProgressMeter meter(task.showProgress, task.sharedProgress);
    meter.start(path, file.progressTotal());
    task.state.hooks.showProgress = [&](kpz::Direction) { meter.update(file.progressDone()); };
    const kpz::Outcome outcome = testing ? file.test() : file.run();
    task.state.hooks = {};
    meter.finish();
    return outcome;
}

// What a finished member's report adds: how its restore was proven.
const char* verifiedText(const kpz::RestoreJob& file) {
    return file.checked() ? " (check value matched)" : " (no check value)";
}

} // namespace

bool restoreOne(TaskContext& task, const std::string& path) {
    const Options& o = task.options;
    kpz::RestoreJob file(task.state);
    if (!openForDecoding(task, file, path)) return false;

    const bool toStdout = isStandardInput(path) || o.toStdout;
    // --rm takes away the only other copy: the job proves every member first.
    const kpz::Finish finish{.copyAttributes = true, .removeSource = o.removeInputs && !toStdout};
    std::unique_ptr<kpz::Stream> standardOutput;
    if (toStdout) {
        standardOutput = kpz::standardStream(STDOUT_FILENO, true);
        if (!standardOutput) {
            reportProblem(task, {kpz::Problem::WriteFailed, errno, {}}, path, "(standard output)");
            return false;
        }
        file.sendOutputTo(*standardOutput);
    }
    for (int member = 0;; ++member) {
        std::string destination = "(standard output)";
        if (!toStdout) {
            if (!makeOutputFolder(task.input, task.report)) return false;
            // --name stands in for the first member's stored name only.
            const kpz::Outcome prepared = file.prepareOutputIn(
                task.input.outputDir, replaceAnswer(o), member == 0 ? o.outputName : "");
            destination = file.outputPath();
            if (!prepared.ok()) {
                reportProblem(task, prepared, path, destination);
                return false;
            }
        }
        kpz::Outcome outcome = decodeWithProgress(task, file, path, false);
        if (outcome.ok()) outcome = file.finish(finish);
        const bool restored = outcome.ok() || sourceKept(outcome);
        if (restored) {
            reportMemberEnd(task, path, file);
            task.report.info(path, "-> " + kpz::displayText(destination) + verifiedText(file));
        }
        if (!outcome.ok()) {
            reportProblem(task, outcome, path, destination, file.passwordOn());
            return false;
        }
        if (!file.moreMembers()) return true;
        if (kpz::Outcome next = file.nextMember(); !next.ok()) {
            reportProblem(task, next, path, {});
            return false;
        }
    }
}

bool testOne(TaskContext& task, const std::string& path) {
    kpz::RestoreJob file(task.state);
    if (!openForDecoding(task, file, path)) return false;
    for (;;) {
        const kpz::Outcome outcome = decodeWithProgress(task, file, path, true);
        if (!outcome.ok()) {
            reportProblem(task, outcome, path, {}, file.passwordOn());
            return false;
        }
        reportMemberEnd(task, path, file);
        task.report.info(path, std::string("OK") + verifiedText(file));
        if (!file.moreMembers()) return true;
        if (kpz::Outcome next = file.nextMember(); !next.ok()) {
            reportProblem(task, next, path, {});
            return false;
        }
    }
}

} // namespace kpzcli
