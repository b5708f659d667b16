// The work on one file for each mode: compress, restore, test, list.
#pragma once

#include "codec_state.h"
#include "options.h"
#include "report.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kpzcli {

struct Password {
    bool given = false;
    uint16_t code = 0;
};

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
    // Threads that may share the coding of one file.
    int codecThreads = 1;
};

// Each returns true when the file was handled successfully; failures are reported.
bool compressOne(JobContext& job, const std::string& path);
bool restoreOne(JobContext& job, const std::string& path);
bool testOne(JobContext& job, const std::string& path);

// The -l table: a header row before the first file, one row per file, and a totals row
// when more than one file was listed. Rows go to stdout.
class Lister {
  public:
    explicit Lister(JobContext& job) : job_(job) {}
    bool list(const std::string& path);
    void finish();

  private:
    JobContext& job_;
    int rows_ = 0;
    uint64_t totalOriginal_ = 0;
    uint64_t totalCompressed_ = 0;
};

} // namespace kpzcli
