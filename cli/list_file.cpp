// SPDX-License-Identifier: BSD-3-Clause
// The -l table: password mark, original size, compressed size, ratio and stored name.
#include "file_tasks.h"
#include "text.h"

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
    kpz::RestoreJob input(task_.state);
    input.setPassword(task_.password);
    kpz::Outcome opened = input.open(path);
    if (opened.ok()) opened = input.readHeader();
    if (!opened.ok()) {
        flushStandardOutput();
        reportProblem(task_, opened, path, {});
        return false;
    }
    if (rows_ == 0)
        std::printf("%-2s %13s %13s %7s %-5s  %s\n", "Pw", "Original", "Compressed", "Ratio",
                    "Check", "Stored name");
    // Each member is decoded: only its decode tells where it ends, whether a check value
    // (XXH3-64) follows, and whether another member comes after it.
    input.takeEveryMember();
    uint64_t listed = 0;
    for (;;) {
        if (input.passwordOn() && !input.havePassword()) {
            // Without the password its end cannot be found: the rest of the file is shown.
            printRow("?", input.originalSize(), input.sourceLength() - listed, "?",
                     kpz::displayText(input.storedName()));
            addRow(input.originalSize(), input.sourceLength() - listed);
            break;
        }
        const kpz::Outcome tested = input.test();
        if (!tested.ok()) {
            flushStandardOutput();
            reportProblem(task_, tested, path, {}, input.passwordOn());
            return false;
        }
        printRow(input.passwordOn() ? "?" : "-", input.originalSize(), input.memberLength(),
                 input.checked() ? "xxh3" : "-", kpz::displayText(input.storedName()));
        addRow(input.originalSize(), input.memberLength());
        listed += input.memberLength();
        if (!input.moreMembers() || !input.nextMember().ok()) break;
    }
    flushStandardOutput();
    return true;
}

void Lister::addRow(uint64_t original, uint64_t compressed) {
    ++rows_;
    totalOriginal_ += original;
    totalCompressed_ += compressed;
}

void Lister::finish() {
    if (rows_ > 1)
        printRow("", totalOriginal_, totalCompressed_, "",
                 "(totals, " + std::to_string(rows_) + " files)");
    flushStandardOutput();
}

} // namespace kpzcli
