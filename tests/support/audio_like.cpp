// SPDX-License-Identifier: BSD-3-Clause
// Test audio made in code.
#include "audio_like.h"

#include <cmath>
#include <random>

namespace kpztest {

std::vector<uint8_t> audioLike(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> out(bytes);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const double t = static_cast<double>(i / 4) / 44100.0;
        const bool right = (i / 2) % 2;
        double v = 9000 * std::sin(2 * M_PI * (right ? 220.0 : 330.0) * t) +
                   4000 * std::sin(2 * M_PI * 1234.5 * t + seed) + noise(rng);
        const auto sample = static_cast<int16_t>(std::lround(v));
        out[i] = static_cast<uint8_t>(sample & 0xFF);
        out[i + 1] = static_cast<uint8_t>((sample >> 8) & 0xFF);
    }
    if (bytes % 2) out[bytes - 1] = static_cast<uint8_t>(seed);
    return out;
}

} // namespace kpztest
