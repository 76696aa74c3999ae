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
// access so that the write and read time-outs really hold.
class DriverTransport : public UsbTransport {
public:
    static constexpr DWORD kControlTransferCode = 0x80002014;

    explicit DriverTransport(HANDLE device) : device_(device) {}
    ~DriverTransport() override;
    DriverTransport(const DriverTransport&) = delete;
    DriverTransport& operator=(const DriverTransport&) = delete;

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;

private:
    HANDLE device_;
};

} // namespace p2k
