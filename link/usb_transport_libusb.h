#pragma once

#include "link/usb_device_libusb.h"
#include "link/usb_transport.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace p2k {

// How a libusb result ends a request: a time-out is TimedOut, every other
// error (device gone, stall, I/O error, ...) Failed, a count Done.
TransferOutcome transferOutcomeOf(int libusbResult);

// The phone's command interface through libusb: performs the control
// transfer the caller's setup block describes, addressed to the interface
// that was claimed, and hands IN data up behind a 4-byte prefix holding its
// little-endian byte count, as the phone maker's driver does.
//
// The setup block's index field is replaced by the claimed interface's
// number, since that interface is the one the requests belong to; the
// transport also reports that number, so that the channel writes it and a
// trace shows what goes out. An IN request asks for at most as many bytes as
// output holds after the prefix, and at most 4096, the most one control
// transfer carries on Linux.
// An OUT request leaves a 5-byte zero block in output.
//
// Owns the handle; releases the interface and closes the device when destroyed.
class LibusbTransport : public UsbTransport {
public:
    LibusbTransport(std::unique_ptr<UsbDeviceHandle> device, uint8_t interfaceNumber);
    ~LibusbTransport() override;
    LibusbTransport(const LibusbTransport&) = delete;
    LibusbTransport& operator=(const LibusbTransport&) = delete;

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;
    uint16_t interfaceNumber() const override { return interfaceNumber_; }

private:
    TransferResult transferOut(const UsbControlSetup& setup, std::span<const uint8_t> data, std::span<uint8_t> output,
                               uint32_t timeoutMs);
    TransferResult transferIn(const UsbControlSetup& setup, size_t length, std::span<uint8_t> output,
                              uint32_t timeoutMs);

    std::unique_ptr<UsbDeviceHandle> device_;
    uint8_t interfaceNumber_;
    std::vector<uint8_t> outData_; // libusb takes the OUT data through a mutable pointer
};

} // namespace p2k
