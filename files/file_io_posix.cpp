// SPDX-License-Identifier: BSD-3-Clause
// POSIX file access with an optional fault plan for tests.
#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpz {

namespace {
FaultPlan faultPlan;
int readCalls = 0;
} // namespace

void installFaultPlan(const FaultPlan& plan) {
    faultPlan = plan;
    readCalls = 0;
}

const FaultPlan& activeFaultPlan() {
    return faultPlan;
}

void clearFaultPlan() {
    installFaultPlan(FaultPlan{});
}

File::~File() {
    close();
}

bool File::openRead(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    // Refuse folders and other things that cannot be read as a run of bytes.
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        close();
        return false;
    }
    writing_ = false;
    return true;
}

static int openForWrite(const std::string& path, int flags, unsigned mode) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, mode);
}

bool File::create(const std::string& path, unsigned mode) {
    close();
    fd_ = openForWrite(path, O_TRUNC, mode);
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::createNew(const std::string& path, unsigned mode) {
    close();
    fd_ = openForWrite(path, O_EXCL, mode);
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::createTemporary() {
    close();
    const char* folder = std::getenv("TMPDIR");
    const std::string dir = folder && *folder ? folder : "/tmp";
#ifdef O_TMPFILE
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd_ < 0) {
        // File systems without unnamed files: a private name, removed at once.
        std::string path = dir + "/kpz-spool-XXXXXX";
        fd_ = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd_ >= 0) ::unlink(path.c_str());
    }
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::duplicate(const File& other) {
    close();
    // The copy shares the other's offset: only for a file the other no longer reads.
    fd_ = ::fcntl(other.fd_, F_DUPFD_CLOEXEC, 0);
    writing_ = false;
    return fd_ >= 0 && rewind();
}

bool File::rewind() {
    writing_ = false;
    return fd_ >= 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
}

bool File::adoptCopy(int fd, bool forWriting) {
    close();
    // Above the standard descriptors, so a copy can never be mistaken for one of them.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return false;
    adopt(copy, forWriting);
    return true;
}

int64_t File::readAt(uint64_t offset, void* buffer, uint32_t count) {
    if (fd_ < 0) return -1;
    ssize_t n;
    do {
        n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n > 0 && faultPlan.rewriteRead)
        faultPlan.rewriteRead(offset, buffer, static_cast<uint32_t>(n));
    return n;
}

uint32_t File::writeAt(uint64_t offset, const void* data, uint32_t count) {
    if (fd_ < 0) return 0;
    const auto* p = static_cast<const char*>(data);
    uint32_t total = 0;
    while (total < count) {
        const ssize_t n =
            ::pwrite(fd_, p + total, count - total, static_cast<off_t>(offset + total));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    return total;
}

int64_t File::position() const {
    if (fd_ < 0) return -1;
    return ::lseek(fd_, 0, SEEK_CUR);
}

void File::adopt(int fd, bool forWriting) {
    close();
    fd_ = fd;
    writing_ = forWriting && fd >= 0;
    writeOffset_ = 0;
}

int32_t File::read(void* buffer, uint32_t count) {
    if (fd_ < 0) return -1;
    if (faultPlan.readFailsAt > 0 && ++readCalls == faultPlan.readFailsAt) return -1;
    auto* p = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        ssize_t n = ::read(fd_, p + total, count - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(total);
}

uint32_t File::write(const void* data, uint32_t count) {
    if (fd_ < 0) return 0;
    uint32_t allowed = count;
    if (faultPlan.writeStopsAt >= 0) {
        uint64_t stop = static_cast<uint64_t>(faultPlan.writeStopsAt);
        allowed = writeOffset_ >= stop
                      ? 0
                      : static_cast<uint32_t>(std::min<uint64_t>(count, stop - writeOffset_));
    }
    const auto* p = static_cast<const char*>(data);
    uint32_t total = 0;
    while (total < allowed) {
        ssize_t n = ::write(fd_, p + total, allowed - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    writeOffset_ += total;
    return total;
}

int64_t File::length() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool File::setLength(uint64_t size) {
    if (fd_ < 0) return false;
    int r;
    do {
        r = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool File::close() {
    bool ok = true;
    if (fd_ >= 0) ok = ::close(fd_) == 0;
    fd_ = -1;
    writing_ = false;
    return ok;
}

bool fileIdentity(const std::string& path, FileIdentity& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool descriptorIdentity(int fd, FileIdentity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void ensureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free descriptor, which is this one. Opened the other way
        // round (standard input for writing, output and error for reading), it still
        // refuses every read or write as the closed one did, so a run that was asked to
        // write to a closed standard output fails as before.
        const int opened = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

bool positionalIoFromThreads() {
    // pread and pwrite take the offset with the call and leave the descriptor's alone.
    return true;
}

unsigned usableProcessors() {
#ifdef __linux__
    // The affinity mask, not the processors online: a run pinned to one processor (taskset,
    // a container's cpuset) has only that one.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        return n > 0 ? static_cast<unsigned>(n) : 1u;
    }
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

unsigned otherRunnableThreads() {
#ifdef __linux__
    // The fourth field of /proc/loadavg: "runnable/existing" scheduling entities, now.
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned long runnable = 0;
    int field = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ') {
            if (++field == 3) {
                runnable = std::strtoul(p + 1, nullptr, 10);
                break;
            }
        }
    }
    return runnable > 1 ? static_cast<unsigned>(runnable - 1) : 0u;
#else
    return 0;
#endif
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

} // namespace kpz
