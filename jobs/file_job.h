// SPDX-License-Identifier: BSD-3-Clause
// The work on one file, shared by the window program, the command-line tool and libkpz:
// the checks on the source and its header, the output step, the coder's run, the verdict
// on it and the finish. The front ends gather input (paths, passwords, answers to
// questions) and present the outcomes in their own words.
#pragma once

#include "codec_record.h"
#include "outcome.h"
#include "run_ledger.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace kpz {

class File;
class OutputFile;
class MemberInput;
struct Header;
struct MemberEnd;

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

// The answer to "this compressed file is protected: what is its password?".
struct PasswordReply {
    enum class Kind {
        Given,   // code holds the password's code
        Missing, // no password to give: the member fails with PasswordNeeded
        Cancel,  // the user declined: the file fails with Cancelled
    };
    Kind kind = Kind::Missing;
    uint16_t code = 0;
};
using PasswordQuestion = std::function<PasswordReply(const std::string& sourcePath)>;

// What the finish step does once a run has succeeded.
struct Finish {
    bool copyAttributes = false; // the output takes the source's permission bits and times
    // Removes the source once its output is proven (compression: decoded and compared with
    // the source; restore: its check value matched or coding it again gives the member
    // back) and committed durably; the source is removed only while its name still holds
    // the file that was read.
    bool removeSource = false;
};

// What a file job shares whatever its direction: the open source, and the output step.
// Steps are taken in order: open, (header,) output, run, finish. A step out of order, or
// any step after a failed one, is refused with StepOutOfOrder (detail names the step and
// the stage the job was at), and destroying the job closes the source and removes an
// output that was not committed.
class FileJob {
  public:
    explicit FileJob(CodecState& state);
    virtual ~FileJob();
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;

    const std::string& sourcePath() const { return sourcePath_; }
    uint64_t sourceLength() const { return sourceLength_; }
    // The output's final path once the output step has chosen it.
    const std::string& outputPath() const { return outputPath_; }

    // The password: compression scrambles with it; a restore uses it for every protected
    // member (without one, a restore asks the password question, when one is installed).
    void setPassword(const Password& password) { password_ = password; }
    // The ledger of the run this file belongs to, and the file's place in the run's order:
    // outputs are claimed there so that a run never writes one output twice nor over one of
    // its inputs.
    void setLedger(RunLedger* ledger, size_t order = kNoOrder) {
        ledger_ = ledger;
        order_ = order;
    }
    static constexpr size_t kNoOrder = SIZE_MAX;

    // The output step: the output may not be the source (also through a link), a folder or
    // a special file; the ledger, when set, has it claimed for this file; an existing file
    // is replaced only when mayReplace says so (no question: never). Then the output is
    // created without a name.
    Outcome prepareOutput(const std::string& finalPath, const ReplaceQuestion& mayReplace);
    // Sends what run writes to out (standard output) instead of an output file; the job
    // then has no output to prepare or commit, and never removes its source.
    void sendOutputTo(Stream& out);

    // After a successful run: proves the output first when the source is to be removed,
    // gives the output its final name (durably, when the source is removed next), and only
    // then removes the source. Removal refuses (NotProven) unless a proof is recorded.
    // With the output sent to a stream there is nothing to name or remove.
    virtual Outcome finish(const Finish& how) = 0;

    // Progress of the run: bytes handled so far and in all, the same measure for every
    // caller (source bytes read when compressing, bytes restored when restoring).
    virtual uint64_t progressDone() const = 0;
    virtual uint64_t progressTotal() const = 0;

  protected:
    enum class Stage { Fresh, Opened, HeaderRead, OutputReady, Ran, Committed, Failed };
    static const char* stageName(Stage stage);
    // Whether the job is at one of the stages given.
    bool at(std::initializer_list<Stage> stages) const;
    // Refuses step, taken at the wrong stage: the job is over.
    Outcome refuse(const char* step);
    // Notes a step's outcome: a failed step ends the job.
    Outcome settle(Outcome o, Stage next);
    // Opens the source for reading: folders and special files are refused without
    // opening them, so a FIFO never blocks.
    Outcome openSource(const std::string& path);
    // Gives the output its final name, made durable when asked.
    Outcome commit(bool copyAttributes, bool durable);
    // Removes the committed source, once proven, if its name still holds the file read.
    Outcome removeSource();

    // The files behind the job: the open source, what is known of it, and the output.
    struct Files;
    std::unique_ptr<Files> files_;
    File& source_;
    OutputFile& output_;

    CodecState& s_;
    Stage stage_ = Stage::Fresh;
    std::string sourcePath_;
    uint64_t sourceLength_ = 0;
    std::string outputPath_;
    bool mayReplace_ = false;
    bool moreToRead_ = false; // the source stays open after a commit: more members follow
    bool proven_ = false;     // the output is proven to give the source back
    Stream* destination_ = nullptr;
    Password password_;
    RunLedger* ledger_ = nullptr;
    size_t order_ = kNoOrder;

    Stream& destination();
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

    // Codes a large file read from disk into an output file on up to threads threads (the
    // bytes are the same on any number); the caller decides how many the machine can spare.
    void setThreads(unsigned threads) { threads_ = threads; }

    // Writes the header and codes the source into the output, scrambled with the password
    // when one is set, followed by a check trailer when withCheck is set. The state's hooks
    // run at every flush as installed (on the calling thread, whatever the thread count).
    // Cancelled covers a cancel found set and a failed write that the hooks have already
    // reported (WriteFailed says which).
    Outcome run(bool withCheck = false);
    // Decodes the new output and compares it, header and bytes, with the source read
    // again from disk; a match is the proof that allows removing the source. After run,
    // before finish.
    Outcome verify();
    Outcome finish(const Finish& how) override;
    // Bytes the output took.
    uint64_t compressedSize() const { return compressedSize_; }

    uint64_t progressDone() const override { return s_.sourceProcessed; }
    uint64_t progressTotal() const override { return sourceLength_; }

  private:
    Outcome spool(Stream& in);
    Outcome encode(bool withCheck);
    Outcome compareWithSource();

    std::string storedName_;
    bool withCheck_ = false;
    bool spooled_ = false;
    unsigned threads_ = 1;
    uint64_t compressedSize_ = 0;
};

class RestoreJob : public FileJob {
  public:
    explicit RestoreJob(CodecState& state);
    ~RestoreJob() override;

    // Asked for the password when a protected member comes and none is set: before the
    // rest of its header is read. Without a question, such a member fails at its run.
    void setPasswordQuestion(PasswordQuestion ask) { askPassword_ = std::move(ask); }

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
    // Reads and checks the header, and that the payload can hold what it announces. The
    // password question, when needed, is asked between the marker and the rest.
    Outcome readHeader();

    // The current member's header.
    bool passwordOn() const;
    uint64_t originalSize() const;
    const std::string& storedName() const;
    // Whether a password is at hand for the member (set, or given by the question).
    bool havePassword() const { return password_.given; }

    // The output step for the member: name (the stored name's usable part when empty) in
    // folder, or beside the compressed file when folder is empty. NoUsableName when the
    // stored name cannot name a file and no name is given.
    Outcome prepareOutputIn(const std::string& folder, const ReplaceQuestion& mayReplace,
                            const std::string& name = {});
    // The file name the stored name restores to (empty when it cannot name a file).
    std::string outputName() const;
    // The path prepareOutputIn would choose; empty when no usable name is stored.
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
    // committed, so nothing partial or wrong is left. PasswordNeeded for a protected member
    // without a password.
    Outcome run();
    // The same without writing anything.
    Outcome test();
    // What the last run or test found after the payload.
    bool checked() const;           // a check trailer followed and matched
    bool moreMembers() const;       // another member follows
    uint64_t trailingBytes() const; // bytes after the last member that are no member
    // Bytes the member took in the compressed file, header and trailer included; known
    // after a run or test.
    uint64_t memberLength() const;
    // After a run or test that found another member (moreMembers()): makes it the current
    // one, its header read, ready for the output step.
    Outcome nextMember();

    // Whether the last run's restore is proven: its check value matched, or coding the
    // restored bytes again gives the member byte for byte (the format is deterministic).
    // After run, before finish; finish proves by itself when it is to remove the source.
    Outcome prove();
    // Commits the member; with removeSource, every member is proven and committed durably,
    // and the source goes after the last one, unless it holds data past its members
    // (SourceHoldsMore).
    Outcome finish(const Finish& how) override;

    uint64_t progressDone() const override { return s_.destWritten; }
    uint64_t progressTotal() const override { return originalSize(); }

  private:
    struct Member;
    Outcome decodeInto(Stream& sink);
    Outcome readMarker(bool& passwordOn);
    // Asks the question for a protected member without a password.
    Outcome obtainPassword();

    std::unique_ptr<Member> member_;
    Header& header_;
    MemberEnd& end_;
    std::unique_ptr<MemberInput> input_;
    PasswordQuestion askPassword_;
    bool markerRead_ = false;
    uint8_t marker_ = 0;
    bool streamed_ = false;
    bool everyMember_ = false;
    bool everyMemberProven_ = true;
    uint64_t memberStart_ = 0;   // where the member's header starts in the input
    uint64_t nextStart_ = 0;     // where the next one's starts, once known
    uint64_t payloadLength_ = 0; // its payload's bytes, once decoded
};

} // namespace kpz
