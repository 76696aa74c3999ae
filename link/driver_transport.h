#pragma once

#include "link/driver_system.h"
#include "link/usb_transport.h"

#include <cstdint>
#include <memory>
#include <span>

namespace p2k {

// The phone maker's driver: control transfers as device I/O control requests
// on the command interface's handle, opened for overlapped access so that the
// write and read time-outs really hold. The driver passes the setup block on
// as it is, so its index must name the interface: interfaceNumber is the one
// discovery learned.
//
// A request that does not finish in time is cancelled, and its cancel waited
// for at most kCancelWaitMs. A cancel that never completes leaves the driver
// free to write into the request's record and buffers at any later time: they
// are kept until the handle is closed, and every later request fails at once
// without reaching the driver, so that no thread can hang in it.
class DriverTransport : public UsbTransport {
public:
    static constexpr uint32_t kControlTransferCode = 0x80002014;
    static constexpr uint32_t kCancelWaitMs = 2000;

    // Owns device; closes it when destroyed.
    DriverTransport(std::shared_ptr<DriverSystem> system, SystemHandle device, uint16_t interfaceNumber);
    ~DriverTransport() override;
    DriverTransport(const DriverTransport&) = delete;
    DriverTransport& operator=(const DriverTransport&) = delete;

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override;
    uint16_t interfaceNumber() const override { return interfaceNumber_; }

    // One request with any control code, waited for at most timeoutMs. Each
    // request has its own event and record. output receives the driver's
    // output only when the request completed.
    TransferResult ioControl(uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                             uint32_t timeoutMs);

private:
    struct Request;

    TransferResult run(std::unique_ptr<Request>& request, uint32_t code, uint32_t timeoutMs);
    bool cancelAndDrain(std::unique_ptr<Request>& request);

    std::shared_ptr<DriverSystem> system_;
    SystemHandle device_;
    uint16_t interfaceNumber_;
    // A request whose cancel never completed; the handle is unusable from then on.
    std::unique_ptr<Request> abandoned_;
};

// What a request the driver failed (its Windows error) means to the caller.
TransferOutcome failedRequestOutcome(uint32_t error);

} // namespace p2k
