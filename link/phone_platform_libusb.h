#pragma once

#include "link/clock.h"
#include "link/phone_platform.h"
#include "link/usb_device_libusb.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace p2k {

class OperatorLog;

// The phone maker's USB vendor id: its phones in both modes, and their modem ports.
inline constexpr uint16_t kPhoneVendorId = 0x22b8;
// How often a system without hotplug events looks whether the phone is still there.
inline constexpr uint32_t kPresencePollMs = 200;

// The interface's name as the kernel gives it in sysfs, "bus-ports:config.interface"
// ("1-2.3:1.8"); it stays the same while the phone stays in the same socket.
std::string usbInterfacePath(const UsbDeviceInfo& device, uint8_t interfaceNumber);

// Discovery on Linux (and other libusb systems): the phone maker's devices on
// the USB bus, the interface whose name string is the command interface's,
// the modem port among the ttyACM ports, and removal through hotplug events,
// else by polling the bus. Descriptor request texts go to log; the mode
// switch and the polling wait on clock.
class LibusbPlatform : public PhonePlatform {
public:
    LibusbPlatform(std::unique_ptr<UsbBus> bus, std::unique_ptr<SerialPorts> ports, OperatorLog& log, Clock& clock);

    // "/dev/ttyACMn" of the first ttyACM port on one of the maker's devices
    // that lacks the command interface: a phone already in command mode is
    // not sent the mode switch again.
    int findModemPort(std::string& portName) override;
    void switchToCommandMode(const std::string& portName) override;
    // Claims the matched interface; the path is usbInterfacePath's.
    FoundPhone findPhone() override;
    // Watches the device of the last interface findPhone returned; any other
    // path cannot be watched and returns at once.
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override;

private:
    struct Watched {
        std::string path;
        UsbDeviceInfo device;
    };

    FoundPhone openCommandInterface(const UsbDeviceInfo& device);
    bool carriesCommandInterface(const UsbDeviceInfo& device);
    bool isNamedCommandInterface(UsbDeviceHandle& handle, const UsbInterfaceInfo& interface, OperatorLog& log);
    void reportOnce(const UsbDeviceInfo& device, const std::string& text);
    void forgetAbsentDevices(const std::vector<UsbDeviceInfo>& present);
    bool isPresent(const UsbDeviceInfo& device);
    void pollUntilGone(const UsbDeviceInfo& device, const std::stop_token& stop);

    std::unique_ptr<UsbBus> bus_;
    std::unique_ptr<SerialPorts> ports_;
    OperatorLog& log_;
    Clock& clock_;
    std::optional<Watched> watched_;
    // Devices whose name reads have failed and been logged: a device that
    // keeps failing is logged once, not on every search.
    std::vector<UsbDeviceInfo> reported_;
};

// The platform over the real bus and ports.
std::unique_ptr<PhonePlatform> makeLibusbPlatform(OperatorLog& log, Clock& clock);

} // namespace p2k
