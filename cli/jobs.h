// SPDX-License-Identifier: BSD-3-Clause
// The work on one file for each mode: compress, restore, test, list.
#pragma once

#include "codec_state.h"
#include "file_job.h"
#include "inputs.h"
#include "options.h"
#include "report.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kpzcli {

using kpz::Password;

// What every job shares: the one codec state, the options and the reporter.
struct JobContext {
    kpz::CodecState& state;
    const Options& options;
    const Reporter& report;
    Password password;
    bool showProgress = false;
    // When several files run side by side: where each file adds the input bytes it has
    // handled, for one progress line over the whole run.
    std::atomic<uint64_t>* sharedProgress = nullptr;
    // The run's inputs and the outputs claimed so far, shared by every file of the run.
    kpz::RunLedger* ledger = nullptr;
    // The file's position among the run's files, for claiming outputs in that order.
    size_t order = 0;
    // The file's output folder (empty = beside it), and whether it is to be made first.
    Input input{};
};

// Reports a failed step of a file's job in the tool's words: about the source at path,
// or about the output at destination.
void reportProblem(const JobContext& job, const kpz::Outcome& outcome, const std::string& path,
                   const std::string& destination, bool passwordOn = false);

// The answer to "may this existing file be replaced?": -f.
kpz::ReplaceQuestion replaceAnswer(const Options& options);

// Each returns true when the file was handled successfully; failures are reported. path
// "-" is standard input.
bool compressOne(JobContext& job, const std::string& path);
bool restoreOne(JobContext& job, const std::string& path);
bool testOne(JobContext& job, const std::string& path);

// Standard output as a stream for the job layer: writes go straight to descriptor 1.
class StandardOutput final : public kpz::Stream {
  public:
    StandardOutput();
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override { return out_.write(data, count); }

  private:
    kpz::File out_;
};

// Removes an input whose output is committed (--rm), if it is still the file that was read;
// false when it was kept (reported).
bool removeInput(const JobContext& job, kpz::FileJob& file, const std::string& path);

// Reports what a restore or test found after the last member: data that is no member.
// True when there was such data (a warning).
bool reportMemberEnd(const JobContext& job, const std::string& path, const kpz::MemberEnd& end);

// The -l table: a header row before the first file, one row per file, and a totals row
// when more than one file was listed. Rows go to stdout.
class Lister {
  public:
    explicit Lister(JobContext& job) : job_(job) {}
    bool list(const std::string& path);
    void finish();

  private:
    void addRow(uint64_t original, uint64_t compressed);

    JobContext& job_;
    int rows_ = 0;
    uint64_t totalOriginal_ = 0;
    uint64_t totalCompressed_ = 0;
};

} // namespace kpzcli
