#include "link/interface_name.h"

#include "core/operator_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p2k {
namespace {

using Bytes = std::vector<uint8_t>;

// The driver's output spelled out: count little-endian, then the units.
Bytes descriptorBytes(uint32_t count, const std::vector<uint16_t>& units)
{
    Bytes out{static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count >> 16),
              static_cast<uint8_t>(count >> 24)};
    for (uint16_t unit : units) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return out;
}

std::vector<uint16_t> unitsOf(const std::string& text)
{
    return std::vector<uint16_t>(text.begin(), text.end());
}

class InterfaceNameTest : public testing::Test {
protected:
    bool decode(const Bytes& output) { return decodeInterfaceName(output, log, name); }

    MemoryLogSink sink;
    OperatorLog log{&sink};
    std::string name = "stale";
};

TEST_F(InterfaceNameTest, CountWithoutTerminatorGivesTheWholeName)
{
    EXPECT_TRUE(decode(descriptorBytes(21, unitsOf("Motorola Test Command"))));
    EXPECT_EQ(name, "Motorola Test Command");
    EXPECT_EQ(sink.text(), "");
}

TEST_F(InterfaceNameTest, CountIncludingTheTerminatingZeroGivesTheBareName)
{
    std::vector<uint16_t> units = unitsOf("Motorola Test Command");
    units.push_back(0);
    EXPECT_TRUE(decode(descriptorBytes(22, units)));
    EXPECT_EQ(name, "Motorola Test Command");
}

TEST_F(InterfaceNameTest, CountIsBoundedByTheUnitsReceived)
{
    EXPECT_TRUE(decode(descriptorBytes(100, unitsOf("Mot"))));
    EXPECT_EQ(name, "Mot");
}

TEST_F(InterfaceNameTest, AHalfUnitAtTheEndIsNotCounted)
{
    Bytes output = descriptorBytes(5, unitsOf("Mo"));
    output.push_back('t');
    EXPECT_TRUE(decode(output));
    EXPECT_EQ(name, "Mo");
}

TEST_F(InterfaceNameTest, CountBelowTheUnitsReceivedCutsTheName)
{
    EXPECT_TRUE(decode(descriptorBytes(8, unitsOf("Motorola Test Command"))));
    EXPECT_EQ(name, "Motorola");
}

TEST_F(InterfaceNameTest, CountZeroGivesAnEmptyName)
{
    EXPECT_TRUE(decode(descriptorBytes(0, unitsOf("Motorola"))));
    EXPECT_EQ(name, "");
}

TEST_F(InterfaceNameTest, NameEndsAtAZeroUnitInside)
{
    EXPECT_TRUE(decode(descriptorBytes(6, {'M', 'o', 't', 0, 'o', 'r'})));
    EXPECT_EQ(name, "Mot");
}

TEST_F(InterfaceNameTest, KeepsTheLowByteOfEachUnit)
{
    EXPECT_TRUE(decode(descriptorBytes(3, {0x0441, 0x2062, 0xFF63})));
    EXPECT_EQ(name, "Abc");
}

TEST_F(InterfaceNameTest, AUnitWhoseLowByteIsZeroEndsTheName)
{
    EXPECT_TRUE(decode(descriptorBytes(4, {'A', 'B', 0x0100, 'C'})));
    EXPECT_EQ(name, "AB");
}

TEST_F(InterfaceNameTest, FourBytesAreAnEmptyName)
{
    EXPECT_TRUE(decode(descriptorBytes(7, {})));
    EXPECT_EQ(name, "");
    EXPECT_EQ(sink.text(), "");
}

TEST_F(InterfaceNameTest, ThreeBytesLogAnswerSizeAndFail)
{
    EXPECT_FALSE(decode(Bytes{21, 0, 0}));
    EXPECT_EQ(name, "");
    EXPECT_EQ(sink.text(), "USB: Answer size invlid!\r\n");
}

TEST_F(InterfaceNameTest, NoBytesLogAnswerSizeAndFail)
{
    EXPECT_FALSE(decode(Bytes{}));
    EXPECT_EQ(sink.text(), "USB: Answer size invlid!\r\n");
}

// ---- the request ------------------------------------------------------------

struct SeenRequest {
    Bytes input;
    size_t outputSize = 0;
    uint32_t timeoutMs = 0;
};

// A request that records what it was asked and answers with fixed bytes.
DescriptorRequest answering(SeenRequest& seen, TransferOutcome outcome, Bytes reply, size_t reportedBytes)
{
    return [&seen, outcome, reply, reportedBytes](std::span<const uint8_t> input, std::span<uint8_t> output,
                                                  uint32_t timeoutMs) {
        seen = {Bytes(input.begin(), input.end()), output.size(), timeoutMs};
        std::copy_n(reply.begin(), std::min(reply.size(), output.size()), output.begin());
        return TransferResult{outcome, outcome == TransferOutcome::Done ? reportedBytes : 0};
    };
}

TEST_F(InterfaceNameTest, ReadSendsTheIndexLittleEndianWithRoomFor261BytesAndWaits5000Ms)
{
    SeenRequest seen;
    const Bytes reply = descriptorBytes(21, unitsOf("Motorola Test Command"));
    EXPECT_TRUE(readInterfaceName(answering(seen, TransferOutcome::Done, reply, reply.size()), 0x0102, log, name));
    EXPECT_EQ(seen.input, (Bytes{0x02, 0x01}));
    EXPECT_EQ(seen.outputSize, 261u);
    EXPECT_EQ(seen.timeoutMs, 5000u);
    EXPECT_EQ(name, "Motorola Test Command");
}

TEST_F(InterfaceNameTest, ReadDecodesOnlyTheBytesReported)
{
    SeenRequest seen;
    const Bytes reply = descriptorBytes(21, unitsOf("Motorola Test Command"));
    EXPECT_TRUE(readInterfaceName(answering(seen, TransferOutcome::Done, reply, 4 + 2 * 8), 2, log, name));
    EXPECT_EQ(name, "Motorola");
}

TEST_F(InterfaceNameTest, ReadOfThreeBytesLogsAnswerSize)
{
    SeenRequest seen;
    EXPECT_FALSE(readInterfaceName(answering(seen, TransferOutcome::Done, Bytes{21, 0, 0}, 3), 2, log, name));
    EXPECT_EQ(sink.text(), "USB: Answer size invlid!\r\n");
}

TEST_F(InterfaceNameTest, ReadThatClaimsMoreThanTheOutputHoldsStaysInside)
{
    SeenRequest seen;
    std::vector<uint16_t> units(200, 'x');
    EXPECT_TRUE(readInterfaceName(answering(seen, TransferOutcome::Done, descriptorBytes(200, units), 100000), 2,
                                  log, name));
    EXPECT_EQ(name, std::string(128, 'x')); // (261 - 4) / 2 whole units fit
}

TEST_F(InterfaceNameTest, ReadFailuresLogTheTransportTexts)
{
    const std::vector<std::pair<TransferOutcome, std::string>> cases = {
        {TransferOutcome::TimedOut, "USB: IO Time-out!\r\n"},
        {TransferOutcome::Failed, "USB: IO Failed!\r\n"},
        {TransferOutcome::EventCreateFailed, "USB: Event create failed!\r\n"},
        {TransferOutcome::EventResetFailed, "USB: Event reset failed!\r\n"},
    };
    for (const auto& [outcome, text] : cases) {
        sink.clear();
        SeenRequest seen;
        const Bytes reply = descriptorBytes(21, unitsOf("Motorola Test Command"));
        EXPECT_FALSE(readInterfaceName(answering(seen, outcome, reply, reply.size()), 2, log, name));
        EXPECT_EQ(sink.text(), text);
        EXPECT_EQ(name, "");
    }
}

// ---- the match ----------------------------------------------------------------

TEST(InterfaceNameMatch, OnlyTheExactNameMatches)
{
    EXPECT_TRUE(isCommandInterfaceName("Motorola Test Command"));
    EXPECT_FALSE(isCommandInterfaceName("motorola test command"));
    EXPECT_FALSE(isCommandInterfaceName("MOTOROLA TEST COMMAND"));
    EXPECT_FALSE(isCommandInterfaceName("Motorola Test command"));
    EXPECT_FALSE(isCommandInterfaceName("Motorola Test Command "));
    EXPECT_FALSE(isCommandInterfaceName("Motorola Test Commands"));
    EXPECT_FALSE(isCommandInterfaceName("Motorola Test Comman"));
    EXPECT_FALSE(isCommandInterfaceName(" Motorola Test Command"));
    EXPECT_FALSE(isCommandInterfaceName(std::string("Motorola Test Command\0", 22)));
    EXPECT_FALSE(isCommandInterfaceName(""));
}

} // namespace
} // namespace p2k
