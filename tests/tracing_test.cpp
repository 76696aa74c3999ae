#include "link/test_command_channel.h"
#include "link/tracing_transport.h"
#include "tests/support/scripted_transport.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

class TracingTest : public testing::Test {
protected:
    TracingTest()
    {
        auto inner = std::make_unique<ScriptedTransport>();
        scripted = inner.get();
        tracer = std::make_unique<TracingTransport>(std::move(inner),
                                                    [this](const std::string& line) { lines.push_back(line); });
    }

    TransferResult send(const Bytes& input, size_t outputSize = 16)
    {
        output.assign(outputSize, 0);
        return tracer->controlTransfer(input, output, 1000);
    }

    ScriptedTransport* scripted = nullptr;
    std::unique_ptr<TracingTransport> tracer;
    std::vector<std::string> lines;
    Bytes output;
};

TEST_F(TracingTest, WriteShowsSetupThenTheBytesSent)
{
    scripted->queue(writeAccepted());
    const TransferResult result = send({0x41, 0x02, 0, 0, 0x08, 0, 0x08, 0, 0x00, 0x01, 0x00, 0x4a});
    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "OUT 41 02 00 00 08 00 08 00 | 00 01 00 4a");
}

TEST_F(TracingTest, WriteShowsOnlyTheWLengthBytesThatGoOnTheWire)
{
    scripted->queue(writeAccepted());
    send({0x41, 0x02, 0, 0, 0x08, 0, 0x03, 0, 0x00, 0x01, 0x00, 0x4a, 0xEE});
    EXPECT_EQ(lines.at(0), "OUT 41 02 00 00 08 00 03 00 | 00 01 00");
}

TEST_F(TracingTest, ReadShowsWhatThePhoneSentWithoutTheDriverPrefix)
{
    scripted->queue(rawReply({0x00, 0x01, 0x00, 0x0a}));
    const TransferResult result = send({0xC1, 0x00, 0, 0, 0x08, 0, 0x08, 0, 0});
    EXPECT_EQ(result.outputBytes, 8u);
    EXPECT_EQ(lines.at(0), "IN  c1 00 00 00 08 00 08 00 | 00 01 00 0a");
}

TEST_F(TracingTest, FailuresAndShortOutputsAreNamed)
{
    scripted->queue(failedWith(TransferOutcome::TimedOut));
    scripted->queue({TransferOutcome::Done, Bytes{0x01, 0x02, 0x03}});
    send({0xC1, 0x01, 1, 0, 0x08, 0, 0x0e, 0, 0});
    send({0xC1, 0x01, 1, 0, 0x08, 0, 0x0e, 0, 0});
    EXPECT_EQ(lines.at(0), "IN  c1 01 01 00 08 00 0e 00 | timed out");
    EXPECT_EQ(lines.at(1), "IN  c1 01 01 00 08 00 0e 00 | short driver output: 01 02 03");
}

// The trace shows each setup block as it goes out, with the index the
// channel took from the transport beneath the tracer.
TEST_F(TracingTest, ChannelThroughTheTracerShowsTheInterfaceNumberInEverySetupBlock)
{
    scripted->setInterfaceNumber(0x0B);
    scripted->queue(writeAccepted());
    scripted->queue(statusReply(1, 10));
    scripted->queue(dataReply(DataAnswer().withData(Bytes{0x12, 0x34})));
    EXPECT_EQ(tracer->interfaceNumber(), 0x0B);
    MemoryLogSink sink;
    OperatorLog log{&sink};
    FakeClock clock;
    PhoneLink link;
    link.attach(std::move(tracer));
    TestCommandChannel channel{link, log, clock};
    std::array<uint8_t, 8> answer{};
    uint32_t answerLength = 0;

    EXPECT_EQ(channel.transact(0x4A, {}, answer, answerLength), kOk);

    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "OUT 41 02 00 00 0b 00 08 00 | 00 01 00 4a 00 00 00 00");
    EXPECT_EQ(lines[1].substr(0, 29), "IN  c1 00 00 00 0b 00 08 00 |");
    EXPECT_EQ(lines[2].substr(0, 29), "IN  c1 01 01 00 0b 00 10 00 |");
}

} // namespace
} // namespace p2k::test
