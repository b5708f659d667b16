// SPDX-License-Identifier: BSD-3-Clause
// Outputs written without a name and linked into place when complete.
#include "output_file.h"

#include "paths.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/random.h>
#include <unistd.h>

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
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) != sizeof bits) {
        // Without the system's generator, fall back on something that still differs per
        // process and call; creation is exclusive either way.
        static std::atomic<uint64_t> counter{0};
        bits = (static_cast<uint64_t>(::getpid()) << 32) ^ ++counter ^
               reinterpret_cast<uintptr_t>(&bits);
    }
    char name[32];
    std::snprintf(name, sizeof name, ".kpz-%016llx.tmp", static_cast<unsigned long long>(bits));
    return joinPath(folder, name);
}

int renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

} // namespace

OutputTarget inspectOutput(const std::string& finalPath) {
    struct stat st {};
    if (::lstat(finalPath.c_str(), &st) != 0)
        return errno == ENOENT ? OutputTarget::Absent : OutputTarget::Unreadable;
    if (S_ISDIR(st.st_mode)) return OutputTarget::Folder;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return OutputTarget::File;
    return OutputTarget::Special;
}

bool OutputFile::create(const std::string& finalPath) {
    discard();
    if (finalPath.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    const std::string folder = folderOf(finalPath);
    // Read and write, so that a verification pass can read the output back before it has
    // a name.
    int fd = -1;
    if (activeFaultPlan().noUnnamedFiles)
        errno = EOPNOTSUPP;
    else
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
        unnamed_ = true;
    } else {
        // File systems without unnamed files refuse them in one of these ways.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            const std::string candidate = randomName(folder);
            // Registered before it exists, so that a signal can never miss it.
            registerPending(candidate);
            fd =
                ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0) {
                tempPath_ = candidate;
            } else {
                const int e = errno;
                forgetPending(candidate);
                if (e != EEXIST) {
                    errno = e;
                    return false;
                }
            }
        }
        if (fd < 0) return false;
    }
    file_.adopt(fd, true);
    finalPath_ = finalPath;
    return true;
}

bool OutputFile::openReader(File& reader) const {
    const int fd = ::dup(file_.descriptor());
    if (fd < 0) return false;
    // The copy shares the writer's offset; nothing is written after this.
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return false;
    }
    reader.adopt(fd, false);
    return true;
}

bool OutputFile::linkUnnamed(const std::string& to) {
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", file_.descriptor());
    if (::linkat(AT_FDCWD, procPath, AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    // No /proc: the direct form, which needs more privilege.
    return ::linkat(file_.descriptor(), "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0;
}

namespace {

// Flushes the folder that holds path, so that a name just given there survives a crash.
bool flushFolderOf(const std::string& path) {
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    const bool flushed = ::fsync(folder) == 0 || errno == EINVAL || errno == EROFS;
    const int e = errno;
    ::close(folder);
    errno = e;
    return flushed;
}

} // namespace

OutputFile::Commit OutputFile::commit(bool replace, const Attributes& attributes, int& error) {
    const int fd = file_.descriptor();
    auto fail = [&](int e) {
        error = e;
        discard();
        return Commit::Failed;
    };
    if (fd < 0) return fail(EBADF);
    if (attributes.copy) {
        if (::fchmod(fd, attributes.from.st_mode & 07777 & ~(S_ISUID | S_ISGID)) != 0)
            return fail(errno);
        const struct timespec times[2] = {attributes.from.st_atim, attributes.from.st_mtim};
        if (::futimens(fd, times) != 0) return fail(errno);
    }
    struct stat existing {};
    const bool replacing = ::lstat(finalPath_.c_str(), &existing) == 0;
    if (replacing && !replace) {
        discard();
        return Commit::Exists;
    }
    // Every check that can fail comes before the output gets its name. When an existing
    // file is about to be replaced, or the caller removes the source next, the contents
    // must be on disk before the name moves, or a crash could leave neither. Otherwise a
    // new name needs no flush (the input stays, so a crash loses nothing that cannot be
    // made again, and large batches keep the speed of the page cache); closing a copy of
    // the descriptor still brings out a write error the system had kept back.
    if (replacing || attributes.durable) {
        if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) return fail(errno);
    } else {
        const int copy = ::dup(fd);
        if (copy < 0 || ::close(copy) != 0) return fail(errno);
    }
    // An unnamed output takes a random name first, so that it can be closed, and that
    // close checked, before it takes the final name.
    if (unnamed_ && !nameUnnamed(error)) {
        discard();
        return Commit::Failed;
    }
    const Commit named = nameTemporary(replace, error);
    if (named != Commit::Done) return named;
    if (attributes.durable && !flushFolderOf(finalPath_)) {
        // The output is complete under its name; only its name may not survive a crash.
        error = errno;
        return Commit::NamedUnsure;
    }
    return Commit::Done;
}

bool OutputFile::nameUnnamed(int& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string named = randomName(folderOf(finalPath_));
        registerPending(named);
        if (linkUnnamed(named)) {
            tempPath_ = named;
            unnamed_ = false;
            return true;
        }
        error = errno;
        forgetPending(named);
        if (error != EEXIST) return false;
    }
    return false;
}

OutputFile::Commit OutputFile::nameTemporary(bool replace, int& error) {
    if (!file_.close()) {
        error = errno;
        discard();
        return Commit::Failed;
    }
    const int renamed = replace ? ::rename(tempPath_.c_str(), finalPath_.c_str())
                                : renameNoReplace(tempPath_.c_str(), finalPath_.c_str());
    if (renamed != 0) {
        error = errno;
        discard();
        return error == EEXIST ? Commit::Exists : Commit::Failed;
    }
    forgetPending(tempPath_);
    tempPath_.clear();
    return Commit::Done;
}

void OutputFile::discard() {
    file_.close();
    unnamed_ = false;
    if (tempPath_.empty()) return;
    ::unlink(tempPath_.c_str());
    forgetPending(tempPath_);
    tempPath_.clear();
}

void removePendingOutputs() {
    std::lock_guard<std::mutex> lock(pendingLock);
    for (const std::string& path : pendingPaths)
        ::unlink(path.c_str());
    pendingPaths.clear();
}

} // namespace kpz
