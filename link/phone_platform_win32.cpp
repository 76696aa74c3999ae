#include "link/phone_platform_win32.h"

#include "core/text_win32.h"
#include "link/driver_platform.h"
#include "link/driver_system.h"

#include <windows.h>

#include <setupapi.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>

namespace p2k {

namespace {

// {4e1e1e15-52d7-11d4-852d-00105aa6f80b}, the class of the phone's command interface.
constexpr GUID kInterfaceClass = {0x4e1e1e15, 0x52d7, 0x11d4, {0x85, 0x2d, 0x00, 0x10, 0x5a, 0xa6, 0xf8, 0x0b}};
constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

HANDLE toHandle(SystemHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// Failed opens give INVALID_HANDLE_VALUE or null; both become kNoHandle.
SystemHandle fromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<SystemHandle>(handle);
}

HKEY toKey(SystemHandle key)
{
    return reinterpret_cast<HKEY>(key);
}

SystemResult resultOf(BOOL ok)
{
    return {ok != FALSE, ok ? 0 : static_cast<uint32_t>(GetLastError())};
}

// An interface set with the member the detail calls refer to.
struct InterfaceSet {
    HDEVINFO set;
    SP_DEVICE_INTERFACE_DATA current{};
};

InterfaceSet& toSet(SystemHandle set)
{
    return *reinterpret_cast<InterfaceSet*>(set);
}

struct Win32OverlappedRecord : OverlappedRecord {
    OVERLAPPED overlapped{};
};

OVERLAPPED& toOverlapped(OverlappedRecord& record)
{
    return static_cast<Win32OverlappedRecord&>(record).overlapped;
}

// CancelIoEx (Vista and later) cancels just the one request, from any
// thread; XP has only CancelIo, which cancels the calling thread's requests
// on the handle. Looked up at run time so that the program still starts on XP.
using CancelIoExFunction = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

CancelIoExFunction findCancelIoEx()
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return nullptr;
    return reinterpret_cast<CancelIoExFunction>(reinterpret_cast<void*>(GetProcAddress(kernel, "CancelIoEx")));
}

class Win32DriverSystem : public DriverSystem {
public:
    SystemHandle openInterfaceSet() override
    {
        const HDEVINFO set =
            SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return kNoHandle;
        return reinterpret_cast<SystemHandle>(new InterfaceSet{set});
    }

    void destroyInterfaceSet(SystemHandle set) override
    {
        SetupDiDestroyDeviceInfoList(toSet(set).set);
        delete &toSet(set);
    }

    bool enumerateInterface(SystemHandle set, uint32_t index) override
    {
        InterfaceSet& members = toSet(set);
        members.current = {};
        members.current.cbSize = sizeof(members.current);
        return SetupDiEnumDeviceInterfaces(members.set, nullptr, &kInterfaceClass, index, &members.current) != FALSE;
    }

    SystemResult interfaceDetailSize(SystemHandle set, uint32_t& needed) override
    {
        InterfaceSet& members = toSet(set);
        DWORD bytes = 0;
        const SystemResult result =
            resultOf(SetupDiGetDeviceInterfaceDetailW(members.set, &members.current, nullptr, 0, &bytes, nullptr));
        needed = bytes;
        return result;
    }

    size_t interfaceDetailHeadSize() const override { return sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W); }

    bool readInterfaceDetail(SystemHandle set, std::span<uint8_t> record, std::string& path) override
    {
        InterfaceSet& members = toSet(set);
        auto* detail = new (record.data()) SP_DEVICE_INTERFACE_DETAIL_DATA_W{};
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(members.set, &members.current, detail,
                                              static_cast<DWORD>(record.size()), nullptr, nullptr))
            return false;
        // The path runs from its field to the end of the record, zero-terminated.
        constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        std::wstring text((record.size() - pathOffset) / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), record.data() + pathOffset, text.size() * sizeof(wchar_t));
        text.resize(std::wcslen(text.c_str()));
        path = narrow(text);
        return true;
    }

    SystemHandle openInterface(const std::string& path) override
    {
        return fromHandle(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
    }

    SystemHandle openPort(const std::string& device) override
    {
        return fromHandle(CreateFileW(widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    }

    bool setPortTimeouts(SystemHandle port, const PortTimeouts& timeouts) override
    {
        COMMTIMEOUTS system{};
        system.ReadIntervalTimeout = timeouts.readInterval;
        system.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
        system.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
        system.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
        system.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
        return SetCommTimeouts(toHandle(port), &system) != FALSE;
    }

    bool writeFile(SystemHandle file, std::span<const uint8_t> bytes, uint32_t& written) override
    {
        DWORD count = 0;
        const BOOL ok = WriteFile(toHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr);
        written = count;
        return ok != FALSE;
    }

    bool readFile(SystemHandle file, std::span<uint8_t> into, uint32_t& received) override
    {
        DWORD count = 0;
        const BOOL ok = ReadFile(toHandle(file), into.data(), static_cast<DWORD>(into.size()), &count, nullptr);
        received = count;
        return ok != FALSE;
    }

    void closeHandle(SystemHandle handle) override { CloseHandle(toHandle(handle)); }

    SystemHandle createEvent() override { return fromHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }
    bool resetEvent(SystemHandle event) override { return ResetEvent(toHandle(event)) != FALSE; }
    void setEvent(SystemHandle event) override { SetEvent(toHandle(event)); }

    WaitResult waitForEvent(SystemHandle event, uint32_t timeoutMs) override
    {
        switch (WaitForSingleObject(toHandle(event), timeoutMs)) {
        case WAIT_OBJECT_0:
            return WaitResult::Signalled;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
        }
    }

    void waitForEitherEvent(SystemHandle first, SystemHandle second) override
    {
        const std::array<HANDLE, 2> events = {toHandle(first), toHandle(second)};
        WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
    }

    std::unique_ptr<OverlappedRecord> newOverlappedRecord(SystemHandle event) override
    {
        auto record = std::make_unique<Win32OverlappedRecord>();
        record->overlapped.hEvent = toHandle(event);
        return record;
    }

    SystemResult deviceIoControl(SystemHandle device, uint32_t code, std::span<const uint8_t> input,
                                 std::span<uint8_t> output, OverlappedRecord& record) override
    {
        return resultOf(DeviceIoControl(toHandle(device), code, const_cast<uint8_t*>(input.data()),
                                        static_cast<DWORD>(input.size()), output.data(),
                                        static_cast<DWORD>(output.size()), nullptr, &toOverlapped(record)));
    }

    SystemResult overlappedResult(SystemHandle device, OverlappedRecord& record, uint32_t& transferred) override
    {
        DWORD count = 0;
        const SystemResult result = resultOf(GetOverlappedResult(toHandle(device), &toOverlapped(record), &count, FALSE));
        transferred = count;
        return result;
    }

    void cancelRequest(SystemHandle device, OverlappedRecord& record) override
    {
        if (cancelIoEx_ != nullptr)
            cancelIoEx_(toHandle(device), &toOverlapped(record));
        else
            CancelIo(toHandle(device));
    }

    SystemHandle openLocalMachineKey(const std::string& path) override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, widen(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return kNoHandle;
        return reinterpret_cast<SystemHandle>(key);
    }

    bool queryTextValue(SystemHandle key, const std::string& name, size_t bufferBytes, std::string& text) override
    {
        // One unit is kept back so that the text always ends in a zero.
        std::wstring value(bufferBytes / sizeof(wchar_t), L'\0');
        DWORD bytes = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
        if (RegQueryValueExW(toKey(key), widen(name).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                             &bytes)
            != ERROR_SUCCESS)
            return false;
        value.resize(std::wcslen(value.c_str()));
        text = narrow(value);
        return true;
    }

    uint32_t notifyKeyChange(SystemHandle key, SystemHandle event) override
    {
        const bool async = event != kNoHandle;
        return static_cast<uint32_t>(
            RegNotifyChangeKeyValue(toKey(key), TRUE, kWatchFilter, async ? toHandle(event) : nullptr, async));
    }

    void closeKey(SystemHandle key) override { RegCloseKey(toKey(key)); }

private:
    const CancelIoExFunction cancelIoEx_ = findCancelIoEx();
};

} // namespace

std::unique_ptr<PhonePlatform> makeDriverPlatform(OperatorLog& log, Clock& clock)
{
    return std::make_unique<DriverPlatform>(std::make_shared<Win32DriverSystem>(), log, clock);
}

} // namespace p2k
