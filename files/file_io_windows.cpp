// SPDX-License-Identifier: BSD-3-Clause
// Windows file access through the wide (UTF-16) functions, with the same fault plan for
// tests. Files are opened with every sharing mode, as POSIX files are, so that a file
// being read can still be renamed or removed by others; the handle is wrapped in a C
// runtime descriptor so that fstat() works on it too.
#include "file_io.h"

#include "windows_text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace kpz {

namespace {

FaultPlan faultPlan;
int readCalls = 0;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Opens path with the given access and creation rule; -1 with errno set on failure.
int openDescriptor(const std::string& path, DWORD access, DWORD creation, int crtFlags) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) {
        errno = EINVAL;
        return -1;
    }
    const HANDLE h = CreateFileW(wide.c_str(), access, kShareAll, nullptr, creation,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        win::failWithLastError();
        return -1;
    }
    // Only files on disk: a console, pipe or device is not a run of bytes here.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        errno = EINVAL;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

// Opens path for reading its attributes only, folders included, following links.
HANDLE openForAttributes(const std::string& path) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

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
    // CreateFileW refuses folders for this access, as the POSIX layer does.
    fd_ = openDescriptor(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
    writing_ = false;
    return fd_ >= 0;
}

bool File::create(const std::string& path, unsigned) {
    close();
    fd_ = openDescriptor(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, _O_RDWR);
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::createNew(const std::string& path, unsigned) {
    close();
    fd_ = openDescriptor(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, _O_RDWR);
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::createTemporary() {
    close();
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) return win::failWithLastError();
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        wchar_t path[MAX_PATH + 1];
        if (!GetTempFileNameW(folder, L"kpz", 0, path)) return win::failWithLastError();
        // GetTempFileNameW made the file; it is opened again to be dropped on close.
        const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                                     nullptr, TRUNCATE_EXISTING,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            DeleteFileW(path);
            errno = win::errnoFor(e);
            return false;
        }
        fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
        if (fd_ < 0) {
            CloseHandle(h);
            errno = EMFILE;
            return false;
        }
    }
    writing_ = fd_ >= 0;
    writeOffset_ = 0;
    return fd_ >= 0;
}

bool File::duplicate(const File& other) {
    close();
    // The copy shares the other's offset: only for a file the other no longer reads.
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (other.fd_ < 0 || !DuplicateHandle(process, handleOf(other.fd_), process, &copy, 0, FALSE,
                                          DUPLICATE_SAME_ACCESS))
        return win::failWithLastError();
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) {
        CloseHandle(copy);
        errno = EMFILE;
        return false;
    }
    writing_ = false;
    return rewind();
}

bool File::rewind() {
    writing_ = false;
    LARGE_INTEGER zero{};
    return fd_ >= 0 && SetFilePointerEx(handleOf(fd_), zero, nullptr, FILE_BEGIN);
}

bool File::adoptCopy(int fd, bool forWriting) {
    close();
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    const HANDLE original = handleOf(fd);
    if (original == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(process, original, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return win::failWithLastError();
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(copy),
                                           (forWriting ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(copy);
        errno = EMFILE;
        return false;
    }
    adopt(descriptor, forWriting);
    return true;
}

int64_t File::readAt(uint64_t offset, void* buffer, uint32_t count) {
    if (fd_ < 0) return -1;
    const HANDLE h = handleOf(fd_);
    // A read at an offset moves the position of a handle opened for plain reads: it is put
    // back, as pread leaves it.
    LARGE_INTEGER here{}, zero{};
    if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT)) {
        win::failWithLastError();
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const bool ok = ReadFile(h, buffer, count, &n, &at) || GetLastError() == ERROR_HANDLE_EOF;
    const DWORD e = GetLastError();
    SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
    if (!ok) {
        errno = win::errnoFor(e);
        return -1;
    }
    return n;
}

uint32_t File::writeAt(uint64_t offset, const void* data, uint32_t count) {
    if (fd_ < 0) return 0;
    const HANDLE h = handleOf(fd_);
    // A write at an offset moves the handle's position: it is put back, as pwrite leaves it.
    LARGE_INTEGER here{}, zero{};
    if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT)) {
        win::failWithLastError();
        return 0;
    }
    const auto* p = static_cast<const char*>(data);
    uint32_t total = 0;
    DWORD e = ERROR_SUCCESS;
    while (total < count) {
        const uint64_t to = offset + total;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(to);
        at.OffsetHigh = static_cast<DWORD>(to >> 32);
        DWORD n = 0;
        if (!WriteFile(h, p + total, count - total, &n, &at)) {
            e = GetLastError();
            break;
        }
        if (n == 0) break;
        total += n;
    }
    SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
    if (e != ERROR_SUCCESS) errno = win::errnoFor(e);
    return total;
}

int64_t File::position() const {
    if (fd_ < 0) return -1;
    const HANDLE h = handleOf(fd_);
    LARGE_INTEGER here{}, zero{};
    if (GetFileType(h) != FILE_TYPE_DISK || !SetFilePointerEx(h, zero, &here, FILE_CURRENT))
        return -1;
    return here.QuadPart;
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
    const HANDLE h = handleOf(fd_);
    auto* p = static_cast<char*>(buffer);
    uint32_t total = 0;
    while (total < count) {
        DWORD n = 0;
        if (!ReadFile(h, p + total, count - total, &n, nullptr)) {
            // The far end of a pipe closing is its end of file.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            win::failWithLastError();
            return -1;
        }
        if (n == 0) break;
        total += n;
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
    const HANDLE h = handleOf(fd_);
    const auto* p = static_cast<const char*>(data);
    uint32_t total = 0;
    while (total < allowed) {
        DWORD n = 0;
        if (!WriteFile(h, p + total, allowed - total, &n, nullptr)) {
            win::failWithLastError();
            break;
        }
        if (n == 0) break;
        total += n;
    }
    writeOffset_ += total;
    return total;
}

int64_t File::length() const {
    LARGE_INTEGER size{};
    if (fd_ < 0 || !GetFileSizeEx(handleOf(fd_), &size)) return -1;
    return size.QuadPart;
}

bool File::setLength(uint64_t size) {
    if (fd_ < 0) return false;
    const HANDLE h = handleOf(fd_);
    // The end of file moves to the file pointer, so move it there and back, as ftruncate
    // leaves the offset where it was.
    LARGE_INTEGER here{}, zero{}, target{};
    target.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h, zero, &here, FILE_CURRENT)) return win::failWithLastError();
    if (!SetFilePointerEx(h, target, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        const DWORD e = GetLastError();
        SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
        errno = win::errnoFor(e);
        return false;
    }
    return SetFilePointerEx(h, here, nullptr, FILE_BEGIN) != 0;
}

bool File::close() {
    bool ok = true;
    if (fd_ >= 0) ok = _close(fd_) == 0;
    fd_ = -1;
    writing_ = false;
    return ok;
}

bool fileIdentity(const std::string& path, FileIdentity& id) {
    const HANDLE h = openForAttributes(path);
    if (h == INVALID_HANDLE_VALUE) return win::failWithLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return win::failWithLastError();
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool descriptorIdentity(int fd, FileIdentity& id) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || GetFileInformationByHandle(h, &info) == 0) return false;
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    FileIdentity ia, ib;
    return fileIdentity(a, ia) && fileIdentity(b, ib) && ia == ib;
}

bool fileExists(const std::string& path) {
    std::wstring wide;
    return win::widenPath(path, wide) &&
           GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ensureStandardDescriptors() {
    // The C runtime gives a program started without standard handles descriptors that
    // refuse every call; files it opens never take descriptors 0 to 2.
}

bool positionalIoFromThreads() {
    // readAt and writeAt move the handle's one position and put it back: two threads at
    // once would each put back the other's.
    return false;
}

unsigned usableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
    unsigned n = 0;
    for (; process; process &= process - 1)
        ++n;
    return n;
}

unsigned otherRunnableThreads() {
    // Windows keeps no such count at hand.
    return 0;
}

bool removeFile(const std::string& path) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) {
        errno = EINVAL;
        return false;
    }
    return DeleteFileW(wide.c_str()) || win::failWithLastError();
}

} // namespace kpz
