#include "win32/demo_program_win32.h"

#include "app/demo_options.h"
#include "core/text_win32.h"
#include "sim/demo_phone.h"
#include "sim/simulated_platform.h"

#include <windows.h>

#include <thread>

namespace p2k {

namespace {

// Built before the platform that shows it, so the phone outlives it.
struct DemoPhoneHolder {
    std::unique_ptr<sim::SimulatedPhone> phone;
};

// The simulated platform together with the phone it shows.
class DemoPlatform : private DemoPhoneHolder, public sim::SimulatedPlatform {
public:
    DemoPlatform(OperatorLog& log, Clock& clock, const sim::PhoneConfig& config)
        : DemoPhoneHolder{sim::makeDemoPhone(clock, config)}, SimulatedPlatform(*phone, clock, log)
    {
    }

    // Keeps the phone away until the attach event is set.
    void holdUntilReleased()
    {
        holdPhone(true);
        const HANDLE attach =
            CreateEventW(nullptr, TRUE, FALSE, widen(demoAttachEventName(GetCurrentProcessId())).c_str());
        std::thread([this, attach] {
            WaitForSingleObject(attach, INFINITE);
            holdPhone(false);
        }).detach();
    }

    void unplugAtRequest(uint32_t request)
    {
        phone->injectFault({sim::Fault::UnplugMidRequest, 0, request - 1});
        std::thread([this] {
            constexpr DWORD kLookMs = 20;
            while (phone->queuedFaultCount() > 0)
                Sleep(kLookMs);
            Sleep(kReplugDelayMs);
            phone->plugIn();
        }).detach();
    }
};

} // namespace

Application::PlatformFactory demoPlatformFactory(const DemoOptions& options)
{
    sim::PhoneConfig config = sim::demoPhoneConfig();
    config.commandInterface = options.commandInterface.value_or(sim::kUsualCommandInterface);
    return [config, options](OperatorLog& log, Clock& clock) -> std::unique_ptr<PhonePlatform> {
        auto platform = std::make_unique<DemoPlatform>(log, clock, config);
        if (options.holdPhone)
            platform->holdUntilReleased();
        if (options.unplugAfterRequests)
            platform->unplugAtRequest(*options.unplugAfterRequests);
        return platform;
    };
}

} // namespace p2k
