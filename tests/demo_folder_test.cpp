#include "sim/demo_folder.h"
#include "sim/demo_phone.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace p2k::sim {
namespace {

namespace fs = std::filesystem;

class DemoFolderTest : public testing::Test {
protected:
    test::TempFolder temp;
    const fs::path folder = temp.path() / "phone"; // not there until the phone is first opened
    FakeClock clock;
    std::string error;
};

TEST_F(DemoFolderTest, FirstUseGetsTheDemoContentAndChangesPersist)
{
    auto phone = openDemoFolder(clock, folder.string(), error);
    ASSERT_NE(phone, nullptr) << error;
    EXPECT_EQ(phone->files().size(), makeDemoPhone(clock)->files().size());
    phone->addFile({toPhoneName("/a/новый.txt"), 0x21, {1, 2, 3}});
    phone->setSeemRecord(0x0123, 4, {9, 8});
    ASSERT_TRUE(saveDemoFolder(*phone, folder.string(), error)) << error;

    auto again = openDemoFolder(clock, folder.string(), error);
    ASSERT_NE(again, nullptr) << error;
    const SimFile* file = again->findFile(toPhoneName("/a/новый.txt"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->attributes, 0x21u);
    EXPECT_EQ(file->content, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_NE(again->seemRecord(0x0123, 4), nullptr);
    EXPECT_EQ(*again->seemRecord(0x0123, 4), (std::vector<uint8_t>{9, 8}));
    EXPECT_EQ(again->files().size(), phone->files().size());
    EXPECT_EQ(again->seemRecordCount(), phone->seemRecordCount());
}

TEST_F(DemoFolderTest, ForeignOrDamagedFoldersAreRefused)
{
    fs::create_directories(folder);
    std::ofstream(folder / "notes.txt") << "mine";
    EXPECT_EQ(openDemoFolder(clock, folder.string(), error), nullptr);
    EXPECT_NE(error.find("not empty"), std::string::npos);
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));

    fs::remove(folder / "notes.txt");
    ASSERT_NE(openDemoFolder(clock, folder.string(), error), nullptr);
    std::ofstream(folder / "p2kfm-demo-phone.txt", std::ios::app) << "file zz 0 00000.bin\n";
    EXPECT_EQ(openDemoFolder(clock, folder.string(), error), nullptr);
    EXPECT_NE(error.find("damaged"), std::string::npos);
}

TEST_F(DemoFolderTest, IndexCannotPointOutsideTheFolder)
{
    ASSERT_NE(openDemoFolder(clock, folder.string(), error), nullptr);
    std::ofstream(folder / "p2kfm-demo-phone.txt", std::ios::app) << "file 41 0 ../../etc/passwd\n";
    EXPECT_EQ(openDemoFolder(clock, folder.string(), error), nullptr);
}

} // namespace
} // namespace p2k::sim
