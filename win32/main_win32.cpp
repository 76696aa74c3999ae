// p2kfm.exe and p2kfm-demo.exe: start-up. The program is its one dialog
// window; when the window closes, the process ends.

#include "app/application.h"
#include "win32/main_window_win32.h"
#include "app/window_logic.h"
#include "link/clock.h"

#ifdef P2K_DEMO
#include "app/demo_options.h"
#include "win32/demo_program_win32.h"
#include "core/text_win32.h"
#else
#include "link/phone_platform_win32.h"
#endif

#include <windows.h>

#include <commctrl.h>

namespace {

using namespace p2k;

struct ProgramSetup {
    Application::PlatformFactory makePlatform;
    LogPaneLimits logLimits = kLogPaneLimits;
};

#ifdef P2K_DEMO
ProgramSetup programSetup()
{
    std::vector<std::string> arguments = utf8CommandLine();
    if (!arguments.empty())
        arguments.erase(arguments.begin()); // the program's name
    const DemoOptions options = parseDemoOptions(arguments);
    return {demoPlatformFactory(options),
            options.logLimit ? logPaneLimitsFor(*options.logLimit) : kLogPaneLimits};
}
#else
ProgramSetup programSetup()
{
    return {makeDriverPlatform};
}
#endif

// The list view and the progress bar of the dialog template.
void registerControlClasses()
{
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerControlClasses();
    const HMENU popupMenu = LoadMenuW(instance, MAKEINTRESOURCEW(kPopupMenuResource));
    const ProgramSetup setup = programSetup();
    // Never destroyed: the monitor thread may be blocked in a removal wait,
    // and ending the process ends it.
    auto* app = new Application(windowsClock(), setup.makePlatform);
    auto* window = new Win32MainWindow(instance, popupMenu, *app, setup.logLimits);
    window->run();
    ExitProcess(0);
}
