#include "tests/support/scripted_link.h"

namespace p2k::test {

namespace {

constexpr size_t kRequestHeaderEnd = 16; // setup block and command header
constexpr size_t kTrailingZeros = 2;

bool isRequest(const RecordedTransfer& transfer)
{
    return !transfer.input.empty() && transfer.input[0] == 0x41;
}

} // namespace

ScriptedLink::ScriptedLink()
{
    auto transport = std::make_unique<ScriptedTransport>();
    usb = transport.get();
    link.attach(std::move(transport));
    link.setConnectedFlag(1);
}

void ScriptedLink::answerWith(uint8_t status, Bytes data)
{
    ++sequence_;
    usb->queue(writeAccepted());
    usb->queue(statusReply(1, static_cast<uint16_t>(8 + data.size())));
    usb->queue(dataReply(DataAnswer()
                             .withSequence(static_cast<uint16_t>(0x8000 | (sequence_ & 0x0FFF)))
                             .withStatus(status)
                             .withData(std::move(data))));
}

void ScriptedLink::answerNever()
{
    ++sequence_;
    usb->queue(writeAccepted());
    for (int poll = 0; poll < 40000; ++poll)
        usb->queue(statusReply(0, 0));
}

std::vector<Bytes> ScriptedLink::requestsSent() const
{
    std::vector<Bytes> requests;
    for (const RecordedTransfer& transfer : usb->transfers()) {
        if (isRequest(transfer))
            requests.emplace_back(transfer.input.begin() + kRequestHeaderEnd, transfer.input.end() - kTrailingZeros);
    }
    return requests;
}

Bytes ScriptedLink::lastRequestData() const
{
    const std::vector<Bytes> requests = requestsSent();
    return requests.empty() ? Bytes{} : requests.back();
}

uint16_t ScriptedLink::lastOpcode() const
{
    for (auto it = usb->transfers().rbegin(); it != usb->transfers().rend(); ++it) {
        if (isRequest(*it))
            return static_cast<uint16_t>((it->input[10] << 8) | it->input[11]);
    }
    return 0;
}

} // namespace p2k::test
