// SPDX-License-Identifier: BSD-3-Clause
// The run's inputs and claimed outputs, compared as files on disk rather than as text.
#include "run_ledger.h"

#include "file_io.h"
#include "paths.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace kpz {

struct RunLedger::State {
    using Key = std::pair<FileIdentity, std::string>; // folder, name
    static Key keyFor(const std::string& finalPath);
    Outcome claimLocked(const Key& key, bool exists, const FileIdentity& id,
                        const std::string& source);
    void settleLocked(size_t order);

    std::mutex lock_;
    std::condition_variable turn_;
    std::set<FileIdentity> inputs_;
    std::map<Key, std::string> outputs_;           // output -> its source
    std::map<FileIdentity, std::string> existing_; // outputs that existed -> their source
    std::vector<bool> settled_;                    // by position, for ordered claims
    size_t firstUnsettled_ = 0;
};

RunLedger::RunLedger() : state_(std::make_unique<State>()) {}
RunLedger::~RunLedger() = default;

void RunLedger::addInput(const std::string& path) {
    FileIdentity id;
    if (!fileIdentity(path, id)) return;
    std::lock_guard<std::mutex> guard(state_->lock_);
    state_->inputs_.insert(id);
}

RunLedger::State::Key RunLedger::State::keyFor(const std::string& finalPath) {
    // The folder by its identity: links to it, other spellings and other mounts of it are
    // one folder. A folder that cannot be looked at keeps its text as the name's prefix.
    FileIdentity folder;
    const std::string name = comparableName(baseNameOf(finalPath));
    if (fileIdentity(folderOf(finalPath), folder)) return {folder, name};
    return {FileIdentity{}, comparableName(finalPath)};
}

Outcome RunLedger::State::claimLocked(const Key& key, bool exists, const FileIdentity& id,
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
    const State::Key key = State::keyFor(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    std::lock_guard<std::mutex> guard(state_->lock_);
    return state_->claimLocked(key, exists, id, source);
}

Outcome RunLedger::claim(const std::string& finalPath, const std::string& source, size_t order) {
    const State::Key key = State::keyFor(finalPath);
    FileIdentity id;
    const bool exists = fileIdentity(finalPath, id);
    State& s = *state_;
    std::unique_lock<std::mutex> guard(s.lock_);
    s.turn_.wait(guard, [&] { return s.firstUnsettled_ >= order; });
    const Outcome o = s.claimLocked(key, exists, id, source);
    s.settleLocked(order);
    return o;
}

void RunLedger::settle(size_t order) {
    std::lock_guard<std::mutex> guard(state_->lock_);
    state_->settleLocked(order);
}

void RunLedger::State::settleLocked(size_t order) {
    if (settled_.size() <= order) settled_.resize(order + 1, false);
    settled_[order] = true;
    const size_t before = firstUnsettled_;
    while (firstUnsettled_ < settled_.size() && settled_[firstUnsettled_])
        ++firstUnsettled_;
    if (firstUnsettled_ != before) turn_.notify_all();
}

} // namespace kpz
