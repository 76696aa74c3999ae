#include "services/seem_access.h"
#include "tests/support/scripted_link.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

class SeemAccessTest : public testing::Test, protected ScriptedLink {
protected:
    SeemAccess seem{channel};
    std::array<uint8_t, SeemAccess::kMaxAnswer> answer{};
};

TEST_F(SeemAccessTest, ReadSendsTheBigEndianHeaderAndKeepsTheAnswer)
{
    answerWith(8, {0x00, 0xAA, 0xBB});
    EXPECT_EQ(seem.readSeem(0x4C, 1, 0, 0, answer), kOk);
    EXPECT_EQ(lastOpcode(), 0x20);
    EXPECT_EQ(lastRequestData(), (Bytes{0x00, 0x4C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(seem.answerLength(), 3u);
    EXPECT_EQ(answer[1], 0xAA);
    EXPECT_EQ(answer[2], 0xBB);
}

TEST_F(SeemAccessTest, OnlyTheLowSixteenBitsOfEachNumberAreSent)
{
    answerWith(8, {0x00});
    EXPECT_EQ(seem.readSeem(0x1004C, 0x20001, 0x30002, 0x40003, answer), kOk);
    EXPECT_EQ(lastRequestData(), (Bytes{0x00, 0x4C, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}));
}

TEST_F(SeemAccessTest, ReadVerdicts)
{
    // No byte at all: success with length 0.
    answerWith(8, {});
    EXPECT_EQ(seem.readSeem(1, 1, 0, 0, answer), kOk);
    EXPECT_EQ(seem.answerLength(), 0u);

    // A non-zero status byte fails, and the answer stays for the caller.
    answerWith(8, {0x01, 0x55});
    EXPECT_EQ(seem.readSeem(1, 2, 0, 0, answer), kFailed);
    EXPECT_EQ(seem.answerLength(), 2u);
    EXPECT_EQ(answer[1], 0x55);

    // Status 6: the preset length 1 stands and the caller's first byte is judged.
    answer[0] = 0x00;
    answerWith(6, {});
    EXPECT_EQ(seem.readSeem(1, 3, 0, 0, answer), kOk);
    EXPECT_EQ(seem.answerLength(), 1u);
    answer[0] = 0x07;
    answerWith(6, {});
    EXPECT_EQ(seem.readSeem(1, 4, 0, 0, answer), kFailed);

    // A failed exchange is -1, whatever the buffer holds.
    answer[0] = 0x00;
    answerWith(7, {});
    EXPECT_EQ(seem.readSeem(1, 5, 0, 0, answer), kFailed);
    answerNever();
    EXPECT_EQ(seem.readSeem(1, 6, 0, 0, answer), kFailed);
    EXPECT_EQ(sink.text(), "GENERIC FAILURE\r\nCMD: Answer wait timeout!\r\n");
}

TEST_F(SeemAccessTest, WriteClampsTheLengthAndSendsHeaderThenData)
{
    seem.dataBuffer()[0] = 0x99;
    seem.dataBuffer()[1] = 0x98;
    answerWith(8, {0x00});
    EXPECT_EQ(seem.writeSeem(0x4C, 1, 0, 0), kOk);
    EXPECT_EQ(lastOpcode(), 0x2F);
    EXPECT_EQ(lastRequestData(), (Bytes{0x00, 0x4C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x99}));

    answerWith(8, {0x00});
    EXPECT_EQ(seem.writeSeem(0x4C, 1, 0, 2), kOk);
    EXPECT_EQ(lastRequestData(), (Bytes{0x00, 0x4C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x99, 0x98}));
}

TEST_F(SeemAccessTest, WriteVerdictIsTheFirstAnswerByte)
{
    answerWith(8, {0x00});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4), kOk);
    answerWith(8, {0x02});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4), kFailed);
    // Status 6 leaves the last write's byte in place: still 0x02.
    answerWith(6, {});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4), kFailed);
    answerWith(8, {0x00, 0x05});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4), kOk);
    answerWith(6, {});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4), kOk);
}

TEST_F(SeemAccessTest, WriteTooLongForTheChannelIsRefusedUnsent)
{
    // Header plus 4070 data bytes is the most one request carries.
    answerWith(8, {0x00});
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4070), kOk);
    const size_t sent = usb->transfers().size();
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 4071), kFailed);
    EXPECT_EQ(seem.writeSeem(1, 1, 0, 20000), kFailed);
    EXPECT_EQ(usb->transfers().size(), sent);
    EXPECT_EQ(sink.text(), "CMD: Request too long!\r\nCMD: Request too long!\r\n");
}

TEST_F(SeemAccessTest, HandsetCommands)
{
    answerWith(6, {});
    EXPECT_EQ(seem.suspendPhone(), kOk);
    EXPECT_EQ(lastOpcode(), 0x36);
    EXPECT_EQ(lastRequestData(), (Bytes{0x00}));

    answerWith(6, {});
    EXPECT_EQ(seem.restartPhone(), kOk);
    EXPECT_EQ(lastOpcode(), 0x22);
    EXPECT_EQ(lastRequestData(), Bytes{});

    answerWith(4, {});
    EXPECT_EQ(seem.restartPhone(), kFailed);
    EXPECT_EQ(sink.text(), "UNSUPPORTED/INVALID OPCODE\r\n");
}

} // namespace
} // namespace p2k::test
