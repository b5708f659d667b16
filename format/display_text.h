// SPDX-License-Identifier: BSD-3-Clause
// Names from files and arguments made safe to show on a terminal or in a message box.
#pragma once

#include <string>
#include <string_view>

namespace kpz {

// bytes as UTF-8 text that shows what they hold and cannot steer the display. The bytes
// are read as UTF-8 when they are valid UTF-8, else as Windows-1252 (so every byte shows as
// some character). Characters that could move the cursor, change a terminal's state or
// reorder the text around them are written as "\u" and four lower-case hex digits of the
// code point ("\u001b", "\u202e"): the C0 controls U+0000-U+001F, DEL U+007F, the C1
// controls U+0080-U+009F, the line and paragraph separators U+2028 and U+2029, and the
// bidirectional marks, embeddings, overrides and isolates (U+061C, U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069). Everything else is kept as it is, letters of any script
// and the backslash included: the text is for reading, not for parsing back, and stored
// names from Windows often hold backslashes.
std::string displayText(std::string_view bytes);

} // namespace kpz
