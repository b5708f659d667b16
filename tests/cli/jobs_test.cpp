// SPDX-License-Identifier: BSD-3-Clause
// Several files at once (-j): the same outputs as one at a time, messages in file order.
#include "kpz_harness.h"

#include <sys/stat.h>

using namespace kpztest;

class Jobs : public KpzTest {};

TEST_F(Jobs, SideBySideGivesTheSameFilesAndOrderedMessages) {
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) {
        names.push_back("f" + std::to_string(i) + ".wav");
        writeBytes(path(names.back()), audioLike(200000 + 70001 * i, i + 1));
    }

    // The fourth output exists already in both folders: refused, and reported in its place.
    std::vector<std::string> args = {"-v", "-j", "1", "-o", "one"};
    ASSERT_EQ(::mkdir(path("one").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(path("four").c_str(), 0755), 0);
    writeBytes(path("one/f3.kpz"), {1, 2, 3});
    writeBytes(path("four/f3.kpz"), {1, 2, 3});
    args.insert(args.end(), names.begin(), names.end());
    const RunResult serial = run(args);
    args[2] = "4";
    args[4] = "four";
    const RunResult parallel = run(args);

    EXPECT_EQ(serial.exitCode, 1);
    EXPECT_EQ(parallel.exitCode, 1);
    for (int i = 0; i < 6; ++i) {
        const std::string kpz = "f" + std::to_string(i) + ".kpz";
        EXPECT_EQ(readBytes(path("one/" + kpz)), readBytes(path("four/" + kpz))) << kpz;
    }
    std::string expected = serial.err;
    for (size_t at; (at = expected.find("one/")) != std::string::npos;)
        expected.replace(at, 4, "four/");
    EXPECT_EQ(parallel.err, expected);

    // And back: every restore of the parallel outputs equals its source.
    std::vector<std::string> restore = {"-d", "-j", "3", "-o", "back"};
    ASSERT_EQ(::mkdir(path("back").c_str(), 0755), 0);
    for (int i = 0; i < 6; ++i)
        if (i != 3) restore.push_back("four/f" + std::to_string(i) + ".kpz");
    ASSERT_EQ(run(restore).exitCode, 0);
    for (int i = 0; i < 6; ++i) {
        if (i == 3) continue;
        EXPECT_EQ(readBytes(path("back/" + names[i])), readBytes(path(names[i]))) << names[i];
    }
}

TEST_F(Jobs, BadCountIsAUsageError) {
    writeBytes(path("a.wav"), audioLike(1000));
    for (const char* count : {"x", "-1", "1234", ""})
        EXPECT_EQ(run({"-j", count, "a.wav"}).exitCode, 2) << count;
}
