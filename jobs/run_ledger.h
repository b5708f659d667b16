// SPDX-License-Identifier: BSD-3-Clause
// The outputs and inputs of one run, so that a run never writes the same output twice nor
// over one of its own inputs, however the paths are spelt.
#pragma once

#include "outcome.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kpz {

// Safe to use from several threads.
class RunLedger {
  public:
    // Records an input of the run (by its file identity, when it exists).
    void addInput(const std::string& path);
    // Claims finalPath for the file at source. OutputClaimed when an earlier file of the
    // run has it (detail names that file), OutputIsInput when it is one of the inputs.
    // Outputs are told apart by their folder's identity on disk and their name (without
    // regard to case where the system ignores it), so two spellings of one folder, links
    // and mounts of it included, claim one output.
    Outcome claim(const std::string& finalPath, const std::string& source);
    // The same for files handled side by side, in the order they were given: the claim of
    // the file at position order waits until every earlier file has claimed or settled, so
    // the first of two files with one output is always the one written.
    Outcome claim(const std::string& finalPath, const std::string& source, size_t order);
    // Marks the file at position order as past its claim, whether it made one or not.
    void settle(size_t order);

    RunLedger();
    ~RunLedger();
    RunLedger(const RunLedger&) = delete;
    RunLedger& operator=(const RunLedger&) = delete;

  private:
    struct State; // the files as the system knows them, behind a lock
    std::unique_ptr<State> state_;
};

} // namespace kpz
