#include "link/usb_transport.h"

#include "core/operator_log.h"

namespace p2k {

uint16_t UsbTransport::interfaceNumber() const
{
    return usb::kUsualInterfaceNumber;
}

const char* transferOutcomeText(TransferOutcome outcome)
{
    switch (outcome) {
    case TransferOutcome::Done:
        return "";
    case TransferOutcome::EventCreateFailed:
        return "USB: Event create failed!\r\n";
    case TransferOutcome::EventResetFailed:
        return "USB: Event reset failed!\r\n";
    case TransferOutcome::TimedOut:
        return "USB: IO Time-out!\r\n";
    case TransferOutcome::Failed:
        return "USB: IO Failed!\r\n";
    case TransferOutcome::Gone:
        return "USB: Device gone!\r\n";
    }
    return "";
}

bool reportTransferOutcome(OperatorLog& log, TransferOutcome outcome)
{
    if (outcome == TransferOutcome::Done)
        return true;
    log.appendLog(transferOutcomeText(outcome));
    return false;
}

} // namespace p2k
