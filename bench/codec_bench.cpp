// SPDX-License-Identifier: BSD-3-Clause
// In-memory throughput of the codec, beside a memcpy of the same buffer as the ceiling.
//
// Source data: the first 32 MiB of the file named by KPZ_BENCH_FILE when it is set (taken
// as raw bytes, so a WAV header is coded like samples), otherwise 16 MiB of generated
// 16-bit stereo audio: a few sines per channel with a little noise.
//
// KPZ_BENCH_ITERATIONS=N fixes every benchmark's iteration count, so that runs under
// callgrind count the same work each time. The names then end in /iterations:N, so a
// filter for one benchmark ends in a slash, e.g.
//   KPZ_BENCH_ITERATIONS=1 valgrind --tool=callgrind build/bench/kpz_bench
//       --benchmark_filter=BM_EncodeCore/
#include "block_coder.h"
#include "container.h"
#include "decoder.h"
#include "encoder.h"
#include "kernels.h"
#include "memory_codec.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr size_t kFileLimit = 32u << 20;
constexpr size_t kGeneratedBytes = 16u << 20;
constexpr int kSampleRate = 44100;

std::vector<uint8_t> readFilePrefix(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot open KPZ_BENCH_FILE ") + path);
    std::vector<uint8_t> data(kFileLimit);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(in.gcount()));
    if (data.empty()) throw std::runtime_error(std::string("KPZ_BENCH_FILE is empty: ") + path);
    return data;
}

// Interleaved left/right 16-bit little-endian frames. Each channel is a sum of sines at
// unrelated frequencies, slowly swelling, plus a few LSBs of noise, so the residuals have
// the spread of real music rather than the zeros of silence or the full width of noise.
std::vector<uint8_t> generateAudio() {
    struct Tone {
        double hz, amplitude;
    };
    const Tone left[] = {{110.0, 6000}, {329.6, 3000}, {1244.5, 900}, {5103.0, 200}};
    const Tone right[] = {{146.8, 5000}, {440.0, 3500}, {1661.2, 700}, {7040.0, 150}};
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0.0, 6.0);

    const size_t frames = kGeneratedBytes / 4;
    std::vector<uint8_t> data(frames * 4);
    auto store = [&](size_t at, double v) {
        const auto s = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        const auto u = static_cast<uint16_t>(s);
        data[at] = static_cast<uint8_t>(u & 0xFF);
        data[at + 1] = static_cast<uint8_t>(u >> 8);
    };
    constexpr double twoPi = 2 * std::numbers::pi;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double swell = 0.6 + 0.4 * std::sin(twoPi * 0.25 * t);
        double l = 0, r = 0;
        for (const Tone& k : left)
            l += k.amplitude * std::sin(twoPi * k.hz * t);
        for (const Tone& k : right)
            r += k.amplitude * std::sin(twoPi * k.hz * t);
        store(4 * i, swell * l + noise(rng));
        store(4 * i + 2, swell * r + noise(rng));
    }
    return data;
}

const std::vector<uint8_t>& sourceData() {
    static const std::vector<uint8_t> data = [] {
        const char* path = std::getenv("KPZ_BENCH_FILE");
        return path && *path ? readFilePrefix(path) : generateAudio();
    }();
    return data;
}

// The state is over a megabyte, so it lives on the heap; its tables are built once.
kpz::CodecState& codecState() {
    static const std::unique_ptr<kpz::CodecState> state = [] {
        auto s = std::make_unique<kpz::CodecState>();
        kpz::buildCodecTables(*s);
        return s;
    }();
    return *state;
}

const std::vector<uint8_t>& compressedData() {
    static const std::vector<uint8_t> packed =
        kpz::compressToMemory(codecState(), sourceData(), "bench.wav");
    return packed;
}

void setThroughput(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(sourceData().size()));
}

void BM_Memcpy(benchmark::State& state) {
    const std::vector<uint8_t>& src = sourceData();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    setThroughput(state);
}

void BM_Encode(benchmark::State& state) {
    const std::vector<uint8_t>& src = sourceData();
    kpz::CodecState& s = codecState();
    size_t packedSize = 0;
    for (auto _ : state) {
        std::vector<uint8_t> packed = kpz::compressToMemory(s, src, "bench.wav");
        packedSize = packed.size();
        benchmark::DoNotOptimize(packed.data());
    }
    setThroughput(state);
    state.counters["ratio"] = static_cast<double>(packedSize) / static_cast<double>(src.size());
}

void BM_Decode(benchmark::State& state) {
    const std::vector<uint8_t>& src = sourceData();
    const std::vector<uint8_t>& packed = compressedData();
    kpz::CodecState& s = codecState();
    // A decoder that fails or restores the wrong bytes would be timing a different job.
    {
        const kpz::RestoreResult check = kpz::restoreFromMemory(s, packed);
        if (check.outcome != kpz::DecodeOutcome::Complete || check.data != src) {
            state.SkipWithError("round trip is not exact; nothing to time");
            return;
        }
    }
    for (auto _ : state) {
        kpz::RestoreResult r = kpz::restoreFromMemory(s, packed);
        benchmark::DoNotOptimize(r.data.data());
    }
    setThroughput(state);
}

// The codec alone: the same encoder and decoder as above, with streams that are made
// once and rewound, so no iteration allocates or copies the whole input. The gap between
// these and BM_Encode / BM_Decode is the in-memory API's copies and fresh pages.
void BM_EncodeCore(benchmark::State& state) {
    kpz::CodecState& s = codecState();
    kpz::MemoryStream in(sourceData());
    kpz::MemoryStream out;
    out.data.reserve(in.data.size() + 64);
    for (auto _ : state) {
        in.readPosition = 0;
        out.data.clear();
        kpz::resetEncoder(s);
        s.source = &in;
        s.destination = &out;
        s.sourceSize = static_cast<uint32_t>(in.data.size());
        s.passwordOn = false;
        s.passwordCode = 0;
        if (kpz::encodeFile(s) != kpz::EncodeOutcome::Complete) {
            state.SkipWithError("encoder did not complete");
            break;
        }
        benchmark::DoNotOptimize(out.data.data());
    }
    s.source = s.destination = nullptr;
    setThroughput(state);
}

void BM_DecodeCore(benchmark::State& state) {
    kpz::CodecState& s = codecState();
    kpz::MemoryStream in(compressedData());
    kpz::MemoryStream out;
    out.data.reserve(sourceData().size() + 2 * sizeof s.outputBuffer);
    for (auto _ : state) {
        in.readPosition = 0;
        out.data.clear();
        kpz::resetDecoder(s);
        kpz::Header info;
        if (kpz::readHeader(in, info) != kpz::HeaderStatus::Ok) {
            state.SkipWithError("header not readable");
            break;
        }
        s.source = &in;
        s.destination = &out;
        s.passwordOn = false;
        s.passwordCode = 0;
        s.originalSize = info.originalSize;
        s.sourceProcessed += info.nameLength;
        s.blockLength = kpz::kBlockLength;
        kpz::refillInput(s);
        if (kpz::decodeFile(s) != kpz::DecodeOutcome::Complete) {
            state.SkipWithError("decoder did not complete");
            break;
        }
        benchmark::DoNotOptimize(out.data.data());
    }
    s.source = s.destination = nullptr;
    // The restored bytes must be the source, or the loop timed something else.
    if (out.data.size() < sourceData().size() ||
        !std::equal(sourceData().begin(), sourceData().end(), out.data.begin()))
        state.SkipWithError("restored data differs from the source");
    setThroughput(state);
}

// The block kernels alone on one 512 KiB chunk that stays in cache, beside a memcpy of the
// same chunk: the ceiling the coding loops could reach if reading and writing cost nothing.
// Encoding turns its samples into residuals in place, so each pass copies the chunk in
// first, as a read into the sample buffer does; the decoder reads its input unchanged.
constexpr size_t kChunk = kpz::kChunkBytes;
// Room for the chunk's coded words at the widest (33 words a block) and the readers'
// look-ahead past them.
constexpr size_t kChunkWords = kChunk / 64 * 33 + 256;

const std::vector<uint8_t>& chunkSource() {
    static const std::vector<uint8_t> chunk = [] {
        const std::vector<uint8_t>& all = sourceData();
        const size_t from = all.size() > 4 * kChunk ? 2 * kChunk : 0; // past any file header
        std::vector<uint8_t> c(kChunk + 64, 0);
        std::memcpy(c.data(), all.data() + from, std::min(kChunk, all.size() - from));
        return c;
    }();
    return chunk;
}

// Words of the chunk's blocks, with zero words after them for the readers' look-ahead.
const std::vector<uint16_t>& chunkWords() {
    static const std::vector<uint16_t> words = [] {
        std::vector<uint8_t> samples = chunkSource();
        std::vector<uint16_t> w(kChunkWords, 0);
        kpz::detail::FastWriter writer{w.data(), 0, static_cast<int32_t>(w.size()), 0, 0, nullptr};
        int16_t side = 0, right = 0;
        kpz::detail::encodeBlocks(reinterpret_cast<int16_t*>(samples.data()),
                                  static_cast<int32_t>(kChunk / 2), side, right, writer);
        w.resize(static_cast<size_t>(writer.index) + 256, 0);
        return w;
    }();
    return words;
}

void setChunkThroughput(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kChunk));
    state.SetLabel(kpz::kernelsName(kpz::activeKernels()));
}

void BM_MemcpyChunk(benchmark::State& state) {
    const std::vector<uint8_t>& src = chunkSource();
    std::vector<uint8_t> dst(kChunk);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kChunk);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    setChunkThroughput(state);
}

void BM_EncodeChunk(benchmark::State& state) {
    const std::vector<uint8_t>& src = chunkSource();
    std::vector<uint8_t> samples(src.size());
    std::vector<uint16_t> words(kChunkWords);
    for (auto _ : state) {
        std::memcpy(samples.data(), src.data(), kChunk);
        kpz::detail::FastWriter writer{words.data(), 0, static_cast<int32_t>(words.size()), 0, 0,
                                       nullptr};
        int16_t side = 0, right = 0;
        kpz::detail::encodeBlocks(reinterpret_cast<int16_t*>(samples.data()),
                                  static_cast<int32_t>(kChunk / 2), side, right, writer);
        benchmark::DoNotOptimize(words.data());
        benchmark::ClobberMemory();
    }
    setChunkThroughput(state);
}

void BM_DecodeChunk(benchmark::State& state) {
    const std::vector<uint16_t>& words = chunkWords();
    std::vector<uint16_t> out(kChunk / 2);
    const auto blocks = static_cast<int32_t>(kChunk / 64);
    const int64_t limit = static_cast<int64_t>(words.size()) * 16 - 4096;
    for (auto _ : state) {
        kpz::detail::DecodeCursor c{0, 0, 0, 0, 0};
        const int32_t done = kpz::detail::decodeRun(words.data(), c, out.data(), blocks, limit);
        if (done != blocks) {
            state.SkipWithError("the decoder stopped early");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (std::memcmp(out.data(), chunkSource().data(), kChunk) != 0)
        state.SkipWithError("restored chunk differs from the source");
    setChunkThroughput(state);
}

// Honours KPZ_BENCH_ITERATIONS (see the top of the file).
void fixedIterations(benchmark::internal::Benchmark* b) {
    if (const char* n = std::getenv("KPZ_BENCH_ITERATIONS")) {
        const long count = std::strtol(n, nullptr, 10);
        if (count > 0) b->Iterations(count);
    }
}

BENCHMARK(BM_Memcpy)->Apply(fixedIterations);
BENCHMARK(BM_Encode)->Apply(fixedIterations);
BENCHMARK(BM_Decode)->Apply(fixedIterations);
BENCHMARK(BM_EncodeCore)->Apply(fixedIterations);
BENCHMARK(BM_DecodeCore)->Apply(fixedIterations);
BENCHMARK(BM_MemcpyChunk)->Apply(fixedIterations);
BENCHMARK(BM_EncodeChunk)->Apply(fixedIterations);
BENCHMARK(BM_DecodeChunk)->Apply(fixedIterations);

} // namespace
