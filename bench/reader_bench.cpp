// SPDX-License-Identifier: BSD-3-Clause
// libkpz's reader on one compressed file opened three ways: by path, by descriptor, and
// through read and seek callbacks over the same descriptor. Each iteration opens a reader
// and reads the whole file in 64 KiB pieces; the file stays in the page cache, so the
// figures compare the ways in, not the disk.
//
// Source data: 16 MiB of generated 16-bit stereo audio (sines with a little noise),
// compressed once into a temporary folder.
#include "kpz.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kSourceBytes = 16u << 20;
constexpr size_t kPiece = 64u << 10;

// The compressed file, made once: its path and restored size.
struct Fixture {
    std::string folder;
    std::string kpz;
    uint64_t size = 0;

    Fixture() {
        char pattern[] = "/tmp/kpz-reader-bench-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
        folder = pattern;
        const std::string wav = folder + "/music.wav";
        std::vector<int16_t> samples(kSourceBytes / 2);
        std::mt19937 noise(7);
        std::uniform_int_distribution<int> small(-40, 40);
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i / 2) / 44100.0;
            const double f = (i % 2) ? 440.0 : 660.0;
            samples[i] = static_cast<int16_t>(9000.0 * std::sin(2 * std::numbers::pi * f * t) +
                                              small(noise));
        }
        FILE* out = std::fopen(wav.c_str(), "wb");
        if (!out) throw std::runtime_error("cannot write " + wav);
        std::fwrite(samples.data(), 2, samples.size(), out);
        std::fclose(out);
        kpz = folder + "/music.kpz";
        if (kpz_compress_file(wav.c_str(), kpz.c_str(), nullptr) != KPZ_OK)
            throw std::runtime_error("cannot compress the source");
        std::remove(wav.c_str());
        size = kSourceBytes;
    }
    ~Fixture() {
        std::remove(kpz.c_str());
        rmdir(folder.c_str());
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

void drain(benchmark::State& state, kpz_reader* r) {
    static std::vector<unsigned char> buffer(kPiece);
    uint64_t total = 0;
    int64_t n;
    while ((n = kpz_reader_read64(r, buffer.data(), buffer.size())) > 0)
        total += static_cast<uint64_t>(n);
    kpz_reader_close(r);
    if (n != 0 || total != fixture().size) state.SkipWithError("the reader failed");
}

void BM_ReaderPath(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state)
        drain(state, kpz_reader_open(f.kpz.c_str(), nullptr, nullptr));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size));
}

void BM_ReaderDescriptor(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        const int fd = open(f.kpz.c_str(), O_RDONLY | O_CLOEXEC);
        drain(state, kpz_reader_open_fd(fd, nullptr, nullptr));
        close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size));
}

int64_t readFd(void* user, void* buffer, size_t size) {
    return read(*static_cast<int*>(user), buffer, size);
}

int64_t seekFd(void* user, int64_t offset, int whence) {
    return lseek(*static_cast<int*>(user), offset,
                 whence == KPZ_SEEK_SET   ? SEEK_SET
                 : whence == KPZ_SEEK_CUR ? SEEK_CUR
                                          : SEEK_END);
}

void BM_ReaderCallbacks(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        int fd = open(f.kpz.c_str(), O_RDONLY | O_CLOEXEC);
        drain(state, kpz_reader_open_callbacks(readFd, seekFd, &fd, nullptr, nullptr));
        close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.size));
}

} // namespace

BENCHMARK(BM_ReaderPath)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReaderDescriptor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReaderCallbacks)->Unit(benchmark::kMillisecond)->UseRealTime();
