#include "link/usb_device_libusb.h"

#include "link/byte_order.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <system_error>
#include <utility>

namespace p2k {

namespace {

using Context = std::shared_ptr<libusb_context>;

constexpr size_t kMaxPortDepth = 7; // USB allows at most seven tiers below the root
constexpr uint8_t kLanguageTableIndex = 0;
constexpr size_t kDescriptorBytes = 255;
// How long one round of event handling may last before the stop request is
// looked at again, should the wake-up be missed.
constexpr time_t kEventRoundSeconds = 1;
constexpr std::string_view kTtyClassDir = "/sys/class/tty";
constexpr std::string_view kAcmPrefix = "ttyACM";

Context openContext()
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS)
        return nullptr;
    return Context(context, [](libusb_context* c) { libusb_exit(c); });
}

// The device list of a context, freed (and its devices unreferenced) on scope exit.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context)
    {
        const ssize_t count = context ? libusb_get_device_list(context, &list_) : 0;
        count_ = count > 0 ? static_cast<size_t>(count) : 0;
    }
    ~DeviceList()
    {
        if (list_)
            libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    std::span<libusb_device* const> devices() const { return {list_, count_}; }

private:
    libusb_device** list_ = nullptr;
    size_t count_ = 0;
};

UsbLocation locationOf(libusb_device* device)
{
    std::array<uint8_t, kMaxPortDepth> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    UsbLocation location{libusb_get_bus_number(device), {}};
    if (depth > 0)
        location.ports.assign(ports.begin(), ports.begin() + depth);
    return location;
}

bool isSameDevice(libusb_device* device, const UsbLocation& location, uint8_t address)
{
    return libusb_get_device_address(device) == address && locationOf(device) == location;
}

libusb_device* findDevice(const DeviceList& list, const UsbDeviceInfo& wanted)
{
    for (libusb_device* device : list.devices()) {
        if (isSameDevice(device, wanted.location, wanted.address))
            return device;
    }
    return nullptr;
}

// The interfaces of the active configuration, named by their first alternate setting.
void readActiveConfiguration(libusb_device* device, UsbDeviceInfo& info)
{
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS)
        return;
    info.configuration = config->bConfigurationValue;
    for (const libusb_interface& interface : std::span(config->interface, config->bNumInterfaces)) {
        if (interface.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& first = interface.altsetting[0];
        info.interfaces.push_back({first.bInterfaceNumber, first.iInterface, first.bInterfaceClass});
    }
    libusb_free_config_descriptor(config);
}

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    LibusbDeviceHandle(Context context, libusb_device_handle* handle) : context_(std::move(context)), handle_(handle)
    {
        // Not every system can detach kernel drivers; the claim then decides.
        libusb_set_auto_detach_kernel_driver(handle_, 1);
    }
    ~LibusbDeviceHandle() override { libusb_close(handle_); }
    LibusbDeviceHandle(const LibusbDeviceHandle&) = delete;
    LibusbDeviceHandle& operator=(const LibusbDeviceHandle&) = delete;

    int readStringDescriptor(uint8_t index, std::span<uint8_t> out, uint32_t timeoutMs) override;
    int claimInterface(uint8_t number) override { return libusb_claim_interface(handle_, number); }
    void releaseInterface(uint8_t number) override { libusb_release_interface(handle_, number); }
    int controlTransfer(const UsbControlSetup& setup, std::span<uint8_t> data, uint32_t timeoutMs) override;

private:
    int readDescriptor(uint8_t index, uint16_t language, std::span<uint8_t> out, uint32_t timeoutMs);
    int firstLanguage(uint32_t timeoutMs);

    Context context_; // outlives the handle
    libusb_device_handle* handle_;
    std::optional<uint16_t> language_;
};

int LibusbDeviceHandle::controlTransfer(const UsbControlSetup& setup, std::span<uint8_t> data, uint32_t timeoutMs)
{
    if (data.size() > std::numeric_limits<uint16_t>::max())
        return LIBUSB_ERROR_INVALID_PARAM;
    // libusb reads a time-out of 0 as "no limit"; the caller meant "at once".
    const unsigned int timeout = std::max<uint32_t>(timeoutMs, 1);
    return libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value, setup.index, data.data(),
                                   static_cast<uint16_t>(data.size()), timeout);
}

int LibusbDeviceHandle::readDescriptor(uint8_t index, uint16_t language, std::span<uint8_t> out, uint32_t timeoutMs)
{
    const UsbControlSetup setup{LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                static_cast<uint16_t>((LIBUSB_DT_STRING << 8) | index), language};
    return controlTransfer(setup, out.first(std::min(out.size(), kDescriptorBytes)), timeoutMs);
}

// Strings come in the languages the device lists in descriptor 0; the first
// is taken, as libusb's own string helper does. Asked once per handle.
int LibusbDeviceHandle::firstLanguage(uint32_t timeoutMs)
{
    if (language_)
        return *language_;
    std::array<uint8_t, kDescriptorBytes> table{};
    const int received = readDescriptor(kLanguageTableIndex, 0, table, timeoutMs);
    if (received < 0)
        return received;
    if (received < 4 || table[1] != LIBUSB_DT_STRING)
        return LIBUSB_ERROR_IO;
    language_ = loadLe16(&table[2]);
    return *language_;
}

int LibusbDeviceHandle::readStringDescriptor(uint8_t index, std::span<uint8_t> out, uint32_t timeoutMs)
{
    const int language = firstLanguage(timeoutMs);
    if (language < 0)
        return language;
    return readDescriptor(index, static_cast<uint16_t>(language), out, timeoutMs);
}

// What the departure callback compares against, and its verdict.
struct DepartureWatch {
    UsbLocation location;
    uint8_t address = 0;
    int departed = 0; // libusb's "completed" flag for the event loop
};

int LIBUSB_CALL onDeviceLeft(libusb_context*, libusb_device* device, libusb_hotplug_event, void* userData)
{
    auto& watch = *static_cast<DepartureWatch*>(userData);
    if (isSameDevice(device, watch.location, watch.address))
        watch.departed = 1;
    return 0; // stay registered; deregistered when the wait ends
}

class LibusbBus : public UsbBus {
public:
    LibusbBus() : context_(openContext()) {}

    std::vector<UsbDeviceInfo> devices(uint16_t vendorId) override;
    std::unique_ptr<UsbDeviceHandle> open(const UsbDeviceInfo& device) override;
    DepartureWait waitForDeparture(const UsbDeviceInfo& device, std::stop_token stop) override;

private:
    bool isPresent(const UsbDeviceInfo& device) const;
    void handleEventsUntil(DepartureWatch& watch, const std::stop_token& stop);

    Context context_;
};

std::vector<UsbDeviceInfo> LibusbBus::devices(uint16_t vendorId)
{
    std::vector<UsbDeviceInfo> found;
    const DeviceList list(context_.get());
    for (libusb_device* device : list.devices()) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS || descriptor.idVendor != vendorId)
            continue;
        UsbDeviceInfo info{locationOf(device), libusb_get_device_address(device), descriptor.idVendor, 0, {}};
        readActiveConfiguration(device, info);
        found.push_back(std::move(info));
    }
    return found;
}

std::unique_ptr<UsbDeviceHandle> LibusbBus::open(const UsbDeviceInfo& device)
{
    const DeviceList list(context_.get());
    libusb_device* present = findDevice(list, device);
    libusb_device_handle* handle = nullptr;
    if (!present || libusb_open(present, &handle) != LIBUSB_SUCCESS)
        return nullptr;
    return std::make_unique<LibusbDeviceHandle>(context_, handle);
}

bool LibusbBus::isPresent(const UsbDeviceInfo& device) const
{
    const DeviceList list(context_.get());
    return findDevice(list, device) != nullptr;
}

DepartureWait LibusbBus::waitForDeparture(const UsbDeviceInfo& device, std::stop_token stop)
{
    if (!context_ || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return DepartureWait::Unavailable;
    DepartureWatch watch{device.location, device.address};
    libusb_hotplug_callback_handle callback = 0;
    if (libusb_hotplug_register_callback(context_.get(), LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0, device.vendorId,
                                         LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onDeviceLeft, &watch,
                                         &callback)
        != LIBUSB_SUCCESS)
        return DepartureWait::Unavailable;
    // A device that left before the callback was in place sends no event.
    if (!isPresent(device))
        watch.departed = 1;
    handleEventsUntil(watch, stop);
    libusb_hotplug_deregister_callback(context_.get(), callback);
    // Event handling that broke down ends the wait too: the phone is then
    // treated as removed and found again if it is still there.
    return !watch.departed && stop.stop_requested() ? DepartureWait::Stopped : DepartureWait::Departed;
}

// Runs libusb's event handling, which delivers the departure, until it has
// arrived, stop is requested (which wakes the handler) or handling fails.
void LibusbBus::handleEventsUntil(DepartureWatch& watch, const std::stop_token& stop)
{
    libusb_context* context = context_.get();
    const std::stop_callback wake(stop, [context] { libusb_interrupt_event_handler(context); });
    while (!watch.departed && !stop.stop_requested()) {
        timeval round{kEventRoundSeconds, 0};
        const int result = libusb_handle_events_timeout_completed(context, &round, &watch.departed);
        if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED)
            return;
    }
}

// ---- serial ports -----------------------------------------------------------

std::optional<unsigned> acmNumber(std::string_view name)
{
    if (!name.starts_with(kAcmPrefix))
        return std::nullopt;
    const std::string_view digits = name.substr(kAcmPrefix.size());
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return number;
}

// A number that sysfs keeps as text in a file; 0 when it cannot be read.
unsigned numberIn(const std::filesystem::path& file, int base)
{
    std::ifstream in(file);
    std::string text;
    unsigned number = 0;
    if (!(in >> text))
        return 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    return error == std::errc() && end == text.data() + text.size() ? number : 0;
}

// The port's device is a USB interface; its parent, the USB device, holds the
// vendor id (hex), the bus number and the address (decimal).
AcmPort describePort(std::string name)
{
    AcmPort port{std::move(name), std::nullopt, 0, 0};
    std::error_code error;
    const std::filesystem::path interface =
        std::filesystem::canonical(std::filesystem::path(kTtyClassDir) / port.name / "device", error);
    if (error)
        return port;
    const std::filesystem::path device = interface.parent_path();
    if (const unsigned vendor = numberIn(device / "idVendor", 16); vendor != 0 && vendor <= 0xFFFF)
        port.vendorId = static_cast<uint16_t>(vendor);
    const unsigned bus = numberIn(device / "busnum", 10);
    const unsigned address = numberIn(device / "devnum", 10);
    if (bus <= 0xFF && address <= 0xFF) {
        port.bus = static_cast<uint8_t>(bus);
        port.address = static_cast<uint8_t>(address);
    }
    return port;
}

bool waitWritable(int fd, std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    pollfd port{fd, POLLOUT, 0};
    return ::poll(&port, 1, static_cast<int>(left.count())) == 1 && (port.revents & POLLOUT) != 0;
}

class PosixSerialPort : public SerialPort {
public:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    ~PosixSerialPort() override { ::close(fd_); }
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool write(std::span<const uint8_t> bytes) override;
    size_t readAvailable(std::span<uint8_t> into) override;

private:
    int fd_;
};

// The port is non-blocking: a full output queue is waited out for what is
// left of the time-out, never longer.
bool PosixSerialPort::write(std::span<const uint8_t> bytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPortWriteTimeoutMs);
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !waitWritable(fd_, deadline))
            return false;
    }
    return true;
}

size_t PosixSerialPort::readAvailable(std::span<uint8_t> into)
{
    ssize_t received = 0;
    do {
        received = ::read(fd_, into.data(), into.size());
    } while (received < 0 && errno == EINTR);
    return received > 0 ? static_cast<size_t>(received) : 0;
}

// Raw mode: the line discipline would otherwise turn "\n" into "\r\n" on the
// way out and echo the modem's reply back to it.
void makeRaw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return;
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

class SysfsSerialPorts : public SerialPorts {
public:
    std::vector<AcmPort> acmPorts() override;
    std::unique_ptr<SerialPort> open(const std::string& path) override;
};

std::vector<AcmPort> SysfsSerialPorts::acmPorts()
{
    std::vector<std::pair<unsigned, std::string>> numbered;
    std::error_code error;
    for (std::filesystem::directory_iterator it(kTtyClassDir, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (const std::optional<unsigned> number = acmNumber(name))
            numbered.emplace_back(*number, std::move(name));
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<AcmPort> ports;
    for (auto& [number, name] : numbered)
        ports.push_back(describePort(std::move(name)));
    return ports;
}

std::unique_ptr<SerialPort> SysfsSerialPorts::open(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return nullptr;
    }
    makeRaw(fd);
    return std::make_unique<PosixSerialPort>(fd);
}

} // namespace

std::unique_ptr<UsbBus> makeLibusbBus()
{
    return std::make_unique<LibusbBus>();
}

std::unique_ptr<SerialPorts> makeSysfsSerialPorts()
{
    return std::make_unique<SysfsSerialPorts>();
}

} // namespace p2k
