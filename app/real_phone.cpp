#include "app/real_phone.h"

#include "link/phone_wait.h"

namespace p2k {

std::unique_ptr<UsbTransport> openRealPhone(PhonePlatform& platform, Clock& clock)
{
    // One round: the mode switch if needed, then the command interface.
    return waitForPhone(platform, clock, 0, [](uint32_t) {}).device;
}

} // namespace p2k
