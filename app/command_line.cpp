// SPDX-License-Identifier: BSD-3-Clause
// The program's command line, split between the toolkit and the program.
#include "command_line.h"

#include "system_path.h"

#include <cstring>
#include <string_view>

#ifdef Q_OS_WIN
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

struct ToolkitOption {
    std::string_view name;
    bool takesValue;
};

// The options the toolkit reads from the command line (the application classes and the X11
// platform), each with one dash or two.
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"geometry", true},
    {"qwindowtitle", true},
    {"title", true},
    {"qwindowicon", true},
    {"icon", true},
    {"session", true},
    {"style", true},
    {"stylesheet", true},
    {"display", true},
    {"name", true},
    {"visual", true},
    {"reverse", false},
    {"testability", false},
    {"widgetcount", false},
    {"sync", false},
    {"nograb", false},
    {"dograb", false},
};

// How many arguments the toolkit's option at the front spans (with its value); 0 when the
// argument is not one of its options.
int toolkitOptionLength(std::string_view argument, bool valueFollows) {
    if (argument.size() < 2 || argument[0] != '-') return 0;
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    for (std::string_view joined : {"style=", "stylesheet=", "qmljsdebugger="})
        if (argument.starts_with(joined)) return 1;
    for (const ToolkitOption& option : kToolkitOptions)
        if (argument == option.name) return option.takesValue && valueFollows ? 2 : 1;
    return 0;
}

// Argument index of argv as text: its bytes kept; on Windows the system's UTF-16 command
// line, which argv (in the ANSI code page) may have lost characters of.
QStringList argumentTexts(int argc, char** argv) {
    QStringList texts;
#ifdef Q_OS_WIN
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (count == argc)
            for (int i = 0; i < count; ++i)
                texts << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
    }
    if (texts.size() == argc) return texts;
    texts.clear();
    for (int i = 0; i < argc; ++i)
        texts << QString::fromLocal8Bit(argv[i]);
#else
    for (int i = 0; i < argc; ++i)
        texts << pathText(argv[i]);
#endif
    return texts;
}

} // namespace

CommandLine readCommandLine(int argc, char** argv) {
    CommandLine line;
    int next = 1;
    line.toolkitArgv.push_back(argv[0]);
    while (next < argc) {
        const int length = toolkitOptionLength(argv[next], next + 1 < argc);
        if (length == 0) break;
        for (int k = 0; k < length; ++k)
            line.toolkitArgv.push_back(argv[next++]);
    }
    line.toolkitArgc = static_cast<int>(line.toolkitArgv.size());
    line.toolkitArgv.push_back(nullptr);

    std::vector<char*> program{argv[0]};
    program.insert(program.end(), argv + next, argv + argc);
    program.push_back(nullptr);
    int count = static_cast<int>(program.size()) - 1;
    line.action = desktop_launch::takeMarker(count, program.data());
    int first = 1;
    if (count > 1 && std::strcmp(program[1], "--") == 0) first = 2;

    const QStringList texts = argumentTexts(argc, argv);
    const auto textOf = [&](const char* argument) {
        for (int i = 0; i < argc; ++i)
            if (argv[i] == argument) return texts[i];
        return QString();
    };
    line.arguments << texts.value(0);
    for (int k = first; k < count; ++k)
        line.arguments << textOf(program[k]);
    return line;
}
