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
    // Each member is decoded: only its decode tells where it ends, whether a check value
    // (XXH3-64) follows, and whether another member comes after it.
    input.takeEveryMember();
    uint64_t listed = 0;
    for (;;) {
        const kpz::Header& header = input.header();
        if (header.passwordOn && !job_.password.given) {
            // Without the password its end cannot be found: the rest of the file is shown.
            printRow("?", header.originalSize, input.sourceLength() - listed, "?",
                     kpz::displayText(header.storedName));
            addRow(header.originalSize, input.sourceLength() - listed);
            break;
        }
        const kpz::Outcome tested = input.test(job_.password.code);
        if (!tested.ok()) {
            flushStandardOutput();
            reportProblem(job_, tested, path, {}, header.passwordOn);
            return false;
        }
        printRow(header.passwordOn ? "?" : "-", header.originalSize, input.memberLength(),
                 input.memberEnd().checked ? "xxh3" : "-", kpz::displayText(header.storedName));
        addRow(header.originalSize, input.memberLength());
        listed += input.memberLength();
        if (!input.memberEnd().nextMember || !input.nextMember().ok()) break;
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
