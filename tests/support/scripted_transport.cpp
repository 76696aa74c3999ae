#include "tests/support/scripted_transport.h"

#include <algorithm>

namespace p2k::test {

TransferResult ScriptedTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                  uint32_t timeoutMs)
{
    transfers_.push_back({Bytes(input.begin(), input.end()), timeoutMs});
    ScriptedReply reply;
    if (!replies_.empty()) {
        reply = std::move(replies_.front());
        replies_.pop_front();
    } else if (fallback_) {
        reply = *fallback_;
    } else {
        ++unscripted_;
        return {TransferOutcome::Failed, 0};
    }
    if (reply.outcome != TransferOutcome::Done)
        return {reply.outcome, 0};
    const size_t n = std::min(reply.output.size(), output.size());
    std::copy_n(reply.output.begin(), n, output.begin());
    return {TransferOutcome::Done, n};
}

ScriptedReply writeAccepted()
{
    return {TransferOutcome::Done, Bytes(5, 0)};
}

ScriptedReply failedWith(TransferOutcome outcome)
{
    return {outcome, {}};
}

ScriptedReply rawReply(const Bytes& phoneBytes)
{
    Bytes output = {0xAA, 0xBB, 0xCC, 0xDD}; // driver prefix: never looked at
    output.insert(output.end(), phoneBytes.begin(), phoneBytes.end());
    return {TransferOutcome::Done, output};
}

ScriptedReply statusReply(uint8_t n, uint16_t s)
{
    return rawReply({0x00, n, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s), 0, 0, 0, 0});
}

Bytes DataAnswer::phoneBytes() const
{
    const uint16_t length = packetLength_.value_or(static_cast<uint16_t>(8 + data_.size()));
    const uint16_t announced = dataLength_.value_or(static_cast<uint16_t>(data_.size()));
    Bytes bytes = {
        count_, 0, 0, 0,
        static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
        static_cast<uint8_t>(sequenceWord_ >> 8), static_cast<uint8_t>(sequenceWord_),
        static_cast<uint8_t>((status_ << 4) | ((opcode_ >> 8) & 0x0F)), static_cast<uint8_t>(opcode_),
        static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced),
        0, 0,
    };
    bytes.insert(bytes.end(), data_.begin(), data_.end());
    return bytes;
}

ScriptedReply dataReply(const DataAnswer& answer)
{
    return rawReply(answer.phoneBytes());
}

} // namespace p2k::test
