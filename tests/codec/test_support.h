// SPDX-License-Identifier: BSD-3-Clause
// Helpers shared by the codec tests: generated audio, a straightforward reference
// encoder, and a heap-allocated codec state.
#pragma once

#include "audio_like.h"
#include "codec_state.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kpztest {

std::unique_ptr<kpz::CodecState> makeState();

std::vector<uint8_t> randomBytes(size_t bytes, uint32_t seed = 1);

// The payload as the format defines it, computed bit by bit in the plainest way: 512 KiB
// reads into a sample buffer that is turned into residuals in place (so padding of a
// later chunk's last block comes from the previous chunk), fields appended one bit at a
// time, then the end pad, then only complete words, each XORed with code when scrambling.
std::vector<uint8_t> referencePayload(const std::vector<uint8_t>& source, bool scramble = false,
                                      uint16_t code = 0);

// Bytes of a file, and a fresh temporary folder for a test.
std::vector<uint8_t> readAll(const std::string& path);
void writeAll(const std::string& path, const std::vector<uint8_t>& bytes);
std::string makeTempDir();

} // namespace kpztest
