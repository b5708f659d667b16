// SPDX-License-Identifier: BSD-3-Clause
// Test audio made in code: the one generator every test folder uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kpztest {

// Interleaved 16-bit little-endian stereo: two sines per channel with a little noise, plus
// an odd trailing byte when bytes is odd. Deterministic for a given seed.
std::vector<uint8_t> audioLike(size_t bytes, uint32_t seed = 1);

} // namespace kpztest
