// SPDX-License-Identifier: BSD-3-Clause
// Outputs on Windows: written under a random name in the output's folder, marked for
// deletion while they are written so that the system removes them whatever ends the
// program, and moved into place only once complete.
#define _CRT_RAND_S // rand_s, the system's random numbers
#include "output_file.h"

#include "paths.h"
#include "windows_text.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <set>

#include <windows.h>

namespace kpz {

namespace {

// Named temporary outputs in progress, possibly several when files are handled side by side.
std::mutex pendingLock;
std::set<std::string> pendingPaths;

void registerPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingPaths.insert(path);
}

void forgetPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingPaths.erase(path);
}

// A name in folder that nobody can guess: 64 random bits.
std::string randomName(const std::string& folder) {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        // Without the system's generator, something that still differs per process and
        // call; creation is exclusive either way.
        static std::atomic<unsigned> counter{0};
        high = GetCurrentProcessId();
        low = ++counter ^ GetTickCount();
    }
    char name[32];
    std::snprintf(name, sizeof name, ".kpz-%08x%08x.tmp", high, low);
    return joinPath(folder, name);
}

HANDLE handleOf(const File& file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(file.descriptor()));
}

bool setDeleteOnClose(HANDLE h, bool on) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) !=
           0;
}

FILETIME fileTimeOf(time_t seconds) {
    // FILETIME counts 100 ns steps from 1601; time_t seconds from 1970.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(seconds) + 11644473600ULL) * 10000000ULL;
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
    const HANDLE h = CreateFileW(
        wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return OutputTarget::File;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    return type == FILE_TYPE_DISK ? OutputTarget::File : OutputTarget::Special;
}

bool OutputFile::create(const std::string& finalPath) {
    discard();
    const std::string folder = folderOf(finalPath);
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        const std::string candidate = randomName(folder);
        std::wstring wide;
        if (!win::widenPath(candidate, wide)) {
            errno = EINVAL;
            return false;
        }
        // Registered before it exists, so that the console handler can never miss it.
        registerPending(candidate);
        // Read and write, so that a verification pass can read the output back.
        h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            tempPath_ = candidate;
        } else {
            const DWORD e = GetLastError();
            forgetPending(candidate);
            if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) {
                errno = win::errnoFor(e);
                return false;
            }
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        errno = EEXIST;
        return false;
    }
    // Marked for deletion: a program that is killed leaves nothing. File systems that
    // cannot do this keep the named file, which discard() and the console handler remove.
    unnamed_ = setDeleteOnClose(h, true);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        discard();
        errno = EMFILE;
        return false;
    }
    file_.adopt(fd, true);
    finalPath_ = finalPath;
    return true;
}

bool OutputFile::openReader(File& reader) const {
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, handleOf(file_), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return win::failWithLastError();
    // The copy shares the writer's offset; nothing is written after this.
    LARGE_INTEGER zero{};
    const int fd = SetFilePointerEx(copy, zero, nullptr, FILE_BEGIN)
                       ? _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_RDONLY | _O_BINARY)
                       : -1;
    if (fd < 0) {
        CloseHandle(copy);
        errno = EIO;
        return false;
    }
    reader.adopt(fd, false);
    return true;
}

bool OutputFile::linkUnnamed(const std::string&) {
    // Windows has no unnamed files; outputs always have a name of their own.
    return false;
}

OutputFile::Commit OutputFile::commit(bool replace, const Attributes& attributes, int& error) {
    // errno for the system's last error, for the caller to word.
    auto fail = [&]() {
        win::failWithLastError();
        error = errno;
        discard();
        return Commit::Failed;
    };
    if (!file_.isOpen()) {
        error = EBADF;
        discard();
        return Commit::Failed;
    }
    const HANDLE h = handleOf(file_);
    if (attributes.copy) {
        const FILETIME accessed = fileTimeOf(attributes.from.st_atime);
        const FILETIME modified = fileTimeOf(attributes.from.st_mtime);
        if (!SetFileTime(h, nullptr, &accessed, &modified)) return fail();
    }
    std::wstring finalWide, tempWide;
    if (!win::widenPath(finalPath_, finalWide) || !win::widenPath(tempPath_, tempWide)) {
        error = EINVAL;
        discard();
        return Commit::Failed;
    }
    const bool replacing = GetFileAttributesW(finalWide.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (replacing && !replace) {
        discard();
        return Commit::Exists;
    }
    // A file about to be replaced, or one whose source is removed next, gets the new
    // contents on disk before the name moves, so that a crash leaves one version or the
    // other. A new name needs no flush otherwise: the input stays, and large batches keep
    // the speed of the file cache. Windows has no flush for a folder's names: a renamed
    // file's name is in the file system's journal once MoveFileEx returns.
    if ((replacing || attributes.durable) && !FlushFileBuffers(h)) return fail();
    if (unnamed_ && !setDeleteOnClose(h, false)) return fail();
    unnamed_ = false;
    if (!file_.close()) {
        error = errno;
        discard();
        return Commit::Failed;
    }
    DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (attributes.durable) flags |= MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(tempWide.c_str(), finalWide.c_str(), flags)) {
        const DWORD e = GetLastError();
        if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) {
            discard();
            return Commit::Exists;
        }
        return fail();
    }
    forgetPending(tempPath_);
    tempPath_.clear();
    return Commit::Done;
}

void OutputFile::discard() {
    // An output marked for deletion goes with its handle.
    file_.close();
    unnamed_ = false;
    if (tempPath_.empty()) return;
    std::wstring wide;
    if (win::widenPath(tempPath_, wide)) DeleteFileW(wide.c_str());
    forgetPending(tempPath_);
    tempPath_.clear();
}

void removePendingOutputs() {
    std::lock_guard<std::mutex> lock(pendingLock);
    for (const std::string& path : pendingPaths) {
        std::wstring wide;
        // A file still open is removed once its last handle closes, at the latest when the
        // process ends.
        if (win::widenPath(path, wide)) DeleteFileW(wide.c_str());
    }
    pendingPaths.clear();
}

} // namespace kpz
