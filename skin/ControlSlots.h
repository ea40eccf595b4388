// What the patch run drives of the window's controls (the two bars and the start button), with
// stand-ins that remember the last values until a real control is attached, or where none exists.
#pragma once

#include <atomic>

namespace qr {

// Implementations may be called from either thread and must forward to the thread that owns the
// control without holding a lock across the hand-over.
class ProgressSlot {
public:
    virtual ~ProgressSlot() = default;
    virtual void SetRange32(int lower, int upper) = 0;
    virtual void SetPos(int position) = 0;
};

class ButtonSlot {
public:
    virtual ~ButtonSlot() = default;
    virtual void Enable(bool enabled) = 0;
    virtual void StartBlink() = 0;
};

class RecordingProgressSlot : public ProgressSlot {
public:
    void SetRange32(int lower, int upper) override {
        lower_ = lower;
        upper_ = upper < lower ? lower : upper;
    }
    void SetPos(int position) override {
        int lower = lower_.load(), upper = upper_.load();
        if (position < lower) position = lower;
        if (position > upper) position = upper;  // the upper bound wins over the lower one
        pos_ = position;
    }
    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int pos() const { return pos_; }

private:
    std::atomic<int> lower_{0}, upper_{1}, pos_{0};
};

class RecordingButtonSlot : public ButtonSlot {
public:
    void Enable(bool enabled) override { enabled_ = enabled; }
    void StartBlink() override { blinking_ = true; }
    bool enabled() const { return enabled_; }
    bool blinking() const { return blinking_; }

private:
    std::atomic<bool> enabled_{false}, blinking_{false};
};

}  // namespace qr
