#pragma once

#include "link/clock.h"
#include "link/driver_system.h"
#include "link/phone_platform.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace p2k {

class OperatorLog;

// Discovery through the phone maker's driver: the device setup interface for
// the command interface, the serial-port map for the modem port, and a
// registry change notification on the interface's device-class key for its
// removal. Descriptor request texts go to log; the mode switch waits on clock.
class DriverPlatform : public PhonePlatform {
public:
    DriverPlatform(std::shared_ptr<DriverSystem> system, OperatorLog& log, Clock& clock);

    int findModemPort(std::string& portName) override;
    // Gives the port kPortWriteTimeoutMs to take the text; a short write ends
    // the switch like a failed one.
    void switchToCommandMode(const std::string& portName) override;
    // The first interface of the class, in member order, whose name is the
    // command interface's. An interface whose detail record cannot be read,
    // or that cannot be opened, is passed over; a failed size ask ends the
    // search.
    FoundPhone findPhone() override;
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override;

private:
    enum class PathLookup { Found, Skip, StopSearch };

    PathLookup interfacePath(SystemHandle set, std::string& path);
    std::unique_ptr<UsbTransport> openIfCommandInterface(const std::string& path);
    void waitForKeyChange(SystemHandle key, const std::stop_token& stop);

    std::shared_ptr<DriverSystem> system_;
    OperatorLog& log_;
    Clock& clock_;
};

} // namespace p2k
