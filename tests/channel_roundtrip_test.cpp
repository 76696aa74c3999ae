// The channel against the simulated phone: every opcode there and back, and
// every fault the phone can inject, judged the way the channel must judge it.

#include "link/byte_order.h"
#include "link/test_command_channel.h"
#include "sim/simulated_phone.h"
#include "tests/support/bytes.h"
#include "tests/support/case_names.h"
#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace p2k {
namespace {

using test::PrintTo;

using test::Bytes;
using test::be32;
using test::text;
using test::operator+;

constexpr uint16_t kFileSystem = 0x4A;

Bytes fsRequest(uint32_t subcommand, Bytes parameters = {})
{
    return be32(subcommand) + parameters;
}

Bytes seemHeader(uint16_t seem, uint16_t record, uint16_t length = 0)
{
    Bytes b(8, 0);
    storeBe16(&b[0], seem);
    storeBe16(&b[2], record);
    storeBe16(&b[6], length);
    return b;
}

class RoundTripTest : public testing::Test, public test::ChannelToPhone {
protected:
    RoundTripTest()
    {
        sim::PhoneConfig config;
        config.entrySize = 268;
        config.entriesPerChunk = 2;
        phone = std::make_unique<sim::SimulatedPhone>(clock, config);
        phone->addFile({"/a/mobile/audio/ring.mid", 0x0001, Bytes{1, 2, 3, 4, 5}});
        phone->addFile({"/a/mobile/picture/sky.jpg", 0x20000, Bytes(1500, 0x33)});
        phone->addFile({"MyToneDB.db", 0, Bytes(10, 0x44)});
        phone->setSeemRecord(0x004C, 1, Bytes(60, 0x01));
        link.attach(phone->open());
        link.setConnectedFlag(1);
    }

    ~RoundTripTest() override
    {
        link.release();
        EXPECT_TRUE(phone->violations().empty()) << phone->violations().front();
    }

    int send(uint16_t opcode, const Bytes& request)
    {
        answerLength = 0xDEAD;
        return channel.transact(opcode, request, answer, answerLength);
    }

    Bytes answerBytes() const
    {
        return answerLength <= answer.size() ? Bytes(answer.begin(), answer.begin() + answerLength) : Bytes{};
    }

    std::array<uint8_t, TestCommandChannel::kMaxAnswerData> answer{};
    uint32_t answerLength = 0;
};

TEST_F(RoundTripTest, ListCountAndChunks)
{
    ASSERT_EQ(send(kFileSystem, fsRequest(7)), kOk);
    ASSERT_GE(answerLength, 2u);
    EXPECT_EQ(loadBe16(answer.data()), 3u);

    ASSERT_EQ(send(kFileSystem, fsRequest(8)), kOk);
    ASSERT_EQ(answerLength, 4u + 2 * 268);
    EXPECT_EQ(loadBe16(answer.data()), 2u);
    const uint8_t* entry = answer.data() + 4;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry)), "/a/mobile/audio/ring.mid");
    EXPECT_EQ(loadBe16(entry + 260), 0x0001u);
    EXPECT_EQ(loadBe16(entry + 262), 0x0000u);
    EXPECT_EQ(loadBe32(entry + 264), 5u);
    const uint8_t* second = entry + 268;
    EXPECT_EQ(loadBe16(second + 260), 0x0000u);
    EXPECT_EQ(loadBe16(second + 262), 0x0002u);
    EXPECT_EQ(loadBe32(second + 264), 1500u);

    ASSERT_EQ(send(kFileSystem, fsRequest(8)), kOk);
    EXPECT_EQ(answerLength, 4u + 268);
    EXPECT_EQ(loadBe16(answer.data()), 1u);
}

TEST_F(RoundTripTest, OpenReadSeekCloseOfAPhoneFile)
{
    ASSERT_EQ(send(kFileSystem, fsRequest(0, be32(1) + text("/a/mobile/audio/ring.mid"))), kOk);
    EXPECT_TRUE(phone->fileOpen());
    ASSERT_EQ(send(kFileSystem, fsRequest(1, be32(1024))), kOk);
    EXPECT_EQ(answerBytes(), (Bytes{1, 2, 3, 4, 5}));
    ASSERT_EQ(send(kFileSystem, fsRequest(3, be32(1) + Bytes{0})), kOk);
    ASSERT_EQ(send(kFileSystem, fsRequest(1, be32(2))), kOk);
    EXPECT_EQ(answerBytes(), (Bytes{2, 3}));
    ASSERT_EQ(send(kFileSystem, fsRequest(4)), kOk);
    EXPECT_FALSE(phone->fileOpen());
    // Closing again has nothing to close: a one-byte failure answer.
    ASSERT_EQ(send(kFileSystem, fsRequest(4)), kOk);
    EXPECT_EQ(answerLength, 1u);
}

TEST_F(RoundTripTest, WriteCreatesAFileAndDeleteRemovesIt)
{
    ASSERT_EQ(send(kFileSystem, fsRequest(0, be32(0) + text("/a/new.bin"))), kOk);
    Bytes data(1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(send(kFileSystem, fsRequest(2, be32(1024) + data)), kOk);
    ASSERT_EQ(send(kFileSystem, fsRequest(2, be32(1) + Bytes{0xAB})), kOk);
    ASSERT_EQ(send(kFileSystem, fsRequest(4)), kOk);
    const sim::SimFile* file = phone->findFile("/a/new.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->content.size(), 1025u);
    EXPECT_EQ(file->content[1000], static_cast<uint8_t>(1000));
    EXPECT_EQ(file->content[1024], 0xAB);

    ASSERT_EQ(send(kFileSystem, fsRequest(5, text("MyToneDB.db"))), kOk);
    EXPECT_EQ(phone->findFile("MyToneDB.db"), nullptr);
    ASSERT_EQ(send(kFileSystem, fsRequest(6, {0x00})), kOk);
}

TEST_F(RoundTripTest, VolumeNameAndFreeSpace)
{
    ASSERT_EQ(send(kFileSystem, fsRequest(0x0A)), kOk);
    EXPECT_EQ(answerBytes(), (Bytes{0x00, '/', 0x00, 'a', 0x00, 0x00}));

    Bytes request = fsRequest(0x0B);
    request.resize(512, 0);
    storeBe16(&request[4], '/');
    storeBe16(&request[6], 'a');
    ASSERT_EQ(send(kFileSystem, request), kOk);
    ASSERT_EQ(answerLength, 4u);
    EXPECT_EQ(loadBe32(answer.data()), phone->config().freeSpace);
}

TEST_F(RoundTripTest, SeemReadAndWrite)
{
    ASSERT_EQ(send(0x20, seemHeader(0x004C, 1)), kOk);
    ASSERT_EQ(answerLength, 61u);
    EXPECT_EQ(answer[0], 0x00);
    EXPECT_EQ(answer[1], 0x01);

    Bytes record(60, 0x02);
    ASSERT_EQ(send(0x2F, seemHeader(0x004C, 1, 60) + record), kOk);
    EXPECT_EQ(answerBytes(), (Bytes{0x00}));
    ASSERT_NE(phone->seemRecord(0x004C, 1), nullptr);
    EXPECT_EQ(*phone->seemRecord(0x004C, 1), record);

    ASSERT_EQ(send(0x20, seemHeader(0x004C, 2)), kOk);
    ASSERT_EQ(answerLength, 1u);
    EXPECT_NE(answer[0], 0x00);
}

TEST_F(RoundTripTest, SuspendAndRestart)
{
    EXPECT_EQ(send(0x36, {0x00}), kOk);
    EXPECT_EQ(answerLength, 0xDEADu); // status 6: nothing touched
    EXPECT_TRUE(phone->suspended());

    EXPECT_EQ(send(0x22, {}), kOk);
    EXPECT_EQ(phone->restartCount(), 1);
    EXPECT_FALSE(phone->attached());
    // The old handle is dead even after the phone is back.
    clock.advance(phone->config().restartDowntimeMs);
    EXPECT_TRUE(phone->attached());
    sink.clear();
    EXPECT_EQ(send(0x20, seemHeader(0x004C, 1)), kFailed);
    EXPECT_EQ(sink.text(), "USB: Device gone!\r\n");
    link.attach(phone->open());
    EXPECT_EQ(send(0x20, seemHeader(0x004C, 1)), kOk);
}

TEST_F(RoundTripTest, UnknownOpcodeIsRefusedByThePhone)
{
    EXPECT_EQ(send(0x0123, {}), kFailed);
    EXPECT_EQ(sink.text(), "UNSUPPORTED/INVALID OPCODE\r\n");
}

TEST_F(RoundTripTest, AnswerDelayIsWaitedForByPolling)
{
    sim::PhoneConfig config;
    config.answerDelayMs = 25;
    sim::SimulatedPhone slow(clock, config);
    link.attach(slow.open());
    const uint32_t start = clock.tickMs();
    EXPECT_EQ(send(0x36, {0x00}), kOk);
    // 25 one-millisecond poll sleeps, then the sleep before the data read.
    EXPECT_EQ(clock.tickMs() - start, 26u);
    link.release();
    EXPECT_TRUE(slow.violations().empty());
}

struct FaultCase {
    const char* name;
    sim::FaultSpec fault;
    int result;
    std::string log;
};

const FaultCase kFaults[] = {
    {"ErrorStatus12", {sim::Fault::ErrorStatus, 12}, kFailed, "TEST COMMAND TASK TIMED OUT WAITING FOR RESPONSE\r\n"},
    {"ErrorStatus0", {sim::Fault::ErrorStatus, 0}, kFailed, "INVALID DATA LENGTH FOR COMMAND\r\n"},
    {"WrongSequence", {sim::Fault::WrongSequence}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    {"AnswerCountTwo", {sim::Fault::AnswerCountTwo}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    {"ClearedAnswerFlag", {sim::Fault::ClearedAnswerFlag}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    {"DataLengthOffByOne", {sim::Fault::DataLengthOffByOne}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    {"TruncatedAnswer", {sim::Fault::TruncatedAnswer}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    {"ShortDriverRead", {sim::Fault::ShortDriverRead}, kFailed, "USB: Answer size invlid!\r\nCMD: Data read fail!\r\n"},
    {"LostAnswer", {sim::Fault::LostAnswer}, kFailed, "CMD: Answer wait timeout!\r\n"},
    {"StatusCountThree", {sim::Fault::StatusCountThree}, kFailed, "CMD: Answer wait timeout!\r\n"},
    // Two queued answers are read as two; the answer's own count byte decides.
    {"StatusCountTwo", {sim::Fault::StatusCountTwo}, kOk, ""},
    {"StatusCountTwoCountByteTwo", {sim::Fault::StatusCountTwo, 2}, kMalformed, "CMD: Answer packet invalid!\r\n"},
    // Gone: no 40 s of failed polls.
    {"UnplugMidRequest", {sim::Fault::UnplugMidRequest}, kFailed, "USB: Device gone!\r\n"},
};

class FaultTest : public RoundTripTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, ChannelJudgesTheInjectedFault)
{
    phone->injectFault(GetParam().fault);
    EXPECT_EQ(send(0x20, seemHeader(0x004C, 1)), GetParam().result);
    EXPECT_EQ(sink.text(), GetParam().log);
    if (GetParam().result != kOk) {
        EXPECT_EQ(answerLength, 0xDEADu);
    }
    // The fault was one-shot: the next request goes through, unless the phone is gone.
    if (phone->attached()) {
        sink.clear();
        EXPECT_EQ(send(0x20, seemHeader(0x004C, 1)), kOk);
        EXPECT_EQ(answerLength, 61u);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RoundTripTest, OneByteAnswerArrivesAsOneByte)
{
    phone->injectFault({sim::Fault::OneByteAnswer, 6});
    EXPECT_EQ(send(kFileSystem, fsRequest(7)), kOk);
    EXPECT_EQ(answerBytes(), (Bytes{6}));
}

TEST_F(RoundTripTest, OversizedAnswerFitsOnlyTheLargestBuffer)
{
    phone->injectFault({sim::Fault::OversizedAnswer});
    EXPECT_EQ(send(kFileSystem, fsRequest(7)), kOk);
    EXPECT_EQ(answerLength, TestCommandChannel::kMaxAnswerData);

    phone->injectFault({sim::Fault::OversizedAnswer});
    std::array<uint8_t, 16> small{};
    uint32_t smallLength = 3;
    EXPECT_EQ(channel.transact(kFileSystem, fsRequest(7), small, smallLength), kMalformed);
    EXPECT_EQ(smallLength, 3u);
}

} // namespace
} // namespace p2k
