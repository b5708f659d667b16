// SPDX-License-Identifier: BSD-3-Clause
// Windows file access through the wide (UTF-16) functions under File, and what the system
// tells about a file. Files are opened with every sharing mode, as POSIX files are, so
// that a file being read can still be renamed or removed by others; the handle is wrapped
// in a C runtime descriptor, which the rest of the program passes around.
#include "file.h"
#include "file_info.h"
#include "file_system.h"

#include "windows_text.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace kpz {

namespace {

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

namespace sys {

int openForReading(const std::string& path) {
    // CreateFileW refuses folders for this access, as the POSIX layer does.
    return openDescriptor(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

int openForWriting(const std::string& path, unsigned, bool exclusive) {
    return openDescriptor(path, GENERIC_READ | GENERIC_WRITE,
                          exclusive ? CREATE_NEW : CREATE_ALWAYS, _O_RDWR);
}

int64_t readSome(int fd, void* buffer, uint32_t count) {
    DWORD n = 0;
    if (ReadFile(handleOf(fd), buffer, count, &n, nullptr)) return n;
    // The far end of a pipe closing is its end of file.
    if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
    win::failWithLastError();
    return -1;
}

int64_t writeSome(int fd, const void* data, uint32_t count) {
    DWORD n = 0;
    if (WriteFile(handleOf(fd), data, count, &n, nullptr)) return n;
    win::failWithLastError();
    return -1;
}

bool closeDescriptor(int fd) {
    return _close(fd) == 0;
}

} // namespace sys

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
    return startWriting(fd_);
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

namespace {

// FILETIME and the change time count 100 ns steps from 1601.
FileTime timeOf(uint64_t ticks) {
    constexpr uint64_t kPerSecond = 10000000;
    constexpr int64_t kSecondsBefore1970 = 11644473600;
    return {static_cast<int64_t>(ticks / kPerSecond) - kSecondsBefore1970,
            static_cast<uint32_t>(ticks % kPerSecond) * 100};
}

FileTime timeOf(const FILETIME& t) {
    return timeOf((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

bool infoOf(HANDLE h, FileInfo& info) {
    info = FileInfo{};
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_DISK) {
        // A pipe, console or device: no identity, size or times to tell.
        if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR)
            return win::failWithLastError();
        info.type = FileInfo::Type::Special;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION data{};
    if (!GetFileInformationByHandle(h, &data)) {
        // A handle that tells its size but nothing more (a host file Wine passes on as a
        // standard handle): a regular file without identity.
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(h, &size)) return win::failWithLastError();
        info.type = FileInfo::Type::Regular;
        info.size = static_cast<uint64_t>(size.QuadPart);
        return true;
    }
    const bool folder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    info.type = folder ? FileInfo::Type::Folder : FileInfo::Type::Regular;
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.identity.device = data.dwVolumeSerialNumber;
    info.identity.index = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    info.haveIdentity = true;
    // The bits the C runtime reports: read-only or not.
    info.permissions = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    info.accessed = timeOf(data.ftLastAccessTime);
    info.modified = timeOf(data.ftLastWriteTime);
    FILE_BASIC_INFO basic{};
    info.changed = GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
                       ? timeOf(static_cast<uint64_t>(basic.ChangeTime.QuadPart))
                       : info.modified;
    return true;
}

} // namespace

bool pathInfo(const std::string& path, FileInfo& info) {
    const HANDLE h = openForAttributes(path);
    if (h == INVALID_HANDLE_VALUE) return win::failWithLastError();
    const bool ok = infoOf(h, info);
    const int e = errno;
    CloseHandle(h);
    errno = e;
    return ok;
}

bool descriptorInfo(int fd, FileInfo& info) {
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    return infoOf(h, info);
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

bool removeFile(const std::string& path) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) {
        errno = EINVAL;
        return false;
    }
    return DeleteFileW(wide.c_str()) || win::failWithLastError();
}

} // namespace kpz
