// What kpz does when its surroundings work against it: names made to steer the terminal.
#include "kpz_harness.h"

using namespace kpztest;

namespace {

class Hardening : public KpzTest {};

// Bytes that would act on a terminal or reorder the text if they reached it raw: ESC and
// BEL of a title sequence, any C1 control in UTF-8 (C2 80 to C2 9F) and U+202E.
bool holdsControls(const std::string& text) {
    if (text.find_first_of("\x1B\x07") != std::string::npos) return true;
    if (text.find("\xE2\x80\xAE") != std::string::npos) return true;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\xC2' && (static_cast<uint8_t>(text[i + 1]) & 0xE0) == 0x80) return true;
    return false;
}

struct HostileNameCase {
    const char* label;
    std::vector<std::string> args; // "@" stands for the hostile .kpz file
    bool onStdout;                 // where the name is expected, escaped
    int exitCode;
};

const HostileNameCase kHostileNameCases[] = {
    {"list", {"-l", "@"}, true, 0},
    {"test verbosely", {"-v", "-t", "@"}, false, 0},
    {"restore onto an existing file", {"-d", "@"}, false, 1},
};

TEST_F(Hardening, NamesFromFilesReachTheTerminalEscaped) {
    // A title-setting sequence, the C1 CSI and a right-to-left override.
    const std::string stem = "a\x1B]0;x\x07\xC2\x9B\xE2\x80\xAE"
                             "b";
    const std::string shownStem = "a\\u001b]0;x\\u0007\\u009b\\u202eb";
    const std::string packed = stem + ".kpz";
    writeBytes(path(packed), packInMemory(audioLike(3000), stem + ".wav"));
    writeBytes(path(stem + ".wav"), {}); // so that restoring refuses and names the destination
    for (const auto& c : kHostileNameCases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args = c.args;
        for (auto& a : args)
            if (a == "@") a = packed;
        const RunResult r = run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_FALSE(holdsControls(r.out)) << r.out;
        EXPECT_FALSE(holdsControls(r.err)) << r.err;
        EXPECT_NE((c.onStdout ? r.out : r.err).find(shownStem), std::string::npos)
            << r.out << r.err;
    }
}

} // namespace
