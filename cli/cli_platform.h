#pragma once

#include "app/operator_log.h"
#include "link/clock.h"
#include "link/phone_platform.h"

#include <memory>

namespace p2k::cli {

// The real phone's platform on this system: libusb, or the phone maker's
// driver on Windows.
std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock);

// Makes the terminal show the tool's UTF-8 output.
void prepareConsole();

} // namespace p2k::cli
