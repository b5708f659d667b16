// SPDX-License-Identifier: BSD-3-Clause
// Font configuration read ahead where the toolkit's fonts come from fontconfig. The
// toolkit then finds it loaded: its own FcInit() returns at once.
#include "font_warmup.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace platform {

FontWarmUp::FontWarmUp() {
    try {
        thread_ = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // No thread to be had: the toolkit reads the configuration itself when it needs it.
    }
}

FontWarmUp::~FontWarmUp() {
    wait();
}

void FontWarmUp::wait() {
    if (thread_.joinable()) thread_.join();
}

} // namespace platform
