// SPDX-License-Identifier: BSD-3-Clause
// The reader: the restored bytes of a .kpz file, read in order, from a path, a descriptor
// or the caller's own read (and seek) functions.
#include "api_internal.h"
#include "check_trailer.h"
#include "container.h"
#include "kpz.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace kpzapi;

namespace {

// A restore job whose source the reader decodes itself, into the caller's buffers.
class InputJob : public kpz::RestoreJob {
  public:
    using RestoreJob::RestoreJob;
    kpz::File& input() { return source_; }
};

// The caller's read function as the codec's input: each read is filled completely unless
// the data ends, as the codec expects.
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

// Counts the bytes read through it, for the compressed size of a stream.
class CountingInput final : public kpz::Stream {
  public:
    explicit CountingInput(kpz::Stream& in) : in_(in) {}
    int32_t read(void* buffer, uint32_t count) override {
        const int32_t n = in_.read(buffer, count);
        if (n > 0) count_ += static_cast<uint64_t>(n);
        return n;
    }
    uint32_t write(const void*, uint32_t) override { return 0; }
    uint64_t count() const { return count_; }

  private:
    kpz::Stream& in_;
    uint64_t count_ = 0;
};

} // namespace

// The decoder runs on a thread of its own and hands each flushed piece of restored bytes
// to kpz_reader_read, waiting until the reader has taken all of it: the bytes are copied
// once, straight from the decoder's buffer, and memory stays at one codec record whatever
// the file's size.
struct kpz_reader {
    std::unique_ptr<kpz::CodecState> state;
    std::unique_ptr<InputJob> job;            // for a path or a descriptor
    std::unique_ptr<CallbackInput> callbacks; // for the caller's functions
    kpz::Stream* input = nullptr;             // where the payload comes from
    kpz::Header header;
    uint64_t headerBytes = 0;
    int64_t knownLength = -1; // the compressed file's length, when it can be had up front
    uint16_t passwordCode = 0;
    std::string storedName;
    std::string outputName;
    bool hasCheck = false;

    std::thread decoder;
    mutable std::mutex lock;
    std::condition_variable changed;
    bool started = false;           // the decoder has been started
    const uint8_t* piece = nullptr; // the piece on offer, and its bytes not yet taken
    uint32_t pieceLeft = 0;
    bool finished = false; // the decoder is done; result, end and consumed say how it went
    bool closing = false;  // the reader is being closed: the decoder is to stop
    Outcome result;
    kpz::PayloadEnd end;
    uint64_t consumed = 0; // bytes of the source after the header that the decoder read
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
    int accept(const kpz::Header& h, const Password& p) {
        header = h;
        headerBytes = kpz::kHeaderFixedBytes + h.nameLength;
        if (h.passwordOn && !p.given) return KPZ_ERROR_PASSWORD_REQUIRED;
        passwordCode = p.code;
        storedName = h.storedName;
        outputName = kpz::safeOutputName(h.storedName);
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

    void decode() {
        Handoff sink(*this);
        CountingInput counted(*input);
        kpz::PayloadEnd e;
        Outcome o;
        try {
            o = checked(kpz::decodePayload(*state, counted, header, sink, passwordCode, e),
                        hasCheck, e);
        } catch (...) {
            o.problem = Problem::SourceRead;
        }
        std::lock_guard<std::mutex> guard(lock);
        result = o;
        end = e;
        consumed = counted.count();
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
            pickBufferLength(*state, header.originalSize);
            decoder = std::thread([this] { decode(); });
        }
        const uint64_t total = header.originalSize;
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
                error = result.ok() ? KPZ_ERROR_DAMAGED
                                    : restoreCode(result, header.passwordOn, hasCheck);
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
            r->job = std::make_unique<InputJob>(*r->state);
            Outcome o = path ? r->job->open(path) : r->job->openDescriptor(fd, "descriptor");
            if (o.ok()) o = r->job->readHeader();
            code = o.ok() ? r->accept(r->job->header(), p) : finish(o);
            if (code == KPZ_OK) {
                r->input = &r->job->input();
                r->hasCheck = r->job->hasCheck();
                // hasCheck is true only for a regular file read from its start.
                const struct stat& st = r->job->sourceAttributes();
                if (S_ISREG(st.st_mode) &&
                    r->job->input().position() == static_cast<int64_t>(r->headerBytes))
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
            r->input = r->callbacks.get();
            // With a seek function the length is known, and a check value at the end can
            // be looked for before the payload is read; the file starts where the caller's
            // stream stands.
            uint64_t length = UINT64_MAX;
            bool sought = true;
            if (seek) {
                const int64_t start = seek(user_data, 0, KPZ_SEEK_CUR);
                const int64_t last = start >= 0 ? seek(user_data, 0, KPZ_SEEK_END) : -1;
                if (last >= start && start >= 0) {
                    length = static_cast<uint64_t>(last - start);
                    uint8_t tail[kpz::kTrailerBytes];
                    uint64_t hash = 0;
                    if (length >= kpz::kHeaderFixedBytes + 4 + kpz::kTrailerBytes &&
                        seek(user_data, last - kpz::kTrailerBytes, KPZ_SEEK_SET) >= 0 &&
                        readExactly(read, user_data, tail, sizeof tail))
                        r->hasCheck = kpz::decodeTrailer(tail, sizeof tail, hash);
                }
                sought = start >= 0 && seek(user_data, start, KPZ_SEEK_SET) == start;
            }
            if (!sought) {
                code = KPZ_ERROR_READ;
            } else {
                kpz::Header h;
                const Outcome o = kpz::readCompressedHeader(*r->input, length, h);
                code = o.ok() ? r->accept(h, p) : finish(o);
                if (length != UINT64_MAX) r->knownLength = static_cast<int64_t>(length);
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
    return reader ? reader->header.originalSize : 0;
}

const char* kpz_reader_stored_name(const kpz_reader* reader) {
    return reader ? reader->storedName.c_str() : "";
}

const char* kpz_reader_output_name(const kpz_reader* reader) {
    return reader ? reader->outputName.c_str() : "";
}

int kpz_reader_has_password(const kpz_reader* reader) {
    return reader && reader->header.passwordOn ? 1 : 0;
}

int kpz_reader_has_check(const kpz_reader* reader) {
    if (!reader) return 0;
    std::lock_guard<std::mutex> guard(reader->lock);
    return reader->hasCheck || (reader->finished && reader->end.checked) ? 1 : 0;
}

int64_t kpz_reader_compressed_size(const kpz_reader* reader) {
    if (!reader) return KPZ_ERROR_ARGUMENT;
    std::lock_guard<std::mutex> guard(reader->lock);
    if (reader->finished && reader->result.ok())
        return static_cast<int64_t>(reader->headerBytes + reader->consumed);
    return reader->knownLength;
}

int64_t kpz_reader_bytes_after(const kpz_reader* reader) {
    if (!reader) return KPZ_ERROR_ARGUMENT;
    std::lock_guard<std::mutex> guard(reader->lock);
    if (!reader->finished || !reader->result.ok()) return -1;
    return static_cast<int64_t>(reader->end.trailingBytes);
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
