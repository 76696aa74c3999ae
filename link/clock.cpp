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
    void sleepMs(uint32_t ms) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

Clock& systemClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace p2k
