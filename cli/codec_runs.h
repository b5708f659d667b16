// One pass of the encoder or the decoder over open streams, with the progress line and
// the write-failure hook installed, and the checks for opening a compressed file.
#pragma once

#include "codec_state.h"
#include "container.h"
#include "decoder.h"
#include "encoder.h"
#include "file_io.h"
#include "terminal.h"

#include <string>
#include <sys/stat.h>

namespace kpzcli {

struct EncodeRun {
    kpz::EncodeOutcome outcome = kpz::EncodeOutcome::ReadError;
    bool writeFailed = false;
    // Complete, no failed write, no cancel and exactly the announced size read.
    bool good = false;
};

// Codes source (sourceSize bytes) into destination, header first, on up to `threads`
// threads. The state must have been reset with resetEncoder before the source was opened.
EncodeRun runEncoder(kpz::CodecState& s, kpz::Stream& source, uint32_t sourceSize,
                     kpz::Stream& destination, const std::string& storedName, bool passwordOn,
                     uint16_t passwordCode, ProgressMeter& meter, int threads = 1);

struct DecodeRun {
    kpz::DecodeOutcome outcome = kpz::DecodeOutcome::ReadError;
    bool writeFailed = false;
    bool good() const { return outcome == kpz::DecodeOutcome::Complete && !writeFailed; }
};

// Decodes the payload of in, whose header has been read, into destination, on up to
// `threads` threads. The state must have been reset with resetDecoder before in was
// opened. A file marked with a password is unscrambled with passwordCode.
DecodeRun runDecoder(kpz::CodecState& s, kpz::Stream& in, const kpz::Header& header,
                     kpz::Stream& destination, uint16_t passwordCode, ProgressMeter& meter,
                     int threads = 1);

// Decodes in (its header read) into a sink that only counts, as -t does. True when the
// decode completed and every stored byte came out; written then holds the bytes the
// decoder produced (the last block may run a little past the stored size).
bool testDecode(kpz::CodecState& s, kpz::Stream& in, const kpz::Header& header,
                uint16_t passwordCode, ProgressMeter& meter, DecodeRun& run, uint64_t& written,
                int threads = 1);

// Reads the header of in, a compressed file of length bytes, and checks that the payload
// can hold the data the header announces. On failure returns false with the message for
// the user in error.
bool readCompressedHeader(kpz::Stream& in, uint64_t length, kpz::Header& header,
                          std::string& error);

// A compressed file opened for decoding, its header read and checked.
struct CompressedInput {
    kpz::File file;
    kpz::Header header;
    struct stat attributes {};
    uint64_t length = 0;
};

// Opens path, reads its header and checks that the payload can hold the data the header
// announces. On failure returns false with the message for the user in error.
bool openCompressed(const std::string& path, CompressedInput& input, std::string& error);

// Whether path can be read as a plain file: false with a message for folders, devices and
// pipes, which the tool does not take as inputs.
bool checkRegularInput(const std::string& path, std::string& error);

} // namespace kpzcli
