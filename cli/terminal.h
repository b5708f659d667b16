// SPDX-License-Identifier: BSD-3-Clause
// The terminal: the progress line on stderr and the password prompt on /dev/tty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kpzcli {

// Whether the progress line should be shown: stderr is a terminal and -q was not given.
bool progressWanted(int verbosity);

// Wipes a visible progress line so that a message can start at the left margin.
void clearProgressLine();

// The terminal's width in columns, or 0 when it cannot tell; asked at every redraw, so a
// resized window gets lines of its new width.
int terminalColumns();
// Draws line over the current line of stderr, the rest of the line cleared.
void drawProgressLine(const std::string& line);

// Reads one line from the controlling terminal with echo off. Without a terminal it does
// not wait for anything: it returns nothing and sets error.
std::optional<std::string> askPassword(const char* prompt, std::string& error);

// Puts echo back if a signal arrives during the prompt. Async-signal-safe.
void restoreTerminalAfterSignal();

} // namespace kpzcli
