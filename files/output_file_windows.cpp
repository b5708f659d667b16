// SPDX-License-Identifier: BSD-3-Clause
// Outputs on Windows: written under a random name in the output's folder, marked for
// deletion while they are written so that the system removes them whatever ends the
// program, and moved into place only once complete.
#define _CRT_RAND_S // rand_s, the system's random numbers
#include "output_file.h"
#include "output_file_system.h"
#include "windows_text.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace kpz {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool setDeleteOnClose(int fd, bool on) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(handleOf(fd), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

FILETIME fileTimeOf(const FileTime& time) {
    // FILETIME counts 100 ns steps from 1601; FileTime seconds from 1970.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(time.seconds) + 11644473600ULL) * 10000000ULL +
                            time.nanoseconds / 100;
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

} // namespace

OutputTarget inspectOutput(const std::string& finalPath) {
    std::wstring wide;
    if (!win::widenPath(finalPath, wide)) {
        errno = EINVAL;
        return OutputTarget::Unreadable;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return OutputTarget::Absent;
        errno = win::errnoFor(e);
        return OutputTarget::Unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return OutputTarget::Folder;
    // Device names such as NUL or CON exist in every folder: they are no place for a file.
    const HANDLE h =
        CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return OutputTarget::File;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    return type == FILE_TYPE_DISK ? OutputTarget::File : OutputTarget::Special;
}

namespace sys {

bool outputNameFits(const std::string&) {
    // Too long a name is refused when the output is created.
    return true;
}

int createUnnamed(const std::string&) {
    // Windows has no unnamed files; outputs always have a name of their own.
    errno = EOPNOTSUPP;
    return -1;
}

bool noUnnamedFiles(int error) {
    return error == EOPNOTSUPP;
}

int createExclusive(const std::string& path) {
    std::wstring wide;
    if (!win::widenPath(path, wide)) {
        errno = EINVAL;
        return -1;
    }
    // Read and write, so that a verification pass can read the output back.
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        win::failWithLastError();
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(wide.c_str());
        errno = EMFILE;
    }
    return fd;
}

bool dropOnClose(int fd) {
    // File systems that cannot do this keep the named file, which discard() and the
    // console handler remove.
    return setDeleteOnClose(fd, true);
}

bool keepOnClose(int fd) {
    return setDeleteOnClose(fd, false) || win::failWithLastError();
}

bool linkUnnamed(int, const std::string&) {
    // Never asked: Windows outputs always have a name.
    errno = EOPNOTSUPP;
    return false;
}

bool copyAttributes(int fd, const FileInfo& from) {
    // Windows keeps no permission bits beyond read-only, which an output must not take.
    const FILETIME accessed = fileTimeOf(from.accessed);
    const FILETIME modified = fileTimeOf(from.modified);
    return SetFileTime(handleOf(fd), nullptr, &accessed, &modified) || win::failWithLastError();
}

bool nameTaken(const std::string& path) {
    std::wstring wide;
    return win::widenPath(path, wide) &&
           GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool flushOutput(int fd, bool toDisk) {
    // Windows reports write errors as they happen; there is nothing kept back to collect.
    return !toDisk || FlushFileBuffers(handleOf(fd)) || win::failWithLastError();
}

bool moveName(const std::string& from, const std::string& to, bool replace, bool writeThrough) {
    std::wstring fromWide, toWide;
    if (!win::widenPath(from, fromWide) || !win::widenPath(to, toWide)) {
        errno = EINVAL;
        return false;
    }
    DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (writeThrough) flags |= MOVEFILE_WRITE_THROUGH;
    return MoveFileExW(fromWide.c_str(), toWide.c_str(), flags) || win::failWithLastError();
}

bool flushFolderOf(const std::string&) {
    // Windows has no flush for a folder's names: a renamed file's name is in the file
    // system's journal once MoveFileEx returns.
    return true;
}

void removeName(const std::string& path) {
    std::wstring wide;
    if (win::widenPath(path, wide)) DeleteFileW(wide.c_str());
}

bool randomBits(uint64_t& bits) {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) return false;
    bits = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

uint64_t processNumber() {
    return GetCurrentProcessId();
}

} // namespace sys

} // namespace kpz
