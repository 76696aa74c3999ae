#include "cli/cli_platform.h"

#include "commands/pc_files_win32.h"
#include "core/text_win32.h"
#include "link/phone_platform_win32.h"

#include <windows.h>

namespace p2k::cli {

std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock)
{
    return makeDriverPlatform(log, clock);
}

Clock& cliClock()
{
    return windowsClock();
}

std::unique_ptr<PcFiles> makeCliPcFiles()
{
    return makeWin32PcFiles();
}

std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    std::vector<std::string> arguments = utf8CommandLine();
    return arguments.empty() ? std::vector<std::string>(argv, argv + argc) : arguments;
}

void prepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace p2k::cli
