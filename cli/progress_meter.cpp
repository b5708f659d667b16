// SPDX-License-Identifier: BSD-3-Clause
// The progress meter: when to redraw and what the line says, the same on every system; the
// terminal's own file draws the line.
#include "progress_meter.h"

#include "progress_text.h"
#include "terminal.h"
#include "text.h"

#include <cstdio>

namespace kpzcli {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

std::string clockText(double seconds) {
    if (seconds < 0 || seconds > 99 * 3600.0) return "--:--";
    const auto total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

} // namespace

void ProgressMeter::start(const std::string& label, uint64_t total) {
    if (!enabled_) return;
    reported_ = 0;
    label_ = kpz::displayText(label);
    total_ = total;
    started_ = lastDrawn_ = Clock::now();
    running_ = true;
}

void ProgressMeter::update(uint64_t done) {
    if (!running_) return;
    if (shared_) {
        if (done > total_) done = total_;
        if (done > reported_) shared_->fetch_add(done - reported_);
        reported_ = done;
        return;
    }
    const auto now = Clock::now();
    // The first redraw waits too, so short files do not flicker a line at all.
    if (now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    if (done > total_) done = total_;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double percent = total_ ? 100.0 * static_cast<double>(done) / total_ : 100.0;
    const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : -1;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%5.1f%%  %7.1f MB/s  %s left", percent, rate / 1e6,
                  clockText(left).c_str());
    drawProgressLine(progressLine(label_, numbers, terminalColumns()));
}

void ProgressMeter::finish() {
    if (!running_) return;
    running_ = false;
    if (shared_) {
        // Whatever the file did not report counts as handled once it is over.
        if (total_ > reported_) shared_->fetch_add(total_ - reported_);
        return;
    }
    clearProgressLine();
}

} // namespace kpzcli
