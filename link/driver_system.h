#pragma once

// The Win32 calls the phone maker's driver back end makes, behind an
// interface so that discovery and the transport run against fakes in tests:
// the device setup interface, files and the serial port, events, overlapped
// device I/O control requests and the registry. Only the real implementation
// (phone_platform_win32.cpp) sees Windows types.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace p2k {

// A handle the system gave out: an interface set, a file or port, an event or
// a registry key. kNoHandle is none, and what every failed open returns.
using SystemHandle = uintptr_t;
inline constexpr SystemHandle kNoHandle = 0;

// The Windows error codes (GetLastError) the logic tells apart.
namespace win_error {
inline constexpr uint32_t kInvalidHandle = 6;        // ERROR_INVALID_HANDLE
inline constexpr uint32_t kDevNotExist = 55;         // ERROR_DEV_NOT_EXIST
inline constexpr uint32_t kInsufficientBuffer = 122; // ERROR_INSUFFICIENT_BUFFER
inline constexpr uint32_t kIoPending = 997;          // ERROR_IO_PENDING
inline constexpr uint32_t kDeviceNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kDeviceRemoved = 1617;     // ERROR_DEVICE_REMOVED
} // namespace win_error

// How a call went; error is the system's code when it failed.
struct SystemResult {
    bool ok = false;
    uint32_t error = 0;
};

enum class WaitResult { Signalled, TimedOut, Failed };

// A serial port's time-outs in milliseconds (COMMTIMEOUTS).
struct PortTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
    bool operator==(const PortTimeouts&) const = default;
};

// A read interval of this value with zero read totals: reads return at once
// with whatever has arrived.
inline constexpr uint32_t kReadReturnsAtOnce = 0xFFFFFFFF;

// The system's record of one overlapped request, tied to its event. The
// driver may write into it (and into the request's buffers) until the request
// completes or its cancel completes; destroying it frees it.
class OverlappedRecord {
public:
    virtual ~OverlappedRecord() = default;
};

// Every call may be made from any thread; handles are used by one thread at a time.
class DriverSystem {
public:
    virtual ~DriverSystem() = default;

    // ---- device setup: the present interfaces of the command interface's class
    // kNoHandle when the set cannot be had.
    virtual SystemHandle openInterfaceSet() = 0;
    virtual void destroyInterfaceSet(SystemHandle set) = 0;
    // Makes member index the set's current interface; false when there is none.
    virtual bool enumerateInterface(SystemHandle set, uint32_t index) = 0;
    // Asks for the size of the current interface's detail record. The ask
    // fails with kInsufficientBuffer when it worked; needed is then set.
    virtual SystemResult interfaceDetailSize(SystemHandle set, uint32_t& needed) = 0;
    // The fixed head of a detail record: the least a record may be given.
    virtual size_t interfaceDetailHeadSize() const = 0;
    // Fills record with the current interface's detail record and reads the
    // device path (UTF-8) from it; false when the system refused.
    virtual bool readInterfaceDetail(SystemHandle set, std::span<uint8_t> record, std::string& path) = 0;

    // ---- files
    // An interface path, for reading and writing, shared, for overlapped access.
    virtual SystemHandle openInterface(const std::string& path) = 0;
    // A serial port ("\\.\COM5"), for reading and writing, not shared, ordinary access.
    virtual SystemHandle openPort(const std::string& device) = 0;
    virtual bool setPortTimeouts(SystemHandle port, const PortTimeouts& timeouts) = 0;
    virtual bool writeFile(SystemHandle file, std::span<const uint8_t> bytes, uint32_t& written) = 0;
    virtual bool readFile(SystemHandle file, std::span<uint8_t> into, uint32_t& received) = 0;
    // Closes a file, port or event.
    virtual void closeHandle(SystemHandle handle) = 0;

    // ---- events: manual reset, created not signalled
    virtual SystemHandle createEvent() = 0;
    virtual bool resetEvent(SystemHandle event) = 0;
    virtual void setEvent(SystemHandle event) = 0;
    virtual WaitResult waitForEvent(SystemHandle event, uint32_t timeoutMs) = 0;
    // Blocks, without a time-out, until either event is signalled.
    virtual void waitForEitherEvent(SystemHandle first, SystemHandle second) = 0;

    // ---- overlapped device I/O control on a handle from openInterface
    virtual std::unique_ptr<OverlappedRecord> newOverlappedRecord(SystemHandle event) = 0;
    // ok when the request completed at once; a request that was started fails
    // with kIoPending. The buffers must outlive the request.
    virtual SystemResult deviceIoControl(SystemHandle device, uint32_t code, std::span<const uint8_t> input,
                                         std::span<uint8_t> output, OverlappedRecord& record) = 0;
    // The finished request's byte count, without waiting.
    virtual SystemResult overlappedResult(SystemHandle device, OverlappedRecord& record, uint32_t& transferred) = 0;
    // Asks the driver to cancel the request; it completes (signals its event) later.
    virtual void cancelRequest(SystemHandle device, OverlappedRecord& record) = 0;

    // ---- registry, under the local-machine root
    // Opened for reading; kNoHandle when it cannot be.
    virtual SystemHandle openLocalMachineKey(const std::string& path) = 0;
    // A text value read into a buffer of bufferBytes, as UTF-8; false when
    // it is missing or does not fit.
    virtual bool queryTextValue(SystemHandle key, const std::string& name, size_t bufferBytes, std::string& text) = 0;
    // Watches the key's subtree for name and value changes: signals event on
    // the first, or, with kNoHandle, blocks until it. 0 or the system's error.
    virtual uint32_t notifyKeyChange(SystemHandle key, SystemHandle event) = 0;
    virtual void closeKey(SystemHandle key) = 0;
};

// Closes a handle of the system when it goes out of scope, with the call that
// matches its kind (DriverSystem::closeHandle, closeKey, destroyInterfaceSet).
class OwnedHandle {
public:
    using Close = void (DriverSystem::*)(SystemHandle);
    OwnedHandle(DriverSystem& system, SystemHandle handle, Close close = &DriverSystem::closeHandle)
        : system_(system), handle_(handle), close_(close)
    {
    }
    ~OwnedHandle()
    {
        if (handle_ != kNoHandle)
            (system_.*close_)(handle_);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    SystemHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNoHandle; }

private:
    DriverSystem& system_;
    SystemHandle handle_;
    Close close_;
};

} // namespace p2k
