#pragma once

#include "link/clock.h"
#include "link/phone_platform.h"

#include <cstdint>
#include <functional>

namespace p2k {

// How long a search round waits before the next one.
inline constexpr uint32_t kSearchPauseMs = 1000;

// Told, before each pause, how long the wait has left.
using WaitProgress = std::function<void(uint32_t leftMs)>;

// Looks for the phone until it is found or waitMs have passed on clock. A
// round sends a phone in modem mode the mode switch and gives it
// kAfterModemSwitchMs to come back, then looks for the command interface;
// rounds are kSearchPauseMs apart. waitMs 0: one round. Empty when no phone
// was found in time.
FoundPhone waitForPhone(PhonePlatform& platform, Clock& clock, uint32_t waitMs, const WaitProgress& progress);

} // namespace p2k
