#pragma once

// A scripted stand-in for the Win32 calls of the driver back end: each call
// is written to `calls` as a line naming its handles, and answers from the
// script the test set up.

#include "link/driver_system.h"
#include "tests/support/bytes.h"

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace p2k::test {

// How the driver takes one device I/O control request.
struct DriverReply {
    SystemResult started{false, win_error::kIoPending};
    WaitResult wait = WaitResult::Signalled;    // the wait for completion
    SystemResult finished{true, 0};             // GetOverlappedResult
    Bytes output;                               // what the driver writes on completion
    WaitResult cancelWait = WaitResult::Signalled; // the bounded wait after a cancel
};

DriverReply completesWith(const Bytes& output);
DriverReply refusedAtOnce(uint32_t error);
DriverReply neverCompletes(WaitResult cancelWait = WaitResult::Signalled);
DriverReply finishesWithError(uint32_t error);

// The driver's string-descriptor output for a name: a 32-bit little-endian
// count, then the UTF-16LE units.
Bytes descriptorOutput(const std::string& name);

// One member of the interface set.
struct FakeInterface {
    std::string path;
    SystemResult sizeAsk{false, win_error::kInsufficientBuffer};
    uint32_t needed = 120;
    bool detailReadable = true;
    bool openable = true;
    std::deque<DriverReply> replies; // none left: refused with ERROR_GEN_FAILURE
};

class FakeDriverSystem : public DriverSystem {
public:
    static constexpr size_t kDetailHeadSize = 8;
    static constexpr uint32_t kGenFailure = 31;

    // ---- the script
    bool setOpens = true;
    std::vector<FakeInterface> interfaces;
    bool eventCreates = true;
    bool eventResets = true;
    std::map<std::string, std::map<std::string, std::string>> keys; // path -> value name -> text
    uint32_t notifyError = 0;
    bool portOpens = true;
    bool portTimeoutsTaken = true;
    bool portWriteOk = true;
    std::optional<uint32_t> portWriteCount; // what a write reports written; all when unset

    // ---- what was done
    std::vector<std::string> calls;
    std::optional<PortTimeouts> portTimeouts;
    Bytes portBytesWritten;
    std::vector<Bytes> requestInputs;
    std::vector<size_t> detailRecordSizes;
    int recordsFreed = 0;

    // A device handle as openInterface gives one, for driving a transport directly.
    SystemHandle openDevice(const std::string& path, std::deque<DriverReply> replies);
    // The handles given out and not yet closed, by name.
    std::set<std::string> openHandles() const;
    // The calls made since the last look, emptying the list.
    std::vector<std::string> takeCalls();

    SystemHandle openInterfaceSet() override;
    void destroyInterfaceSet(SystemHandle set) override;
    bool enumerateInterface(SystemHandle set, uint32_t index) override;
    SystemResult interfaceDetailSize(SystemHandle set, uint32_t& needed) override;
    size_t interfaceDetailHeadSize() const override { return kDetailHeadSize; }
    bool readInterfaceDetail(SystemHandle set, std::span<uint8_t> record, std::string& path) override;
    SystemHandle openInterface(const std::string& path) override;
    SystemHandle openPort(const std::string& device) override;
    bool setPortTimeouts(SystemHandle port, const PortTimeouts& timeouts) override;
    bool writeFile(SystemHandle file, std::span<const uint8_t> bytes, uint32_t& written) override;
    bool readFile(SystemHandle file, std::span<uint8_t> into, uint32_t& received) override;
    void closeHandle(SystemHandle handle) override;
    SystemHandle createEvent() override;
    bool resetEvent(SystemHandle event) override;
    void setEvent(SystemHandle event) override;
    WaitResult waitForEvent(SystemHandle event, uint32_t timeoutMs) override;
    void waitForEitherEvent(SystemHandle first, SystemHandle second) override;
    std::unique_ptr<OverlappedRecord> newOverlappedRecord(SystemHandle event) override;
    SystemResult deviceIoControl(SystemHandle device, uint32_t code, std::span<const uint8_t> input,
                                 std::span<uint8_t> output, OverlappedRecord& record) override;
    SystemResult overlappedResult(SystemHandle device, OverlappedRecord& record, uint32_t& transferred) override;
    void cancelRequest(SystemHandle device, OverlappedRecord& record) override;
    SystemHandle openLocalMachineKey(const std::string& path) override;
    bool queryTextValue(SystemHandle key, const std::string& name, size_t bufferBytes, std::string& text) override;
    uint32_t notifyKeyChange(SystemHandle key, SystemHandle event) override;
    void closeKey(SystemHandle key) override;

private:
    struct Record;

    SystemHandle give(const std::string& name);
    void release(SystemHandle handle, const std::string& call);
    std::string nameOf(SystemHandle handle) const;
    Record* recordOf(SystemHandle event);

    SystemHandle next_ = 0x100;
    std::map<SystemHandle, std::string> names_;
    std::map<SystemHandle, std::deque<DriverReply>*> deviceReplies_;
    std::map<SystemHandle, std::deque<DriverReply>> ownReplies_;
    std::map<SystemHandle, Record*> records_; // live records by their event
    uint32_t current_ = 0;
    int recordCount_ = 0;
    int eventCount_ = 0;
};

} // namespace p2k::test
