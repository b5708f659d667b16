// SPDX-License-Identifier: BSD-3-Clause
// The tool's task for one file in each mode: compress, restore, test, list. Each asks the
// jobs layer to do the work and tells the outcome in the tool's words.
#pragma once

#include "file_job.h"
#include "inputs.h"
#include "options.h"
#include "report.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kpzcli {

using kpz::Password;

// What every file's task shares: the one codec record, the options and the reporter.
struct TaskContext {
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
    // Threads of this run busy with files, the file's own among them: a compression takes
    // a second thread only while a processor is free for it.
    unsigned busyThreads = 1;
};

// Reports a failed step of a file's job in the tool's words: about the source at path,
// or about the output at destination.
void reportProblem(const TaskContext& task, const kpz::Outcome& outcome, const std::string& path,
                   const std::string& destination, bool passwordOn = false);

// Whether a failed finish kept the source after the output was put in place (--rm).
bool sourceKept(const kpz::Outcome& outcome);

// The answer to "may this existing file be replaced?": -f.
kpz::ReplaceQuestion replaceAnswer(const Options& options);

// Each returns true when the file was handled successfully; failures are reported. path
// "-" is standard input.
bool compressOne(TaskContext& task, const std::string& path);
bool restoreOne(TaskContext& task, const std::string& path);
bool testOne(TaskContext& task, const std::string& path);

// Reports what a restore or test found after the last member: data that is no member.
// True when there was such data (a warning).
bool reportMemberEnd(const TaskContext& task, const std::string& path, const kpz::RestoreJob& file);

// Threads for the compression of one file, from KPZ_THREADS and the machine.
unsigned compressionThreads(const TaskContext& task);

// The -l table: a header row before the first file, one row per file, and a totals row
// when more than one file was listed. Rows go to stdout.
class Lister {
  public:
    explicit Lister(TaskContext& task) : task_(task) {}
    bool list(const std::string& path);
    void finish();

  private:
    void addRow(uint64_t original, uint64_t compressed);

    TaskContext& task_;
    int rows_ = 0;
    uint64_t totalOriginal_ = 0;
    uint64_t totalCompressed_ = 0;
};

} // namespace kpzcli
