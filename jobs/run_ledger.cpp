// SPDX-License-Identifier: BSD-3-Clause
// The run's inputs and claimed outputs, compared as files on disk rather than as text.
#include "run_ledger.h"

#include "paths.h"

namespace kpz {

void RunLedger::addInput(const std::string& path) {
    FileIdentity id;
    if (!fileIdentity(path, id)) return;
    std::lock_guard<std::mutex> guard(lock_);
    inputs_.insert(id);
}

RunLedger::Key RunLedger::keyFor(const std::string& finalPath) {
    // The folder by its identity: links to it, other spellings and other mounts of it are
    // one folder. A folder that cannot be looked at keeps its text as the name's prefix.
    FileIdentity folder;
    const std::string name = comparableName(baseNameOf(finalPath));
    if (fileIdentity(folderOf(finalPath), folder)) return {folder, name};
    return {FileIdentity{}, comparableName(finalPath)};
}

Outcome RunLedger::claimLocked(const Key& key, bool exists, const FileIdentity& id,
                               const std::string& source) {
    if (exists && inputs_.count(id)) return Outcome{Problem::OutputIsInput, 0, {}};
    if (exists) {
        // The same existing file under another name (a hard link) is the same output.
        const auto [at, inserted] = existing_.emplace(id, source);
        if (!inserted) return Outcome{Problem::OutputClaimed, 0, at->second};
    }
    const auto [at, inserted] = outputs_.emplace(key, source);
    if (!inserted) return Outcome{Problem::OutputClaimed, 0, at->second};
    return {};
}

Outcome RunLedger::claim(const std::string& finalPath, const std::string& source) {
    const Key key = keyFor(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    std::lock_guard<std::mutex> guard(lock_);
    return claimLocked(key, exists, id, source);
}

Outcome RunLedger::claim(const std::string& finalPath, const std::string& source, size_t order) {
    const Key key = keyFor(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    std::unique_lock<std::mutex> guard(lock_);
    turn_.wait(guard, [&] { return firstUnsettled_ >= order; });
    const Outcome o = claimLocked(key, exists, id, source);
    settleLocked(order);
    return o;
}

void RunLedger::settle(size_t order) {
    std::lock_guard<std::mutex> guard(lock_);
    settleLocked(order);
}

void RunLedger::settleLocked(size_t order) {
    if (settled_.size() <= order) settled_.resize(order + 1, false);
    settled_[order] = true;
    const size_t before = firstUnsettled_;
    while (firstUnsettled_ < settled_.size() && settled_[firstUnsettled_])
        ++firstUnsettled_;
    if (firstUnsettled_ != before) turn_.notify_all();
}

} // namespace kpz
