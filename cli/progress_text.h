// SPDX-License-Identifier: BSD-3-Clause
// The text of the progress line, fitted to the terminal's width so that it never wraps.
#pragma once

#include <string>
#include <string_view>

namespace kpzcli {

// Columns the UTF-8 text takes on a terminal: wide (East Asian) characters take two,
// combining marks none.
size_t displayWidth(std::string_view utf8);

// "kpz: LABEL  NUMBERS" in at most columns - 1 columns (the last column would make some
// terminals wrap): the label loses its start first ("...", keeping the end of a path),
// then the numbers their tail. columns 0 means unknown: the label is cut to 40 columns.
std::string progressLine(const std::string& label, const std::string& numbers, int columns);

} // namespace kpzcli
