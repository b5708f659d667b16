// SPDX-License-Identifier: BSD-3-Clause
// The work on one file, shared by the window program, the command-line tool and libkpz:
// the checks on the source and its header, the output step, the coder's run and the
// verdict on it. The front ends gather input (paths, passwords, answers to questions) and
// present the outcomes in their own words.
#pragma once

#include "codec_state.h"
#include "container.h"
#include "file_io.h"
#include "member_input.h"
#include "outcome.h"
#include "output_file.h"
#include "run_ledger.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace kpz {

// Reads the header of in, a compressed stream of length bytes, and checks that the
// payload can hold what it announces. For callers without files (the fuzz targets).
Outcome readCompressedHeader(Stream& in, uint64_t length, Header& header);

// Decodes the payload of in, whose header has been read, into sink (exactly the stored
// size), with the state's decoder reset first and its hooks run at every flush; then
// judges what follows the payload as every restore does (its check trailer, another
// member, other bytes). produced receives the bytes the decoder made (the last block may
// pass the stored size).
Outcome decodePayload(CodecState& s, MemberInput& in, const Header& header, Stream& sink,
                      uint16_t passwordCode, MemberEnd& end, uint64_t* produced = nullptr);

// A password as the jobs take it: whether one was given, and its code.
struct Password {
    bool given = false;
    uint16_t code = 0;
};

// The answer to "may this existing file be replaced?".
enum class Replace {
    Yes,
    No,     // keep it: the file fails with OutputExists
    Cancel, // keep it and stop: the file fails with Cancelled
};
using ReplaceQuestion = std::function<Replace(const std::string& path)>;

// What a file job shares whatever its direction: the open source, and the output step.
// Steps are taken in order: open, (header,) output, run, commit. A step out of order, or
// any step after a failed one, is refused with StepOutOfOrder, and destroying the job
// closes the source and removes an output that was not committed.
class FileJob {
  public:
    explicit FileJob(CodecState& state) : s_(state) {}
    virtual ~FileJob() = default;
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;

    const std::string& sourcePath() const { return sourcePath_; }
    uint64_t sourceLength() const { return sourceLength_; }

    // The output step: the output may not be the source (also through a link), a folder or
    // a special file; the ledger, when given, has it claimed for this file (in the run's
    // order when order is given); an existing file is replaced only when mayReplace says
    // so (no question: never). Then the output is created without a name.
    Outcome prepareOutput(const std::string& finalPath, const ReplaceQuestion& mayReplace,
                          RunLedger* ledger = nullptr, size_t order = kNoOrder);
    static constexpr size_t kNoOrder = SIZE_MAX;
    // Sends what run writes to out (standard output) instead of an output file; the job
    // then has no output to prepare or commit.
    void sendOutputTo(Stream& out);

    // Closes the source and gives the output its final name, replacing a file there only
    // when the output step allowed it. copyAttributes gives the output the source's
    // permission bits and times; durable flushes the output and its folder to disk, for
    // callers that remove the source next.
    Outcome commit(bool copyAttributes, bool durable = false);

    // Removes the source once its output is committed (and made durable), but only when its
    // name still holds the file that was read: the same file on disk, with the same size
    // and modification time. SourceChanged when it does not; RemoveFailed with errno when
    // the system refused.
    Outcome removeSource();

    // Progress of the run: bytes handled so far and in all, the same measure for every
    // caller (source bytes read when compressing, bytes restored when restoring).
    virtual uint64_t progressDone() const = 0;
    virtual uint64_t progressTotal() const = 0;

  protected:
    enum class Stage { Fresh, Opened, HeaderRead, OutputReady, Ran, Committed, Failed };
    // Whether the job is at one of the stages given; when not, the job is over.
    bool at(std::initializer_list<Stage> stages);
    // Notes a step's outcome: a failed step ends the job.
    Outcome settle(Outcome o, Stage next);
    // Opens the source for reading: folders and special files are refused without
    // opening them, so a FIFO never blocks.
    Outcome openSource(const std::string& path);

    CodecState& s_;
    Stage stage_ = Stage::Fresh;
    std::string sourcePath_;
    uint64_t sourceLength_ = 0;
    File source_;
    struct stat attributes_ {};
    FileIdentity identity_;     // the source read, as a file on disk
    bool haveIdentity_ = false; // false: the source is never removed
    std::string outputPath_;
    bool mayReplace_ = false;
    bool moreToRead_ = false; // the source stays open after a commit: more members follow
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
    // again from disk. After run, before commit.
    Outcome verify(uint16_t passwordCode);
    // Bytes the output took.
    uint64_t compressedSize() const { return compressedSize_; }

    uint64_t progressDone() const override { return s_.sourceProcessed; }
    uint64_t progressTotal() const override { return sourceLength_; }

  private:
    Outcome spool(Stream& in);
    Outcome encode(bool passwordOn, uint16_t passwordCode, bool withCheck);
    Outcome compareWithSource(uint16_t passwordCode);

    std::string storedName_;
    bool passwordOn_ = false;
    bool withCheck_ = false;
    bool spooled_ = false;
    uint64_t compressedSize_ = 0;
};

class RestoreJob : public FileJob {
  public:
    explicit RestoreJob(CodecState& state);
    ~RestoreJob() override;

    // Resets the decoder and opens the compressed file.
    Outcome open(const std::string& path);
    // The same for a descriptor already open (standard input), which may be a pipe; label
    // stands for its path. The descriptor is not closed by the job.
    Outcome openDescriptor(int fd, const std::string& label);
    // The same for a stream the caller reads from (the library's callbacks, a buffer in
    // memory), of length bytes when known (kUnknownLength otherwise). The job never
    // removes, proves or seeks such a source; label stands for its path.
    Outcome openStream(Stream& in, uint64_t length, const std::string& label);
    static constexpr uint64_t kUnknownLength = UINT64_MAX;
    // Reads the marker alone: it decides whether a password is needed before the rest of
    // the header is read.
    Outcome readMarker(bool& passwordOn);
    // Reads and checks the rest of the header, and that the payload can hold what it
    // announces. Reads the marker first when readMarker was not called.
    Outcome readHeader();
    const Header& header() const { return header_; }
    // The file name the stored name restores to (empty when it cannot name a file).
    std::string outputName() const { return safeOutputName(header_.storedName); }
    // Where the member restores: name (the stored name's usable part when empty) in
    // folder, or beside the compressed file when folder is empty. Empty when no usable
    // name is stored.
    std::string restoredPath(const std::string& folder, const std::string& name = {}) const;

    // Whether the file's last bytes are a check trailer: a hint for listings made before
    // anything is decoded (false for a source that is not a regular file). The verdict on
    // a check value is the run's, which looks for it where the payload ends.
    bool hasCheck();
    // After a run or test that failed: whether the compressed file ends with a check
    // trailer. A source that could not be looked at from its end first (a pipe, the
    // caller's stream) is read to its end for it, so that the verdict on a wrong password
    // does not depend on the way the file came in.
    bool endsWithCheck();

    // A caller that restores every member in turn says so; for any other caller, a file
    // with more than one member fails with MoreMembers, as it holds more than was restored.
    void takeEveryMember() { everyMember_ = true; }

    // Decodes the member's payload into the output (exactly the stored size) and judges
    // what follows it: the check trailer right at the payload's end must match, and a
    // trailer that the payload does not reach is CheckMismatch. A failed restore is never
    // committed, so nothing partial or wrong is left.
    Outcome run(uint16_t passwordCode);
    // The same without writing anything.
    Outcome test(uint16_t passwordCode);
    // What the last run or test found after the payload.
    const MemberEnd& memberEnd() const { return end_; }
    // Bytes the member took in the compressed file, header and trailer included; known
    // after a run or test.
    uint64_t memberLength() const {
        return kHeaderFixedBytes + header_.nameLength + payloadLength_ +
               (end_.checked ? kTrailerBytes : 0);
    }
    // After a run or test that found another member (memberEnd().nextMember): makes it the
    // current one, its header read, ready for the output step.
    Outcome nextMember();

    // Whether the last run's restore is proven: its check value matched, or coding the
    // restored bytes again gives the member byte for byte (the format is deterministic).
    // After run, before commit.
    Outcome prove(uint16_t passwordCode);

    uint64_t progressDone() const override { return s_.destWritten; }
    uint64_t progressTotal() const override { return header_.originalSize; }

  private:
    Outcome decodeInto(Stream& sink, uint16_t passwordCode);

    Header header_;
    bool markerRead_ = false;
    uint8_t marker_ = 0;
    bool streamed_ = false;
    bool everyMember_ = false;
    MemberEnd end_;
    std::unique_ptr<MemberInput> input_;
    uint64_t memberStart_ = 0;   // where the member's header starts in the input
    uint64_t nextStart_ = 0;     // where the next one's starts, once known
    uint64_t payloadLength_ = 0; // its payload's bytes, once decoded
};

} // namespace kpz
