// SPDX-License-Identifier: BSD-3-Clause
// The text rules the front ends see through text.h; the functions themselves are the
// format layer's.
#include "text.h"

#include "charset.h"
#include "display_text.h"
#include "password.h"

namespace kpz {

const int kPasswordCharacters = kMaxPasswordLength;

} // namespace kpz
