// SPDX-License-Identifier: BSD-3-Clause
// Restoring a compressed file, every member under its own stored name, and testing one
// without writing. Standard input, or -c, restores to standard output.
#include "display_text.h"
#include "jobs.h"
#include "paths.h"
#include "progress_meter.h"
#include "terminal.h"

#include <unistd.h>

namespace kpzcli {

namespace {

constexpr const char* kNeedsPassword =
    "is protected by a password; give it with -p, --password-file or KPZ_PASSWORD";

// Opens path (standard input for "-") and reads its header.
bool openForDecoding(JobContext& job, kpz::RestoreJob& file, const std::string& path) {
    kpz::Outcome o =
        isStandardInput(path) ? file.openDescriptor(STDIN_FILENO, path) : file.open(path);
    if (o.ok()) o = file.readHeader();
    if (!o.ok()) {
        reportProblem(job, o, path, {});
        return false;
    }
    file.takeEveryMember();
    return true;
}

// Refuses a password-marked member when no password was given.
bool passwordAtHand(JobContext& job, const kpz::RestoreJob& file, const std::string& path) {
    if (!file.header().passwordOn || job.password.given) return true;
    job.report.error(path, kNeedsPassword);
    return false;
}

// Decodes with a progress line, into the output set on file or nowhere (testing).
kpz::Outcome decodeWithProgress(JobContext& job, kpz::RestoreJob& file, const std::string& path,
                                bool testing) {
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, file.progressTotal());
    job.state.hooks.showProgress = [&](kpz::Direction) { meter.update(file.progressDone()); };
    const kpz::Outcome outcome =
        testing ? file.test(job.password.code) : file.run(job.password.code);
    job.state.hooks = {};
    meter.finish();
    return outcome;
}

// What a finished member's report adds: how its restore was proven.
const char* verifiedText(const kpz::RestoreJob& file) {
    return file.memberEnd().checked ? " (check value matched)" : " (no check value)";
}

} // namespace

bool restoreOne(JobContext& job, const std::string& path) {
    const Options& o = job.options;
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;

    const bool toStdout = isStandardInput(path) || o.toStdout;
    // --rm takes away the only other copy: every member must be proven first.
    const bool mustProve = o.removeInputs && !isStandardInput(path);
    StandardOutput standardOutput;
    if (toStdout) file.sendOutputTo(standardOutput);
    bool allGood = true;
    bool warned = false;
    for (int member = 0;; ++member) {
        if (!passwordAtHand(job, file, path)) return false;
        std::string destination = "(standard output)";
        if (!toStdout) {
            // --name stands in for the first member's stored name only.
            destination = file.restoredPath(job.input.outputDir, member == 0 ? o.outputName : "");
            if (destination.empty()) {
                reportProblem(job, {kpz::Problem::NoUsableName, 0, {}}, path, {});
                return false;
            }
            if (!makeOutputFolder(job.input, job.report)) return false;
            const kpz::Outcome prepared =
                file.prepareOutput(destination, replaceAnswer(o), job.ledger,
                                   member == 0 ? job.order : kpz::FileJob::kNoOrder);
            if (!prepared.ok()) {
                reportProblem(job, prepared, path, destination);
                return false;
            }
        }
        kpz::Outcome outcome = decodeWithProgress(job, file, path, false);
        if (outcome.ok() && mustProve && !toStdout) outcome = file.prove(job.password.code);
        if (outcome.ok() && !toStdout) outcome = file.commit(true, mustProve);
        if (!outcome.ok()) {
            reportProblem(job, outcome, path, destination, file.header().passwordOn);
            return false;
        }
        warned = reportMemberEnd(job, path, file.memberEnd()) || warned;
        job.report.info(path, "-> " + kpz::displayText(destination) + verifiedText(file));
        if (!file.memberEnd().nextMember) break;
        if (!file.nextMember().ok()) return false;
    }
    if (!o.removeInputs || isStandardInput(path)) return allGood;
    if (warned) {
        job.report.error(path, "kept, since it holds more than its restored files");
        return false;
    }
    return removeInput(job, file, path);
}

bool testOne(JobContext& job, const std::string& path) {
    kpz::RestoreJob file(job.state);
    if (!openForDecoding(job, file, path)) return false;
    for (;;) {
        if (!passwordAtHand(job, file, path)) return false;
        const kpz::Outcome outcome = decodeWithProgress(job, file, path, true);
        if (!outcome.ok()) {
            reportProblem(job, outcome, path, {}, file.header().passwordOn);
            return false;
        }
        reportMemberEnd(job, path, file.memberEnd());
        job.report.info(path, std::string("OK") + verifiedText(file));
        if (!file.memberEnd().nextMember) return true;
        if (!file.nextMember().ok()) return false;
    }
}

} // namespace kpzcli
