#include "cli/cli_platform.h"

#include "link/phone_platform_libusb.h"

namespace p2k::cli {

std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock)
{
    return makeLibusbPlatform(log, clock);
}

void prepareConsole() {}

} // namespace p2k::cli
