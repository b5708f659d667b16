// SPDX-License-Identifier: BSD-3-Clause
// The progress line of a run: the same meter on every system; the terminal files only
// measure the width and draw.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace kpzcli {

// One line of progress ("percent, speed, time left") rewritten in place on stderr. Does
// nothing unless enabled, and redraws at most a few times a second.
class ProgressMeter {
  public:
    explicit ProgressMeter(bool enabled, std::atomic<uint64_t>* shared = nullptr)
        : enabled_(enabled || shared), shared_(shared) {}
    ~ProgressMeter() { finish(); }

    void start(const std::string& label, uint64_t total);
    void update(uint64_t done);
    void finish();

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    std::atomic<uint64_t>* shared_; // adds to a shared count instead of drawing
    uint64_t reported_ = 0;
    bool running_ = false;
    std::string label_;
    uint64_t total_ = 0;
    Clock::time_point started_{};
    Clock::time_point lastDrawn_{};
};

} // namespace kpzcli
