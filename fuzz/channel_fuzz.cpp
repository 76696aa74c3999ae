// The test command channel fed arbitrary driver outputs: every write, status
// poll and data read ends as the input says. Whatever arrives, transact must
// answer 0, -1 or 1 exactly as an independent reading of the data answer
// says, copy no byte beyond the caller's buffer, touch nothing on failure and
// log every failure.

#include "fuzz/fuzz_support.h"
#include "link/byte_order.h"
#include "link/test_command_channel.h"

#include <algorithm>
#include <array>

namespace p2k::fuzz {
namespace {

constexpr std::array<size_t, 7> kAnswerRooms = {0, 1, 2, 16, 1024, 4083, 4096};
constexpr std::array<size_t, 6> kRequestSizes = {0, 1, 8, 1024, 4078, 4079};
constexpr size_t kExchanges = 4;
constexpr size_t kCanarySize = 16;
constexpr uint8_t kCanary = 0xA5;
constexpr uint32_t kUntouched = 0xDEADBEEF;
constexpr size_t kPrefix = 4;

// What transact must make of one exchange, read from the data answer alone.
struct Verdict {
    int result = kFailed;
    bool copies = false;
    Bytes data;
};

Verdict only(int result)
{
    Verdict verdict;
    verdict.result = result;
    return verdict;
}

Verdict judgeDataAnswer(const PlayedTransport::DataRead& read, uint16_t sequence, size_t room)
{
    if (read.result.outcome != TransferOutcome::Done || read.output.size() < kPrefix)
        return {};
    const ByteReader answer(std::span(read.output).subspan(kPrefix));
    const uint16_t word = answer.be16(6);
    if (answer.u8(0) != 1 || (word & 0x8000) == 0 || (word & 0x0FFF) != (sequence & 0x0FFF))
        return only(kMalformed);
    const uint8_t status = answer.u8(8) >> 4;
    if (status == 6)
        return only(kOk);
    if (status != 8)
        return only(kFailed);
    const size_t packet = answer.be16(4);
    if (packet < 8 || answer.be16(10) != packet - 8 || !answer.has(14, packet - 8) || packet - 8 > room)
        return only(kMalformed);
    const auto first = read.output.begin() + static_cast<std::ptrdiff_t>(kPrefix + 14);
    return {kOk, true, Bytes(first, first + static_cast<std::ptrdiff_t>(packet - 8))};
}

void checkRequestBytes(const Bytes& sent, uint16_t sequence, uint16_t opcode, const Bytes& request)
{
    require(sent.size() == request.size() + 18, "a request is data + 18 bytes");
    const ByteReader bytes(sent);
    require(bytes.u8(0) == 0x41 && bytes.u8(1) == 0x02, "a request's setup block is 41 02");
    require(loadLe16(&sent[6]) == request.size() + 8, "a request's wLength is data + 8");
    require(bytes.be16(8) == (sequence & 0x0FFF), "a request carries the low 12 bits of the counter");
    require(bytes.be16(10) == (opcode & 0x0FFF), "a request carries the low 12 bits of the opcode");
    require(std::equal(request.begin(), request.end(), sent.begin() + 16), "the request data follows the header");
}

void exchangeOnce(FuzzInput& in, TestCommandChannel& channel, PlayedTransport& driver, MemoryLogSink& sink,
                  size_t room)
{
    const uint16_t opcode = in.be16();
    const Bytes request(kRequestSizes[in.u8() % kRequestSizes.size()], 0x5A);
    Bytes buffer(room + kCanarySize, kCanary);
    uint32_t answerLength = kUntouched;
    driver.lastDataRead.reset();
    driver.lastRequest.clear();
    sink.clear();

    const int result = channel.transact(opcode, request, std::span(buffer).first(room), answerLength);

    require(result == kOk || result == kFailed || result == kMalformed, "transact answers 0, -1 or 1");
    require(result == kOk || !sink.text().empty(), "every failure is logged");
    require(result != kOk || sink.text().find("CMD:") == std::string::npos, "a success logs no CMD: text");
    Verdict expected;
    if (request.size() > TestCommandChannel::kMaxRequestData) {
        require(driver.lastRequest.empty(), "a request too long is not sent");
    } else {
        checkRequestBytes(driver.lastRequest, channel.sequenceCounter(), opcode, request);
        if (driver.lastDataRead)
            expected = judgeDataAnswer(*driver.lastDataRead, channel.sequenceCounter(), room);
    }
    require(result == expected.result, "transact judges the data answer as its layout says");
    require(expected.copies ? answerLength == expected.data.size() : answerLength == kUntouched,
            "answerLength is set only by a status-8 answer, to its data length");
    require(answerLength == kUntouched || answerLength <= room, "answerLength never exceeds the buffer");
    const size_t copied = expected.copies ? expected.data.size() : 0;
    require(std::equal(expected.data.begin(), expected.data.end(), buffer.begin()), "the answer data is copied");
    require(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(copied), buffer.end(),
                        [](uint8_t b) { return b == kCanary; }),
            "no byte beyond the answer data is touched");
}

} // namespace
} // namespace p2k::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace p2k;
    fuzz::FuzzInput in(data, size);
    const size_t room = fuzz::kAnswerRooms[in.u8() % fuzz::kAnswerRooms.size()];
    FakeClock clock;
    MemoryLogSink sink;
    OperatorLog log(&sink);
    PhoneLink link;
    auto driver = std::make_unique<fuzz::PlayedTransport>(in, clock);
    fuzz::PlayedTransport& played = *driver;
    link.attach(std::move(driver));
    TestCommandChannel channel(link, log, clock);
    for (size_t i = 0; i < fuzz::kExchanges && !in.empty(); ++i)
        fuzz::exchangeOnce(in, channel, played, sink, room);
    return 0;
}
