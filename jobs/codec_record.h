// SPDX-License-Identifier: BSD-3-Clause
// The codec's working record as the front ends hold it: one per thread that runs files,
// owned by the caller and passed to every job by reference. It builds its own tables, so
// a record is ready to use as soon as it exists. Its counters and flags are what the
// window program shows and sets (bytes read and written, sizes, the cancel flag, hooks).
#pragma once

#include "codec_state.h"
#include "stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace kpz {

// The piece the programs read and write in, and the block length, as the codec defines
// them.
inline constexpr int32_t kProgramBufferLength = kBufferLength;
inline constexpr int32_t kProgramBlockLength = kBlockLength;

// Chooses the block coding kernels for the whole process by name ("portable", "avx2");
// false, changing nothing, for another name or a set this processor cannot run. Every set
// codes the same bytes.
bool useKernels(const char* name);

// Memory straight from the system with its pages present from the start (the files layer's
// own functions): the first touch of each new page of a record would cost a fault, about
// 10 us each on a virtual machine, some 4 ms for a record of 1 MiB on every run.
void* allocatePages(size_t bytes);
void freePages(void* pages, size_t bytes);

template <class Record> struct RecordDeleter {
    void operator()(Record* record) const {
        record->~Record();
        freePages(record, sizeof(Record));
    }
};
template <class Record = CodecState>
using RecordPointer = std::unique_ptr<Record, RecordDeleter<Record>>;

// A new record (CodecState, or a front end's record built on it) in memory whose pages are
// present; null when the system has no memory to give.
template <class Record = CodecState> RecordPointer<Record> newRecord() {
    static_assert(alignof(Record) <= 4096, "pages are aligned to 4 KiB");
    void* pages = allocatePages(sizeof(Record));
    if (!pages) return nullptr;
    try {
        return RecordPointer<Record>(new (pages) Record());
    } catch (...) {
        freePages(pages, sizeof(Record));
        throw;
    }
}
// The same, throwing std::bad_alloc as new does when there is no memory.
template <class Record = CodecState> RecordPointer<Record> makeRecord() {
    RecordPointer<Record> record = newRecord<Record>();
    if (!record) throw std::bad_alloc();
    return record;
}

} // namespace kpz
