// SPDX-License-Identifier: BSD-3-Clause
// Registers the .kpz file type for this very program file, as the window program does at
// start: the test script runs copies of it from two folders and reads the registry back.
#include "file_type_registry.h"

#include <cstdio>

int main() {
    const std::string path = platform::thisProgramPath();
    const std::string failure = platform::registerFileTypeInClassesRoot(path);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}
