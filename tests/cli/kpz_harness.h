// SPDX-License-Identifier: BSD-3-Clause
// Runs the kpz binary in a scratch folder and gives the tests small file helpers.
#pragma once

#include "audio_like.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kpztest {

struct RunResult {
    int exitCode = -1; // when the process exited
    int signal = 0;    // when a signal ended it
    std::string out;   // stdout
    std::string err;   // stderr
};

struct RunSettings {
    // Extra environment entries; KPZ_PASSWORD is removed unless given here.
    std::map<std::string, std::string> env;
    // Largest file the process may write (RLIMIT_FSIZE); writes past it fail.
    std::optional<uint64_t> fileSizeLimit;
    // Bytes for standard input, through a pipe (so it cannot seek); /dev/null without.
    std::optional<std::vector<uint8_t>> input;
};

// Settings that give the password through KPZ_PASSWORD.
RunSettings passwordInEnvironment(const std::string& password);

// A complete compressed file made by the codec in memory, for names and headers that the
// tool itself would never write.
std::vector<uint8_t> packInMemory(const std::vector<uint8_t>& source,
                                  const std::string& storedName);

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& data);

// A fresh folder per test, removed afterwards. Paths given to kpz are relative to it: the
// process runs with this folder as its working directory.
class KpzTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    // Starts kpz in its own session (so no controlling terminal) with stdin on /dev/null
    // and waits for it.
    RunResult run(const std::vector<std::string>& args, const RunSettings& settings = {}) const;
    // Starts kpz without waiting; finish with waitFor.
    pid_t start(const std::vector<std::string>& args, const RunSettings& settings = {}) const;
    RunResult waitFor(pid_t pid) const;
    // Starts kpz with a new pseudo-terminal as its controlling terminal and its stdin,
    // stdout and stderr; terminal is the controlling side to read and type on. columns
    // sets the terminal's width when not 0. With slowInput, stdin is instead a pipe fed
    // those bytes in 64 KiB pieces 20 ms apart, so a run lasts as long as a test needs.
    pid_t startOnTerminal(const std::vector<std::string>& args, int& terminal, int columns = 0,
                          const std::vector<uint8_t>* slowInput = nullptr) const;

    // Waits until the running kpz holds an open file in the test folder, other than
    // input, that has grown past bytes: its output under way, which may have no name yet.
    // False when that did not happen within the time allowed.
    bool waitForOutputUnderWay(pid_t pid, const std::string& input, uint64_t bytes,
                               int seconds = 60) const;

    // Names in a folder (relative to the test folder), sorted, without "." and "..".
    std::vector<std::string> listFolder(const std::string& name = ".") const;

    std::string dir_;
};

} // namespace kpztest
