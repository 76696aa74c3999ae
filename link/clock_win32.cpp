#include "link/clock.h"

#include <windows.h>

#include <mmsystem.h>

namespace p2k {

namespace {

// Sleep rounds up to the system timer's period, about 15.6 ms by default;
// the answer poll sleeps 1 ms at a time, so the period is set to 1 ms for as
// long as the program runs. The tick comes from the performance counter.
class WindowsClock : public Clock {
public:
    WindowsClock()
    {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        frequency_ = static_cast<uint64_t>(frequency.QuadPart);
        periodSet_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    ~WindowsClock() override
    {
        if (periodSet_)
            timeEndPeriod(1);
    }
    WindowsClock(const WindowsClock&) = delete;
    WindowsClock& operator=(const WindowsClock&) = delete;

    uint32_t tickMs() override
    {
        if (frequency_ == 0)
            return GetTickCount();
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        const auto count = static_cast<uint64_t>(now.QuadPart);
        // Split so that the multiplication cannot overflow.
        return static_cast<uint32_t>((count / frequency_) * 1000 + (count % frequency_) * 1000 / frequency_);
    }

    void sleepMs(uint32_t ms) override { Sleep(ms); }

private:
    uint64_t frequency_ = 0;
    bool periodSet_ = false;
};

} // namespace

Clock& windowsClock()
{
    static WindowsClock clock;
    return clock;
}

} // namespace p2k
