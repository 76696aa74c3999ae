#pragma once

#include "link/usb_transport.h"

#include <windows.h>

namespace p2k {

// One device I/O control request of the phone maker's driver on a handle
// opened for overlapped access, waited for at most timeoutMs. A request that
// does not finish in time is cancelled, and its record drained before return.
// Each call has its own event and overlapped record, so two threads may issue
// requests on different handles at once.
TransferResult overlappedIoControl(HANDLE device, DWORD code, std::span<const uint8_t> input,
                                   std::span<uint8_t> output, uint32_t timeoutMs);

// The phone maker's driver: control transfers as device I/O control requests
// on the command interface's handle. The handle is opened for overlapped
// access so that the write and read time-outs really hold. The driver passes
// the setup block on as it is, so its index must name the interface:
// interfaceNumber is the one discovery learned.
class DriverTransport : public UsbTransport {
public:
    static constexpr DWORD kControlTransferCode = 0x80002014;

    DriverTransport(HANDLE device, uint16_t interfaceNumber) : device_(device), interfaceNumber_(interfaceNumber) {}
    ~DriverTransport() override;
    DriverTransport(const DriverTransport&) = delete;
    DriverTransport& operator=(const DriverTransport&) = delete;

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;
    uint16_t interfaceNumber() const override { return interfaceNumber_; }

private:
    HANDLE device_;
    uint16_t interfaceNumber_;
};

} // namespace p2k
