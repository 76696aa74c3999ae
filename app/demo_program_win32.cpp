#include "app/demo_program_win32.h"

#include "app/demo_options.h"
#include "app/text_win32.h"
#include "sim/demo_phone.h"
#include "sim/simulated_platform.h"

#include <windows.h>

#include <shellapi.h>

#include <thread>

namespace p2k {

namespace {

// The simulated platform together with the phone it shows, so that the phone
// lives exactly as long as the platform.
class DemoPlatform : public PhonePlatform {
public:
    DemoPlatform(OperatorLog& log, Clock& clock) : phone_(sim::makeDemoPhone(clock)), platform_(*phone_, clock, log) {}

    int findModemPort(std::string& portName) override { return platform_.findModemPort(portName); }
    void switchToCommandMode(const std::string& portName) override { platform_.switchToCommandMode(portName); }
    FoundPhone findPhone() override { return platform_.findPhone(); }
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override
    {
        platform_.waitForRemoval(devicePath, stop);
    }

    // Keeps the phone away until the attach event is set.
    void holdUntilReleased()
    {
        platform_.holdPhone(true);
        const HANDLE attach =
            CreateEventW(nullptr, TRUE, FALSE, widen(demoAttachEventName(GetCurrentProcessId())).c_str());
        std::thread([this, attach] {
            WaitForSingleObject(attach, INFINITE);
            platform_.holdPhone(false);
        }).detach();
    }

private:
    std::unique_ptr<sim::SimulatedPhone> phone_;
    sim::SimulatedPlatform platform_;
};

} // namespace

Application::PlatformFactory demoPlatformFactory(bool holdPhone)
{
    return [holdPhone](OperatorLog& log, Clock& clock) -> std::unique_ptr<PhonePlatform> {
        auto platform = std::make_unique<DemoPlatform>(log, clock);
        if (holdPhone)
            platform->holdUntilReleased();
        return platform;
    };
}

std::vector<std::string> commandLineArguments()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i)
        result.push_back(narrow(arguments[i]));
    LocalFree(arguments);
    return result;
}

} // namespace p2k
