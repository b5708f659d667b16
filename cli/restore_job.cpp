// SPDX-License-Identifier: BSD-3-Clause
// Restoring one compressed file under its stored name, and testing one without writing.
// Standard input, or -c, restores to standard output.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "terminal.h"

#include <unistd.h>

namespace kpzcli {

namespace {

constexpr const char* kNeedsPassword =
    "is protected by a password; give it with -p, --password-file or KPZ_PASSWORD";

// Opens path (standard input for "-") and reads its header; refuses password-marked files
// when no password was given.
bool openForDecoding(JobContext& job, kpz::RestoreJob& file, const std::string& path) {
    kpz::Outcome o =
        isStandardInput(path) ? file.openDescriptor(STDIN_FILENO, path) : file.open(path);
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

// Decodes with a progress line, into the output set on file or nowhere (testing).
kpz::Outcome decodeWithProgress(JobContext& job, kpz::RestoreJob& file, const std::string& path,
                                bool testing) {
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, file.header().originalSize);
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(job.state.destWritten); };
    const kpz::Outcome outcome =
        testing ? file.test(job.password.code) : file.run(job.password.code);
    job.state.hooks = {};
    meter.finish();
    return outcome;
}

} // namespace

bool restoreOne(JobContext& job, const std::string& path) {
    const Options& o = job.options;
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;
    const kpz::Header& header = file.header();

    const bool toStdout = isStandardInput(path) || o.toStdout;
    StandardOutput standardOutput;
    std::string destination = "(standard output)";
    if (toStdout) {
        file.sendOutputTo(standardOutput);
    } else {
        // Only the name part of the stored name counts, so a stored "../x" or "/etc/x"
        // still lands inside the output folder; --name stands in for a stored name.
        const std::string name = o.outputName.empty() ? file.outputName() : o.outputName;
        if (name.empty()) {
            reportProblem(job, {kpz::Problem::NoUsableName, 0, {}}, path, {});
            return false;
        }
        const std::string& folder = job.input.outputDir;
        destination = !folder.empty() ? kpz::joinPath(folder, name)
                      : path.find('/') == std::string::npos
                          ? name
                          : kpz::joinPath(kpz::folderOf(path), name);
        if (!makeOutputFolder(job.input, job.report)) return false;
        if (!prepareOutput(job, file, path, destination)) return false;
    }

    const kpz::Outcome outcome = decodeWithProgress(job, file, path, false);
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, destination, header.passwordOn);
        return false;
    }
    reportPayloadEnd(job, path, file.payloadEnd());
    if (!toStdout && !commitOutput(job, file, path, destination)) return false;
    job.report.info(path, "-> " + kpz::displayText(destination) +
                              (file.payloadEnd().checked ? " (check value matched)" : ""));
    return !o.removeInputs || isStandardInput(path) || removeInput(job, path);
}

bool testOne(JobContext& job, const std::string& path) {
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;
    const kpz::Outcome outcome = decodeWithProgress(job, file, path, true);
    if (!outcome.ok()) {
        reportProblem(job, outcome, path, {}, file.header().passwordOn);
        return false;
    }
    reportPayloadEnd(job, path, file.payloadEnd());
    job.report.info(path, file.payloadEnd().checked ? "OK (check value matched)" : "OK");
    return true;
}

} // namespace kpzcli
