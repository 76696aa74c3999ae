// The simulated phone's SEEM records, fed request data directly.

#include "sim/sim_seem_store.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p2k::sim {
namespace {

using test::PrintTo;

using Bytes = std::vector<uint8_t>;

// SEEM number, record, offset, length: big-endian 16-bit each.
Bytes header(uint16_t seem, uint16_t record, uint16_t offset, uint16_t length)
{
    return {static_cast<uint8_t>(seem >> 8),   static_cast<uint8_t>(seem),
            static_cast<uint8_t>(record >> 8), static_cast<uint8_t>(record),
            static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

Bytes withData(Bytes request, const Bytes& data)
{
    request.insert(request.end(), data.begin(), data.end());
    return request;
}

struct ReadCase {
    const char* name;
    Bytes request;
    uint8_t status;
    Bytes data;
};

class SimSeemReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SimSeemReadTest, SimReadAnswers)
{
    SimSeemStore store;
    store.set(0x004C, 1, {10, 11, 12, 13, 14, 15});
    const ServiceReply reply = store.read(GetParam().request);
    EXPECT_EQ(reply.status, GetParam().status);
    EXPECT_EQ(reply.data, GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimSeemReadTest,
    ::testing::Values(ReadCase{"WholeRecord", header(0x4C, 1, 0, 0), 8, {0x00, 10, 11, 12, 13, 14, 15}},
                      ReadCase{"Part", header(0x4C, 1, 2, 3), 8, {0x00, 12, 13, 14}},
                      ReadCase{"FromOffsetToEnd", header(0x4C, 1, 4, 0), 8, {0x00, 14, 15}},
                      ReadCase{"OffsetAtEnd", header(0x4C, 1, 6, 0), 8, {0x00}},
                      ReadCase{"MissingRecord", header(0x4C, 2, 0, 0), 8, {0x01}},
                      ReadCase{"MissingSeem", header(0x4D, 1, 0, 0), 8, {0x01}},
                      ReadCase{"OffsetPastEnd", header(0x4C, 1, 7, 0), 8, {0x02}},
                      ReadCase{"LengthPastEnd", header(0x4C, 1, 2, 5), 8, {0x02}},
                      ReadCase{"ShortRequest", Bytes{0x00, 0x4C, 0x00, 0x01}, 0, {}},
                      ReadCase{"LongRequest", withData(header(0x4C, 1, 0, 0), {0}), 0, {}}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(SimSeemStore, SimRecordLongerThanOneAnswerIsCut)
{
    SimSeemStore store;
    store.set(0x02A0, 1, Bytes(5000, 0x5A));
    const ServiceReply reply = store.read(header(0x02A0, 1, 0, 0));
    ASSERT_EQ(reply.data.size(), 4083u);
    EXPECT_EQ(reply.data[0], 0x00);
    EXPECT_EQ(reply.data[4082], 0x5A);
}

TEST(SimSeemStore, SimWriteAtOffsetZeroReplacesOrCreates)
{
    SimSeemStore store;
    store.set(0x004C, 1, {1, 2, 3, 4});
    EXPECT_EQ(store.write(withData(header(0x4C, 1, 0, 2), {7, 8})).data, Bytes{0x00});
    EXPECT_EQ(*store.find(0x4C, 1), (Bytes{7, 8}));
    EXPECT_EQ(store.write(withData(header(0x4C, 9, 0, 1), {5})).data, Bytes{0x00});
    EXPECT_EQ(*store.find(0x4C, 9), Bytes{5});
    EXPECT_EQ(store.count(), 2u);
}

TEST(SimSeemStore, SimWriteAtAnOffsetPatchesInPlace)
{
    SimSeemStore store;
    store.set(0x0032, 2, {1, 2, 3, 4});
    EXPECT_EQ(store.write(withData(header(0x32, 2, 1, 2), {8, 9})).data, Bytes{0x00});
    EXPECT_EQ(*store.find(0x32, 2), (Bytes{1, 8, 9, 4}));
    EXPECT_EQ(store.write(withData(header(0x32, 2, 3, 2), {8, 9})).data, Bytes{0x02});
    EXPECT_EQ(store.write(withData(header(0x32, 3, 1, 1), {8})).data, Bytes{0x01});
    EXPECT_EQ(*store.find(0x32, 2), (Bytes{1, 8, 9, 4}));
}

TEST(SimSeemStore, SimWriteWhoseDataDisagreesWithItsLengthIsRefused)
{
    SimSeemStore store;
    store.set(0x004C, 1, {1, 2, 3});
    const ServiceReply reply = store.write(withData(header(0x4C, 1, 0, 3), {7, 8}));
    EXPECT_EQ(reply.status, 8);
    EXPECT_EQ(reply.data, Bytes{0x02});
    EXPECT_EQ(*store.find(0x4C, 1), (Bytes{1, 2, 3}));
    EXPECT_EQ(store.write(Bytes{0x00, 0x4C}).status, 0);
}

} // namespace
} // namespace p2k::sim
