// SPDX-License-Identifier: BSD-3-Clause
// The C interface of libkpz, on the per-file jobs that kpz and the window program use, so
// the library writes the same bytes and follows the same output rules. No C++ exception
// leaves these functions.
#include "api_internal.h"
#include "kpz.h"

#include "codec_record.h"
#include "file_job.h"
#include "host.h"
#include "text.h"
#include "threads.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace kpzapi {

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
        return KPZ_ERROR_READ;
    case Problem::SpoolFailed:
        return KPZ_ERROR_TEMPORARY_FILE;
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
    case Problem::PasswordNeeded:
        return KPZ_ERROR_PASSWORD_REQUIRED;
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
    case Problem::SourceHoldsMore:
    case Problem::RemoveFailed:
        return KPZ_ERROR_WRITE;
    case Problem::StepOutOfOrder:
        return KPZ_ERROR_ARGUMENT;
    case Problem::MoreMembers:
        return KPZ_ERROR_MORE_MEMBERS;
    case Problem::Damaged:
    case Problem::VerifyMismatch:
    case Problem::VerifyHeader:
    case Problem::NotProven:
        return KPZ_ERROR_DAMAGED;
    }
    return KPZ_ERROR_DAMAGED;
}

// Whether the running call has left a system call's reason in errno; see ErrnoScope.
thread_local bool systemErrorSet = false;

// The code and its errno, for the caller to read after the call.
int finish(const Outcome& o) {
    if (o.error != 0) {
        errno = o.error;
        systemErrorSet = true;
    }
    return errorCode(o);
}

// A protected file whose restore fails to match its check value: the stored value shows
// that the bytes are not the original ones, and with a password the likely cause is a
// wrong one (a wrong code also makes most payloads undecodable, hence Damaged too).
// Where the end of the file could not be seen first (a stream), a trailer found after the
// payload but not where it ends (CheckMismatch) shows the check value just as well.
int restoreCode(const Outcome& o, bool passwordOn, bool hasCheck) {
    const bool checkShown = hasCheck || o.problem == Problem::CheckMismatch;
    if (passwordOn && checkShown &&
        (o.problem == Problem::CheckMismatch || o.problem == Problem::Damaged))
        return KPZ_ERROR_WRONG_PASSWORD;
    return finish(o);
}

// Restoring: flushes often enough for a small file to report its progress several times,
// with a buffer of a sixteenth of the bytes, in whole blocks, up to the usual 512 KiB. The
// restored bytes do not depend on the buffer's size. (Compressing keeps the usual buffer:
// the end of the payload it writes depends on the buffer's size.)
void pickBufferLength(kpz::CodecState& s, uint64_t bytes) {
    const uint64_t blockBytes = 2u * static_cast<uint64_t>(kpz::kProgramBlockLength);
    uint64_t words = bytes / 16 / blockBytes * static_cast<uint64_t>(kpz::kProgramBlockLength);
    words = std::clamp<uint64_t>(words, 2u * kpz::kProgramBlockLength, kpz::kProgramBufferLength);
    s.bufferLength = static_cast<int32_t>(words);
}

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
    return std::unique_ptr<kpz::CodecState>(new (std::nothrow) kpz::CodecState);
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
    if (!source || !*source || (destination && !*destination) || !readPassword(password, p) ||
        (flags & ~kCompressFlags) != 0)
        return KPZ_ERROR_ARGUMENT;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    kpz::CompressJob job(*state);
    job.setPassword(p);
    // A second thread while a processor is free for it; the bytes are the same.
    job.setThreads(kpz::threadsForFile(kpz::ThreadSetting::Auto, 1, kpz::usableProcessors(),
                                       kpz::otherRunnableThreads()));
    Outcome o = job.open(source);
    if (!o.ok()) return finish(o);
    o = prepareOutput(job, destination ? destination : job.outputFor({}), flags);
    if (!o.ok()) return finish(o);
    installProgress(*state, progress, user, state->sourceProcessed, job.progressTotal());
    // The first report, before the first piece is coded: a file under 512 KiB is coded in
    // one piece and would otherwise report only its end.
    if (progress && progress(0, job.progressTotal(), user) != 0) return KPZ_ERROR_CANCELLED;
    o = job.run((flags & KPZ_CHECK) != 0);
    state->hooks = {};
    if (o.ok()) o = job.finish({.copyAttributes = !(flags & KPZ_FRESH_ATTRIBUTES)});
    return finish(o);
}

// Opens path and reads its header; a protected file needs a password.
int openCompressed(kpz::RestoreJob& job, const char* path, const Password& p) {
    job.setPassword(p);
    Outcome o = job.open(path);
    if (o.ok()) o = job.readHeader();
    if (!o.ok()) return finish(o);
    if (job.passwordOn() && !p.given) return KPZ_ERROR_PASSWORD_REQUIRED;
    return KPZ_OK;
}

int restoreFile(const char* source, const char* destination, const char* password, unsigned flags,
                kpz_progress_callback progress, void* user) {
    Password p;
    if (!source || !*source || (destination && !*destination) || !readPassword(password, p) ||
        (flags & ~kRestoreFlags) != 0)
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
    pickBufferLength(*state, job.originalSize());
    installProgress(*state, progress, user, state->destWritten, job.originalSize());
    const bool hasCheck = job.hasCheck();
    o = job.run();
    state->hooks = {};
    if (!o.ok()) return restoreCode(o, job.passwordOn(), hasCheck);
    return finish(job.finish({.copyAttributes = !(flags & KPZ_FRESH_ATTRIBUTES)}));
}

} // namespace kpzapi

using namespace kpzapi;

extern "C" {

#define KPZ_STRINGIFY2(x) #x
#define KPZ_STRINGIFY(x) KPZ_STRINGIFY2(x)

const char* kpz_version_string(void) {
    return KPZ_STRINGIFY(KPZ_VERSION_MAJOR) "." KPZ_STRINGIFY(KPZ_VERSION_MINOR) "." KPZ_STRINGIFY(
        KPZ_VERSION_PATCH);
}

unsigned kpz_version_number(void) {
    return KPZ_VERSION_NUMBER;
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
    case KPZ_ERROR_WRONG_PASSWORD:
        return "wrong password: the restored data does not match the file's check value";
    case KPZ_ERROR_BUFFER_TOO_SMALL:
        return "the buffer is too small";
    case KPZ_ERROR_MORE_MEMBERS:
        return "the file holds further compressed files after the first";
    case KPZ_ERROR_TEMPORARY_FILE:
        return "the input could not be kept in a temporary file (is $TMPDIR, or /tmp, a "
               "writable folder with room?)";
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
    ErrnoScope scope;
    try {
        return compressFile(source, destination, password, flags, progress, user_data);
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

int kpz_restore_file_ex(const char* source, const char* destination, const char* password,
                        unsigned flags, kpz_progress_callback progress, void* user_data) {
    ErrnoScope scope;
    try {
        return restoreFile(source, destination, password, flags, progress, user_data);
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

} // extern "C"
