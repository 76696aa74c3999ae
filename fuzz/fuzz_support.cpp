#include "fuzz/fuzz_support.h"

#include "link/byte_order.h"
#include "tests/support/scripted_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace p2k::fuzz {

namespace {

constexpr uint8_t kRequestTypeIn = 0xC1;
constexpr uint8_t kRequestData = 0x01;
constexpr size_t kWriteStatusSize = 5;
constexpr uint32_t kAnswerWaitMs = 40000;
constexpr size_t kHeaderEnd = 16; // setup block and command header

// Copies a canned driver output into the host's buffer, never past its end.
TransferResult copyOut(const Bytes& raw, std::span<uint8_t> output)
{
    const size_t count = std::min(raw.size(), output.size());
    std::copy_n(raw.begin(), count, output.begin());
    return TransferResult{TransferOutcome::Done, count};
}

bool isIn(std::span<const uint8_t> input)
{
    return !input.empty() && input[0] == kRequestTypeIn;
}

bool isDataRead(std::span<const uint8_t> input)
{
    return isIn(input) && input.size() > 1 && input[1] == kRequestData;
}

} // namespace

void require(bool condition, const char* invariant)
{
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

uint8_t FuzzInput::u8()
{
    return empty() ? 0 : bytes_[offset_++];
}

uint16_t FuzzInput::be16()
{
    const uint8_t high = u8();
    return static_cast<uint16_t>((high << 8) | u8());
}

std::span<const uint8_t> FuzzInput::take(size_t count)
{
    const size_t taken = std::min(count, remaining());
    const std::span<const uint8_t> part = bytes_.subspan(offset_, taken);
    offset_ += taken;
    return part;
}

std::string FuzzInput::text(size_t count)
{
    const std::span<const uint8_t> part = take(count);
    return std::string(part.begin(), part.end());
}

std::optional<TransferOutcome> playedFailure(uint8_t shape)
{
    switch (shape & 0x0F) {
    case 12: return TransferOutcome::EventCreateFailed;
    case 13: return TransferOutcome::EventResetFailed;
    case 14: return TransferOutcome::TimedOut;
    case 15: return TransferOutcome::Failed;
    default: return std::nullopt;
    }
}

// ---- the driver, played raw ----------------------------------------------

TransferResult PlayedTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                uint32_t /*timeoutMs*/)
{
    if (!isIn(input))
        lastRequest.assign(input.begin(), input.end());
    if (input_.empty()) {
        clock_.advance(kAnswerWaitMs);
        return TransferResult{TransferOutcome::Failed, 0};
    }
    const uint8_t shape = input_.u8();
    TransferResult result{TransferOutcome::Done, 0};
    if (const std::optional<TransferOutcome> failure = playedFailure(shape)) {
        result.outcome = *failure;
    } else if (!isIn(input)) {
        result = copyOut(Bytes(kWriteStatusSize, 0), output);
    } else {
        const std::span<const uint8_t> played = input_.take(std::min<size_t>(input_.be16(), output.size()));
        result = copyOut(Bytes(played.begin(), played.end()), output);
        // A driver that claims more than it wrote: the host must stay inside its buffer.
        if ((shape & 0xF0) == 0xF0)
            result.outputBytes = output.size() + (shape & 0x0F);
    }
    if (isDataRead(input)) {
        const size_t seen = std::min(result.outputBytes, output.size());
        lastDataRead = DataRead{result, Bytes(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(seen))};
    }
    return result;
}

// ---- the phone, answering from the input -----------------------------------

bool transactOk(const PlayedRequest& request)
{
    return request.answered && !request.malformed && (request.status == 6 || request.status == 8);
}

std::vector<const PlayedRequest*> AnswerPlayingTransport::requestsOf(uint16_t opcode,
                                                                    std::optional<uint32_t> subcommand) const
{
    std::vector<const PlayedRequest*> found;
    for (const PlayedRequest& request : requests_) {
        const bool subcommandMatches =
            !subcommand || (request.data.size() >= 4 && loadBe32(request.data.data()) == *subcommand);
        if (request.opcode == opcode && subcommandMatches)
            found.push_back(&request);
    }
    return found;
}

TransferResult AnswerPlayingTransport::controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                                       uint32_t /*timeoutMs*/)
{
    if (!isIn(input))
        return takeRequest(input, output);
    if (statusOutput_.empty())
        return TransferResult{TransferOutcome::Failed, 0};
    if (!isDataRead(input))
        return copyOut(statusOutput_, output);
    const TransferResult result = copyOut(dataOutput_, output);
    statusOutput_.clear();
    dataOutput_.clear();
    return result;
}

TransferResult AnswerPlayingTransport::takeRequest(std::span<const uint8_t> input, std::span<uint8_t> output)
{
    statusOutput_.clear();
    dataOutput_.clear();
    PlayedRequest request;
    const ByteReader bytes(input);
    request.opcode = bytes.be16(10) & 0x0FFF;
    const size_t dataLength = bytes.be16(12);
    if (bytes.has(kHeaderEnd, dataLength))
        request.data.assign(input.begin() + kHeaderEnd,
                            input.begin() + static_cast<std::ptrdiff_t>(kHeaderEnd + dataLength));
    if (!input_.empty()) {
        request.answered = true;
        decideAnswer(request);
        uint16_t sequence = bytes.be16(8) & 0x0FFF;
        if (request.malformed)
            sequence = (sequence + 1) & 0x0FFF;
        const test::DataAnswer answer = test::DataAnswer()
                                            .withSequence(static_cast<uint16_t>(0x8000 | sequence))
                                            .withStatus(request.status)
                                            .withOpcode(request.opcode)
                                            .withData(request.answer);
        statusOutput_ = test::statusReply(1, static_cast<uint16_t>(8 + request.answer.size())).output;
        dataOutput_ = test::dataReply(answer).output;
    }
    const bool answered = request.answered;
    requests_.push_back(std::move(request));
    if (!answered)
        return TransferResult{TransferOutcome::Failed, 0};
    return copyOut(test::writeAccepted().output, output);
}

void AnswerPlayingTransport::decideAnswer(PlayedRequest& request)
{
    const uint8_t verdict = input_.u8();
    switch (verdict & 0x07) {
    case 5:
        request.status = 6;
        return;
    case 6: {
        const uint8_t error = verdict >> 4;
        request.status = error == 6 || error == 8 ? 7 : error;
        return;
    }
    case 7:
        request.status = 6;
        request.malformed = true;
        return;
    default: {
        request.status = 8;
        const std::span<const uint8_t> data = input_.take(std::min<size_t>(input_.be16(), kMaxAnswerData));
        request.answer.assign(data.begin(), data.end());
        return;
    }
    }
}

namespace {

AnswerPlayingTransport& attachAnswerPlayer(PhoneLink& link, FuzzInput& input)
{
    auto transport = std::make_unique<AnswerPlayingTransport>(input);
    AnswerPlayingTransport& phone = *transport;
    link.attach(std::move(transport));
    return phone;
}

} // namespace

PlayedPhoneWorld::PlayedPhoneWorld(FuzzInput& input)
    : ProgramWorld(clock), phone(attachAnswerPlayer(link, input)) {}

// ---- text ------------------------------------------------------------------

bool isUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if ((lead & 0xE0) == 0xC0)
            extra = 1;
        else if ((lead & 0xF0) == 0xE0)
            extra = 2;
        else if ((lead & 0xF8) == 0xF0)
            extra = 3;
        else if (lead >= 0x80)
            return false;
        if (text.size() - i - 1 < extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

} // namespace p2k::fuzz
