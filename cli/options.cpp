// Argument parsing for kpz, without getopt so that every message and rule is ours.
#include "options.h"

#include "version.h"

#include <optional>

namespace kpzcli {

namespace {

struct Parser {
    explicit Parser(const std::vector<std::string>& arguments) : args(arguments) {}

    const std::vector<std::string>& args;
    size_t next = 0;
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

    // Handles a flag without a value; false when the name is not a flag.
    bool flag(const std::string& name, const std::string& spelled, bool& handled) {
        handled = true;
        if (name == "d" || name == "decompress") return setMode(Mode::Decompress, spelled);
        if (name == "t" || name == "test") return setMode(Mode::Test, spelled);
        if (name == "l" || name == "list") return setMode(Mode::List, spelled);
        if (name == "z" || name == "compress") return setMode(Mode::Compress, spelled);
        if (name == "f" || name == "force")
            o.force = true;
        else if (name == "q" || name == "quiet")
            o.verbosity = 0;
        else if (name == "v" || name == "verbose")
            o.verbosity = 2;
        else if (name == "h" || name == "help")
            o.showHelp = true;
        else if (name == "V" || name == "version")
            o.showVersion = true;
        else if (name == "p" || name == "password")
            o.prompt = true;
        else if (name == "verify")
            o.verify = true;
        else
            handled = false;
        return true;
    }

    static bool takesValue(const std::string& name) {
        return name == "o" || name == "output-dir" || name == "password-file" || name == "j" ||
               name == "jobs" || name == "name";
    }

    bool value(const std::string& name, const std::string& spelled, const std::string& text) {
        if (text.empty()) return fail("option " + spelled + " needs a non-empty value");
        if (name == "o" || name == "output-dir") {
            o.outputDir = text;
        } else if (name == "j" || name == "jobs") {
            // 0 means one per processor; more than 64 at once only adds contention.
            if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
                return fail("option " + spelled + " needs a number of files to handle at once");
            o.jobs = std::stoi(text);
            if (o.jobs > 64) o.jobs = 64;
        } else if (name == "name") {
            // A name in the output folder, never a path out of it.
            if (text.find('/') != std::string::npos || text == "." || text == "..")
                return fail("option " + spelled + " needs a file name without a folder");
            o.outputName = text;
        } else
            o.passwordFile = text;
        return true;
    }

    bool longOption(const std::string& arg) {
        std::string body = arg.substr(2);
        std::optional<std::string> attached;
        if (size_t eq = body.find('='); eq != std::string::npos) {
            attached = body.substr(eq + 1);
            body.resize(eq);
        }
        const std::string spelled = "--" + body;
        if (takesValue(body)) {
            if (attached) return value(body, spelled, *attached);
            if (next >= args.size()) return fail("option " + spelled + " needs a value");
            return value(body, spelled, args[next++]);
        }
        if (attached) return fail("option " + spelled + " takes no value");
        bool handled = false;
        if (!flag(body, spelled, handled)) return false;
        if (!handled) return fail("unknown option '" + arg + "'");
        return true;
    }

    bool shortOptions(const std::string& arg) {
        for (size_t i = 1; i < arg.size(); ++i) {
            const std::string name(1, arg[i]);
            const std::string spelled = "-" + name;
            if (takesValue(name)) {
                if (i + 1 < arg.size()) return value(name, spelled, arg.substr(i + 1));
                if (next >= args.size()) return fail("option " + spelled + " needs a value");
                return value(name, spelled, args[next++]);
            }
            bool handled = false;
            if (!flag(name, spelled, handled)) return false;
            if (!handled) return fail("unknown option '" + spelled + "'");
        }
        return true;
    }

    bool run() {
        bool optionsEnded = false;
        while (next < args.size()) {
            const std::string& arg = args[next++];
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                if (arg == "-" && !optionsEnded)
                    return fail("reading standard input is not supported; name a file");
                if (arg.empty()) return fail("empty file name");
                o.files.push_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg[1] == '-') {
                if (!longOption(arg)) return false;
            } else if (!shortOptions(arg)) {
                return false;
            }
        }
        if (o.showHelp || o.showVersion) return true;
        o.mode = mode.value_or(Mode::Compress);
        if (o.files.empty()) return fail("no files given");
        if (o.prompt && !o.passwordFile.empty())
            return fail("options -p and --password-file cannot be used together");
        if (o.verify && o.mode != Mode::Compress)
            return fail("option --verify only applies to compression");
        if (!o.outputName.empty() && (o.mode != Mode::Decompress || o.files.size() != 1))
            return fail("option --name names the output of a single file restored with -d");
        if (!o.outputDir.empty() && (o.mode == Mode::Test || o.mode == Mode::List))
            return fail("option -o has no use with -t or -l, which write no files");
        return true;
    }
};

} // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    Parser p(args);
    ParseResult r;
    r.ok = p.run();
    r.error = p.error;
    r.options = std::move(p.o);
    return r;
}

std::string versionText() {
    return "kpz " BRISKO_VERSION "\n";
}

std::string helpText() {
    return "Usage: kpz [OPTION]... FILE...\n"
           "Compress files losslessly (made for 16-bit stereo PCM audio), or restore them.\n"
           "\n"
           "Modes (compression is the default):\n"
           "  -z, --compress        compress each FILE to FILE with its extension replaced\n"
           "                        by .kpz\n"
           "  -d, --decompress      restore each FILE.kpz under the name stored in it\n"
           "  -t, --test            decode each FILE.kpz completely and write nothing\n"
           "  -l, --list            show the sizes and stored name of each FILE.kpz\n"
           "\n"
           "Options:\n"
           "  -o, --output-dir=DIR  write outputs to DIR instead of beside each FILE\n"
           "  -f, --force           replace existing output files\n"
           "  -j, --jobs=N          handle N files at once (default: one per processor)\n"
           "      --name=NAME       restore the one FILE.kpz given under NAME instead of\n"
           "                        the name stored in it\n"
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
           "Without -p or --password-file the password, if any, comes from the environment\n"
           "variable KPZ_PASSWORD. Only its first 16 characters count. Compressing with a\n"
           "password marks the file; such a file is restored or tested only with a password.\n"
           "\n"
           "Inputs are never changed or removed. Outputs appear under their final name only\n"
           "when complete.\n"
           "\n"
           "Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage\n"
           "error.\n";
}

} // namespace kpzcli
