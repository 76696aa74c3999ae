// The demo phone's content: what demos, the command-line tool and the README
// count on.

#include "sim/demo_phone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace p2k::sim {
namespace {

using Bytes = std::vector<uint8_t>;

class SimDemoPhoneTest : public ::testing::Test {
protected:
    FakeClock clock;
    std::unique_ptr<SimulatedPhone> phone = makeDemoPhone(clock);
    std::vector<SimFile> files = phone->files();

    size_t countFiles(const std::function<bool(const SimFile&)>& test) const
    {
        return static_cast<size_t>(std::count_if(files.begin(), files.end(), test));
    }
};

TEST_F(SimDemoPhoneTest, SimConfiguration)
{
    EXPECT_EQ(phone->config().entrySize, 268u);
    EXPECT_EQ(phone->config().entriesPerChunk, 8);
    EXPECT_EQ(phone->config().volumeName, u"/a");
    EXPECT_EQ(phone->freeSpace(), 1843200u);
    EXPECT_FALSE(phone->modemMode());
    EXPECT_NE(phone->open(), nullptr);
}

TEST_F(SimDemoPhoneTest, SimFiles)
{
    EXPECT_EQ(files.size(), 33u);
    ASSERT_NE(phone->findFile("MyToneDB.db"), nullptr);
    const std::string melody{"/a/mobile/audio/\xCC\xE5\xEB\xEE\xE4\xE8\xFF.mid"};
    ASSERT_NE(phone->findFile(melody), nullptr);
    EXPECT_EQ(toPhoneName("/a/mobile/audio/Мелодия.mid"), melody);
    EXPECT_EQ(countFiles([](const SimFile& f) { return f.content.size() == 1024; }), 1u);
    EXPECT_EQ(countFiles([](const SimFile& f) { return f.content.empty(); }), 1u);
    EXPECT_EQ(countFiles([](const SimFile& f) { return f.name.size() > 260; }), 0u);
    EXPECT_EQ(countFiles([](const SimFile& f) { return f.content.size() > 61440; }), 0u);

    size_t total = 0;
    for (const SimFile& f : files)
        total += f.content.size();
    EXPECT_LT(total, 1024u * 1024u);
}

TEST_F(SimDemoPhoneTest, SimContentIsDeterministicAndLooksThePart)
{
    FakeClock otherClock;
    const std::vector<SimFile> again = makeDemoPhone(otherClock)->files();
    ASSERT_EQ(again.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(again[i].name, files[i].name);
        EXPECT_EQ(again[i].attributes, files[i].attributes);
        EXPECT_EQ(again[i].content, files[i].content);
    }
    const Bytes& midi = phone->findFile("/a/mobile/audio/Ring01.mid")->content;
    EXPECT_EQ(Bytes(midi.begin(), midi.begin() + 4), (Bytes{'M', 'T', 'h', 'd'}));
    const Bytes& jpeg = phone->findFile("/a/mobile/picture/Wallpaper.jpg")->content;
    EXPECT_EQ(Bytes(jpeg.begin(), jpeg.begin() + 3), (Bytes{0xFF, 0xD8, 0xFF}));
}

TEST_F(SimDemoPhoneTest, SimProfilesRecord)
{
    const Bytes* profiles = phone->seemRecord(0x004C, 1);
    ASSERT_NE(profiles, nullptr);
    ASSERT_EQ(profiles->size(), 60u);
    EXPECT_EQ(Bytes(profiles->begin(), profiles->begin() + 11),
              (Bytes{0x01, 0x01, 0x00, 0x05, 0x03, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x00}));
    for (size_t group = 0; group < 5; ++group)
        EXPECT_NE((*profiles)[group * 11 + 1], 0x02) << "the ringtone update must change something";
}

TEST_F(SimDemoPhoneTest, SimSeemRecords)
{
    EXPECT_EQ(phone->seemRecordCount(), 262u);
    EXPECT_EQ(phone->seemNumbers(), (std::vector<uint16_t>{0x0004, 0x0032, 0x004C, 0x0105, 0x0207, 0x02A0, 0x0300}));
    for (uint16_t record = 1; record <= 3; ++record)
        EXPECT_NE(phone->seemRecord(0x0032, record), nullptr);
    EXPECT_EQ(phone->seemRecord(0x0032, 4), nullptr);
    EXPECT_NE(phone->seemRecord(0x0105, 129), nullptr);
}

TEST(SimDemoPhone, SimDescription)
{
    EXPECT_EQ(describeDemoPhone(),
              "Demo phone: 33 files (" + std::to_string([] {
                  FakeClock clock;
                  size_t total = 0;
                  for (const SimFile& f : makeDemoPhone(clock)->files())
                      total += f.content.size();
                  return total;
              }()) + " bytes, among them MyToneDB.db and names in Russian) on volume /a, 1843200 bytes free; "
                     "262 SEEM records in SEEMs 0004, 0032, 004c, 0105, 0207, 02a0, 0300; "
                     "profiles: SEEM 004c record 0001, 60 bytes.");
}

TEST(SimDemoPhone, SimPhoneNamesInWindows1251)
{
    EXPECT_EQ(toPhoneName("Фото ёЁ"), "\xD4\xEE\xF2\xEE \xB8\xA8");
    EXPECT_EQ(toPhoneName("a€b"), "a?b");
}

} // namespace
} // namespace p2k::sim
