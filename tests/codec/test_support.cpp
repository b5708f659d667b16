// SPDX-License-Identifier: BSD-3-Clause
// Generated test data and the reference encoder.
#include "test_support.h"

#include "encoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace kpztest {

std::unique_ptr<kpz::CodecState> makeState() {
    auto s = std::make_unique<kpz::CodecState>();
    kpz::buildCodecTables(*s);
    return s;
}

std::vector<uint8_t> randomBytes(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    std::mt19937 rng(seed);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

namespace {

struct BitSink {
    std::vector<uint8_t> bits;
    void put(int32_t value, int count) {
        for (int k = count - 1; k >= 0; --k)
            bits.push_back(static_cast<uint8_t>((value >> k) & 1));
    }
};

int width(int v) {
    for (int w = 0; w < 16; ++w)
        if (v >= -(1 << w) && v <= (1 << w) - 1) return w;
    throw std::logic_error("value does not fit 16 bits");
}

} // namespace

std::vector<uint8_t> referencePayload(const std::vector<uint8_t>& source, bool scramble,
                                      uint16_t code) {
    constexpr size_t kChunk = 524288;
    std::vector<uint8_t> raw(kChunk, 0); // the sample buffer as bytes
    auto sample = [&](size_t k) {
        return static_cast<int16_t>(raw[2 * k] | (raw[2 * k + 1] << 8));
    };
    auto store = [&](size_t k, int16_t v) {
        raw[2 * k] = static_cast<uint8_t>(v & 0xFF);
        raw[2 * k + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    };
    BitSink sink;
    int16_t prevSide = 0, prevRight = 0;
    for (size_t offset = 0; offset < source.size(); offset += kChunk) {
        const size_t n = std::min(kChunk, source.size() - offset);
        std::memcpy(raw.data(), source.data() + offset, n);
        const size_t samples = (n + 1) / 2;
        for (size_t i = 0; i < samples; i += 32) {
            int maxS = 0, minS = 0, maxR = 0, minR = 0;
            for (size_t f = 0; f < 16; ++f) {
                const int16_t left = sample(i + 2 * f), right = sample(i + 2 * f + 1);
                const auto side = static_cast<int16_t>(left - right);
                const auto sideRes = static_cast<int16_t>(side - prevSide);
                const auto rightRes = static_cast<int16_t>(right - prevRight);
                store(i + 2 * f, sideRes);
                store(i + 2 * f + 1, rightRes);
                maxS = std::max<int>(maxS, sideRes), minS = std::min<int>(minS, sideRes);
                maxR = std::max<int>(maxR, rightRes), minR = std::min<int>(minR, rightRes);
                prevSide = side;
                prevRight = right;
            }
            const int sw = std::max(width(maxS), width(minS));
            const int rw = std::max(width(maxR), width(minR));
            sink.put(sw + 16 * rw, 8);
            for (size_t f = 0; f < 16; ++f)
                sink.put(sample(i + 2 * f), sw + 1);
            for (size_t f = 0; f < 16; ++f)
                sink.put(sample(i + 2 * f + 1), rw + 1);
        }
    }
    sink.put(0, 32);
    std::vector<uint8_t> out;
    for (size_t w = 0; w + 16 <= sink.bits.size(); w += 16) {
        uint16_t word = 0;
        for (size_t k = 0; k < 16; ++k)
            word = static_cast<uint16_t>((word << 1) | sink.bits[w + k]);
        if (scramble) word ^= code;
        out.push_back(static_cast<uint8_t>(word & 0xFF));
        out.push_back(static_cast<uint8_t>(word >> 8));
    }
    return out;
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string makeTempDir() {
    // A fresh folder under the system's folder for temporary files, by a random name.
    namespace fs = std::filesystem;
    std::random_device entropy;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "kpz-test-%08x", static_cast<unsigned>(entropy()));
        std::error_code error;
        if (fs::create_directory(base / name, error)) return (base / name).string();
    }
    throw std::runtime_error("couldn't create a temporary folder");
}

} // namespace kpztest
