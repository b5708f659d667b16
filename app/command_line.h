// SPDX-License-Identifier: BSD-3-Clause
// The program's command line, split between the toolkit and the program.
#pragma once

#include "desktop_launch.h"

#include <QStringList>

#include <vector>

struct CommandLine {
    // What the toolkit reads: the program's name and the toolkit's options in front of
    // everything else ("-platform offscreen", "-style fusion"), null-terminated.
    std::vector<char*> toolkitArgv;
    int toolkitArgc = 0;
    // The run a desktop entry's marker asks for.
    desktop_launch::Action action = desktop_launch::Action::None;
    // The program's name, then the files, each with the exact bytes given (see pathText).
    QStringList arguments;
};

// Splits argv. The toolkit's options are taken only from the front; from the first other
// argument on, everything belongs to the program and the toolkit never reads it, so a file
// named "-reverse" or "-platform" stays a file. The program's part is a desktop marker
// (optional), then "--" (optional: everything after it is a file, even a name that looks
// like an option or a marker), then the files.
CommandLine readCommandLine(int argc, char** argv);
