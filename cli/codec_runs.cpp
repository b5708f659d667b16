// One pass of the encoder or the decoder, and the checks for opening a compressed file.
#include "codec_runs.h"

#include "messages.h"
#include "parallel_decoder.h"
#include "parallel_encoder.h"
#include "report.h"
#include "sinks.h"

#include <cerrno>

namespace kpzcli {

EncodeRun runEncoder(kpz::CodecState& s, kpz::Stream& source, uint32_t sourceSize,
                     kpz::Stream& destination, const std::string& storedName, bool passwordOn,
                     uint16_t passwordCode, ProgressMeter& meter, int threads) {
    EncodeRun run;
    s.cancelRequested = false;
    s.source = &source;
    s.destination = &destination;
    s.sourceSize = sourceSize;
    s.passwordOn = passwordOn;
    s.passwordCode = passwordOn ? passwordCode : 0;
    if (!kpz::writeHeader(destination, passwordOn, sourceSize, storedName)) run.writeFailed = true;
    s.destWritten += static_cast<uint32_t>(storedName.size());
    s.hooks.showProgress = [&](kpz::Direction) { meter.update(s.sourceProcessed); };
    s.hooks.reportWriteFailure = [&] { run.writeFailed = true; };
    if (run.writeFailed) {
        run.outcome = kpz::EncodeOutcome::Cancelled;
    } else {
        // Side by side pays only from a few chunks on; small files take the plain loop.
        const bool parallel = threads > 1 && sourceSize >= 4 * kpz::kChunkBytes;
        run.outcome = parallel ? kpz::encodeFileParallel(s, threads) : kpz::encodeFile(s);
    }
    s.hooks = {};
    s.source = s.destination = nullptr;
    // A file that grew or shrank while it was read would restore to the wrong length.
    run.good = run.outcome == kpz::EncodeOutcome::Complete && !s.cancelRequested &&
               !run.writeFailed && s.sourceProcessed == sourceSize;
    s.cancelRequested = false;
    return run;
}

DecodeRun runDecoder(kpz::CodecState& s, kpz::Stream& in, const kpz::Header& header,
                     kpz::Stream& destination, uint16_t passwordCode, ProgressMeter& meter,
                     int threads) {
    DecodeRun run;
    s.cancelRequested = false;
    s.source = &in;
    s.destination = &destination;
    s.sourceProcessed += header.nameLength;
    s.originalSize = header.originalSize;
    s.passwordOn = header.passwordOn;
    s.passwordCode = header.passwordOn ? passwordCode : 0;
    s.blockLength = kpz::kBlockLength;
    s.hooks.showProgress = [&](kpz::Direction) { meter.update(s.destWritten); };
    s.hooks.reportWriteFailure = [&] { run.writeFailed = true; };
    if (threads > 1 && header.originalSize >= 8 * kpz::kChunkBytes) {
        run.outcome = kpz::decodeFileParallel(s, threads);
    } else {
        kpz::refillInput(s);
        run.outcome = s.bytesRead < 0 ? kpz::DecodeOutcome::ReadError : kpz::decodeFile(s);
    }
    s.hooks = {};
    s.source = s.destination = nullptr;
    s.cancelRequested = false;
    return run;
}

bool checkRegularInput(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = std::string(kpz::msg::kOpenSourceFailed) + " (" + systemError(errno) + ")";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "is a directory; skipped";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "is not a regular file; skipped";
        return false;
    }
    return true;
}

bool openCompressed(const std::string& path, CompressedInput& input, std::string& error) {
    if (!checkRegularInput(path, error)) return false;
    if (!input.file.openRead(path) || ::fstat(input.file.descriptor(), &input.attributes) != 0) {
        error = std::string(kpz::msg::kOpenSourceFailed) + " (" + systemError(errno) + ")";
        return false;
    }
    input.length = static_cast<uint64_t>(input.attributes.st_size);
    return readCompressedHeader(input.file, input.length, input.header, error);
}

bool readCompressedHeader(kpz::Stream& in, uint64_t length, kpz::Header& header,
                          std::string& error) {
    switch (kpz::readHeader(in, header)) {
    case kpz::HeaderStatus::Ok:
        break;
    case kpz::HeaderStatus::UnknownFormat:
        error = kpz::msg::kUnknownFormat;
        return false;
    case kpz::HeaderStatus::ReadError:
        error = kpz::msg::kSourceReadError;
        return false;
    }
    const uint64_t headerBytes = kpz::kHeaderFixedBytes + header.nameLength;
    const uint64_t payload = length > headerBytes ? length - headerBytes : 0;
    if (payload < kpz::minimumPayloadBytes(header.originalSize)) {
        error = kpz::msg::kDamaged;
        return false;
    }
    return true;
}

bool testDecode(kpz::CodecState& s, kpz::Stream& in, const kpz::Header& header,
                uint16_t passwordCode, ProgressMeter& meter, DecodeRun& run, uint64_t& written,
                int threads) {
    CountingSink sink;
    run = runDecoder(s, in, header, sink, passwordCode, meter, threads);
    written = sink.written;
    return run.good() && sink.written >= header.originalSize;
}

} // namespace kpzcli
