#include "link/phone_platform_libusb.h"

#include "core/operator_log.h"
#include "link/byte_order.h"
#include "link/interface_name.h"
#include "link/usb_transport_libusb.h"

#include <algorithm>
#include <array>
#include <span>

namespace p2k {

namespace {

constexpr std::string_view kDeviceDir = "/dev/";
constexpr size_t kPortReplyBytes = 256;
constexpr size_t kStringDescriptorBytes = 255;
constexpr size_t kStringHeaderBytes = 2; // bLength, bDescriptorType

// Recasts a raw string descriptor as the phone maker's driver delivers one
// (a 32-bit little-endian unit count, then the UTF-16LE units), so that the
// shared name decoding applies unchanged.
TransferResult toDriverStringOutput(std::span<const uint8_t> raw, std::span<uint8_t> output)
{
    if (raw.size() < kStringHeaderBytes || raw[1] != LIBUSB_DT_STRING || output.size() < descriptor::kCountSize)
        return TransferResult{};
    const size_t declared = std::clamp<size_t>(raw[0], kStringHeaderBytes, raw.size());
    const size_t units = std::min((declared - kStringHeaderBytes) / 2, (output.size() - descriptor::kCountSize) / 2);
    storeLe32(output.data(), static_cast<uint32_t>(units));
    std::copy_n(raw.begin() + kStringHeaderBytes, 2 * units, output.begin() + descriptor::kCountSize);
    return {TransferOutcome::Done, descriptor::kCountSize + 2 * units};
}

// The driver-shaped descriptor request over an open device: the input is the
// descriptor index, 16 bits little-endian.
DescriptorRequest descriptorRequestOn(UsbDeviceHandle& handle)
{
    return [&handle](std::span<const uint8_t> input, std::span<uint8_t> output, uint32_t timeoutMs) {
        if (input.size() < descriptor::kInputSize)
            return TransferResult{};
        std::array<uint8_t, kStringDescriptorBytes> raw{};
        const auto index = static_cast<uint8_t>(loadLe16(input.data()));
        const int result = handle.readStringDescriptor(index, raw, timeoutMs);
        if (result < 0)
            return TransferResult{transferOutcomeOf(result), 0};
        const size_t received = std::min(static_cast<size_t>(result), raw.size());
        return toDriverStringOutput(std::span<const uint8_t>(raw).first(received), output);
    };
}

// The same socket and the same enumeration.
bool isSameDevice(const UsbDeviceInfo& a, const UsbDeviceInfo& b)
{
    return a.location == b.location && a.address == b.address;
}

} // namespace

std::string usbInterfacePath(const UsbDeviceInfo& device, uint8_t interfaceNumber)
{
    std::string path = std::to_string(device.location.bus) + "-";
    const char* separator = "";
    for (const auto port : device.location.ports) {
        path.append(separator).append(std::to_string(port));
        separator = ".";
    }
    if (device.location.ports.empty())
        path += "0"; // the root hub itself
    return path + ":" + std::to_string(device.configuration) + "." + std::to_string(interfaceNumber);
}

LibusbPlatform::LibusbPlatform(std::unique_ptr<UsbBus> bus, std::unique_ptr<SerialPorts> ports, OperatorLog& log,
                               Clock& clock)
    : bus_(std::move(bus)), ports_(std::move(ports)), log_(log), clock_(clock)
{
}

int LibusbPlatform::findModemPort(std::string& portName)
{
    const std::vector<UsbDeviceInfo> devices = bus_->devices(kPhoneVendorId);
    for (const AcmPort& port : ports_->acmPorts()) {
        if (port.vendorId != kPhoneVendorId)
            continue;
        const auto device = std::find_if(devices.begin(), devices.end(), [&port](const UsbDeviceInfo& device) {
            return device.location.bus == port.bus && device.address == port.address;
        });
        if (device == devices.end() || carriesCommandInterface(*device))
            continue;
        portName = std::string(kDeviceDir) + port.name;
        return 0;
    }
    return -1;
}

void LibusbPlatform::switchToCommandMode(const std::string& portName)
{
    const std::unique_ptr<SerialPort> port = ports_->open(portName);
    if (!port)
        return;
    const auto* text = reinterpret_cast<const uint8_t*>(kModeSwitchText.data());
    if (!port->write(std::span(text, kModeSwitchText.size())))
        return;
    clock_.sleepMs(kModeSwitchReplyWaitMs);
    // The reply is taken off the port, not examined.
    std::array<uint8_t, kPortReplyBytes> reply{};
    port->readAvailable(reply);
}

FoundPhone LibusbPlatform::findPhone()
{
    const std::vector<UsbDeviceInfo> devices = bus_->devices(kPhoneVendorId);
    forgetAbsentDevices(devices);
    for (const UsbDeviceInfo& device : devices) {
        if (FoundPhone found = openCommandInterface(device); found.device)
            return found;
    }
    return {};
}

// The first interface of the device that carries the command interface's
// name and can be claimed; the handle is closed when none does.
FoundPhone LibusbPlatform::openCommandInterface(const UsbDeviceInfo& device)
{
    std::unique_ptr<UsbDeviceHandle> handle = bus_->open(device);
    if (!handle)
        return {};
    MemoryLogSink failures;
    OperatorLog log(&failures);
    for (const UsbInterfaceInfo& interface : device.interfaces) {
        if (!isNamedCommandInterface(*handle, interface, log)
            || handle->claimInterface(interface.number) != LIBUSB_SUCCESS)
            continue;
        std::string path = usbInterfacePath(device, interface.number);
        watched_ = Watched{path, device};
        return {std::make_unique<LibusbTransport>(std::move(handle), interface.number), std::move(path)};
    }
    reportOnce(device, failures.text());
    return {};
}

// A device that cannot be opened cannot be told apart, and is not taken for
// a phone in modem mode either.
bool LibusbPlatform::carriesCommandInterface(const UsbDeviceInfo& device)
{
    const std::unique_ptr<UsbDeviceHandle> handle = bus_->open(device);
    if (!handle)
        return true;
    MemoryLogSink failures;
    OperatorLog log(&failures);
    const bool carries = std::any_of(device.interfaces.begin(), device.interfaces.end(),
                                     [&](const UsbInterfaceInfo& interface) {
                                         return isNamedCommandInterface(*handle, interface, log);
                                     });
    reportOnce(device, failures.text());
    return carries;
}

// The interface's own name string decides when it can be read. A
// vendor-specific interface without one, or whose read fails, is asked for
// string 2, where the phone maker's driver looks.
bool LibusbPlatform::isNamedCommandInterface(UsbDeviceHandle& handle, const UsbInterfaceInfo& interface,
                                             OperatorLog& log)
{
    const DescriptorRequest request = descriptorRequestOn(handle);
    std::string name;
    if (interface.nameIndex != 0 && readInterfaceName(request, interface.nameIndex, log, name))
        return isCommandInterfaceName(name);
    if (interface.interfaceClass != kVendorSpecificClass || interface.nameIndex == kInterfaceNameIndex)
        return false;
    return hasCommandInterfaceName(request, kInterfaceNameIndex, log);
}

void LibusbPlatform::reportOnce(const UsbDeviceInfo& device, const std::string& text)
{
    if (text.empty() || std::any_of(reported_.begin(), reported_.end(), [&device](const UsbDeviceInfo& reported) {
            return isSameDevice(reported, device);
        }))
        return;
    reported_.push_back(device);
    log_.appendLog(text);
}

// A device that left and came back is a new device, logged anew.
void LibusbPlatform::forgetAbsentDevices(const std::vector<UsbDeviceInfo>& present)
{
    std::erase_if(reported_, [&present](const UsbDeviceInfo& reported) {
        return std::none_of(present.begin(), present.end(),
                            [&reported](const UsbDeviceInfo& device) { return isSameDevice(reported, device); });
    });
}

void LibusbPlatform::waitForRemoval(const std::string& devicePath, std::stop_token stop)
{
    if (stop.stop_requested() || !watched_ || watched_->path != devicePath)
        return;
    const UsbDeviceInfo device = std::move(watched_->device);
    watched_.reset();
    if (bus_->waitForDeparture(device, stop) == DepartureWait::Unavailable)
        pollUntilGone(device, stop);
}

// A device re-enumerated in the same socket has a new address, so a quick
// restart between two looks still counts as a removal.
bool LibusbPlatform::isPresent(const UsbDeviceInfo& device)
{
    const std::vector<UsbDeviceInfo> present = bus_->devices(device.vendorId);
    return std::any_of(present.begin(), present.end(),
                       [&device](const UsbDeviceInfo& other) { return isSameDevice(other, device); });
}

void LibusbPlatform::pollUntilGone(const UsbDeviceInfo& device, const std::stop_token& stop)
{
    while (!stop.stop_requested() && isPresent(device))
        clock_.sleepMs(kPresencePollMs);
}

std::unique_ptr<PhonePlatform> makeLibusbPlatform(OperatorLog& log, Clock& clock)
{
    return std::make_unique<LibusbPlatform>(makeLibusbBus(), makeSysfsSerialPorts(), log, clock);
}

} // namespace p2k
