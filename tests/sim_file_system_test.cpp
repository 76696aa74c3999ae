// The simulated phone's file system service, fed request data directly.

#include "sim/sim_file_system.h"
#include "tests/support/bytes.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace p2k::sim {
namespace {

using test::PrintTo;

using test::Bytes;
using test::be32;
using test::text;
using test::operator+;

struct Reply {
    uint8_t status = 0;
    Bytes data;
    bool operator==(const Reply&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Reply& r)
{
    os << "status " << int{r.status} << " data";
    for (uint8_t b : r.data)
        os << ' ' << int{b};
    return os;
}

Bytes openRequest(uint32_t attributes, const std::string& name) { return be32(0) + be32(attributes) + text(name); }
Bytes readRequest(uint32_t count) { return be32(1) + be32(count); }
Bytes writeRequest(const Bytes& data) { return be32(2) + be32(static_cast<uint32_t>(data.size())) + data; }
Bytes seekRequest(uint32_t offset, uint8_t origin) { return be32(3) + be32(offset) + Bytes{origin}; }
Bytes deleteRequest(const std::string& name) { return be32(5) + text(name); }
const Bytes kClose = be32(4);
const Bytes kListCount = be32(7);
const Bytes kListNext = be32(8);

Bytes freeSpaceRequest(const std::u16string& volume)
{
    Bytes request = be32(0x0B);
    for (char16_t unit : volume)
        request.insert(request.end(), {static_cast<uint8_t>(unit >> 8), static_cast<uint8_t>(unit & 0xFF)});
    request.resize(512, 0);
    return request;
}

const Reply kDone{6, {}};
const Reply kFailed{8, {0x01}};
const Reply kOpened{8, {0x00}};

class SimFileSystemTest : public ::testing::Test {
protected:
    Reply call(const Bytes& request)
    {
        const ServiceReply reply = fs.handle(request);
        return Reply{reply.status, reply.data};
    }

    PhoneConfig config;
    SimFileSystem fs{config};
};

TEST_F(SimFileSystemTest, SimWriteSeekReadRoundTrip)
{
    EXPECT_EQ(call(openRequest(0x12345678, "/a/new.bin")), kOpened);
    ASSERT_NE(fs.findFile("/a/new.bin"), nullptr);
    EXPECT_EQ(fs.findFile("/a/new.bin")->attributes, 0x12345678u);
    EXPECT_TRUE(fs.fileOpen());

    EXPECT_EQ(call(writeRequest({1, 2, 3, 4, 5})), kDone);
    EXPECT_EQ(fs.freeSpace(), 1843200u - 5);
    EXPECT_EQ(call(seekRequest(0, 0)), kDone);
    EXPECT_EQ(call(readRequest(1024)), (Reply{8, {1, 2, 3, 4, 5}}));
    EXPECT_EQ(call(readRequest(1024)), (Reply{8, {}}));
    EXPECT_EQ(call(seekRequest(static_cast<uint32_t>(-2), 2)), kDone);
    EXPECT_EQ(call(readRequest(1)), (Reply{8, {4}}));
    EXPECT_EQ(call(kClose), kDone);
    EXPECT_FALSE(fs.fileOpen());
    EXPECT_EQ(fs.findFile("/a/new.bin")->content, (Bytes{1, 2, 3, 4, 5}));
}

struct RequestCase {
    const char* name;
    Bytes request;
    Reply expected;
};

class SimFileSystemNothingOpenTest : public SimFileSystemTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(SimFileSystemNothingOpenTest, SimAnswersAsExpected)
{
    fs.addFile(SimFile{"/a/x", 0, {9}});
    EXPECT_EQ(call(GetParam().request), GetParam().expected);
    EXPECT_FALSE(fs.fileOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimFileSystemNothingOpenTest,
    ::testing::Values(RequestCase{"Read", readRequest(4), kFailed}, RequestCase{"Write", writeRequest({1}), kFailed},
                      RequestCase{"Seek", seekRequest(0, 0), kFailed}, RequestCase{"Close", kClose, kFailed},
                      RequestCase{"DeleteMissing", deleteRequest("/a/y"), kFailed},
                      RequestCase{"OpenEmptyName", openRequest(0, ""), Reply{7, {}}},
                      RequestCase{"OneByte", be32(6) + Bytes{0x2A}, kDone},
                      RequestCase{"OneByteWrongLength", be32(6), Reply{0, {}}},
                      RequestCase{"UnknownSubcommand", be32(9), Reply{5, {}}},
                      RequestCase{"ReadWithoutCount", be32(1), Reply{0, {}}},
                      RequestCase{"NoSubcommand", Bytes{0, 0}, Reply{0, {}}},
                      RequestCase{"ListCountWithData", be32(7) + Bytes{0}, Reply{0, {}}}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST_F(SimFileSystemTest, SimRefusalsWhileAFileIsOpen)
{
    fs.addFile(SimFile{"/a/x", 0, {1, 2, 3}});
    ASSERT_EQ(call(openRequest(0, "/a/x")), kOpened);
    EXPECT_EQ(call(openRequest(0, "/a/other")), (Reply{7, {}}));
    EXPECT_EQ(call(readRequest(1025)), kFailed);
    EXPECT_EQ(call(be32(2) + be32(3) + Bytes{1, 2}), kFailed); // count says 3, two bytes follow
    EXPECT_EQ(call(writeRequest(Bytes(1025, 0))), kFailed);
    EXPECT_EQ(call(seekRequest(4, 0)), kFailed);
    EXPECT_EQ(call(seekRequest(0, 3)), kFailed);
    EXPECT_EQ(call(deleteRequest("/a/x")), kFailed);
    EXPECT_EQ(fs.findFile("/a/x")->content, (Bytes{1, 2, 3}));
    EXPECT_EQ(fs.findFile("/a/other"), nullptr);
}

TEST_F(SimFileSystemTest, SimOpeningAnExistingFileSetsItsAttributesAndKeepsItsContent)
{
    fs.addFile(SimFile{"/a/x", 0x0004, {1, 2, 3}});
    EXPECT_EQ(call(openRequest(0x00010000, "/a/x")), kOpened);
    EXPECT_EQ(call(writeRequest({9})), kDone);
    EXPECT_EQ(call(kClose), kDone);
    EXPECT_EQ(fs.findFile("/a/x")->attributes, 0x00010000u);
    EXPECT_EQ(fs.findFile("/a/x")->content, (Bytes{9, 2, 3}));
    EXPECT_EQ(fs.freeSpace(), 1843200u); // an overwrite takes no space
}

TEST_F(SimFileSystemTest, SimWriteMustFitTheFreeSpace)
{
    config.freeSpace = 4;
    SimFileSystem small(config);
    ASSERT_EQ(small.handle(openRequest(0, "/a/x")).data, (Bytes{0}));
    EXPECT_EQ(small.handle(writeRequest({1, 2, 3, 4, 5})).data, (Bytes{0x01}));
    EXPECT_EQ(small.freeSpace(), 4u);
    EXPECT_EQ(small.handle(writeRequest({1, 2, 3, 4})).status, 6);
    EXPECT_EQ(small.freeSpace(), 0u);
}

TEST_F(SimFileSystemTest, SimDeleteRemovesTheFileAndFreesItsSpace)
{
    fs.addFile(SimFile{"/a/x", 0, Bytes(100, 1)});
    fs.addFile(SimFile{"MyToneDB.db", 0, Bytes(50, 2)});
    EXPECT_EQ(call(deleteRequest("MyToneDB.db")), kDone);
    EXPECT_EQ(fs.findFile("MyToneDB.db"), nullptr);
    EXPECT_EQ(fs.files().size(), 1u);
    EXPECT_EQ(fs.freeSpace(), 1843200u + 50);
}

TEST_F(SimFileSystemTest, SimEndOfSessionClosesTheFile)
{
    ASSERT_EQ(call(openRequest(0, "/a/x")), kOpened);
    fs.endSession();
    EXPECT_FALSE(fs.fileOpen());
    EXPECT_EQ(call(openRequest(0, "/a/y")), kOpened);
}

TEST_F(SimFileSystemTest, SimVolumeNameAndFreeSpace)
{
    EXPECT_EQ(call(be32(0x0A)), (Reply{8, {0x00, '/', 0x00, 'a', 0x00, 0x00}}));
    EXPECT_EQ(call(freeSpaceRequest(u"/a")), (Reply{8, {0x00, 0x1C, 0x20, 0x00}}));
    EXPECT_EQ(call(freeSpaceRequest(u"/b")), (Reply{5, {}}));
    EXPECT_EQ(call(be32(0x0B) + Bytes{0, '/', 0, 'a'}), (Reply{0, {}}));
}

// ---- the file list ----------------------------------------------------------

class SimFileListTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SimFileListTest, SimChunksCarryExactEntries)
{
    const uint32_t entrySize = GetParam();
    PhoneConfig config;
    config.entrySize = entrySize;
    config.entriesPerChunk = 2;
    SimFileSystem fs(config);
    const std::string fullName(entrySize - 8, 'n'); // fills the name field: no terminating zero
    fs.addFile(SimFile{fullName, 0x00000001, Bytes(0x0102, 0)});
    fs.addFile(SimFile{"/a/b.txt", 0x00030002, Bytes(3, 0)});
    fs.addFile(SimFile{"c", 0, {}});

    EXPECT_EQ(fs.handle(kListCount).data, (Bytes{0x00, 0x03}));

    const Bytes first = fs.handle(kListNext).data;
    ASSERT_EQ(first.size(), 4 + 2 * entrySize);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 4), (Bytes{0x00, 0x02, 0x00, 0x00}));
    const Bytes entry0(first.begin() + 4, first.begin() + 4 + entrySize);
    EXPECT_EQ(std::string(entry0.begin(), entry0.end() - 8), fullName);
    EXPECT_EQ(Bytes(entry0.end() - 8, entry0.end()), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02}));
    const Bytes entry1(first.begin() + 4 + entrySize, first.end());
    Bytes expectedName = text("/a/b.txt");
    expectedName.resize(entrySize - 8, 0);
    EXPECT_EQ(Bytes(entry1.begin(), entry1.end() - 8), expectedName);
    EXPECT_EQ(Bytes(entry1.end() - 8, entry1.end()), (Bytes{0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03}));

    const Bytes second = fs.handle(kListNext).data;
    ASSERT_EQ(second.size(), 4 + entrySize);
    EXPECT_EQ(second[1], 1);
    EXPECT_EQ(second[4], 'c');
    EXPECT_EQ(fs.handle(kListNext).data, (Bytes{0x00, 0x00, 0x00, 0x00}));

    EXPECT_EQ(fs.handle(kListCount).data, (Bytes{0x00, 0x03})); // starts over
    EXPECT_EQ(fs.handle(kListNext).data, first);
}

TEST_P(SimFileListTest, SimNameBoundIsTheNameField)
{
    PhoneConfig config;
    config.entrySize = GetParam();
    SimFileSystem fs(config);
    EXPECT_EQ(fs.handle(openRequest(0, std::string(GetParam() - 7, 'n'))).status, 7);
    EXPECT_EQ(fs.handle(openRequest(0, std::string(GetParam() - 8, 'n'))).data, (Bytes{0x00}));
}

INSTANTIATE_TEST_SUITE_P(Sim, SimFileListTest, ::testing::Values(44u, 268u));

TEST(SimFileList, SimExactEntryOfFortyFourBytes)
{
    PhoneConfig config;
    config.entrySize = 44;
    SimFileSystem fs(config);
    fs.addFile(SimFile{"/a/tone.mid", 0xABCD1234, Bytes(0x010203, 0)});
    Bytes expected{0x00, 0x01, 0x00, 0x00, '/', 'a', '/', 't', 'o', 'n', 'e', '.', 'm', 'i', 'd'};
    expected.resize(4 + 36, 0);
    expected.insert(expected.end(), {0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01, 0x02, 0x03});
    EXPECT_EQ(fs.handle(kListNext).data, expected);
}

TEST(SimFileList, SimChunkNeverExceedsOneAnswer)
{
    PhoneConfig config;
    config.entriesPerChunk = 20;
    SimFileSystem fs(config);
    for (int i = 0; i < 20; ++i)
        fs.addFile(SimFile{"/a/f" + std::to_string(i), 0, {}});
    const Bytes chunk = fs.handle(kListNext).data;
    EXPECT_EQ(chunk[1], 15); // 4 + 15 * 268 = 4024 bytes fit 4083; 16 would not
    EXPECT_EQ(chunk.size(), 4u + 15 * 268);
}

} // namespace
} // namespace p2k::sim
