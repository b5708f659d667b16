// SPDX-License-Identifier: BSD-3-Clause
// The work on one file, shared by the window program and the command-line tool: the checks
// on the source and its header, the output's creation and commit, and the coder's run. The
// programs gather input (paths, passwords, answers to prompts) and present the outcomes.
#pragma once

#include "codec_state.h"
#include "container.h"
#include "file_io.h"
#include "output_file.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace kpz {

// Why a step refused a file or failed. Each front end words these its own way, in one
// switch that names every problem.
enum class Problem {
    None,
    OpenSource,       // the source could not be opened; error holds errno
    SourceIsFolder,   // a folder given as the source
    SourceNotRegular, // a FIFO, device or socket given as the source
    SourceRead,       // reading the source failed
    TooLarge,         // the source is too large for the header's 32-bit size
    NameTooLong,      // the source's name takes more than 255 bytes
    SizeChanged,      // the source grew or shrank while it was read
    UnknownFormat,    // not a compressed file
    Damaged,          // the payload is cut short or does not decode
    NoUsableName,     // the stored name cannot name a file
    SameFile,         // the output would replace its own source
    OutputIsFolder,   // a folder is in the way of the output
    OutputIsSpecial,  // a FIFO, device or socket is in the way of the output
    OutputExists,     // an existing file was not to be replaced
    OutputClaimed,    // an earlier file of the same run has this output; detail names it
    OutputIsInput,    // the output would replace another input of the same run
    OpenDestination,  // the output could not be created; error holds errno
    WriteFailed,      // the output could not be written
    CommitFailed,     // the finished output could not be put in place; detail says why
    Cancelled,        // the user asked to stop
    VerifyMismatch,   // the new file does not restore to its source
    VerifyHeader,     // the new file's header does not describe its source
    CheckMismatch,    // the restored bytes differ from the check value stored after them
    SpoolFailed,      // standard input could not be kept in a temporary file; error holds errno
};

struct Outcome {
    Problem problem = Problem::None;
    int error = 0;      // errno, for the problems that come from a system call
    std::string detail; // more to say, for the problems that note it

    bool ok() const { return problem == Problem::None; }
};

// The steps of a restore on streams, for callers without files (the fuzz targets):
// reads the header of in, a compressed stream of length bytes, and checks that the
// payload can hold what it announces.
Outcome readCompressedHeader(Stream& in, uint64_t length, Header& header);
// What a decode found at the end of a payload.
struct PayloadEnd {
    uint64_t produced = 0;      // bytes decoded (the last block may pass the stored size)
    bool checked = false;       // a check trailer followed the payload and matched
    uint64_t trailingBytes = 0; // bytes after the end pad that are no check trailer
};

// Decodes the payload of in, whose header has been read, into sink, with the state's
// decoder reset first; the state's hooks run at every flush. The sink receives exactly the
// stored size. The rest of in is read to its end: a check trailer there is compared with
// the restored bytes (CheckMismatch when they differ); other bytes are counted in end.
// hashRestored false skips the hash where the caller knows that no trailer follows.
Outcome decodePayload(CodecState& s, Stream& in, const Header& header, Stream& sink,
                      uint16_t passwordCode, PayloadEnd& end, bool hashRestored = true);

// What a file job shares whatever its direction: the open source, and the output with its
// checks, creation and commit. Each step returns an outcome; after a failed step the job
// is over, and destroying it closes the source and removes an uncommitted output.
class FileJob {
  public:
    explicit FileJob(CodecState& state) : s_(state) {}
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;

    const std::string& sourcePath() const { return sourcePath_; }
    const struct stat& sourceAttributes() const { return attributes_; }
    uint64_t sourceLength() const { return static_cast<uint64_t>(attributes_.st_size); }

    // Checks that the output may go to finalPath: not the source itself (also through a
    // link), not a folder, FIFO, device or socket. exists tells whether a file is there,
    // so that the caller may ask before replacing it.
    Outcome checkOutput(const std::string& finalPath, bool& exists);
    // Creates the output for the path checked last, without a name until it is committed.
    Outcome createOutput();
    // Closes the source and gives the output its final name. Without replace an existing
    // file is kept (OutputExists). copyAttributes gives the output the source's permission
    // bits and times.
    Outcome commit(bool replace, bool copyAttributes);
    // Closes the source and removes the output; also done by the destructor.
    void abandon();
    // Sends what run writes to out (standard output) instead of an output file; the job
    // then has no output to check, create or commit.
    void sendOutputTo(Stream& out) { destination_ = &out; }

    const std::string& outputPath() const { return outputPath_; }

  protected:
    // Opens the source for reading: folders and special files are refused without
    // opening them, so a FIFO never blocks.
    Outcome openSource(const std::string& path);

    CodecState& s_;
    std::string sourcePath_;
    struct stat attributes_ {};
    File source_;
    std::string outputPath_;
    OutputFile output_;
    Stream* destination_ = nullptr;

    Stream& destination() { return destination_ ? *destination_ : output_.file(); }
};

class CompressJob : public FileJob {
  public:
    using FileJob::FileJob;

    // Resets the encoder and opens the source; refuses what the header cannot describe.
    Outcome open(const std::string& path);
    // Takes a source that can be read only once (standard input): its bytes are kept in an
    // unnamed temporary file first, because the header needs the size before the payload.
    // name is the name to store.
    Outcome openStream(Stream& in, const std::string& name);
    // Stores name instead of the source's own name.
    Outcome setStoredName(const std::string& name);
    uint64_t sourceSize() const { return sourceLength(); }
    // The name stored in the header, made from the source's name part.
    const std::string& storedName() const { return storedName_; }
    // The output's path: the source's with the extension replaced, or that name in
    // folder when folder is not empty (folder ends with a separator or gets one).
    std::string outputFor(const std::string& folder) const;

    // Writes the header and codes the source into the output, followed by a check trailer
    // when withCheck is set. The state's hooks run at every flush as installed. Cancelled
    // covers a cancel found set and a failed write that the hooks have already reported
    // (WriteFailed says which).
    Outcome run(bool passwordOn, uint16_t passwordCode, bool withCheck = false);
    // Decodes the new output and compares it, header and bytes, with the source read
    // again from disk.
    Outcome verify(uint16_t passwordCode);

  private:
    std::string storedName_;
    bool passwordOn_ = false;
    bool withCheck_ = false;
    bool spooled_ = false;
};

class RestoreJob : public FileJob {
  public:
    using FileJob::FileJob;

    // Resets the decoder and opens the compressed file.
    Outcome open(const std::string& path);
    // The same for a descriptor already open (standard input), which may be a pipe; label
    // stands for its path. The descriptor is not closed by the job.
    Outcome openDescriptor(int fd, const std::string& label);
    // Reads the marker alone: it decides whether a password is needed before the rest of
    // the header is read.
    Outcome readMarker(bool& passwordOn);
    // Reads and checks the rest of the header, and that the payload can hold what it
    // announces. Reads the marker first when readMarker was not called.
    Outcome readHeader();
    const Header& header() const { return header_; }
    // The file name the stored name restores to (empty when it cannot name a file).
    std::string outputName() const { return safeOutputName(header_.storedName); }

    // Whether a check trailer ends the file, judged from its last bytes without reading
    // the payload; false for a source that is not a regular file. After readHeader.
    bool hasCheck();

    // Decodes the payload into the output: exactly the stored size. On a failed decode or a
    // check value that does not match, the output is not committed, so nothing partial or
    // wrong is ever left.
    Outcome run(uint16_t passwordCode);
    // Decodes the whole payload without writing anything.
    Outcome test(uint16_t passwordCode);
    // What the last run or test found at the end of the payload.
    const PayloadEnd& payloadEnd() const { return end_; }
    // Bytes the last run or test produced (the last block may pass the stored size).
    uint64_t decodedBytes() const { return end_.produced; }

  private:
    Header header_;
    bool markerRead_ = false;
    uint8_t marker_ = 0;
    bool streamed_ = false;
    PayloadEnd end_;
};

// The outputs and inputs of one run, so that a run never writes the same output twice nor
// over one of its own inputs. Safe to use from several threads.
class RunLedger {
  public:
    // Records an input of the run (by its file identity, when it exists).
    void addInput(const std::string& path);
    // Claims finalPath for the file at source. OutputClaimed when an earlier file of the
    // run has it (detail names that file), OutputIsInput when it is one of the inputs.
    Outcome claim(const std::string& finalPath, const std::string& source);
    // The same for files handled side by side, in the order they were given: the claim of
    // the file at position order waits until every earlier file has claimed or settled, so
    // the first of two files with one output is always the one written.
    Outcome claim(const std::string& finalPath, const std::string& source, size_t order);
    // Marks the file at position order as past its claim, whether it made one or not.
    void settle(size_t order);

  private:
    Outcome claimLocked(const std::string& key, bool exists, const FileIdentity& id,
                        const std::string& source);
    void settleLocked(size_t order);

    std::mutex lock_;
    std::condition_variable turn_;
    std::set<FileIdentity> inputs_;
    std::map<std::string, std::string> outputs_; // output's resolved path -> its source
    std::vector<bool> settled_;                  // by position, for ordered claims
    size_t firstUnsettled_ = 0;
};

} // namespace kpz
