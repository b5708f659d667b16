// Temporary output files, their rename into place, and their removal on signals.
#include "output_file.h"

#include "messages.h"
#include "paths.h"
#include "report.h"
#include "terminal.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <set>
#include <thread>

namespace kpzcli {

namespace {

// Temporary files in progress, possibly several when files are handled side by side.
// The cleanup signals are blocked in every thread and taken by one waiting thread, so the
// cleanup runs as ordinary code under this lock instead of inside a signal handler.
std::mutex pendingLock;
std::set<std::string> pendingPaths;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void registerPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingPaths.insert(path);
}

void forgetPending(const std::string& path) {
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingPaths.erase(path);
}

// Waits for a cleanup signal, removes every temporary file, puts terminal echo back, then
// dies by the same signal so that the parent sees why we stopped.
void cleanupOnSignal(sigset_t signals) {
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
    {
        std::lock_guard<std::mutex> lock(pendingLock);
        for (const std::string& path : pendingPaths)
            ::unlink(path.c_str());
        pendingPaths.clear();
        restoreTerminalAfterSignal();
        ::signal(sig, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(sig);
    }
    std::_Exit(128 + sig); // not reached: the default action ends the process
}

// Renames without replacing an existing file; falls back to link and unlink where the
// file system cannot do that in one call.
int renameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::link(from, to) != 0) return -1;
    ::unlink(from);
    return 0;
}

} // namespace

void installCleanupHandlers() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int sig : kCleanupSignals) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (current.sa_handler != SIG_IGN) sigaddset(&signals, sig);
    }
    // Blocked here, before any other thread exists, so every later thread inherits it.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(cleanupOnSignal, signals).detach();
}

bool OutputFile::create(const std::string& folder) {
    discard();
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = joinPath(folder, ".kpz-" + std::to_string(::getpid()) + "-" +
                                                           std::to_string(++counter) + ".tmp");
        if (candidate.size() > PATH_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        // Registered before it exists, so that a signal can never miss it.
        registerPending(candidate);
        if (file_.createNew(candidate, 0600)) {
            tempPath_ = candidate;
            return true;
        }
        forgetPending(candidate);
        if (errno != EEXIST) return false;
    }
    return false;
}

bool OutputFile::openFor(const std::string& input, const std::string& destination, bool replace,
                         const Reporter& report) {
    if (destination == input || kpz::sameFile(input, destination)) {
        report.error(input, kpz::msg::kSameFile);
        return false;
    }
    if (kpz::fileExists(destination)) {
        if (isDirectory(destination)) {
            report.error(destination, "is a directory; not replaced");
            return false;
        }
        if (!replace) {
            report.error(destination, "already exists; not replaced (use -f to replace it)");
            return false;
        }
    }
    if (!create(folderOf(destination))) {
        report.error(destination, std::string(kpz::msg::kOpenDestinationFailed) + " (" +
                                      systemError(errno) + ")");
        return false;
    }
    return true;
}

bool OutputFile::commit(const std::string& finalPath, const struct stat& attributes, bool replace,
                        std::string& error) {
    const int fd = file_.descriptor();
    bool ok = fd >= 0;
    if (ok && ::fchmod(fd, attributes.st_mode & 0777) != 0) {
        error = "couldn't set permissions: " + systemError(errno);
        ok = false;
    }
    const struct timespec times[2] = {attributes.st_atim, attributes.st_mtim};
    if (ok && ::futimens(fd, times) != 0) {
        error = "couldn't set modification time: " + systemError(errno);
        ok = false;
    }
    // When an existing file is about to be replaced, its new contents must be on disk before
    // the name moves, or a crash could leave neither version. A new name needs no flush: the
    // input is never removed, so a crash loses nothing that cannot be made again, and
    // skipping it keeps large batches at the speed of the page cache.
    struct stat existing {};
    const bool replacing = ::lstat(finalPath.c_str(), &existing) == 0;
    if (ok && replacing && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = "couldn't write to disk: " + systemError(errno);
        ok = false;
    }
    if (!file_.close() && ok) {
        error = "couldn't write to disk: " + systemError(errno);
        ok = false;
    }
    if (!ok) {
        discard();
        return false;
    }
    const int renamed = replace ? ::rename(tempPath_.c_str(), finalPath.c_str())
                                : renameNoReplace(tempPath_.c_str(), finalPath.c_str());
    if (renamed != 0) {
        error = errno == EEXIST
                    ? "appeared while writing; kept (use -f to replace it)"
                    : "couldn't rename the finished file into place: " + systemError(errno);
        ::unlink(tempPath_.c_str());
    }
    forgetPending(tempPath_);
    tempPath_.clear();
    return renamed == 0;
}

void OutputFile::discard() {
    file_.close();
    if (tempPath_.empty()) return;
    ::unlink(tempPath_.c_str());
    forgetPending(tempPath_);
    tempPath_.clear();
}

} // namespace kpzcli
