// Restoring one compressed file under its stored name, and testing one without writing.
#include "codec_runs.h"
#include "jobs.h"
#include "messages.h"
#include "output_file.h"
#include "paths.h"
#include "sinks.h"

namespace kpzcli {

namespace {

constexpr const char* kNeedsPassword =
    "is protected by a password; give it with -p, --password-file or KPZ_PASSWORD";

// Opens path for decoding and refuses password-marked files when no password was given.
bool openForDecoding(JobContext& job, const std::string& path, CompressedInput& input) {
    kpz::resetDecoder(job.state);
    std::string error;
    if (!openCompressed(path, input, error)) {
        job.report.error(path, error);
        return false;
    }
    if (input.header.passwordOn && !job.password.given) {
        job.report.error(path, kNeedsPassword);
        return false;
    }
    return true;
}

// The message for a decode that did not complete.
const char* decodeFailure(const DecodeRun& run) {
    if (run.writeFailed) return kpz::msg::kWriteFailed;
    if (run.outcome == kpz::DecodeOutcome::ReadError) return kpz::msg::kSourceReadError;
    return kpz::msg::kDamaged;
}

} // namespace

bool restoreOne(JobContext& job, const std::string& path) {
    const Reporter& report = job.report;
    const Options& o = job.options;
    CompressedInput input;
    if (!openForDecoding(job, path, input)) return false;

    // Only the name part of the stored name counts, so a stored "../x" or "/etc/x" still
    // lands inside the output folder.
    const std::string name = kpz::safeOutputName(input.header.storedName);
    if (name.empty()) {
        report.error(path, std::string(kpz::msg::kOpenDestinationFailed) +
                               " (no usable name is stored in it)");
        return false;
    }
    const std::string destination = !o.outputDir.empty() ? joinPath(o.outputDir, name)
                                    : path.find('/') == std::string::npos
                                        ? name
                                        : joinPath(folderOf(path), name);
    OutputFile out;
    if (!out.openFor(path, destination, o.force, report)) return false;
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, input.header.originalSize);
    const DecodeRun run = runDecoder(job.state, input.file, input.header, out.file(),
                                     job.password.code, meter, job.codecThreads);
    meter.finish();
    if (!run.good()) {
        report.error(run.writeFailed ? destination : path, decodeFailure(run));
        return false;
    }
    // The last block may run past the original length.
    if (!out.file().setLength(input.header.originalSize)) {
        report.error(destination, kpz::msg::kWriteFailed);
        return false;
    }
    std::string error;
    if (!out.commit(destination, input.attributes, o.force, error)) {
        report.error(destination, error);
        return false;
    }
    report.info(path, "-> " + destination);
    return true;
}

bool testOne(JobContext& job, const std::string& path) {
    CompressedInput input;
    if (!openForDecoding(job, path, input)) return false;
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, input.header.originalSize);
    DecodeRun run;
    uint64_t written = 0;
    const bool complete = testDecode(job.state, input.file, input.header, job.password.code, meter,
                                     run, written, job.codecThreads);
    meter.finish();
    if (!complete) {
        job.report.error(path, decodeFailure(run));
        return false;
    }
    job.report.info(path, "OK");
    return true;
}

} // namespace kpzcli
