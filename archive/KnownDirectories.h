// Directory prefixes already known to exist, shared by the threads of one extraction, so that each
// directory costs one system call per archive instead of one per entry beneath it.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace qr {

class KnownDirectories {
public:
    bool Contains(std::string_view prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return known_.find(prefix) != known_.end();
    }
    void Add(std::string_view prefix) {
        std::lock_guard<std::mutex> lock(mutex_);
        known_.emplace(prefix);
    }

private:
    mutable std::mutex mutex_;
    std::set<std::string, std::less<>> known_;
};

}  // namespace qr
