// SPDX-License-Identifier: BSD-3-Clause
// The terminal: the progress line on stderr and the password prompt on /dev/tty.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
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

// Whether the progress line should be shown: stderr is a terminal and -q was not given.
bool progressWanted(int verbosity);

// Wipes a visible progress line so that a message can start at the left margin.
void clearProgressLine();

// The terminal's width in columns, or 0 when it cannot tell; asked at every redraw, so a
// resized window gets lines of its new width.
int terminalColumns();
// Draws line over the current line of stderr, the rest of the line cleared.
void drawProgressLine(const std::string& line);

// Reads one line from the controlling terminal with echo off. Without a terminal it does
// not wait for anything: it returns nothing and sets error.
std::optional<std::string> askPassword(const char* prompt, std::string& error);

// Puts echo back if a signal arrives during the prompt. Async-signal-safe.
void restoreTerminalAfterSignal();

} // namespace kpzcli
