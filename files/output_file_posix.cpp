// SPDX-License-Identifier: BSD-3-Clause
// Outputs on POSIX systems: unnamed files (O_TMPFILE) linked into place when complete,
// else files under a random name renamed into place.
#include "output_file.h"
#include "output_file_system.h"
#include "paths.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpz {

OutputTarget inspectOutput(const std::string& finalPath) {
    struct stat st {};
    if (::lstat(finalPath.c_str(), &st) != 0)
        return errno == ENOENT ? OutputTarget::Absent : OutputTarget::Unreadable;
    if (S_ISDIR(st.st_mode)) return OutputTarget::Folder;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return OutputTarget::File;
    return OutputTarget::Special;
}

namespace sys {

bool outputNameFits(const std::string& path) {
    if (path.size() < PATH_MAX) return true;
    errno = ENAMETOOLONG;
    return false;
}

int createUnnamed(const std::string& folder) {
    return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

bool noUnnamedFiles(int error) {
    // File systems without unnamed files refuse them in one of these ways.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

int createExclusive(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
}

bool dropOnClose(int) {
    // Only unnamed files go by themselves; a named one is removed by discard() or the
    // signal handlers.
    return false;
}

bool keepOnClose(int) {
    return true;
}

bool linkUnnamed(int fd, const std::string& path) {
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    // No /proc: the direct form, which needs more privilege.
    return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

bool copyAttributes(int fd, const FileInfo& from) {
    if (::fchmod(fd, from.permissions & 07777 & ~(S_ISUID | S_ISGID)) != 0) return false;
    const struct timespec times[2] = {
        {static_cast<time_t>(from.accessed.seconds), static_cast<long>(from.accessed.nanoseconds)},
        {static_cast<time_t>(from.modified.seconds), static_cast<long>(from.modified.nanoseconds)},
    };
    return ::futimens(fd, times) == 0;
}

bool nameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool flushOutput(int fd, bool toDisk) {
    if (toDisk) return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    // Closing a copy of the descriptor brings out a write error the system had kept back.
    const int copy = ::dup(fd);
    return copy >= 0 && ::close(copy) == 0;
}

bool moveName(const std::string& from, const std::string& to, bool replace, bool) {
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

bool flushFolderOf(const std::string& path) {
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool flushed = ::fsync(folder) == 0 || errno == EINVAL || errno == EROFS;
    const int e = errno;
    ::close(folder);
    errno = e;
    return flushed;
}

void removeName(const std::string& path) {
    ::unlink(path.c_str());
}

bool randomBits(uint64_t& bits) {
    return ::getrandom(&bits, sizeof bits, 0) == sizeof bits;
}

uint64_t processNumber() {
    return static_cast<uint64_t>(::getpid());
}

} // namespace sys

} // namespace kpz
