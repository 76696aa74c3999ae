#include "link/usb_transport_win32.h"

namespace p2k {

namespace {

// The OVERLAPPED record lives on our stack: after cancelling, wait until the
// driver has let go of it before returning.
void cancelAndDrain(HANDLE device, OVERLAPPED& overlapped)
{
    CancelIo(device);
    DWORD ignored = 0;
    GetOverlappedResult(device, &overlapped, &ignored, TRUE);
}

// A failed request of a device that was removed, or of a handle already
// closed, will never succeed again.
TransferOutcome failureOutcome(DWORD error)
{
    const bool gone = error == ERROR_DEVICE_REMOVED || error == ERROR_DEV_NOT_EXIST || error == ERROR_INVALID_HANDLE
                      || error == ERROR_DEVICE_NOT_CONNECTED;
    return gone ? TransferOutcome::Gone : TransferOutcome::Failed;
}

// Issues the request and waits for it; the event belongs to the caller.
TransferResult runRequest(HANDLE device, HANDLE event, DWORD code, std::span<const uint8_t> input,
                          std::span<uint8_t> output, uint32_t timeoutMs)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;

    const BOOL started = DeviceIoControl(device, code, const_cast<uint8_t*>(input.data()),
                                         static_cast<DWORD>(input.size()), output.data(),
                                         static_cast<DWORD>(output.size()), nullptr, &overlapped);
    // A request the driver refused at once will never signal the event.
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return {failureOutcome(GetLastError()), 0};
    if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
        cancelAndDrain(device, overlapped);
        return {TransferOutcome::TimedOut, 0};
    }
    DWORD transferred = 0;
    if (!GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
        const DWORD error = GetLastError();
        cancelAndDrain(device, overlapped);
        return {failureOutcome(error), 0};
    }
    return {TransferOutcome::Done, transferred};
}

} // namespace

TransferResult overlappedIoControl(HANDLE device, DWORD code, std::span<const uint8_t> input,
                                   std::span<uint8_t> output, uint32_t timeoutMs)
{
    // A new event for every request, closed when the request ends.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return {TransferOutcome::EventCreateFailed, 0};
    if (!ResetEvent(event)) {
        CloseHandle(event);
        return {TransferOutcome::EventResetFailed, 0};
    }
    const TransferResult result = runRequest(device, event, code, input, output, timeoutMs);
    CloseHandle(event);
    return result;
}

DriverTransport::~DriverTransport()
{
    if (device_ != nullptr && device_ != INVALID_HANDLE_VALUE)
        CloseHandle(device_);
}

TransferResult DriverTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                uint32_t timeoutMs)
{
    return overlappedIoControl(device_, kControlTransferCode, input, output, timeoutMs);
}

} // namespace p2k
