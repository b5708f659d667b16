// SPDX-License-Identifier: BSD-3-Clause
// kpz: the command-line compressor. Parses the arguments, gets the password, then runs the
// chosen mode over every file and sums up the exit status.
#include "file_runner.h"
#include "file_tasks.h"
#include "host.h"
#include "inputs.h"
#include "options.h"
#include "password_input.h"
#include "report.h"
#include "signals.h"
#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Ends the run: a failed write to stdout (a full disk, a closed pipe or descriptor) turns
// any outcome into a failure, since what was asked for did not all arrive. A run that sent
// nothing there has nothing to lose on it: a failure closing it then is no failure of the
// run, and must not turn one that has committed outputs and removed inputs into an exit
// status saying nothing was done.
int finish(const kpzcli::Reporter& report, int status, bool wroteStandardOutput) {
    if (const int error = kpzcli::finishStandardOutput(wroteStandardOutput); error != 0) {
        report.error("couldn't write to standard output: " + kpzcli::systemError(error));
        return kExitFailed;
    }
    return status;
}

// Compressed data is not for a terminal, in either direction, unless -f says so: on the
// screen it is noise, and from the keyboard it cannot be typed.
bool refusesTerminal(const kpzcli::Options& options, const kpzcli::Reporter& report) {
    using namespace kpzcli;
    if (options.force) return false;
    const bool readsStdin =
        std::any_of(options.files.begin(), options.files.end(), isStandardInput);
    if (options.mode == Mode::Compress && (options.toStdout || readsStdin) &&
        ::isatty(STDOUT_FILENO) == 1) {
        report.error("compressed data not written to a terminal (use -f to force it)");
        return true;
    }
    if (options.mode != Mode::Compress && readsStdin && ::isatty(STDIN_FILENO) == 1) {
        report.error("compressed data not read from a terminal (use -f to force it)");
        return true;
    }
    return false;
}

// Leaves out an input that is also standard output (kpz -c a.wav >> a.wav): reading what
// the run itself appends would never end and would corrupt the input.
std::vector<kpzcli::Input> withoutStandardOutput(std::vector<kpzcli::Input> inputs,
                                                 const kpzcli::Options& options,
                                                 const kpzcli::Reporter& report, bool& allGood) {
    using namespace kpzcli;
    const bool readsStdin = std::any_of(inputs.begin(), inputs.end(),
                                        [](const Input& i) { return isStandardInput(i.path); });
    if (options.mode == Mode::Test || options.mode == Mode::List ||
        !(options.toStdout || readsStdin))
        return inputs;
    std::vector<Input> kept;
    for (Input& input : inputs) {
        const bool same = isStandardInput(input.path)
                              ? kpz::sameFileOnDescriptors(STDIN_FILENO, STDOUT_FILENO)
                              : kpz::isFileOnDescriptor(input.path, STDOUT_FILENO);
        if (same) {
            report.error(input.path, "is also standard output; skipped");
            allGood = false;
        } else {
            kept.push_back(std::move(input));
        }
    }
    return kept;
}

// KPZ_KERNELS=portable or avx2 picks the block coding kernels (to compare them); otherwise
// the fastest this processor runs. An unknown name or a set the processor lacks changes
// nothing.
void chooseKernels() {
    if (const char* name = std::getenv("KPZ_KERNELS")) kpz::useKernels(name);
}

// Whether the mode sends data to stdout: the list, and compressed or restored bytes with
// -c or from standard input. Files written beside their inputs leave stdout unused.
bool writesStandardOutput(const kpzcli::Options& options) {
    using namespace kpzcli;
    switch (options.mode) {
    case Mode::List:
        return true;
    case Mode::Test:
        return false;
    case Mode::Compress:
    case Mode::Decompress:
        break;
    }
    return options.toStdout ||
           std::any_of(options.files.begin(), options.files.end(), isStandardInput);
}

} // namespace

int main(int argc, char** argv) {
    using namespace kpzcli;
    // Before anything is opened: a closed descriptor 1 or 2 would be taken by an output.
    kpz::ensureStandardDescriptors();
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "kpz: %s\nTry 'kpz --help' for more information.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const Options& options = parsed.options;
    const Reporter report(options.verbosity);
    chooseKernels();
    if (options.showHelp) {
        std::fputs(helpText().c_str(), stdout);
        return finish(report, kExitOk, true);
    }
    if (options.showVersion) {
        std::fputs(versionText().c_str(), stdout);
        return finish(report, kExitOk, true);
    }

    if (!options.outputDir.empty() && !kpz::isDirectory(options.outputDir)) {
        report.error(options.outputDir, "is not an existing directory");
        return kExitFailed;
    }
    if (refusesTerminal(options, report)) return kExitFailed;
    installCleanupHandlers();
    Password password;
    if (!obtainPassword(options, report, password)) return kExitFailed;

    bool allGood = true;
    const std::vector<Input> inputs =
        withoutStandardOutput(gatherInputs(options, report, allGood), options, report, allGood);
    if (options.mode == Mode::List) {
        // One pass, in order: each row is printed as its file is read.
        auto state = std::make_unique<kpz::CodecState>();
        TaskContext task{*state, options, report, password, false};
        Lister lister(task);
        for (const Input& input : inputs)
            allGood = lister.list(input.path) && allGood;
        lister.finish();
    } else {
        const FileTask task = options.mode == Mode::Compress     ? compressOne
                              : options.mode == Mode::Decompress ? restoreOne
                                                                 : testOne;
        // Outputs never replace an input of the same run, nor each other.
        kpz::RunLedger ledger;
        for (const Input& input : inputs)
            if (!isStandardInput(input.path)) ledger.addInput(input.path);
        allGood = runFiles(task, inputs, options, report, password,
                           workerCount(options, inputs.size()), &ledger) &&
                  allGood;
    }
    return finish(report, allGood ? kExitOk : kExitFailed, writesStandardOutput(options));
}
