// SPDX-License-Identifier: BSD-3-Clause
// Several files at once: each worker thread takes the next file, with a codec state of its
// own; the main thread prints each file's messages in the order the files were given.
#include "file_runner.h"

#include "progress_meter.h"
#include "terminal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace kpzcli {

int threadsWanted(const Options& options) {
    return options.jobs > 0 ? options.jobs
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int workerCount(const Options& options, size_t files) {
    if (options.toStdout) return 1;
    const int wanted = threadsWanted(options);
    return std::max(1, std::min<int>(wanted, static_cast<int>(files)));
}

namespace {

// How many bytes a file's progress counts up to: the source for compression (twice with
// --verify, which reads it again), the stored original size for restoring and testing.
// Read through the same job steps as every file.
uint64_t progressSize(kpz::CodecState& state, const Options& options, const std::string& path) {
    if (isStandardInput(path)) return 0;
    if (options.mode == Mode::Compress) {
        kpz::CompressJob file(state);
        if (!file.open(path).ok()) return 0;
        return options.verify ? 2 * file.sourceLength() : file.sourceLength();
    }
    kpz::RestoreJob file(state);
    kpz::Outcome o = file.open(path);
    if (o.ok()) o = file.readHeader();
    return o.ok() ? file.originalSize() : 0;
}

} // namespace

bool runFiles(FileTask task, const std::vector<Input>& inputs, const Options& options,
              const Reporter& report, const Password& password, int workers,
              kpz::RunLedger* ledger) {
    const size_t count = inputs.size();
    if (workers <= 1) {
        // The codec's working record is large: one on the heap serves every file.
        auto state = std::make_unique<kpz::CodecState>();
        TaskContext context{*state, options, report, password, progressWanted(options.verbosity)};
        context.ledger = ledger;
        bool allGood = true;
        for (size_t i = 0; i < count; ++i) {
            context.order = i;
            context.input = inputs[i];
            allGood = task(context, inputs[i].path) && allGood;
            if (ledger) ledger->settle(i);
        }
        return allGood;
    }

    struct FileResult {
        std::string messages;
        bool done = false;
        bool good = false;
    };
    std::vector<FileResult> outcomes(count);
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> handled{0};
    const bool showProgress = progressWanted(options.verbosity);
    uint64_t total = 0;
    if (showProgress) {
        // Headers only, read through the same job steps as every file.
        auto probe = std::make_unique<kpz::CodecState>();
        for (const Input& input : inputs)
            total += progressSize(*probe, options, input.path);
    }
    std::mutex lock;
    std::condition_variable finished;

    auto work = [&] {
        auto state = std::make_unique<kpz::CodecState>();
        for (size_t i = next++; i < count; i = next++) {
            std::string messages;
            const Reporter collected(options.verbosity, &messages);
            // One progress line cannot follow several files: side by side, none is shown.
            TaskContext context{*state,   options, collected,
                                password, false,   showProgress ? &handled : nullptr,
                                ledger};
            context.order = i;
            context.input = inputs[i];
            // The workers keep the processors busy: a compression takes a second thread
            // only while a processor is free beside all of them.
            context.busyThreads = static_cast<unsigned>(workers);
            const bool good = task(context, inputs[i].path);
            // A file that failed before claiming its output must not hold up later ones.
            if (ledger) ledger->settle(i);
            std::lock_guard<std::mutex> guard(lock);
            outcomes[i].messages = std::move(messages);
            outcomes[i].good = good;
            outcomes[i].done = true;
            finished.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back(work);

    ProgressMeter meter(showProgress);
    meter.start(std::to_string(count) + " files", total);
    bool allGood = true;
    for (FileResult& outcome : outcomes) {
        std::unique_lock<std::mutex> guard(lock);
        while (
            !finished.wait_for(guard, std::chrono::milliseconds(100), [&] { return outcome.done; }))
            meter.update(handled.load());
        clearProgressLine();
        std::fwrite(outcome.messages.data(), 1, outcome.messages.size(), stderr);
        std::fflush(stderr);
        allGood = allGood && outcome.good;
    }
    meter.finish();
    for (std::thread& t : threads)
        t.join();
    return allGood;
}

} // namespace kpzcli
