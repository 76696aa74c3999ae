#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace p2k {

class OperatorLog;

// How one driver control-transfer request ended.
enum class TransferOutcome {
    Done,              // completed; the byte count of the output is valid
    TimedOut,          // no completion within the time-out; the request was cancelled
    Failed,            // the driver or the device refused or lost the request
    EventCreateFailed, // the completion event could not be created (Windows)
    EventResetFailed,  // the completion event could not be reset (Windows)
    Gone,              // the device is no longer there (unplugged, or its handle already released)
};

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    size_t outputBytes = 0; // bytes written to the output buffer; 0 unless Done
};

// The seam to the phone maker's driver: one control-transfer request on the
// phone's test command interface.
//
// input:  the 8-byte USB setup block first. For a host-to-phone transfer
//         (request type 0x41) the data stage follows; for a phone-to-host
//         transfer (0xC1) one zero byte follows.
// output: receives the driver's raw output. For a phone-to-host transfer that
//         is a 4-byte driver prefix followed by the data the phone sent; for a
//         host-to-phone transfer it is a short status block nobody examines.
//
// Blocks the calling thread until the transfer completes or timeoutMs pass.
// Never writes more than output.size() bytes. Called by one thread at a time.
class UsbTransport {
public:
    virtual ~UsbTransport() = default;
    virtual TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                           uint32_t timeoutMs) = 0;

    // The number of the interface the transfers belong to, which every setup
    // block carries as its index. Most phones have their command interface at
    // 8; a transport that learned another number says so.
    virtual uint16_t interfaceNumber() const;
};

// The "USB: ..." text of a request that did not complete; empty for Done.
const char* transferOutcomeText(TransferOutcome outcome);

// Logs the "USB: ..." text of a request that did not complete; true for Done.
bool reportTransferOutcome(OperatorLog& log, TransferOutcome outcome);

// Fixed numbers of the test command interface.
namespace usb {
inline constexpr uint8_t kRequestTypeOut = 0x41;
inline constexpr uint8_t kRequestTypeIn = 0xC1;
inline constexpr uint8_t kRequestCommand = 0x02;
inline constexpr uint8_t kRequestStatus = 0x00;
inline constexpr uint8_t kRequestData = 0x01;
inline constexpr uint16_t kUsualInterfaceNumber = 8;
inline constexpr size_t kSetupSize = 8;
inline constexpr size_t kDriverPrefixSize = 4;
inline constexpr size_t kWriteOutputSize = 5;
inline constexpr size_t kDriverOutputSize = 4101;
inline constexpr uint32_t kWriteTimeoutMs = 1000;
inline constexpr uint32_t kReadTimeoutMs = 40000;
} // namespace usb

} // namespace p2k
