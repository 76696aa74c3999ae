#include "sim/simulated_platform.h"

#include "core/operator_log.h"
#include "link/interface_name.h"
#include "link/removal_watch.h"
#include "sim/sim_bytes.h"

#include <algorithm>
#include <cstdio>

namespace p2k::sim {

namespace {

constexpr uint32_t kWatchStepMs = 50;
constexpr uint16_t kNameDescriptorIndex = 2;
// The name the phone gives its command interface.
constexpr std::string_view kPhoneInterfaceName = "Motorola Test Command";
// What the phone's modem port takes as the request to bring up the command interface.
constexpr std::string_view kModemSwitchRequest = "at+mode=8\r\n";
constexpr std::string_view kOtherPathHead = "\\\\?\\usb#vid_0000&pid_0000#other";
constexpr std::string_view kPathTail = "#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

// The driver's output for a string descriptor: a little-endian count of
// characters, then UTF-16LE units (the 8-bit text's bytes widened).
// guessed: the count includes the terminating zero unit, which the driver
// passes on.
std::vector<uint8_t> descriptorOutput(std::string_view name)
{
    std::vector<uint8_t> out(4);
    simStoreLe32(out.data(), static_cast<uint32_t>(name.size() + 1));
    for (char c : name) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// The descriptor request of one interface. Only the name (index 2) is
// offered; any other request is refused.
DescriptorRequest descriptorRequestOf(const SimInterface& interface)
{
    return [interface](std::span<const uint8_t> input, std::span<uint8_t> output, uint32_t) {
        if (!interface.descriptorReadable || input.size() != 2 || simLoadLe16(input.data()) != kNameDescriptorIndex)
            return TransferResult{TransferOutcome::Failed, 0};
        const std::vector<uint8_t> bytes = descriptorOutput(interface.name);
        const size_t length = std::min(bytes.size(), output.size());
        std::copy_n(bytes.begin(), length, output.begin());
        return TransferResult{TransferOutcome::Done, length};
    };
}

// A look-alike interface that carries the command interface's name but does
// not speak the protocol.
class RefusingTransport : public UsbTransport {
public:
    TransferResult controlTransfer(std::span<const uint8_t>, std::span<uint8_t>, uint32_t) override
    {
        return {TransferOutcome::Failed, 0};
    }
};

std::string otherInterfacePath(size_t index)
{
    return std::string(kOtherPathHead) + std::to_string(index) + std::string(kPathTail);
}

} // namespace

std::string simDevicePath(uint8_t commandInterface)
{
    char path[64];
    std::snprintf(path, sizeof path, "\\\\?\\usb#vid_22b8&pid_4902&mi_%02x#6&1a2b3c4d&0&00%02x", commandInterface,
                  commandInterface);
    return path + std::string(kPathTail);
}

SimulatedPlatform::SimulatedPlatform(SimulatedPhone& phone, Clock& clock, OperatorLog& log)
    : phone_(phone), clock_(clock), log_(log)
{
}

std::string SimulatedPlatform::phoneDevicePath() const
{
    return simDevicePath(phone_.config().commandInterface);
}

bool SimulatedPlatform::phoneInSight() const
{
    return !held_.load() && phone_.attached();
}

bool SimulatedPlatform::modemPortPresent() const
{
    return phoneInSight() && phone_.modemMode();
}

int SimulatedPlatform::findModemPort(std::string& portName)
{
    if (!modemPortPresent())
        return -1;
    portName = kSimModemPort;
    return 0;
}

void SimulatedPlatform::switchToCommandMode(const std::string& portName)
{
    // A port that is not there cannot be opened: nothing is written.
    if (portName != kSimModemPort || !modemPortPresent())
        return;
    const bool switchRequested = receiveOnModemPort(kModeSwitchText);
    clock_.sleepMs(kModeSwitchReplyWaitMs);
    if (switchRequested)
        phone_.switchToCommandMode();
}

// The phone's side of the modem port: it keeps what arrives and acts only on
// the exact switch request.
bool SimulatedPlatform::receiveOnModemPort(std::string_view bytes)
{
    std::lock_guard lock(mutex_);
    portWrites_[std::string(kSimModemPort)].append(bytes);
    return bytes == kModemSwitchRequest && !ignoresSwitch_.load();
}

FoundPhone SimulatedPlatform::findPhone()
{
    FoundPhone found = findOtherInterface();
    return found.device ? std::move(found) : findPhoneInterface();
}

bool SimulatedPlatform::interfaceMatches(const SimInterface& interface)
{
    {
        std::lock_guard lock(mutex_);
        ++descriptorReads_;
    }
    return hasCommandInterfaceName(descriptorRequestOf(interface), kInterfaceNameIndex, log_);
}

FoundPhone SimulatedPlatform::findOtherInterface()
{
    for (size_t i = 0; i < others_.size(); ++i) {
        if (interfaceMatches(others_[i]))
            return {std::make_unique<RefusingTransport>(), otherInterfacePath(i)};
    }
    return {};
}

FoundPhone SimulatedPlatform::findPhoneInterface()
{
    if (held_.load())
        return {};
    // Noted before opening: a detach in between then ends the watch at once.
    const uint64_t attachment = phone_.attachmentId();
    std::unique_ptr<UsbTransport> device = phone_.open();
    if (!device || !interfaceMatches(SimInterface{std::string(kPhoneInterfaceName)}))
        return {};
    watchedAttachment_ = attachment;
    return {std::move(device), phoneDevicePath()};
}

// Every detach (unplug, restart, a removal mid-request) gives the phone a new
// attachment id.
bool SimulatedPlatform::phoneStillThere() const
{
    return !held_.load() && phone_.attachmentId() == watchedAttachment_;
}

void SimulatedPlatform::waitForRemoval(const std::string& devicePath, std::stop_token stop)
{
    std::optional<std::string> key = removalWatchKey(devicePath);
    {
        std::lock_guard lock(mutex_);
        lastWatchKey_ = key;
    }
    if (!key || watchUnavailable_.load())
        return;
    // Look-alike interfaces never go away; only the phone's own is watched.
    const bool watchingPhone = devicePath == phoneDevicePath();
    uint32_t watchedMs = 0;
    while (!stop.stop_requested() && (!watchingPhone || phoneStillThere())) {
        clock_.sleepMs(kWatchStepMs);
        watchedMs += kWatchStepMs;
        if (watchHook_)
            watchHook_(watchedMs);
    }
}

void SimulatedPlatform::setOtherInterfaces(std::vector<SimInterface> interfaces)
{
    others_ = std::move(interfaces);
}

void SimulatedPlatform::setModemIgnoresSwitch(bool ignores)
{
    ignoresSwitch_.store(ignores);
}

void SimulatedPlatform::setWatchUnavailable(bool unavailable)
{
    watchUnavailable_.store(unavailable);
}

void SimulatedPlatform::holdPhone(bool held)
{
    held_.store(held);
}

void SimulatedPlatform::setWatchHook(WatchHook hook)
{
    watchHook_ = std::move(hook);
}

std::string SimulatedPlatform::bytesWrittenTo(std::string_view port) const
{
    std::lock_guard lock(mutex_);
    const auto it = portWrites_.find(port);
    return it == portWrites_.end() ? std::string() : it->second;
}

size_t SimulatedPlatform::descriptorReads() const
{
    std::lock_guard lock(mutex_);
    return descriptorReads_;
}

std::optional<std::string> SimulatedPlatform::lastWatchKey() const
{
    std::lock_guard lock(mutex_);
    return lastWatchKey_;
}

} // namespace p2k::sim
