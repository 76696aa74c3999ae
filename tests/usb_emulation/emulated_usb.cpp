#include "tests/usb_emulation/emulated_usb.h"

#include "link/byte_order.h"
#include "link/tracing_transport.h"
#include "link/usb_transport.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace p2k::emu {

namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeStandard = 0x00;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kStringDescriptor = 0x03;
constexpr uint8_t kClassCdc = 0x02;
constexpr uint8_t kClassCdcData = 0x0A;
constexpr uint16_t kEnglish = 0x0409;
constexpr size_t kSetup = 8;
constexpr const char* kBusPath = "/devices/pci0000:00/0000:00:14.0/usb1";

void append16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

// The device descriptor, then the one configuration with its interfaces
// (no endpoints: everything goes through endpoint 0).
std::vector<uint8_t> descriptorsOf(const DeviceLayout& layout)
{
    std::vector<uint8_t> bytes{18, 0x01};
    append16(bytes, 0x0200);
    bytes.insert(bytes.end(), {0x00, 0x00, 0x00, 0x40});
    append16(bytes, layout.vendorId);
    append16(bytes, layout.productId);
    append16(bytes, 0x0001);
    bytes.insert(bytes.end(), {0x00, 0x00, 0x00, 0x01});
    const auto total = static_cast<uint16_t>(9 + 9 * layout.interfaces.size());
    bytes.insert(bytes.end(), {9, 0x02});
    append16(bytes, total);
    bytes.insert(bytes.end(), {static_cast<uint8_t>(layout.interfaces.size()), 0x01, 0x00, 0xC0, 0x32});
    for (const EmulatedInterface& interface : layout.interfaces)
        bytes.insert(bytes.end(), {9, 0x04, interface.number, 0x00, 0x00, interface.interfaceClass, 0x00, 0x00,
                                   interface.nameIndex});
    return bytes;
}

std::string hexOf(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

std::vector<uint8_t> stringDescriptorOf(const std::string& text)
{
    std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * text.size()), kStringDescriptor};
    for (char c : text)
        append16(bytes, static_cast<uint8_t>(c));
    return bytes;
}

usbdevfs_urb urbOf(const UMockdevIoctlData* data)
{
    usbdevfs_urb urb{};
    std::memcpy(&urb, data->data, sizeof urb);
    return urb;
}

} // namespace

DeviceLayout phoneInCommandMode(uint8_t commandInterface)
{
    DeviceLayout layout;
    layout.interfaces = {{0, kClassCdc, 0}, {1, kClassCdcData, 0}, {commandInterface, 0xFF, 2},
                         {static_cast<uint8_t>(commandInterface + 1), 0xFF, 3}};
    layout.strings = {{2, "Motorola Test Command"}, {3, "Motorola Accessory Interface"}};
    layout.commandInterface = commandInterface;
    layout.modemPort = true;
    return layout;
}

DeviceLayout phoneInModemMode()
{
    DeviceLayout layout;
    layout.productId = 0x3802;
    layout.interfaces = {{0, kClassCdc, 0}, {1, kClassCdcData, 0}};
    layout.modemPort = true;
    return layout;
}

bool preloadActive()
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("libumockdev-preload") != std::string::npos)
            return true;
    }
    return false;
}

// ---- the bus ------------------------------------------------------------------------

EmulatedBus::EmulatedBus() : testbed_(umockdev_testbed_new()) {}

EmulatedBus::~EmulatedBus()
{
    for (auto& device : devices_) {
        if (!device->gone_)
            unplug(*device);
    }
    g_object_unref(testbed_);
}

EmulatedDevice& EmulatedBus::plugIn(const DeviceLayout& layout, sim::SimulatedPhone* phone)
{
    auto device = std::make_unique<EmulatedDevice>(layout, phone, nextAddress_++);
    // The handler first, so that the node answers from the moment it appears.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, device->nodePath().c_str(), device->handler(), &error)
        || (layout.modemPort
            && !umockdev_testbed_attach_ioctl(testbed_, device->ttyNode().c_str(), device->ttyHandler(), &error))
        || !umockdev_testbed_add_from_string(testbed_, device->record().c_str(), &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "failed");
        g_clear_error(&error);
    }
    umockdev_testbed_uevent(testbed_, device->sysPath().c_str(), "add");
    devices_.push_back(std::move(device));
    return *devices_.back();
}

// Children first: the testbed keeps their links otherwise, and the device
// could not come back in the same socket.
void EmulatedBus::unplug(EmulatedDevice& device)
{
    umockdev_testbed_uevent(testbed_, device.sysPath().c_str(), "remove");
    if (device.layout().modemPort) {
        umockdev_testbed_remove_device(testbed_, device.ttyPath().c_str());
        umockdev_testbed_remove_device(testbed_, device.interfacePath().c_str());
        umockdev_testbed_detach_ioctl(testbed_, device.ttyNode().c_str(), nullptr);
    }
    umockdev_testbed_remove_device(testbed_, device.sysPath().c_str());
    device.goAway();
    umockdev_testbed_detach_ioctl(testbed_, device.nodePath().c_str(), nullptr);
}

int EmulatedBus::modemMasterFd(const EmulatedDevice& device)
{
    return umockdev_testbed_get_dev_fd(testbed_, device.ttyNode().c_str());
}

// ---- one device -----------------------------------------------------------------------

struct EmulatedDevice::Urb {
    const UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* urb = nullptr;    // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr; // setup block, then the data stage
    ~Urb()
    {
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
    }
    std::span<uint8_t> setup() const { return {buffer->data, kSetup}; }
    std::span<uint8_t> data() const
    {
        return {buffer->data + kSetup, static_cast<size_t>(std::max(buffer->data_len, 8) - kSetup)};
    }
    uint16_t wLength() const { return loadLe16(buffer->data + 6); }
    void finish(int status, size_t actual)
    {
        usbdevfs_urb fields = urbOf(urb);
        fields.status = status;
        fields.actual_length = static_cast<int>(actual);
        std::memcpy(urb->data, &fields, sizeof fields);
    }
};

EmulatedDevice::EmulatedDevice(const DeviceLayout& layout, sim::SimulatedPhone* phone, uint8_t address)
    : layout_(layout), phone_(phone), address_(address), handler_(umockdev_ioctl_base_new()),
      ttyHandler_(umockdev_ioctl_base_new())
{
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedDevice::onIoctl), this);
    g_signal_connect(ttyHandler_, "handle-ioctl", G_CALLBACK(&EmulatedDevice::onTtyIoctl), this);
}

EmulatedDevice::~EmulatedDevice()
{
    g_object_unref(ttyHandler_);
    g_object_unref(handler_);
}

std::string EmulatedDevice::sysPath() const
{
    return std::string("/sys") + kBusPath + "/1-" + std::to_string(layout_.port);
}

std::string EmulatedDevice::nodePath() const
{
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03u", address_);
    return path;
}

std::string EmulatedDevice::interfacePath() const
{
    return sysPath() + "/1-" + std::to_string(layout_.port) + ":1.0";
}

std::string EmulatedDevice::ttyPath() const
{
    return interfacePath() + "/tty/ttyACM" + std::to_string(address_);
}

std::string EmulatedDevice::ttyNode() const
{
    return "/dev/ttyACM" + std::to_string(address_);
}

std::string EmulatedDevice::record() const
{
    const std::string devPath = std::string(kBusPath) + "/1-" + std::to_string(layout_.port);
    std::string text = "P: " + devPath + "\nN: " + nodePath().substr(5) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                       + "E: DEVNAME=" + nodePath() + "\nE: BUSNUM=001\nE: DEVNUM=" + nodePath().substr(18) + "\n"
                       + "A: busnum=1\\n\nA: devnum=" + std::to_string(address_) + "\\n\nA: speed=12\\n\n"
                       + "A: bConfigurationValue=1\\n\nA: dev=189:" + std::to_string(address_ - 1) + "\\n\n";
    char vendor[16];
    std::snprintf(vendor, sizeof vendor, "%04x", layout_.vendorId);
    text += std::string("A: idVendor=") + vendor + "\\n\nH: descriptors=" + hexOf(descriptorsOf(layout_)) + "\n";
    if (!layout_.modemPort)
        return text;
    const std::string interfacePath = devPath + "/1-" + std::to_string(layout_.port) + ":1.0";
    const std::string tty = "ttyACM" + std::to_string(address_);
    text += "\nP: " + interfacePath + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=cdc_acm\n"
            + "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=02\\n\n";
    text += "\nP: " + interfacePath + "/tty/" + tty + "\nN: " + tty + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + tty
            + "\nL: device=../../../1-" + std::to_string(layout_.port) + ":1.0\nA: dev=166:" + std::to_string(address_)
            + "\\n\n";
    return text;
}

std::vector<WireTransfer> EmulatedDevice::takeWire()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(wire_, {});
}

std::vector<uint8_t> EmulatedDevice::claimedInterfaces() const
{
    const std::lock_guard lock(mutex_);
    return claimed_;
}

std::vector<uint8_t> EmulatedDevice::stringsRead() const
{
    const std::lock_guard lock(mutex_);
    return stringsRead_;
}

int EmulatedDevice::exclusiveOpens() const
{
    const std::lock_guard lock(mutex_);
    return exclusiveOpens_;
}

void EmulatedDevice::holdCommandTransfer(int n)
{
    const std::lock_guard lock(mutex_);
    holdCountdown_ = n;
}

bool EmulatedDevice::waitUntilHeld(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return held_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !holding_.empty(); });
}

void EmulatedDevice::goAway()
{
    const std::lock_guard lock(mutex_);
    gone_ = true;
    for (auto& urb : holding_) {
        urb->finish(-ENODEV, 0);
        done_[urb->client].push_back(std::move(urb));
    }
    holding_.clear();
}

gboolean EmulatedDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    return static_cast<EmulatedDevice*>(self)->handle(client);
}

// The port is a pty, which answers the terminal requests itself; TIOCEXCL
// is one umockdev does not pass on.
gboolean EmulatedDevice::onTtyIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    if (umockdev_ioctl_client_get_request(client) != TIOCEXCL)
        return FALSE;
    auto& device = *static_cast<EmulatedDevice*>(self);
    const std::lock_guard lock(device.mutex_);
    ++device.exclusiveOpens_;
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

// Runs on umockdev's thread: answers at once, never waits.
gboolean EmulatedDevice::handle(UMockdevIoctlClient* client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    const std::lock_guard lock(mutex_);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(uint32_t), nullptr);
        const uint32_t value = USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(caps->data, &value, sizeof value);
        g_object_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: // how libusb claims when it may detach a kernel driver
        claim(client);
        return TRUE;
    case USBDEVFS_RELEASEINTERFACE:
        umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
        return TRUE;
    case USBDEVFS_SUBMITURB:
        submit(client);
        return TRUE;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client);
        return TRUE;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return TRUE;
    default:
        return FALSE;
    }
}

// Both claim requests start with the interface number.
void EmulatedDevice::claim(UMockdevIoctlClient* client)
{
    if (gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    UMockdevIoctlData* number =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(uint32_t), nullptr);
    uint32_t value = 0;
    std::memcpy(&value, number->data, sizeof value);
    g_object_unref(number);
    claimed_.push_back(static_cast<uint8_t>(value));
    // Each claim is a new host program, as far as the phone can tell.
    if (phone_ && value == layout_.commandInterface)
        phoneHandle_ = phone_->open();
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedDevice::submit(UMockdevIoctlClient* client)
{
    if (gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    auto urb = std::make_unique<Urb>();
    urb->client = client;
    urb->urb = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
    const usbdevfs_urb fields = urbOf(urb->urb);
    if (fields.type != USBDEVFS_URB_TYPE_CONTROL || fields.buffer_length < static_cast<int>(kSetup)) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    urb->buffer = umockdev_ioctl_data_resolve(urb->urb, offsetof(usbdevfs_urb, buffer),
                                              static_cast<gsize>(fields.buffer_length), nullptr);
    const bool toCommandInterface = layout_.commandInterface
                                    && (urb->setup()[0] & kTypeMask) != kTypeStandard
                                    && loadLe16(&urb->setup()[4]) == *layout_.commandInterface;
    if (toCommandInterface && holdCountdown_ > 0 && --holdCountdown_ == 0) {
        holding_.push_back(std::move(urb));
        held_.notify_all();
    } else {
        answerControl(*urb);
        done_[client].push_back(std::move(urb));
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedDevice::reap(UMockdevIoctlClient* client)
{
    std::deque<std::unique_ptr<Urb>>& done = done_[client];
    if (done.empty()) {
        umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
        return;
    }
    const std::unique_ptr<Urb> urb = std::move(done.front());
    done.pop_front();
    UMockdevIoctlData* pointer =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
}

void EmulatedDevice::discard(UMockdevIoctlClient* client)
{
    const UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    const auto held = std::find_if(holding_.begin(), holding_.end(),
                                   [client, address](const auto& urb) {
                                       return urb->client == client && urb->urb->client_addr == address;
                                   });
    if (held == holding_.end()) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    (*held)->finish(-ENOENT, 0);
    done_[client].push_back(std::move(*held));
    holding_.erase(held);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedDevice::answerControl(Urb& urb)
{
    const std::span<const uint8_t> setup = urb.setup();
    if ((setup[0] & kTypeMask) == kTypeStandard)
        answerDescriptor(urb);
    else if (layout_.commandInterface && loadLe16(&setup[4]) == *layout_.commandInterface)
        answerCommand(urb);
    else
        urb.finish(-EPIPE, 0);
}

// String descriptors only: the others come from sysfs.
void EmulatedDevice::answerDescriptor(Urb& urb)
{
    const std::span<const uint8_t> setup = urb.setup();
    const uint16_t value = loadLe16(&setup[2]);
    if (setup[1] != kGetDescriptor || (value >> 8) != kStringDescriptor) {
        urb.finish(-EPIPE, 0);
        return;
    }
    const auto index = static_cast<uint8_t>(value & 0xFF);
    std::vector<uint8_t> bytes;
    if (index == 0) {
        bytes = {4, kStringDescriptor};
        append16(bytes, kEnglish);
    } else if (const auto text = layout_.strings.find(index); text != layout_.strings.end()) {
        stringsRead_.push_back(index);
        bytes = stringDescriptorOf(text->second);
    } else {
        stringsRead_.push_back(index);
        urb.finish(-EPIPE, 0);
        return;
    }
    const size_t count = std::min<size_t>({bytes.size(), urb.wLength(), urb.data().size()});
    std::copy_n(bytes.begin(), count, urb.data().begin());
    urb.finish(0, count);
}

// The phone sees the transfer as the channel wrote it: wIndex 8, whatever
// number the interface has here. The trace line is what the tool's tracer
// prints for the same transfer.
void EmulatedDevice::answerCommand(Urb& urb)
{
    const std::span<const uint8_t> setup = urb.setup();
    const bool in = (setup[0] & kDirectionIn) != 0;
    const size_t length = std::min<size_t>(urb.wLength(), urb.data().size());
    // The driver's input: setup block, then one zero byte for a read, or the
    // data stage and the two zero bytes the channel puts after it.
    std::vector<uint8_t> input(setup.begin(), setup.end());
    storeLe16(&input[4], usb::kUsualInterfaceNumber);
    if (!in)
        input.insert(input.end(), urb.data().begin(), urb.data().begin() + static_cast<ptrdiff_t>(length));
    input.resize(input.size() + (in ? 1 : 2), 0);
    std::vector<uint8_t> output(in ? usb::kDriverOutputSize : usb::kWriteOutputSize);
    TransferResult result = phoneHandle_ ? phoneHandle_->controlTransfer(input, output, usb::kReadTimeoutMs)
                                         : TransferResult{};
    // A device sends no more than wLength asks for.
    const size_t received =
        in ? std::min(result.outputBytes - std::min(result.outputBytes, usb::kDriverPrefixSize), length) : length;
    if (in && result.outcome == TransferOutcome::Done)
        result.outputBytes = usb::kDriverPrefixSize + received;
    wire_.push_back({static_cast<uint8_t>(loadLe16(&setup[4])), formatTransfer(input, output, result)});
    if (result.outcome != TransferOutcome::Done) {
        urb.finish(-EPIPE, 0);
        return;
    }
    if (in)
        std::copy_n(output.begin() + usb::kDriverPrefixSize, received, urb.data().begin());
    urb.finish(0, received);
}

} // namespace p2k::emu
