#pragma once

#include "link/clock.h"
#include "link/phone_platform.h"
#include "sim/simulated_phone.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace p2k {
class OperatorLog;
}

namespace p2k::sim {

// Another present interface of the phone's class, as some other device shows it.
struct SimInterface {
    std::string name;               // its string descriptor 2, as 8-bit text
    bool descriptorReadable = true; // false: the descriptor request fails
};

// The port under which a phone in modem mode appears.
inline constexpr std::string_view kSimModemPort = "COM5";
// The path of a command interface with that number, shaped like the
// driver's: "\\?\usb#vid_22b8&pid_4902&mi_08#6&1a2b3c4d&0&0008#{...}".
std::string simDevicePath(uint8_t commandInterface);

// The platform around a SimulatedPhone: its modem port while it is in modem
// mode, its command interface (after any other interfaces of the class) while
// it is attached, and a removal watch that ends when it detaches.
//
// The knobs are set before the monitor runs, except holdPhone, which may be
// called from any thread.
class SimulatedPlatform : public PhonePlatform {
public:
    SimulatedPlatform(SimulatedPhone& phone, Clock& clock, OperatorLog& log);

    int findModemPort(std::string& portName) override;
    void switchToCommandMode(const std::string& portName) override;
    FoundPhone findPhone() override;
    // Polls the phone every 50 ms on the clock.
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override;

    // Interfaces walked before the phone's own. One whose name matches is
    // opened as a device that refuses every transfer, and never goes away.
    void setOtherInterfaces(std::vector<SimInterface> interfaces);
    // The phone takes the mode switch text on its modem port but stays a modem.
    void setModemIgnoresSwitch(bool ignores);
    // The removal watch cannot be set up: waitForRemoval returns at once.
    void setWatchUnavailable(bool unavailable);
    // While held, the phone is out of sight: no modem port, no interface, and
    // a watch in progress ends as for a removal.
    void holdPhone(bool held);
    // Runs on the watching thread after each watch step, with the time watched
    // so far; tests unplug or restart the phone from here.
    using WatchHook = std::function<void(uint32_t watchedMs)>;
    void setWatchHook(WatchHook hook);

    // What was written to a port, all writes in order.
    std::string bytesWrittenTo(std::string_view port) const;
    size_t descriptorReads() const;
    // The key the last removal watch was built on; nullopt when the path named none.
    std::optional<std::string> lastWatchKey() const;

private:
    std::string phoneDevicePath() const;
    bool phoneInSight() const;
    bool modemPortPresent() const;
    bool receiveOnModemPort(std::string_view bytes);
    bool interfaceMatches(const SimInterface& interface);
    FoundPhone findOtherInterface();
    FoundPhone findPhoneInterface();
    bool phoneStillThere() const;

    SimulatedPhone& phone_;
    Clock& clock_;
    OperatorLog& log_;
    std::atomic<bool> held_{false};
    std::atomic<bool> watchUnavailable_{false};
    std::atomic<bool> ignoresSwitch_{false};
    std::vector<SimInterface> others_;
    WatchHook watchHook_;
    uint64_t watchedAttachment_ = 0;

    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> portWrites_;
    size_t descriptorReads_ = 0;
    std::optional<std::string> lastWatchKey_;
};

} // namespace p2k::sim
