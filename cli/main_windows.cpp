// SPDX-License-Identifier: BSD-3-Clause
// kpz's entry point on Windows: the arguments arrive in UTF-16 and go on in UTF-8, the
// program's own encoding for names, so every file name reaches the file layer intact.
// Standard input and output carry bytes, not text; the console shows UTF-8.
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

#include <windows.h>

#include "host.h"

// main.cpp's main, renamed for this system by the build.
int kpzMain(int argc, char** argv);

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i)
        arguments.push_back(kpz::win::narrow(wargv[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    return kpzMain(argc, argv.data());
}
