#include "link/clock.h"

#include <chrono>
#include <thread>

namespace p2k {

namespace {

class SystemClock : public Clock {
public:
    uint32_t tickMs() override
    {
        auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    // The protocol paces itself with 1 ms sleeps, and a plain sleep here
    // oversleeps by a tenth or more; so sleep short and yield the last part.
    void sleepMs(uint32_t ms) override
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::this_thread::sleep_until(deadline - kYieldedPart);
        while (std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }

private:
    static constexpr auto kYieldedPart = std::chrono::microseconds(250);
};

} // namespace

Clock& systemClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace p2k
