#include "app/real_phone.h"

namespace p2k {

std::unique_ptr<UsbTransport> openRealPhone(PhonePlatform& platform, Clock& clock)
{
    std::string port;
    if (platform.findModemPort(port) == 0) {
        platform.switchToCommandMode(port);
        clock.sleepMs(kAfterModemSwitchMs);
    }
    return platform.findPhone().device;
}

} // namespace p2k
