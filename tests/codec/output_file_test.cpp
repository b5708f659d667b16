// SPDX-License-Identifier: BSD-3-Clause
// The output policy: an output appears under its final name only when committed, an
// existing file stays until then, and nothing is left behind otherwise; on file systems
// with unnamed files and on those without.
#include "file_io.h"
#include "output_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

enum class Ending {
    CommitNew,
    CommitNewDurable,
    CommitReplacing,
    CommitRefusedByExisting,
    Discard
};

struct PolicyCase {
    const char* label;
    bool unnamed; // the file system has unnamed files
    Ending ending;
};

// Windows has no unnamed files: there every output has a name of its own while written.
#ifdef _WIN32
constexpr bool kSystemHasUnnamedFiles = false;
#else
constexpr bool kSystemHasUnnamedFiles = true;
#endif

const PolicyCase kCases[] = {
    {"UnnamedNew", true, Ending::CommitNew},
    {"UnnamedNewDurable", true, Ending::CommitNewDurable},
    {"UnnamedReplacing", true, Ending::CommitReplacing},
    {"UnnamedKeepsExisting", true, Ending::CommitRefusedByExisting},
    {"UnnamedDiscarded", true, Ending::Discard},
    {"NamedNew", false, Ending::CommitNew},
    {"NamedNewDurable", false, Ending::CommitNewDurable},
    {"NamedReplacing", false, Ending::CommitReplacing},
    {"NamedKeepsExisting", false, Ending::CommitRefusedByExisting},
    {"NamedDiscarded", false, Ending::Discard},
};

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    return names;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class OutputPolicy : public ::testing::TestWithParam<PolicyCase> {
  protected:
    void SetUp() override {
        dir_ = kpztest::makeTempDir();
        if (!GetParam().unnamed) kpz::installFaultPlan({.noUnnamedFiles = true});
    }
    void TearDown() override {
        kpz::clearFaultPlan();
        std::error_code error;
        std::filesystem::remove_all(dir_, error);
    }
    std::string dir_;
};

TEST_P(OutputPolicy, FinalNameOnlyWhenComplete) {
    const PolicyCase& c = GetParam();
    const std::string final = dir_ + "/out.bin";
    const bool existing =
        c.ending == Ending::CommitReplacing || c.ending == Ending::CommitRefusedByExisting;
    if (existing) std::ofstream(final) << "old contents";

    kpz::OutputFile out;
    ASSERT_TRUE(out.create(final));
    ASSERT_EQ(out.file().write("new contents", 12), 12u);
    // While it is written: the old file (if any) under the final name, and no other name
    // unless the file system lacks unnamed files.
    EXPECT_EQ(contents(final), existing ? "old contents" : "");
    EXPECT_EQ(namesIn(dir_).size(),
              size_t(existing) + (c.unnamed && kSystemHasUnnamedFiles ? 0 : 1));
    {
        kpz::File reader;
        ASSERT_TRUE(out.openReader(reader));
        char back[12];
        EXPECT_EQ(reader.read(back, 12), 12);
        EXPECT_EQ(std::string(back, 12), "new contents");
    }

    int error = 0;
    kpz::OutputFile::Attributes durable;
    durable.durable = true;
    switch (c.ending) {
    case Ending::CommitNew:
    case Ending::CommitReplacing:
        EXPECT_EQ(out.commit(true, {}, error), kpz::OutputFile::Commit::Done) << error;
        EXPECT_EQ(contents(final), "new contents");
        break;
    case Ending::CommitNewDurable:
        EXPECT_EQ(out.commit(false, durable, error), kpz::OutputFile::Commit::Done) << error;
        EXPECT_EQ(contents(final), "new contents");
        break;
    case Ending::CommitRefusedByExisting:
        EXPECT_EQ(out.commit(false, {}, error), kpz::OutputFile::Commit::Exists);
        EXPECT_EQ(contents(final), "old contents");
        break;
    case Ending::Discard:
        out.discard();
        EXPECT_EQ(namesIn(dir_).size(), 0u);
        break;
    }
    // Nothing but the final name is ever left.
    EXPECT_LE(namesIn(dir_).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Codec, OutputPolicy, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(OutputPolicy, RemovePendingOutputsTakesNamedOnes) {
    const std::string dir = kpztest::makeTempDir();
    kpz::installFaultPlan({.noUnnamedFiles = true});
    {
        kpz::OutputFile out;
        ASSERT_TRUE(out.create(dir + "/x"));
        EXPECT_EQ(namesIn(dir).size(), 1u);
        // What a signal handler does before the program dies.
        kpz::removePendingOutputs();
#ifdef _WIN32
        // A removed file that is still open keeps its name until the handle closes, as
        // it does when the program ends.
        out.file().close();
#endif
        EXPECT_EQ(namesIn(dir).size(), 0u);
    }
    kpz::clearFaultPlan();
    std::error_code error;
    std::filesystem::remove_all(dir, error);
}

} // namespace
