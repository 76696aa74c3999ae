#include "link/test_command_channel.h"

#include "link/byte_order.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace p2k {

namespace {

// Answer statuses with a meaning of their own; every other status is an error.
constexpr uint8_t kStatusNoData = 6;
constexpr uint8_t kStatusWithData = 8;

// Offsets within a data answer, after the driver prefix.
constexpr size_t kAnswerCount = 0;
constexpr size_t kPacketLength = 4;
constexpr size_t kSequenceWord = 6;
constexpr size_t kStatusByte = 8;
constexpr size_t kDataLength = 10;
constexpr size_t kAnswerData = 14;
// The packet length L counts from the sequence word, 8 header bytes plus data.
constexpr size_t kPacketHeader = 8;
constexpr uint16_t kAnswerFlag = 0x8000;
constexpr uint16_t kSequenceMask = 0x0FFF;

constexpr const char* kStatusTexts[16] = {
    "INVALID DATA LENGTH FOR COMMAND\r\n",
    "INADEQUATE SEQURITY LEVEL FOR COMMAND/PARAMETER\r\n",
    "COMMAND/PARAMETER NOT SUPPORTED FOR CURRENT PROTOCOL\r\n",
    "COMMAND NOT SUPPORTED FOR CURRENT MODE\r\n",
    "UNSUPPORTED/INVALID OPCODE\r\n",
    "UNSUPPORTED/INVALID PARAMETER FOR OPCODE\r\n",
    "",
    "GENERIC FAILURE\r\n",
    "",
    "CRITICAL ERROR - ERROR CODE NOT FOUND (9)\r\n",
    "COULDN'T ALLOCATE MEMORY\r\n",
    "INTERNAL TASK ERROR\r\n",
    "TEST COMMAND TASK TIMED OUT WAITING FOR RESPONSE\r\n",
    "CDMA PARSE ERROR\r\n",
    "LENGTH SPECIFIED IN COMMAND HEADER GREATER THAN RECEIVED BY TRANSPORT\r\n",
    "IRRECOVERABLE ERROR; PHONE STATE HAS BEEN LOST. PHONE BEING POWERED DOWN\r\n",
};

void writeSetupBlock(uint8_t* p, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                     uint16_t length)
{
    p[0] = requestType;
    p[1] = request;
    storeLe16(p + 2, value);
    storeLe16(p + 4, index);
    storeLe16(p + 6, length);
}

// Every setup block names the command interface; without a device the
// transfer fails anyway, and the usual number is as good as any.
uint16_t interfaceIndexOf(const UsbTransport* device)
{
    return device ? device->interfaceNumber() : usb::kUsualInterfaceNumber;
}

// A driver read's input: the setup block and one zero byte.
constexpr size_t kReadInputSize = usb::kSetupSize + 1;

// Without a device there is nothing to ask: as good as gone.
TransferResult transferOn(UsbTransport* device, std::span<const uint8_t> input, std::span<uint8_t> output,
                          uint32_t timeoutMs)
{
    return device ? device->controlTransfer(input, output, timeoutMs) : TransferResult{TransferOutcome::Gone, 0};
}

} // namespace

int TestCommandChannel::transact(uint16_t opcode, std::span<const uint8_t> request,
                                 std::span<uint8_t> answerBuffer, uint32_t& answerLength)
{
    if (gate_ != nullptr)
        gate_->beforeRequest();
    if (request.size() > kMaxRequestData) {
        log_.appendLog("CMD: Request too long!\r\n");
        return kFailed;
    }
    if (phoneGone())
        return kFailed;
    const int result = link_.withDevice([&](UsbTransport* device) {
        return exchange(device, opcode, request, answerBuffer, answerLength);
    });
    flushRepeats();
    return result;
}

bool TestCommandChannel::stopRequested()
{
    return phoneGone() || interruptRaised();
}

bool TestCommandChannel::reportInterrupted()
{
    if (!interruptRaised())
        return false;
    log_.appendLine("Прервано\r\n");
    return true;
}

// A gone phone is reported once per device: the request that met it logged
// the transport's text; the command that stops for it gets this line.
bool TestCommandChannel::phoneGone()
{
    if (!link_.gone()) {
        goneReported_ = false;
        return false;
    }
    if (!goneReported_) {
        goneReported_ = true;
        log_.appendLine("Тело отключилось, команда остановлена\r\n");
    }
    return true;
}

// After a gone device the request ends with the transport's text alone.
int TestCommandChannel::failStep(const char* text)
{
    flushRepeats();
    if (!link_.gone())
        log_.appendLog(text);
    return kFailed;
}

int TestCommandChannel::exchange(UsbTransport* device, uint16_t opcode, std::span<const uint8_t> request,
                                 std::span<uint8_t> answerBuffer, uint32_t& answerLength)
{
    ++sequence_;
    request_.fill(0);
    const auto dataLength = static_cast<uint16_t>(request.size());
    uint8_t* header = request_.data() + usb::kSetupSize;
    writeSetupBlock(request_.data(), usb::kRequestTypeOut, usb::kRequestCommand, 0, interfaceIndexOf(device),
                    static_cast<uint16_t>(dataLength + kHeaderSize));
    storeBe16(header, sequence_ & kSequenceMask);
    storeBe16(header + 2, opcode & kSequenceMask);
    storeBe16(header + 4, dataLength);
    std::copy(request.begin(), request.end(), header + kHeaderSize);

    const size_t packetSize = request.size() + usb::kSetupSize + kHeaderSize + 2;
    if (controlWrite(device, std::span(request_).first(packetSize)) != kOk)
        return failStep("CMD: Data write fail!\r\n");

    uint8_t count = 0;
    uint16_t queuedBytes = 0;
    if (!pollForAnswer(device, count, queuedBytes))
        return failStep("CMD: Answer wait timeout!\r\n");

    clock_.sleepMs(1);
    answer_.fill(0);
    writeSetupBlock(answer_.data(), usb::kRequestTypeIn, usb::kRequestData, count, interfaceIndexOf(device),
                    static_cast<uint16_t>(2 * count + queuedBytes + 4));
    size_t received = 0;
    if (controlRead(device, answer_, received) != kOk)
        return failStep("CMD: Data read fail!\r\n");
    return judgeAnswer(received, answerBuffer, answerLength);
}

// Polls the phone's answer queue until it reports one or two answers, for at
// most the answer wait since the request was written.
bool TestCommandChannel::pollForAnswer(UsbTransport* device, uint8_t& count, uint16_t& queuedBytes)
{
    const uint32_t start = clock_.tickMs();
    for (;;) {
        status_.fill(0);
        writeSetupBlock(status_.data(), usb::kRequestTypeIn, usb::kRequestStatus, 0, interfaceIndexOf(device), 8);
        size_t received = 0;
        // A failed poll counts as an empty queue; the read has logged why.
        if (controlRead(device, status_, received) == kOk && (status_[1] == 1 || status_[1] == 2)) {
            count = status_[1];
            queuedBytes = loadBe16(&status_[2]);
            return true;
        }
        if (link_.gone())
            return false;
        clock_.sleepMs(1);
        if (gate_ != nullptr)
            gate_->beforeRequest();
        if (clock_.tickMs() - start >= kAnswerWaitMs)
            return false;
    }
}

int TestCommandChannel::judgeAnswer(size_t received, std::span<uint8_t> answerBuffer, uint32_t& answerLength)
{
    const ByteReader answer(std::span<const uint8_t>(answer_.data(), received));
    const uint16_t sequenceWord = answer.be16(kSequenceWord);
    if (answer.u8(kAnswerCount) != 1 || (sequenceWord & kAnswerFlag) == 0
        || (sequenceWord & kSequenceMask) != (sequence_ & kSequenceMask)) {
        log_.appendLog("CMD: Answer packet invalid!\r\n");
        return kMalformed;
    }

    const uint8_t status = answer.u8(kStatusByte) >> 4;
    if (status == kStatusNoData)
        return kOk;
    if (status != kStatusWithData) {
        log_.appendLog(kStatusTexts[status]);
        return kFailed;
    }

    // The data must be announced consistently, have arrived whole and fit the
    // caller's buffer; anything else is a malformed answer, and nothing is copied.
    const size_t packetLength = answer.be16(kPacketLength);
    const bool consistent = packetLength >= kPacketHeader
                            && answer.be16(kDataLength) == packetLength - kPacketHeader;
    const size_t dataLength = consistent ? packetLength - kPacketHeader : 0;
    if (!consistent || !answer.has(kAnswerData, dataLength) || dataLength > answerBuffer.size()) {
        log_.appendLog("CMD: Answer packet invalid!\r\n");
        return kMalformed;
    }
    std::copy_n(answer_.begin() + kAnswerData, dataLength, answerBuffer.begin());
    answerLength = static_cast<uint32_t>(dataLength);
    return kOk;
}

// Logs the transport's text of a failed driver request.
bool TestCommandChannel::noteOutcome(TransferOutcome outcome)
{
    if (outcome == TransferOutcome::Done)
        return true;
    if (outcome == TransferOutcome::Gone)
        link_.markGone();
    noteTransportText(transferOutcomeText(outcome));
    return false;
}

// A text that repeats within one request is counted instead, and the count
// logged by flushRepeats: a request polling a failing device for 40 s would
// otherwise log a line every millisecond.
void TestCommandChannel::noteTransportText(std::string_view text)
{
    if (repeatedText_ == text) {
        ++repeatCount_;
        return;
    }
    flushRepeats();
    repeatedText_ = text;
    repeatCount_ = 1;
    log_.appendLog(text);
}

void TestCommandChannel::flushRepeats()
{
    if (repeatCount_ > 1)
        log_.appendLog("USB: the text above came " + std::to_string(repeatCount_) + " times\r\n");
    repeatedText_ = {};
    repeatCount_ = 0;
}

int TestCommandChannel::controlWrite(UsbTransport* device, std::span<const uint8_t> packet)
{
    std::array<uint8_t, usb::kWriteOutputSize> output{};
    return noteOutcome(transferOn(device, packet, output, usb::kWriteTimeoutMs).outcome) ? kOk : kFailed;
}

int TestCommandChannel::controlRead(UsbTransport* device, std::span<uint8_t> buffer, size_t& lengthOut)
{
    std::array<uint8_t, kReadInputSize> input{};
    std::copy_n(buffer.begin(), usb::kSetupSize, input.begin());
    const TransferResult result = transferOn(device, input, driverOutput_, usb::kReadTimeoutMs);
    if (!noteOutcome(result.outcome))
        return kFailed;
    if (result.outputBytes < usb::kDriverPrefixSize) {
        noteTransportText("USB: Answer size invlid!\r\n");
        return kFailed;
    }
    // A transport never reports more than the output holds; the clamp to the
    // caller's buffer keeps a misbehaving one from writing past it.
    const size_t length = std::min({result.outputBytes, driverOutput_.size(), buffer.size() + usb::kDriverPrefixSize})
                          - usb::kDriverPrefixSize;
    std::copy_n(driverOutput_.begin() + usb::kDriverPrefixSize, length, buffer.begin());
    lengthOut = length;
    return kOk;
}

} // namespace p2k
