// SPDX-License-Identifier: BSD-3-Clause
// The C interface of libkpz, on the per-file jobs that kpz and the window program use, so
// the library writes the same bytes and follows the same output rules. No C++ exception
// leaves these functions.
#include "kpz.h"

#include "charset.h"
#include "container.h"
#include "encoder.h"
#include "file_job.h"
#include "password.h"
#include "paths.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {

using kpz::Outcome;
using kpz::Problem;

int errorCode(const Outcome& o) {
    switch (o.problem) {
    case Problem::None:
        return KPZ_OK;
    case Problem::OpenSource:
        return KPZ_ERROR_OPEN_SOURCE;
    case Problem::SourceIsFolder:
    case Problem::SourceNotRegular:
        return KPZ_ERROR_SOURCE_NOT_FILE;
    case Problem::SourceRead:
    case Problem::SpoolFailed:
        return KPZ_ERROR_READ;
    case Problem::TooLarge:
        return KPZ_ERROR_TOO_LARGE;
    case Problem::NameTooLong:
        return KPZ_ERROR_NAME_TOO_LONG;
    case Problem::SizeChanged:
        return KPZ_ERROR_SIZE_CHANGED;
    case Problem::UnknownFormat:
        return KPZ_ERROR_NOT_KPZ;
    case Problem::NoUsableName:
        return KPZ_ERROR_NO_USABLE_NAME;
    case Problem::SameFile:
    case Problem::OutputIsInput:
        return KPZ_ERROR_SAME_FILE;
    case Problem::OutputIsFolder:
    case Problem::OutputIsSpecial:
        return KPZ_ERROR_OUTPUT_NOT_FILE;
    case Problem::OutputExists:
    case Problem::OutputClaimed:
        return KPZ_ERROR_OUTPUT_EXISTS;
    case Problem::OpenDestination:
        return KPZ_ERROR_CREATE_OUTPUT;
    case Problem::WriteFailed:
    case Problem::CommitFailed:
    case Problem::OutputUnsure:
        return KPZ_ERROR_WRITE;
    case Problem::Cancelled:
        return KPZ_ERROR_CANCELLED;
    case Problem::CheckMismatch:
        return KPZ_ERROR_CHECK_MISMATCH;
    case Problem::OutputAppeared:
        return KPZ_ERROR_OUTPUT_EXISTS;
    case Problem::SourceChanged:
    case Problem::RemoveFailed:
        return KPZ_ERROR_WRITE;
    case Problem::StepOutOfOrder:
        return KPZ_ERROR_ARGUMENT;
    case Problem::Damaged:
    case Problem::VerifyMismatch:
    case Problem::VerifyHeader:
    case Problem::NotProven:
    // The library restores one member: a file with more holds more than it restored.
    case Problem::MoreMembers:
        return KPZ_ERROR_DAMAGED;
    }
    return KPZ_ERROR_DAMAGED;
}

// The code and its errno, for the caller to read after the call.
int finish(const Outcome& o) {
    if (o.error != 0) errno = o.error;
    return errorCode(o);
}

using kpz::Password;

// NULL means no password; an empty one is refused, as kpz refuses it.
bool readPassword(const char* text, Password& password) {
    password = {};
    if (!text) return true;
    if (!*text) return false;
    password.given = true;
    password.code = kpz::passwordCodeUtf8(text);
    return true;
}

// The codec's working record, with its tables built; about 1 MiB.
std::unique_ptr<kpz::CodecState> newState() {
    auto state = std::unique_ptr<kpz::CodecState>(new (std::nothrow) kpz::CodecState);
    if (state) kpz::buildCodecTables(*state);
    return state;
}

// Runs the caller's progress callback at every flush and turns a nonzero answer into a
// cancel, which the job reports once the flush is done.
void installProgress(kpz::CodecState& s, kpz_progress_callback progress, void* user,
                     const uint32_t& done, uint64_t total) {
    if (!progress) return;
    s.hooks.showProgress = [&s, progress, user, &done, total](kpz::Direction) {
        const uint64_t shown = std::min<uint64_t>(done, total);
        if (progress(shown, total, user) != 0) s.cancelRequested = true;
    };
}

// The output step; an existing file is replaced only with KPZ_REPLACE.
Outcome prepareOutput(kpz::FileJob& job, const std::string& destination, unsigned flags) {
    const kpz::Replace answer = (flags & KPZ_REPLACE) ? kpz::Replace::Yes : kpz::Replace::No;
    return job.prepareOutput(destination, [answer](const std::string&) { return answer; });
}

int compressFile(const char* source, const char* destination, const char* password, unsigned flags,
                 kpz_progress_callback progress, void* user) {
    Password p;
    if (!source || !*source || (destination && !*destination) || !readPassword(password, p))
        return KPZ_ERROR_ARGUMENT;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    kpz::CompressJob job(*state);
    Outcome o = job.open(source);
    if (!o.ok()) return finish(o);
    o = prepareOutput(job, destination ? destination : job.outputFor({}), flags);
    if (!o.ok()) return finish(o);
    installProgress(*state, progress, user, state->sourceProcessed, job.progressTotal());
    o = job.run(p.given, p.code, (flags & KPZ_CHECK) != 0);
    state->hooks = {};
    if (o.ok()) o = job.commit(flags & KPZ_REPLACE, true);
    return finish(o);
}

// Opens path and reads its header; a protected file needs a password.
int openCompressed(kpz::RestoreJob& job, const char* path, const Password& p) {
    Outcome o = job.open(path);
    if (o.ok()) o = job.readHeader();
    if (!o.ok()) return finish(o);
    if (job.header().passwordOn && !p.given) return KPZ_ERROR_PASSWORD_REQUIRED;
    return KPZ_OK;
}

int restoreFile(const char* source, const char* destination, const char* password, unsigned flags,
                kpz_progress_callback progress, void* user) {
    Password p;
    if (!source || !*source || (destination && !*destination) || !readPassword(password, p))
        return KPZ_ERROR_ARGUMENT;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    kpz::RestoreJob job(*state);
    if (int e = openCompressed(job, source, p); e != KPZ_OK) return e;

    // Beside the source, under the stored name's usable part.
    const std::string output = destination ? std::string(destination) : job.restoredPath({});
    if (output.empty()) return KPZ_ERROR_NO_USABLE_NAME;
    Outcome o = prepareOutput(job, output, flags);
    if (!o.ok()) return finish(o);
    installProgress(*state, progress, user, state->destWritten, job.header().originalSize);
    o = job.run(p.code);
    state->hooks = {};
    if (o.ok()) o = job.commit(true);
    return finish(o);
}

} // namespace

// The decoder runs on a thread of its own and hands each flushed piece of restored bytes
// to kpz_reader_read, waiting until the reader has taken all of it: the bytes are copied
// once, straight from the decoder's buffer, and memory stays at one codec record whatever
// the file's size.
struct kpz_reader {
    std::unique_ptr<kpz::CodecState> state;
    std::unique_ptr<kpz::RestoreJob> job;
    uint16_t passwordCode = 0;
    std::string storedName;
    std::string outputName;
    bool hasCheck = false;

    std::thread decoder;
    std::once_flag started;
    std::mutex lock;
    std::condition_variable changed;
    const uint8_t* piece = nullptr; // the piece on offer, and its bytes not yet taken
    uint32_t pieceLeft = 0;
    bool finished = false; // the decoder is done; result says how it went
    bool closing = false;  // the reader is being closed: the decoder is to stop
    Outcome result;
    uint64_t delivered = 0;
    int error = KPZ_OK; // sticky once set

    ~kpz_reader() {
        {
            std::lock_guard<std::mutex> guard(lock);
            closing = true;
        }
        changed.notify_all();
        if (decoder.joinable()) decoder.join();
    }

    // The decoder's destination: offers each piece and waits until it is taken. A reader
    // being closed refuses it, and the decoder stops as on a failed write.
    class Handoff final : public kpz::Stream {
      public:
        explicit Handoff(kpz_reader& r) : r_(r) {}
        int32_t read(void*, uint32_t) override { return -1; }
        uint32_t write(const void* data, uint32_t count) override {
            std::unique_lock<std::mutex> guard(r_.lock);
            if (r_.closing) return 0;
            r_.piece = static_cast<const uint8_t*>(data);
            r_.pieceLeft = count;
            r_.changed.notify_all();
            r_.changed.wait(guard, [this] { return r_.pieceLeft == 0 || r_.closing; });
            const uint32_t taken = count - r_.pieceLeft;
            r_.piece = nullptr;
            r_.pieceLeft = 0;
            return taken;
        }

      private:
        kpz_reader& r_;
    };

    void decode() {
        Handoff sink(*this);
        Outcome o;
        try {
            job->sendOutputTo(sink);
            o = job->run(passwordCode);
        } catch (...) {
            o.problem = Problem::SourceRead;
        }
        std::lock_guard<std::mutex> guard(lock);
        result = o;
        finished = true;
        changed.notify_all();
    }

    long read(void* buffer, size_t size) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (error != KPZ_OK) return error;
        }
        if (size == 0) return 0;
        // The first read starts the decoder, once, whichever threads make it together.
        std::call_once(started, [this] { decoder = std::thread([this] { decode(); }); });
        const uint64_t total = job->header().originalSize;
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (error != KPZ_OK) return error;
            changed.wait(guard, [this] { return pieceLeft > 0 || finished; });
            if (pieceLeft > 0) {
                // Never more than the stored size, whatever the decoder hands over.
                const uint64_t wanted = std::min<uint64_t>(
                    {size, pieceLeft, total - delivered, static_cast<uint64_t>(LONG_MAX)});
                std::memcpy(buffer, piece, wanted);
                piece += wanted;
                pieceLeft -= static_cast<uint32_t>(wanted);
                delivered += wanted;
                if (total == delivered) pieceLeft = 0;
                if (pieceLeft == 0) changed.notify_all();
                if (wanted > 0) return static_cast<long>(wanted);
                continue;
            }
            // The decoder has finished: the end of the file, or why it stopped.
            if (!result.ok() || delivered != total) {
                error = result.ok() ? KPZ_ERROR_DAMAGED : finish(result);
                return error;
            }
            return 0;
        }
    }
};

extern "C" {

const char* kpz_version_string(void) {
    return BRISKO_VERSION;
}

const char* kpz_strerror(int code) {
    switch (code) {
    case KPZ_OK:
        return "success";
    case KPZ_ERROR_ARGUMENT:
        return "invalid argument";
    case KPZ_ERROR_NO_MEMORY:
        return "out of memory";
    case KPZ_ERROR_OPEN_SOURCE:
        return "the source could not be opened";
    case KPZ_ERROR_SOURCE_NOT_FILE:
        return "the source is not a regular file";
    case KPZ_ERROR_READ:
        return "reading the source failed";
    case KPZ_ERROR_TOO_LARGE:
        return "the source is too large (4 GiB or more)";
    case KPZ_ERROR_NAME_TOO_LONG:
        return "the source's name is longer than 255 bytes";
    case KPZ_ERROR_SIZE_CHANGED:
        return "the source changed size while it was read";
    case KPZ_ERROR_NOT_KPZ:
        return "not a compressed file";
    case KPZ_ERROR_DAMAGED:
        return "the compressed file is damaged";
    case KPZ_ERROR_PASSWORD_REQUIRED:
        return "the file is protected by a password";
    case KPZ_ERROR_CHECK_MISMATCH:
        return "the restored data does not match its check value (wrong password or damage)";
    case KPZ_ERROR_NO_USABLE_NAME:
        return "the stored name cannot name a file";
    case KPZ_ERROR_SAME_FILE:
        return "the output would replace its own source";
    case KPZ_ERROR_OUTPUT_NOT_FILE:
        return "a folder or special file is in the way of the output";
    case KPZ_ERROR_OUTPUT_EXISTS:
        return "the output exists";
    case KPZ_ERROR_CREATE_OUTPUT:
        return "the output could not be created";
    case KPZ_ERROR_WRITE:
        return "writing the output failed";
    case KPZ_ERROR_CANCELLED:
        return "cancelled";
    }
    return "unknown error";
}

int kpz_compress_file(const char* source, const char* destination, const char* password) {
    return kpz_compress_file_ex(source, destination, password, 0, nullptr, nullptr);
}

int kpz_restore_file(const char* source, const char* destination, const char* password) {
    return kpz_restore_file_ex(source, destination, password, 0, nullptr, nullptr);
}

int kpz_compress_file_ex(const char* source, const char* destination, const char* password,
                         unsigned flags, kpz_progress_callback progress, void* user_data) {
    try {
        return compressFile(source, destination, password, flags, progress, user_data);
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

int kpz_restore_file_ex(const char* source, const char* destination, const char* password,
                        unsigned flags, kpz_progress_callback progress, void* user_data) {
    try {
        return restoreFile(source, destination, password, flags, progress, user_data);
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

kpz_reader* kpz_reader_open(const char* path, const char* password, int* error) {
    int code = KPZ_OK;
    kpz_reader* reader = nullptr;
    try {
        Password p;
        if (!path || !*path || !readPassword(password, p)) {
            code = KPZ_ERROR_ARGUMENT;
        } else {
            auto r = std::make_unique<kpz_reader>();
            r->state = newState();
            if (!r->state) {
                code = KPZ_ERROR_NO_MEMORY;
            } else {
                r->job = std::make_unique<kpz::RestoreJob>(*r->state);
                code = openCompressed(*r->job, path, p);
                r->passwordCode = p.code;
                r->storedName = r->job->header().storedName;
                r->outputName = r->job->outputName();
                if (code == KPZ_OK) r->hasCheck = r->job->hasCheck();
                if (code == KPZ_OK) reader = r.release();
            }
        }
    } catch (...) {
        code = KPZ_ERROR_NO_MEMORY;
    }
    if (error) *error = code;
    return reader;
}

uint64_t kpz_reader_size(const kpz_reader* reader) {
    return reader ? reader->job->header().originalSize : 0;
}

const char* kpz_reader_stored_name(const kpz_reader* reader) {
    return reader ? reader->storedName.c_str() : "";
}

const char* kpz_reader_output_name(const kpz_reader* reader) {
    return reader ? reader->outputName.c_str() : "";
}

int kpz_reader_has_password(const kpz_reader* reader) {
    return reader && reader->job->header().passwordOn ? 1 : 0;
}

int kpz_reader_has_check(const kpz_reader* reader) {
    return reader && reader->hasCheck ? 1 : 0;
}

long kpz_reader_read(kpz_reader* reader, void* buffer, size_t size) {
    if (!reader || (!buffer && size > 0)) return KPZ_ERROR_ARGUMENT;
    try {
        return reader->read(buffer, size);
    } catch (...) {
        return reader->error = KPZ_ERROR_NO_MEMORY;
    }
}

void kpz_reader_close(kpz_reader* reader) {
    delete reader;
}

} // extern "C"
