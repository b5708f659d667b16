// SPDX-License-Identifier: BSD-3-Clause
// The password scramble: every payload word is XORed with the password's 16-bit code, on
// the way out when compressing and on the way in when restoring. Code 0 leaves the words
// as they are, so a file without a password needs no test before the call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kpz {

inline void scramble(uint16_t* words, size_t count, uint16_t code) {
    if (code == 0) return;
    for (size_t i = 0; i < count; ++i)
        words[i] ^= code;
}

// The same on bytes that lay at byte offset in a run of payload words, as the code's bytes
// fall on a word in memory: for payload bytes handed back out of a word buffer.
inline void scrambleBytes(uint8_t* bytes, size_t count, size_t offset, uint16_t code) {
    if (code == 0) return;
    uint8_t key[2];
    __builtin_memcpy(key, &code, sizeof key);
    for (size_t i = 0; i < count; ++i)
        bytes[i] ^= key[(offset + i) % 2];
}

} // namespace kpz
