#include "link/tracing_transport.h"

#include "link/byte_order.h"

#include <algorithm>

namespace p2k {

namespace {

void appendHex(std::string& line, std::span<const uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    for (uint8_t b : bytes) {
        line += ' ';
        line += kDigits[b >> 4];
        line += kDigits[b & 0x0F];
    }
}

// What goes on the wire after the setup block: wLength bytes, whatever else
// the request buffer holds.
std::span<const uint8_t> dataStage(std::span<const uint8_t> afterSetup, std::span<const uint8_t> setup)
{
    if (setup.size() < usb::kSetupSize)
        return afterSetup;
    return afterSetup.first(std::min<size_t>(loadLe16(&setup[6]), afterSetup.size()));
}

const char* outcomeText(TransferOutcome outcome)
{
    switch (outcome) {
    case TransferOutcome::Done:
        return "done";
    case TransferOutcome::TimedOut:
        return "timed out";
    case TransferOutcome::Failed:
        return "failed";
    case TransferOutcome::EventCreateFailed:
        return "event create failed";
    case TransferOutcome::EventResetFailed:
        return "event reset failed";
    case TransferOutcome::Gone:
        return "gone";
    }
    return "?";
}

} // namespace

std::string formatTransfer(std::span<const uint8_t> input, std::span<const uint8_t> output,
                           const TransferResult& result)
{
    const size_t setupSize = std::min(input.size(), usb::kSetupSize);
    const bool isIn = setupSize > 0 && input[0] == usb::kRequestTypeIn;
    std::string line = isIn ? "IN " : "OUT";
    appendHex(line, input.first(setupSize));
    line += " |";
    if (result.outcome != TransferOutcome::Done) {
        line += ' ';
        line += outcomeText(result.outcome);
    } else if (!isIn) {
        appendHex(line, dataStage(input.subspan(setupSize), input.first(setupSize)));
    } else if (const size_t end = std::min(result.outputBytes, output.size()); end < usb::kDriverPrefixSize) {
        line += " short driver output:";
        appendHex(line, output.first(end));
    } else {
        appendHex(line, output.subspan(usb::kDriverPrefixSize, end - usb::kDriverPrefixSize));
    }
    return line;
}

TransferResult TracingTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                 uint32_t timeoutMs)
{
    const TransferResult result = inner_->controlTransfer(input, output, timeoutMs);
    sink_(formatTransfer(input, output, result));
    return result;
}

} // namespace p2k
