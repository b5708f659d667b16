// SPDX-License-Identifier: BSD-3-Clause
#include "kpz_io.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <stdexcept>
#include <unistd.h>

namespace kpztest {

ScratchFolder::ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/libkpz-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Bytes readDescriptor(int fd) {
    Bytes out;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

Bytes readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    Bytes out = readDescriptor(fd);
    ::close(fd);
    return out;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done != bytes.size()) throw std::runtime_error("cannot write " + path);
}

int64_t memoryRead(void* io, void* buffer, size_t size) {
    auto* m = static_cast<MemoryIo*>(io);
    size_t n = std::min(size, m->in->size() - std::min(m->position, m->in->size()));
    if (m->most) n = std::min(n, m->most);
    if (n > 0) std::memcpy(buffer, m->in->data() + m->position, n);
    m->position += n;
    return static_cast<int64_t>(n);
}

int64_t memoryWrite(void* io, const void* data, size_t size) {
    auto* m = static_cast<MemoryIo*>(io);
    const size_t n = m->most ? std::min(size, m->most) : size;
    const auto* p = static_cast<const uint8_t*>(data);
    m->out.insert(m->out.end(), p, p + n);
    return static_cast<int64_t>(n);
}

int64_t memorySeek(void* io, int64_t offset, int whence) {
    auto* m = static_cast<MemoryIo*>(io);
    const int64_t base = whence == KPZ_SEEK_SET   ? 0
                         : whence == KPZ_SEEK_CUR ? static_cast<int64_t>(m->position)
                                                  : static_cast<int64_t>(m->in->size());
    if (base + offset < 0 || base + offset > static_cast<int64_t>(m->in->size())) return -1;
    m->position = static_cast<size_t>(base + offset);
    return static_cast<int64_t>(m->position);
}

namespace {

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

} // namespace

PipeFeed::PipeFeed(const Bytes& bytes) {
    int fds[2];
    makePipe(fds);
    read_ = fds[0];
    const int out = fds[1];
    writer_ = std::thread([out, &bytes] {
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(out, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(out);
    });
}

PipeFeed::~PipeFeed() {
    ::close(read_);
    writer_.join();
}

PipeDrain::PipeDrain() {
    int fds[2];
    makePipe(fds);
    write_ = fds[1];
    const int in = fds[0];
    reader_ = std::thread([this, in] {
        got_ = readDescriptor(in);
        ::close(in);
    });
}

Bytes PipeDrain::finish() {
    if (write_ >= 0) ::close(write_);
    write_ = -1;
    if (reader_.joinable()) reader_.join();
    return got_;
}

PipeDrain::~PipeDrain() {
    finish();
}

Bytes readToEnd(kpz_reader* reader, int64_t* last, size_t step) {
    Bytes out;
    Bytes buffer(step);
    int64_t n;
    while ((n = kpz_reader_read64(reader, buffer.data(), buffer.size())) > 0)
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    *last = n;
    return out;
}

} // namespace kpztest
