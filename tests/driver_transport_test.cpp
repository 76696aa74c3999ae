#include "link/driver_transport.h"

#include "core/operator_log.h"
#include "tests/support/fake_driver_system.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace p2k {
namespace {

using test::Bytes;
using test::DriverReply;
using test::FakeDriverSystem;

using Calls = std::vector<std::string>;

const std::string kDevice = "device \\\\?\\usb#vid_22b8&pid_4902&mi_08#6&1&0008#{x}";
const Bytes kWriteInput = {0x41, 0x02, 0, 0, 0x08, 0, 0x08, 0, 0, 1, 0, 0x22, 0, 0, 0, 0, 0, 0};

class DriverTransportTest : public testing::Test {
protected:
    DriverTransport& open(std::deque<DriverReply> replies)
    {
        transport = std::make_unique<DriverTransport>(fake, fake->openDevice(kDevice.substr(7), std::move(replies)),
                                                      usb::kUsualInterfaceNumber);
        return *transport;
    }

    // One write as the channel makes it, its outcome reported as the channel does.
    TransferResult write()
    {
        const TransferResult result = transport->controlTransfer(kWriteInput, output, usb::kWriteTimeoutMs);
        reportTransferOutcome(log, result.outcome);
        return result;
    }

    std::shared_ptr<FakeDriverSystem> fake = std::make_shared<FakeDriverSystem>();
    std::unique_ptr<DriverTransport> transport;
    std::array<uint8_t, usb::kWriteOutputSize> output{};
    MemoryLogSink sink;
    OperatorLog log{&sink};
};

struct OutcomeCase {
    const char* name;
    DriverReply reply;
    TransferOutcome outcome;
    std::string logged;
    Calls calls;
    bool eventCreates = true;
    bool eventResets = true;
};

const std::string kRequest = "DeviceIoControl " + kDevice + " 0x80002014 in 18 out 5 record 1";
const std::string kWait = "WaitForSingleObject event 1 1000 ms";
const std::string kCancel = "CancelIoEx " + kDevice + " record 1";
const std::string kCancelWait = "WaitForSingleObject event 1 2000 ms";
const std::string kResult = "GetOverlappedResult " + kDevice + " record 1";
const Calls kStart = {"CreateEvent", "ResetEvent event 1", kRequest};
const Calls kEnd = {"free record 1", "CloseHandle event 1"};

Calls operator+(Calls head, const Calls& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

DriverReply waitFails()
{
    DriverReply reply;
    reply.wait = WaitResult::Failed;
    return reply;
}

DriverReply completedAtOnce()
{
    DriverReply reply = test::completesWith({1, 2, 3, 4, 5});
    reply.started = {true, 0};
    return reply;
}

class TransferOutcomes : public DriverTransportTest, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(TransferOutcomes, EndWithTheirTextAndTheirCalls)
{
    const OutcomeCase& c = GetParam();
    open({c.reply});
    fake->eventCreates = c.eventCreates;
    fake->eventResets = c.eventResets;
    fake->takeCalls();
    const TransferResult result = write();
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(sink.text(), c.logged);
    EXPECT_EQ(fake->takeCalls(), c.calls);
    EXPECT_EQ(fake->openHandles(), std::set<std::string>{kDevice}) << "every event closed";
    if (c.outcome != TransferOutcome::Done) {
        EXPECT_EQ(result.outputBytes, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DriverTransport, TransferOutcomes,
    testing::Values(
        OutcomeCase{"PendingThenDone", test::completesWith({1, 2, 3, 4, 5}), TransferOutcome::Done, "",
                    kStart + Calls{kWait, kResult} + kEnd},
        OutcomeCase{"DoneAtOnce", completedAtOnce(), TransferOutcome::Done, "", kStart + Calls{kWait, kResult} + kEnd},
        OutcomeCase{"RefusedAtOnce", test::refusedAtOnce(FakeDriverSystem::kGenFailure), TransferOutcome::Failed,
                    "USB: IO Failed!\r\n", kStart + kEnd},
        OutcomeCase{"RemovedDeviceIsGone", test::refusedAtOnce(win_error::kDeviceRemoved), TransferOutcome::Gone,
                    "USB: Device gone!\r\n", kStart + kEnd},
        OutcomeCase{"MissingDeviceIsGone", test::refusedAtOnce(win_error::kDevNotExist), TransferOutcome::Gone,
                    "USB: Device gone!\r\n", kStart + kEnd},
        OutcomeCase{"DisconnectedDeviceIsGone", test::refusedAtOnce(win_error::kDeviceNotConnected),
                    TransferOutcome::Gone, "USB: Device gone!\r\n", kStart + kEnd},
        OutcomeCase{"ReleasedHandleIsGone", test::finishesWithError(win_error::kInvalidHandle), TransferOutcome::Gone,
                    "USB: Device gone!\r\n", kStart + Calls{kWait, kResult, kCancel, kCancelWait} + kEnd},
        OutcomeCase{"TimedOutAndCancelled", test::neverCompletes(), TransferOutcome::TimedOut, "USB: IO Time-out!\r\n",
                    kStart + Calls{kWait, kCancel, kCancelWait} + kEnd},
        OutcomeCase{"WaitFailedCountsAsTimeOut", waitFails(), TransferOutcome::TimedOut, "USB: IO Time-out!\r\n",
                    kStart + Calls{kWait, kCancel, kCancelWait} + kEnd},
        OutcomeCase{"ResultFailedIsCancelled", test::finishesWithError(FakeDriverSystem::kGenFailure),
                    TransferOutcome::Failed, "USB: IO Failed!\r\n",
                    kStart + Calls{kWait, kResult, kCancel, kCancelWait} + kEnd},
        OutcomeCase{"EventNotCreated", {}, TransferOutcome::EventCreateFailed, "USB: Event create failed!\r\n",
                    {"CreateEvent"}, false},
        OutcomeCase{"EventNotReset", {}, TransferOutcome::EventResetFailed, "USB: Event reset failed!\r\n",
                    {"CreateEvent", "ResetEvent event 1", "CloseHandle event 1"}, true, false}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TEST_F(DriverTransportTest, CompletedRequestHandsTheDriverTheInputAndTheCallerTheOutput)
{
    open({test::completesWith({9, 8, 7})});
    const TransferResult result = write();
    ASSERT_EQ(result.outcome, TransferOutcome::Done);
    EXPECT_EQ(result.outputBytes, 3u);
    EXPECT_EQ(Bytes(output.begin(), output.begin() + 3), (Bytes{9, 8, 7}));
    EXPECT_EQ(fake->requestInputs, std::vector<Bytes>{kWriteInput});
}

TEST_F(DriverTransportTest, ClosingTheTransportClosesTheDevice)
{
    open({});
    fake->takeCalls();
    transport.reset();
    EXPECT_EQ(fake->takeCalls(), Calls{"CloseHandle " + kDevice});
    EXPECT_TRUE(fake->openHandles().empty());
}

// A cancel that never completes leaves the driver owning the request: its
// record and buffers stay until the device is closed, the caller's buffer is
// never written, and the handle is given up as if it had been released.
struct AbandonCase {
    const char* name;
    DriverReply reply;
};

class AbandonedRequests : public DriverTransportTest, public testing::WithParamInterface<AbandonCase> {};

TEST_P(AbandonedRequests, GiveUpTheHandleAndKeepTheRecordUntilItCloses)
{
    open({GetParam().reply, test::completesWith({1})});
    output.fill(0x55);
    EXPECT_EQ(write().outcome, TransferOutcome::Failed);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\n");
    EXPECT_EQ(fake->recordsFreed, 0);
    EXPECT_TRUE(fake->openHandles().count("event 1")) << "the driver may still signal it";
    fake->takeCalls();

    sink.clear();
    EXPECT_EQ(write().outcome, TransferOutcome::Gone);
    EXPECT_EQ(sink.text(), "USB: Device gone!\r\n");
    EXPECT_TRUE(fake->takeCalls().empty()) << "nothing reaches the driver any more";

    transport.reset();
    EXPECT_EQ(fake->takeCalls(), (Calls{"CloseHandle " + kDevice, "free record 1", "CloseHandle event 1"}));
    EXPECT_TRUE(fake->openHandles().empty());
    EXPECT_EQ(output, (std::array<uint8_t, 5>{0x55, 0x55, 0x55, 0x55, 0x55}));
}

DriverReply resultFailsAndCancelHangs()
{
    DriverReply reply = test::finishesWithError(FakeDriverSystem::kGenFailure);
    reply.cancelWait = WaitResult::TimedOut;
    return reply;
}

INSTANTIATE_TEST_SUITE_P(
    DriverTransport, AbandonedRequests,
    testing::Values(AbandonCase{"CancelWaitTimesOut", test::neverCompletes(WaitResult::TimedOut)},
                    AbandonCase{"CancelWaitFails", test::neverCompletes(WaitResult::Failed)},
                    AbandonCase{"FailedResultCancelHangs", resultFailsAndCancelHangs()}),
    [](const testing::TestParamInfo<AbandonCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace p2k
