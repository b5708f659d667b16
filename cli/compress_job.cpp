// Compressing one file: checks, the temporary output, the optional verification pass and
// the rename into place.
#include "codec_runs.h"
#include "jobs.h"
#include "messages.h"
#include "output_file.h"
#include "paths.h"
#include "sinks.h"

#include <cerrno>

namespace kpzcli {

namespace {

// Decodes the freshly written file and compares it with the source, both read from disk.
// Returns an empty string when they agree, else what went wrong.
std::string verifyOutput(JobContext& job, const std::string& sourcePath,
                         const std::string& writtenPath, uint64_t sourceSize,
                         const std::string& storedName, ProgressMeter& meter) {
    kpz::CodecState& s = job.state;
    kpz::resetDecoder(s);
    CompressedInput written;
    std::string error;
    if (!openCompressed(writtenPath, written, error))
        return "verification failed: the new file reads back as: " + error;
    const kpz::Header& h = written.header;
    if (h.originalSize != sourceSize || h.passwordOn != job.password.given ||
        h.storedName != storedName.substr(0, storedName.find('\0')))
        return "verification failed: the new file's header does not match the source";
    kpz::File reference;
    if (!reference.openRead(sourcePath))
        return std::string(kpz::msg::kOpenSourceFailed) + " (while verifying)";
    ComparingSink sink(reference, sourceSize, &s.cancelRequested);
    const DecodeRun run =
        runDecoder(s, written.file, h, sink, job.password.code, meter, job.codecThreads);
    if (run.outcome == kpz::DecodeOutcome::ReadError || sink.referenceReadFailed())
        return std::string(kpz::msg::kSourceReadError) + " (while verifying)";
    if ((run.outcome != kpz::DecodeOutcome::Complete &&
         run.outcome != kpz::DecodeOutcome::Cancelled) ||
        !sink.matched())
        return "verification failed: the new file does not restore to the source";
    return {};
}

} // namespace

bool compressOne(JobContext& job, const std::string& path) {
    kpz::CodecState& s = job.state;
    const Reporter& report = job.report;
    const Options& o = job.options;
    std::string error;

    kpz::resetEncoder(s);
    if (!checkRegularInput(path, error)) {
        report.error(path, error);
        return false;
    }
    kpz::File source;
    struct stat attributes {};
    if (!source.openRead(path) || ::fstat(source.descriptor(), &attributes) != 0) {
        report.error(path,
                     std::string(kpz::msg::kOpenSourceFailed) + " (" + systemError(errno) + ")");
        return false;
    }
    const auto size = static_cast<uint64_t>(attributes.st_size);
    if (size > kpz::kMaxSourceSize) {
        report.error(path, kpz::msg::kTooLarge);
        return false;
    }
    const std::string storedName = kpz::storedNameFor(kpz::namePart(path));
    if (storedName.size() > kpz::kMaxNameLength) {
        report.error(path, kpz::msg::kNameTooLong);
        return false;
    }

    const std::string destination =
        o.outputDir.empty() ? kpz::compressedName(path)
                            : joinPath(o.outputDir, kpz::compressedName(baseNameOf(path)));
    OutputFile out;
    if (!out.openFor(path, destination, o.force, report)) return false;
    ProgressMeter meter(job.showProgress, job.sharedProgress);
    meter.start(path, size);
    const EncodeRun run =
        runEncoder(s, source, static_cast<uint32_t>(size), out.file(), storedName,
                   job.password.given, job.password.code, meter, job.codecThreads);
    meter.finish();
    if (!run.good) {
        if (run.writeFailed)
            report.error(destination, kpz::msg::kWriteFailed);
        else if (run.outcome == kpz::EncodeOutcome::ReadError)
            report.error(path, kpz::msg::kSourceReadError);
        else
            report.error(path, "changed size while being compressed; no output written");
        return false;
    }
    const int64_t compressedSize = out.file().length();

    if (o.verify) {
        meter.start(path + " (verifying)", size);
        error = verifyOutput(job, path, out.temporaryPath(), size, storedName, meter);
        meter.finish();
        if (!error.empty()) {
            report.error(path, error);
            return false; // out's destructor removes the temporary file
        }
    }

    if (!out.commit(destination, attributes, o.force, error)) {
        report.error(destination, error);
        return false;
    }
    report.info(path, ratioText(static_cast<uint64_t>(compressedSize), size) + " -> " +
                          destination + (o.verify ? " (verified)" : ""));
    return true;
}

} // namespace kpzcli
