// Gathers small writes into 64 KiB blocks before they reach the system: the worker hands over
// 4096-byte chunks, and one system call per chunk costs more than the network does.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace qr {

class WriteGather {
public:
    // `sink` writes all of the given bytes or returns false.
    using Sink = std::function<bool(const char* data, size_t length)>;
    explicit WriteGather(Sink sink) : sink_(std::move(sink)) { buffer_.reserve(kBlock); }

    bool Write(const void* data, size_t length) {
        if (failed_) return false;
        const auto* in = static_cast<const char*>(data);
        if (buffer_.size() + length > kBlock && !Flush()) return false;
        if (length >= kBlock) {
            failed_ = !sink_(in, length);
            return !failed_;
        }
        buffer_.insert(buffer_.end(), in, in + length);
        return true;
    }
    // Hands the gathered bytes to the sink; false once any write has failed.
    bool Flush() {
        if (failed_) return false;
        if (buffer_.empty()) return true;
        failed_ = !sink_(buffer_.data(), buffer_.size());
        buffer_.clear();
        return !failed_;
    }

private:
    static constexpr size_t kBlock = 64 * 1024;
    Sink sink_;
    std::vector<char> buffer_;
    bool failed_ = false;
};

}  // namespace qr
