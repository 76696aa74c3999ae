#include "tests/support/fake_driver_system.h"

#include "link/byte_order.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace p2k::test {

DriverReply completesWith(const Bytes& output)
{
    DriverReply reply;
    reply.output = output;
    return reply;
}

DriverReply refusedAtOnce(uint32_t error)
{
    DriverReply reply;
    reply.started = {false, error};
    return reply;
}

DriverReply neverCompletes(WaitResult cancelWait)
{
    DriverReply reply;
    reply.wait = WaitResult::TimedOut;
    reply.cancelWait = cancelWait;
    return reply;
}

DriverReply finishesWithError(uint32_t error)
{
    DriverReply reply;
    reply.finished = {false, error};
    return reply;
}

Bytes descriptorOutput(const std::string& name)
{
    Bytes output(4);
    storeLe32(output.data(), static_cast<uint32_t>(name.size()));
    for (const char c : name) {
        output.push_back(static_cast<uint8_t>(c));
        output.push_back(0);
    }
    return output;
}

namespace {

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string waitText(uint32_t timeoutMs)
{
    return std::to_string(timeoutMs) + " ms";
}

} // namespace

// A request's record. The driver keeps writing into the request's output
// until it completes: a record whose cancel never completed is written into
// when its device is closed, which AddressSanitizer reports if the transport
// freed the buffer before.
struct FakeDriverSystem::Record : OverlappedRecord {
    Record(FakeDriverSystem& owner, SystemHandle completion, int number)
        : fake(owner), event(completion), id(number)
    {
        fake.records_[event] = this;
    }
    ~Record() override
    {
        fake.records_.erase(event);
        ++fake.recordsFreed;
        fake.calls.push_back("free record " + std::to_string(id));
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    FakeDriverSystem& fake;
    SystemHandle event;
    int id;
    SystemHandle device = kNoHandle;
    DriverReply reply;
    std::span<uint8_t> output;
    int waits = 0;
    bool outstanding = false; // started and neither completed nor cancelled
};

SystemHandle FakeDriverSystem::give(const std::string& name)
{
    const SystemHandle handle = next_++;
    names_[handle] = name;
    return handle;
}

std::string FakeDriverSystem::nameOf(SystemHandle handle) const
{
    const auto found = names_.find(handle);
    return found == names_.end() ? "unknown handle " + std::to_string(handle) : found->second;
}

void FakeDriverSystem::release(SystemHandle handle, const std::string& call)
{
    calls.push_back(call + " " + nameOf(handle));
    names_.erase(handle);
}

FakeDriverSystem::Record* FakeDriverSystem::recordOf(SystemHandle event)
{
    const auto found = records_.find(event);
    return found == records_.end() ? nullptr : found->second;
}

SystemHandle FakeDriverSystem::openDevice(const std::string& path, std::deque<DriverReply> replies)
{
    const SystemHandle device = give("device " + path);
    ownReplies_[device] = std::move(replies);
    deviceReplies_[device] = &ownReplies_[device];
    return device;
}

std::set<std::string> FakeDriverSystem::openHandles() const
{
    std::set<std::string> open;
    for (const auto& [handle, name] : names_)
        open.insert(name);
    return open;
}

std::vector<std::string> FakeDriverSystem::takeCalls()
{
    return std::exchange(calls, {});
}

SystemHandle FakeDriverSystem::openInterfaceSet()
{
    calls.push_back("SetupDiGetClassDevs");
    return setOpens ? give("interface set") : kNoHandle;
}

void FakeDriverSystem::destroyInterfaceSet(SystemHandle set)
{
    release(set, "SetupDiDestroyDeviceInfoList");
}

bool FakeDriverSystem::enumerateInterface(SystemHandle, uint32_t index)
{
    calls.push_back("SetupDiEnumDeviceInterfaces " + std::to_string(index));
    current_ = index;
    return index < interfaces.size();
}

SystemResult FakeDriverSystem::interfaceDetailSize(SystemHandle, uint32_t& needed)
{
    calls.push_back("SetupDiGetDeviceInterfaceDetail size");
    const FakeInterface& member = interfaces.at(current_);
    needed = member.needed;
    return member.sizeAsk;
}

bool FakeDriverSystem::readInterfaceDetail(SystemHandle, std::span<uint8_t> record, std::string& path)
{
    calls.push_back("SetupDiGetDeviceInterfaceDetail " + std::to_string(record.size()) + " bytes");
    detailRecordSizes.push_back(record.size());
    std::fill(record.begin(), record.end(), 0xDD); // the whole record must be writable
    const FakeInterface& member = interfaces.at(current_);
    if (!member.detailReadable)
        return false;
    path = member.path;
    return true;
}

SystemHandle FakeDriverSystem::openInterface(const std::string& path)
{
    calls.push_back("CreateFile interface " + path);
    const auto member = std::find_if(interfaces.begin(), interfaces.end(),
                                     [&path](const FakeInterface& m) { return m.path == path; });
    if (member == interfaces.end() || !member->openable)
        return kNoHandle;
    const SystemHandle device = give("device " + path);
    deviceReplies_[device] = &member->replies;
    return device;
}

SystemHandle FakeDriverSystem::openPort(const std::string& device)
{
    calls.push_back("CreateFile port " + device);
    return portOpens ? give("port " + device) : kNoHandle;
}

bool FakeDriverSystem::setPortTimeouts(SystemHandle port, const PortTimeouts& timeouts)
{
    calls.push_back("SetCommTimeouts " + nameOf(port));
    portTimeouts = timeouts;
    return portTimeoutsTaken;
}

bool FakeDriverSystem::writeFile(SystemHandle file, std::span<const uint8_t> bytes, uint32_t& written)
{
    calls.push_back("WriteFile " + nameOf(file) + " " + std::to_string(bytes.size()) + " bytes");
    portBytesWritten.insert(portBytesWritten.end(), bytes.begin(), bytes.end());
    written = portWriteCount.value_or(static_cast<uint32_t>(bytes.size()));
    return portWriteOk;
}

bool FakeDriverSystem::readFile(SystemHandle file, std::span<uint8_t> into, uint32_t& received)
{
    calls.push_back("ReadFile " + nameOf(file) + " " + std::to_string(into.size()) + " bytes");
    received = 0;
    return true;
}

void FakeDriverSystem::closeHandle(SystemHandle handle)
{
    // The driver lets go of what is still outstanding on a device only when
    // the device is closed, writing its last bytes as it goes.
    for (auto& [event, record] : records_)
        if (record->device == handle && record->outstanding) {
            std::fill(record->output.begin(), record->output.end(), 0xEE);
            record->outstanding = false;
        }
    release(handle, "CloseHandle");
}

SystemHandle FakeDriverSystem::createEvent()
{
    calls.push_back("CreateEvent");
    return eventCreates ? give("event " + std::to_string(++eventCount_)) : kNoHandle;
}

bool FakeDriverSystem::resetEvent(SystemHandle event)
{
    calls.push_back("ResetEvent " + nameOf(event));
    return eventResets;
}

void FakeDriverSystem::setEvent(SystemHandle event)
{
    calls.push_back("SetEvent " + nameOf(event));
}

WaitResult FakeDriverSystem::waitForEvent(SystemHandle event, uint32_t timeoutMs)
{
    calls.push_back("WaitForSingleObject " + nameOf(event) + " " + waitText(timeoutMs));
    Record* record = recordOf(event);
    if (record == nullptr)
        return WaitResult::Failed;
    const WaitResult result = record->waits++ == 0 ? record->reply.wait : record->reply.cancelWait;
    if (result == WaitResult::Signalled)
        record->outstanding = false;
    return result;
}

void FakeDriverSystem::waitForEitherEvent(SystemHandle first, SystemHandle second)
{
    calls.push_back("WaitForMultipleObjects " + nameOf(first) + ", " + nameOf(second));
}

std::unique_ptr<OverlappedRecord> FakeDriverSystem::newOverlappedRecord(SystemHandle event)
{
    return std::make_unique<Record>(*this, event, ++recordCount_);
}

SystemResult FakeDriverSystem::deviceIoControl(SystemHandle device, uint32_t code, std::span<const uint8_t> input,
                                               std::span<uint8_t> output, OverlappedRecord& overlapped)
{
    auto& record = static_cast<Record&>(overlapped);
    calls.push_back("DeviceIoControl " + nameOf(device) + " " + hex(code) + " in " + std::to_string(input.size())
                    + " out " + std::to_string(output.size()) + " record " + std::to_string(record.id));
    requestInputs.emplace_back(input.begin(), input.end());
    std::deque<DriverReply>* replies = deviceReplies_.count(device) ? deviceReplies_[device] : nullptr;
    if (replies == nullptr || replies->empty()) {
        record.reply = refusedAtOnce(kGenFailure);
    } else {
        record.reply = replies->front();
        replies->pop_front();
    }
    record.device = device;
    record.output = output;
    record.outstanding = !record.reply.started.ok && record.reply.started.error == win_error::kIoPending;
    if (record.reply.wait == WaitResult::Signalled && record.reply.finished.ok)
        std::copy_n(record.reply.output.begin(), std::min(record.reply.output.size(), output.size()), output.begin());
    return record.reply.started;
}

SystemResult FakeDriverSystem::overlappedResult(SystemHandle device, OverlappedRecord& overlapped,
                                                uint32_t& transferred)
{
    auto& record = static_cast<Record&>(overlapped);
    calls.push_back("GetOverlappedResult " + nameOf(device) + " record " + std::to_string(record.id));
    transferred = record.reply.finished.ok ? static_cast<uint32_t>(record.reply.output.size()) : 0;
    return record.reply.finished;
}

void FakeDriverSystem::cancelRequest(SystemHandle device, OverlappedRecord& overlapped)
{
    calls.push_back("CancelIoEx " + nameOf(device) + " record "
                    + std::to_string(static_cast<Record&>(overlapped).id));
}

SystemHandle FakeDriverSystem::openLocalMachineKey(const std::string& path)
{
    calls.push_back("RegOpenKeyEx " + path);
    return keys.count(path) ? give("key " + path) : kNoHandle;
}

bool FakeDriverSystem::queryTextValue(SystemHandle key, const std::string& name, size_t bufferBytes,
                                      std::string& text)
{
    calls.push_back("RegQueryValueEx " + name + " " + std::to_string(bufferBytes) + " bytes");
    const auto& values = keys.at(nameOf(key).substr(4));
    const auto value = values.find(name);
    if (value == values.end())
        return false;
    text = value->second;
    return true;
}

uint32_t FakeDriverSystem::notifyKeyChange(SystemHandle key, SystemHandle event)
{
    calls.push_back("RegNotifyChangeKeyValue " + nameOf(key) + " "
                    + (event == kNoHandle ? std::string("blocking") : nameOf(event)));
    return notifyError;
}

void FakeDriverSystem::closeKey(SystemHandle key)
{
    release(key, "RegCloseKey");
}

} // namespace p2k::test
