#pragma once

// The few operating-system calls the Linux back end makes, behind interfaces
// so that discovery and the transport run against fakes in tests: the USB bus
// through libusb-1.0, and the phone's modem port through sysfs and POSIX I/O.
//
// Results that come from libusb keep its codes: a byte count (>= 0) or a
// negative LIBUSB_ERROR_* value.

#include "link/phone_platform.h"

#include <libusb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

namespace p2k {

// Where a device sits: its bus and the hub ports leading to it. Stays the same
// while the device stays plugged into the same socket.
struct UsbLocation {
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
    bool operator==(const UsbLocation&) const = default;
};

// One interface of the active configuration (its first alternate setting).
struct UsbInterfaceInfo {
    uint8_t number = 0;    // bInterfaceNumber
    uint8_t nameIndex = 0; // iInterface: the string descriptor naming it; 0 for none
    uint8_t interfaceClass = 0; // bInterfaceClass
};

// bInterfaceClass of an interface whose protocol only its maker knows.
inline constexpr uint8_t kVendorSpecificClass = 0xFF;

// A present device as the bus lists it, without opening it.
struct UsbDeviceInfo {
    UsbLocation location;
    uint8_t address = 0; // given anew on every enumeration, so a re-plugged device differs
    uint16_t vendorId = 0;
    uint8_t configuration = 0; // bConfigurationValue of the active configuration
    std::vector<UsbInterfaceInfo> interfaces;
};

// The setup fields of a control transfer; wLength is the size of the data stage.
struct UsbControlSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
};

// An open device. Closing it (destruction) does not release a claimed
// interface: whoever claimed one releases it first. Used by one thread at a time.
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;

    // The raw string descriptor `index` in the device's first language
    // (bLength, type 3, UTF-16LE units) into out. Blocks at most timeoutMs.
    // Returns the byte count or a libusb error.
    virtual int readStringDescriptor(uint8_t index, std::span<uint8_t> out, uint32_t timeoutMs) = 0;

    // Claims the interface for this handle, detaching a kernel driver bound
    // to it where the system allows. 0 or a libusb error.
    virtual int claimInterface(uint8_t number) = 0;
    virtual void releaseInterface(uint8_t number) = 0;

    // One control transfer. data is the data stage: sent for a host-to-device
    // request, filled for a device-to-host one (wLength = data.size(), at most
    // 65535). Blocks at most timeoutMs. The byte count or a libusb error.
    virtual int controlTransfer(const UsbControlSetup& setup, std::span<uint8_t> data, uint32_t timeoutMs) = 0;
};

// How a wait for a device to leave the bus ended.
enum class DepartureWait {
    Departed,    // the device left, was already gone, or the watch broke down
    Stopped,     // stop was requested first
    Unavailable, // this system cannot report departures; returned at once
};

// The USB bus. Called from the monitor thread; handles it gives out may be
// used on another thread.
class UsbBus {
public:
    virtual ~UsbBus() = default;

    // The present devices of one vendor; empty when the list cannot be had.
    virtual std::vector<UsbDeviceInfo> devices(uint16_t vendorId) = 0;

    // Opens the device listed as `device` (same location and address); null
    // when it has gone or cannot be opened (no permission). Does not block.
    virtual std::unique_ptr<UsbDeviceHandle> open(const UsbDeviceInfo& device) = 0;

    // Blocks until `device` leaves the bus or stop is requested.
    virtual DepartureWait waitForDeparture(const UsbDeviceInfo& device, std::stop_token stop) = 0;
};

// A ttyACM port (a USB modem's serial port) and the USB device it belongs to.
struct AcmPort {
    std::string name;                 // "ttyACM0"
    std::optional<uint16_t> vendorId; // none when it cannot be read
    uint8_t bus = 0;                  // the device's bus and address; 0 when they cannot be read
    uint8_t address = 0;
};

// An open serial port, closed on destruction.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // True when all of bytes were written within kPortWriteTimeoutMs; a
    // port that stops taking bytes fails instead of blocking.
    virtual bool write(std::span<const uint8_t> bytes) = 0;
    // Takes whatever has arrived, up to into.size() bytes, without waiting;
    // the count taken.
    virtual size_t readAvailable(std::span<uint8_t> into) = 0;
};

// The system's serial ports.
class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // The present ttyACM ports, in the order of their numbers. Does not block.
    virtual std::vector<AcmPort> acmPorts() = 0;
    // Opens a port ("/dev/ttyACM0") for raw, non-blocking I/O without making
    // it the controlling terminal, and exclusively, so that no other program
    // opens it while the text goes out; null on failure.
    virtual std::unique_ptr<SerialPort> open(const std::string& path) = 0;
};

// The real bus over a libusb context of its own. When libusb cannot be set
// up the bus lists nothing and reports no departures.
std::unique_ptr<UsbBus> makeLibusbBus();

// The real ports: sysfs for the list (/sys/class/tty), POSIX I/O for the port.
std::unique_ptr<SerialPorts> makeSysfsSerialPorts();

} // namespace p2k
