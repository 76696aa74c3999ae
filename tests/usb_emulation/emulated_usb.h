#pragma once

// Emulated USB devices for the real libusb: umockdev's testbed carries the
// sysfs entries and device nodes, and an ioctl handler on each node answers
// the usbdevfs requests libusb makes. Control transfers to the command
// interface go to a SimulatedPhone; string descriptors come from a table.
//
// The process must run under umockdev's preload (umockdev-wrapper); so do the
// programs it starts, which inherit it and reach these handlers through it.

#include "sim/simulated_phone.h"

#include <umockdev.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace p2k::emu {

struct EmulatedInterface {
    uint8_t number = 0;
    uint8_t interfaceClass = 0xFF; // vendor specific unless said otherwise
    uint8_t nameIndex = 0;         // iInterface; 0 for none
};

// What the bus shows of one device.
struct DeviceLayout {
    uint16_t vendorId = 0x22b8;
    uint16_t productId = 0x4902;
    uint8_t port = 2; // the root hub port it sits in: sysfs "1-<port>"
    std::vector<EmulatedInterface> interfaces;
    std::map<uint8_t, std::string> strings; // index -> text (ASCII); 0, the language table, is added
    std::optional<uint8_t> commandInterface; // its control transfers go to the phone
    bool modemPort = false;                  // a ttyACM on interface 0 (CDC-ACM on 0 and 1)
};

// The command-mode phone: CDC-ACM modem on 0 and 1, the command interface at
// `commandInterface` named by string 2, a second vendor interface named by string 3.
DeviceLayout phoneInCommandMode(uint8_t commandInterface = 8);
// The phone in modem mode: only the CDC-ACM modem and its ttyACM.
DeviceLayout phoneInModemMode();

// One control transfer as it crossed the bus, in the tool's trace format.
struct WireTransfer {
    uint8_t interfaceIndex = 0; // wIndex as it was on the wire
    std::string traceLine;      // formatTransfer's line, with wIndex as the channel wrote it (8)
};

class EmulatedDevice;

// True when umockdev's preload library is mapped into this process: without
// it libusb would see the real system, and nothing here can be emulated.
bool preloadActive();

// The testbed: one per test. Devices are added and unplugged through it.
class EmulatedBus {
public:
    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // Adds a device at the next address; phone answers its command interface.
    EmulatedDevice& plugIn(const DeviceLayout& layout, sim::SimulatedPhone* phone = nullptr);
    // Announces the removal, removes the entries and fails what the device still holds.
    void unplug(EmulatedDevice& device);

    // The PC side of the ttyACM of a device with a modem port.
    int modemMasterFd(const EmulatedDevice& device);

private:
    UMockdevTestbed* testbed_;
    std::vector<std::unique_ptr<EmulatedDevice>> devices_;
    uint8_t nextAddress_ = 5;
};

// One device's usbdevfs node: its URBs, claims and the transfers that crossed it.
class EmulatedDevice {
public:
    EmulatedDevice(const DeviceLayout& layout, sim::SimulatedPhone* phone, uint8_t address);
    ~EmulatedDevice();
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    const DeviceLayout& layout() const { return layout_; }
    uint8_t address() const { return address_; }
    std::string sysPath() const;  // "/sys/devices/.../1-2"
    std::string nodePath() const; // "/dev/bus/usb/001/005"
    std::string record() const;   // the umockdev record that creates it
    // Its modem port's entries (when it has one), children first.
    std::string ttyPath() const;
    std::string interfacePath() const;
    std::string ttyNode() const; // "/dev/ttyACM5"

    // Transfers to the command interface since the last call.
    std::vector<WireTransfer> takeWire();
    std::vector<uint8_t> claimedInterfaces() const;
    std::vector<uint8_t> stringsRead() const;
    // The modem port was made exclusive (TIOCEXCL) this many times.
    int exclusiveOpens() const;

    // Holds the n-th command-interface transfer from now (1 = the next) unanswered.
    void holdCommandTransfer(int n);
    // Waits (real time, at most timeoutMs) until a transfer is held.
    bool waitUntilHeld(int timeoutMs);

    UMockdevIoctlBase* handler() const { return handler_; }
    UMockdevIoctlBase* ttyHandler() const { return ttyHandler_; }

private:
    friend class EmulatedBus;
    struct Urb;

    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    static gboolean onTtyIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    gboolean handle(UMockdevIoctlClient* client);
    void claim(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    void answerControl(Urb& urb);
    void answerDescriptor(Urb& urb);
    void answerCommand(Urb& urb);
    void goAway(); // fails the held URBs: the device has left

    DeviceLayout layout_;
    sim::SimulatedPhone* phone_;
    std::unique_ptr<UsbTransport> phoneHandle_;
    uint8_t address_;
    UMockdevIoctlBase* handler_;
    UMockdevIoctlBase* ttyHandler_;

    mutable std::mutex mutex_;
    std::condition_variable held_;
    // Finished URBs wait for their own client (one per open node): libusb
    // reaps every open handle, and must get only the URBs it submitted there.
    std::map<const UMockdevIoctlClient*, std::deque<std::unique_ptr<Urb>>> done_;
    std::vector<std::unique_ptr<Urb>> holding_;
    std::vector<WireTransfer> wire_;
    std::vector<uint8_t> claimed_;
    std::vector<uint8_t> stringsRead_;
    int holdCountdown_ = 0;
    int exclusiveOpens_ = 0;
    bool gone_ = false;
};

} // namespace p2k::emu
