#pragma once

#include "link/clock.h"
#include "link/phone_platform.h"

#include <memory>

namespace p2k {

// Opens the phone's command interface on the platform, first switching a
// phone found in modem mode to command mode. Null when no phone answers.
std::unique_ptr<UsbTransport> openRealPhone(PhonePlatform& platform, Clock& clock);

} // namespace p2k
