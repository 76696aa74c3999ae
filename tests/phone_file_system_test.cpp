#include "services/phone_file_system.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_window.h"
#include "tests/support/scripted_link.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

#include <numeric>

namespace p2k::test {
namespace {

using test::PrintTo;

// A list chunk as the phone sends it: count, two unexamined bytes, entries.
Bytes chunk(uint32_t entrySize, uint16_t announced, size_t entries)
{
    Bytes bytes = {static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced), 0, 0};
    bytes.resize(4 + entries * entrySize, 'x');
    return bytes;
}

class FileSystemTest : public testing::Test, protected ScriptedLink {
protected:
    // Fetches a one-file list whose entries are entrySize bytes.
    void listWithEntrySize(uint32_t entrySize)
    {
        answerWith(8, {0x00, 0x01});
        answerWith(8, chunk(entrySize, 1, 1));
        ASSERT_EQ(fs.getFileList(window), kOk);
        ASSERT_EQ(fs.entrySize(), entrySize);
    }

    PhoneFileSystem fs{channel, log};
    FakeWindow window;
    std::array<uint8_t, 8192> buffer{};
    uint32_t received = 0;
};

TEST_F(FileSystemTest, OpenSendsAttributesAndName)
{
    answerWith(8, {0x00});
    EXPECT_EQ(fs.openFile("ab", 0x00020001), kOk);
    EXPECT_EQ(lastOpcode(), 0x4A);
    EXPECT_EQ(lastRequestData(), be32(0) + be32(0x00020001) + text("ab"));
}

TEST_F(FileSystemTest, OpenFailsOnlyOnTheFailureByte)
{
    answerWith(8, {0x01, 0x02});
    EXPECT_EQ(fs.openFile("a", 0), kOk);
    answerWith(6);
    EXPECT_EQ(fs.openFile("a", 0), kOk);
    answerWith(8, {0x00});
    EXPECT_EQ(fs.openFile("a", 0), kOk);
    answerWith(8, {0x01});
    EXPECT_EQ(fs.openFile("a", 0), kFailed);
    answerWith(7);
    EXPECT_EQ(fs.openFile("a", 0), kFailed);
}

TEST_F(FileSystemTest, NameBoundsFollowTheLastListsEntrySize)
{
    EXPECT_EQ(fs.openFile("", 0), kFailed);
    EXPECT_EQ(fs.deleteFile(""), kFailed);
    EXPECT_TRUE(requestsSent().empty());
    // No list yet: any non-empty name goes, up to what a request carries.
    answerWith(8, {0x00});
    EXPECT_EQ(fs.openFile(std::string(300, 'n'), 0), kOk);
    EXPECT_EQ(fs.openFile(std::string(4071, 'n'), 0), kFailed);

    for (uint32_t entrySize : {268u, 44u}) {
        listWithEntrySize(entrySize);
        const size_t sent = requestsSent().size();
        answerWith(8, {0x00});
        answerWith(6);
        EXPECT_EQ(fs.openFile(std::string(entrySize - 8, 'n'), 0), kOk);
        EXPECT_EQ(fs.deleteFile(std::string(entrySize - 8, 'n')), kOk);
        EXPECT_EQ(requestsSent().size(), sent + 2);
        EXPECT_EQ(fs.openFile(std::string(entrySize - 7, 'n'), 0), kFailed);
        EXPECT_EQ(fs.deleteFile(std::string(entrySize - 7, 'n')), kFailed);
        EXPECT_EQ(requestsSent().size(), sent + 2);
    }
}

struct ReadCase {
    const char* name;
    uint32_t size;
    std::vector<uint32_t> answers; // bytes per answer
    std::vector<uint32_t> asked;   // bytes per request
    int result;
};

const ReadCase kReads[] = {
    {"TwoBlocksAndARest", 2 * 1024 + 452, {1024, 1024, 452}, {1024, 1024, 452}, kOk},
    {"ExactBlocksEndWithZeroRequest", 2 * 1024, {1024, 1024, 0}, {1024, 1024, 0}, kOk},
    {"SmallFile", 300, {300}, {300}, kOk},
    {"OneByteFileCannotBeRead", 1, {1}, {1}, kFailed},
    // A last request for one byte would be answered by a lone byte, read as a status.
    {"BlockPlusOneEndsWith1023And2", 1025, {1023, 2}, {1023, 2}, kOk},
    {"BlocksPlusOneEndWith1023And2", 3 * 1024 + 1, {1024, 1024, 1023, 2}, {1024, 1024, 1023, 2}, kOk},
    {"BlockPlusTwoIsPlain", 1026, {1024, 2}, {1024, 2}, kOk},
    {"ShortAnswerEndsTheRead", 3000, {1024, 500}, {1024, 1024}, kOk},
};

class FileSystemReadTest : public FileSystemTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(FileSystemReadTest, RequestsAndVerdict)
{
    uint8_t value = 0;
    for (uint32_t n : GetParam().answers) {
        Bytes data(n);
        for (auto& b : data)
            b = value++;
        answerWith(8, data);
    }
    EXPECT_EQ(fs.readFile(buffer, GetParam().size, received), GetParam().result);

    std::vector<Bytes> expected;
    for (uint32_t n : GetParam().asked)
        expected.push_back(be32(1) + be32(n));
    EXPECT_EQ(requestsSent(), expected);
    const uint32_t total = std::accumulate(GetParam().answers.begin(), GetParam().answers.end(), 0u);
    EXPECT_EQ(received, total);
    for (uint32_t i = 0; i < total; ++i)
        ASSERT_EQ(buffer[i], static_cast<uint8_t>(i)) << i;
}

INSTANTIATE_TEST_SUITE_P(Reads, FileSystemReadTest, testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, AnswerWithoutDataIsNoNewBlock)
{
    answerWith(8, Bytes(1024, 1));
    answerWith(6);
    EXPECT_EQ(fs.readFile(buffer, 3000, received), kOk);
    EXPECT_EQ(received, 1024u);
    EXPECT_EQ(requestsSent().size(), 2u);
}

TEST_F(FileSystemTest, ReadRefusesMoreThanAskedAndNothingForSizeZero)
{
    EXPECT_EQ(fs.readFile(buffer, 0, received), kFailed);
    EXPECT_TRUE(requestsSent().empty());
    answerWith(8, Bytes(20, 1));
    EXPECT_EQ(fs.readFile(buffer, 10, received), kFailed);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(FileSystemTest, WriteSendsBlocksOfAtMost1024)
{
    Bytes data(1025);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 3);
    answerWith(8, {6});
    answerWith(8, {6});
    EXPECT_EQ(fs.writeFile(data), kOk);
    ASSERT_EQ(requestsSent().size(), 2u);
    EXPECT_EQ(requestsSent()[0], be32(2) + be32(1024) + Bytes(data.begin(), data.begin() + 1024));
    EXPECT_EQ(requestsSent()[1], be32(2) + be32(1) + Bytes{data.back()});
}

TEST_F(FileSystemTest, WriteVerdicts)
{
    const Bytes data(10, 7);
    answerWith(8, {0});
    EXPECT_EQ(fs.writeFile(data), kFailed);
    answerWith(6);
    EXPECT_EQ(fs.writeFile(data), kOk);
    answerWith(8, {0, 0});
    EXPECT_EQ(fs.writeFile(data), kOk);
    answerWith(5);
    EXPECT_EQ(fs.writeFile(data), kFailed);
    EXPECT_EQ(fs.writeFile({}), kFailed);
}

TEST_F(FileSystemTest, SeekCloseDeleteAndByteRequestShareTheirVerdict)
{
    using Call = std::function<int()>;
    const std::vector<std::pair<Call, Bytes>> calls = {
        {[&] { return fs.seekFile(0, 0); }, be32(3) + be32(0) + Bytes{0}},
        {[&] { return fs.closeFile(); }, be32(4)},
        {[&] { return fs.deleteFile("MyToneDB.db"); }, be32(5) + text("MyToneDB.db")},
        {[&] { return fs.sendByteRequest(0x5A); }, be32(6) + Bytes{0x5A}},
    };
    for (const auto& [call, request] : calls) {
        answerWith(6);
        EXPECT_EQ(call(), kOk);
        EXPECT_EQ(lastRequestData(), request);
        answerWith(8, {0});
        EXPECT_EQ(call(), kFailed);
        answerWith(8, {6});
        EXPECT_EQ(call(), kFailed);
        answerWith(8, {1, 0});
        EXPECT_EQ(call(), kFailed);
        answerWith(8, {0, 1});
        EXPECT_EQ(call(), kOk);
        answerWith(8, {});
        EXPECT_EQ(call(), kOk);
    }
}

TEST_F(FileSystemTest, ListFetchStoresChunksAndDrivesTheProgressBar)
{
    answerWith(8, {0x00, 0x05});
    answerWith(8, chunk(268, 2, 2));
    answerWith(8, chunk(268, 3, 3));
    EXPECT_EQ(fs.getFileList(window), kOk);
    EXPECT_EQ(requestsSent(), (std::vector<Bytes>{be32(7), be32(8), be32(8)}));
    EXPECT_EQ(fs.entrySize(), 268u);
    EXPECT_EQ(fs.entryCount(), 5u);
    EXPECT_EQ(fs.listChunks().size(), (4 + 2 * 268) + (4 + 3 * 268u));
    EXPECT_EQ(window.progress, (std::vector<FakeWindow::ProgressStep>{
                                   {"range", 0, 5}, {"position", 0, 0}, {"position", 2, 0}, {"position", 5, 0}}));
    EXPECT_EQ(sink.text(), "");
}

TEST_F(FileSystemTest, EntrySizeIsTheOneTheChunksCountFills)
{
    answerWith(8, {0x00, 0x03});
    answerWith(8, chunk(268, 2, 2));
    answerWith(8, chunk(44, 1, 1));
    EXPECT_EQ(fs.getFileList(window), kOk);
    EXPECT_EQ(fs.entrySize(), 44u);

    // Eleven 268-byte entries are also a whole number (67) of 44-byte ones.
    answerWith(8, {0x00, 0x0B});
    answerWith(8, chunk(268, 11, 11));
    EXPECT_EQ(fs.getFileList(window), kOk);
    EXPECT_EQ(fs.entrySize(), 268u);

    // A count that fills neither size: the length alone decides, 44 first.
    answerWith(8, {0x00, 0x03});
    answerWith(8, chunk(44, 1, 2));
    answerWith(8, chunk(44, 2, 2));
    EXPECT_EQ(fs.getFileList(window), kOk);
    EXPECT_EQ(fs.entrySize(), 44u);
}

struct ListFailureCase {
    const char* name;
    Bytes countAnswer;
    std::vector<Bytes> chunks;
    std::string log;
    uint32_t entrySizeAfter;
};

const ListFailureCase kListFailures[] = {
    {"CountZero", {0x00, 0x00}, {}, "Косяк!! Сбился со счета.. не могу посчитать файлы..", 0},
    {"CountFFFF", {0xFF, 0xFF}, {}, "Косяк!! Сбился со счета.. не могу посчитать файлы..", 0},
    {"CountTooShort", {0x05}, {}, "", 0},
    {"ChunkSizeWrong", {0x00, 0x01}, {Bytes(4 + 45, 0)}, "Косяк!! Размер списка файлов неправильный !\r\n", 0},
    {"ChunkShorterThanItsHeader", {0x00, 0x01}, {Bytes{0x00}}, "Косяк!! Размер списка файлов неправильный !\r\n", 0},
    {"ChunkAnnouncesZeroEntries", {0x00, 0x02}, {chunk(268, 0, 0)}, "Косяк!! Телефон прислал пустой кусок списка!\r\n",
     44},
    {"MoreEntriesThanCounted", {0x00, 0x02}, {chunk(44, 3, 3)},
     "Косяк!! Файлов в списке больше, чем телефон насчитал!\r\n", 44},
    {"ChunkAnnouncesMoreThanItCarries", {0x00, 0x05}, {chunk(268, 4, 2)},
     "Косяк!! Размер списка файлов неправильный !\r\n", 0},
    // Two entries of 268 bytes fit the buffer (2 x 272); a third does not.
    {"ChunkRunsPastTheBuffer", {0x00, 0x02}, {chunk(268, 2, 2) + Bytes(268, 0)}, "CMD: Answer packet invalid!\r\n",
     0},
};

class FileSystemListFailureTest : public FileSystemTest, public testing::WithParamInterface<ListFailureCase> {};

TEST_P(FileSystemListFailureTest, EndsTheFetchWithItsText)
{
    answerWith(8, GetParam().countAnswer);
    for (const Bytes& c : GetParam().chunks)
        answerWith(8, c);
    EXPECT_EQ(fs.getFileList(window), kFailed);
    EXPECT_EQ(sink.text(), GetParam().log);
    EXPECT_EQ(fs.entrySize(), GetParam().entrySizeAfter);
    EXPECT_EQ(fs.entryCount(), 0u);
    EXPECT_TRUE(fs.listChunks().empty());
    EXPECT_EQ(usb->unscripted(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lists, FileSystemListFailureTest, testing::ValuesIn(kListFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, FailedFetchForgetsTheOldList)
{
    listWithEntrySize(268);
    answerWith(7);
    EXPECT_EQ(fs.getFileList(window), kFailed);
    EXPECT_TRUE(fs.listChunks().empty());
    EXPECT_EQ(fs.entrySize(), 268u); // only a wrong chunk size clears it
}

TEST_F(FileSystemTest, VolumeNameIsClearedFilledAndCut)
{
    std::array<uint8_t, 512> name;
    name.fill(0xEE);
    answerWith(8, {0x00, '/', 0x00, 'a', 0x00, 0x00});
    EXPECT_EQ(fs.getVolumeName(name), kOk);
    EXPECT_EQ(lastRequestData(), be32(0x0A));
    EXPECT_EQ(name[1], '/');
    EXPECT_EQ(name[3], 'a');
    EXPECT_EQ(name[6], 0);
    EXPECT_EQ(name[511], 0);

    Bytes longName(700);
    for (size_t i = 0; i < longName.size(); ++i)
        longName[i] = static_cast<uint8_t>(i % 2 ? 'v' : 0);
    answerWith(8, longName);
    EXPECT_EQ(fs.getVolumeName(name), kOk);
    EXPECT_EQ(name[511], 'v');

    answerWith(8, {0x00});
    EXPECT_EQ(fs.getVolumeName(name), kFailed);
    answerWith(8, {0x06, 0x00});
    EXPECT_EQ(fs.getVolumeName(name), kFailed);
    // An answer without data names no volume.
    answerWith(6);
    EXPECT_EQ(fs.getVolumeName(name), kFailed);
    EXPECT_EQ(name[1], 0);
}

TEST_F(FileSystemTest, FreeSpaceSendsTheVolumeNameBack)
{
    std::array<uint8_t, 512> name{};
    for (size_t unit = 0; unit < 200; ++unit)
        name[2 * unit + 1] = 'v';
    answerWith(8, be32(0x06000400));
    EXPECT_EQ(fs.getFreeSpace(name), kOk);
    // A first byte of 6 is just a large count.
    EXPECT_EQ(fs.freeSpace(), 0x06000400u);
    Bytes expected = be32(0x0B);
    for (size_t unit = 0; unit < 128; ++unit)
        expected = expected + Bytes{0, 'v'};
    expected.resize(512, 0);
    EXPECT_EQ(lastRequestData(), expected);

    name.fill(0);
    name[1] = '/';
    answerWith(8, be32(1843200));
    EXPECT_EQ(fs.getFreeSpace(name), kOk);
    EXPECT_EQ(lastRequestData()[5], '/');
    EXPECT_EQ(lastRequestData()[7], 0);
}

TEST_F(FileSystemTest, FreeSpaceFailures)
{
    std::array<uint8_t, 512> name{};
    answerWith(8, be32(1000));
    ASSERT_EQ(fs.getFreeSpace(name), kOk);

    answerWith(8, be32(0));
    EXPECT_EQ(fs.getFreeSpace(name), kFailed);
    EXPECT_EQ(sink.text(), "места больше НЕТУ. вот.\r\n");
    answerWith(8, {0x07});
    EXPECT_EQ(fs.getFreeSpace(name), kFailed);
    answerWith(6);
    EXPECT_EQ(fs.getFreeSpace(name), kFailed);
    answerWith(7);
    EXPECT_EQ(fs.getFreeSpace(name), kFailed);
    EXPECT_EQ(fs.freeSpace(), 0u);
}

} // namespace
} // namespace p2k::test
