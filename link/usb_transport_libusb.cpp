#include "link/usb_transport_libusb.h"

#include "link/byte_order.h"

#include <algorithm>

namespace p2k {

namespace {

constexpr uint8_t kDirectionIn = 0x80;
// The most one control transfer carries on Linux: libusb refuses more before
// anything is sent, and usbfs would too.
constexpr size_t kMaxControlData = 4096;

} // namespace

TransferOutcome transferOutcomeOf(int libusbResult)
{
    if (libusbResult >= 0)
        return TransferOutcome::Done;
    if (libusbResult == LIBUSB_ERROR_TIMEOUT)
        return TransferOutcome::TimedOut;
    return libusbResult == LIBUSB_ERROR_NO_DEVICE ? TransferOutcome::Gone : TransferOutcome::Failed;
}

LibusbTransport::LibusbTransport(std::unique_ptr<UsbDeviceHandle> device, uint8_t interfaceNumber)
    : device_(std::move(device)), interfaceNumber_(interfaceNumber)
{
}

LibusbTransport::~LibusbTransport()
{
    device_->releaseInterface(interfaceNumber_);
}

TransferResult LibusbTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                uint32_t timeoutMs)
{
    if (input.size() < usb::kSetupSize)
        return TransferResult{};
    const UsbControlSetup setup{input[0], input[1], loadLe16(&input[2]), interfaceNumber_};
    const size_t length = loadLe16(&input[6]);
    if (setup.requestType & kDirectionIn)
        return transferIn(setup, length, output, timeoutMs);
    const std::span<const uint8_t> data = input.subspan(usb::kSetupSize);
    // wLength names more data than the caller handed over.
    if (data.size() < length)
        return TransferResult{};
    return transferOut(setup, data.first(length), output, timeoutMs);
}

TransferResult LibusbTransport::transferOut(const UsbControlSetup& setup, std::span<const uint8_t> data,
                                            std::span<uint8_t> output, uint32_t timeoutMs)
{
    outData_.assign(data.begin(), data.end());
    const int result = device_->controlTransfer(setup, outData_, timeoutMs);
    const TransferOutcome outcome = transferOutcomeOf(result);
    if (outcome != TransferOutcome::Done)
        return {outcome, 0};
    const size_t block = std::min(usb::kWriteOutputSize, output.size());
    std::fill_n(output.begin(), block, uint8_t{0});
    return {TransferOutcome::Done, block};
}

TransferResult LibusbTransport::transferIn(const UsbControlSetup& setup, size_t length, std::span<uint8_t> output,
                                           uint32_t timeoutMs)
{
    if (output.size() < usb::kDriverPrefixSize)
        return TransferResult{};
    // A data read may ask for more (2n + s + 4), but one queued answer is
    // s + 6 bytes: asking for at most 4096 carries every answer of up to 4090
    // bytes whole, and takes a larger one off the phone, cut short, where
    // the channel's length check refuses it, rather than leaving it queued.
    const size_t room = std::min({length, output.size() - usb::kDriverPrefixSize, kMaxControlData});
    const int result = device_->controlTransfer(setup, output.subspan(usb::kDriverPrefixSize, room), timeoutMs);
    const TransferOutcome outcome = transferOutcomeOf(result);
    if (outcome != TransferOutcome::Done)
        return {outcome, 0};
    // A device never sends more than asked; the clamp guards against a handle that claims to.
    const size_t received = std::min(static_cast<size_t>(result), room);
    storeLe32(output.data(), static_cast<uint32_t>(received));
    return {TransferOutcome::Done, usb::kDriverPrefixSize + received};
}

} // namespace p2k
