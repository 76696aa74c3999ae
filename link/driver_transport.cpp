#include "link/driver_transport.h"

#include <algorithm>
#include <vector>

namespace p2k {

// Everything the driver may touch while a request is outstanding: the record,
// its event and private copies of both buffers. The caller's buffers are
// never handed to the driver, so a request that outlives the call cannot
// write into them.
struct DriverTransport::Request {
    Request(DriverSystem& system, SystemHandle completion, std::span<const uint8_t> inputBytes, size_t outputSize)
        : event(system, completion), record(system.newOverlappedRecord(completion)),
          input(inputBytes.begin(), inputBytes.end()), output(outputSize)
    {
    }

    OwnedHandle event;
    std::unique_ptr<OverlappedRecord> record;
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
};

// A request of a device that was removed, or of a handle already closed,
// will never succeed again.
TransferOutcome failedRequestOutcome(uint32_t error)
{
    const bool gone = error == win_error::kDeviceRemoved || error == win_error::kDevNotExist
                      || error == win_error::kInvalidHandle || error == win_error::kDeviceNotConnected;
    return gone ? TransferOutcome::Gone : TransferOutcome::Failed;
}

DriverTransport::DriverTransport(std::shared_ptr<DriverSystem> system, SystemHandle device, uint16_t interfaceNumber)
    : system_(std::move(system)), device_(device), interfaceNumber_(interfaceNumber)
{
}

DriverTransport::~DriverTransport()
{
    // Only once the handle is closed can the driver no longer touch an
    // abandoned request.
    if (device_ != kNoHandle)
        system_->closeHandle(device_);
    abandoned_.reset();
}

TransferResult DriverTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                uint32_t timeoutMs)
{
    return ioControl(kControlTransferCode, input, output, timeoutMs);
}

TransferResult DriverTransport::ioControl(uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output,
                                          uint32_t timeoutMs)
{
    // A handle given up is as good as released.
    if (abandoned_)
        return {TransferOutcome::Gone, 0};
    // A new event for every request, closed when the request ends.
    const SystemHandle event = system_->createEvent();
    if (event == kNoHandle)
        return {TransferOutcome::EventCreateFailed, 0};
    if (!system_->resetEvent(event)) {
        system_->closeHandle(event);
        return {TransferOutcome::EventResetFailed, 0};
    }
    auto request = std::make_unique<Request>(*system_, event, input, output.size());
    const TransferResult result = run(request, code, timeoutMs);
    if (result.outcome != TransferOutcome::Done)
        return result;
    const size_t bytes = std::min(result.outputBytes, output.size());
    std::copy_n(request->output.begin(), bytes, output.begin());
    return {TransferOutcome::Done, bytes};
}

TransferResult DriverTransport::run(std::unique_ptr<Request>& request, uint32_t code, uint32_t timeoutMs)
{
    const SystemResult started =
        system_->deviceIoControl(device_, code, request->input, request->output, *request->record);
    // A request the driver refused at once will never signal the event.
    if (!started.ok && started.error != win_error::kIoPending)
        return {failedRequestOutcome(started.error), 0};
    if (system_->waitForEvent(request->event.get(), timeoutMs) != WaitResult::Signalled) {
        if (!cancelAndDrain(request))
            return {TransferOutcome::Failed, 0};
        return {TransferOutcome::TimedOut, 0};
    }
    uint32_t transferred = 0;
    const SystemResult finished = system_->overlappedResult(device_, *request->record, transferred);
    if (!finished.ok) {
        if (!cancelAndDrain(request))
            return {TransferOutcome::Failed, 0};
        return {failedRequestOutcome(finished.error), 0};
    }
    return {TransferOutcome::Done, transferred};
}

// True when the cancelled request has let go of its record in time; else the
// record is kept, and the handle is given up.
bool DriverTransport::cancelAndDrain(std::unique_ptr<Request>& request)
{
    system_->cancelRequest(device_, *request->record);
    if (system_->waitForEvent(request->event.get(), kCancelWaitMs) == WaitResult::Signalled)
        return true;
    abandoned_ = std::move(request);
    return false;
}

} // namespace p2k
