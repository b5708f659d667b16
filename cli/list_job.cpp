// SPDX-License-Identifier: BSD-3-Clause
// The -l table: password mark, original size, compressed size, ratio and stored name.
#include "display_text.h"
#include "jobs.h"

#include <cstdio>

namespace kpzcli {

namespace {

void printRow(const char* mark, uint64_t original, uint64_t compressed, const char* check,
              const std::string& name) {
    std::printf("%-2s %13llu %13llu %7s %-5s  %s\n", mark,
                static_cast<unsigned long long>(original),
                static_cast<unsigned long long>(compressed),
                ratioText(compressed, original).c_str(), check, name.c_str());
}

} // namespace

bool Lister::list(const std::string& path) {
    kpz::RestoreJob input(job_.state);
    kpz::Outcome opened = input.open(path);
    if (opened.ok()) opened = input.readHeader();
    if (!opened.ok()) {
        flushStandardOutput();
        reportProblem(job_, opened, path, {});
        return false;
    }
    if (rows_ == 0)
        std::printf("%-2s %13s %13s %7s %-5s  %s\n", "Pw", "Original", "Compressed", "Ratio",
                    "Check", "Stored name");
    // The check column tells whether the file ends with a check value (XXH3-64).
    printRow(input.header().passwordOn ? "?" : "-", input.header().originalSize,
             input.sourceLength(), input.hasCheck() ? "xxh3" : "-",
             kpz::displayText(input.header().storedName));
    flushStandardOutput();
    ++rows_;
    totalOriginal_ += input.header().originalSize;
    totalCompressed_ += input.sourceLength();
    return true;
}

void Lister::finish() {
    if (rows_ > 1)
        printRow("", totalOriginal_, totalCompressed_, "",
                 "(totals, " + std::to_string(rows_) + " files)");
    flushStandardOutput();
}

} // namespace kpzcli
