// SPDX-License-Identifier: BSD-3-Clause
// The size ladder: every way into libkpz, compressing and restoring, at the sizes where the
// coder changes path (nothing, a few bytes, around one 512 KiB piece, around 8 MiB) and
// one real recording when KPZ_CORPUS_DIR names the corpus, with and without a check value
// and a password. Every compressed result must be kpz's own output for the same source
// and settings, byte for byte, and every restore must give the source back.
// The sources and kpz's outputs are made once for the whole table.
#include "audio_like.h"
#include "kpz.h"
#include "kpz_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>

using namespace kpztest;

namespace {

constexpr size_t kSizes[] = {0, 1, 4, 524287, 524288, 524289, 8388607, 8388608, 8388609};
constexpr size_t kSizeCount = std::size(kSizes);
constexpr size_t kCorpusRow = kSizeCount; // the row after the sizes: the recording

struct Settings {
    bool check;
    const char* password;
};
constexpr Settings kSettings[] = {
    {false, nullptr}, {true, nullptr}, {false, "pass word"}, {true, "pass word"}};
constexpr size_t kSettingsCount = std::size(kSettings);

enum class Way { Path, Descriptor, Pipe, CallbacksWithSeek, Callbacks, Buffer };
enum class Direction { Compress, Restore };
struct Row {
    Direction direction;
    Way way;
};
// Compressing takes no seek function: its callbacks row is the one without.
constexpr Row kRows[] = {
    {Direction::Compress, Way::Path},
    {Direction::Compress, Way::Descriptor},
    {Direction::Compress, Way::Pipe},
    {Direction::Compress, Way::Callbacks},
    {Direction::Compress, Way::Buffer},
    {Direction::Restore, Way::Path},
    {Direction::Restore, Way::Descriptor},
    {Direction::Restore, Way::Pipe},
    {Direction::Restore, Way::CallbacksWithSeek},
    {Direction::Restore, Way::Callbacks},
    {Direction::Restore, Way::Buffer},
};

const char* wayName(Way way) {
    switch (way) {
    case Way::Path:
        return "path";
    case Way::Descriptor:
        return "descriptor";
    case Way::Pipe:
        return "pipe";
    case Way::CallbacksWithSeek:
        return "callbacks_with_seek";
    case Way::Callbacks:
        return "callbacks";
    case Way::Buffer:
        return "buffer";
    }
    return "?";
}

// The callbacks hand over odd pieces, so the library's own loops are exercised.
constexpr size_t kCallbackPiece = 300001;

// Where two byte strings first differ, for a failure message that does not print them.
std::string difference(const Bytes& got, const Bytes& want) {
    const auto [a, b] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (a == got.end() && b == want.end()) return "equal";
    return std::to_string(got.size()) + " bytes where " + std::to_string(want.size()) +
           " were expected, first difference at byte " + std::to_string(a - got.begin());
}

// The smallest recording in the corpus folder; "" without one.
std::string corpusFile() {
    const char* dir = std::getenv("KPZ_CORPUS_DIR");
    if (!dir || !std::filesystem::is_directory(dir)) return {};
    std::string best;
    uintmax_t bestSize = UINTMAX_MAX;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".wav") continue;
        if (entry.file_size() < bestSize) {
            bestSize = entry.file_size();
            best = entry.path().string();
        }
    }
    return best;
}

using Param = std::tuple<size_t, size_t, size_t>; // row, size row, settings

class Ladder : public testing::TestWithParam<Param> {
  public:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<ScratchFolder>();
        // One stretch of audio; each size is its beginning.
        const Bytes audio = audioLike(kSizes[kSizeCount - 1], 29);
        for (size_t i = 0; i < kSizeCount; ++i) {
            names_[i] = "ladder-" + std::to_string(kSizes[i]) + ".wav";
            sources_[i].assign(audio.begin(), audio.begin() + static_cast<ptrdiff_t>(kSizes[i]));
        }
        const std::string recording = corpusFile();
        if (!recording.empty()) {
            names_[kCorpusRow] = std::filesystem::path(recording).filename().string();
            sources_[kCorpusRow] = readFile(recording);
        }
        for (size_t i = 0; i < kSizeCount + 1; ++i) {
            if (names_[i].empty()) continue;
            writeFile(sourcePath(i), sources_[i]);
            for (size_t k = 0; k < kSettingsCount; ++k)
                makeReference(i, k);
        }
    }
    static void TearDownTestSuite() { folder_.reset(); }

  protected:
    static std::string sourcePath(size_t i) { return folder_->path(names_[i]); }
    static std::string referencePath(size_t i, size_t k) {
        const std::string stem = names_[i].substr(0, names_[i].rfind('.'));
        return folder_->path("kpz-" + std::to_string(k) + "/" + stem + ".kpz");
    }

    // kpz's own output for source i with settings k.
    static void makeReference(size_t i, size_t k) {
        const Settings& s = kSettings[k];
        const std::string out = folder_->path("kpz-" + std::to_string(k));
        std::filesystem::create_directories(out);
        if (s.password)
            ::setenv("KPZ_PASSWORD", s.password, 1);
        else
            ::unsetenv("KPZ_PASSWORD");
        const std::string command = std::string("'") + KPZ_BINARY + "' -q -f " +
                                    (s.check ? "--check" : "--no-check") + " -o '" + out + "' '" +
                                    sourcePath(i) + "'";
        const int status = std::system(command.c_str());
        ::unsetenv("KPZ_PASSWORD");
        ASSERT_EQ(status, 0) << command;
        references_[i][k] = readFile(referencePath(i, k));
        ASSERT_FALSE(references_[i][k].empty()) << command;
    }

    static std::unique_ptr<ScratchFolder> folder_;
    static std::array<std::string, kSizeCount + 1> names_;
    static std::array<Bytes, kSizeCount + 1> sources_;
    static std::array<std::array<Bytes, kSettingsCount>, kSizeCount + 1> references_;
};

std::unique_ptr<ScratchFolder> Ladder::folder_;
std::array<std::string, kSizeCount + 1> Ladder::names_;
std::array<Bytes, kSizeCount + 1> Ladder::sources_;
std::array<std::array<Bytes, kSettingsCount>, kSizeCount + 1> Ladder::references_;

// Compresses the source at path (bytes source, stored as name) by one way in; the
// output's bytes go to *out.
int compressBy(Way way, const std::string& path, const Bytes& source, const std::string& name,
               const Settings& s, const std::string& scratch, Bytes* out) {
    const unsigned flags = s.check ? KPZ_CHECK : 0u;
    switch (way) {
    case Way::Path: {
        const int code = kpz_compress_file_ex(path.c_str(), scratch.c_str(), s.password,
                                              flags | KPZ_REPLACE, nullptr, nullptr);
        *out = readFile(scratch);
        return code;
    }
    case Way::Descriptor: {
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int to = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int code = kpz_compress_fd(in, to, name.c_str(), s.password, flags, nullptr, nullptr);
        ::close(in);
        ::close(to);
        *out = readFile(scratch);
        return code;
    }
    case Way::Pipe: {
        PipeFeed feed(source);
        PipeDrain drain;
        const int code = kpz_compress_fd(feed.fd(), drain.fd(), name.c_str(), s.password, flags,
                                         nullptr, nullptr);
        *out = drain.finish();
        return code;
    }
    case Way::CallbacksWithSeek:
    case Way::Callbacks: {
        MemoryIo io;
        io.in = &source;
        io.most = kCallbackPiece;
        const int code = kpz_compress_callbacks(memoryRead, memoryWrite, &io, name.c_str(),
                                                s.password, flags, nullptr, nullptr);
        *out = std::move(io.out);
        return code;
    }
    case Way::Buffer: {
        out->resize(kpz_compress_bound(source.size()));
        size_t written = 0;
        const int code = kpz_compress_buffer(source.data(), source.size(), name.c_str(), s.password,
                                             flags, out->data(), out->size(), &written);
        out->resize(written);
        return code;
    }
    }
    return KPZ_ERROR_ARGUMENT;
}

// Reads a reader to its end, checking what it tells about the file on the way.
int readAll(kpz_reader* r, int error, const Bytes& file, const Settings& s, Bytes* out) {
    if (!r) return error;
    int64_t last = 0;
    *out = readToEnd(r, &last);
    if (last == 0) {
        EXPECT_EQ(kpz_reader_size(r), out->size());
        EXPECT_EQ(kpz_reader_has_password(r), s.password ? 1 : 0);
        EXPECT_EQ(kpz_reader_has_check(r), s.check ? 1 : 0);
        EXPECT_EQ(kpz_reader_compressed_size(r), static_cast<int64_t>(file.size()));
        EXPECT_EQ(kpz_reader_bytes_after(r), 0);
    }
    kpz_reader_close(r);
    return static_cast<int>(last);
}

// Restores the compressed file at path (bytes file) by one way in; the restored bytes go
// to *out.
int restoreBy(Way way, const std::string& path, const Bytes& file, const Settings& s,
              const std::string& scratch, Bytes* out) {
    int error = 0;
    switch (way) {
    case Way::Path: {
        EXPECT_EQ(kpz_test_file(path.c_str(), s.password, nullptr, nullptr), KPZ_OK);
        const int code = kpz_restore_file_ex(path.c_str(), scratch.c_str(), s.password, KPZ_REPLACE,
                                             nullptr, nullptr);
        *out = readFile(scratch);
        return code;
    }
    case Way::Descriptor: {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        kpz_reader* r = kpz_reader_open_fd(fd, s.password, &error);
        ::close(fd);
        return readAll(r, error, file, s, out);
    }
    case Way::Pipe: {
        PipeFeed feed(file);
        kpz_reader* r = kpz_reader_open_fd(feed.fd(), s.password, &error);
        return readAll(r, error, file, s, out);
    }
    case Way::CallbacksWithSeek:
    case Way::Callbacks: {
        MemoryIo io;
        io.in = &file;
        io.most = kCallbackPiece;
        kpz_reader* r = kpz_reader_open_callbacks(
            memoryRead, way == Way::CallbacksWithSeek ? memorySeek : nullptr, &io, s.password,
            &error);
        return readAll(r, error, file, s, out);
    }
    case Way::Buffer: {
        // Asked first for the room needed, as a caller without a size would.
        size_t needed = 0;
        const int asked =
            kpz_restore_buffer(file.data(), file.size(), s.password, nullptr, 0, &needed);
        EXPECT_EQ(asked, needed == 0 ? KPZ_OK : KPZ_ERROR_BUFFER_TOO_SMALL);
        out->resize(needed);
        size_t restored = 0;
        const int code = kpz_restore_buffer(file.data(), file.size(), s.password, out->data(),
                                            out->size(), &restored);
        out->resize(restored);
        return code;
    }
    }
    return KPZ_ERROR_ARGUMENT;
}

TEST_P(Ladder, GivesKpzsBytesAndTheSourceBack) {
    const auto [rowIndex, sizeRow, settingsIndex] = GetParam();
    if (names_[sizeRow].empty()) GTEST_SKIP() << "KPZ_CORPUS_DIR names no recording";
    const Row& row = kRows[rowIndex];
    const Settings& s = kSettings[settingsIndex];
    const Bytes& source = sources_[sizeRow];
    const Bytes& reference = references_[sizeRow][settingsIndex];
    Bytes got;
    if (row.direction == Direction::Compress) {
        const int code = compressBy(row.way, sourcePath(sizeRow), source, names_[sizeRow], s,
                                    folder_->path("out.kpz"), &got);
        ASSERT_EQ(code, KPZ_OK) << kpz_strerror(code);
        EXPECT_TRUE(got == reference) << difference(got, reference);
    } else {
        const int code = restoreBy(row.way, referencePath(sizeRow, settingsIndex), reference, s,
                                   folder_->path("out.wav"), &got);
        ASSERT_EQ(code, KPZ_OK) << kpz_strerror(code);
        EXPECT_TRUE(got == source) << difference(got, source);
    }
}

std::string paramName(const testing::TestParamInfo<Param>& info) {
    const auto [rowIndex, sizeRow, settingsIndex] = info.param;
    const Row& row = kRows[rowIndex];
    const Settings& s = kSettings[settingsIndex];
    return std::string(row.direction == Direction::Compress ? "compress_" : "restore_") +
           wayName(row.way) + "_" +
           (sizeRow == kCorpusRow ? std::string("recording") : std::to_string(kSizes[sizeRow])) +
           (s.check ? "_check" : "") + (s.password ? "_password" : "");
}

INSTANTIATE_TEST_SUITE_P(EveryWayIn, Ladder,
                         testing::Combine(testing::Range<size_t>(0, std::size(kRows)),
                                          testing::Range<size_t>(0, kSizeCount + 1),
                                          testing::Range<size_t>(0, kSettingsCount)),
                         paramName);

} // namespace
