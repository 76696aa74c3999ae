#include "link/phone_platform_win32.h"

#include "core/operator_log.h"
#include "core/text_win32.h"
#include "link/device_path.h"
#include "link/interface_name.h"
#include "link/removal_watch.h"
#include "link/usb_transport_win32.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <optional>
#include <type_traits>

namespace p2k {

namespace {

constexpr DWORD kStringDescriptorCode = 0x80002010;
// {4e1e1e15-52d7-11d4-852d-00105aa6f80b}, the class of the phone's command interface.
constexpr GUID kInterfaceClass = {0x4e1e1e15, 0x52d7, 0x11d4, {0x85, 0x2d, 0x00, 0x10, 0x5a, 0xa6, 0xf8, 0x0b}};
constexpr const wchar_t* kSerialPortMapKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const wchar_t* kModemPortValue = L"\\Device\\USBSER000";
constexpr size_t kPortNameBytes = 256;
constexpr size_t kPortReplyBytes = 256;
constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct InterfaceSetDestroyer {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using UniqueInterfaceSet = std::unique_ptr<void, InterfaceSetDestroyer>;

struct StorageFreer {
    void operator()(void* storage) const { std::free(storage); }
};

UniqueKey openLocalMachineKey(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    return UniqueKey(key);
}

// What became of one interface's path.
enum class PathLookup { Found, Skip, StopSearch };

// The interface's device path from its variable-length detail record: the
// size is learnt first, then the record filled.
PathLookup interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface, std::wstring& path)
{
    DWORD needed = 0;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interface, nullptr, 0, &needed, nullptr)
        && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return PathLookup::StopSearch;

    // Room for at least the fixed head, whose size field must be written.
    const DWORD bytes = std::max<DWORD>(needed, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    const std::unique_ptr<void, StorageFreer> storage(std::malloc(bytes));
    if (!storage)
        return PathLookup::StopSearch;
    auto* detail = new (storage.get()) SP_DEVICE_INTERFACE_DETAIL_DATA_W{};
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interface, detail, bytes, nullptr, nullptr))
        return PathLookup::Skip;

    // The path runs from its field to the end of the record, zero-terminated.
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    const size_t maxChars = (bytes - pathOffset) / sizeof(wchar_t);
    std::wstring text(maxChars, L'\0');
    std::memcpy(text.data(), static_cast<const char*>(storage.get()) + pathOffset, maxChars * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    path = std::move(text);
    return PathLookup::Found;
}

// Opens the interface and keeps it when its name is the command interface's.
// Overlapped access, so that the transfer time-outs hold. The interface's
// number comes from its path: the driver offers no request for the interface
// descriptor, and asking the phone would add a transfer that phones at the
// usual number never saw.
std::unique_ptr<UsbTransport> openIfCommandInterface(const std::wstring& path, OperatorLog& log)
{
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    auto device = std::make_unique<DriverTransport>(handle, commandInterfaceNumber(narrow(path)));
    const DescriptorRequest request = [handle](std::span<const uint8_t> input, std::span<uint8_t> output,
                                               uint32_t timeoutMs) {
        return overlappedIoControl(handle, kStringDescriptorCode, input, output, timeoutMs);
    };
    if (hasCommandInterfaceName(request, kInterfaceNameIndex, log))
        return device;
    return nullptr;
}

// Waits for a change under key, or for stop. The notification is armed with
// an event rather than as a blocking call so that a stop request can end the
// wait; without events the blocking form is the fallback.
void waitForKeyChange(HKEY key, std::stop_token stop)
{
    const UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed || !stopped) {
        RegNotifyChangeKeyValue(key, TRUE, kWatchFilter, nullptr, FALSE);
        return;
    }
    // Runs at once when stop was requested before.
    const std::stop_callback onStop(stop, [&stopped] { SetEvent(stopped.get()); });
    if (RegNotifyChangeKeyValue(key, TRUE, kWatchFilter, changed.get(), TRUE) != ERROR_SUCCESS)
        return;
    const std::array<HANDLE, 2> events = {changed.get(), stopped.get()};
    WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
}

class DriverPlatform : public PhonePlatform {
public:
    DriverPlatform(OperatorLog& log, Clock& clock) : log_(log), clock_(clock) {}

    int findModemPort(std::string& portName) override;
    void switchToCommandMode(const std::string& portName) override;
    FoundPhone findPhone() override;
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override;

private:
    OperatorLog& log_;
    Clock& clock_;
};

int DriverPlatform::findModemPort(std::string& portName)
{
    const UniqueKey map = openLocalMachineKey(kSerialPortMapKey);
    if (!map)
        return -1;
    // One unit is kept back so that the text always ends in a zero.
    std::array<wchar_t, kPortNameBytes / sizeof(wchar_t)> value{};
    DWORD bytes = static_cast<DWORD>((value.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(map.get(), kModemPortValue, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &bytes)
        != ERROR_SUCCESS)
        return -1;
    const std::wstring_view name(value.data(), std::wcslen(value.data()));
    if (!name.starts_with(L"COM"))
        return -1;
    portName = narrow(name);
    return 0;
}

void DriverPlatform::switchToCommandMode(const std::string& portName)
{
    // The device namespace prefix also reaches ports above COM9.
    const std::wstring device = L"\\\\.\\" + widen(portName);
    HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    const UniqueHandle port(handle);
    // Reads return at once with whatever has arrived.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(handle, &timeouts))
        return;
    DWORD written = 0;
    if (!WriteFile(handle, kModeSwitchText.data(), static_cast<DWORD>(kModeSwitchText.size()), &written, nullptr))
        return;
    clock_.sleepMs(kModeSwitchReplyWaitMs);
    // The reply is taken off the port, not examined.
    std::array<uint8_t, kPortReplyBytes> reply{};
    DWORD received = 0;
    ReadFile(handle, reply.data(), static_cast<DWORD>(reply.size()), &received, nullptr);
}

FoundPhone DriverPlatform::findPhone()
{
    HDEVINFO rawSet = SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (rawSet == INVALID_HANDLE_VALUE)
        return {};
    const UniqueInterfaceSet set(rawSet);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interface{};
        interface.cbSize = sizeof(interface);
        if (!SetupDiEnumDeviceInterfaces(rawSet, nullptr, &kInterfaceClass, index, &interface))
            return {};
        std::wstring path;
        const PathLookup lookup = interfacePath(rawSet, interface, path);
        if (lookup == PathLookup::StopSearch)
            return {};
        if (lookup == PathLookup::Skip)
            continue;
        if (std::unique_ptr<UsbTransport> device = openIfCommandInterface(path, log_))
            return {std::move(device), narrow(path)};
    }
}

void DriverPlatform::waitForRemoval(const std::string& devicePath, std::stop_token stop)
{
    const std::optional<std::string> keyPath = removalWatchKey(devicePath);
    if (!keyPath)
        return;
    const UniqueKey key = openLocalMachineKey(widen(*keyPath).c_str());
    if (!key)
        return;
    waitForKeyChange(key.get(), stop);
}

} // namespace

std::unique_ptr<PhonePlatform> makeDriverPlatform(OperatorLog& log, Clock& clock)
{
    return std::make_unique<DriverPlatform>(log, clock);
}

} // namespace p2k
