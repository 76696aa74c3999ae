#include "link/phone_wait.h"

#include <algorithm>
#include <string>

namespace p2k {

namespace {

FoundPhone searchOnce(PhonePlatform& platform, Clock& clock)
{
    std::string port;
    if (platform.findModemPort(port) == 0) {
        platform.switchToCommandMode(port);
        clock.sleepMs(kAfterModemSwitchMs);
    }
    return platform.findPhone();
}

} // namespace

FoundPhone waitForPhone(PhonePlatform& platform, Clock& clock, uint32_t waitMs, const WaitProgress& progress)
{
    const uint32_t start = clock.tickMs();
    for (;;) {
        if (FoundPhone found = searchOnce(platform, clock); found.device)
            return found;
        const uint32_t waited = clock.tickMs() - start;
        if (waited >= waitMs)
            return {};
        progress(waitMs - waited);
        clock.sleepMs(std::min(kSearchPauseMs, waitMs - waited));
    }
}

} // namespace p2k
