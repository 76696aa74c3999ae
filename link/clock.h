#pragma once

#include <cstdint>

namespace p2k {

// Time as the program sees it: a millisecond tick count that wraps like the
// platform's, and a sleep. Tests drive a FakeClock so that waits of many
// seconds pass instantly and deterministically.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary origin; wraps at 2^32. Never blocks.
    virtual uint32_t tickMs() = 0;
    // Blocks the calling thread for about ms milliseconds.
    virtual void sleepMs(uint32_t ms) = 0;
};

// The real clock (steady, monotonic).
Clock& systemClock();

// The real clock on Windows, whose 1 ms sleep lasts about 1 ms (Windows builds only).
Clock& windowsClock();

// A clock whose time moves only when someone sleeps on it or advances it.
class FakeClock : public Clock {
public:
    explicit FakeClock(uint32_t startMs = 0) : now_(startMs) {}
    uint32_t tickMs() override { return now_; }
    void sleepMs(uint32_t ms) override
    {
        now_ += ms;
        sleptMs_ += ms;
        ++sleeps_;
    }
    void advance(uint32_t ms) { now_ += ms; }
    uint64_t totalSleptMs() const { return sleptMs_; }
    uint64_t sleepCount() const { return sleeps_; }

private:
    uint32_t now_;
    uint64_t sleptMs_ = 0;
    uint64_t sleeps_ = 0;
};

} // namespace p2k
