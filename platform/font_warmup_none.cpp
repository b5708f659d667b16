// SPDX-License-Identifier: BSD-3-Clause
// Fonts looked up ahead: nothing to do where the toolkit's fonts do not come from
// fontconfig.
#include "font_warmup.h"

namespace platform {

FontWarmUp::FontWarmUp() = default;

FontWarmUp::~FontWarmUp() = default;

void FontWarmUp::tell(Next next) {
    next_ = next;
}

void FontWarmUp::applicationReady() {}

void FontWarmUp::wait() {}

} // namespace platform
