// A string that one thread rewrites while another reads it: every access copies under a mutex, so a
// reader never sees a torn text. The lock is never held across anything but the copy.
#pragma once

#include <mutex>
#include <string>

namespace qr {

class GuardedString {
public:
    GuardedString() = default;
    explicit GuardedString(std::string initial) : text_(std::move(initial)) {}
    GuardedString(const GuardedString&) = delete;
    GuardedString& operator=(const GuardedString&) = delete;

    std::string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Set(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.swap(text);
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace qr
