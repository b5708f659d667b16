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

// Why a step refused a file or failed. Each program words these its own way; message()
// gives the window program's texts, which the command-line tool also uses where it has
// nothing to add.
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
};

struct Outcome {
    Problem problem = Problem::None;
    int error = 0;      // errno, for the problems that come from a system call
    std::string detail; // more to say, for the problems that note it

    bool ok() const { return problem == Problem::None; }
    // Whether the problem lies with the output rather than the source.
    bool aboutOutput() const;
    // The window program's text for the problem.
    const char* message() const;
};

// The steps of a restore on streams, for callers without files (the fuzz targets):
// reads the header of in, a compressed stream of length bytes, and checks that the
// payload can hold what it announces.
Outcome readCompressedHeader(Stream& in, uint64_t length, Header& header);
// Decodes the payload of in, whose header has been read, into sink, with the state's
// decoder reset first; the state's hooks run at every flush.
// produced receives the bytes decoded (the last block may pass the stored size).
Outcome decodePayload(CodecState& s, Stream& in, const Header& header, Stream& sink,
                      uint16_t passwordCode, uint64_t& produced);

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
};

class CompressJob : public FileJob {
  public:
    using FileJob::FileJob;

    // Resets the encoder and opens the source; refuses what the header cannot describe.
    Outcome open(const std::string& path);
    uint64_t sourceSize() const { return sourceLength(); }
    // The name stored in the header, made from the source's name part.
    const std::string& storedName() const { return storedName_; }
    // The output's path: the source's with the extension replaced, or that name in
    // folder when folder is not empty (folder ends with a separator or gets one).
    std::string outputFor(const std::string& folder) const;

    // Writes the header and codes the source into the output. The state's hooks run at
    // every flush as installed. Cancelled covers a cancel found set and a failed write
    // that the hooks have already reported (WriteFailed says which).
    Outcome run(bool passwordOn, uint16_t passwordCode);
    // Decodes the new output and compares it, header and bytes, with the source read
    // again from disk.
    Outcome verify(uint16_t passwordCode);

  private:
    std::string storedName_;
    bool passwordOn_ = false;
};

class RestoreJob : public FileJob {
  public:
    using FileJob::FileJob;

    // Resets the decoder and opens the compressed file.
    Outcome open(const std::string& path);
    // Reads the marker alone: it decides whether a password is needed before the rest of
    // the header is read.
    Outcome readMarker(bool& passwordOn);
    // Reads and checks the rest of the header, and that the payload can hold what it
    // announces. Reads the marker first when readMarker was not called.
    Outcome readHeader();
    const Header& header() const { return header_; }
    // The file name the stored name restores to (empty when it cannot name a file).
    std::string outputName() const { return safeOutputName(header_.storedName); }

    // Decodes the payload into the output and cuts it to the stored size. On a failed
    // decode the output is not committed, so nothing partial is ever left.
    Outcome run(uint16_t passwordCode);
    // Decodes the whole payload without writing anything.
    Outcome test(uint16_t passwordCode);
    // Bytes the last run or test produced (the last block may pass the stored size).
    uint64_t decodedBytes() const { return decoded_; }

  private:
    Header header_;
    bool markerRead_ = false;
    uint8_t marker_ = 0;
    uint64_t decoded_ = 0;
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
    Outcome claimLocked(const std::string& key, bool exists, const struct stat& st,
                        const std::string& source);
    void settleLocked(size_t order);

    std::mutex lock_;
    std::condition_variable turn_;
    std::set<std::pair<dev_t, ino_t>> inputs_;
    std::map<std::string, std::string> outputs_; // output's resolved path -> its source
    std::vector<bool> settled_;                  // by position, for ordered claims
    size_t firstUnsettled_ = 0;
};

} // namespace kpz
