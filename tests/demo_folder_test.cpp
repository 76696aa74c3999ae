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

std::string textOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The index with its header line followed by another line.
void writeIndexWith(const fs::path& index, const std::string& line)
{
    std::string text = textOf(index);
    text.insert(text.find('\n') + 1, line + "\n");
    std::ofstream(index, std::ios::binary | std::ios::trunc) << text;
}

TEST_F(DemoFolderTest, HeaderMayNameTheCommandInterfaceAndASaveKeepsIt)
{
    const fs::path index = folder / "p2kfm-demo-phone.txt";
    ASSERT_NE(openDemoFolder(clock, folder.string(), error), nullptr) << error;
    EXPECT_EQ(textOf(index).find("interface"), std::string::npos); // the usual phone names none
    writeIndexWith(index, "interface 11");

    auto phone = openDemoFolder(clock, folder.string(), error);
    ASSERT_NE(phone, nullptr) << error;
    EXPECT_EQ(phone->config().commandInterface, 11);
    EXPECT_EQ(phone->open()->interfaceNumber(), 11);
    EXPECT_EQ(phone->files().size(), makeDemoPhone(clock)->files().size());

    ASSERT_TRUE(saveDemoFolder(*phone, folder.string(), error)) << error;
    EXPECT_EQ(textOf(index).rfind("p2kfm demo phone 1\ninterface 11\nfree ", 0), 0u) << textOf(index);
    auto again = openDemoFolder(clock, folder.string(), error);
    ASSERT_NE(again, nullptr) << error;
    EXPECT_EQ(again->config().commandInterface, 11);
}

TEST_F(DemoFolderTest, InterfaceNumberOutsideAByteOrNotDecimalIsADamagedLine)
{
    const fs::path index = folder / "p2kfm-demo-phone.txt";
    ASSERT_NE(openDemoFolder(clock, folder.string(), error), nullptr) << error;
    const std::string usual = textOf(index);
    for (const std::string bad : {"interface 256", "interface 0b", "interface -1", "interface", "interface 1x"}) {
        std::ofstream(index, std::ios::binary | std::ios::trunc) << usual;
        writeIndexWith(index, bad);
        error.clear();
        EXPECT_EQ(openDemoFolder(clock, folder.string(), error), nullptr) << bad;
        EXPECT_EQ(error, "damaged line in " + index.string() + ": " + bad);
    }
}

} // namespace
} // namespace p2k::sim
