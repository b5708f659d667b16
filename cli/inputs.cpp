// SPDX-License-Identifier: BSD-3-Clause
// Expanding -r folders into files, in a stable order.
#include "inputs.h"

#include "host.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kpzcli {

namespace fs = std::filesystem;

namespace {

bool hasKpzExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".kpz";
}

std::string utf8(const fs::path& p) {
    const auto text = p.u8string();
    return {text.begin(), text.end()};
}

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

// Adds the files below root that the mode takes; false when part of the tree could not be
// read (reported).
bool addTree(const Options& options, const Reporter& report, const std::string& root,
             std::vector<Input>& inputs) {
    std::vector<std::pair<std::string, std::string>> found; // path, folder below root
    bool ok = true;
    std::error_code error;
    fs::recursive_directory_iterator walk(fromUtf8(root), error), end;
    if (error) {
        report.error(root, "couldn't read the directory (" + error.message() + ")");
        return false;
    }
    for (; walk != end; walk.increment(error)) {
        if (error) {
            report.error(root, "couldn't read part of the directory (" + error.message() + ")");
            ok = false;
            break;
        }
        // Only regular files, never through a link: a link could lead out of the tree or
        // round in a circle.
        const fs::directory_entry& entry = *walk;
        std::error_code statusError;
        if (entry.is_symlink(statusError) || !entry.is_regular_file(statusError)) continue;
        const std::string name = utf8(entry.path().filename());
        if (hasKpzExtension(name) != (options.mode != Mode::Compress)) continue;
        const fs::path below = entry.path().parent_path().lexically_relative(fromUtf8(root));
        found.emplace_back(utf8(entry.path()), below == "." ? "" : utf8(below));
    }
    std::sort(found.begin(), found.end());
    for (auto& [path, below] : found) {
        Input input{path, {}, false};
        if (!options.outputDir.empty()) {
            input.outputDir =
                below.empty() ? options.outputDir : kpz::joinPath(options.outputDir, below);
            input.makeFolder = !below.empty();
        }
        inputs.push_back(std::move(input));
    }
    return ok;
}

} // namespace

std::vector<Input> gatherInputs(const Options& options, const Reporter& report, bool& ok) {
    ok = true;
    std::vector<Input> inputs;
    for (const std::string& file : options.files) {
        if (options.recursive && !isStandardInput(file) && kpz::isDirectory(file)) {
            ok = addTree(options, report, file, inputs) && ok;
            continue;
        }
        inputs.push_back({file, options.outputDir, false});
    }
    return inputs;
}

bool makeOutputFolder(const Input& input, const Reporter& report) {
    if (!input.makeFolder) return true;
    std::error_code error;
    fs::create_directories(fromUtf8(input.outputDir), error);
    if (!error) return true;
    report.error(input.outputDir, "couldn't create the directory (" + error.message() + ")");
    return false;
}

} // namespace kpzcli
