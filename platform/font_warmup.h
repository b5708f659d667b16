// SPDX-License-Identifier: BSD-3-Clause
// The system's font configuration, read on a second thread while the program starts.
#pragma once

#include <thread>

namespace platform {

// Reading the font configuration is the longest single step of a start, and the first text
// the program measures waits for it. Made before the application object, this reads it on
// a second thread meanwhile; wait() (or the destructor) returns once it is read. Where the
// toolkit does not read fontconfig, nothing is started.
class FontWarmUp {
  public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Call before anything measures or draws text.
    void wait();

  private:
    std::thread thread_;
};

} // namespace platform
