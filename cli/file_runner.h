// SPDX-License-Identifier: BSD-3-Clause
// Runs one mode's work over the given files, one at a time or several side by side.
#pragma once

#include "file_tasks.h"
#include "options.h"

#include <string>
#include <vector>

namespace kpzcli {

using FileTask = bool (*)(TaskContext&, const std::string&);

// Handles every input with task on up to `workers` threads, each with its own codec state.
// Messages come out in the order the inputs were given, whatever order they finish in.
// Every output is claimed in ledger first. Returns true when every file succeeded.
bool runFiles(FileTask task, const std::vector<Input>& inputs, const Options& options,
              const Reporter& report, const Password& password, int workers,
              kpz::RunLedger* ledger);

// Threads to use in all: -j, or one per processor.
int threadsWanted(const Options& options);

// The number of files to handle at once for these options: -j, or one per processor,
// never more than there are files; one when the outputs go to standard output in turn.
int workerCount(const Options& options, size_t files);

} // namespace kpzcli
