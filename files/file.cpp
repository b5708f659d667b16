// SPDX-License-Identifier: BSD-3-Clause
// What File does the same on every system: the fault plan on reads and writes, whole
// reads and writes out of the system's partial ones, and identity through FileInfo.
#include "file.h"

#include "fault_plan.h"
#include "file_info.h"
#include "file_system.h"

namespace kpz {

File::~File() {
    close();
}

bool File::openRead(const std::string& path) {
    close();
    fd_ = sys::openForReading(path);
    writing_ = false;
    return fd_ >= 0;
}

bool File::startWriting(int fd) {
    fd_ = fd;
    writing_ = fd >= 0;
    writeOffset_ = 0;
    return fd >= 0;
}

bool File::create(const std::string& path, unsigned mode) {
    close();
    return startWriting(sys::openForWriting(path, mode, false));
}

bool File::createNew(const std::string& path, unsigned mode) {
    close();
    return startWriting(sys::openForWriting(path, mode, true));
}

void File::adopt(int fd, bool forWriting) {
    close();
    startWriting(fd);
    writing_ = forWriting && fd >= 0;
}

int32_t File::read(void* buffer, uint32_t count) {
    if (fd_ < 0) return -1;
    if (plannedReadFails()) return -1;
    auto* p = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        const int64_t n = sys::readSome(fd_, p + total, count - total);
        if (n < 0) return -1;
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(total);
}

uint32_t File::write(const void* data, uint32_t count) {
    if (fd_ < 0) return 0;
    const uint32_t allowed = plannedWriteAllowance(writeOffset_, count);
    const auto* p = static_cast<const char*>(data);
    uint32_t total = 0;
    while (total < allowed) {
        const int64_t n = sys::writeSome(fd_, p + total, allowed - total);
        if (n <= 0) break;
        total += static_cast<uint32_t>(n);
    }
    writeOffset_ += total;
    return total;
}

bool File::close() {
    bool ok = true;
    if (fd_ >= 0) ok = sys::closeDescriptor(fd_);
    fd_ = -1;
    writing_ = false;
    return ok;
}

bool fileIdentity(const std::string& path, FileIdentity& id) {
    FileInfo info;
    if (!pathInfo(path, info) || !info.haveIdentity) return false;
    id = info.identity;
    return true;
}

bool descriptorIdentity(int fd, FileIdentity& id) {
    FileInfo info;
    if (!descriptorInfo(fd, info) || !info.haveIdentity) return false;
    id = info.identity;
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    FileIdentity ia, ib;
    return fileIdentity(a, ia) && fileIdentity(b, ib) && ia == ib;
}

bool sameVersion(const FileInfo& a, const FileInfo& b) {
    return a.haveIdentity && b.haveIdentity && a.identity == b.identity && a.type == b.type &&
           a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

} // namespace kpz
