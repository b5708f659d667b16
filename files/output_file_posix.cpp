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

std::string errorText(int e) {
    return std::strerror(e);
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

OutputFile::Commit OutputFile::commit(bool replace, const Attributes& attributes,
                                      std::string& error) {
    const int fd = file_.descriptor();
    auto fail = [&](const std::string& what) {
        error = what;
        discard();
        return Commit::Failed;
    };
    if (fd < 0) return fail("the output is not open");
    if (attributes.copy) {
        if (::fchmod(fd, attributes.from.st_mode & 07777 & ~(S_ISUID | S_ISGID)) != 0)
            return fail("couldn't set permissions: " + errorText(errno));
        const struct timespec times[2] = {attributes.from.st_atim, attributes.from.st_mtim};
        if (::futimens(fd, times) != 0)
            return fail("couldn't set modification time: " + errorText(errno));
    }
    // When an existing file is about to be replaced, the new contents must be on disk
    // before the name moves, or a crash could leave neither version. A new name needs no
    // flush: the input is never removed, so a crash loses nothing that cannot be made
    // again, and skipping it keeps large batches at the speed of the page cache.
    struct stat existing {};
    const bool replacing = ::lstat(finalPath_.c_str(), &existing) == 0;
    if (replacing && !replace) {
        discard();
        return Commit::Exists;
    }
    if (replacing && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail("couldn't write to disk: " + errorText(errno));

    if (unnamed_) {
        if (!replace) {
            if (!linkUnnamed(finalPath_)) {
                const int e = errno;
                discard();
                if (e == EEXIST) return Commit::Exists;
                error = "couldn't put the finished file in place: " + errorText(e);
                return Commit::Failed;
            }
        } else {
            // A file is replaced in one step by renaming over it; the new file needs a name
            // of its own for that, for the moment between the link and the rename.
            std::string named;
            bool linked = false;
            for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
                named = randomName(folderOf(finalPath_));
                registerPending(named);
                linked = linkUnnamed(named);
                if (!linked) {
                    const int e = errno;
                    forgetPending(named);
                    if (e != EEXIST)
                        return fail("couldn't put the finished file in place: " + errorText(e));
                }
            }
            if (!linked) return fail("couldn't put the finished file in place");
            if (::rename(named.c_str(), finalPath_.c_str()) != 0) {
                const int e = errno;
                ::unlink(named.c_str());
                forgetPending(named);
                return fail("couldn't put the finished file in place: " + errorText(e));
            }
            forgetPending(named);
        }
        if (!file_.close()) {
            error = "couldn't write to disk: " + errorText(errno);
            // A replaced file was flushed before the rename and reports nothing here; a
            // new one is taken back rather than left incomplete under its name.
            if (!replacing) ::unlink(finalPath_.c_str());
            return Commit::Failed;
        }
        unnamed_ = false;
        return Commit::Done;
    }

    if (!file_.close()) return fail("couldn't write to disk: " + errorText(errno));
    const int renamed = replace ? ::rename(tempPath_.c_str(), finalPath_.c_str())
                                : renameNoReplace(tempPath_.c_str(), finalPath_.c_str());
    if (renamed != 0) {
        const int e = errno;
        discard();
        if (e == EEXIST) return Commit::Exists;
        error = "couldn't put the finished file in place: " + errorText(e);
        return Commit::Failed;
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
