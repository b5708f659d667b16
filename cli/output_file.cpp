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

namespace kpzcli {

namespace {

// The one temporary file in progress, kept where a signal handler can reach it without
// allocating. Updated only while the cleanup signals are blocked.
char pendingPath[PATH_MAX + 1];
volatile sig_atomic_t pendingActive = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the cleanup signals for the lifetime of the object.
class SignalBlock {
  public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kCleanupSignals)
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

  private:
    sigset_t previous_;
};

extern "C" void onCleanupSignal(int sig) {
    if (pendingActive) ::unlink(pendingPath);
    restoreTerminalAfterSignal();
    // Die by the same signal, so the parent sees why we stopped.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
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
    for (int sig : kCleanupSignals) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onCleanupSignal;
        sigemptyset(&action.sa_mask);
        for (int other : kCleanupSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(sig, &action, nullptr);
    }
}

bool OutputFile::create(const std::string& folder) {
    discard();
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = joinPath(folder, ".kpz-" + std::to_string(::getpid()) + "-" +
                                                           std::to_string(++counter) + ".tmp");
        if (candidate.size() > PATH_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        SignalBlock block;
        if (file_.createNew(candidate, 0600)) {
            std::memcpy(pendingPath, candidate.c_str(), candidate.size() + 1);
            pendingActive = 1;
            tempPath_ = candidate;
            return true;
        }
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
    // The data must be on disk before the name points at it.
    if (ok && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
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
    SignalBlock block;
    const int renamed = replace ? ::rename(tempPath_.c_str(), finalPath.c_str())
                                : renameNoReplace(tempPath_.c_str(), finalPath.c_str());
    if (renamed != 0) {
        error = errno == EEXIST
                    ? "appeared while writing; kept (use -f to replace it)"
                    : "couldn't rename the finished file into place: " + systemError(errno);
        ::unlink(tempPath_.c_str());
    }
    pendingActive = 0;
    tempPath_.clear();
    return renamed == 0;
}

void OutputFile::discard() {
    file_.close();
    if (tempPath_.empty()) return;
    SignalBlock block;
    ::unlink(tempPath_.c_str());
    pendingActive = 0;
    tempPath_.clear();
}

} // namespace kpzcli
