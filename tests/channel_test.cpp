#include "link/test_command_channel.h"
#include "tests/support/scripted_transport.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>

namespace p2k::test {
namespace {

using test::PrintTo;

class ChannelTest : public testing::Test {
protected:
    void SetUp() override
    {
        auto transport = std::make_unique<ScriptedTransport>();
        usb = transport.get();
        link.attach(std::move(transport));
    }

    // The usual exchange: write accepted, one status poll with one answer of
    // L bytes queued, then the data answer.
    void scriptExchange(const DataAnswer& answer)
    {
        usb->queue(writeAccepted());
        usb->queue(statusReply(1, static_cast<uint16_t>(8 + answer.data().size())));
        usb->queue(dataReply(answer));
    }

    int transact(uint16_t opcode, const Bytes& request = {})
    {
        return channel.transact(opcode, request, answer, answerLength);
    }

    MemoryLogSink sink;
    OperatorLog log{&sink};
    FakeClock clock{1000};
    PhoneLink link;
    ScriptedTransport* usb = nullptr;
    TestCommandChannel channel{link, log, clock};
    std::array<uint8_t, 64> answer{};
    uint32_t answerLength = 0;
};

TEST_F(ChannelTest, EmptyRequestSendsEighteenBytesThenPollsAndReads)
{
    scriptExchange(DataAnswer().withSequence(0x8001).withData(Bytes{0x12, 0x34}));

    EXPECT_EQ(transact(0x4A), kOk);

    ASSERT_EQ(usb->transfers().size(), 3u);
    EXPECT_EQ(usb->transfers()[0].input,
              (Bytes{0x41, 0x02, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00,   // setup: wLength = 8
                     0x00, 0x01, 0x00, 0x4A, 0x00, 0x00, 0x00, 0x00,   // header: seq 1, opcode, length 0
                     0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[0].timeoutMs, 1000u);
    EXPECT_EQ(usb->transfers()[1].input, (Bytes{0xC1, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[1].timeoutMs, 40000u);
    // Data read: value n = 1, length 2*1 + s(10) + 4 = 16.
    EXPECT_EQ(usb->transfers()[2].input, (Bytes{0xC1, 0x01, 0x01, 0x00, 0x08, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[2].timeoutMs, 40000u);
    EXPECT_EQ(answerLength, 2u);
    EXPECT_EQ(answer[0], 0x12);
    EXPECT_EQ(answer[1], 0x34);
    EXPECT_EQ(sink.text(), "");
    // One sleep of 1 ms before the data read, none before an answered poll.
    EXPECT_EQ(clock.totalSleptMs(), 1u);
}

// Every setup block names the interface the transport belongs to: the usual
// 8, or the number a later phone's command interface has.
class ChannelInterfaceTest : public ChannelTest, public testing::WithParamInterface<uint8_t> {};

TEST_P(ChannelInterfaceTest, WritePollAndReadCarryTheInterfaceNumberAsIndex)
{
    const uint8_t number = GetParam();
    usb->setInterfaceNumber(number);
    usb->queue(writeAccepted());
    usb->queue(statusReply(0, 0)); // the first poll finds nothing queued, the second the answer
    usb->queue(statusReply(1, 10));
    usb->queue(dataReply(DataAnswer().withData(Bytes{0x12, 0x34})));

    EXPECT_EQ(transact(0x4A, {0x07}), kOk);

    ASSERT_EQ(usb->transfers().size(), 4u);
    EXPECT_EQ(usb->transfers()[0].input, (Bytes{0x41, 0x02, 0x00, 0x00, number, 0x00, 0x09, 0x00, // setup
                                                 0x00, 0x01, 0x00, 0x4A, 0x00, 0x01, 0x00, 0x00, // header
                                                 0x07, 0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[1].input, (Bytes{0xC1, 0x00, 0x00, 0x00, number, 0x00, 0x08, 0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[2].input, (Bytes{0xC1, 0x00, 0x00, 0x00, number, 0x00, 0x08, 0x00, 0x00}));
    EXPECT_EQ(usb->transfers()[3].input, (Bytes{0xC1, 0x01, 0x01, 0x00, number, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(answerLength, 2u);
    EXPECT_EQ(sink.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Interfaces, ChannelInterfaceTest, testing::Values(uint8_t{8}, uint8_t{0x0B}, uint8_t{0}),
                         [](const auto& info) { return "Interface" + std::to_string(info.param); });

TEST_F(ChannelTest, RequestDataFollowsTheHeaderWithTwoZeroBytes)
{
    scriptExchange(DataAnswer());
    EXPECT_EQ(transact(0x0FFF | 0xF000, {0xDE, 0xAD, 0xBE}), kOk);
    // The opcode is cut to 12 bits; wLength = 3 + 8.
    EXPECT_EQ(usb->transfers()[0].input,
              (Bytes{0x41, 0x02, 0x00, 0x00, 0x08, 0x00, 0x0B, 0x00, 0x00, 0x01, 0x0F, 0xFF, 0x00, 0x03, 0x00, 0x00,
                     0xDE, 0xAD, 0xBE, 0x00, 0x00}));
}

TEST_F(ChannelTest, LargestRequestFillsTheBufferAndOneMoreByteIsRefusedUnsent)
{
    scriptExchange(DataAnswer());
    EXPECT_EQ(transact(0x4A, Bytes(4078, 0x5A)), kOk);
    ASSERT_EQ(usb->transfers()[0].input.size(), 4096u);
    EXPECT_EQ(usb->transfers()[0].input[6], 0xF6); // wLength 4086, little-endian
    EXPECT_EQ(usb->transfers()[0].input[7], 0x0F);

    const size_t sent = usb->transfers().size();
    EXPECT_EQ(transact(0x4A, Bytes(4079, 0x5A)), kFailed);
    EXPECT_EQ(usb->transfers().size(), sent);
    EXPECT_EQ(sink.text(), "CMD: Request too long!\r\n");
    EXPECT_EQ(channel.sequenceCounter(), 1u);
}

TEST_F(ChannelTest, SequenceNumberUsesTwelveBitsOnTheWireAndInMatching)
{
    for (uint32_t i = 1; i <= 4095; ++i) {
        usb->queue(writeAccepted());
        usb->queue(statusReply(1, 8));
        usb->queue(dataReply(DataAnswer().withSequence(static_cast<uint16_t>(0x8000 | i)).withStatus(6)));
        ASSERT_EQ(transact(0x4A), kOk) << i;
    }
    // The 4096th request: counter 0x1000, sequence 0 on the wire, matched as 0.
    scriptExchange(DataAnswer().withSequence(0x8000).withStatus(6));
    const size_t first = usb->transfers().size();
    EXPECT_EQ(transact(0x4A), kOk);
    EXPECT_EQ(channel.sequenceCounter(), 0x1000u);
    EXPECT_EQ(usb->transfers()[first].input[8], 0x00);
    EXPECT_EQ(usb->transfers()[first].input[9], 0x00);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(ChannelTest, SequenceCounterWrapsAtSixteenBits)
{
    for (uint32_t i = 1; i <= 65536; ++i) {
        usb->queue(writeAccepted());
        usb->queue(statusReply(1, 8));
        usb->queue(dataReply(DataAnswer().withSequence(static_cast<uint16_t>(0x8000 | (i & 0x0FFF))).withStatus(6)));
        ASSERT_EQ(transact(0x22), kOk) << i;
    }
    EXPECT_EQ(channel.sequenceCounter(), 0u);
    scriptExchange(DataAnswer().withSequence(0x8001).withStatus(6));
    EXPECT_EQ(transact(0x22), kOk);
    EXPECT_EQ(channel.sequenceCounter(), 1u);
}

struct PollCase {
    const char* name;
    ScriptedReply poll;
    std::string logPerPoll;
};

class ChannelPollTimeoutTest : public ChannelTest, public testing::WithParamInterface<PollCase> {};

TEST_P(ChannelPollTimeoutTest, PollsEveryMillisecondForFortySecondsThenGivesUp)
{
    usb->queue(writeAccepted());
    usb->setFallback(GetParam().poll);

    EXPECT_EQ(transact(0x4A), kFailed);

    // One poll per millisecond; none starts once 40 s have passed.
    EXPECT_EQ(usb->transfers().size(), 1u + 40000u);
    EXPECT_EQ(clock.tickMs(), 1000u + 40000u);
    // A text that repeats within the request is logged once, with its count.
    const std::string expected = GetParam().logPerPoll.empty()
                                     ? ""
                                     : GetParam().logPerPoll + "USB: the text above came 40000 times\r\n";
    EXPECT_EQ(sink.text(), expected + "CMD: Answer wait timeout!\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Polls, ChannelPollTimeoutTest,
    testing::Values(PollCase{"EmptyQueue", statusReply(0, 0), ""},
                    PollCase{"ThreeAnswers", statusReply(3, 30), ""},
                    PollCase{"ManyAnswers", statusReply(255, 30), ""},
                    PollCase{"ReadFails", failedWith(TransferOutcome::Failed), "USB: IO Failed!\r\n"},
                    PollCase{"ShortDriverRead", {TransferOutcome::Done, Bytes{1, 2, 3}},
                             "USB: Answer size invlid!\r\n"}),
    [](const testing::TestParamInfo<PollCase>& info) { return std::string(info.param.name); });

TEST_F(ChannelTest, PollKeepsGoingUntilTheAnswerIsQueued)
{
    usb->queue(writeAccepted());
    usb->queue(statusReply(0, 0));
    usb->queue(statusReply(3, 0));
    usb->queue(failedWith(TransferOutcome::TimedOut));
    usb->queue(statusReply(2, 20));
    usb->queue(dataReply(DataAnswer().withStatus(6)));

    EXPECT_EQ(transact(0x4A), kOk);
    ASSERT_EQ(usb->transfers().size(), 6u);
    // Two answers queued: value 2, length 2*2 + 20 + 4 = 28.
    EXPECT_EQ(usb->transfers()[5].input, (Bytes{0xC1, 0x01, 0x02, 0x00, 0x08, 0x00, 0x1C, 0x00, 0x00}));
    EXPECT_EQ(clock.totalSleptMs(), 4u);
    EXPECT_EQ(sink.text(), "USB: IO Time-out!\r\n");
}

TEST_F(ChannelTest, ShortDriverReadDuringPollIsRetriedAndLogged)
{
    usb->queue(writeAccepted());
    usb->queue({TransferOutcome::Done, Bytes{1, 2, 3}});
    usb->queue(statusReply(1, 8));
    usb->queue(dataReply(DataAnswer().withStatus(6)));
    EXPECT_EQ(transact(0x4A), kOk);
    EXPECT_EQ(sink.text(), "USB: Answer size invlid!\r\n");
}

TEST_F(ChannelTest, ThreeByteDataReadIsAnInvalidSizeAndAReadFailure)
{
    usb->queue(writeAccepted());
    usb->queue(statusReply(1, 8));
    usb->queue({TransferOutcome::Done, Bytes{1, 2, 3}});
    answerLength = 77;
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_EQ(sink.text(), "USB: Answer size invlid!\r\nCMD: Data read fail!\r\n");
    EXPECT_EQ(answerLength, 77u);
}

struct TransportFailureCase {
    const char* name;
    TransferOutcome outcome;
    const char* text;
};

constexpr TransportFailureCase kTransportFailures[] = {
    {"TimedOut", TransferOutcome::TimedOut, "USB: IO Time-out!\r\n"},
    {"Failed", TransferOutcome::Failed, "USB: IO Failed!\r\n"},
    {"EventCreate", TransferOutcome::EventCreateFailed, "USB: Event create failed!\r\n"},
    {"EventReset", TransferOutcome::EventResetFailed, "USB: Event reset failed!\r\n"},
};

class ChannelTransportFailureTest : public ChannelTest,
                                    public testing::WithParamInterface<TransportFailureCase> {};

TEST_P(ChannelTransportFailureTest, FailedWriteEndsTheRequest)
{
    usb->queue(failedWith(GetParam().outcome));
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_EQ(usb->transfers().size(), 1u);
    EXPECT_EQ(sink.text(), std::string(GetParam().text) + "CMD: Data write fail!\r\n");
}

TEST_P(ChannelTransportFailureTest, FailedDataReadEndsTheRequest)
{
    usb->queue(writeAccepted());
    usb->queue(statusReply(1, 8));
    usb->queue(failedWith(GetParam().outcome));
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_EQ(sink.text(), std::string(GetParam().text) + "CMD: Data read fail!\r\n");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ChannelTransportFailureTest, testing::ValuesIn(kTransportFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChannelTest, DifferentTextsInARequestAreEachLoggedAndRepeatsCounted)
{
    usb->queue(writeAccepted());
    for (int i = 0; i < 3; ++i)
        usb->queue(failedWith(TransferOutcome::Failed));
    usb->queue(failedWith(TransferOutcome::TimedOut));
    usb->queue(failedWith(TransferOutcome::Failed));
    usb->queue(failedWith(TransferOutcome::Failed));
    usb->queue(statusReply(1, 8));
    usb->queue(dataReply(DataAnswer().withStatus(6)));
    EXPECT_EQ(transact(0x4A), kOk);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\nUSB: the text above came 3 times\r\n"
                           "USB: IO Time-out!\r\n"
                           "USB: IO Failed!\r\nUSB: the text above came 2 times\r\n");
}

const std::string kGoneLine = "Тело отключилось, команда остановлена\r\n";

// Gone: a released handle, or a transport that says its device is gone.
TEST_F(ChannelTest, AGoneDeviceEndsTheRequestAtOnceAndTheNextOneUnsent)
{
    for (const bool released : {true, false}) {
        SCOPED_TRACE(released ? "released handle" : "transport reports gone");
        SetUp();
        sink.clear();
        if (released) {
            link.release();
        } else {
            usb->queue(writeAccepted());
            usb->setFallback(failedWith(TransferOutcome::Gone));
        }
        EXPECT_EQ(transact(0x4A), kFailed);
        EXPECT_EQ(clock.tickMs(), 1000u) << "no polling for a gone device";
        EXPECT_EQ(sink.text(), "USB: Device gone!\r\n");
        const size_t transfers = released ? 0 : usb->transfers().size();
        EXPECT_EQ(transfers, released ? 0u : 2u);

        EXPECT_EQ(transact(0x4A), kFailed);
        EXPECT_TRUE(channel.stopRequested());
        EXPECT_EQ(transact(0x4A), kFailed);
        EXPECT_EQ(sink.text(), "USB: Device gone!\r\n" + kGoneLine);
        if (!released) {
            EXPECT_EQ(usb->transfers().size(), transfers) << "nothing more is sent";
        }
    }
}

TEST_F(ChannelTest, TheGoneLineStandsOnALineOfItsOwnAndANewDeviceClearsGone)
{
    link.release();
    log.appendLog("Скачиваем...");
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_TRUE(channel.stopRequested());
    EXPECT_EQ(sink.text(), "Скачиваем...USB: Device gone!\r\n" + kGoneLine);

    SetUp();
    EXPECT_FALSE(channel.stopRequested());
    scriptExchange(DataAnswer().withSequence(0x8002).withStatus(6));
    EXPECT_EQ(transact(0x4A), kOk);
}

TEST_F(ChannelTest, AnInterruptLetsRequestsThroughAndIsReportedOnItsOwnLine)
{
    std::atomic<bool> interrupt{false};
    channel.setInterruptFlag(&interrupt);
    EXPECT_FALSE(channel.reportInterrupted());
    interrupt.store(true);
    EXPECT_TRUE(channel.stopRequested());
    scriptExchange(DataAnswer().withStatus(6));
    EXPECT_EQ(transact(0x4A), kOk) << "a close after the interrupt still goes through";
    log.appendLog("Скачиваем...");
    EXPECT_TRUE(channel.reportInterrupted());
    EXPECT_EQ(sink.text(), "Скачиваем...\r\nПрервано\r\n");
}

struct MalformedCase {
    const char* name;
    DataAnswer answer;
};

const MalformedCase kMalformedAnswers[] = {
    {"AnswerCountTwo", DataAnswer().withCount(2).withData(Bytes{1})},
    {"AnswerCountZero", DataAnswer().withCount(0).withData(Bytes{1})},
    {"AnswerFlagCleared", DataAnswer().withSequence(0x0001).withData(Bytes{1})},
    {"OtherSequence", DataAnswer().withSequence(0x8002).withData(Bytes{1})},
    {"SequenceZeroWithHighBitsSet", DataAnswer().withSequence(0xF000).withData(Bytes{1})},
    {"DataLengthOneShort", DataAnswer().withData(Bytes{1, 2, 3}).withDataLength(2)},
    {"DataLengthOneLong", DataAnswer().withData(Bytes{1, 2, 3}).withDataLength(4)},
    {"PacketLengthBelowHeader", DataAnswer().withData(Bytes{}).withPacketLength(7).withDataLength(0xFFFF)},
    {"PacketLongerThanReceived", DataAnswer().withData(Bytes{1, 2, 3}).withPacketLength(8 + 40).withDataLength(40)},
    {"PacketLongerThanCallerBuffer", DataAnswer().withData(Bytes(65, 0x77))},
};

class ChannelMalformedTest : public ChannelTest, public testing::WithParamInterface<MalformedCase> {};

TEST_P(ChannelMalformedTest, IsInvalidAndCopiesNothing)
{
    scriptExchange(GetParam().answer);
    answer.fill(0xEE);
    answerLength = 1234;
    EXPECT_EQ(transact(0x4A), kMalformed);
    EXPECT_EQ(sink.text(), "CMD: Answer packet invalid!\r\n");
    EXPECT_EQ(answerLength, 1234u);
    for (uint8_t b : answer)
        ASSERT_EQ(b, 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Answers, ChannelMalformedTest, testing::ValuesIn(kMalformedAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChannelTest, AnswerThatExactlyFillsTheCallerBufferIsCopied)
{
    scriptExchange(DataAnswer().withData(Bytes(64, 0x42)));
    EXPECT_EQ(transact(0x4A), kOk);
    EXPECT_EQ(answerLength, 64u);
    EXPECT_EQ(answer[63], 0x42);
}

TEST_F(ChannelTest, LargestAnswerOfOneDriverReadArrivesWhole)
{
    std::array<uint8_t, TestCommandChannel::kMaxAnswerData> big{};
    Bytes data(4083);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    scriptExchange(DataAnswer().withData(data));
    EXPECT_EQ(channel.transact(0x20, {}, big, answerLength), kOk);
    EXPECT_EQ(answerLength, 4083u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), big.begin()));
}

TEST_F(ChannelTest, StatusSixLeavesThePresetsUntouched)
{
    scriptExchange(DataAnswer().withStatus(6).withData(Bytes{9, 9, 9}));
    answer.fill(0x5C);
    answerLength = 0xFFFF;
    EXPECT_EQ(transact(0x22), kOk);
    EXPECT_EQ(answerLength, 0xFFFFu);
    EXPECT_EQ(answer[0], 0x5C);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(ChannelTest, StatusEightWithoutDataSetsLengthZero)
{
    scriptExchange(DataAnswer().withStatus(8));
    answerLength = 5;
    EXPECT_EQ(transact(0x20), kOk);
    EXPECT_EQ(answerLength, 0u);
}

struct StatusTextCase {
    uint8_t status;
    const char* text;
};

void PrintTo(const StatusTextCase& c, std::ostream* out)
{
    *out << "status " << int{c.status};
}

constexpr StatusTextCase kStatusTexts[] = {
    {0, "INVALID DATA LENGTH FOR COMMAND\r\n"},
    {1, "INADEQUATE SEQURITY LEVEL FOR COMMAND/PARAMETER\r\n"},
    {2, "COMMAND/PARAMETER NOT SUPPORTED FOR CURRENT PROTOCOL\r\n"},
    {3, "COMMAND NOT SUPPORTED FOR CURRENT MODE\r\n"},
    {4, "UNSUPPORTED/INVALID OPCODE\r\n"},
    {5, "UNSUPPORTED/INVALID PARAMETER FOR OPCODE\r\n"},
    {7, "GENERIC FAILURE\r\n"},
    {9, "CRITICAL ERROR - ERROR CODE NOT FOUND (9)\r\n"},
    {10, "COULDN'T ALLOCATE MEMORY\r\n"},
    {11, "INTERNAL TASK ERROR\r\n"},
    {12, "TEST COMMAND TASK TIMED OUT WAITING FOR RESPONSE\r\n"},
    {13, "CDMA PARSE ERROR\r\n"},
    {14, "LENGTH SPECIFIED IN COMMAND HEADER GREATER THAN RECEIVED BY TRANSPORT\r\n"},
    {15, "IRRECOVERABLE ERROR; PHONE STATE HAS BEEN LOST. PHONE BEING POWERED DOWN\r\n"},
};

class ChannelStatusTest : public ChannelTest, public testing::WithParamInterface<StatusTextCase> {};

TEST_P(ChannelStatusTest, ErrorStatusLogsItsTextAndFails)
{
    scriptExchange(DataAnswer().withStatus(GetParam().status).withData(Bytes{1, 2}));
    answerLength = 99;
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_EQ(sink.text(), GetParam().text);
    EXPECT_EQ(answerLength, 99u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ChannelStatusTest, testing::ValuesIn(kStatusTexts),
                         [](const auto& info) { return "Status" + std::to_string(info.param.status); });

TEST_F(ChannelTest, QuietSwitchSilencesTheChannelTexts)
{
    log.setQuietSwitch(1);
    usb->queue(failedWith(TransferOutcome::Failed));
    EXPECT_EQ(transact(0x4A), kFailed);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(ChannelTest, TransportOverreportingItsOutputIsClampedToTheBuffer)
{
    // A driver claiming more bytes than the output holds must not make the
    // channel copy past either buffer.
    class Overreporting : public UsbTransport {
    public:
        TransferResult controlTransfer(std::span<const uint8_t>, std::span<uint8_t> output, uint32_t) override
        {
            std::fill(output.begin(), output.end(), 0);
            return {TransferOutcome::Done, output.size() + 1000};
        }
    };
    link.attach(std::make_unique<Overreporting>());
    std::array<uint8_t, 16> small{};
    size_t received = 0;
    EXPECT_EQ(link.withDevice([&](UsbTransport* device) { return channel.controlRead(device, small, received); }),
              kOk);
    EXPECT_EQ(received, small.size());
}

} // namespace
} // namespace p2k::test
