// The simulated phone at the wire: hand-built control transfers in, exact
// driver output out. Independent of the client's channel on purpose.

#include "sim/simulated_phone.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace p2k::sim {
namespace {

using test::PrintTo;

using Bytes = std::vector<uint8_t>;

uint8_t lo(size_t v) { return static_cast<uint8_t>(v & 0xFF); }
uint8_t hi(size_t v) { return static_cast<uint8_t>((v >> 8) & 0xFF); }

// Setup block (little-endian), command header (big-endian), data, two zeros.
Bytes requestInput(uint16_t sequence, uint16_t opcodeValue, const Bytes& data)
{
    const size_t n = data.size();
    Bytes in{0x41, 0x02, 0x00, 0x00, 0x08, 0x00, lo(n + 8), hi(n + 8),
             hi(sequence), lo(sequence), hi(opcodeValue), lo(opcodeValue), hi(n), lo(n), 0x00, 0x00};
    in.insert(in.end(), data.begin(), data.end());
    in.insert(in.end(), {0x00, 0x00});
    return in;
}

Bytes statusPollInput()
{
    return {0xC1, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x00};
}

Bytes dataReadInput(uint16_t count, uint16_t length)
{
    return {0xC1, 0x01, lo(count), hi(count), 0x08, 0x00, lo(length), hi(length), 0x00};
}

struct Raw {
    TransferOutcome outcome = TransferOutcome::Failed;
    Bytes out; // the driver output, cut to the reported byte count
};

Raw transfer(UsbTransport& handle, const Bytes& input, size_t outputSize)
{
    Bytes out(outputSize, 0xEE);
    const TransferResult result = handle.controlTransfer(input, out, 1000);
    out.resize(result.outputBytes);
    return Raw{result.outcome, out};
}

// One answer as the data read's output (after the 4-byte prefix) lays it out.
struct Answer {
    uint8_t count = 0;
    uint16_t length = 0;
    uint16_t sequenceField = 0;
    uint8_t status = 0;
    uint16_t opcodeEcho = 0;
    uint16_t dataLength = 0;
    Bytes data;
    bool operator==(const Answer&) const = default;
};

uint16_t be16At(const Bytes& b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }

Answer decodeAnswer(const Bytes& driverOutput)
{
    Answer a;
    if (driverOutput.size() < 18)
        return a;
    a.count = driverOutput[4];
    a.length = be16At(driverOutput, 8);
    a.sequenceField = be16At(driverOutput, 10);
    a.status = static_cast<uint8_t>(driverOutput[12] >> 4);
    a.opcodeEcho = be16At(driverOutput, 12) & 0x0FFF;
    a.dataLength = be16At(driverOutput, 14);
    a.data.assign(driverOutput.begin() + 18, driverOutput.end());
    return a;
}

class SimPhoneTest : public ::testing::Test {
protected:
    void makePhone(PhoneConfig config = {})
    {
        phone = std::make_unique<SimulatedPhone>(clock, config);
        phone->addFile(SimFile{"/a/one.txt", 0, Bytes(5, 'x')});
        phone->addFile(SimFile{"/a/two.txt", 0, Bytes(7, 'y')});
        handle = phone->open();
    }
    void SetUp() override { makePhone(); }

    Raw send(uint16_t opcodeValue, const Bytes& data)
    {
        return transfer(*handle, requestInput(++sequence, opcodeValue, data), 5);
    }
    Raw poll() { return transfer(*handle, statusPollInput(), 4101); }
    // The read the host makes after a poll reported n answers of s bytes.
    Raw read(const Raw& status)
    {
        const uint8_t n = status.out[5];
        const uint16_t s = be16At(status.out, 6);
        return transfer(*handle, dataReadInput(n, static_cast<uint16_t>(2 * n + s + 4)), 4101);
    }
    Answer exchange(uint16_t opcodeValue, const Bytes& data)
    {
        send(opcodeValue, data);
        return decodeAnswer(read(poll()).out);
    }

    FakeClock clock{1000};
    std::unique_ptr<SimulatedPhone> phone;
    std::unique_ptr<UsbTransport> handle;
    uint16_t sequence = 0;
};

const Bytes kListCount{0x00, 0x00, 0x00, 0x07};
const Bytes kOneByteRequest{0x00, 0x00, 0x00, 0x06, 0x2A};

TEST_F(SimPhoneTest, SimRoundTripGivesExactBytes)
{
    const Raw written = send(0x4A, kListCount);
    EXPECT_EQ(written.outcome, TransferOutcome::Done);
    EXPECT_EQ(written.out, Bytes(5, 0x00));

    const Raw status = poll();
    EXPECT_EQ(status.outcome, TransferOutcome::Done);
    EXPECT_EQ(status.out, (Bytes{0x08, 0, 0, 0, 0x00, 0x01, 0x00, 0x0A, 0, 0, 0, 0}));

    const Raw answer = transfer(*handle, dataReadInput(1, 16), 4101);
    EXPECT_EQ(answer.outcome, TransferOutcome::Done);
    EXPECT_EQ(answer.out, (Bytes{0x10, 0, 0, 0,                  // driver prefix: 16 bytes follow
                                 0x01, 0x00, 0x00, 0x00,          // one answer
                                 0x00, 0x0A,                      // L = 8 + 2
                                 0x80, 0x01,                      // answer flag, sequence 1
                                 0x80, 0x4A,                      // status 8, opcode 0x4A
                                 0x00, 0x02, 0x00, 0x00,          // data length 2
                                 0x00, 0x02}));                   // two files
    EXPECT_EQ(poll().out, (Bytes{0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(phone->violations().empty());
    EXPECT_EQ(phone->transferCount(), 4u);
}

TEST_F(SimPhoneTest, SimAnswerWithoutDataHasStatusSix)
{
    send(0x4A, kOneByteRequest);
    EXPECT_EQ(read(poll()).out, (Bytes{0x0E, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x08, 0x80, 0x01, 0x60, 0x4A, 0, 0, 0, 0}));
}

TEST_F(SimPhoneTest, SimUnknownOpcodeAnswersStatusFour)
{
    sequence = 0x0FFE;
    const Answer answer = exchange(0x0123, {0x01});
    EXPECT_EQ(answer, (Answer{1, 8, 0x8FFF, 4, 0x0123, 0, {}}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(SimPhoneTest, SimSeemReadOfMissingRecordOverTheWire)
{
    const Answer answer = exchange(0x20, {0x00, 0x4C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(answer.status, 8);
    EXPECT_EQ(answer.data, Bytes{0x01});
}

// ---- strictness -----------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::function<Bytes()> input;
    const char* violationText;
};

Bytes patched(Bytes in, size_t at, uint8_t value)
{
    in[at] = value;
    return in;
}

class SimStrictnessTest : public SimPhoneTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(SimStrictnessTest, SimMalformedTransferFailsAndIsRecorded)
{
    const Raw result = transfer(*handle, GetParam().input(), 4101);
    EXPECT_EQ(result.outcome, TransferOutcome::Failed);
    EXPECT_TRUE(result.out.empty());
    ASSERT_EQ(phone->violations().size(), 1u);
    EXPECT_NE(phone->violations()[0].find(GetParam().violationText), std::string::npos) << phone->violations()[0];
    EXPECT_EQ(phone->transferCount(), 1u);
}

const Bytes kGoodRequest = requestInput(1, 0x4A, kListCount);

INSTANTIATE_TEST_SUITE_P(
    Sim, SimStrictnessTest,
    ::testing::Values(
        MalformedCase{"RequestValue", [] { return patched(kGoodRequest, 2, 1); }, "request: wValue 1"},
        MalformedCase{"RequestIndex", [] { return patched(kGoodRequest, 4, 0); }, "request: wIndex 0"},
        MalformedCase{"RequestLength", [] { return patched(kGoodRequest, 6, 13); }, "request: wLength 13 (expected 12)"},
        MalformedCase{"HeaderDataLength", [] { return patched(kGoodRequest, 13, 5); },
                      "header data length 5 (expected 4)"},
        MalformedCase{"HeaderReserved", [] { return patched(kGoodRequest, 15, 1); }, "header bytes 6-7"},
        MalformedCase{"SequenceHighBits", [] { return patched(kGoodRequest, 8, 0x10); }, "sequence number 0x1001"},
        MalformedCase{"OpcodeHighBits", [] { return patched(kGoodRequest, 10, 0x80); }, "opcode 0x804A"},
        MalformedCase{"Trailer", [] { return patched(kGoodRequest, 21, 1); }, "two bytes after the data"},
        MalformedCase{"ShortRequest", [] { return Bytes{0x41, 0x02, 0, 0, 8, 0, 8, 0, 0, 1, 0, 0x4A, 0, 0, 0, 0}; },
                      "too short"},
        MalformedCase{"RequestType", [] { return patched(kGoodRequest, 0, 0x40); }, "request type 0x40"},
        MalformedCase{"PollLength", [] { return patched(statusPollInput(), 6, 12); },
                      "status poll: wLength 12 (expected 8)"},
        MalformedCase{"PollInputSize", [] { return Bytes{0xC1, 0, 0, 0, 8, 0, 8, 0, 0, 0, 0, 0}; },
                      "status poll: input of 12 (expected 9)"},
        MalformedCase{"ReadWithNothingQueued", [] { return dataReadInput(1, 16); }, "no answer has been reported"},
        MalformedCase{"SetupOnly", [] { return Bytes{0x41, 0x02, 0}; }, "shorter than a setup block"}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

// A phone whose command interface has another number takes only that number
// as the index, in every kind of transfer.
TEST_F(SimPhoneTest, SimPhoneAtAnotherInterfaceTakesOnlyItsNumber)
{
    PhoneConfig config;
    config.commandInterface = 0x0B;
    makePhone(config);
    EXPECT_EQ(handle->interfaceNumber(), 0x0B);

    EXPECT_EQ(transfer(*handle, requestInput(1, 0x4A, kListCount), 5).outcome, TransferOutcome::Failed);
    EXPECT_EQ(transfer(*handle, statusPollInput(), 4101).outcome, TransferOutcome::Failed);
    EXPECT_EQ(transfer(*handle, dataReadInput(1, 16), 4101).outcome, TransferOutcome::Failed);
    EXPECT_EQ(phone->violations(), (std::vector<std::string>{"request: wIndex 8 (expected 11)",
                                                             "status poll: wIndex 8 (expected 11)",
                                                             "data read: wIndex 8 (expected 11)"}));

    EXPECT_EQ(transfer(*handle, patched(requestInput(2, 0x4A, kListCount), 4, 0x0B), 5).outcome,
              TransferOutcome::Done);
    EXPECT_EQ(transfer(*handle, patched(statusPollInput(), 4, 0x0B), 4101).out,
              (Bytes{0x08, 0, 0, 0, 0x00, 0x01, 0x00, 0x0A, 0, 0, 0, 0}));
    const Raw answer = transfer(*handle, patched(dataReadInput(1, 16), 4, 0x0B), 4101);
    EXPECT_EQ(decodeAnswer(answer.out), (Answer{1, 10, 0x8002, 8, 0x4A, 2, {0x00, 0x02}}));
    EXPECT_EQ(phone->violations().size(), 3u);
}

TEST_F(SimPhoneTest, SimDataReadWithWrongLengthOrCountFails)
{
    send(0x4A, kListCount);
    EXPECT_EQ(transfer(*handle, dataReadInput(1, 17), 4101).outcome, TransferOutcome::Failed);
    EXPECT_EQ(transfer(*handle, dataReadInput(2, 18), 4101).outcome, TransferOutcome::Failed);
    EXPECT_EQ(phone->violations(),
              (std::vector<std::string>{"data read: wLength 17 (expected 16)", "data read: wValue 2 (expected 1)"}));
    // The answer is still there for a correct read.
    EXPECT_EQ(decodeAnswer(transfer(*handle, dataReadInput(1, 16), 4101).out).data, (Bytes{0x00, 0x02}));
}

TEST_F(SimPhoneTest, SimRequestOverAnUnreadAnswerReplacesIt)
{
    send(0x4A, kListCount);
    const Answer answer = exchange(0x4A, kOneByteRequest);
    EXPECT_EQ(answer.status, 6);
    EXPECT_EQ(answer.sequenceField, 0x8002);
    EXPECT_EQ(phone->violations(), std::vector<std::string>{"request: sent while the previous answer is still queued"});
}

TEST_F(SimPhoneTest, SimRepeatedSequenceNumberIsRecorded)
{
    exchange(0x4A, kListCount);
    --sequence;
    exchange(0x4A, kListCount);
    EXPECT_EQ(phone->violations(), std::vector<std::string>{"request: sequence number 0x1 repeats the previous request's"});
}

TEST_F(SimPhoneTest, SimOutputIsNeverWrittenPastItsEnd)
{
    send(0x4A, kListCount);
    Bytes small(7, 0xEE);
    const TransferResult result = handle->controlTransfer(dataReadInput(1, 16), small, 1000);
    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    EXPECT_EQ(result.outputBytes, 7u);
    EXPECT_EQ(small, (Bytes{0x03, 0, 0, 0, 0x01, 0x00, 0x00}));
}

// ---- faults ---------------------------------------------------------------

struct FaultCase {
    const char* name;
    FaultSpec fault;
    std::function<void(Answer&)> expectedChange;
};

class SimFaultTest : public SimPhoneTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaultTest, SimFaultChangesExactlyWhatItSays)
{
    Answer expected = exchange(0x4A, kListCount);
    GetParam().expectedChange(expected);
    expected.sequenceField = static_cast<uint16_t>(expected.sequenceField + 1);

    phone->injectFault(GetParam().fault);
    EXPECT_EQ(exchange(0x4A, kListCount), expected);
    EXPECT_EQ(phone->queuedFaultCount(), 0u);
    EXPECT_TRUE(phone->violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimFaultTest,
    ::testing::Values(
        FaultCase{"ErrorStatus", {Fault::ErrorStatus, 12},
                  [](Answer& a) {
                      a.status = 12;
                      a.length = 8;
                      a.dataLength = 0;
                      a.data.clear();
                  }},
        FaultCase{"WrongSequence", {Fault::WrongSequence}, [](Answer& a) { a.sequenceField += 1; }},
        FaultCase{"AnswerCountTwo", {Fault::AnswerCountTwo}, [](Answer& a) { a.count = 2; }},
        FaultCase{"ClearedAnswerFlag", {Fault::ClearedAnswerFlag}, [](Answer& a) { a.sequenceField &= 0x7FFF; }},
        FaultCase{"DataLengthOffByOne", {Fault::DataLengthOffByOne}, [](Answer& a) { a.dataLength = 1; }},
        FaultCase{"OneByteAnswer", {Fault::OneByteAnswer, 6},
                  [](Answer& a) {
                      a.length = 9;
                      a.dataLength = 1;
                      a.data = {6};
                  }},
        FaultCase{"OversizedAnswer", {Fault::OversizedAnswer}, [](Answer& a) {
                      a.length = 4091;
                      a.dataLength = 4083;
                      a.data.resize(4083, 0);
                  }}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(SimPhoneTest, SimOversizedAnswerFillsTheWholeDriverRead)
{
    phone->injectFault({Fault::OversizedAnswer});
    send(0x4A, kListCount);
    EXPECT_EQ(read(poll()).out.size(), 4101u);
}

TEST_F(SimPhoneTest, SimErrorStatusLeavesTheRequestUndone)
{
    phone->injectFault({Fault::ErrorStatus, 7});
    const Bytes deleteOne{0x00, 0x00, 0x00, 0x05, '/', 'a', '/', 'o', 'n', 'e', '.', 't', 'x', 't'};
    EXPECT_EQ(exchange(0x4A, deleteOne).status, 7);
    EXPECT_NE(phone->findFile("/a/one.txt"), nullptr);
}

TEST_F(SimPhoneTest, SimLostAnswerNeverShowsButTheRequestIsCarriedOut)
{
    phone->injectFault({Fault::LostAnswer});
    send(0x4A, {0x00, 0x00, 0x00, 0x05, '/', 'a', '/', 'o', 'n', 'e', '.', 't', 'x', 't'});
    clock.advance(60000);
    EXPECT_EQ(poll().out[5], 0);
    EXPECT_EQ(phone->findFile("/a/one.txt"), nullptr);
    EXPECT_EQ(exchange(0x4A, kListCount).data, (Bytes{0x00, 0x01}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(SimPhoneTest, SimTruncatedAnswerDeliversHalfTheData)
{
    phone->injectFault({Fault::TruncatedAnswer});
    send(0x4A, kListCount);
    const Raw status = poll();
    EXPECT_EQ(be16At(status.out, 6), 10); // still announces L = 10
    EXPECT_EQ(read(status).out,
              (Bytes{0x0F, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x0A, 0x80, 0x01, 0x80, 0x4A, 0x00, 0x02, 0, 0, 0x00}));
}

TEST_F(SimPhoneTest, SimShortDriverReadGivesThreeBytesAndConsumesTheAnswer)
{
    phone->injectFault({Fault::ShortDriverRead});
    send(0x4A, kListCount);
    const Raw answer = read(poll());
    EXPECT_EQ(answer.outcome, TransferOutcome::Done);
    EXPECT_EQ(answer.out, (Bytes{0x10, 0x00, 0x00}));
    EXPECT_EQ(poll().out[5], 0);
}

TEST_F(SimPhoneTest, SimStatusCountThreeMustNotBeRead)
{
    phone->injectFault({Fault::StatusCountThree});
    send(0x4A, kListCount);
    const Raw status = poll();
    EXPECT_EQ(status.out[5], 3);
    EXPECT_EQ(be16At(status.out, 6), 10);
    // A host that gives up and goes on has done nothing wrong ...
    EXPECT_EQ(exchange(0x4A, kListCount).data, (Bytes{0x00, 0x02}));
    EXPECT_TRUE(phone->violations().empty());
    // ... one that reads such an answer has.
    phone->injectFault({Fault::StatusCountThree});
    send(0x4A, kListCount);
    EXPECT_EQ(read(poll()).outcome, TransferOutcome::Failed);
    EXPECT_EQ(phone->violations(), std::vector<std::string>{"data read: the answer was reported with count 3"});
}

TEST_F(SimPhoneTest, SimUnplugMidRequestDetachesWithoutCarryingItOut)
{
    phone->injectFault({Fault::UnplugMidRequest});
    const Raw written = send(0x4A, {0x00, 0x00, 0x00, 0x05, '/', 'a', '/', 'o', 'n', 'e', '.', 't', 'x', 't'});
    EXPECT_EQ(written.outcome, TransferOutcome::Done);
    EXPECT_FALSE(phone->attached());
    EXPECT_EQ(poll().outcome, TransferOutcome::Gone);
    EXPECT_EQ(phone->open(), nullptr);
    EXPECT_NE(phone->findFile("/a/one.txt"), nullptr);

    phone->plugIn();
    EXPECT_TRUE(phone->attached());
    EXPECT_EQ(poll().outcome, TransferOutcome::Gone); // the old handle stays dead
    handle = phone->open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(exchange(0x4A, kListCount).data, (Bytes{0x00, 0x02}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(SimPhoneTest, SimFaultsApplyInOrderOnePerRequest)
{
    phone->injectFault({Fault::AnswerCountTwo});
    phone->injectFault({Fault::ErrorStatus, 9});
    EXPECT_EQ(exchange(0x4A, kListCount).count, 2);
    EXPECT_EQ(exchange(0x4A, kListCount).status, 9);
    const Answer clean = exchange(0x4A, kListCount);
    EXPECT_EQ(clean.count, 1);
    EXPECT_EQ(clean.status, 8);
}

// ---- time, restart, suspend, modes ------------------------------------------

TEST_F(SimPhoneTest, SimAnswerShowsOnlyAfterTheDelay)
{
    PhoneConfig config;
    config.answerDelayMs = 50;
    makePhone(config);
    send(0x4A, kListCount);
    clock.advance(49);
    EXPECT_EQ(poll().out[5], 0);
    EXPECT_EQ(transfer(*handle, dataReadInput(1, 16), 4101).outcome, TransferOutcome::Failed);
    clock.advance(1);
    const Raw status = poll();
    EXPECT_EQ(status.out[5], 1);
    EXPECT_EQ(decodeAnswer(read(status).out).data, (Bytes{0x00, 0x02}));
    EXPECT_EQ(phone->violations(), std::vector<std::string>{"data read: no answer has been reported"});
}

TEST_F(SimPhoneTest, SimRestartDetachesAfterTheAnswerIsReadAndReturnsLater)
{
    send(0x22, {});
    const Raw status = poll();
    EXPECT_TRUE(phone->attached());
    EXPECT_EQ(decodeAnswer(read(status).out), (Answer{1, 8, 0x8001, 6, 0x22, 0, {}}));

    EXPECT_FALSE(phone->attached());
    EXPECT_EQ(phone->restartCount(), 1);
    EXPECT_EQ(poll().outcome, TransferOutcome::Gone);
    EXPECT_EQ(phone->open(), nullptr);
    clock.advance(2999);
    EXPECT_FALSE(phone->attached());
    clock.advance(1);
    EXPECT_TRUE(phone->attached());
    EXPECT_EQ(poll().outcome, TransferOutcome::Gone); // a handle from before stays dead

    handle = phone->open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(exchange(0x4A, kListCount).data, (Bytes{0x00, 0x02}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(SimPhoneTest, SimRestartClosesTheOpenFile)
{
    exchange(0x4A, {0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, '/', 'a', '/', 'o', 'n', 'e', '.', 't', 'x', 't'});
    EXPECT_TRUE(phone->fileOpen());
    exchange(0x22, {});
    EXPECT_FALSE(phone->fileOpen());
}

TEST_F(SimPhoneTest, SimSuspendUntilTheNextRequest)
{
    EXPECT_EQ(exchange(0x36, {0x00}).status, 6);
    EXPECT_TRUE(phone->suspended());
    exchange(0x4A, kListCount);
    EXPECT_FALSE(phone->suspended());
    EXPECT_EQ(exchange(0x36, {0x01}).status, 5);
    EXPECT_EQ(exchange(0x36, {}).status, 0);
    EXPECT_FALSE(phone->suspended());
}

TEST_F(SimPhoneTest, SimModemModeHidesTheCommandInterface)
{
    PhoneConfig config;
    config.startInModemMode = true;
    makePhone(config);
    EXPECT_TRUE(phone->attached());
    EXPECT_TRUE(phone->modemMode());
    EXPECT_EQ(handle, nullptr);
    phone->switchToCommandMode();
    EXPECT_FALSE(phone->modemMode());
    handle = phone->open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(exchange(0x4A, kListCount).status, 8);
}

TEST_F(SimPhoneTest, SimUnplugAndPlugInChangeTheAttachment)
{
    const uint64_t before = phone->attachmentId();
    phone->unplug();
    EXPECT_FALSE(phone->attached());
    EXPECT_NE(phone->attachmentId(), before);
    EXPECT_EQ(send(0x4A, kListCount).outcome, TransferOutcome::Gone);
    EXPECT_EQ(phone->transferCount(), 0u);
    phone->plugIn();
    EXPECT_TRUE(phone->attached());
    EXPECT_NE(phone->open(), nullptr);
}

TEST_F(SimPhoneTest, SimHandleOfADestroyedPhoneFails)
{
    phone.reset();
    EXPECT_EQ(poll().outcome, TransferOutcome::Gone);
}

} // namespace
} // namespace p2k::sim
