#include "link/driver_platform.h"

#include "core/operator_log.h"
#include "link/device_path.h"
#include "link/driver_transport.h"
#include "link/interface_name.h"
#include "link/removal_watch.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>

namespace p2k {

namespace {

// The driver's string-descriptor request code.
constexpr uint32_t kStringDescriptorCode = 0x80002010;
// The serial-port map, and the value in it that names the phone's modem port.
constexpr const char* kSerialPortMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kModemPortValue = "\\Device\\USBSER000";
constexpr size_t kPortNameBytes = 256;
constexpr size_t kPortReplyBytes = 256;

} // namespace

DriverPlatform::DriverPlatform(std::shared_ptr<DriverSystem> system, OperatorLog& log, Clock& clock)
    : system_(std::move(system)), log_(log), clock_(clock)
{
}

int DriverPlatform::findModemPort(std::string& portName)
{
    const OwnedHandle map(*system_, system_->openLocalMachineKey(kSerialPortMapKey), &DriverSystem::closeKey);
    if (!map)
        return -1;
    std::string name;
    if (!system_->queryTextValue(map.get(), kModemPortValue, kPortNameBytes, name) || !name.starts_with("COM"))
        return -1;
    portName = name;
    return 0;
}

void DriverPlatform::switchToCommandMode(const std::string& portName)
{
    // The device namespace prefix also reaches ports above COM9.
    const OwnedHandle port(*system_, system_->openPort("\\\\.\\" + portName));
    if (!port)
        return;
    // Reads return at once with whatever has arrived; a port that stops
    // taking bytes ends the write instead of holding the monitor thread.
    PortTimeouts timeouts;
    timeouts.readInterval = kReadReturnsAtOnce;
    timeouts.writeTotalConstant = kPortWriteTimeoutMs;
    if (!system_->setPortTimeouts(port.get(), timeouts))
        return;
    const std::span<const uint8_t> text(reinterpret_cast<const uint8_t*>(kModeSwitchText.data()),
                                        kModeSwitchText.size());
    uint32_t written = 0;
    if (!system_->writeFile(port.get(), text, written) || written != text.size())
        return;
    clock_.sleepMs(kModeSwitchReplyWaitMs);
    // The reply is taken off the port, not examined.
    std::array<uint8_t, kPortReplyBytes> reply{};
    uint32_t received = 0;
    system_->readFile(port.get(), reply, received);
}

FoundPhone DriverPlatform::findPhone()
{
    const OwnedHandle set(*system_, system_->openInterfaceSet(), &DriverSystem::destroyInterfaceSet);
    if (!set)
        return {};
    for (uint32_t index = 0; system_->enumerateInterface(set.get(), index); ++index) {
        std::string path;
        const PathLookup lookup = interfacePath(set.get(), path);
        if (lookup == PathLookup::StopSearch)
            return {};
        if (lookup == PathLookup::Skip)
            continue;
        if (std::unique_ptr<UsbTransport> device = openIfCommandInterface(path))
            return {std::move(device), path};
    }
    return {};
}

// The interface's device path from its variable-length detail record: the
// size is learnt first, then the record filled.
DriverPlatform::PathLookup DriverPlatform::interfacePath(SystemHandle set, std::string& path)
{
    uint32_t needed = 0;
    const SystemResult size = system_->interfaceDetailSize(set, needed);
    if (!size.ok && size.error != win_error::kInsufficientBuffer)
        return PathLookup::StopSearch;
    // Room for at least the fixed head, whose size field must be written.
    const size_t bytes = std::max<size_t>(needed, system_->interfaceDetailHeadSize());
    const std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[bytes]());
    if (!record)
        return PathLookup::StopSearch;
    if (!system_->readInterfaceDetail(set, std::span<uint8_t>(record.get(), bytes), path))
        return PathLookup::Skip;
    return PathLookup::Found;
}

// Opens the interface and keeps it when its name is the command interface's.
// The interface's number comes from its path: the driver offers no request
// for the interface descriptor, and asking the phone would add a transfer
// that phones at the usual number never saw.
std::unique_ptr<UsbTransport> DriverPlatform::openIfCommandInterface(const std::string& path)
{
    const SystemHandle handle = system_->openInterface(path);
    if (handle == kNoHandle)
        return nullptr;
    auto device = std::make_unique<DriverTransport>(system_, handle, commandInterfaceNumber(path));
    const DescriptorRequest request = [&device](std::span<const uint8_t> input, std::span<uint8_t> output,
                                                uint32_t timeoutMs) {
        return device->ioControl(kStringDescriptorCode, input, output, timeoutMs);
    };
    if (hasCommandInterfaceName(request, kInterfaceNameIndex, log_))
        return device;
    return nullptr;
}

void DriverPlatform::waitForRemoval(const std::string& devicePath, std::stop_token stop)
{
    const std::optional<std::string> keyPath = removalWatchKey(devicePath);
    if (!keyPath)
        return;
    const OwnedHandle key(*system_, system_->openLocalMachineKey(*keyPath), &DriverSystem::closeKey);
    if (!key)
        return;
    waitForKeyChange(key.get(), stop);
}

// Waits for a change under key, or for stop. The notification is armed with
// an event rather than as a blocking call so that a stop request can end the
// wait; without events the blocking form is the fallback.
void DriverPlatform::waitForKeyChange(SystemHandle key, const std::stop_token& stop)
{
    const OwnedHandle changed(*system_, system_->createEvent());
    const OwnedHandle stopped(*system_, system_->createEvent());
    if (!changed || !stopped) {
        system_->notifyKeyChange(key, kNoHandle);
        return;
    }
    // Runs at once when stop was requested before.
    const std::stop_callback onStop(stop, [this, &stopped] { system_->setEvent(stopped.get()); });
    if (system_->notifyKeyChange(key, changed.get()) != 0)
        return;
    system_->waitForEitherEvent(changed.get(), stopped.get());
}

} // namespace p2k
