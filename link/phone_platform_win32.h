#pragma once

#include "link/clock.h"
#include "link/phone_platform.h"

#include <memory>

namespace p2k {

class OperatorLog;

// Discovery through the phone maker's driver: the device setup interface for
// the command interface, the serial-port map for the modem port, and a
// registry change notification on the interface's device-class key for its
// removal. Descriptor request texts go to log; the mode switch waits on clock.
std::unique_ptr<PhonePlatform> makeDriverPlatform(OperatorLog& log, Clock& clock);

} // namespace p2k
