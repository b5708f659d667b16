// SPDX-License-Identifier: BSD-3-Clause
// The system's fonts, looked up on a second thread while the program starts.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

// Reading the font configuration and listing the fonts are the longest steps of a start,
// and the first text the program measures waits for both. Made before the application
// object, this reads the configuration on a second thread meanwhile; told that the
// application object exists, the same thread then fills the toolkit's list of fonts while
// this one goes on. wait() (or the destructor) returns once that is done. Where the
// toolkit does not use fontconfig, nothing is started.
class FontWarmUp {
  public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Call once the application object is made, from the thread that made it.
    void applicationReady();
    // Call before anything measures or draws text. Without applicationReady() the toolkit's
    // list of fonts is left for the toolkit to fill.
    void wait();

  private:
    enum class Next { Undecided, ListFonts, Stop };
    void tell(Next next);

    std::mutex mutex_;
    std::condition_variable told_;
    Next next_ = Next::Undecided;
    std::thread thread_;
};

} // namespace platform
