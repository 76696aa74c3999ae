#include "cli/cli_platform.h"

#include "link/phone_platform_win32.h"

#include <windows.h>

namespace p2k::cli {

std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock)
{
    return makeDriverPlatform(log, clock);
}

void prepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace p2k::cli
