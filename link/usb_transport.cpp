#include "link/usb_transport.h"

#include "core/operator_log.h"

namespace p2k {

uint16_t UsbTransport::interfaceNumber() const
{
    return usb::kUsualInterfaceNumber;
}

bool reportTransferOutcome(OperatorLog& log, TransferOutcome outcome)
{
    switch (outcome) {
    case TransferOutcome::Done:
        return true;
    case TransferOutcome::EventCreateFailed:
        log.appendLog("USB: Event create failed!\r\n");
        break;
    case TransferOutcome::EventResetFailed:
        log.appendLog("USB: Event reset failed!\r\n");
        break;
    case TransferOutcome::TimedOut:
        log.appendLog("USB: IO Time-out!\r\n");
        break;
    case TransferOutcome::Failed:
        log.appendLog("USB: IO Failed!\r\n");
        break;
    }
    return false;
}

} // namespace p2k
