// SPDX-License-Identifier: BSD-3-Clause
// Argument parsing for kpz through getopt_long, so that options behave as in other GNU
// tools (abbreviated long options, permuted arguments); the messages stay ours.
#include "options.h"

#include "version.h"

#include <algorithm>
#include <getopt.h>
#include <optional>

namespace kpzcli {

namespace {

// Long options without a short form.
enum LongOnly : int {
    kName = 256,
    kPasswordFile,
    kVerify,
    kCheck,
    kNoCheck,
    kRemove,
};

// The leading ':' makes a missing value come back as ':' rather than as an unknown option.
constexpr const char* kShortOptions = ":zdtlcfkrqvhVpo:j:";

const struct option kLongOptions[] = {
    {"compress", no_argument, nullptr, 'z'},
    {"decompress", no_argument, nullptr, 'd'},
    {"uncompress", no_argument, nullptr, 'd'},
    {"test", no_argument, nullptr, 't'},
    {"list", no_argument, nullptr, 'l'},
    {"stdout", no_argument, nullptr, 'c'},
    {"to-stdout", no_argument, nullptr, 'c'},
    {"force", no_argument, nullptr, 'f'},
    {"keep", no_argument, nullptr, 'k'},
    {"rm", no_argument, nullptr, kRemove},
    {"recursive", no_argument, nullptr, 'r'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"password", no_argument, nullptr, 'p'},
    {"password-file", required_argument, nullptr, kPasswordFile},
    {"output-dir", required_argument, nullptr, 'o'},
    {"jobs", required_argument, nullptr, 'j'},
    {"name", required_argument, nullptr, kName},
    {"verify", no_argument, nullptr, kVerify},
    {"check", no_argument, nullptr, kCheck},
    {"no-check", no_argument, nullptr, kNoCheck},
    {nullptr, 0, nullptr, 0},
};

struct Parser {
    Options o;
    std::optional<Mode> mode;
    std::string error;

    bool fail(std::string text) {
        if (error.empty()) error = std::move(text);
        return false;
    }

    bool setMode(Mode m, const std::string& spelled) {
        if (mode && *mode != m)
            return fail("option " + spelled + " conflicts with an earlier mode option");
        mode = m;
        return true;
    }

    bool value(int option, const std::string& spelled, const std::string& text) {
        if (text.empty()) return fail("option " + spelled + " needs a non-empty value");
        switch (option) {
        case 'o':
            o.outputDir = text;
            return true;
        case 'j':
            // 0 means one per processor; more than 64 at once only adds contention.
            if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
                return fail("option " + spelled + " needs a number of files to handle at once");
            o.jobs = std::min(std::stoi(text), 64);
            return true;
        case kName:
            // A name in the output folder, never a path out of it.
            if (text.find('/') != std::string::npos || text == "." || text == "..")
                return fail("option " + spelled + " needs a file name without a folder");
            o.outputName = text;
            return true;
        default:
            o.passwordFile = text;
            return true;
        }
    }

    bool option(int c, const std::string& spelled, const char* argument) {
        switch (c) {
        case 'z':
            return setMode(Mode::Compress, spelled);
        case 'd':
            return setMode(Mode::Decompress, spelled);
        case 't':
            return setMode(Mode::Test, spelled);
        case 'l':
            return setMode(Mode::List, spelled);
        case 'c':
            o.toStdout = true;
            return true;
        case 'f':
            o.force = true;
            return true;
        case 'k':
            // Inputs are always kept unless --rm is given; accepted for scripts that say so.
            o.removeInputs = false;
            return true;
        case kRemove:
            o.removeInputs = true;
            return true;
        case 'r':
            o.recursive = true;
            return true;
        case 'q':
            o.verbosity = 0;
            return true;
        case 'v':
            o.verbosity = 2;
            return true;
        case 'h':
            o.showHelp = true;
            return true;
        case 'V':
            o.showVersion = true;
            return true;
        case 'p':
            o.prompt = true;
            return true;
        case kVerify:
            o.verify = true;
            return true;
        case kCheck:
        case kNoCheck:
            o.check = c == kCheck;
            o.checkGiven = true;
            return true;
        default:
            return value(c, spelled, argument ? argument : "");
        }
    }

    // How the option just read was spelled, for messages.
    static std::string spelling(int c, int longIndex, const char* arg) {
        if (longIndex >= 0) return std::string("--") + kLongOptions[longIndex].name;
        if (c < 256) return std::string("-") + static_cast<char>(c);
        return arg ? arg : "";
    }

    bool run(const std::vector<std::string>& args) {
        std::vector<std::string> store{"kpz"};
        store.insert(store.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : store)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int argc = static_cast<int>(store.size());

        // A fresh scan every call (optind 0 resets getopt), with our own messages. The
        // options are taken in the order given; getopt moves the files after them.
        opterr = 0;
        optind = 0;
        std::vector<std::string> files;
        for (;;) {
            int longIndex = -1;
            const int c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, &longIndex);
            if (c == -1) break;
            const std::string arg =
                optind > 0 && optind <= argc ? argv[static_cast<size_t>(optind - 1)] : "";
            if (c == '?') {
                if (optopt != 0 && optopt < 256 && arg.rfind("--", 0) != 0)
                    return fail(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
                // An ambiguous prefix or an unknown long option.
                const std::string name = arg.substr(0, arg.find('='));
                for (const struct option* l = kLongOptions; l->name; ++l)
                    if (name.size() > 2 && std::string(l->name).rfind(name.substr(2), 0) == 0 &&
                        l->has_arg == no_argument && arg.find('=') != std::string::npos)
                        return fail("option " + name + " takes no value");
                return fail("unknown or ambiguous option '" + name + "'");
            }
            if (c == ':') {
                const std::string spelled =
                    longIndex >= 0 ? spelling(c, longIndex, nullptr)
                                   : (optopt < 256 ? std::string("-") + static_cast<char>(optopt)
                                                   : arg.substr(0, arg.find('=')));
                return fail("option " + spelled + " needs a value");
            }
            if (!option(c, spelling(c, longIndex, arg.c_str()), optarg)) return false;
        }
        for (int i = optind; i < argc; ++i)
            files.push_back(argv[static_cast<size_t>(i)]);
        for (const std::string& f : files) {
            if (f.empty()) return fail("empty file name");
            o.files.push_back(f);
        }
        return check();
    }

    bool check() {
        if (o.showHelp || o.showVersion) return true;
        o.mode = mode.value_or(Mode::Compress);
        // Without files, standard input to standard output, as in other compressors.
        if (o.files.empty() && !o.recursive) o.files.push_back("-");
        if (o.files.empty()) return fail("option -r needs folders to look in");
        int standardInputs = 0;
        for (const std::string& f : o.files)
            standardInputs += isStandardInput(f);
        if (standardInputs > 1) return fail("standard input ('-') can be read only once");
        if (o.prompt && !o.passwordFile.empty())
            return fail("options -p and --password-file cannot be used together");
        if (o.verify && o.mode != Mode::Compress)
            return fail("option --verify only applies to compression");
        if (o.checkGiven && o.mode != Mode::Compress)
            return fail(
                "options --check and --no-check only apply to compression; restoring and testing "
                "read a check value whenever a file has one");
        if (!o.outputName.empty() && ((o.mode != Mode::Decompress && o.mode != Mode::Compress) ||
                                      o.files.size() != 1 || o.recursive))
            return fail("option --name names the one file given to compress or restore with -d");
        if (!o.outputDir.empty() && (o.mode == Mode::Test || o.mode == Mode::List))
            return fail("option -o has no use with -t or -l, which write no files");
        if (o.toStdout && (o.mode == Mode::Test || o.mode == Mode::List))
            return fail("option -c has no use with -t or -l, which write no files");
        if (o.toStdout && !o.outputDir.empty())
            return fail("options -c and -o cannot be used together");
        if (o.mode == Mode::List && standardInputs)
            return fail("option -l needs files; it cannot read standard input");
        const bool anyToStdout = o.toStdout || standardInputs;
        if (o.verify && anyToStdout)
            return fail("option --verify needs an output file; it cannot check what goes to "
                        "standard output");
        if (o.removeInputs && (o.mode == Mode::Test || o.mode == Mode::List))
            return fail("option --rm has no use with -t or -l");
        if (o.removeInputs && o.toStdout) return fail("option --rm cannot be used with -c");
        return true;
    }
};

} // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    Parser p;
    ParseResult r;
    r.ok = p.run(args);
    r.error = p.error;
    r.options = std::move(p.o);
    return r;
}

std::string versionText() {
    return std::string("kpz (Brisko Packer) " BRISKO_VERSION "\n"
                       "Copyright (c) 2026, The Brisko Packer developers\n"
                       "License BSD-3-Clause: <https://spdx.org/licenses/BSD-3-Clause.html>\n"
                       "This is free software: you are free to change and redistribute it.\n"
                       "There is NO WARRANTY, to the extent permitted by law.\n");
}

std::string helpText() {
    return "Usage: kpz [OPTION]... [FILE]...\n"
           "Compress files losslessly (made for 16-bit stereo PCM audio), or restore them.\n"
           "With FILE '-', read standard input and write standard output.\n"
           "\n"
           "Modes (compression is the default):\n"
           "  -z, --compress        compress each FILE to FILE with its extension replaced\n"
           "                        by .kpz\n"
           "  -d, --decompress      restore each FILE.kpz under the name stored in it\n"
           "  -t, --test            decode each FILE.kpz completely and write nothing\n"
           "  -l, --list            show the sizes, check value and stored name of each\n"
           "                        file in each FILE.kpz\n"
           "\n"
           "Options:\n"
           "  -c, --stdout          write to standard output; inputs are kept\n"
           "  -o, --output-dir=DIR  write outputs to DIR instead of beside each FILE\n"
           "  -r, --recursive       handle the files in each FILE that is a folder, and in\n"
           "                        its subfolders: every regular file but .kpz ones when\n"
           "                        compressing, every .kpz file otherwise; with -o the\n"
           "                        folder tree is kept below DIR; links are not followed\n"
           "  -f, --force           replace existing output files; write compressed data\n"
           "                        to a terminal\n"
           "  -k, --keep            keep the inputs (always done unless --rm is given)\n"
           "      --rm              remove each input once its output is proven and on\n"
           "                        disk: compressions are verified, restores proven by\n"
           "                        their check value or by compressing them again\n"
           "  -j, --jobs=N          handle N files at once (default: one per processor)\n"
           "      --name=NAME       the one FILE given: compressing, store NAME as its name\n"
           "                        (from standard input the name stored is 'stdin'\n"
           "                        otherwise); restoring, write it under NAME\n"
           "      --check           end each compressed file with a check value of its\n"
           "                        contents (the default), which -d, -t and -l read\n"
           "      --no-check        leave the check value out: the bytes of older versions\n"
           "      --verify          after compressing, decode the new file and compare it\n"
           "                        with its source\n"
           "  -p, --password        ask for a password on the terminal\n"
           "      --password-file=FILE\n"
           "                        take the password from the first line of FILE\n"
           "  -q, --quiet           print errors only\n"
           "  -v, --verbose         report each file\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Long options may be shortened to any prefix that names only one of them.\n"
           "\n"
           "Environment:\n"
           "  KPZ_PASSWORD          the password when neither -p nor --password-file is\n"
           "                        given; only its first 16 characters count\n"
           "  KPZ_THREADS           1: compress each file on one thread; 2: give a file of\n"
           "                        8 MiB or more its second thread even while other\n"
           "                        programs keep the processors busy\n"
           "  KPZ_KERNELS           portable or avx2: choose the coding kernels by hand\n"
           "                        instead of the fastest the processor runs\n"
           "  TMPDIR                where standard input is kept while it is compressed\n"
           "                        (/tmp when unset)\n"
           "\n"
           "Compressing with a password marks the file; such a file is restored or tested\n"
           "only with a password. A wrong password is detected only in files that carry a\n"
           "check value.\n"
           "\n"
           "Inputs are never changed, and removed only with --rm. Outputs appear under their\n"
           "final name only when complete.\n"
           "\n"
           "Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage\n"
           "error.\n";
}

} // namespace kpzcli
