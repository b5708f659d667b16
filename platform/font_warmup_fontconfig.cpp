// SPDX-License-Identifier: BSD-3-Clause
// Fonts looked up ahead where the toolkit's fonts come from fontconfig: the configuration
// is read before the application object exists (the toolkit's own FcInit() then returns
// at once), and the toolkit's list of fonts is filled as soon as it does.
#include "font_warmup.h"

#include <QFontDatabase>
#include <QStringList>

#include <fontconfig/fontconfig.h>

#include <system_error>

namespace platform {

FontWarmUp::FontWarmUp() {
    try {
        thread_ = std::thread([this] {
            FcInit();
            std::unique_lock lock(mutex_);
            told_.wait(lock, [this] { return next_ != Next::Undecided; });
            const bool list = next_ == Next::ListFonts;
            lock.unlock();
            // The font list is the toolkit's, behind its own lock, and may be filled from
            // any thread once the application object exists.
            if (list) QFontDatabase::families();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the toolkit reads the fonts itself when it needs them.
    }
}

FontWarmUp::~FontWarmUp() {
    wait();
}

void FontWarmUp::tell(Next next) {
    {
        const std::lock_guard lock(mutex_);
        if (next_ != Next::Undecided) return;
        next_ = next;
    }
    told_.notify_one();
}

void FontWarmUp::applicationReady() {
    tell(Next::ListFonts);
}

void FontWarmUp::wait() {
    tell(Next::Stop);
    if (thread_.joinable()) thread_.join();
}

} // namespace platform
