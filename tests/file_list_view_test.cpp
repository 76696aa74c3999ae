#include "commands/file_list_view.h"
#include "sim/demo_phone.h"
#include "tests/support/phone_world.h"
#include "tests/support/scripted_link.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

using Arrows = std::vector<std::pair<int, int>>;
using Names = std::vector<std::string>;

// The file list view over the simulated phone.
class ListViewTest : public testing::Test, protected PhoneWorld {
protected:
    explicit ListViewTest(sim::PhoneConfig config = {}) : PhoneWorld(config)
    {
        link.attach(phone.open());
    }

    void add(const std::string& name, uint32_t attributes, uint32_t size)
    {
        phone.addFile({name, attributes, std::vector<uint8_t>(size, 0x11)});
    }

    void refresh() { view.refreshFileList(window); }
};

TEST_F(ListViewTest, RowsGoInAtTheTopAndTheLogTellsCountAndVolume)
{
    add("a", 0, 1);
    add("b", 0, 2);
    add("c", 0, 3);
    refresh();
    EXPECT_EQ(list.names(), (Names{"c", "b", "a"}));
    EXPECT_EQ(sink.text(), "Получаю список файлов... ok\r\n"
                           "Найдено файлов:3\r\n"
                           "Информация о носителе:\r\n"
                           "Name: /a\r\n"
                           "Свободного места еще: 1800КБ\r\n");
    EXPECT_TRUE(list.arrows.empty());
}

TEST_F(ListViewTest, FlagsShowInHexAndSizesAsSignedDecimals)
{
    add("both", 0x00020001, 10);
    add("none", 0, 0);
    refresh();
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[1].flags, "20001");
    EXPECT_EQ(list.rows[1].size, "10");
    EXPECT_EQ(list.rows[0].flags, "0");
    EXPECT_EQ(list.rows[0].size, "0");
    EXPECT_EQ(view.lookupFileFlags("both"), 0x00020001u);
    EXPECT_EQ(view.lookupFileSize("both"), 10u);
}

TEST_F(ListViewTest, SortingByNameFlipsFromDescendingAndShowsOneArrow)
{
    add("alpha", 0, 1);
    add("Zeta", 0, 1);
    add(sim::toPhoneName("Яблоко"), 0, 1);
    add("alphabet", 0, 1);
    refresh();

    view.sortByColumn(0);
    EXPECT_EQ(list.names(), (Names{sim::toPhoneName("Яблоко"), "alphabet", "alpha", "Zeta"}));
    EXPECT_EQ(list.arrows, (Arrows{{0, -1}, {0, 1}}));

    view.sortByColumn(0);
    EXPECT_EQ(list.names(), (Names{"Zeta", "alpha", "alphabet", sim::toPhoneName("Яблоко")}));
    EXPECT_EQ(list.arrows.back(), (std::pair{0, 0}));
    EXPECT_EQ(view.sortDirection(), 0);
}

TEST_F(ListViewTest, OtherColumnsSortUnsignedAndKeepTheDirection)
{
    add("big", 0x10000, 10);
    add("small", 1, 3);
    add("mid", 0x100, 7);
    refresh();
    view.sortByColumn(1);
    EXPECT_EQ(list.names(), (Names{"small", "mid", "big"}));
    EXPECT_EQ(list.arrows, (Arrows{{0, -1}, {1, 0}}));
    view.sortByColumn(2);
    EXPECT_EQ(list.names(), (Names{"small", "mid", "big"}));
    EXPECT_EQ(list.arrows.back(), (std::pair{2, 0}));
    view.sortByColumn(2);
    EXPECT_EQ(list.names(), (Names{"big", "mid", "small"}));
    EXPECT_EQ(list.arrows.back(), (std::pair{2, 1}));
}

TEST_F(ListViewTest, LookupsBeforeAnyListAndForUnknownNamesAreNotFound)
{
    add("a", 5, 9);
    EXPECT_EQ(view.lookupFileSize("a"), FileListView::kNotFound);
    EXPECT_EQ(view.lookupFileFlags("a"), FileListView::kNotFound);
    refresh();
    EXPECT_EQ(view.lookupFileSize("a"), 9u);
    EXPECT_EQ(view.lookupFileSize("b"), FileListView::kNotFound);
    EXPECT_EQ(view.lookupFileSize("a2"), FileListView::kNotFound);
    EXPECT_EQ(view.lookupFileSize(""), FileListView::kNotFound);
}

TEST_F(ListViewTest, AFailedFetchLeavesTheListEmpty)
{
    add("a", 0, 1);
    refresh();
    ASSERT_EQ(list.rows.size(), 1u);
    sink.clear();
    phone.injectFault({sim::Fault::ErrorStatus, 7});
    refresh();
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(sink.text(), "Получаю список файлов...GENERIC FAILURE\r\n"
                           "Блин, чета пошло не так.. не получилось, короче..\r\n");
    EXPECT_EQ(view.lookupFileSize("a"), FileListView::kNotFound);
}

TEST_F(ListViewTest, VolumeInfoFailures)
{
    phone.injectFault({sim::Fault::ErrorStatus, 7});
    view.showVolumeInfo();
    EXPECT_EQ(sink.text(), "Информация о носителе:\r\nGENERIC FAILURE\r\nКосяк! Не могу определить имя носителя!\r\n");
}

TEST_F(ListViewTest, DemoPhoneListsEveryFileWithRussianNamesIntact)
{
    auto demoPhone = sim::makeDemoPhone(clock);
    link.attach(demoPhone->open());
    refresh();
    EXPECT_EQ(list.rows.size(), demoPhone->files().size());
    EXPECT_NE(view.lookupFileSize(sim::toPhoneName("/a/mobile/audio/Мелодия.mid")), FileListView::kNotFound);
    EXPECT_EQ(view.lookupFileSize("/a/mobile/picture/Thumb.bmp"), 1024u);
    EXPECT_NE(sink.text().find("Найдено файлов:33\r\n"), std::string::npos);
}

struct SpaceCase {
    uint32_t freeSpace;
    const char* line;
};

void PrintTo(const SpaceCase& c, std::ostream* out)
{
    *out << c.freeSpace << " bytes free";
}

sim::PhoneConfig withFreeSpace(uint32_t freeSpace)
{
    sim::PhoneConfig config;
    config.freeSpace = freeSpace;
    return config;
}

class ListViewSpaceTest : public ListViewTest, public testing::WithParamInterface<SpaceCase> {
protected:
    ListViewSpaceTest() : ListViewTest(withFreeSpace(GetParam().freeSpace)) {}
};

TEST_P(ListViewSpaceTest, FreeSpaceIsShownInWholeKilobytes)
{
    view.showVolumeInfo();
    EXPECT_EQ(sink.text(), std::string("Информация о носителе:\r\nName: /a\r\n") + GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Spaces, ListViewSpaceTest,
                         testing::Values(SpaceCase{1023, "Свободного места еще: 0КБ\r\n"},
                                         SpaceCase{1024, "Свободного места еще: 1КБ\r\n"},
                                         SpaceCase{0, "места больше НЕТУ. вот.\r\n"
                                                      "Косяк! Не могу определить размер носителя!\r\n\r\n"}),
                         [](const auto& info) { return "Free" + std::to_string(info.param.freeSpace); });

// Lists crafted byte by byte, for what a simulated phone would not send.
class CraftedListTest : public testing::Test, protected ScriptedLink {
protected:
    static Bytes entry(std::string_view name, uint16_t low, uint16_t high, uint32_t size, size_t entrySize = 268)
    {
        Bytes e(entrySize, 0);
        std::copy(name.begin(), name.end(), e.begin());
        const size_t n = entrySize - 8;
        e[n] = static_cast<uint8_t>(low >> 8);
        e[n + 1] = static_cast<uint8_t>(low);
        e[n + 2] = static_cast<uint8_t>(high >> 8);
        e[n + 3] = static_cast<uint8_t>(high);
        for (int i = 0; i < 4; ++i)
            e[n + 4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
        return e;
    }

    static Bytes chunkOf(const std::vector<Bytes>& entries)
    {
        Bytes c = {0, static_cast<uint8_t>(entries.size()), 0, 0};
        for (const Bytes& e : entries)
            c.insert(c.end(), e.begin(), e.end());
        return c;
    }

    void listOf(const std::vector<std::vector<Bytes>>& chunks)
    {
        size_t count = 0;
        for (const auto& c : chunks)
            count += c.size();
        answerWith(8, {0, static_cast<uint8_t>(count)});
        for (const auto& c : chunks)
            answerWith(8, chunkOf(c));
        answerWith(8, {0x00, 'v', 0x04, 0x41, 0x00, 'w', 0x01, 0x00, 0x00, 'x', 0x00, 0x00});
        answerWith(8, {0x00, 0x00, 0x10, 0x00});
        view.refreshFileList(window);
    }

    PhoneFileSystem fileSystem{channel, log};
    FakeList list;
    FakeWindow window;
    FileListView view{fileSystem, log, list};
};

TEST_F(CraftedListTest, FirstListedOfTwoEqualNamesWinsAcrossChunks)
{
    listOf({{entry("dup", 1, 0, 100)}, {entry("other", 0, 0, 5), entry("dup", 2, 0, 200)}});
    EXPECT_EQ(list.names(), (Names{"dup", "other", "dup"}));
    EXPECT_EQ(view.lookupFileSize("dup"), 100u);
    EXPECT_EQ(view.lookupFileFlags("dup"), 1u);
}

TEST_F(CraftedListTest, VolumeUnitsGiveTheirLowBytesUntilAZeroLowByte)
{
    listOf({{entry("a", 0, 0, 1)}});
    // Units 'v', 0x0441 ('A'), 'w', then 0x0100 ends the name.
    EXPECT_NE(sink.text().find("Name: vAw\r\n"), std::string::npos) << sink.text();
    EXPECT_NE(sink.text().find("Свободного места еще: 4КБ\r\n"), std::string::npos);
    // The free-space request sends the units back as received.
    const Bytes request = requestsSent().back();
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 12),
              (Bytes{0x00, 'v', 0x04, 0x41, 0x00, 'w', 0x01, 0x00}));
}

TEST_F(CraftedListTest, NamesFillingTheFieldAndNegativeSizes)
{
    const std::string full(260, 'f');
    listOf({{entry(full, 0, 0, 0x80000000u), entry("small", 0, 0, 7)}});
    EXPECT_EQ(list.rows[1].name, full);
    EXPECT_EQ(list.rows[1].size, "-2147483648");
    EXPECT_EQ(view.lookupFileSize(full + "tail"), 0x80000000u);
    EXPECT_EQ(view.lookupFileSize(full.substr(1)), FileListView::kNotFound);
    view.sortByColumn(2);
    EXPECT_EQ(list.names(), (Names{"small", full}));
}

TEST_F(CraftedListTest, FortyFourByteEntries)
{
    const std::string full(36, 'q');
    listOf({{entry(full, 3, 0, 44, 44), entry("x", 0, 1, 2, 44)}});
    EXPECT_EQ(list.names(), (Names{"x", full}));
    EXPECT_EQ(list.rows[0].flags, "10000");
    EXPECT_EQ(view.lookupFileSize(full), 44u);
}

// The last chunk's 44-byte entries set the size the whole list is walked
// with, so the 268-byte chunk before it is read out of step: its bytes
// announce 256 more entries. The walk still stops at the counted three.
TEST_F(CraftedListTest, ChunksOfTwoEntrySizesShowNoMoreRowsThanCounted)
{
    listOf({{entry("a", 0x0100, 0, 1), entry("b", 0, 0, 2)}, {entry("c", 0, 0, 3, 44)}});
    EXPECT_EQ(list.rows.size(), 3u);
    EXPECT_NE(sink.text().find("Найдено файлов:3\r\n"), std::string::npos) << sink.text();
}

} // namespace
} // namespace p2k::test
