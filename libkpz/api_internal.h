// SPDX-License-Identifier: BSD-3-Clause
// What the parts of libkpz share: the translation of a job's outcome into an error code,
// the errno rule, passwords, flags, the codec record and the progress hook.
#pragma once

#include "codec_record.h"
#include "file_job.h"
#include "kpz.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kpzapi {

using kpz::Outcome;
using kpz::Problem;

// The error code for an outcome.
int errorCode(const Outcome& o);
// The code for an outcome, with its errno left for the caller when a system call failed.
int finish(const Outcome& o);

// Set by finish when it put a system call's reason in errno; see ErrnoScope.
extern thread_local bool systemErrorSet;

// Around every public call: errno comes back as the caller left it, unless a system call
// failed and finish put its reason there. The library's own steps (a missing file probed,
// a temporary name tried) would otherwise leak their errno into a failure that has none.
class ErrnoScope {
  public:
    ErrnoScope() : saved_(errno) { systemErrorSet = false; }
    ~ErrnoScope() {
        if (!systemErrorSet) errno = saved_;
    }
    ErrnoScope(const ErrnoScope&) = delete;
    ErrnoScope& operator=(const ErrnoScope&) = delete;

  private:
    int saved_;
};

// The flags each kind of call knows; any other bit is refused.
constexpr unsigned kCompressFlags = KPZ_REPLACE | KPZ_CHECK | KPZ_FRESH_ATTRIBUTES;
constexpr unsigned kRestoreFlags = KPZ_REPLACE | KPZ_CHECK | KPZ_FRESH_ATTRIBUTES;

using kpz::Password;

// NULL means no password; an empty one is refused (false), as kpz refuses it.
bool readPassword(const char* text, Password& password);

// A failed restore's code: a protected file with a check value that its restore does not
// match shows a wrong password. hasCheck says whether the file's last bytes are a check
// trailer, where that could be seen before decoding.
int restoreCode(const Outcome& o, bool passwordOn, bool hasCheck);

// The codec's working record, with its tables built; about 1 MiB. NULL without memory.
kpz::RecordPointer<> newState();
// Restoring: flushes often enough for a file of bytes to report progress several times.
void pickBufferLength(kpz::CodecState& s, uint64_t bytes);
// Runs progress at every flush with done of total; a nonzero answer cancels.
void installProgress(kpz::CodecState& s, kpz_progress_callback progress, void* user,
                     const uint32_t& done, uint64_t total);

// The caller's read function as the codec's input: each read is filled completely unless
// the data ends, as the codec and the jobs expect.
class CallbackInput final : public kpz::Stream {
  public:
    CallbackInput(kpz_read_callback read, void* user) : read_(read), user_(user) {}
    int32_t read(void* buffer, uint32_t count) override {
        auto* p = static_cast<uint8_t*>(buffer);
        uint32_t total = 0;
        while (total < count) {
            const int64_t n = read_(user_, p + total, count - total);
            if (n < 0 || n > static_cast<int64_t>(count - total)) return -1;
            if (n == 0) break;
            total += static_cast<uint32_t>(n);
        }
        return static_cast<int32_t>(total);
    }
    uint32_t write(const void*, uint32_t) override { return 0; }

  private:
    kpz_read_callback read_;
    void* user_;
};

// Opens path and reads its header; a protected file needs a password.
int openCompressed(kpz::RestoreJob& job, const char* path, const Password& p);

} // namespace kpzapi
