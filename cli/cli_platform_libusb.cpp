#include "cli/cli_platform.h"

#include "link/phone_platform_libusb.h"

namespace p2k::cli {

std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock)
{
    return makeLibusbPlatform(log, clock);
}

Clock& cliClock()
{
    return systemClock();
}

std::unique_ptr<PcFiles> makeCliPcFiles()
{
    return makeStandardPcFiles();
}

// Linux hands the arguments over as the terminal's bytes: UTF-8.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    return {argv, argv + argc};
}

void prepareConsole() {}

} // namespace p2k::cli
