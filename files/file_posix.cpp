// SPDX-License-Identifier: BSD-3-Clause
// POSIX descriptors under File, and what stat tells about a file.
#include "fault_plan.h"
#include "file.h"
#include "file_info.h"
#include "file_system.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpz {

namespace sys {

int openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    // Refuse folders and other things that cannot be read as a run of bytes.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int openForWriting(const std::string& path, unsigned mode, bool exclusive) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC),
                  mode);
}

int64_t readSome(int fd, void* buffer, uint32_t count) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t writeSome(int fd, const void* data, uint32_t count) {
    ssize_t n;
    do {
        n = ::write(fd, data, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool closeDescriptor(int fd) {
    return ::close(fd) == 0;
}

} // namespace sys

bool File::createTemporary() {
    close();
    const char* folder = std::getenv("TMPDIR");
    const std::string dir = folder && *folder ? folder : "/tmp";
    int fd = -1;
#ifdef O_TMPFILE
    fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        // File systems without unnamed files: a private name, removed at once.
        std::string path = dir + "/kpz-spool-XXXXXX";
        fd = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(path.c_str());
    }
    return startWriting(fd);
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
    plannedReadRewrite(offset, buffer, n);
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

namespace {

FileTime timeOf(const struct timespec& t) {
    return {static_cast<int64_t>(t.tv_sec), static_cast<uint32_t>(t.tv_nsec)};
}

void fill(const struct stat& st, FileInfo& info) {
    info.type = S_ISREG(st.st_mode)   ? FileInfo::Type::Regular
                : S_ISDIR(st.st_mode) ? FileInfo::Type::Folder
                                      : FileInfo::Type::Special;
    info.size = static_cast<uint64_t>(st.st_size);
    info.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    info.haveIdentity = true;
    info.permissions = st.st_mode & 07777;
    info.accessed = timeOf(st.st_atim);
    info.modified = timeOf(st.st_mtim);
    info.changed = timeOf(st.st_ctim);
}

} // namespace

bool pathInfo(const std::string& path, FileInfo& info) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    fill(st, info);
    return true;
}

bool descriptorInfo(int fd, FileInfo& info) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    fill(st, info);
    return true;
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

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

} // namespace kpz
