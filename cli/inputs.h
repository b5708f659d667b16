// SPDX-License-Identifier: BSD-3-Clause
// The files of a run: the arguments as given, or with -r the files found in folders.
#pragma once

#include "options.h"
#include "report.h"

#include <string>
#include <vector>

namespace kpzcli {

struct Input {
    std::string path;        // as given or found; "-" is standard input
    std::string outputDir;   // where its output goes; empty = beside it
    bool makeFolder = false; // outputDir is a folder of the tree kept below -o, made on demand
};

// The inputs for options. With -r, a folder argument stands for the files below it (in
// name order, links not followed): every regular file but .kpz ones when compressing,
// every .kpz file otherwise; with -o their outputs keep the folder tree below the output
// folder. A folder that cannot be read is reported and makes ok false.
std::vector<Input> gatherInputs(const Options& options, const Reporter& report, bool& ok);

// Makes the folder of an input's output, with the folders above it, when it is missing.
bool makeOutputFolder(const Input& input, const Reporter& report);

} // namespace kpzcli
