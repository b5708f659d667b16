// kpz: the command-line compressor. Parses the arguments, gets the password, then runs the
// chosen mode over every file and sums up the exit status.
#include "encoder.h"
#include "file_runner.h"
#include "jobs.h"
#include "options.h"
#include "password_input.h"
#include "paths.h"
#include "report.h"
#include "signals.h"
#include "terminal.h"

#include <cstdio>
#include <memory>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Ends the run: a failed write to stdout (a full disk, a closed pipe or descriptor) turns
// any outcome into a failure, since what was asked for did not all arrive.
int finish(const kpzcli::Reporter& report, int status) {
    if (const int error = kpzcli::finishStandardOutput(); error != 0) {
        report.error("couldn't write to standard output: " + kpzcli::systemError(error));
        return kExitFailed;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kpzcli;
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "kpz: %s\nTry 'kpz --help' for more information.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const Options& options = parsed.options;
    const Reporter report(options.verbosity);
    if (options.showHelp) {
        std::fputs(helpText().c_str(), stdout);
        return finish(report, kExitOk);
    }
    if (options.showVersion) {
        std::fputs(versionText().c_str(), stdout);
        return finish(report, kExitOk);
    }

    if (!options.outputDir.empty() && !kpz::isDirectory(options.outputDir)) {
        report.error(options.outputDir, "is not an existing directory");
        return kExitFailed;
    }
    installCleanupHandlers();
    Password password;
    if (!obtainPassword(options, report, password)) return kExitFailed;

    bool allGood = true;
    if (options.mode == Mode::List) {
        // Listing reads only headers: one state-free pass, in order.
        auto state = std::make_unique<kpz::CodecState>();
        JobContext job{*state, options, report, password, false};
        Lister lister(job);
        for (const std::string& file : options.files)
            allGood = lister.list(file) && allGood;
        lister.finish();
    } else {
        const FileJob job = options.mode == Mode::Compress     ? compressOne
                            : options.mode == Mode::Decompress ? restoreOne
                                                               : testOne;
        // Outputs never replace an input of the same run, nor each other.
        kpz::RunLedger ledger;
        for (const std::string& file : options.files)
            ledger.addInput(file);
        allGood =
            runFiles(job, options.files, options, report, password, workerCount(options), &ledger);
    }
    return finish(report, allGood ? kExitOk : kExitFailed);
}
