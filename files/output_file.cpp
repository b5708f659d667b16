// SPDX-License-Identifier: BSD-3-Clause
// The output policy on every system: an output is made without a name (or under a random
// one, kept in a registry for the signal handlers), and committed in one order: attributes,
// the check for an existing file, the flush, then the final name.
#include "output_file.h"

#include "fault_plan.h"
#include "output_file_system.h"
#include "paths.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>

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
    if (!sys::randomBits(bits)) {
        // Without the system's generator, fall back on something that still differs per
        // process and call; creation is exclusive either way.
        static std::atomic<uint64_t> counter{0};
        bits = (sys::processNumber() << 32) ^ ++counter ^ reinterpret_cast<uintptr_t>(&bits);
    }
    char name[32];
    std::snprintf(name, sizeof name, ".kpz-%016llx.tmp", static_cast<unsigned long long>(bits));
    return joinPath(folder, name);
}

} // namespace

bool OutputFile::takeRandomName(const std::string& folder,
                                const std::function<bool(const std::string&)>& take) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = randomName(folder);
        // Registered before it exists, so that a signal can never miss it.
        registerPending(candidate);
        if (take(candidate)) {
            tempPath_ = candidate;
            return true;
        }
        const int e = errno;
        forgetPending(candidate);
        errno = e;
        if (e != EEXIST) return false;
    }
    return false;
}

bool OutputFile::create(const std::string& finalPath) {
    discard();
    if (!sys::outputNameFits(finalPath)) return false;
    const std::string folder = folderOf(finalPath);
    // Read and write, so that a verification pass can read the output back before it has
    // a name.
    int fd = -1;
    if (activeFaultPlan().noUnnamedFiles)
        errno = EOPNOTSUPP;
    else
        fd = sys::createUnnamed(folder);
    if (fd >= 0) {
        dropsOnClose_ = true;
    } else {
        if (!sys::noUnnamedFiles(errno)) return false;
        if (!takeRandomName(folder, [&](const std::string& name) {
                fd = sys::createExclusive(name);
                return fd >= 0;
            }))
            return false;
        // Where the system can, a named output too is gone whatever ends the program.
        dropsOnClose_ = sys::dropOnClose(fd);
    }
    file_.adopt(fd, true);
    finalPath_ = finalPath;
    return true;
}

bool OutputFile::openReader(File& reader) const {
    // The copy shares the writer's offset; nothing is written after this.
    return reader.duplicate(file_);
}

bool OutputFile::keepWhenClosed() {
    if (!dropsOnClose_) return true;
    const int fd = file_.descriptor();
    // An unnamed output takes a random name first, so that it can be closed, and that
    // close checked, before it takes the final name.
    const bool kept =
        tempPath_.empty()
            ? takeRandomName(folderOf(finalPath_),
                             [&](const std::string& name) { return sys::linkUnnamed(fd, name); })
            : sys::keepOnClose(fd);
    if (kept) dropsOnClose_ = false;
    return kept;
}

OutputFile::Commit OutputFile::commit(bool replace, const Attributes& attributes, int& error) {
    const int fd = file_.descriptor();
    auto fail = [&](int e) {
        error = e;
        discard();
        return Commit::Failed;
    };
    if (fd < 0) return fail(EBADF);
    if (attributes.copy && !sys::copyAttributes(fd, attributes.from)) return fail(errno);
    const bool replacing = sys::nameTaken(finalPath_);
    if (replacing && !replace) {
        discard();
        return Commit::Exists;
    }
    // Every check that can fail comes before the output gets its name. When an existing
    // file is about to be replaced, or the caller removes the source next, the contents
    // must be on disk before the name moves, or a crash could leave neither. Otherwise a
    // new name needs no flush (the input stays, so a crash loses nothing that cannot be
    // made again, and large batches keep the speed of the page cache); write errors the
    // system had kept back still come out.
    if (!sys::flushOutput(fd, replacing || attributes.durable)) return fail(errno);
    if (!keepWhenClosed() || !file_.close()) return fail(errno);
    if (!sys::moveName(tempPath_, finalPath_, replace, attributes.durable)) {
        const int e = errno;
        discard();
        error = e;
        return e == EEXIST ? Commit::Exists : Commit::Failed;
    }
    forgetPending(tempPath_);
    tempPath_.clear();
    if (attributes.durable && !sys::flushFolderOf(finalPath_)) {
        // The output is complete under its name; only its name may not survive a crash.
        error = errno;
        return Commit::NamedUnsure;
    }
    return Commit::Done;
}

void OutputFile::discard() {
    // An output that drops on close goes with its descriptor.
    file_.close();
    dropsOnClose_ = false;
    if (tempPath_.empty()) return;
    sys::removeName(tempPath_);
    forgetPending(tempPath_);
    tempPath_.clear();
}

void removePendingOutputs() {
    std::lock_guard<std::mutex> lock(pendingLock);
    // A file still open somewhere is removed once its last descriptor closes, at the
    // latest when the process ends.
    for (const std::string& path : pendingPaths)
        sys::removeName(path);
    pendingPaths.clear();
}

} // namespace kpz
