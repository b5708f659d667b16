// SPDX-License-Identifier: BSD-3-Clause
// libkpz without files of its own: compressing from a descriptor or the caller's read
// function into a descriptor or the caller's write function, whole files in memory, and
// the test of a file.
#include "api_internal.h"
#include "host.h"
#include "memory_jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kpzapi;

namespace {

#ifndef _WIN32
// Where kpz_compress_fd's output began, so that a failed call takes back what it wrote to
// a regular file: the file is cut back to where the output began (its length at the
// start, when the descriptor stood past it, or appends) and the descriptor is put back
// where it stood. Bytes written to a pipe or socket cannot be taken back.
class OutputMark {
  public:
    explicit OutputMark(int fd) : fd_(fd) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
        position_ = ::lseek(fd, 0, SEEK_CUR);
        const int flags = ::fcntl(fd, F_GETFL);
        if (position_ < 0 || flags < 0) return;
        length_ = st.st_size;
        start_ = (flags & O_APPEND) ? st.st_size : std::min(position_, st.st_size);
        regular_ = true;
    }
    // Takes back what was written since the mark, when anything was; errno is kept.
    void takeBack() const {
        if (!regular_) return;
        const int saved = errno;
        struct stat st {};
        if (::lseek(fd_, 0, SEEK_CUR) != position_ ||
            (::fstat(fd_, &st) == 0 && st.st_size != length_)) {
            while (::ftruncate(fd_, start_) != 0 && errno == EINTR) {
            }
            ::lseek(fd_, position_, SEEK_SET);
        }
        errno = saved;
    }

  private:
    int fd_;
    bool regular_ = false;
    off_t position_ = 0; // the descriptor's position
    off_t length_ = 0;   // the file's length
    off_t start_ = 0;    // where the output began
};

// Keeps SIGPIPE from ending the program while the calling thread writes to a pipe or
// socket whose reader has gone: the write then fails with EPIPE, which the call reports as
// KPZ_ERROR_WRITE. A library cannot ask its caller to ignore the signal process-wide, so
// it blocks the signal for this thread only, takes back one that its own writes raised,
// and leaves one the caller already had pending.
class PipeSignalGuard {
  public:
    PipeSignalGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t before;
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &before);
        wasBlocked_ = sigismember(&before, SIGPIPE) == 1;
        sigset_t pending;
        wasPending_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalGuard() {
        const int saved = errno;
        sigset_t pending;
        if (!wasPending_ && ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        if (!wasBlocked_) ::pthread_sigmask(SIG_UNBLOCK, &pipe_, nullptr);
        errno = saved;
    }
    PipeSignalGuard(const PipeSignalGuard&) = delete;
    PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

  private:
    sigset_t pipe_;
    bool wasBlocked_ = false;
    bool wasPending_ = false;
};
#else
// Windows has neither SIGPIPE nor a way to cut a descriptor's file back here.
struct OutputMark {
    explicit OutputMark(int) {}
    void takeBack() const {}
};
struct PipeSignalGuard {
    // Declared, so that a guard that does nothing is not an unused variable.
    PipeSignalGuard() {}
    ~PipeSignalGuard() {}
};
#endif

// The caller's write function as a destination: a short or failed write stops the job.
class CallbackSink final : public kpz::Stream {
  public:
    CallbackSink(kpz_write_callback write, void* user) : write_(write), user_(user) {}
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        uint32_t total = 0;
        while (total < count) {
            const int64_t n = write_(user_, p + total, count - total);
            if (n <= 0 || n > static_cast<int64_t>(count - total)) break;
            total += static_cast<uint32_t>(n);
        }
        return total;
    }

  private:
    kpz_write_callback write_;
    void* user_;
};

// The caller's buffer as a destination of known room.
class BufferSink final : public kpz::Stream {
  public:
    BufferSink(void* buffer, size_t capacity)
        : buffer_(static_cast<uint8_t*>(buffer)), capacity_(capacity) {}
    int32_t read(void*, uint32_t) override { return -1; }
    uint32_t write(const void* data, uint32_t count) override {
        const size_t room = capacity_ - used_;
        const uint32_t n = count < room ? count : static_cast<uint32_t>(room);
        if (n > 0) std::memcpy(buffer_ + used_, data, n);
        used_ += n;
        return n;
    }
    size_t used() const { return used_; }

  private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t used_ = 0;
};

// Compresses what in holds into out, storing name: the job keeps the bytes in an unnamed
// temporary file first, because the header needs the size before the payload.
int compressStream(kpz::Stream& in, kpz::Stream& out, const char* name, const char* password,
                   unsigned flags, kpz_progress_callback progress, void* user) {
    Password p;
    if (!name || !readPassword(password, p) || (flags & ~kCompressFlags) != 0)
        return KPZ_ERROR_ARGUMENT;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    kpz::CompressJob job(*state);
    job.setPassword(p);
    Outcome o = job.openStream(in, name);
    if (!o.ok()) return finish(o);
    job.sendOutputTo(out);
    installProgress(*state, progress, user, state->sourceProcessed, job.progressTotal());
    if (progress && progress(0, job.progressTotal(), user) != 0) return KPZ_ERROR_CANCELLED;
    o = job.run((flags & KPZ_CHECK) != 0);
    state->hooks = {};
    return finish(o);
}

int compressBuffer(const void* source, size_t size, const char* name, const char* password,
                   unsigned flags, void* destination, size_t capacity, size_t* written) {
    Password p;
    if ((!source && size > 0) || !name || (!destination && capacity > 0) || !written ||
        !readPassword(password, p) || (flags & ~kCompressFlags) != 0)
        return KPZ_ERROR_ARGUMENT;
    *written = 0;
    if (const Outcome o = kpz::checkMemorySource(size, name); !o.ok()) return finish(o);
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    const std::vector<uint8_t> file = kpz::compressMemory(
        *state, static_cast<const uint8_t*>(source), size, name, p, (flags & KPZ_CHECK) != 0);
    *written = file.size();
    if (file.size() > capacity) return KPZ_ERROR_BUFFER_TOO_SMALL;
    std::memcpy(destination, file.data(), file.size());
    return KPZ_OK;
}

int restoreBuffer(const void* source, size_t size, const char* password, void* destination,
                  size_t capacity, size_t* restored) {
    Password p;
    if ((!source && size > 0) || (!destination && capacity > 0) || !restored ||
        !readPassword(password, p))
        return KPZ_ERROR_ARGUMENT;
    *restored = 0;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    const auto* bytes = static_cast<const uint8_t*>(source);
    kpz::ByteReader in(bytes, size);
    kpz::RestoreJob job(*state);
    job.setPassword(p);
    Outcome o = job.openStream(in, size, "buffer");
    if (o.ok()) o = job.readHeader();
    if (!o.ok()) return finish(o);
    if (job.passwordOn() && !p.given) return KPZ_ERROR_PASSWORD_REQUIRED;
    if (job.originalSize() > capacity) {
        *restored = job.originalSize();
        return KPZ_ERROR_BUFFER_TOO_SMALL;
    }
    const bool hasCheck = kpz::endsWithCheckValue(bytes, size);
    BufferSink sink(destination, capacity);
    job.sendOutputTo(sink);
    o = job.run();
    if (!o.ok()) return restoreCode(o, job.passwordOn(), hasCheck);
    *restored = sink.used();
    return KPZ_OK;
}

int testFile(const char* path, const char* password, kpz_progress_callback progress, void* user) {
    Password p;
    if (!path || !*path || !readPassword(password, p)) return KPZ_ERROR_ARGUMENT;
    auto state = newState();
    if (!state) return KPZ_ERROR_NO_MEMORY;
    kpz::RestoreJob job(*state);
    if (int e = openCompressed(job, path, p); e != KPZ_OK) return e;
    pickBufferLength(*state, job.originalSize());
    installProgress(*state, progress, user, state->destWritten, job.originalSize());
    const bool hasCheck = job.hasCheck();
    const Outcome o = job.test();
    state->hooks = {};
    return o.ok() ? KPZ_OK : restoreCode(o, job.passwordOn(), hasCheck);
}

// Runs one of the calls above with the library's errno rule and no exception escaping.
template <typename Call> int guarded(Call call) {
    ErrnoScope scope;
    try {
        return call();
    } catch (...) {
        return KPZ_ERROR_NO_MEMORY;
    }
}

} // namespace

extern "C" {

int kpz_compress_fd(int in_fd, int out_fd, const char* stored_name, const char* password,
                    unsigned flags, kpz_progress_callback progress, void* user_data) {
    return guarded([&] {
        if (in_fd < 0 || out_fd < 0) return int{KPZ_ERROR_ARGUMENT};
        const std::unique_ptr<kpz::Stream> in = kpz::standardStream(in_fd, false);
        if (!in) return finish(Outcome{Problem::OpenSource, errno, {}});
        const std::unique_ptr<kpz::Stream> out = kpz::standardStream(out_fd, true);
        if (!out) return finish(Outcome{Problem::OpenDestination, errno, {}});
        const OutputMark mark(out_fd);
        const PipeSignalGuard quiet;
        const int code =
            compressStream(*in, *out, stored_name, password, flags, progress, user_data);
        if (code != KPZ_OK) mark.takeBack();
        return code;
    });
}

int kpz_compress_callbacks(kpz_read_callback read, kpz_write_callback write, void* io_data,
                           const char* stored_name, const char* password, unsigned flags,
                           kpz_progress_callback progress, void* user_data) {
    return guarded([&] {
        if (!read || !write) return int{KPZ_ERROR_ARGUMENT};
        CallbackInput in(read, io_data);
        CallbackSink out(write, io_data);
        return compressStream(in, out, stored_name, password, flags, progress, user_data);
    });
}

size_t kpz_compress_bound(size_t size) {
    // The payload takes at most 65 bytes for every 64, plus the end pad; the header at most
    // 9 + 255 bytes, the check value 16.
    const size_t extra = size / 32 + 512;
    return size > SIZE_MAX - extra ? 0 : size + extra;
}

int kpz_compress_buffer(const void* source, size_t size, const char* stored_name,
                        const char* password, unsigned flags, void* destination, size_t capacity,
                        size_t* written) {
    return guarded([&] {
        return compressBuffer(source, size, stored_name, password, flags, destination, capacity,
                              written);
    });
}

int kpz_restore_buffer(const void* source, size_t size, const char* password, void* destination,
                       size_t capacity, size_t* restored) {
    return guarded(
        [&] { return restoreBuffer(source, size, password, destination, capacity, restored); });
}

int kpz_test_file(const char* path, const char* password, kpz_progress_callback progress,
                  void* user_data) {
    return guarded([&] { return testFile(path, password, progress, user_data); });
}

} // extern "C"
