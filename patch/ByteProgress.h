// The file bar of a download. The progress control takes int bounds and positions, so a file past
// 2 GiB is shown in coarser steps (the length and every position halved as often as needed): the
// bar still runs from empty to full, and never sees a wrapped or negative value. Files up to
// 2 GiB keep their byte counts exactly.
#pragma once

#include <climits>

namespace qr {

class ByteProgress {
public:
    // `length` is the announced size, or negative when none was announced.
    explicit ByteProgress(long long length) : length_(length < 0 ? 0 : length) {
        while ((length_ >> shift_) > INT_MAX) ++shift_;
    }
    int Upper() const { return static_cast<int>(length_ >> shift_); }
    int Position(long long received) const {
        if (received <= 0) return 0;
        const long long scaled = received >> shift_;
        return scaled > INT_MAX ? INT_MAX : static_cast<int>(scaled);
    }
    // What the window's counters show as the length: 0 when none was announced.
    long long Length() const { return length_; }

private:
    long long length_;
    int shift_ = 0;
};

}  // namespace qr
