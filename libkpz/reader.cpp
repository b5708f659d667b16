// SPDX-License-Identifier: BSD-3-Clause
// The reader: the restored bytes of a .kpz file, read in order, from a path, a descriptor
// or the caller's own read (and seek) functions.
#include "api_internal.h"
#include "kpz.h"
#include "memory_jobs.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace kpzapi;

// The decoder runs on a thread of its own and hands each flushed piece of restored bytes
// to kpz_reader_read, waiting until the reader has taken all of it: the bytes are copied
// once, straight from the decoder's buffer, and memory stays at one codec record whatever
// the file's size.
struct kpz_reader {
    std::unique_ptr<kpz::CodecState> state;
    std::unique_ptr<kpz::RestoreJob> job;     // its verdict is the reader's
    std::unique_ptr<CallbackInput> callbacks; // for the caller's functions
    bool passwordOn = false;
    uint64_t originalSize = 0;
    int64_t knownLength = -1; // the compressed file's length, when it can be had up front
    std::string storedName;
    std::string outputName;
    bool hasCheck = false; // the file's last bytes are a check trailer, where that was seen

    std::thread decoder;
    mutable std::mutex lock;
    std::condition_variable changed;
    bool started = false;           // the decoder has been started
    const uint8_t* piece = nullptr; // the piece on offer, and its bytes not yet taken
    uint32_t pieceLeft = 0;
    bool finished = false; // the decoder is done; result says how it went
    bool closing = false;  // the reader is being closed: the decoder is to stop
    Outcome result;
    bool checked = false;        // the run found a matching check trailer
    int64_t compressedSize = -1; // known once the run succeeded
    int64_t bytesAfter = -1;     // the same
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

    // Takes the header and what the reader tells about it; a protected file needs its
    // password.
    int accept(kpz::RestoreJob& j, const Password& p) {
        passwordOn = j.passwordOn();
        originalSize = j.originalSize();
        if (passwordOn && !p.given) return KPZ_ERROR_PASSWORD_REQUIRED;
        j.setPassword(p);
        storedName = j.storedName();
        outputName = j.outputName();
        return KPZ_OK;
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

    // The job decodes and judges the member: its check value, and what follows it.
    void decode() {
        Handoff sink(*this);
        Outcome o;
        bool endsWithCheck = false;
        try {
            job->sendOutputTo(sink);
            o = job->run();
            // A protected file that does not decode: whether it holds a check value decides
            // between a wrong password and damage. On a stream that is known only at its
            // end, which the verdict waits for, as the other ways in see it at once.
            if (passwordOn && !hasCheck &&
                (o.problem == Problem::Damaged || o.problem == Problem::CheckMismatch))
                endsWithCheck = job->endsWithCheck();
        } catch (...) {
            o.problem = Problem::SourceRead;
        }
        std::lock_guard<std::mutex> guard(lock);
        if (endsWithCheck) hasCheck = true;
        result = o;
        if (o.ok()) {
            checked = job->checked();
            bytesAfter = static_cast<int64_t>(job->trailingBytes());
            compressedSize = static_cast<int64_t>(job->memberLength() + job->trailingBytes());
        }
        finished = true;
        changed.notify_all();
    }

    // Safe to call from several threads at once: everything below runs under the lock, so
    // the decoder starts exactly once and each piece goes to one caller.
    int64_t read(void* buffer, size_t size, uint64_t limit) {
        std::unique_lock<std::mutex> guard(lock);
        if (error != KPZ_OK) return error;
        if (size == 0) return 0;
        if (!started) {
            started = true;
            pickBufferLength(*state, originalSize);
            decoder = std::thread([this] { decode(); });
        }
        const uint64_t total = originalSize;
        for (;;) {
            changed.wait(guard, [this] { return pieceLeft > 0 || finished; });
            if (pieceLeft > 0) {
                // Never more than the stored size, whatever the decoder hands over.
                const uint64_t wanted =
                    std::min<uint64_t>({size, pieceLeft, total - delivered, limit});
                std::memcpy(buffer, piece, wanted);
                piece += wanted;
                pieceLeft -= static_cast<uint32_t>(wanted);
                delivered += wanted;
                if (total == delivered) pieceLeft = 0;
                if (pieceLeft == 0) changed.notify_all();
                if (wanted > 0) return static_cast<int64_t>(wanted);
                continue;
            }
            // The decoder has finished: the end of the file, or why it stopped.
            if (!result.ok() || delivered != total) {
                error = result.ok() ? KPZ_ERROR_DAMAGED : restoreCode(result, passwordOn, hasCheck);
                return error;
            }
            return 0;
        }
    }
};

namespace {

// Makes a reader and its codec record; NULL with *code set on failure.
std::unique_ptr<kpz_reader> newReader(const char* password, Password& p, int& code) {
    if (!readPassword(password, p)) {
        code = KPZ_ERROR_ARGUMENT;
        return nullptr;
    }
    auto r = std::make_unique<kpz_reader>();
    r->state = newState();
    if (!r->state) {
        code = KPZ_ERROR_NO_MEMORY;
        return nullptr;
    }
    return r;
}

// Opens a reader through a restore job, on a path or on a descriptor.
kpz_reader* openJob(const char* path, int fd, const char* password, int* error) {
    ErrnoScope scope;
    int code = KPZ_OK;
    kpz_reader* reader = nullptr;
    try {
        Password p;
        if ((path && !*path) || (!path && fd < 0)) {
            code = KPZ_ERROR_ARGUMENT;
        } else if (auto r = newReader(password, p, code)) {
            r->job = std::make_unique<kpz::RestoreJob>(*r->state);
            Outcome o = path ? r->job->open(path) : r->job->openDescriptor(fd, "descriptor");
            if (o.ok()) o = r->job->readHeader();
            code = o.ok() ? r->accept(*r->job, p) : finish(o);
            if (code == KPZ_OK) {
                r->hasCheck = r->job->hasCheck();
                // The length is known for a regular file read from its start.
                if (r->job->sourceLength() > 0)
                    r->knownLength = static_cast<int64_t>(r->job->sourceLength());
                reader = r.release();
            }
        }
    } catch (...) {
        code = KPZ_ERROR_NO_MEMORY;
    }
    if (error) *error = code;
    return reader;
}

// Reads exactly count bytes through the caller's read function; false when they are not
// there.
bool readExactly(kpz_read_callback read, void* user, uint8_t* buffer, size_t count) {
    while (count > 0) {
        const int64_t n = read(user, buffer, count);
        if (n <= 0 || static_cast<uint64_t>(n) > count) return false;
        buffer += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

extern "C" {

kpz_reader* kpz_reader_open(const char* path, const char* password, int* error) {
    if (!path) {
        if (error) *error = KPZ_ERROR_ARGUMENT;
        return nullptr;
    }
    return openJob(path, -1, password, error);
}

kpz_reader* kpz_reader_open_fd(int fd, const char* password, int* error) {
    return openJob(nullptr, fd, password, error);
}

kpz_reader* kpz_reader_open_callbacks(kpz_read_callback read, kpz_seek_callback seek,
                                      void* user_data, const char* password, int* error) {
    ErrnoScope scope;
    int code = KPZ_OK;
    kpz_reader* reader = nullptr;
    try {
        Password p;
        if (!read) {
            code = KPZ_ERROR_ARGUMENT;
        } else if (auto r = newReader(password, p, code)) {
            r->callbacks = std::make_unique<CallbackInput>(read, user_data);
            // With a seek function the length is known, and a check value at the end can
            // be looked for before the payload is read; the file starts where the caller's
            // stream stands. A seek function that answers -1 before anything has moved
            // cannot seek: the data is then read as a stream, as without one.
            uint64_t length = kpz::RestoreJob::kUnknownLength;
            bool sought = true;
            const int64_t start = seek ? seek(user_data, 0, KPZ_SEEK_CUR) : -1;
            const int64_t last = start >= 0 ? seek(user_data, 0, KPZ_SEEK_END) : -1;
            if (last >= 0) {
                // The data has moved to its end: it has to come back to the start.
                if (last >= start) {
                    length = static_cast<uint64_t>(last - start);
                    uint8_t tail[kpz::kCheckValueBytes];
                    if (length >= kpz::kShortestCheckedFile &&
                        seek(user_data, last - static_cast<int64_t>(kpz::kCheckValueBytes),
                             KPZ_SEEK_SET) >= 0 &&
                        readExactly(read, user_data, tail, sizeof tail))
                        r->hasCheck = kpz::isCheckValue(tail, sizeof tail);
                }
                sought = seek(user_data, start, KPZ_SEEK_SET) == start;
            }
            if (!sought) {
                code = KPZ_ERROR_READ;
            } else {
                r->job = std::make_unique<kpz::RestoreJob>(*r->state);
                Outcome o = r->job->openStream(*r->callbacks, length, "callbacks");
                if (o.ok()) o = r->job->readHeader();
                code = o.ok() ? r->accept(*r->job, p) : finish(o);
                if (length != kpz::RestoreJob::kUnknownLength)
                    r->knownLength = static_cast<int64_t>(length);
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
    return reader ? reader->originalSize : 0;
}

const char* kpz_reader_stored_name(const kpz_reader* reader) {
    return reader ? reader->storedName.c_str() : "";
}

const char* kpz_reader_output_name(const kpz_reader* reader) {
    return reader ? reader->outputName.c_str() : "";
}

int kpz_reader_has_password(const kpz_reader* reader) {
    return reader && reader->passwordOn ? 1 : 0;
}

int kpz_reader_has_check(const kpz_reader* reader) {
    if (!reader) return 0;
    std::lock_guard<std::mutex> guard(reader->lock);
    return reader->hasCheck || (reader->finished && reader->checked) ? 1 : 0;
}

int64_t kpz_reader_compressed_size(const kpz_reader* reader) {
    if (!reader) return KPZ_ERROR_ARGUMENT;
    std::lock_guard<std::mutex> guard(reader->lock);
    return reader->finished && reader->result.ok() ? reader->compressedSize : reader->knownLength;
}

int64_t kpz_reader_bytes_after(const kpz_reader* reader) {
    if (!reader) return KPZ_ERROR_ARGUMENT;
    std::lock_guard<std::mutex> guard(reader->lock);
    return reader->finished ? reader->bytesAfter : -1;
}

long kpz_reader_read(kpz_reader* reader, void* buffer, size_t size) {
    ErrnoScope scope;
    if (!reader || (!buffer && size > 0)) return KPZ_ERROR_ARGUMENT;
    try {
        return static_cast<long>(reader->read(buffer, size, LONG_MAX));
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

int64_t kpz_reader_read64(kpz_reader* reader, void* buffer, size_t size) {
    ErrnoScope scope;
    if (!reader || (!buffer && size > 0)) return KPZ_ERROR_ARGUMENT;
    try {
        return reader->read(buffer, size, INT64_MAX);
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

void kpz_reader_close(kpz_reader* reader) {
    ErrnoScope scope;
    delete reader;
}

} // extern "C"
