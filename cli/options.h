// SPDX-License-Identifier: BSD-3-Clause
// Command-line arguments of kpz: what to do, with which files and settings.
#pragma once

#include <string>
#include <vector>

namespace kpzcli {

enum class Mode { Compress, Decompress, Test, List };

struct Options {
    Mode mode = Mode::Compress;
    bool force = false;
    bool verify = false;
    bool check = true;         // end each compressed file with a check value (--no-check)
    bool checkGiven = false;   // --check or --no-check was given
    bool toStdout = false;     // -c
    bool removeInputs = false; // --rm
    bool recursive = false;    // -r
    int verbosity = 1;         // 0 with -q, 2 with -v
    bool showHelp = false;
    bool showVersion = false;
    bool prompt = false;            // -p
    std::string passwordFile;       // --password-file
    std::string outputDir;          // -o; empty = beside each input
    std::string outputName;         // --name; the name of the one file given (stored or restored)
    int jobs = 0;                   // -j; files handled at once, 0 = one per processor
    std::vector<std::string> files; // "-" is standard input
};

// Whether a file argument means standard input.
inline bool isStandardInput(const std::string& file) {
    return file == "-";
}

struct ParseResult {
    bool ok = false;
    std::string error; // the usage error when !ok
    Options options;
};

// Reads the arguments after the program name, the GNU way: options and files may be
// mixed, "--" ends the options, short options combine ("-dfv") and take their value
// joined ("-oDIR") or as the next argument, long options take "--name=value" or
// "--name value" and may be shortened to any unambiguous prefix.
ParseResult parseOptions(const std::vector<std::string>& args);

std::string helpText();
std::string versionText();

} // namespace kpzcli
