#include "cli/cli_platform.h"

#include "app/pc_files_win32.h"
#include "app/text_win32.h"
#include "link/phone_platform_win32.h"

#include <windows.h>

#include <shellapi.h>

namespace p2k::cli {

std::unique_ptr<PhonePlatform> makeCliPlatform(OperatorLog& log, Clock& clock)
{
    return makeDriverPlatform(log, clock);
}

std::unique_ptr<PcFiles> makeCliPcFiles()
{
    return makeWin32PcFiles();
}

// argv is in the ANSI code page, which may not hold the names typed; the
// UTF-16 command line holds them all.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

void prepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace p2k::cli
