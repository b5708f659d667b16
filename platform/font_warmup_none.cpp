// SPDX-License-Identifier: BSD-3-Clause
// Font configuration read ahead: nothing to read where the toolkit's fonts do not come
// from fontconfig.
#include "font_warmup.h"

namespace platform {

FontWarmUp::FontWarmUp() = default;

FontWarmUp::~FontWarmUp() = default;

void FontWarmUp::wait() {}

} // namespace platform
